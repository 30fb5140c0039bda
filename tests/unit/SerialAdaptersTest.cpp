#include "devices/SerialAdapters.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace {

using TFault = TSerialAdapters::TFault;

// The names ozmetctl's --device takes, against adapters given here and a by-id folder of the test's
// own; the test bed's devices tests run the same through udev.
TEST(SerialAdapters, ResolvesANameOrSaysWhatIsPresent)
{
  TTempDir byId;
  byId.Link("usb-FTDI_A1-if00-port0", "/dev/ttyUSB0");
  TTempDir empty;
  const std::vector<TSerialAdapter> two = {{"/dev/ttyUSB0", "", "FTDI", "FT232R", "A1", "0403:6001"},
                                           {"/dev/ttyUSB1", "", "QinHeng", "USB Serial", "", "1a86:7523"}};
  const std::vector<TSerialAdapter> none;
  const std::vector<TSerialAdapter> twins = {two[0], {"/dev/ttyUSB3", "", "FTDI", "FT232R", "A1", "0403:6001"}};
  const struct {
    std::string Device;
    const std::vector<TSerialAdapter>& Present;
    const std::string& Folder;
    TFault Fault;
    std::string Said; // the path, or the error
  } cases[] = {
      {"/dev/ttyUSB7", none, empty.Path(), TFault::None, "/dev/ttyUSB7"}, // a path is opened as it is
      {"serial:A1", two, empty.Path(), TFault::None, "/dev/ttyUSB0"},
      {"serial:a1", two, empty.Path(), TFault::Absent,
       "no USB serial adapter has the serial number a1; present: /dev/ttyUSB0 (serial A1) and /dev/ttyUSB1 (no "
       "serial number)"},
      {"serial:A1", none, empty.Path(), TFault::Absent,
       "no USB serial adapter has the serial number A1; none is plugged in"},
      {"serial:A1", twins, empty.Path(), TFault::Ambiguous,
       "the serial number A1 is shared by /dev/ttyUSB0 and /dev/ttyUSB3: give the device itself, or by-id:NAME"},
      {"serial:", two, empty.Path(), TFault::Malformed, "serial: needs the adapter's serial number"},
      {"by-id:usb-FTDI_A1-if00-port0", none, byId.Path(), TFault::None, byId.Path() + "/usb-FTDI_A1-if00-port0"},
      {"by-id:usb-FTDI_A1", none, byId.Path(), TFault::Absent,
       "there is no " + byId.Path() + "/usb-FTDI_A1; present: usb-FTDI_A1-if00-port0"},
      {"by-id:x", none, empty.Path(), TFault::Absent,
       "there is no " + empty.Path() + "/x; no adapter has a by-id name"},
      {"by-id:", none, byId.Path(), TFault::Malformed, "by-id: needs a name"},
      {"by-id:..", none, byId.Path(), TFault::Malformed, "\"..\" is not a name in " + byId.Path()},
      {"by-id:../ttyS0", none, byId.Path(), TFault::Malformed, "\"../ttyS0\" is not a name in " + byId.Path()},
  };
  for (const auto& c : cases) {
    const TSerialAdapters::TResolved resolved = TSerialAdapters::Resolve(c.Device, c.Present, c.Folder);
    EXPECT_EQ(resolved.Fault, c.Fault) << c.Device;
    EXPECT_EQ(resolved.Fault == TFault::None ? resolved.Path : resolved.Error, c.Said) << c.Device;
  }
}

} // namespace
