#include "RWThread.h"

#include "ComPort.h"
#include "Exchange.h"
#include "OzmCommands.h"
#include "Synchronizer.h"

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
    SilentSince = job.HandedOver;
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

bool TRWThread::Pause()
{
  TSynchronizer& sync = TSynchronizer::Instance();
  std::unique_lock lock(sync.Mutex);
  // The pause counts from the hand-over or the answer, so waking up and the modem lines fall within it.
  return !sync.Changed.wait_until(lock, SilentSince + std::chrono::milliseconds(TComPort::WritePauseMs),
                                  [this] { return Overtaken.load(); });
}

void TRWThread::Execute(const TExchangeJob& job)
{
  TSynchronizer& sync = TSynchronizer::Instance();
  const std::uint8_t count = std::min<std::uint8_t>(job.Count, QueueSlots);
  for (std::uint8_t i = 0; i < count; ++i) {
    const TFrame& frame = job.Queue[i];
    const std::string code = TOzmCommands::HexByte(frame[2]);
    if (!Pause())
      return LogOvertaken(job, i);
    if (!SendFrame(frame, "Comand transfered " + code, false)) {
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

  // Read now, not when the exchange started: a poll tick may have come while the commands went out.
  if (Owner.Datas.StatusPolling) {
    if (!Pause())
      return LogOvertaken(job, count);
    if (!SendStatusRequest()) {
      sync.Synchronize([this] { Owner.PortFailure(); });
      return;
    }
  }
  Owner.EventRWAllowed.Set();
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
  if (!SendFrame(request, "motor status", true))
    return false;
  if (WaitAnswer(request.size()) == TAnswer::NoAnswer) {
    LogProgress("motor status - no answer ");
    TSynchronizer::Instance().Synchronize([this, &request] {
      Owner.StatusLost();
      Owner.LogSilence(request[1]);
    });
  }
  return true;
}

bool TRWThread::SendFrame(std::span<const std::uint8_t> bytes, const std::string& progress, bool statusRequest)
{
  // Any modem line on, or lines that cannot be read, is a lost connection.
  if (Owner.Port.ModemStatus() != 0)
    return false;
  // Logged as the frame leaves, so that its answer, which may come at once, is logged below it.
  LogProgress(progress);
  // Armed right before the write, never before the pause: nothing read until the write is its answer.
  Owner.EventPortString.Reset();
  Owner.Datas.Answers.Open(Owner.Port.Epoch() + 1, statusRequest);
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
  Owner.EventPortString.WaitFor(std::chrono::milliseconds(TCommonDatas::AnswerTimeout) +
                                std::chrono::ceil<std::chrono::milliseconds>(onWire));
  // The gate, not the event, decides: an answer taken just as the time ran out still counts.
  const bool answered = Owner.Datas.Answers.Close();
  // Answered: the line has been silent since the answer was read, not since we heard of it.
  SilentSince = answered ? std::max(SilentSince, Owner.Port.LastBlockRead()) : std::chrono::steady_clock::now();
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
  });
}
