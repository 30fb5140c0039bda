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
                             "--corrupt-address", "0x09", "--jitter", "5", "--late-once", "A5:120", "--stray-byte",
                             "3"});
  ASSERT_EQ(parsed.Error, "");
  EXPECT_EQ(parsed.Settings.Addresses, (std::vector<std::uint8_t>{3, 0x1F}));
  EXPECT_EQ(parsed.Settings.LinkPath, "/tmp/x");
  EXPECT_EQ(parsed.Settings.Faults, (TSimFaults{true, false, 3, 2, 4, 150, 7, 9, 5, 0xA5, 120, 3}));
}

// The same forms as ozmetctl and the window take, for every option and command that names an address.
TEST(SimOptions, AddressesAreWrittenAsOzmetctlWritesThem)
{
  for (const auto& [text, address] : std::vector<std::pair<std::string_view, std::optional<std::uint8_t>>>{
           {"7", 7}, {"$07", 7}, {"0x07", 7}, {"$fe", 0xFE}, {"254", 254}, {"$FF", std::nullopt},
           {"$", std::nullopt}, {"$-1", std::nullopt}, {"7$", std::nullopt}, {"0b1", std::nullopt}}) {
    const auto parsed = Parse({"--address", text, "--corrupt-address", text});
    EXPECT_EQ(parsed.Error.empty(), address.has_value()) << text << ": " << parsed.Error;
    if (address) {
      EXPECT_EQ(parsed.Settings.Addresses, std::vector<std::uint8_t>{*address}) << text;
      EXPECT_EQ(parsed.Settings.Faults.CorruptAddress, address) << text;
    }
    TSimSettings settings;
    EXPECT_EQ(TSimOptions::ApplyCommand("button " + std::string(text), settings).has_value(), !address) << text;
    EXPECT_EQ(settings.ButtonAddress, address) << text;
  }
}

// The controllers' own line, and how many bits each byte of theirs takes on the wire.
TEST(SimOptions, LineFlagsSetTheControllersFraming)
{
  const struct {
    std::vector<std::string_view> Arguments;
    const char* Text;
    unsigned BitsPerByte;
  } cases[] = {{{}, "9600 8N1", 10},
               {{"--baud", "300"}, "300 8N1", 10},
               {{"--parity", "even"}, "9600 8E1", 11},
               {{"--stop-bits", "2"}, "9600 8N2", 11},
               {{"--data-bits", "7", "--parity", "odd", "--stop-bits", "2"}, "9600 7O2", 11},
               {{"--data-bits", "5", "--parity", "mark"}, "9600 5M1", 8},
               {{"--baud", "0x3840", "--parity", "space"}, "14400 8S1", 11},
               {{"--data-bits", "6", "--parity", "none"}, "9600 6N1", 8}};
  for (const auto& c : cases) {
    const auto parsed = Parse(c.Arguments);
    ASSERT_EQ(parsed.Error, "") << c.Text;
    EXPECT_EQ(parsed.Settings.Line.Text(), c.Text);
    EXPECT_EQ(parsed.Settings.Line.BitsPerByte(), c.BitsPerByte) << c.Text;
  }
  EXPECT_EQ(TSimLineSettings{}.WireTime(5), std::chrono::nanoseconds(5'208'333)) << "5 bytes at 9600 8N1";
  EXPECT_EQ((TSimLineSettings{.Baud = 300, .Parity = TSimParity::Even}.WireTime(1)),
            std::chrono::nanoseconds(36'666'666));
}

// Behaviour of one controller after its address; the line-wide faults stay apart.
TEST(SimOptions, ControllerSettingsFollowTheAddress)
{
  const struct {
    std::string_view Argument;
    std::uint8_t Address;
    std::optional<TSimControllerFaults> Faults; // none: a plain controller
  } cases[] = {{"5", 5, std::nullopt},
               {"5:delay=100", 5, TSimControllerFaults{.DelayMs = 100}},
               {"6:silent", 6, TSimControllerFaults{.Silent = true}},
               {"200:jitter=250", 200, TSimControllerFaults{.JitterMs = 250}},
               {"9:corrupt", 9, TSimControllerFaults{.Corrupt = true}},
               {"3:max-rps=20", 3, TSimControllerFaults{.MaxRps = 20}},
               {"4:slip=0.9", 4, TSimControllerFaults{.Slip = 0.9}},
               {"5:stall-after=2", 5, TSimControllerFaults{.StallAfterS = 2.0}},
               {"$0A:delay=100,jitter=50", 10, TSimControllerFaults{.DelayMs = 100, .JitterMs = 50}},
               {"0x07:slip=1.25,max-rps=0x10,stall-after=0.5,corrupt,silent", 7,
                TSimControllerFaults{true, true, 0, 0, 16, 1.25, 0.5}},
               {"7:max-rps=0,slip=0,stall-after=0", 7, TSimControllerFaults{.MaxRps = 0, .Slip = 0, .StallAfterS = 0}},
               {"7:delay=1,delay=2", 7, TSimControllerFaults{.DelayMs = 2}}};
  for (const auto& c : cases) {
    const auto parsed = Parse({"--delay", "30", "--address", c.Argument, "--address", "1"});
    ASSERT_EQ(parsed.Error, "") << c.Argument;
    EXPECT_EQ(parsed.Settings.Addresses, (std::vector<std::uint8_t>{c.Address, 1})) << c.Argument;
    EXPECT_EQ(parsed.Settings.Faults, TSimFaults{.DelayMs = 30}) << c.Argument;
    using TByAddress = std::map<std::uint8_t, TSimControllerFaults>;
    const TByAddress expected = c.Faults ? TByAddress{{c.Address, *c.Faults}} : TByAddress{};
    EXPECT_EQ(parsed.Settings.ControllerFaults, expected) << c.Argument;
  }
  // The reason names the setting and what it takes.
  EXPECT_EQ(Parse({"--address", "5:delay="}).Error, "empty value in 'delay=': expected delay=MS");
  EXPECT_EQ(Parse({"--address", "5:fast"}).Error,
            "invalid controller setting 'fast' in '5:fast': expected silent, corrupt, delay=MS, jitter=MS, max-rps=N, "
            "slip=F, stall-after=S");
  EXPECT_EQ(Parse({"--address", "5:delay=1,"}).Error,
            "empty controller setting in '5:delay=1,': expected silent, corrupt, delay=MS, jitter=MS, max-rps=N, "
            "slip=F, stall-after=S");
  EXPECT_EQ(Parse({"--address", "5:slip=x"}).Error, "invalid slip 'x': expected 0..10, decimal (0.9)");
}

TEST(SimOptions, RefusesBadArgumentsAndCommands)
{
  for (const auto& arguments : std::vector<std::vector<std::string_view>>{
           {"--address", "-1"}, {"--address", "0x"}, {"--address", "1x"}, {"--address"}, {"--delay", "60001"},
           {"--silent", "on"}, {"--button"}, {"address", "1"}, {"--corrupt-address", "255"}, {"--baud", "49"},
           {"--baud", "4000001"}, {"--baud", "fast"}, {"--data-bits", "4"}, {"--data-bits", "9"},
           {"--data-bits", "78"}, {"--parity", "e"}, {"--parity", "EVEN"}, {"--stop-bits", "1.5"},
           {"--stop-bits", "0"}, {"--jitter", "60001"}, {"--late-once", "A5"}, {"--late-once", "A5:"},
           {"--late-once", ":10"}, {"--late-once", "0x100:5"}, {"--late-once", "256:5"}, {"--late-once", "G1:5"},
           {"--late-once", "1A5:5"}, {"--late-once", "A5:60001"}, {"--stray-byte", "-1"}, {"--address", "5:"},
           {"--address", ":silent"}, {"--address", "255:silent"}, {"--address", "5:bogus"}, {"--address", "5:Silent"},
           {"--address", "5:delay"}, {"--address", "5:delay="}, {"--address", "5:delay=x"},
           {"--address", "5:delay=60001"}, {"--address", "5:silent=1"}, {"--address", "5:corrupt=on"},
           {"--address", "5:delay=1,"}, {"--address", "5:,silent"}, {"--address", "5:delay=1;jitter=2"},
           {"--address", "5:jitter=-1"}, {"--address", "5:max-rps=251"}, {"--address", "5:max-rps=2.5"},
           {"--address", "5:slip=-0.5"}, {"--address", "5:slip=10.5"}, {"--address", "5:slip=1e-1"},
           {"--address", "5:slip=nan"}, {"--address", "5:slip=.9x"}, {"--address", "5:stall-after=3601"},
           {"--address", "5:stall-after=inf"}, {"--address", "5:delay=1:jitter=2"}})
    EXPECT_NE(Parse(arguments).Error, "") << arguments[0] << " " << (arguments.size() > 1 ? arguments[1] : "");
  for (const char* line : {"bogus", "silent", "silent maybe", "delay soon", "button 255", "button 1 2", "verbose",
                           "baud 4800", "jitter", "late-once 51", "late-once 0x50:1:2", "stray-byte x"}) {
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
                         TCase{"jitter 7", {.Silent = true, .CorruptEvery = 3, .JitterMs = 7}},
                         TCase{"late-once 0x50:300",
                               {.Silent = true, .CorruptEvery = 3, .LateOnceCommand = 0x50, .LateOnceMs = 300}},
                         TCase{"late-once a5:0", {.Silent = true, .CorruptEvery = 3, .LateOnceCommand = 0xA5}},
                         TCase{"late-once 51:20",
                               {.Silent = true, .CorruptEvery = 3, .LateOnceCommand = 0x51, .LateOnceMs = 20}},
                         TCase{"late-once 165:20",
                               {.Silent = true, .CorruptEvery = 3, .LateOnceCommand = 0xA5, .LateOnceMs = 20}},
                         TCase{"stray-byte 2", {.Silent = true, .CorruptEvery = 3, .StrayByteAfter = 2}},
                         TCase{"button 0x0A", start, 10}, TCase{"", start}}) {
    TSimSettings settings{.Faults = start};
    EXPECT_EQ(TSimOptions::ApplyCommand(c.Line, settings), std::nullopt) << c.Line;
    EXPECT_EQ(settings.Faults, c.Faults) << c.Line;
    EXPECT_EQ(settings.ButtonAddress, c.Button) << c.Line;
  }
}

} // namespace
