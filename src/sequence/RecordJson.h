#pragma once

#include "JsonText.h"
#include "SequenceResult.h"

#include <cstdint>
#include <string>

// A run's record in JSON: the lines of <stem>.jsonl as the run goes, each saying by its "record"
// what it is ("run", "step", "end"), and the whole record at the end, as
// dist/sequence-record.schema.json describes it. The lines alone hold all of the whole record.
class TRecordJson {
public:
  static std::string RunLine(const TRunResult& run);
  static std::string StepLine(std::uint8_t address, const TStepResult& step);
  // Each controller's verdict and whole-run checks; its steps have had their lines.
  static std::string EndLine(const TRunResult& run);
  static std::string Whole(const TRunResult& run);

private:
  static TJsonText& Header(TJsonText& object, const TRunResult& run);
  static TJsonText& Ending(TJsonText& object, const TRunResult& run, bool withSteps);
  static TJsonText& Step(TJsonText& object, const TStepResult& step);
  static std::string Controller(const TControllerResult& controller, bool withSteps);
  static std::string Check(const TCheckResult& check);
};
