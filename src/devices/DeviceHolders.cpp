#include "devices/DeviceHolders.h"

#include "devices/OpenFailure.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Processes come and go meanwhile, so every step takes an error code instead of throwing.
template <class TVisit>
void EachDescriptor(TVisit visit)
{
  const std::string self = std::to_string(::getpid());
  std::error_code error;
  for (fs::directory_iterator process("/proc", error), end; !error && process != end; process.increment(error)) {
    const std::string pid = process->path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
      continue;
    std::error_code closed;
    for (fs::directory_iterator fd(process->path() / "fd", closed); !closed && fd != end; fd.increment(closed))
      visit(std::stoi(pid), fd->path());
  }
}

// The number of the pseudo-terminal whose master a descriptor holds, -1 for any other.
int MasterIndex(const fs::path& fd)
{
  std::error_code error;
  const std::string target = fs::read_symlink(fd, error).string();
  if (error || (target != "/dev/ptmx" && target != "/dev/pts/ptmx"))
    return -1;
  std::ifstream info(fd.parent_path().parent_path() / "fdinfo" / fd.filename());
  for (std::string line; std::getline(info, line);)
    if (line.starts_with("tty-index:"))
      return std::stoi(line.substr(10));
  return -1;
}

// The number of the pseudo-terminal a slave device is, -1 for any other device.
int SlaveIndex(const struct stat& device)
{
  constexpr unsigned FirstPtyMajor = 136, LastPtyMajor = 143; // the Unix98 slaves
  const unsigned major = ::major(device.st_rdev);
  if (!S_ISCHR(device.st_mode) || major < FirstPtyMajor || major > LastPtyMajor)
    return -1;
  return static_cast<int>((major - FirstPtyMajor) * 256 + ::minor(device.st_rdev));
}

} // namespace

std::vector<int> TDeviceHolders::Of(const std::string& path)
{
  struct stat device {};
  std::vector<int> pids;
  if (::stat(path.c_str(), &device) != 0)
    return pids;
  EachDescriptor([&](int pid, const fs::path& fd) {
    struct stat held {};
    if ((pids.empty() || pids.back() != pid) && ::stat(fd.c_str(), &held) == 0 && held.st_dev == device.st_dev &&
        held.st_ino == device.st_ino)
      pids.push_back(pid);
  });
  return pids;
}

std::vector<std::string> TDeviceHolders::Sharing(const std::string& path)
{
  struct stat device {};
  std::vector<std::string> sharing;
  if (::stat(path.c_str(), &device) != 0)
    return sharing;
  const int index = SlaveIndex(device);
  std::vector<int> farEnds;
  if (index >= 0)
    EachDescriptor([&](int pid, const fs::path& fd) {
      if (MasterIndex(fd) == index)
        farEnds.push_back(pid);
    });
  for (const int pid : Of(path))
    if (std::find(farEnds.begin(), farEnds.end(), pid) == farEnds.end())
      sharing.push_back(TOpenFailure::ProcessName(pid));
  return sharing;
}
