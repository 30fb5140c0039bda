#include "sequence/SequenceRunner.h"

#include "motor/ValueReader.h"
#include "protocol/OzmCommands.h"
#include "sequence/SequenceFile.h"
#include "sequence/SequenceJudge.h"
#include "sequence/SequenceLink.h"
#include "sequence/SequenceObserver.h"
#include "serial/LineError.h"
#include "serial/PortDescription.h"

#include <algorithm>
#include <cmath>

namespace {

using TKind = TSequenceStep::TKind;
using TCheckKind = TSequenceCheck::TKind;
using TClock = std::chrono::steady_clock;

constexpr TClock::time_point Never = TClock::time_point::max();
constexpr const char* SkippedWhy = "skipped: every controller had failed";

std::string StepText(const TSequenceStep& step)
{
  switch (step.Kind) {
  case TKind::Run:
    return "run " + step.Work.Speed + " rpm " + (step.Work.Direction ? "backward" : "forward") + ", acceleration " +
           step.Work.Accel + ", deceleration " + step.Work.Decel;
  case TKind::Wait:
  case TKind::Hold: return std::string(StepKindText(step.Kind)) + " " + NumberText(step.Seconds) + " s";
  default: return StepKindText(step.Kind);
  }
}

// Steps that send a frame to each controller; the others only let time pass.
bool Sends(const TSequenceStep& step)
{
  return step.Kind == TKind::Run || step.Kind == TKind::Stop || step.Kind == TKind::Reverse;
}

TClock::duration Duration(double seconds)
{
  return std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds));
}

} // namespace

TSequenceRunner::TSequenceRunner(const TSequence& sequence, TSequenceLink& link)
    : Sequence(sequence), Link(link), Timing(sequence.Addresses.size(), link.Settings())
{
  if (const std::optional<std::string> refusal = Timing.Refusal(sequence))
    throw TSequenceError(*refusal);
}

void TSequenceRunner::Observe(TSequenceObserver& observer)
{
  Observers.push_back(&observer);
}

TRunResult TSequenceRunner::Run(const TUnitSerials& units)
{
  std::optional<std::string> lost;
  Prepare(units);
  try {
    SetMotors();
    PlanSteps(Sequence.Steps, "");
    RunPlan();
    for (TUnit& u : Units)
      for (const TSequenceCheck& check : Sequence.Checks)
        u.Result.Checks.push_back(u.Out ? TSequenceJudge::NotMeasured(check, "it stopped answering")
                                        : TSequenceJudge::Missing(check, u.Missing, u.Asked));
  } catch (const TSequenceAborted&) {
    Record.Verdict = TVerdict::Aborted;
    Record.Why = Link.AbortReason();
  } catch (const TLineError& error) {
    Record.Verdict = TVerdict::Fail;
    Record.Why = error.what();
    lost = error.what();
    Link.Reopen();
  }
  // Every Stop before anything is written: a step closed is written and synced by each unit's record.
  const std::optional<std::string> down = StopAll();
  for (TUnit& u : Units) {
    if (Record.Verdict == TVerdict::Aborted && u.Step)
      CloseStep(u, TVerdict::Aborted);
    if (lost)
      FailUnit(u, *lost);
    if (u.MayRun)
      FailUnit(u, down ? "could not be stopped: " + *down + ": it may still be running" : Unstopped(u));
  }
  Record.End = std::chrono::system_clock::now();
  for (TUnit& u : Units) {
    for (const TStepResult& step : u.Result.Steps)
      u.Result.Verdict = WorseVerdict(u.Result.Verdict, step.Verdict);
    for (const TCheckResult& check : u.Result.Checks)
      u.Result.Verdict = WorseVerdict(u.Result.Verdict, check.Verdict);
    if (Record.Verdict == TVerdict::Aborted)
      u.Result.Verdict = WorseVerdict(u.Result.Verdict, TVerdict::Aborted);
    Record.Verdict = WorseVerdict(Record.Verdict, u.Result.Verdict);
    Record.Controllers.push_back(u.Result);
  }
  for (TSequenceObserver* observer : Observers)
    observer->RunEnded(Record);
  return Record;
}

void TSequenceRunner::Prepare(const TUnitSerials& units)
{
  Record.Id = NewRunId();
  Record.Name = Sequence.Name;
  Record.File = Sequence.File;
  Record.Sha256 = Sequence.Sha256;
  Record.Station = StationName();
  Record.Line = Link.Name();
  Record.Settings = ShortLineSettings(Link.Settings());
  Record.Start = std::chrono::system_clock::now();
  Begun = TClock::now();
  for (const std::uint8_t address : Sequence.Addresses) {
    TUnit& u = Units.emplace_back();
    TMotorFields motor = Sequence.Motor;
    motor.Address = std::to_string(address);
    u.Drive.ApplyMotor(motor); // the file was checked with these very fields
    u.Result.Address = address;
    if (const auto serial = units.find(address); serial != units.end())
      u.Result.Unit = serial->second;
    Record.Controllers.push_back(u.Result); // who is in the run, for the records' names; the results come at the end
  }
  for (TSequenceObserver* observer : Observers)
    observer->RunBegun(Record);
  Record.Controllers.clear();
}

void TSequenceRunner::SetMotors()
{
  const std::string text = MotorStepText(Sequence.Motor);
  for (TSequenceObserver* observer : Observers)
    observer->StepBegun("0", text, TClock::now(), 0);
  for (TUnit& u : Units) {
    u.Step.emplace();
    u.Step->Path = "0";
    u.Step->Text = text;
    u.Step->Kind = TKind::Motor;
    u.Step->Start = Since(TClock::now());
  }
  for (TUnit& u : Units)
    SendQueued(u); // the encoder and maximum speed frames that ApplyMotor queued
  for (TUnit& u : Units)
    if (u.Step)
      CloseStep(u);
}

void TSequenceRunner::PlanSteps(const std::vector<TSequenceStep>& steps, const std::string& prefix)
{
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const std::string path = prefix + std::to_string(i + 1);
    const TSequenceStep& step = steps[i];
    if (step.Kind != TKind::Repeat) {
      Plan.push_back({&step, path});
      continue;
    }
    for (std::int32_t time = 1; time <= step.Times; ++time)
      PlanSteps(step.Steps, path + "." + std::to_string(time) + ".");
  }
}

void TSequenceRunner::RunPlan()
{
  const TClock::time_point start = TClock::now();
  TClock::duration place{};
  for (TUnit* u : Active()) {
    u->Until = start;
    u->NextPoll = start + place; // each in its own slot of a round
    place += Timing.Slot();
  }
  const auto waiting = [](const TUnit* u) { return u->Idle && u->Until == Never; };
  for (;;) {
    Drive([&] { return std::any_of(Units.begin(), Units.end(), [&](TUnit& u) { return !u.Out && !waiting(&u); }); });
    if (NothingLeftToTest())
      return Skip();
    const std::vector<TUnit*> active = Active();
    if (active.empty() || active.front()->At == Plan.size())
      return;
    Command(active.front()->At); // every controller still in the run is at this step
  }
}

void TSequenceRunner::Command(std::size_t at)
{
  const TSequenceStep& step = *Plan[at].Step;
  double due = 0;
  for (TUnit* u : Active())
    due = std::max(due, u->Step->Start);
  Announce(at, Begun + Duration(due));
  if (step.Kind == TKind::Run)
    for (TUnit* u : Active())
      SendSetup(*u, step);
  const TClock::time_point burst = TClock::now();
  for (TUnit* u : Active())
    SendKey(*u, step, burst);
  if (AwaitedCheck(step))
    return AwaitArrivals();
  for (TUnit* u : Active())
    u->Until = burst + u->Offset + Timing.Slot(); // its step is over once its own command is
}

void TSequenceRunner::SendSetup(TUnit& unit, const TSequenceStep& step)
{
  unit.Drive.ApplyWork(step.Work); // the file was checked against this motor
  unit.SetRpm = *ParseValue(step.Work.Speed);
  unit.MotorRps = unit.SetRpm * unit.Drive.Datas.GearRatio / 60.0;
  unit.Direction = step.Work.Direction;
  SendQueued(unit);
}

void TSequenceRunner::SendKey(TUnit& unit, const TSequenceStep& step, TClock::time_point burst)
{
  const TClock::time_point start = TClock::now();
  unit.Offset = start - burst;
  unit.Idle = false;
  unit.CommandedAt.reset();
  if (step.Kind == TKind::Run) {
    unit.Drive.Queue(CmdRun, 0);
    unit.MayRun = true; // from the moment the Run may leave
    if (SendQueued(unit))
      unit.CommandedAt = Since(TClock::now());
  } else if (step.Kind == TKind::Stop) {
    if (StopOnce(unit))
      unit.CommandedAt = Since(TClock::now());
    else if (StopOnce(unit)) // the first most likely stopped it: its time counts from there
      unit.CommandedAt = Since(start + Timing.Slot());
    else
      FailUnit(unit, Unstopped(unit));
  } else {
    unit.Direction = 1 - unit.Direction;
    unit.Drive.Queue(CmdSetDirection, static_cast<std::uint8_t>(unit.Direction));
    SendQueued(unit);
  }
  unit.NextPoll = start + Timing.FirstPoll() + Timing.Slot(); // nothing waits for it: once the burst is through
  if (const TSequenceCheck* awaited = AwaitedCheck(step)) {
    // The grid goes through the limit, less a leeway, so that the verdict rests on an answer taken there;
    // counted back from it, it is the same on a bus of any size up to a round of 500 ms, so a motor measures
    // the same on any bench.
    unit.Decisive = start + Duration(awaited->Within) - TSequenceTiming::Leeway;
    const TClock::time_point earliest = start + Timing.FirstPoll();
    unit.NextPoll = unit.Decisive - ((unit.Decisive - earliest) / Timing.Interval()) * Timing.Interval();
  }
  unit.Short = TSample{};
  unit.Short.Seconds = unit.CommandedAt.value_or(Since(start));
  unit.Short.SpeedRpm = unit.LastRpm;
  unit.Shorter = unit.Short;
}

void TSequenceRunner::AwaitArrivals()
{
  Drive([this] {
    return !NothingLeftToTest() &&
           std::any_of(Units.begin(), Units.end(), [](const TUnit& u) { return !u.Out && !u.DecidedAt; });
  });
  TClock::time_point end = TClock::time_point::min();
  for (TUnit* u : Active())
    end = std::max(end, u->DecidedAt.value_or(TClock::now()) - u->Offset);
  for (TUnit* u : Active())
    u->Until = end + u->Offset;
}

void TSequenceRunner::Drive(const std::function<bool()>& going)
{
  for (;;) {
    for (TUnit* u : Active())
      MoveOn(*u);
    if (!going() || NothingLeftToTest())
      return;
    TUnit* next = nullptr;
    TClock::time_point wake = Never;
    for (TUnit* u : Active()) {
      if (u->Until < wake) {
        wake = u->Until;
        next = nullptr;
      }
      if (!u->Idle && u->NextPoll < wake) {
        wake = u->NextPoll;
        next = u;
      }
    }
    if (wake == Never)
      return; // every controller waits for the bus
    Sleep(wake);
    if (next)
      Poll(*next);
  }
}

void TSequenceRunner::Poll(TUnit& unit)
{
  const TClock::time_point planned = unit.NextPoll;
  Ask(unit);
  const TClock::time_point now = TClock::now();
  if (planned >= unit.Decisive && !unit.DecidedAt)
    unit.DecidedAt = now;
  // A line held up (a re-asked controller) skips the requests it missed rather than sending them back to back.
  unit.NextPoll = planned + Timing.Interval();
  if (unit.NextPoll < now)
    unit.NextPoll += ((now - unit.NextPoll) / Timing.Interval() + 1) * Timing.Interval();
}

void TSequenceRunner::MoveOn(TUnit& unit)
{
  while (!unit.Out && unit.Until <= TClock::now()) {
    const TClock::time_point start = unit.Until;
    if (unit.Step) {
      EndUnitStep(unit);
      ++unit.At;
    }
    unit.Idle = true;
    unit.Until = Never;
    if (unit.At == Plan.size() || NothingLeftToTest())
      return;
    BeginUnitStep(unit, start);
  }
}

void TSequenceRunner::BeginUnitStep(TUnit& unit, TClock::time_point start)
{
  const TSequenceStep& step = StepOf(unit);
  const std::string text = StepText(step);
  if (!Sends(step)) // one that sends is due once every controller has come to it
    Announce(unit.At, start);
  unit.Step.emplace();
  unit.Step->Path = Plan[unit.At].Path;
  unit.Step->Text = text;
  unit.Step->Kind = step.Kind;
  unit.Step->Start = Since(start);
  unit.Samples.clear();
  unit.ReachedAt.reset();
  unit.DecidedAt.reset();
  unit.Decisive = Never;
  if (!Sends(step)) {
    unit.Idle = false;
    unit.Until = start + Duration(step.Seconds);
  }
}

void TSequenceRunner::Announce(std::size_t at, TClock::time_point due)
{
  if (Announced > at)
    return;
  Announced = at + 1;
  const TSequenceStep& step = *Plan[at].Step;
  const TSequenceCheck* awaited = AwaitedCheck(step);
  const double seconds = Sends(step) ? (awaited ? awaited->Within : 0) : step.Seconds;
  for (TSequenceObserver* observer : Observers)
    observer->StepBegun(Plan[at].Path, StepText(step), due, seconds);
}

void TSequenceRunner::EndUnitStep(TUnit& unit)
{
  Judge(unit);
  CloseStep(unit);
}

void TSequenceRunner::CloseStep(TUnit& unit, TVerdict unfinished)
{
  TStepResult step = std::move(*unit.Step);
  unit.Step.reset();
  step.End = Since(TClock::now());
  step.Verdict = WorseVerdict(step.Verdict, unfinished);
  if (unfinished == TVerdict::Aborted && step.Why.empty())
    step.Why = Link.AbortReason();
  for (const TCheckResult& check : step.Checks)
    step.Verdict = WorseVerdict(step.Verdict, check.Verdict);
  unit.Failed = unit.Failed || step.Verdict == TVerdict::Fail;
  unit.Result.Steps.push_back(step);
  for (TSequenceObserver* observer : Observers)
    observer->StepEnded(unit.Result.Address, step);
}

void TSequenceRunner::Skip()
{
  for (TUnit& u : Units) {
    if (u.Out)
      continue;
    std::size_t from = u.At;
    if (u.Step) { // cut short: what it measured so far decides nothing
      u.Step->Skipped = true;
      u.Step->Why = SkippedWhy;
      CloseStep(u);
      ++from;
    }
    for (std::size_t at = from; at < Plan.size(); ++at) {
      TStepResult step;
      step.Path = Plan[at].Path;
      step.Text = StepText(*Plan[at].Step);
      step.Kind = Plan[at].Step->Kind;
      step.Start = step.End = Since(TClock::now());
      step.Skipped = true;
      step.Why = SkippedWhy;
      u.Result.Steps.push_back(step);
      for (TSequenceObserver* observer : Observers)
        observer->StepEnded(u.Result.Address, step);
    }
    u.At = Plan.size();
  }
}

bool TSequenceRunner::NothingLeftToTest() const
{
  return std::all_of(Units.begin(), Units.end(), [](const TUnit& u) { return u.Out || u.Failed; });
}

void TSequenceRunner::Judge(TUnit& unit)
{
  const auto since = [&]() -> std::optional<double> {
    if (!unit.ReachedAt || !unit.CommandedAt)
      return std::nullopt;
    return *unit.ReachedAt - *unit.CommandedAt;
  };
  for (const TSequenceCheck& check : StepOf(unit).Checks) {
    if (check.Kind == TCheckKind::Reach)
      Decide(unit, TSequenceJudge::Reach(check, unit.SetRpm, since(), unit.LastRpm));
    else if (check.Kind == TCheckKind::Standstill)
      Decide(unit, TSequenceJudge::Standstill(check, since(), unit.LastRpm));
    else
      Decide(unit, TSequenceJudge::Hold(check, {unit.Step->Start, unit.SetRpm, unit.MotorRps, unit.Direction,
                                                unit.Samples}));
  }
}

void TSequenceRunner::Decide(TUnit& unit, const TCheckResult& check)
{
  unit.Step->Checks.push_back(check);
  for (TSequenceObserver* observer : Observers)
    observer->CheckDecided(unit.Result.Address, unit.Step->Path, check);
}

void TSequenceRunner::FailUnit(TUnit& unit, const std::string& why)
{
  unit.Out = true;
  unit.Failed = true;
  if (unit.Step) {
    if (unit.Step->Why.empty()) {
      unit.Step->Verdict = TVerdict::Fail;
      unit.Step->Why = why;
    }
    CloseStep(unit); // it takes no further step
  }
  // Every reason is kept: a lost line and then a Stop that could not go are both the operator's to know.
  if (unit.Result.Why.find(why) == std::string::npos)
    unit.Result.Why += (unit.Result.Why.empty() ? "" : "; ") + why;
  unit.Result.Verdict = TVerdict::Fail;
}

std::vector<TSequenceRunner::TUnit*> TSequenceRunner::Active()
{
  std::vector<TUnit*> active;
  for (TUnit& u : Units)
    if (!u.Out)
      active.push_back(&u);
  return active;
}

double TSequenceRunner::Since(TClock::time_point time) const
{
  return std::chrono::duration<double>(time - Begun).count();
}

void TSequenceRunner::Sleep(TClock::time_point until)
{
  if (!Link.SleepUntil(until))
    throw TSequenceAborted{};
}
