#include "serial/RWThread.h"

#include "protocol/OzmCommands.h"
#include "serial/Backstop.h"
#include "serial/ComPort.h"
#include "serial/Exchange.h"
#include "serial/Synchronizer.h"

#include <algorithm>
#include <chrono>
#include <sys/prctl.h>

TRWThread::TRWThread(TExchange& owner) : Owner(owner), Thread([this] { Run(); })
{
}

TRWThread::~TRWThread()
{
  TSynchronizer& sync = TSynchronizer::Instance();
  {
    std::lock_guard lock(sync.Mutex);
    Stopping = true;
  }
  sync.Changed.notify_all();
  Thread.join();
}

void TRWThread::Start(const TExchangeJob& job)
{
  Done = false;
  TSynchronizer& sync = TSynchronizer::Instance();
  {
    std::lock_guard lock(sync.Mutex);
    Pending = job;
    Overtaken = false; // a Stop asked for before this job is this job
  }
  sync.Changed.notify_all();
}

void TRWThread::Run()
{
  // The pause before a frame is a sleep: let it end on time rather than up to 50 us late.
  ::prctl(PR_SET_TIMERSLACK, 1UL);
  TSynchronizer& sync = TSynchronizer::Instance();
  for (;;) {
    std::unique_lock lock(sync.Mutex);
    sync.Changed.wait(lock, [this] { return Pending || Stopping; });
    if (!Pending)
      return;
    const TExchangeJob job = *Pending;
    Pending.reset();
    lock.unlock();
    SilentSince = std::max(SilentSince, job.HandedOver); // a late answer's grace outlasts its exchange
    Execute(job);
    Finish(job);
  }
}

void TRWThread::Overtake()
{
  TSynchronizer& sync = TSynchronizer::Instance();
  {
    std::lock_guard lock(sync.Mutex);
    Overtaken = true;
  }
  sync.Changed.notify_all();
}

bool TRWThread::Pause(bool overtakable)
{
  TSynchronizer& sync = TSynchronizer::Instance();
  std::unique_lock lock(sync.Mutex);
  // The pause counts from the hand-over or the answer, so waking up and the modem lines fall within it.
  return !sync.Changed.wait_until(lock, SilentSince + std::chrono::milliseconds(TComPort::WritePauseMs),
                                  [this, overtakable] { return overtakable && Overtaken.load(); });
}

void TRWThread::Execute(const TExchangeJob& job)
{
  if (!job.StopAll.empty())
    return StopAll(job);
  TSynchronizer& sync = TSynchronizer::Instance();
  const std::uint8_t count = std::min<std::uint8_t>(job.Count, QueueSlots);
  for (std::uint8_t i = 0; i < count; ++i) {
    const TFrame& frame = job.Queue[i];
    const std::string code = TOzmCommands::HexByte(frame[2]);
    if (!Pause())
      return LogOvertaken(job, i);
    if (!SendFrame(frame, "Comand transfered " + code, TAnswerGate::TBlock::Answer)) {
      sync.Synchronize([this] { Owner.PortFailure(); });
      return;
    }
    const TAnswer answer = WaitAnswer(frame.size());
    ReportMotion(frame[2], answer);
    if (answer == TAnswer::NoAnswer) {
      sync.Synchronize([this] { Owner.LogNoAnswer(); });
      LogProgress("no answer to command  " + code);
      sync.Synchronize([this, &frame] { Owner.LogSilence(frame[1]); });
      Owner.EventRWAllowed.Set();
      break; // the frames behind it are not sent
    }
    if (answer == TAnswer::AddressSetting)
      sync.Synchronize([this] { Owner.LogAddressNotice(); });
  }

  // The panel's status request is read now, not when the exchange started: a poll tick may have come
  // while the commands went out, or while the bus round goes (the request then goes next, once).
  bool panelAsked = false;
  for (std::size_t turn = 0; turn <= job.BusRound.size(); ++turn) {
    if (!panelAsked && Owner.Datas.StatusPolling) {
      panelAsked = true;
      if (!Pause())
        return LogOvertaken(job, count);
      if (!SendStatusRequest()) {
        sync.Synchronize([this] { Owner.PortFailure(); });
        return;
      }
    }
    if (turn == job.BusRound.size())
      break;
    if (!Pause())
      return LogOvertaken(job, count);
    if (!SendBusStatusRequest(job.BusRound[turn])) {
      sync.Synchronize([this] { Owner.PortFailure(); });
      return;
    }
  }
  Owner.EventRWAllowed.Set();
}

void TRWThread::StopAll(const TExchangeJob& job)
{
  std::optional<std::vector<std::uint8_t>> unanswered = StopEach(job.StopAll, job.PanelAddress);
  if (unanswered && !unanswered->empty()) {
    std::string addresses;
    for (std::uint8_t address : *unanswered)
      addresses.append(" $").append(TOzmCommands::HexByte(address));
    LogProgress("Stop again, unanswered:" + addresses);
    unanswered = StopEach(*unanswered, job.PanelAddress);
  }
  if (!unanswered)
    TSynchronizer::Instance().Synchronize([this] { Owner.PortFailure(); });
  else
    Owner.EventRWAllowed.Set();
}

std::optional<std::vector<std::uint8_t>> TRWThread::StopEach(const std::vector<std::uint8_t>& addresses,
                                                             std::uint8_t panel)
{
  std::vector<std::uint8_t> unanswered;
  for (std::uint8_t address : addresses) {
    Pause(false); // nothing overtakes a Stop
    const TFrame frame = TOzmCommands::FrameFor(address, CmdStop, 0);
    if (!SendFrame(frame, "Comand transfered 52 to $" + TOzmCommands::HexByte(address), TAnswerGate::TBlock::Answer))
      return std::nullopt;
    const TAnswer answer = WaitAnswer(frame.size());
    TBackstop::StopDone();
    if (address == panel)
      ReportMotion(CmdStop, answer);
    const bool answered = answer != TAnswer::NoAnswer;
    if (!answered)
      unanswered.push_back(address);
    TSynchronizer::Instance().Post([this, address, answered] { Owner.StopSent(address, answered); });
  }
  return unanswered;
}

void TRWThread::LogOvertaken(const TExchangeJob& job, std::uint8_t next)
{
  std::string codes;
  for (std::uint8_t i = next; i < std::min<std::uint8_t>(job.Count, QueueSlots); ++i)
    codes.append(" ").append(TOzmCommands::HexByte(job.Queue[i][2]));
  if (!codes.empty()) // a poll's status request is not the operator's: it goes without a word
    LogProgress("Stop goes first, not sent:" + codes);
  Owner.EventRWAllowed.Set();
}

bool TRWThread::SendStatusRequest()
{
  // The request in force as it leaves: the address may have changed since the exchange started.
  const TStatusRequest request = Owner.Datas.StatusRequest.load();
  if (!SendFrame(request, "motor status", TAnswerGate::TBlock::StatusAnswer))
    return false;
  if (WaitAnswer(request.size()) == TAnswer::NoAnswer) {
    LogProgress("motor status - no answer ");
    TSynchronizer::Instance().Synchronize([this, &request] {
      Owner.StatusLost();
      Owner.LogSilence(request[1]);
      Owner.BusStatusMissing(request[1]);
    });
  }
  return true;
}

bool TRWThread::SendBusStatusRequest(std::uint8_t address)
{
  const TStatusRequest request = TOzmCommands::StatusRequestFor(address);
  if (!SendFrame(request, "", TAnswerGate::TBlock::BusStatusAnswer)) // the bus view tells it
    return false;
  if (WaitAnswer(request.size()) == TAnswer::NoAnswer)
    TSynchronizer::Instance().Post([this, address] { Owner.BusStatusMissing(address); });
  return true;
}

bool TRWThread::SendFrame(std::span<const std::uint8_t> bytes, const std::string& progress,
                          TAnswerGate::TBlock awaited)
{
  // Any modem line on, or lines that cannot be read, is a lost connection.
  if (Owner.Port.ModemStatus() != 0)
    return false;
  // Logged as the frame leaves, so that its answer, which may come at once, is logged below it.
  if (!progress.empty())
    LogProgress(progress);
  // Armed right before the write, never before the pause: nothing read until the write is its answer.
  Owner.EventPortString.Reset();
  const std::uint64_t epoch = Owner.Port.Epoch() + 1;
  if (awaited == TAnswerGate::TBlock::BusStatusAnswer)
    Owner.Datas.Answers.OpenBus(epoch, bytes[1]);
  else
    Owner.Datas.Answers.Open(epoch, awaited == TAnswerGate::TBlock::StatusAnswer);
  const bool written = Owner.Port.WriteFrame(bytes, [this](std::vector<std::uint8_t> stale) {
    TSynchronizer::Instance().Post([this, stale = std::move(stale)] { Owner.LogStale(stale); });
  });
  // A line that gave up by itself (it floods) is a port failure, said with its reason; any other
  // frame that did not go out shows as a missing answer.
  if (!written && !Owner.Port.FailureReason().empty())
    return false;
  ++Owner.Datas.Counters.FramesSent;
  SentAtMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::system_clock::now().time_since_epoch()).count();
  SilentSince = std::chrono::steady_clock::now(); // an answer read before this is not ours
  return true;
}

TRWThread::TAnswer TRWThread::WaitAnswer(std::size_t frameBytes)
{
  const auto onWire = Owner.Port.TimeOnWire(frameBytes + TFrame{}.size());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TCommonDatas::AnswerTimeout) +
                        std::chrono::ceil<std::chrono::milliseconds>(onWire);
  // The window's thread tells of an answer once it has handled it, and a busy one may tell of an earlier
  // frame's answer now: only this frame's answer, taken as it was read, ends the wait early.
  while (Owner.EventPortString.WaitUntil(deadline) && !Owner.Datas.Answers.Taken())
    Owner.EventPortString.Reset();
  // The gate, not the event, decides: an answer taken just as the time ran out still counts.
  const bool answered = Owner.Datas.Answers.Close();
  // Answered: the line has been silent since the answer was read, not since we heard of it. Unanswered: the
  // controller's late answer may still come, and must come before the next frame goes, to be dropped as stale.
  SilentSince = answered ? std::max(SilentSince, Owner.Port.LastBlockRead())
                         : std::chrono::steady_clock::now() + std::chrono::milliseconds(TCommonDatas::LateAnswerGrace);
  if (answered)
    return TAnswer::Answered;
  // A controller that is being given a new address stays silent.
  if (Owner.Datas.AddressSetStarted || Owner.Datas.AddressSetFinished)
    return TAnswer::AddressSetting;
  ++Owner.Datas.Counters.AnswersMissing;
  return TAnswer::NoAnswer;
}

void TRWThread::LogProgress(std::string text)
{
  TSynchronizer::Instance().Post([this, text = std::move(text)] { Owner.LogProgress(text); });
}

void TRWThread::ReportMotion(std::uint8_t code, TAnswer answer)
{
  if (code != CmdRun && code != CmdStop)
    return;
  TSynchronizer::Instance().Post([this, run = code == CmdRun, answered = answer != TAnswer::NoAnswer, at = SentAtMs] {
    Owner.MotionSent(run, answered, at);
  });
}

void TRWThread::Finish(const TExchangeJob& job)
{
  // The job ends on the window's thread behind every line it posted, so nothing that the window
  // does after the wait for this worker can come before them in the log.
  TSynchronizer::Instance().Post([this, end = job.AddressSettingEnd] {
    if (end)
      Owner.AddressSettingExchangeEnded(*end);
    Done = true;
    Owner.ExchangeEnded();
  });
}
