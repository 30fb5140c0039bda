#include "sequence/RecordJson.h"

#include "files/UtcTime.h"

#include <vector>

namespace {

template <class T, class F>
std::string ArrayOf(const std::vector<T>& items, F json)
{
  std::vector<std::string> written;
  written.reserve(items.size());
  for (const T& item : items)
    written.push_back(json(item));
  return TJsonText::Array(written);
}

} // namespace

std::string TRecordJson::RunLine(const TRunResult& run, const TControllerResult& unit)
{
  TJsonText line;
  return Header(line.Text("record", "run"), run, unit).Object();
}

std::string TRecordJson::StepLine(std::uint8_t address, const TStepResult& step)
{
  return Step(TJsonText().Text("record", "step").Number("address", address), step).Object();
}

std::string TRecordJson::EndLine(const TRunResult& run, const TControllerResult& controller)
{
  TJsonText line;
  return Ending(line.Text("record", "end").Text("run_id", run.Id), run, controller, false).Object();
}

std::string TRecordJson::Whole(const TRunResult& run, const TControllerResult& controller)
{
  TJsonText record;
  return Ending(Header(record, run, controller), run, controller, true).Object();
}

TJsonText& TRecordJson::Header(TJsonText& object, const TRunResult& run, const TControllerResult& unit)
{
  return object.Text("name", run.Name)
      .Text("file", run.File)
      .Text("sha256", run.Sha256)
      .Text("unit", unit.Unit)
      .Text("run_id", run.Id)
      .Text("station", run.Station)
      .Text("line", run.Line)
      .Text("settings", run.Settings)
      .Text("start", UtcText(run.Start));
}

// The unit's verdict; the run's own reason (an interrupt, the line lost) beside it, and the
// controller's every reason in its own why.
TJsonText& TRecordJson::Ending(TJsonText& object, const TRunResult& run, const TControllerResult& controller,
                               bool withSteps)
{
  return object.Text("end", UtcText(run.End))
      .Text("verdict", VerdictText(controller.Verdict))
      .Text("why", run.Why)
      .Raw("controllers", TJsonText::Array({Controller(controller, run.Why, withSteps)}));
}

TJsonText& TRecordJson::Step(TJsonText& object, const TStepResult& step)
{
  return object.Text("path", step.Path)
      .Text("text", step.Text)
      .Text("kind", StepKindText(step.Kind))
      .Number("start", step.Start)
      .Number("end", step.End)
      .Text("verdict", StepVerdictText(step))
      .Text("why", step.Why)
      .Raw("checks", ArrayOf(step.Checks, Check));
}

std::string TRecordJson::Controller(const TControllerResult& controller, const std::string& runWhy, bool withSteps)
{
  TJsonText object;
  object.Number("address", controller.Address)
      .Text("verdict", VerdictText(controller.Verdict))
      .Text("why", WhyNotPassed(controller, runWhy));
  if (withSteps)
    object.Raw("steps", ArrayOf(controller.Steps, [](const TStepResult& step) {
                 TJsonText json;
                 return Step(json, step).Object();
               }));
  return object.Raw("checks", ArrayOf(controller.Checks, Check)).Object();
}

// "of" only for a count, so that the records of other checks read as they always did.
std::string TRecordJson::Check(const TCheckResult& check)
{
  TJsonText json;
  json.Text("name", check.Name).Text("kind", CheckKindText(check.Kind)).Number("measured", check.Measured);
  if (check.Of)
    json.Number("of", *check.Of);
  return json.Number("low", check.Low)
      .Number("high", check.High)
      .Text("unit", check.Unit)
      .Text("verdict", VerdictText(check.Verdict))
      .Text("why", check.Why)
      .Object();
}
