#pragma once

#include "sequence/SequenceResult.h"

#include <string>
#include <vector>

// A unit's report of a run for people: one printable HTML page that stands alone (no script, nothing
// fetched), with the run's facts and the unit's verdict, then its controller's verdict and why, a
// chart of its speed with the steps and limits, and a table of its steps and checks.
class TSequenceReport {
public:
  static std::string Html(const TRunResult& run, const TControllerResult& controller,
                          const std::vector<TSample>& samples);

private:
  static std::string Header(const TRunResult& run, const TControllerResult& controller);
  static std::string Controller(const TControllerResult& controller, const std::string& runWhy,
                                const std::vector<TSample>& samples);
  static std::string StepRows(const TStepResult& step);
  static std::string CheckRow(const std::string& step, const TCheckResult& check);
};
