#include "SequenceRunner.h"

#include "ComPort.h"
#include "LineError.h"
#include "OzmCommands.h"
#include "PortDescription.h"
#include "SequenceJudge.h"
#include "SequenceLink.h"
#include "SequenceObserver.h"
#include "WireTime.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <random>
#include <unistd.h>

namespace {

using TKind = TSequenceStep::TKind;
using TCheckKind = TSequenceCheck::TKind;

std::string HostName()
{
  char name[256] = {};
  return gethostname(name, sizeof name - 1) == 0 ? name : "";
}

// 128 random bits in the UUID's form, so that runs of many benches never share one.
std::string RunId()
{
  std::random_device random;
  std::array<std::uint32_t, 4> words{};
  for (std::uint32_t& word : words)
    word = random();
  words[1] = (words[1] & 0xFFFF0FFFu) | 0x00004000u; // version 4
  words[2] = (words[2] & 0x3FFFFFFFu) | 0x80000000u; // the RFC 4122 variant
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%04x-%04x%08x", words[0], words[1] >> 16, words[1] & 0xFFFFu,
                words[2] >> 16, words[2] & 0xFFFFu, words[3]);
  return text;
}

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

const TSequenceCheck* CheckOf(const TSequenceStep& step, TCheckKind kind)
{
  const auto found =
      std::find_if(step.Checks.begin(), step.Checks.end(), [&](const TSequenceCheck& c) { return c.Kind == kind; });
  return found == step.Checks.end() ? nullptr : &*found;
}

} // namespace

TSequenceRunner::TSequenceRunner(const TSequence& sequence, TSequenceLink& link) : Sequence(sequence), Link(link)
{
}

void TSequenceRunner::Observe(TSequenceObserver& observer)
{
  Observers.push_back(&observer);
}

TRunResult TSequenceRunner::Run(const TUnitSerials& units)
{
  Prepare(units);
  try {
    SetMotors();
    RunSteps(Sequence.Steps, "");
    for (TUnit& u : Units)
      for (const TSequenceCheck& check : Sequence.Checks)
        u.Result.Checks.push_back(TSequenceJudge::Missing(check, u.Missing));
  } catch (const TSequenceAborted&) {
    Record.Verdict = TVerdict::Aborted;
    Record.Why = Link.AbortReason();
    EndStep(TVerdict::Aborted);
  } catch (const TLineError& error) {
    Record.Verdict = TVerdict::Fail;
    Record.Why = error.what();
    for (TUnit& u : Units)
      FailUnit(u, error.what());
    EndStep();
    Link.Reopen();
  }
  StopAll();
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
  Record.Id = RunId();
  Record.Name = Sequence.Name;
  Record.File = Sequence.File;
  Record.Sha256 = Sequence.Sha256;
  Record.Unit = units.empty() ? "" : units.begin()->second;
  Record.Station = HostName();
  Record.Line = Link.Name();
  Record.Settings = ShortLineSettings(Link.Settings());
  Record.Start = std::chrono::system_clock::now();
  Begun = Planned = NextPoll = TClock::now();
  for (const std::uint8_t address : Sequence.Addresses) {
    TUnit& u = Units.emplace_back();
    TMotorFields motor = Sequence.Motor;
    motor.Address = std::to_string(address);
    u.Drive.ApplyMotor(motor); // the file was checked with these very fields
    u.Result.Address = address;
    if (const auto serial = units.find(address); serial != units.end())
      u.Result.Unit = serial->second;
  }
  for (TSequenceObserver* observer : Observers)
    observer->RunBegun(Record);
}

void TSequenceRunner::SetMotors()
{
  TSequenceStep motor;
  motor.Kind = TKind::Motor;
  BeginStep(motor, "0", 0, MotorStepText(Sequence.Motor));
  for (TUnit& u : Units)
    SendQueued(u); // the encoder and maximum speed frames that ApplyMotor queued
  EndStep();
}

void TSequenceRunner::RunSteps(const std::vector<TSequenceStep>& steps, const std::string& prefix)
{
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const std::string path = prefix + std::to_string(i + 1);
    const TSequenceStep& step = steps[i];
    if (step.Kind != TKind::Repeat) {
      DoStep(step, path);
      continue;
    }
    for (std::int32_t time = 1; time <= step.Times; ++time)
      RunSteps(step.Steps, path + "." + std::to_string(time) + ".");
  }
}

void TSequenceRunner::DoStep(const TSequenceStep& step, const std::string& path)
{
  const TSequenceCheck* reach = CheckOf(step, TCheckKind::Reach);
  const TSequenceCheck* standstill = CheckOf(step, TCheckKind::Standstill);
  const double waits = step.Kind == TKind::Wait || step.Kind == TKind::Hold ? step.Seconds
                       : reach                                              ? reach->Within
                       : standstill                                         ? standstill->Within
                                                                            : 0;
  BeginStep(step, path, waits, StepText(step));
  Awaited = reach ? reach : standstill;
  for (TUnit* u : Active()) {
    if (step.Kind == TKind::Run)
      SendRun(*u, step);
    if (step.Kind == TKind::Stop)
      StopStep(*u);
    if (step.Kind == TKind::Reverse)
      Reverse(*u);
  }
  const auto seconds = std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(waits));
  if (step.Kind == TKind::Hold || step.Kind == TKind::Wait) {
    Planned += seconds; // a timed step ends when planned, whatever its start cost
    Poll(Planned, {});
  } else if (reach || standstill) {
    // Each controller's time counts from its own command; the step ends once every one has got there.
    Poll(TClock::now() + seconds, [](const TUnit& u) { return u.ReachedAt.has_value(); });
    Planned = TClock::now();
  } else {
    Planned = TClock::now();
  }
  Judge(step);
  Awaited = nullptr;
  EndStep();
}

void TSequenceRunner::BeginStep(const TSequenceStep& step, const std::string& path, double seconds,
                                const std::string& text)
{
  for (TSequenceObserver* observer : Observers)
    observer->StepBegun(path, text, Planned, seconds);
  Sleep(Planned);
  for (TUnit* u : Active()) {
    u->Step.emplace();
    u->Step->Path = path;
    u->Step->Text = text;
    u->Step->Kind = step.Kind;
    u->Step->Start = Since(TClock::now());
    u->Samples.clear();
    u->ReachedAt.reset();
  }
}

void TSequenceRunner::EndStep(TVerdict unfinished)
{
  for (TUnit& u : Units) {
    if (!u.Step)
      continue;
    TStepResult step = std::move(*u.Step);
    u.Step.reset();
    step.End = Since(TClock::now());
    step.Verdict = WorseVerdict(step.Verdict, unfinished);
    if (unfinished == TVerdict::Aborted && step.Why.empty())
      step.Why = Link.AbortReason();
    for (const TCheckResult& check : step.Checks)
      step.Verdict = WorseVerdict(step.Verdict, check.Verdict);
    u.Result.Steps.push_back(step);
    for (TSequenceObserver* observer : Observers)
      observer->StepEnded(u.Result.Address, step);
  }
}

void TSequenceRunner::SendRun(TUnit& unit, const TSequenceStep& step)
{
  unit.Drive.ApplyWork(step.Work); // the file was checked against this motor
  const TCommonDatas& datas = unit.Drive.Datas;
  unit.SetRpm = datas.WorkSpeedRps * 60.0 / datas.GearRatio;
  unit.Direction = step.Work.Direction;
  unit.Drive.Queue(CmdRun, 0);
  unit.MayRun = true; // from the moment the Run may leave
  if (SendQueued(unit))
    unit.CommandedAt = Since(TClock::now());
}

void TSequenceRunner::Reverse(TUnit& unit)
{
  unit.Direction = 1 - unit.Direction;
  unit.Drive.Queue(CmdSetDirection, static_cast<std::uint8_t>(unit.Direction));
  SendQueued(unit);
}

bool TSequenceRunner::SendQueued(TUnit& unit)
{
  std::vector<TFrame> frames(unit.Drive.Queued().begin(), unit.Drive.Queued().end());
  unit.Drive.ClearQueue();
  return std::all_of(frames.begin(), frames.end(), [&](const TFrame& frame) { return Send(unit, frame); });
}

bool TSequenceRunner::Send(TUnit& unit, const TFrame& frame)
{
  TFrame answer{};
  const TFrameLine::TReply reply = Link.Exchange(frame, answer);
  if (reply == TFrameLine::TReply::Answered)
    return true;
  FailUnit(unit, (reply == TFrameLine::TReply::NoAnswer ? "no answer to " : "bad checksum in the answer to ") +
                     TOzmCommands::CommandWords(frame[2]) + " from " + TOzmCommands::HexAddress(frame[1]));
  if (unit.MayRun)
    Stop(unit); // a controller that stopped answering may have taken a Run: it is not left running
  return false;
}

bool TSequenceRunner::Stop(TUnit& unit)
{
  return StopOnce(unit) || StopOnce(unit);
}

bool TSequenceRunner::StopOnce(TUnit& unit)
{
  TFrame answer{};
  if (Link.Exchange(TOzmCommands::FrameFor(unit.Result.Address, CmdStop, 0), answer) != TFrameLine::TReply::Answered)
    return false;
  unit.MayRun = false;
  return true;
}

void TSequenceRunner::StopAll()
{
  for (int round = 0; round < 2; ++round) {
    for (TUnit& u : Units) {
      if (!u.MayRun)
        continue;
      try {
        StopOnce(u);
      } catch (const TLineError& error) {
        if (!Link.Reopen() && round == 1)
          FailUnit(u, std::string("could not be stopped: ") + error.what());
      }
    }
  }
  for (TUnit& u : Units)
    if (u.MayRun)
      FailUnit(u, Unstopped(u));
}

void TSequenceRunner::StopStep(TUnit& unit)
{
  if (Stop(unit))
    unit.CommandedAt = Since(TClock::now());
  else
    FailUnit(unit, Unstopped(unit)); // the way out tries it once more
}

std::string TSequenceRunner::Unstopped(const TUnit& unit)
{
  return "no answer to " + TOzmCommands::CommandWords(CmdStop) + " from " +
         TOzmCommands::HexAddress(unit.Result.Address) + ": it may still be running";
}

void TSequenceRunner::Poll(TClock::time_point until, const std::function<bool(const TUnit&)>& done)
{
  std::vector<TUnit*> units = Active();
  if (units.empty())
    return Sleep(until);
  const TClock::duration floor = ExchangeFloor();
  const TClock::duration tick = std::max<TClock::duration>(PollInterval / units.size(), floor);
  for (;;) {
    if (done && std::all_of(units.begin(), units.end(), [&](const TUnit* u) { return done(*u); }))
      return;
    NextPoll = std::max(NextPoll, TClock::now());
    if (NextPoll + floor > until)
      break;
    Sleep(NextPoll);
    NextPoll += tick;
    AskStatus(*units[PollTurn++ % units.size()]); // a status answer never puts a controller out
  }
  Sleep(until);
}

void TSequenceRunner::AskStatus(TUnit& unit)
{
  const TStatusRequest request = unit.Drive.StatusRequest();
  TFrame answer{};
  const TFrameLine::TReply reply = Link.Exchange(request, answer);
  TSample sample;
  sample.Seconds = Since(TClock::now());
  sample.Address = unit.Result.Address;
  sample.Step = unit.Step ? unit.Step->Path : "";
  if (reply == TFrameLine::TReply::Answered) {
    unit.Drive.Decode(answer);
    const TCommonDatas& datas = unit.Drive.Datas;
    sample.SpeedRpm = unit.LastRpm = datas.CurrentSpeedRpm;
    sample.Counter = datas.MotorRevCounter;
    sample.Direction = datas.ActualDirection;
    sample.Feedback = datas.FeedbackOn;
    if (Awaited && !unit.ReachedAt && Arrived(unit, sample.SpeedRpm))
      unit.ReachedAt = sample.Seconds;
  } else {
    sample.State = reply == TFrameLine::TReply::NoAnswer ? TSample::TState::Missing : TSample::TState::Damaged;
    ++unit.Missing;
  }
  unit.Samples.push_back(sample);
  for (TSequenceObserver* observer : Observers)
    observer->Sample(sample);
}

bool TSequenceRunner::Arrived(const TUnit& unit, double rpm) const
{
  if (Awaited->Kind == TCheckKind::Standstill)
    return rpm == 0;
  return std::abs(rpm - unit.SetRpm) <= TSequenceJudge::Tolerance(*Awaited, unit.SetRpm);
}

void TSequenceRunner::Judge(const TSequenceStep& step)
{
  for (TUnit* u : Active()) {
    const auto since = [&]() -> std::optional<double> {
      if (!u->ReachedAt || !u->CommandedAt)
        return std::nullopt;
      return *u->ReachedAt - *u->CommandedAt;
    };
    for (const TSequenceCheck& check : step.Checks) {
      if (check.Kind == TCheckKind::Reach)
        Decide(*u, TSequenceJudge::Reach(check, u->SetRpm, since(), u->LastRpm));
      else if (check.Kind == TCheckKind::Standstill)
        Decide(*u, TSequenceJudge::Standstill(check, since(), u->LastRpm));
      else
        Decide(*u,
               TSequenceJudge::Hold(check, {u->Step->Start, u->SetRpm, static_cast<double>(u->Drive.Datas.WorkSpeedRps),
                                            u->Direction, u->Samples}));
    }
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
  if (unit.Step && unit.Step->Why.empty()) {
    unit.Step->Verdict = TVerdict::Fail;
    unit.Step->Why = why;
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

TSequenceRunner::TClock::duration TSequenceRunner::ExchangeFloor() const
{
  const TLineSettings s = Link.Settings();
  const unsigned bits = BitsPerByte(s.DataBits, s.Parity != 0, s.StopBits != 0);
  return std::chrono::milliseconds(TComPort::WritePauseMs) + WireTime(TStatusRequest{}.size(), s.Baud, bits) +
         WireTime(TFrame{}.size(), s.Baud, bits);
}

void TSequenceRunner::Sleep(TClock::time_point until)
{
  if (!Link.SleepUntil(until))
    throw TSequenceAborted{};
}
