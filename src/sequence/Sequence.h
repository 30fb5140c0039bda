#pragma once

#include "motor/PanelFields.h"

#include <cstdint>
#include <string>
#include <vector>

// Where a value stands in a sequence file (1-based), so that every message and the record can point at it.
struct TSourcePlace {
  int Line = 0;
  int Column = 0;
};

// One check of a test sequence: what is measured, its limits, and the name the record keeps.
struct TSequenceCheck {
  enum class TKind { Speed, Reach, Standstill, Counter, Feedback, Direction, Missing };

  TKind Kind = TKind::Speed;
  std::string Name;
  TSourcePlace Where;
  double Tolerance = 0; // Speed, Reach: rpm of the output shaft; Counter: revolutions; or % with Percent
  bool Percent = false;
  double Settle = 0;    // Speed, Direction, Feedback: seconds from the hold's start before samples count
  bool Mean = false;    // Speed: the mean of the samples within the tolerance, rather than every sample
  double Within = 0;    // Reach, Standstill: seconds
  std::int32_t Max = 0; // Missing: status answers missing or damaged, at most
};

// One step. Checks belong where they are measured: Reach to a run, Standstill to a stop, the others to a hold (over its
// time) or to the whole sequence (Missing).
struct TSequenceStep {
  // Motor: the motor's settings that every run begins with (step 0), never written in a file.
  enum class TKind { Run, Stop, Reverse, Wait, Hold, Repeat, Motor };

  TKind Kind = TKind::Wait;
  TSourcePlace Where;
  TWorkFields Work;   // Run: speed, acceleration, deceleration and direction, as the operation panel takes them
  double Seconds = 0; // Wait, Hold
  std::vector<TSequenceCheck> Checks;
  std::int32_t Times = 0;           // Repeat
  std::vector<TSequenceStep> Steps; // Repeat
};

// A whole test sequence as read from its file: every value already checked.
struct TSequence {
  std::string Name;
  std::string File;   // the path as given
  std::string Sha256; // of the file's bytes, lower-case hex
  std::vector<std::uint8_t> Addresses;
  TMotorFields Motor; // the motor panel's fields; each controller gets its own address
  std::vector<TSequenceStep> Steps;
  std::vector<TSequenceCheck> Checks; // over the whole run
  std::vector<std::string> Warnings;  // "eol.yaml:7:12: speed: warning: 1000 rpm asked, 960 rpm sent (...)"
};
