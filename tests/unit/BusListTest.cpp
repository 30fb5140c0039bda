#include "BusAddresses.h"
#include "BusList.h"
#include "BusListFile.h"
#include "OzmCommands.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

using namespace std::chrono_literals;

TEST(BusAddresses, ListsAndRangesAsTheOperatorTypesThem)
{
  const struct {
    const char* Text;
    std::vector<std::uint8_t> Addresses; // empty: refused
    const char* Says;
  } cases[] = {
      {"5", {5}, ""},
      {"1,2,5", {1, 2, 5}, ""},
      {"1-4,9", {1, 2, 3, 4, 9}, ""},
      {"$0A,3-3,10", {10, 3}, ""}, // each address once, in the order first given
      {"1,$01,0x01,2", {1, 2}, ""}, // one controller written three ways
      {"250-254", {250, 251, 252, 253, 254}, ""},
      {"253-255", {}, "no range of addresses"},
      {"4-1", {}, "no range of addresses"},
      {"1,,2", {}, "empty item"},
      {"1,", {}, "empty item"},
      {"", {}, "empty item"},
      {"255", {}, "\"255\" is no address"},
      {"x", {}, "\"x\" is no address"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    if (!c.Addresses.empty()) {
      EXPECT_EQ(TBusAddresses::Parse(c.Text), c.Addresses);
      EXPECT_EQ(TBusAddresses::Items(c.Text).size(), c.Addresses.size()) << "each controller driven once";
      continue;
    }
    try {
      TBusAddresses::Parse(c.Text);
      ADD_FAILURE() << "accepted";
    } catch (const std::invalid_argument& error) {
      EXPECT_NE(std::string(error.what()).find(c.Says), std::string::npos) << error.what();
    }
  }
}

TFrame Status(std::uint8_t status, std::uint8_t count, std::uint8_t rps)
{
  TFrame frame{0xE6, status, count, rps, 0};
  frame[4] = TOzmCommands::Crc8(std::span(frame).first(4));
  return frame;
}

// A row decodes as the panel does; a damaged answer keeps what it shows; silence greys it with the
// last speed known.
TEST(BusController, ShowsWhatEachControllerSaid)
{
  TBusController controller(7, "left\tbelt");
  EXPECT_EQ(controller.Label(), "left belt");
  EXPECT_FALSE(controller.Known());
  EXPECT_EQ(controller.Texts().Speed, "Current speed: unknown");

  controller.Answered(Status(0x80 | 0x10, 3, 17), 2.0, std::chrono::system_clock::now());
  EXPECT_TRUE(controller.Known());
  EXPECT_EQ(controller.Texts().Speed, "Current speed 510.00 rpm");
  EXPECT_EQ(controller.Texts().MotorRevs, "Motor revolutions counter: -3 rev");
  EXPECT_EQ(controller.Texts().Backward, true);

  TFrame damaged = Status(0x80, 3, 40);
  damaged[4] ^= 1;
  controller.Answered(damaged, 2.0, std::chrono::system_clock::now());
  controller.Damaged();
  EXPECT_EQ(controller.Texts().Speed, "Current speed 510.00 rpm");
  controller.Missing();
  EXPECT_FALSE(controller.Known());
  EXPECT_NE(controller.Texts().Speed.find("unknown (last 510 rpm at "), std::string::npos);
  EXPECT_EQ(controller.Answers(), 2u);
  EXPECT_EQ(controller.ChecksumFailures(), 2u);
  EXPECT_EQ(controller.AnswersMissing(), 1u);
}

// A list written on another system or by hand: line ends and blanks do not hide a controller, and each line
// that names none is said with its number.
TEST(BusList, ReadsWhatAnyEditorWrites)
{
  const struct {
    const char* Text;
    std::vector<std::uint8_t> Addresses;
    std::vector<std::string> Skipped;
  } cases[] = {
      {"1\r\n2\tleft belt\r\n", {1, 2}, {}},
      {"3  \n\t\n4\tpress \t\r\n", {3, 4}, {}},
      {"# bench 2\n\n$05\n", {5}, {}},
      {"oops\n7\n300\tbig\n", {7}, {"line 1: \"oops\" is no address", "line 3: \"300\" is no address"}},
      {"", {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    const TBusList list = TBusList::FromText(c.Text);
    EXPECT_EQ(list.Addresses(), c.Addresses);
    EXPECT_EQ(list.Skipped(), c.Skipped);
  }
  EXPECT_EQ(TBusList::FromText("2\tleft belt\r\n").Controllers().front().Label(), "left belt");
  EXPECT_EQ(TBusList::FromText("2\tleft\x1b[31m\x7f\n").Controllers().front().Label(), "left [31m ");
}

// The list survives its file, whoever names the line: the device itself or a link to it; hand
// edits that are no controller are skipped.
TEST(BusListFile, KeepsTheListPerLine)
{
  TTempDir data;
  const std::string device = data.Path() + "/ttyFake";
  std::ofstream(device) << "";
  std::filesystem::create_symlink(device, data.Path() + "/COM3");
  TBusList list;
  ASSERT_TRUE(list.Add(9, "press"));
  ASSERT_TRUE(list.Add(1));
  ASSERT_FALSE(list.Add(9, "again"));
  ASSERT_EQ(TBusListFile(data.Path(), data.Path() + "/COM3").Save(list), std::nullopt);

  TBusList loaded = TBusListFile(data.Path(), device).Load();
  EXPECT_EQ(loaded.Addresses(), (std::vector<std::uint8_t>{9, 1}));
  EXPECT_EQ(loaded.Find(9)->Label(), "press");
  EXPECT_TRUE(TBusListFile(data.Path(), "tcp://bench:4001").Load().Empty()) << "another line keeps its own";

  std::ofstream(TBusListFile(data.Path(), device).Path(), std::ios::app) << "oops\n300\tbig\n$0C\ttwelve\n";
  EXPECT_EQ(TBusListFile(data.Path(), device).Load().Addresses(), (std::vector<std::uint8_t>{9, 1, 12}));
  EXPECT_TRUE(loaded.Remove(9));
  EXPECT_FALSE(loaded.Remove(9));
}

} // namespace
