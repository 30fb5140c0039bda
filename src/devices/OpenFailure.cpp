#include "OpenFailure.h"

#include "PortLinks.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A link that leads nowhere: says so with its target, which is what the operator must plug in.
std::string Missing(const std::string& path)
{
  std::error_code error;
  if (fs::is_symlink(fs::symlink_status(path, error)))
    return path + " links to " + fs::read_symlink(path, error).string() +
           ", which is not there: the adapter is unplugged, or the link points at nothing.";
  return "No such device: " + path + ".";
}

// The path, and the device a link leads it to.
std::string Through(const std::string& path)
{
  const std::string target = TPortLinks::DeviceBehind(path);
  return target == path ? path : path + " leads to " + target + ", which";
}

std::string PermissionDenied(const std::string& path)
{
  const std::string group = TOpenFailure::GroupOf(path);
  if (group.empty())
    return "Permission denied on " + path + ".";
  return "Permission denied on " + path + ": it belongs to the group " + group +
         ". Add yourself to it with \"sudo usermod -aG " + group + " $USER\", then log out and in again.";
}

std::string Busy(const std::string& path)
{
  const std::string holder = TOpenFailure::HolderOf(path);
  return path + " is in use by another program" + (holder.empty() ? "" : ": " + holder) + ".";
}

} // namespace

std::string TOpenFailure::Explain(const std::string& path, int error)
{
  if (path.empty())
    return "No port chosen: port 0 names no device.";
  switch (error) {
  case ENOENT:
  case ENODEV:
  case ENXIO: return Missing(path);
  case EACCES:
  case EPERM: return PermissionDenied(path);
  case EBUSY:
  case EWOULDBLOCK: return Busy(path);
  case ENOTTY: return Through(path) + " is not a serial device.";
  default: return "Cannot open " + path + ": " + std::strerror(error) + ".";
  }
}

std::string TOpenFailure::GroupOf(const std::string& path)
{
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    return {};
  std::vector<char> buffer(16384);
  group entry {};
  group* found = nullptr;
  if (::getgrgid_r(info.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return std::to_string(info.st_gid);
  return found->gr_name;
}

std::string TOpenFailure::HolderOf(const std::string& path)
{
  std::error_code error;
  const fs::path device = TPortLinks::DeviceBehind(path);
  const std::string self = std::to_string(::getpid());
  // Only the processes whose descriptors we may read: our own user's, or all of them as root.
  // Processes come and go meanwhile, so every step takes an error code instead of throwing.
  for (fs::directory_iterator process("/proc", error), end; !error && process != end; process.increment(error)) {
    const std::string pid = process->path().filename().string();
    if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
      continue;
    std::error_code closed;
    for (fs::directory_iterator fd(process->path() / "fd", closed); !closed && fd != end; fd.increment(closed)) {
      std::error_code gone;
      if (fs::read_symlink(fd->path(), gone) != device)
        continue;
      std::string name;
      std::getline(std::ifstream(process->path() / "comm"), name);
      return name + " (pid " + pid + ")";
    }
  }
  return {};
}
