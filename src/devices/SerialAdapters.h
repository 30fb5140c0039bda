#pragma once

#include <string>
#include <string_view>
#include <vector>

// A USB serial adapter as udev knows it. Texts udev does not know are empty.
struct TSerialAdapter {
  std::string Node;    // /dev/ttyUSB0
  std::string ById;    // its /dev/serial/by-id link
  std::string Vendor;  // the maker, as the adapter names itself
  std::string Product;
  std::string Serial;  // the USB serial number
  std::string UsbId;   // vendor:product, e.g. 0403:6001
};

// The USB serial adapters present, read from udev without Qt (ozmetctl has none), and the names an
// operator gives one by: serial:NUMBER (its USB serial number) or by-id:NAME (/dev/serial/by-id/NAME).
// These survive a re-plug, where the ttyUSB number does not.
class TSerialAdapters {
public:
  static constexpr std::string_view SerialPrefix = "serial:";
  static constexpr std::string_view ByIdPrefix = "by-id:";
  static constexpr const char* ByIdFolder = "/dev/serial/by-id";

  enum class TFault {
    None,
    Malformed, // nothing after the prefix, or a by-id name with a folder in it
    Absent,    // no adapter answers to the name; the text names those present
    Ambiguous, // several adapters have that serial number; the text names them
  };
  struct TResolved {
    std::string Path; // the device to open, when Fault is None
    std::string Error;
    TFault Fault = TFault::None;
  };

  // By device name, ttyACM before ttyUSB and ttyUSB2 before ttyUSB10. Empty without udev.
  static std::vector<TSerialAdapter> List(const std::string& byIdFolder = ByIdFolder);

  // A device text as ozmetctl's --device takes it: a serial: or by-id: name is looked up, anything
  // else is a path and stays as it is.
  static TResolved Resolve(std::string_view device, const std::string& byIdFolder = ByIdFolder);
  // The same against the adapters given.
  static TResolved Resolve(std::string_view device, const std::vector<TSerialAdapter>& present,
                           const std::string& byIdFolder = ByIdFolder);
};
