#pragma once

#include <optional>
#include <string>

// Why a serial device would not open, in words an operator can act on: the adapter is unplugged or
// the link dangles, the user is not in the device's group, another program holds it, or it is no
// serial device at all; for a network line, why the server could not be reached. The errno comes
// from the failed step of the open.
class TOpenFailure {
public:
  // The error of a network line whose host name could not be looked up: no errno says that.
  static constexpr int HostUnknown = -1;

  static std::string Explain(const std::string& path, int error);

  // The group that owns the device the path leads to ("" when it cannot be told).
  static std::string GroupOf(const std::string& path);
  // "name (pid N)" of another process that has the device open, the one holding its lock first ("" when
  // none can be seen). The device is told by its identity (st_dev, st_ino), not by its path.
  static std::string HolderOf(const std::string& path);
  // The process that holds the device's lock, the one that keeps every other open out.
  static std::optional<int> LockHolderOf(const std::string& path);
  // "name (pid N)".
  static std::string ProcessName(int pid);
};
