#pragma once

#include "sequence/Sequence.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

enum class TVerdict { Pass, Fail, Aborted };

// Each controller's unit serial, by bus address; a controller not named has none.
using TUnitSerials = std::map<std::uint8_t, std::string>;

// A check as decided: the measured value (none when nothing could be measured), the limits it was held against, and why
// it failed.
struct TCheckResult {
  std::string Name;
  TSequenceCheck::TKind Kind = TSequenceCheck::TKind::Speed;
  std::optional<double> Measured;
  std::optional<double> Low, High;
  std::string Unit; // "rpm", "s", "rev", "answers", "samples" (those that were not as they should be)
  TVerdict Verdict = TVerdict::Pass;
  std::string Why; // "312 rpm at 4.5 s is outside 285..315"; empty when passed
  // A count's whole: the samples or answers that Measured counts the bad ones among; none for other measures.
  std::optional<int> Of = std::nullopt;
};

// One step as one controller went through it. Times are seconds since the run began.
struct TStepResult {
  std::string Path; // "3", or "5.2.1" inside a repeat: step 5, its second time, its first step
  std::string Text; // "run 100 rpm forward, acceleration 5, deceleration 5"
  TSequenceStep::TKind Kind = TSequenceStep::TKind::Wait;
  double Start = 0, End = 0;
  std::vector<TCheckResult> Checks;
  TVerdict Verdict = TVerdict::Pass;
  std::string Why; // a frame that was not answered, the line lost
  bool Skipped = false; // not gone through: every controller had failed before it
};

// One status request of the run: what came back, or that nothing sound did.
struct TSample {
  enum class TState { Answered, Missing, Damaged };

  double Seconds = 0;
  std::uint8_t Address = 0;
  std::string Step; // the step's path
  TState State = TState::Answered;
  double SpeedRpm = 0;      // output shaft
  std::int32_t Counter = 0; // the motor's revolution counter, as the panel shows it
  int Direction = 0;        // 0 forward, 1 backward
  bool Feedback = false;
};

struct TControllerResult {
  std::uint8_t Address = 0;
  TVerdict Verdict = TVerdict::Pass;
  std::string Why;
  std::vector<TStepResult> Steps;
  std::vector<TCheckResult> Checks; // the whole run's
  std::string Unit;                  // the serial of the unit it drives, as scanned or typed; may be empty
};

// The record of one run of a sequence on one line.
struct TRunResult {
  std::string Name, File, Sha256;
  std::string Station;  // the host name
  std::string Line;     // the device or URL
  std::string Settings; // "9600 8N1"
  std::chrono::system_clock::time_point Start, End;
  TVerdict Verdict = TVerdict::Pass;
  std::string Why; // of an aborted or failed run as a whole: "interrupted (SIGINT)", the line lost
  std::vector<TControllerResult> Controllers;
  std::string Id; // the same in every unit's record of this run, so that they can be found together
};

// "PASS", "FAIL", "ABORTED": as the record and the window say them.
const char* VerdictText(TVerdict verdict);
// The step's reach or standstill: what its controllers' time is taken by; none when it waits for nothing.
const TSequenceCheck* AwaitedCheck(const TSequenceStep& step);
// 128 random bits in the UUID's form, so that runs of many benches never share one.
std::string NewRunId();
// The host's name, as a run's station; empty when it has none.
std::string StationName();
// A step's as the record says it: its verdict's, or "SKIPPED" for one not gone through.
const char* StepVerdictText(const TStepResult& step);
// "speed", "reach", ...: as the file and the record name them.
const char* CheckKindText(TSequenceCheck::TKind kind);
const char* StepKindText(TSequenceStep::TKind kind);
// Step 0's words: "set motor: encoder 2, maximum speed 3000 rpm, ratio 1".
std::string MotorStepText(const TMotorFields& motor);
// The worse of two verdicts: a failure that is known stays one, even when the run was aborted after it.
TVerdict WorseVerdict(TVerdict a, TVerdict b);
// A measured value or limit as messages and the record's texts show it: 4 significant digits.
std::string NumberText(double value);
// Why a controller did not pass: each failed check by its name, the step an abort cut short, then what
// else the runner kept (an unanswered frame, the line lost, a Stop that could not go); the run's own
// reason for an abort between two steps. Empty for a pass.
std::string WhyNotPassed(const TControllerResult& controller, const std::string& runWhy);
