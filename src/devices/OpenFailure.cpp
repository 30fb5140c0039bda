#include "devices/OpenFailure.h"

#include "devices/DeviceHolders.h"
#include "devices/NetworkAddress.h"
#include "devices/PortLinks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

// A serial device server that could not be reached, as plainly as an unplugged adapter.
std::string Unreachable(const std::string& path, int error)
{
  const std::string target = TPortLinks::DeviceBehind(path);
  const std::string line = target == path ? path : path + " (" + target + ")";
  const auto address = TNetworkAddress::Parse(target);
  if (!address)
    return line + " is no network line: write tcp://HOST:PORT or rfc2217://HOST:PORT.";
  const std::string server = address->Host + ":" + std::to_string(address->Port);
  switch (error) {
  case TOpenFailure::HostUnknown: return line + ": the host " + address->Host + " is unknown.";
  case ECONNREFUSED:
    return line + ": " + server + " refused the connection: no serial device server listens there.";
  case ENETUNREACH:
  case EHOSTUNREACH: return line + ": no route to " + address->Host + ": the network cannot reach it.";
  case ETIMEDOUT: return line + ": " + server + " did not answer within 3 s.";
  case ECONNRESET:
  case EPIPE: return line + ": " + server + " closed the connection.";
  default: return line + ": cannot connect to " + server + ": " + std::strerror(error) + ".";
  }
}

std::string OwnerOf(uid_t uid)
{
  if (uid == 0)
    return "root";
  std::vector<char> buffer(16384);
  passwd entry {};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
    return "its owner (user " + std::to_string(uid) + ")";
  return std::string("its owner ") + found->pw_name;
}

std::string PermissionDenied(const std::string& path)
{
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0)
    return "Permission denied on " + path + ".";
  const std::string group = TOpenFailure::GroupOf(path);
  // Joining the root group, or a group the mode shuts out, would not help: a udev rule gives the
  // device a group that may open it.
  if (info.st_gid == 0 || (info.st_mode & (S_IRGRP | S_IWGRP)) == 0) {
    std::string device = TPortLinks::DeviceBehind(path);
    device = device.rfind("/dev/", 0) == 0 ? device.substr(5) : fs::path(device).filename().string();
    return "Permission denied on " + path + ": only " + OwnerOf(info.st_uid) +
           " can open it. A udev rule can give it the group dialout, for instance in "
           "/etc/udev/rules.d/70-ozmet.rules: SUBSYSTEM==\"tty\", KERNEL==\"" +
           device + "\", GROUP=\"dialout\", MODE=\"0660\"; then add yourself to dialout with "
           "\"sudo usermod -aG dialout $USER\", and log out and in again.";
  }
  return "Permission denied on " + path + ": it belongs to the group " + group +
         ". Add yourself to it with \"sudo usermod -aG " + group + " $USER\", then log out and in again.";
}

std::string Busy(const std::string& path)
{
  const std::string holder = TOpenFailure::HolderOf(path);
  return path + " is in use by another program" + (holder.empty() ? "" : ": " + holder) + ".";
}

// The process that holds a lock on the device, from /proc/locks: its entries name the pid and the
// device as major:minor:inode of the file system ("1: FLOCK  ADVISORY  WRITE 812 00:1a:5 0 EOF").
// The lock holder is the one that keeps others out; other descriptors (a simulator's own end of a
// pty) are not. A pid of 0 is one outside our pid namespace.
std::optional<pid_t> LockHolder(const struct stat& device, pid_t self)
{
  char identity[64];
  std::snprintf(identity, sizeof identity, "%02x:%02x:%lu", ::major(device.st_dev), ::minor(device.st_dev),
                static_cast<unsigned long>(device.st_ino));
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream fields(line);
    std::string number, kind, advisory, access, file;
    long pid = 0;
    if (!(fields >> number >> kind) || kind == "->") // "->" marks a process waiting for the lock
      continue;
    if (fields >> advisory >> access >> pid >> file && file == identity && pid > 0 && pid != self)
      return static_cast<pid_t>(pid);
  }
  return std::nullopt;
}

} // namespace

std::string TOpenFailure::Explain(const std::string& path, int error)
{
  if (path.empty())
    return "No port chosen: port 0 names no device.";
  if (TNetworkAddress::IsUrl(TPortLinks::DeviceBehind(path)))
    return Unreachable(path, error);
  // The name itself cannot be looked at (an unreadable Data folder, a loop): that is the reason,
  // whatever the device behind it would have said.
  struct stat name {};
  if (::lstat(path.c_str(), &name) != 0 && errno != ENOENT)
    return path + " cannot be read: " + std::strerror(errno) + ".";
  switch (error) {
  case ENOENT:
  case ENODEV:
  case ENXIO: return Missing(path);
  case EACCES:
  case EPERM: return PermissionDenied(path);
  case EBUSY:
  case EWOULDBLOCK: return Busy(path);
  case ENOTTY: return Through(path) + " is not a serial device.";
  case EISDIR: return Through(path) + " is a directory, not a serial device.";
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
  // The device by identity, not by name: a pseudo-terminal of the same number in another mount
  // namespace, or a node reached by another path, must not be taken for it.
  struct stat device {};
  if (::stat(path.c_str(), &device) != 0)
    return {};
  const pid_t self = ::getpid();
  if (const std::optional<pid_t> locker = LockHolder(device, self))
    return TOpenFailure::ProcessName(*locker);
  // No lock on it (TIOCEXCL alone): any process with a descriptor of it, as far as we may look.
  const std::vector<int> holders = TDeviceHolders::Of(path);
  return holders.empty() ? "" : ProcessName(holders.front());
}

std::optional<int> TOpenFailure::LockHolderOf(const std::string& path)
{
  struct stat device {};
  if (::stat(path.c_str(), &device) != 0)
    return std::nullopt;
  return LockHolder(device, ::getpid());
}

std::string TOpenFailure::ProcessName(int pid)
{
  std::string name;
  std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/comm"), name);
  return (name.empty() ? "" : name + " ") + "(pid " + std::to_string(pid) + ")";
}
