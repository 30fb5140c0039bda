#include "ProcStatus.h"

#include <cstdlib>
#include <fstream>

long StatusField(const std::string& path, const std::string& key)
{
  std::ifstream status(path);
  for (std::string line; std::getline(status, line);)
    if (line.rfind(key, 0) == 0)
      return std::strtol(line.c_str() + key.size(), nullptr, 10);
  return 0;
}

long ResidentKiB()
{
  return StatusField("/proc/self/status", "VmRSS:");
}
