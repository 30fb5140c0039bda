#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One link Data/COM<N> and what it names.
struct TPortLink {
  std::int32_t Port = 0;
  std::string Target;   // as the link says
  bool Present = false; // the device it names is there
};

// The port-number links Data/COM<N>: which device a port number names. A link written here points
// at the device's stable /dev/serial/by-id name where it has one, so a re-plugged adapter is found
// again whatever ttyUSB number it gets.
class TPortLinks {
public:
  explicit TPortLinks(std::string dataFolder);

  // Links port n to the device (a relative path taken against the current directory); "" when done,
  // else why not.
  std::string Assign(std::int32_t n, const std::string& device) const;
  // Removes the link of port n; "" when done or when there was none, else why not.
  std::string Remove(std::int32_t n) const;
  // Every COM<N> link with N in 1..255, by port number.
  std::vector<TPortLink> List() const;
  // Where a chain of links ends: the device itself. Never through realpath(), whose replacement in
  // umockdev's test bed corrupts the heap.
  static std::string DeviceBehind(const std::string& path);
  // The stable name of a device: its /dev/serial/by-id link where one leads to it, else the path.
  static std::string StableName(const std::string& device, const std::string& byIdFolder = "/dev/serial/by-id");

private:
  std::string DataFolder;
};
