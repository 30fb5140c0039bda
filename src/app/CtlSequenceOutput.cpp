#include "app/CtlSequenceOutput.h"

#include "sequence/SequenceRecord.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <utility>

namespace {

using TFields = std::vector<TCtlOutput::TField>;

// Seconds since the run began, to the millisecond: the runner's clock is finer than anyone reads.
double Rounded(double seconds)
{
  return std::round(seconds * 1000) / 1000;
}

TFields CheckFields(const TCheckResult& check)
{
  TFields fields{{"name", check.Name}, {"kind", std::string(CheckKindText(check.Kind))}}; // as the record names it
  if (check.Measured)
    fields.push_back({"measured", *check.Measured});
  if (check.Low)
    fields.push_back({"low", *check.Low});
  if (check.High)
    fields.push_back({"high", *check.High});
  if (check.Of)
    fields.push_back({"of", std::int64_t{*check.Of}});
  fields.insert(fields.end(),
                {{"unit", check.Unit}, {"verdict", std::string(VerdictText(check.Verdict))}, {"why", check.Why}});
  return fields;
}

TCtlOutput::TObjects Checks(const std::vector<TCheckResult>& checks)
{
  TCtlOutput::TObjects objects;
  for (const TCheckResult& check : checks)
    objects.push_back(CheckFields(check));
  return objects;
}

} // namespace

TCtlSequenceOutput::TCtlSequenceOutput(TCtlOutput& output, TRecords records)
    : Output(output), Records(std::move(records))
{
}

void TCtlSequenceOutput::StepBegun(const std::string& path, const std::string& text, TClock::time_point planned,
                                   double seconds)
{
  Step = path + ": " + text;
  StepEnd = planned + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds));
  ShowProgress();
}

void TCtlSequenceOutput::Sample(const TSample&)
{
  ShowProgress();
}

void TCtlSequenceOutput::CheckDecided(std::uint8_t, const std::string&, const TCheckResult& check)
{
  ++(check.Verdict == TVerdict::Pass ? Passed : Failed);
  ShowProgress();
}

void TCtlSequenceOutput::ShowProgress()
{
  const double left = std::chrono::duration<double>(StepEnd - TClock::now()).count();
  char time[32] = "";
  if (left >= 0.05) // what would show as 0.0 is over
    std::snprintf(time, sizeof time, ", %.1f s left", left);
  Output.Progress("step " + Step + time + "; checks " + std::to_string(Passed) + " passed, " + std::to_string(Failed) +
                  " failed");
}

void TCtlSequenceOutput::StepEnded(std::uint8_t address, const TStepResult& step)
{
  Output.Result("step", "",
                {{"address", std::int64_t{address}},
                 {"path", step.Path},
                 {"text", step.Text},
                 {"start", Rounded(step.Start)},
                 {"end", Rounded(step.End)},
                 {"verdict", std::string(StepVerdictText(step))},
                 {"why", step.Why},
                 {"checks", Checks(step.Checks)}});
}

void TCtlSequenceOutput::RunEnded(const TRunResult& run)
{
  for (const TControllerResult& controller : run.Controllers)
    TellController(controller, run.Why);
  TellRun(run);
}

// "$01 (SN-A): FAIL: why"; its unit's record's files are told with the run, in text.
void TCtlSequenceOutput::TellController(const TControllerResult& controller, const std::string& runWhy)
{
  const std::string verdict = VerdictText(controller.Verdict);
  const std::string why = WhyNotPassed(controller, runWhy);
  TFields fields{{"address", std::int64_t{controller.Address}},
                 {"verdict", verdict},
                 {"why", why},
                 {"checks", Checks(controller.Checks)},
                 {"unit", controller.Unit}};
  for (const auto& [key, path] : Files(controller.Address))
    fields.push_back({key, path});
  Output.Result("verdict",
                TCtlOutput::Address(controller.Address) +
                    (controller.Unit.empty() ? "" : " (" + controller.Unit + ")") + ": " + verdict +
                    (why.empty() ? "" : ": " + why),
                fields);
}

// "Name: FAIL", then each unit's files, "$01 record: PATH", so that the verdicts above stay together.
void TCtlSequenceOutput::TellRun(const TRunResult& run)
{
  const std::string verdict = VerdictText(run.Verdict);
  std::string text = run.Name + ": " + verdict + (run.Why.empty() ? "" : ": " + run.Why);
  for (const TControllerResult& controller : run.Controllers)
    for (const auto& [key, path] : Files(controller.Address))
      text += "\n" + TCtlOutput::Address(controller.Address) + " " + key + ": " + path;
  Output.Result("verdict", text,
                {{"name", run.Name}, {"file", run.File}, {"run_id", run.Id}, {"verdict", verdict}, {"why", run.Why}});
}

std::vector<std::pair<std::string, std::string>> TCtlSequenceOutput::Files(std::uint8_t address) const
{
  const TSequenceRecord& record = *Records.at(address);
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto& [key, path] : {std::pair{"record", record.RecordPath()}, std::pair{"report", record.ReportPath()},
                                  std::pair{"lines", record.LinesPath()}, std::pair{"samples", record.SamplesPath()}})
    if (std::error_code error; !path.empty() && std::filesystem::exists(path, error)) // none for a file not written
      files.emplace_back(key, path);
  return files;
}
