#include "UnitRuns.h"

#include "sequence/RecordJson.h"

#include <cstdio>

using namespace std::chrono;
using TKind = TSequenceCheck::TKind;

TRunResult UnitRun(const TUnitRunCase& c, const std::string& id)
{
  TRunResult run;
  run.Name = "eol";
  run.File = "/plant/eol.yaml";
  run.Station = c.Station;
  run.Line = "/dev/ttyUSB0";
  run.Settings = "9600 8N1";
  run.Start = RunDay + hours(c.Hour);
  run.End = run.Start + seconds(14);
  run.Id = id;
  run.Verdict = c.Verdict;
  run.Why = c.Verdict == TVerdict::Aborted ? "interrupted (SIGINT)" : "";
  TControllerResult controller;
  controller.Address = c.Address;
  controller.Unit = c.Serial;
  controller.Verdict = c.Verdict;
  const bool held = c.Verdict != TVerdict::Fail;
  TStepResult step{"1", "run 100 rpm forward", TSequenceStep::TKind::Run, 0.2, 3.4, {}, c.Verdict, "", false};
  step.Checks.push_back({"held speed", TKind::Speed, c.Held, 95, 105, "rpm", held ? TVerdict::Pass : TVerdict::Fail,
                         held ? "" : NumberText(c.Held) + " rpm is outside 95..105"});
  controller.Steps.push_back(step);
  controller.Checks.push_back({"link", TKind::Missing, 0, std::nullopt, 2, "answers", TVerdict::Pass, "", 12});
  run.Controllers.push_back(controller);
  return run;
}

std::string Id(int n)
{
  char id[40];
  std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012d", n);
  return id;
}

TUnitRecord UnitRecord(const TUnitRunCase& c, int n, const std::string& path)
{
  const TRunResult run = UnitRun(c, Id(n));
  return {TRecordJson::WholeValue(run, run.Controllers[0]), path};
}
