#pragma once

#include <string>
#include <vector>

// The other processes that have a serial device open, as far as /proc lets us look. The device is
// told by its identity (st_dev, st_ino), not by its path, so a pseudo-terminal of the same number
// in another mount namespace, or a node reached by another path, is not taken for it.
class TDeviceHolders {
public:
  // The pids of every process but this one with a descriptor of the device.
  static std::vector<int> Of(const std::string& path);
  // "socat (pid 812)" for each process that shares the line with us and may read the controller's
  // answers first. The far end of a pseudo-terminal (the process that holds its master side: a
  // simulator, an emulator) is the line's other end, not a sharer.
  static std::vector<std::string> Sharing(const std::string& path);
};
