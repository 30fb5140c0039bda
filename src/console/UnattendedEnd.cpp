#include "UnattendedEnd.h"

#include "BusPoller.h"
#include "CommonDatas.h"
#include "Exchange.h"
#include "Form1.h"
#include "MessageBox.h"
#include "OperatorExtras.h"
#include "SequenceControl.h"

#include <algorithm>
#include <cstdio>
#include <set>

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
  const TLinkCounters& counters = Form.Datas->Counters;
  const std::uint64_t sent = counters.FramesSent;
  const std::uint64_t missing = counters.AnswersMissing;
  const std::uint64_t failures = counters.PortFailures;
  // With a bus listed, every controller of it, and every one the window ran since: a Run may have gone to
  // another before the panel's address changed. Each further Stop has its pause, frame and a quick answer's time.
  TBusPoller& bus = Form.OperatorExtras().BusPoller();
  const std::set<std::uint8_t>& ran = Form.RunSentTo();
  if (bus.List().Empty() &&
      std::all_of(ran.begin(), ran.end(), [&](std::uint8_t a) { return a == Form.Datas->MotorAddress; }))
    Form.BtnStopClick();
  else
    bus.StopAll(true);
  const bool ended = exchange.WaitForWorker(After(StopLimit + PerController * (bus.StopCount() - 1)));
  if (counters.FramesSent == sent)
    return "Stop not sent, the line failed";
  const bool answered = ended && Form.Datas->MotorStopped && counters.AnswersMissing == missing &&
                        counters.PortFailures == failures;
  return answered ? "Stop sent and answered" : "Stop sent, no answer";
}

void TUnattendedEnd::Close()
{
  Form.CloseNow(After(WorkerLimit));
}
