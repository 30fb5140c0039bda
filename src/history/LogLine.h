#pragma once

#include "protocol/ConsoleView.h"

#include <cstdint>
#include <string>

// One line of the operation log as it was written: when, in which colour and weight, and its text.
struct TLogLine {
  std::int64_t MsSinceEpoch = 0;
  TLogColour Colour = TLogColour::Blue;
  bool Bold = false;
  std::string Text;
};
