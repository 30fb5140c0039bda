#pragma once

#include <cstdint>
#include <string>

// The port-number links Data/COM<N>: which device a port number names. A link written here points
// at the device's stable /dev/serial/by-id name where it has one, so a re-plugged adapter is found
// again whatever ttyUSB number it gets.
class TPortLinks {
public:
  explicit TPortLinks(std::string dataFolder);

  // Links port n to the device; "" when done, else why not.
  std::string Assign(std::int32_t n, const std::string& device) const;
  // The stable name of a device: its /dev/serial/by-id link where one leads to it, else the path.
  static std::string StableName(const std::string& device, const std::string& byIdFolder = "/dev/serial/by-id");

private:
  std::string DataFolder;
};
