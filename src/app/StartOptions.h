#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What the command line of ozmet asks for. Options of our own start with "--"; Qt's own options
// (-platform, -style and the like) start with one dash and are left to Qt.
struct TStartOptions {
  enum class TAction { Run, Help, Version, Refuse };

  static TStartOptions Parse(int argc, const char* const* argv);
  static const char* Usage();

  TAction Action = TAction::Run;
  std::optional<std::int32_t> Port; // this run's port number
  std::optional<std::string> Device; // linked to the port number in force, then opened
  bool Rs485 = false;                // the kernel's RS-485 mode for this run
  std::string Error;                 // why the command line was refused
};
