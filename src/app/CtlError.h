#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

// Why ozmetctl ends early, with the exit status that tells a script what went wrong.
class TCtlError : public std::runtime_error {
public:
  static constexpr int NoAnswer = 1; // no answer, a bad checksum, or the line failed
  static constexpr int Failed = 1;   // a controller failed its test, or the test's record is incomplete
  static constexpr int Usage = 2;    // the command line, a script's line or a file was refused
  static constexpr int PortClosed = 3;

  // commandLine: a usage error of the words themselves, which --help answers; false for a value
  // refused for what the line or a file holds.
  TCtlError(int exitStatus, const std::string& message, bool commandLine = true)
      : std::runtime_error(message), ExitStatus(exitStatus), CommandLine(commandLine)
  {
  }
  // What went wrong with one controller: a script reading --json finds it by its address.
  TCtlError(int exitStatus, std::uint8_t address, const std::string& message)
      : std::runtime_error(message), ExitStatus(exitStatus), CommandLine(false), Address(address)
  {
  }

  const int ExitStatus;
  const bool CommandLine;
  const std::optional<std::uint8_t> Address;
};
