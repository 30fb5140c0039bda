#pragma once

#include <stdexcept>
#include <string>

// Why ozmetctl ends early, with the exit status that tells a script what went wrong.
class TCtlError : public std::runtime_error {
public:
  static constexpr int NoAnswer = 1; // no answer, a bad checksum, or the line failed
  static constexpr int Usage = 2;    // the command line was refused
  static constexpr int PortClosed = 3;

  TCtlError(int exitStatus, const std::string& message) : std::runtime_error(message), ExitStatus(exitStatus) {}

  const int ExitStatus;
};
