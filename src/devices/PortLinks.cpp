#include "PortLinks.h"

#include <filesystem>

namespace fs = std::filesystem;

TPortLinks::TPortLinks(std::string dataFolder) : DataFolder(std::move(dataFolder))
{
}

std::string TPortLinks::Assign(std::int32_t n, const std::string& device) const
{
  if (n < 1 || n > 255)
    return "Choose a port number from 1 to 255 before assigning a device.";
  std::error_code error;
  if (!fs::exists(device, error))
    return "No such device: " + device + ".";
  const fs::path link = fs::path(DataFolder) / ("COM" + std::to_string(n));
  // Written beside and renamed over the old link, so the port never names nothing in between.
  const fs::path fresh = link.string() + ".new";
  fs::remove(fresh, error);
  fs::create_symlink(StableName(device), fresh, error);
  if (!error)
    fs::rename(fresh, link, error);
  if (error)
    return "Cannot link " + link.string() + " to " + device + ": " + error.message() + ".";
  return {};
}

std::string TPortLinks::StableName(const std::string& device, const std::string& byIdFolder)
{
  std::error_code error;
  const fs::path target = fs::canonical(device, error);
  if (error)
    return device;
  for (fs::directory_iterator entry(byIdFolder, error), end; !error && entry != end; entry.increment(error)) {
    std::error_code dangling;
    if (fs::canonical(entry->path(), dangling) == target && !dangling)
      return entry->path().string();
  }
  return device;
}
