// The runner on the line: a Stop goes twice, and status requests whose answers tell when a controller got where its
// step wanted it.
#include "sequence/SequenceRunner.h"

#include "protocol/OzmCommands.h"
#include "sequence/SequenceJudge.h"
#include "sequence/SequenceLink.h"
#include "sequence/SequenceObserver.h"
#include "serial/Backstop.h"
#include "serial/LineError.h"

#include <algorithm>
#include <thread>
#include <utility>

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
  if (unit.MayRun)
    Stop(unit); // a controller that stopped answering may have taken a Run: stopped before its record is written
  FailUnit(unit, (reply == TFrameLine::TReply::NoAnswer ? "no answer to " : "bad checksum in the answer to ") +
                     TOzmCommands::CommandWords(frame[2]) + " from " + TOzmCommands::HexAddress(frame[1]));
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

std::optional<std::string> TSequenceRunner::StopAll()
{
  const TClock::time_point giveUp = TClock::now() + TCommonDatas::LostLineStops;
  TBackstop::StopsDue(
      static_cast<std::size_t>(std::count_if(Units.begin(), Units.end(), [](const TUnit& u) { return u.MayRun; })));
  for (int round = 1;; ++round) {
    std::optional<std::string> down;
    for (TUnit& u : Units) {
      if (!u.MayRun || down)
        continue;
      try {
        StopOnce(u);
      } catch (const TLineError& error) {
        down = error.what();
      }
      TBackstop::StopDone();
    }
    const bool left = std::any_of(Units.begin(), Units.end(), [](const TUnit& u) { return u.MayRun; });
    if (!left || (round >= 2 && (!down || TClock::now() >= giveUp)))
      return down;
    if (down) {
      std::this_thread::sleep_for(TCommonDatas::ReopenPause);
      Link.Reopen();
    }
  }
}

std::string TSequenceRunner::Unstopped(const TUnit& unit)
{
  return "no answer to " + TOzmCommands::CommandWords(CmdStop) + " from " +
         TOzmCommands::HexAddress(unit.Result.Address) + ": it may still be running";
}

void TSequenceRunner::Ask(TUnit& unit)
{
  if (!AskOnce(unit))
    AskOnce(unit); // the same controller again, the line quiet by now: an answer is never another's
}

bool TSequenceRunner::AskOnce(TUnit& unit)
{
  const TStatusRequest request = unit.Drive.StatusRequest();
  TFrame answer{};
  const TFrameLine::TReply reply = Link.Exchange(request, answer);
  ++unit.Asked;
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
    Arrive(unit, sample);
  } else {
    sample.State = reply == TFrameLine::TReply::NoAnswer ? TSample::TState::Missing : TSample::TState::Damaged;
    ++unit.Missing;
  }
  unit.Samples.push_back(sample);
  for (TSequenceObserver* observer : Observers)
    observer->Sample(sample);
  return reply == TFrameLine::TReply::Answered;
}

void TSequenceRunner::Arrive(TUnit& unit, const TSample& sample)
{
  const TSequenceCheck* awaited = unit.Step ? AwaitedCheck(StepOf(unit)) : nullptr;
  if (!awaited || !unit.CommandedAt || unit.ReachedAt)
    return;
  if (!Arrived(unit, sample.SpeedRpm)) {
    unit.Shorter = std::exchange(unit.Short, sample);
    return;
  }
  double reached = sample.Seconds;
  if (awaited->Kind == TSequenceCheck::TKind::Reach)
    reached = Arrival(unit, *awaited, sample);
  unit.ReachedAt = reached;
  if (!unit.DecidedAt)
    unit.DecidedAt = TClock::now();
}

// Between the last answer short of the band and the first within it: along the ramp that the two answers before it
// show, or, with one answer on it, along the line to this one.
double TSequenceRunner::Arrival(const TUnit& unit, const TSequenceCheck& reach, const TSample& within) const
{
  const TSample& from = unit.Short;
  if (Arrived(unit, from.SpeedRpm))
    return from.Seconds; // already there when its command went
  const double tolerance = TSequenceJudge::Tolerance(reach, unit.SetRpm);
  const double edge = from.SpeedRpm < unit.SetRpm ? unit.SetRpm - tolerance : unit.SetRpm + tolerance;
  const bool ramp = from.Seconds > unit.Shorter.Seconds;
  const TSample& before = ramp ? unit.Shorter : from;
  const TSample& after = ramp ? from : within;
  const double rate = (after.SpeedRpm - before.SpeedRpm) / (after.Seconds - before.Seconds);
  const double reached = rate != 0 ? from.Seconds + (edge - from.SpeedRpm) / rate : within.Seconds;
  return std::clamp(reached, from.Seconds, within.Seconds);
}

bool TSequenceRunner::Arrived(const TUnit& unit, double rpm) const
{
  const TSequenceCheck* awaited = AwaitedCheck(StepOf(unit));
  if (awaited->Kind == TSequenceCheck::TKind::Standstill)
    return rpm == 0;
  return std::abs(rpm - unit.SetRpm) <= TSequenceJudge::Tolerance(*awaited, unit.SetRpm);
}
