#pragma once

#include "files/JsonText.h"
#include "sequence/SequenceResult.h"

#include <cstdint>
#include <string>

// A unit's record of a run in JSON: the lines of <stem>.jsonl as the run goes, each saying by its
// "record" what it is ("run", "step", "end"), and the whole record at the end, as
// dist/sequence-record.schema.json describes it. Each holds one controller, the one that drives the
// unit, and the run's id, which every unit's record of the run shares. The lines alone hold all of
// the whole record.
class TRecordJson {
public:
  // unit: the record's controller as the run begins, its address and serial.
  static std::string RunLine(const TRunResult& run, const TControllerResult& unit);
  static std::string StepLine(std::uint8_t address, const TStepResult& step);
  // The controller's verdict and whole-run checks; its steps have had their lines.
  static std::string EndLine(const TRunResult& run, const TControllerResult& controller);
  static std::string Whole(const TRunResult& run, const TControllerResult& controller);
  static TJsonText::TValue WholeValue(const TRunResult& run, const TControllerResult& controller);

private:
  using TValue = TJsonText::TValue;

  static void Header(TValue& object, const TRunResult& run, const TControllerResult& unit);
  static void Ending(TValue& object, const TRunResult& run, const TControllerResult& controller, bool withSteps);
  static void Step(TValue& object, const TStepResult& step);
  static TValue Controller(const TControllerResult& controller, const std::string& runWhy, bool withSteps);
  static TValue Check(const TCheckResult& check);
};
