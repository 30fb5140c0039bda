#include "devices/SerialAdapters.h"

#include "devices/PortLinks.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <tuple>

#include <libudev.h>

namespace fs = std::filesystem;

namespace {

struct TUdevFree {
  void operator()(udev* u) const { udev_unref(u); }
  void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
  void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <class T>
using TUdevPtr = std::unique_ptr<T, TUdevFree>;

std::string Text(const char* value)
{
  return value ? value : "";
}

// udev's ID_VENDOR and ID_MODEL carry '_' for blanks; the adapter's own texts are preferred.
std::string Spaced(std::string text)
{
  std::replace(text.begin(), text.end(), '_', ' ');
  return text;
}

std::string FirstOf(const std::string& own, const std::string& fallback)
{
  return own.empty() ? fallback : own;
}

// "ttyUSB10" as ("ttyUSB", 10, ...), so ttyUSB2 sorts before it.
auto SortKey(const std::string& node)
{
  const std::size_t digits = node.find_last_not_of("0123456789") + 1;
  const std::string number = node.substr(digits);
  return std::tuple(node.substr(0, digits), number.size(), number);
}

std::string ByIdOf(const std::string& node, const std::string& byIdFolder)
{
  const std::string stable = TPortLinks::StableName(node, byIdFolder);
  return stable == node ? "" : stable;
}

TSerialAdapter Described(udev_device* tty, udev_device* usb, const std::string& byIdFolder)
{
  const auto property = [&](const char* key) { return Text(udev_device_get_property_value(tty, key)); };
  const auto attribute = [&](const char* key) { return Text(udev_device_get_sysattr_value(usb, key)); };
  TSerialAdapter adapter;
  adapter.Node = Text(udev_device_get_devnode(tty));
  adapter.ById = ByIdOf(adapter.Node, byIdFolder);
  adapter.Vendor = FirstOf(attribute("manufacturer"), Spaced(property("ID_VENDOR")));
  adapter.Product = FirstOf(attribute("product"), Spaced(property("ID_MODEL")));
  adapter.Serial = FirstOf(attribute("serial"), property("ID_SERIAL_SHORT"));
  const std::string vendorId = FirstOf(attribute("idVendor"), property("ID_VENDOR_ID"));
  const std::string productId = FirstOf(attribute("idProduct"), property("ID_MODEL_ID"));
  if (!vendorId.empty() || !productId.empty())
    adapter.UsbId = vendorId + ":" + productId;
  return adapter;
}

std::string Joined(const std::vector<std::string>& items)
{
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i)
    text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
  return text;
}

std::string Named(const TSerialAdapter& adapter)
{
  return adapter.Node + " (" + (adapter.Serial.empty() ? "no serial number" : "serial " + adapter.Serial) + ")";
}

TSerialAdapters::TResolved Failed(TSerialAdapters::TFault fault, std::string error)
{
  return {"", std::move(error), fault};
}

TSerialAdapters::TResolved BySerial(const std::string& serial, const std::vector<TSerialAdapter>& present)
{
  std::vector<const TSerialAdapter*> matches;
  for (const TSerialAdapter& adapter : present)
    if (adapter.Serial == serial)
      matches.push_back(&adapter);
  if (matches.size() == 1)
    return {matches.front()->Node, "", TSerialAdapters::TFault::None};
  std::vector<std::string> names;
  if (matches.size() > 1) {
    // Never a guess: the wrong one of two adapters drives another machine's motors.
    for (const TSerialAdapter* adapter : matches)
      names.push_back(adapter->Node + (adapter->ById.empty() ? "" : " (" + adapter->ById + ")"));
    return Failed(TSerialAdapters::TFault::Ambiguous,
                  "the serial number " + serial + " is shared by " + Joined(names) +
                      ": give the device itself, or by-id:NAME");
  }
  for (const TSerialAdapter& adapter : present)
    names.push_back(Named(adapter));
  return Failed(TSerialAdapters::TFault::Absent,
                "no USB serial adapter has the serial number " + serial +
                    (names.empty() ? "; none is plugged in" : "; present: " + Joined(names)));
}

TSerialAdapters::TResolved ById(const std::string& name, const std::string& byIdFolder)
{
  const fs::path link = fs::path(byIdFolder) / name;
  std::error_code error;
  if (fs::exists(fs::symlink_status(link, error)))
    return {link.string(), "", TSerialAdapters::TFault::None};
  std::vector<std::string> names;
  for (fs::directory_iterator entry(byIdFolder, error), end; !error && entry != end; entry.increment(error))
    names.push_back(entry->path().filename().string());
  std::sort(names.begin(), names.end());
  return Failed(TSerialAdapters::TFault::Absent,
                "there is no " + link.string() +
                    (names.empty() ? "; no adapter has a by-id name" : "; present: " + Joined(names)));
}

} // namespace

std::vector<TSerialAdapter> TSerialAdapters::List(const std::string& byIdFolder)
{
  std::vector<TSerialAdapter> adapters;
  const TUdevPtr<udev> context(udev_new());
  if (!context)
    return adapters;
  const TUdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context.get()));
  if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "tty") < 0 ||
      udev_enumerate_scan_devices(enumerate.get()) < 0)
    return adapters;
  udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get()))
  {
    const TUdevPtr<udev_device> tty(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    // The parent belongs to the tty and goes with it.
    udev_device* usb = tty ? udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb", "usb_device") : nullptr;
    if (usb && udev_device_get_devnode(tty.get()))
      adapters.push_back(Described(tty.get(), usb, byIdFolder));
  }
  std::sort(adapters.begin(), adapters.end(), [](const TSerialAdapter& a, const TSerialAdapter& b) {
    return SortKey(fs::path(a.Node).filename().string()) < SortKey(fs::path(b.Node).filename().string());
  });
  return adapters;
}

TSerialAdapters::TResolved TSerialAdapters::Resolve(std::string_view device, const std::string& byIdFolder)
{
  // Only a serial number needs udev; a path and a by-id name do not.
  return Resolve(device, device.starts_with(SerialPrefix) ? List(byIdFolder) : std::vector<TSerialAdapter>{},
                 byIdFolder);
}

TSerialAdapters::TResolved TSerialAdapters::Resolve(std::string_view device, const std::vector<TSerialAdapter>& present,
                                                    const std::string& byIdFolder)
{
  for (const std::string_view prefix : {SerialPrefix, ByIdPrefix}) {
    if (!device.starts_with(prefix))
      continue;
    const std::string name(device.substr(prefix.size()));
    if (name.empty())
      return Failed(TFault::Malformed, std::string(prefix) + " needs " +
                                           (prefix == SerialPrefix ? "the adapter's serial number" : "a name"));
    if (prefix == SerialPrefix)
      return BySerial(name, present);
    if (name.find('/') != std::string::npos || name == "." || name == "..")
      return Failed(TFault::Malformed, "\"" + name + "\" is not a name in " + byIdFolder);
    return ById(name, byIdFolder);
  }
  return {std::string(device), "", TFault::None};
}
