#include "console/UnattendedEnd.h"

#include "console/BusPoller.h"
#include "console/Form1.h"
#include "console/OperatorExtras.h"
#include "console/SequenceControl.h"
#include "protocol/CommonDatas.h"
#include "serial/Backstop.h"
#include "serial/ComPort.h"
#include "serial/Exchange.h"
#include "serial/PortButtons.h"
#include "widgets/MessageBox.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <thread>

namespace {
std::chrono::steady_clock::time_point After(std::chrono::milliseconds limit)
{
  return std::chrono::steady_clock::now() + limit;
}
} // namespace

bool TUnattendedEnd::MotorMayRun() const
{
  return !Form.IsClosed() && (!Form.Datas->MotorStopped || Form.Datas->CurrentSpeedRpm > 0 ||
                              !Form.RunSentTo().empty() || Form.OperatorExtras().BusPoller().AnyMayRun());
}

void TUnattendedEnd::StopMotor(const std::string& why)
{
  // No box may wait for an operator who is not there (nor for a display that is gone).
  SayMessagesOnStderr();
  // A test sequence's runner stops its own controllers, and gives the port back.
  if (const std::string run = Form.OperatorExtras().Sequence().EndRun(why, true); !run.empty())
    std::fprintf(stderr, "ozmet: %s\n", run.c_str());
  if (!MotorMayRun())
    return;
  const std::string outcome = why + " with the motor possibly running: " + SendStop();
  const bool answered = outcome.ends_with("Stop sent and answered");
  Form.AppendLog(outcome, answered ? TLogColour::Blue : TLogColour::Red, false);
  std::fprintf(stderr, "ozmet: %s\n", outcome.c_str());
}

std::string TUnattendedEnd::SendStop()
{
  TExchange& exchange = *Form.Exchange;
  // The frames not yet sent are dropped; a worker that still does not end waits for this thread
  // (a box it asked for is open beneath us) and can carry no Stop.
  exchange.Overtake();
  if (!exchange.WaitForWorker(After(WorkerLimit)))
    return "Stop not sent, the exchange under way did not end";
  const std::uint64_t sentBefore = Form.Datas->Counters.FramesSent;
  const auto giveUp = After(TCommonDatas::LostLineStops);
  TStops stops = SendStopsOnce();
  if (stops == TStops::LineFailed)
    Form.AppendLog("The line failed: it is opened again for up to " +
                       std::to_string(TCommonDatas::LostLineStops.count()) + " s to carry the Stop",
                   TLogColour::Red, false);
  // An adapter that re-enumerates or a serial device server that restarts comes back within a second or two.
  while (stops == TStops::LineFailed && ReopenBefore(giveUp))
    stops = SendStopsOnce();
  const bool sent = Form.Datas->Counters.FramesSent != sentBefore;
  switch (stops) {
  case TStops::Answered: return "Stop sent and answered";
  case TStops::Unanswered: return sent ? "Stop sent, no answer" : "Stop not sent, the exchange under way did not end";
  case TStops::LineFailed: break;
  }
  return std::string(sent ? "Stop sent, no answer" : "Stop not sent") + ", the line failed and stayed lost for " +
         std::to_string(TCommonDatas::LostLineStops.count()) + " s";
}

TUnattendedEnd::TStops TUnattendedEnd::SendStopsOnce()
{
  const TComPort& port = Form.Exchange->Port;
  if (!port.IsOpen())
    return TStops::LineFailed;
  const TLinkCounters& counters = Form.Datas->Counters;
  const std::uint64_t sent = counters.FramesSent;
  const std::uint64_t missing = counters.AnswersMissing;
  const std::uint64_t failures = counters.PortFailures;
  // With a bus listed, every controller of it, and every one the window ran since: a Run may have gone to
  // another before the panel's address changed. The backstop gives each Stop its time.
  TBusPoller& bus = Form.OperatorExtras().BusPoller();
  const std::set<std::uint8_t>& ran = Form.RunSentTo();
  if (bus.List().Empty() &&
      std::all_of(ran.begin(), ran.end(), [&](std::uint8_t a) { return a == Form.Datas->MotorAddress; })) {
    TBackstop::StopsDue(1);
    Form.BtnStopClick();
  } else {
    TBackstop::StopsDue(bus.StopCount());
    bus.StopAll(true);
  }
  const bool ended = WaitForStops();
  if (ended && (counters.FramesSent == sent || counters.PortFailures != failures || !port.IsOpen()))
    return TStops::LineFailed;
  const bool answered = ended && Form.Datas->MotorStopped && counters.AnswersMissing == missing;
  return answered ? TStops::Answered : TStops::Unanswered;
}

bool TUnattendedEnd::ReopenBefore(std::chrono::steady_clock::time_point giveUp) const
{
  while (std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(TCommonDatas::ReopenPause);
    TBackstop::Progress();
    if (Form.PortButtons->Reopen())
      return true;
  }
  return false;
}

// Waited for as long as the Stops go out, one frame at least within each StopLimit: a bus of any size is stopped
// whole, and a worker that hangs is left behind.
bool TUnattendedEnd::WaitForStops() const
{
  const std::atomic<std::uint64_t>& sent = Form.Datas->Counters.FramesSent;
  for (std::uint64_t before = sent; !Form.Exchange->WaitForWorker(After(StopLimit)); before = sent)
    if (sent == before)
      return false;
  return true;
}

void TUnattendedEnd::Close()
{
  Form.CloseNow(After(WorkerLimit));
}
