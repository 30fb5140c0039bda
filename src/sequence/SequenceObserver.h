#pragma once

#include "sequence/SequenceResult.h"

#include <chrono>
#include <cstdint>
#include <string>

// What a run of a sequence tells as it goes: the record, ozmetctl's progress and the window's panel each listen. Called
// on the runner's thread, in this order: RunBegun, then per step StepBegun, Sample and CheckDecided as they come,
// StepEnded per controller, then RunEnded once.
class TSequenceObserver {
public:
  using TClock = std::chrono::steady_clock;

  virtual ~TSequenceObserver() = default;
  // run: the header (id, name, file, station, line, start) and each controller's address and unit serial; no
  // results yet.
  virtual void RunBegun(const TRunResult& run) { (void)run; }
  // planned: when the step's first frame was due (the pause before it comes on top); seconds: how long it lasts at most
  // (a hold's or wait's time, a reach's or standstill's limit), 0 for no wait.
  virtual void StepBegun(const std::string& path, const std::string& text, TClock::time_point planned, double seconds)
  {
    (void)path, (void)text, (void)planned, (void)seconds;
  }
  virtual void Sample(const TSample& sample) { (void)sample; }
  virtual void CheckDecided(std::uint8_t address, const std::string& path, const TCheckResult& check)
  {
    (void)address, (void)path, (void)check;
  }
  virtual void StepEnded(std::uint8_t address, const TStepResult& step) { (void)address, (void)step; }
  // The whole record, verdicts decided, every controller stopped or tried.
  virtual void RunEnded(const TRunResult& run) { (void)run; }
};
