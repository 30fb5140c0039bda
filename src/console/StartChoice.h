#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What the command line chose for this run: a port number, a device to link to the port in force,
// RS-485 mode (on for this run whatever the stored choice).
struct TStartChoice {
  std::optional<std::int32_t> Port;
  std::optional<std::string> Device;
  bool Rs485 = false;
};
