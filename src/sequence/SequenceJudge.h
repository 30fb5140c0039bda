#pragma once

#include "sequence/Sequence.h"
#include "sequence/SequenceResult.h"

#include <optional>
#include <span>
#include <string>

// Decides one controller's checks from what it reported: a hold's from its samples, a run's start-up and a stop's
// standstill from the times the runner measured.
class TSequenceJudge {
public:
  // What a hold set and what came back during it, one controller's.
  struct THold {
    double Start = 0;    // seconds since the run began
    double SetRpm = 0;   // the output speed the controller got
    double MotorRps = 0; // the motor speed it got, which its counter counts
    int Direction = 0;
    std::span<const TSample> Samples;
  };

  static TCheckResult Hold(const TSequenceCheck& check, const THold& hold);
  // seconds: from the Run answered to the speed's coming within the tolerance; none when it never came.
  static TCheckResult Reach(const TSequenceCheck& check, double setRpm, std::optional<double> seconds, double lastRpm);
  // seconds: from the Stop answered to the first sample at 0 rpm; none when it never came.
  static TCheckResult Standstill(const TSequenceCheck& check, std::optional<double> seconds, double lastRpm);
  // of: the status requests the missing ones are counted among, when known.
  static TCheckResult Missing(const TSequenceCheck& check, int missing, std::optional<int> of = std::nullopt);
  // A check the line gave nothing to decide by fails: "not measured: <why>".
  static TCheckResult NotMeasured(const TSequenceCheck& check, const std::string& why);
  // A count with its whole, as people read it: "feedback off: 0 of 24", "direction wrong: 0 of 24", "missing or
  // damaged: 1 of 40"; empty for a check that counts nothing or whose whole is not known.
  static std::string Counted(const TCheckResult& check);
  // What such a check counts: "feedback off", "direction wrong", "missing or damaged"; empty for a measure.
  static const char* CountedWhat(TSequenceCheck::TKind kind);
  // The tolerance around a value: its rpm or revolutions, or its percentage of the value.
  static double Tolerance(const TSequenceCheck& check, double value);
};
