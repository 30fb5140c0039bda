#include "SimOptions.h"

#include <gtest/gtest.h>

namespace {

TSimOptions::TParsed Parse(std::vector<std::string_view> arguments)
{
  return TSimOptions::ParseArguments(arguments);
}

TEST(SimOptions, ReadsFlagsAndDefaultsToOneControllerAtZero)
{
  EXPECT_EQ(Parse({}).Settings.Addresses, std::vector<std::uint8_t>{0});
  const auto parsed = Parse({"--address", "3", "--address", "0x1f", "--link", "/tmp/x", "--silent", "--corrupt-every",
                             "3", "--drop-byte", "2", "--extra-byte", "4", "--delay", "150", "--hang-up-after", "7",
                             "--corrupt-address", "0x09"});
  ASSERT_EQ(parsed.Error, "");
  EXPECT_EQ(parsed.Settings.Addresses, (std::vector<std::uint8_t>{3, 0x1F}));
  EXPECT_EQ(parsed.Settings.LinkPath, "/tmp/x");
  EXPECT_EQ(parsed.Settings.Faults, (TSimFaults{true, false, 3, 2, 4, 150, 7, 9}));
}

TEST(SimOptions, RefusesBadArgumentsAndCommands)
{
  for (const auto& arguments : std::vector<std::vector<std::string_view>>{
           {"--address", "-1"}, {"--address", "0x"}, {"--address", "1x"}, {"--address"}, {"--delay", "60001"},
           {"--silent", "on"}, {"--button"}, {"address", "1"}, {"--corrupt-address", "255"}})
    EXPECT_NE(Parse(arguments).Error, "") << arguments[0] << " " << (arguments.size() > 1 ? arguments[1] : "");
  for (const char* line : {"bogus", "silent", "silent maybe", "delay soon", "button 255", "button 1 2", "verbose"}) {
    TSimSettings settings;
    EXPECT_NE(TSimOptions::ApplyCommand(line, settings), std::nullopt) << line;
  }
}

TEST(SimOptions, CommandsChangeTheRunningSettings)
{
  struct TCase {
    const char* Line;
    TSimFaults Faults;
    std::optional<std::uint8_t> Button = std::nullopt;
  };
  const TSimFaults start{true, false, 3, 0, 0, 0, 0};
  for (const TCase& c : {TCase{"silent off", {false, false, 3, 0, 0, 0, 0}},
                         TCase{"silent-to-status on", {true, true, 3, 0, 0, 0, 0}},
                         TCase{"  drop-byte\t2 ", {true, false, 3, 2, 0, 0, 0}},
                         TCase{"extra-byte 0x10", {true, false, 3, 0, 16, 0, 0}},
                         TCase{"delay 250", {true, false, 3, 0, 0, 250, 0}},
                         TCase{"hang-up-after 1", {true, false, 3, 0, 0, 0, 1}},
                         TCase{"button 0x0A", start, 10}, TCase{"", start}}) {
    TSimSettings settings{.Faults = start};
    EXPECT_EQ(TSimOptions::ApplyCommand(c.Line, settings), std::nullopt) << c.Line;
    EXPECT_EQ(settings.Faults, c.Faults) << c.Line;
    EXPECT_EQ(settings.ButtonAddress, c.Button) << c.Line;
  }
}

} // namespace
