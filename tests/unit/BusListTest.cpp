#include "bus/BusList.h"
#include "TempDir.h"
#include "bus/BusAddresses.h"
#include "bus/BusListFile.h"
#include "protocol/OzmCommands.h"

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

// The list survives its file; hand edits that are no controller are skipped.
TEST(BusListFile, KeepsTheListAndSkipsHandEditsThatAreNoController)
{
  TTempDir data;
  TBusList list;
  ASSERT_TRUE(list.Add(9, "press"));
  ASSERT_TRUE(list.Add(1));
  ASSERT_FALSE(list.Add(9, "again"));
  const TBusListFile file(data.Path(), data.Path() + "/COM3");
  ASSERT_EQ(file.Save(list), std::nullopt);
  EXPECT_EQ(file.Path(), data.Path() + "/bus/COM3.list");
  TBusList loaded = file.Load();
  EXPECT_EQ(loaded.Addresses(), (std::vector<std::uint8_t>{9, 1}));
  EXPECT_EQ(loaded.Find(9)->Label(), "press");
  std::ofstream(file.Path(), std::ios::app) << "oops\n300\tbig\n$0C\ttwelve\n";
  EXPECT_EQ(file.Load().Addresses(), (std::vector<std::uint8_t>{9, 1, 12}));
  EXPECT_TRUE(loaded.Remove(9));
  EXPECT_FALSE(loaded.Remove(9));
}

// A list is kept by the name the operator gives the line, so a re-plugged adapter or a re-pointed link keeps it;
// another name of the same device reads it too, and the port number's link takes over a list named after its
// device (as lists were named before) once. Each case saves under one name, may re-point the link, loads under
// another name, and says which list it finds.
TEST(BusListFile, KeepsAListPerNameOfTheLine)
{
  const struct {
    const char* Name;
    const char* SavedAs; // "COM3" (the port number's link), "device", or a URL
    bool Repoint;        // COM3 then leads to another device
    const char* LoadedAs;
    bool Found;
    bool TakenOver; // the device's list now has the link's name, and is gone under its own
  } cases[] = {
      {"TheLinkItself", "COM3", false, "COM3", true, false},
      {"LinkRepointedToAnotherDevice", "COM3", true, "COM3", true, false},
      {"DeviceReadsTheLinksList", "COM3", false, "device", true, false},
      {"LinkTakesOverTheDevicesList", "device", false, "COM3", true, true},
      {"RepointedLinkIsAnotherLine", "device", true, "COM3", false, false},
      {"AUrlKeepsItsOwn", "tcp://bench:4001", false, "COM3", false, false},
      {"AUrlAsWritten", "tcp://bench:4001", false, "tcp://bench:4001", true, false},
  };
  for (const auto& c : cases) {
    TTempDir data, devices;
    const std::string device = devices.Path() + "/ttyFake", other = devices.Path() + "/ttyOther";
    std::ofstream(device) << "";
    std::ofstream(other) << "";
    data.Link("COM3", device);
    const auto line = [&](const std::string& name) {
      return name == "COM3" ? data.Path() + "/COM3" : name == "device" ? device : name;
    };
    TBusList list;
    ASSERT_TRUE(list.Add(7, "press"));
    const TBusListFile saved(data.Path(), line(c.SavedAs));
    ASSERT_EQ(saved.Save(list), std::nullopt) << c.Name;
    if (c.Repoint) {
      std::filesystem::remove(data.Path() + "/COM3");
      data.Link("COM3", other);
    }
    const TBusListFile loaded(data.Path(), line(c.LoadedAs));
    EXPECT_EQ(loaded.Load().Addresses(), c.Found ? std::vector<std::uint8_t>{7} : std::vector<std::uint8_t>{})
        << c.Name;
    EXPECT_EQ(std::filesystem::exists(saved.Path()), !c.TakenOver) << c.Name;
    EXPECT_EQ(std::filesystem::exists(loaded.Path()), c.TakenOver || saved.Path() == loaded.Path()) << c.Name;
  }
}

} // namespace
