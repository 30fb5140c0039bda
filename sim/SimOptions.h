#pragma once

#include "SimFaults.h"
#include "SimLineSettings.h"

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// What the command line or a standard-input command asks for.
struct TSimSettings {
  std::vector<std::uint8_t> Addresses{};
  std::map<std::uint8_t, TSimControllerFaults> ControllerFaults{}; // by address, for those given any
  std::string LinkPath{};
  TSimFaults Faults;
  TSimLineSettings Line{};
  bool Verbose = false;
  bool NoInput = false;
  bool Help = false;
  bool Version = false;
  bool ButtonPressed = false;
  std::optional<std::uint8_t> ButtonAddress{}; // none: the first controller waiting for its button
};

// The flags of ozmet-sim and the commands it reads on standard input come from one table, so the help
// lists exactly what is understood, and a fault is named the same way in both.
class TSimOptions {
public:
  struct TParsed {
    TSimSettings Settings;
    std::string Error; // empty when the command line was good
  };

  // The arguments after the program name; without --address there is one controller at address 0.
  static TParsed ParseArguments(std::span<const std::string_view> arguments);
  // Applies one line of standard input to the settings; returns the error message of a bad one.
  static std::optional<std::string> ApplyCommand(std::string_view line, TSimSettings& settings);
  static std::string HelpText();
};
