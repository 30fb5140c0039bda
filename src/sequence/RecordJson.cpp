#include "sequence/RecordJson.h"

#include "files/UtcTime.h"

#include <vector>

namespace {

using TValue = TJsonText::TValue;

template <class T, class F>
TValue ArrayOf(const std::vector<T>& items, F json)
{
  TValue array = TValue::array();
  for (const T& item : items)
    array.push_back(json(item));
  return array;
}

TValue Text(const std::string& text)
{
  return TJsonText::Text(text);
}

} // namespace

std::string TRecordJson::RunLine(const TRunResult& run, const TControllerResult& unit)
{
  TValue line{{"record", "run"}};
  Header(line, run, unit);
  return TJsonText::Line(line);
}

std::string TRecordJson::StepLine(std::uint8_t address, const TStepResult& step)
{
  TValue line{{"record", "step"}, {"address", address}};
  Step(line, step);
  return TJsonText::Line(line);
}

std::string TRecordJson::EndLine(const TRunResult& run, const TControllerResult& controller)
{
  TValue line{{"record", "end"}, {"run_id", Text(run.Id)}};
  Ending(line, run, controller, false);
  return TJsonText::Line(line);
}

std::string TRecordJson::Whole(const TRunResult& run, const TControllerResult& controller)
{
  return TJsonText::Line(WholeValue(run, controller));
}

TJsonText::TValue TRecordJson::WholeValue(const TRunResult& run, const TControllerResult& controller)
{
  TValue record = TValue::object();
  Header(record, run, controller);
  Ending(record, run, controller, true);
  return record;
}

void TRecordJson::Header(TValue& object, const TRunResult& run, const TControllerResult& unit)
{
  object["name"] = Text(run.Name);
  object["file"] = Text(run.File);
  object["sha256"] = Text(run.Sha256);
  object["unit"] = Text(unit.Unit);
  object["run_id"] = Text(run.Id);
  object["station"] = Text(run.Station);
  object["line"] = Text(run.Line);
  object["settings"] = Text(run.Settings);
  object["start"] = Text(UtcText(run.Start));
}

// The unit's verdict; the run's own reason (an interrupt, the line lost) beside it, and the
// controller's every reason in its own why.
void TRecordJson::Ending(TValue& object, const TRunResult& run, const TControllerResult& controller, bool withSteps)
{
  object["end"] = Text(UtcText(run.End));
  object["verdict"] = VerdictText(controller.Verdict);
  object["why"] = Text(run.Why);
  object["controllers"] = TValue::array({Controller(controller, run.Why, withSteps)});
}

void TRecordJson::Step(TValue& object, const TStepResult& step)
{
  object["path"] = Text(step.Path);
  object["text"] = Text(step.Text);
  object["kind"] = StepKindText(step.Kind);
  object["start"] = TJsonText::Number(step.Start);
  object["end"] = TJsonText::Number(step.End);
  object["verdict"] = StepVerdictText(step);
  object["why"] = Text(step.Why);
  object["checks"] = ArrayOf(step.Checks, Check);
}

TValue TRecordJson::Controller(const TControllerResult& controller, const std::string& runWhy, bool withSteps)
{
  TValue object{{"address", controller.Address},
                {"verdict", VerdictText(controller.Verdict)},
                {"why", Text(WhyNotPassed(controller, runWhy))}};
  if (withSteps)
    object["steps"] = ArrayOf(controller.Steps, [](const TStepResult& step) {
      TValue json = TValue::object();
      Step(json, step);
      return json;
    });
  object["checks"] = ArrayOf(controller.Checks, Check);
  return object;
}

// "of" only for a count, so that the records of other checks read as they always did.
TValue TRecordJson::Check(const TCheckResult& check)
{
  TValue json{
      {"name", Text(check.Name)}, {"kind", CheckKindText(check.Kind)}, {"measured", TJsonText::Number(check.Measured)}};
  if (check.Of)
    json["of"] = TJsonText::Number(*check.Of);
  json["low"] = TJsonText::Number(check.Low);
  json["high"] = TJsonText::Number(check.High);
  json["unit"] = Text(check.Unit);
  json["verdict"] = VerdictText(check.Verdict);
  json["why"] = Text(check.Why);
  return json;
}
