#pragma once

#include "sequence/Sequence.h"

#include <cstddef>
#include <stdexcept>
#include <string>

// Why a sequence file was refused: "eol.yaml:12:7: speed: \"5000\" is outside 0..4000 (rpm)".
class TSequenceError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// A test sequence in YAML (man 5 ozmet-sequence). The whole file is read and every value checked before anything is
// sent: unknown keys, values the window's panels would refuse, impossible limits.
class TSequenceFile {
public:
  // A sequence is a few kilobytes; more than this is refused rather than read (a device, a log).
  static constexpr std::size_t MaxFileBytes = 1024 * 1024;

  // Throws TSequenceError naming the file, line and column, and what is allowed.
  static TSequence Load(const std::string& path);
  // The same for text already read; `path` names it in messages, and a parameter file that it names is looked for
  // beside it.
  static TSequence Parse(const std::string& text, const std::string& path);
};
