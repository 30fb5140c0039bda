#include "devices/PortLinks.h"

#include "devices/NetworkAddress.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

namespace fs = std::filesystem;

TPortLinks::TPortLinks(std::string dataFolder) : DataFolder(std::move(dataFolder))
{
}

std::string TPortLinks::Assign(std::int32_t n, const std::string& device) const
{
  if (n < 1 || n > 255)
    return "Choose a port number from 1 to 255 before assigning a device.";
  std::string target = device; // a network line's address is kept as it was written
  std::error_code error;
  if (TNetworkAddress::IsUrl(device) && !TNetworkAddress::Parse(device))
    return device + " is no network line: write tcp://HOST:PORT or rfc2217://HOST:PORT.";
  if (!TNetworkAddress::IsUrl(device) && !fs::exists(device, error))
    return "No such device: " + device + ".";
  // A link holding a relative path would be read against the Data folder, not where it was given.
  if (!TNetworkAddress::IsUrl(device))
    target = StableName(fs::absolute(device, error).lexically_normal().string());
  if (error)
    return "Cannot link port " + std::to_string(n) + " to " + device + ": " + error.message() + ".";
  const fs::path link = fs::path(DataFolder) / ("COM" + std::to_string(n));
  // Written beside and renamed over the old link, so the port never names nothing in between.
  const fs::path fresh = link.string() + ".new";
  fs::remove(fresh, error);
  fs::create_symlink(target, fresh, error);
  if (!error)
    fs::rename(fresh, link, error);
  if (error)
    return "Cannot link " + link.string() + " to " + device + ": " + error.message() + ".";
  return {};
}

std::string TPortLinks::Remove(std::int32_t n) const
{
  std::error_code error;
  const fs::path link = fs::path(DataFolder) / ("COM" + std::to_string(n));
  if (fs::is_symlink(fs::symlink_status(link, error)) && !fs::remove(link, error))
    return "Cannot remove " + link.string() + ": " + error.message() + ".";
  return {};
}

std::vector<TPortLink> TPortLinks::List() const
{
  std::vector<TPortLink> links;
  std::error_code error;
  for (fs::directory_iterator entry(DataFolder, error), end; !error && entry != end; entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    std::error_code unreadable;
    if (name.rfind("COM", 0) != 0 || !entry->is_symlink(unreadable))
      continue;
    std::int32_t n = 0;
    const auto parsed = std::from_chars(name.data() + 3, name.data() + name.size(), n);
    if (parsed.ec != std::errc{} || parsed.ptr != name.data() + name.size() || n < 1 || n > 255)
      continue;
    std::error_code gone;
    links.push_back({n, fs::read_symlink(entry->path(), unreadable).string(),
                     fs::exists(DeviceBehind(entry->path().string()), gone)});
  }
  std::sort(links.begin(), links.end(), [](const TPortLink& a, const TPortLink& b) { return a.Port < b.Port; });
  return links;
}

std::string TPortLinks::DeviceBehind(const std::string& path)
{
  fs::path current = path;
  std::error_code error;
  for (int hop = 0; hop < 40 && fs::is_symlink(fs::symlink_status(current, error)); ++hop) {
    const fs::path target = fs::read_symlink(current, error);
    if (error)
      break;
    if (TNetworkAddress::IsUrl(target.string())) // a line at a device server: the link's text is its address
      return target.string();
    current = (target.is_absolute() ? target : current.parent_path() / target).lexically_normal();
  }
  return current.string();
}

std::string TPortLinks::StableName(const std::string& device, const std::string& byIdFolder)
{
  const std::string target = DeviceBehind(device);
  std::error_code error;
  for (fs::directory_iterator entry(byIdFolder, error), end; !error && entry != end; entry.increment(error))
    if (DeviceBehind(entry->path().string()) == target)
      return entry->path().string();
  return device;
}
