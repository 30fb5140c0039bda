#pragma once

#include "app/CtlOutput.h"
#include "sequence/SequenceObserver.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

class TSequenceRecord;

// What test tells as the run goes: on a terminal one line that rewrites itself (the step, its time
// left, the checks passed and failed so far); with --json an object a step of each controller; at
// the end each controller's verdict with why it did not pass and its unit's record, then the run's.
class TCtlSequenceOutput : public TSequenceObserver {
public:
  using TRecords = std::map<std::uint8_t, const TSequenceRecord*>; // each controller's, by its address

  // The records are told of the run before this, so their files are written when they are named.
  TCtlSequenceOutput(TCtlOutput& output, TRecords records);

  void StepBegun(const std::string& path, const std::string& text, TClock::time_point planned, double seconds) override;
  void Sample(const TSample& sample) override;
  void CheckDecided(std::uint8_t address, const std::string& path, const TCheckResult& check) override;
  void StepEnded(std::uint8_t address, const TStepResult& step) override;
  void RunEnded(const TRunResult& run) override;

private:
  void ShowProgress();
  // runWhy: the run's, for a controller that has none of its own.
  void TellController(const TControllerResult& controller, const std::string& runWhy);
  void TellRun(const TRunResult& run);
  // The files of the record of the controller's unit that were made, by their keys: record, report,
  // lines, samples.
  std::vector<std::pair<std::string, std::string>> Files(std::uint8_t address) const;

  TCtlOutput& Output;
  const TRecords Records;
  std::string Step; // "2: hold 6 s"
  TClock::time_point StepEnd;
  int Passed = 0;
  int Failed = 0;
};
