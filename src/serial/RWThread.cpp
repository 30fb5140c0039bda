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

void TRWThread::Execute(const TExchangeJob& job)
{
  TSynchronizer& sync = TSynchronizer::Instance();
  for (std::uint8_t i = 0; i < job.Count && i < QueueSlots; ++i) {
    const TFrame& frame = job.Queue[i];
    const std::string code = TOzmCommands::HexByte(frame[2]);
    Owner.EventPortString.Reset();
    Owner.Datas.StatusAnswerAwaited = false; // a command's answer is never a status answer
    if (!SendFrame(frame, "Comand transfered " + code)) {
      sync.Synchronize([this] { Owner.PortFailure(); });
      return;
    }
    const TAnswer answer = WaitAnswer();
    if (answer == TAnswer::NoAnswer) {
      sync.Synchronize([this] { Owner.LogNoAnswer(); });
      LogProgress("no answer to command  " + code);
      Owner.EventRWAllowed.Set();
      break; // the frames behind it are not sent
    }
    if (answer == TAnswer::AddressSetting)
      sync.Synchronize([this] { Owner.LogAddressNotice(); });
  }

  // Read now, not when the exchange started: a poll tick may have come while the commands went out.
  if (Owner.Datas.StatusPolling && !SendStatusRequest()) {
    sync.Synchronize([this] { Owner.PortFailure(); });
    return;
  }
  Owner.EventRWAllowed.Set();
}

bool TRWThread::SendStatusRequest()
{
  Owner.EventPortString.Reset();
  // The request in force as it leaves: the address may have changed since the exchange started.
  const TStatusRequest request = Owner.Datas.StatusRequest.load();
  Owner.Datas.StatusAnswerAwaited = true;
  if (!SendFrame(request, "motor status"))
    return false;
  if (WaitAnswer() == TAnswer::NoAnswer) {
    LogProgress("motor status - no answer ");
    TSynchronizer::Instance().Synchronize([this] { Owner.StatusLost(); });
  }
  return true;
}

bool TRWThread::SendFrame(std::span<const std::uint8_t> bytes, const std::string& progress)
{
  // Any modem line on, or lines that cannot be read, is a lost connection.
  if (Owner.Port.ModemStatus() != 0)
    return false;
  // The pause counts from the hand-over or the answer, so waking up and the modem lines fall within it.
  std::this_thread::sleep_until(SilentSince + std::chrono::milliseconds(TComPort::WritePauseMs));
  // Logged as the frame leaves, so that its answer, which may come at once, is logged below it.
  LogProgress(progress);
  // A frame that did not go out shows as a missing answer.
  Owner.Port.WriteBytes(bytes.data(), bytes.size());
  ++Owner.Datas.Counters.FramesSent;
  SilentSince = std::chrono::steady_clock::now(); // an answer read before this is not ours
  return true;
}

TRWThread::TAnswer TRWThread::WaitAnswer()
{
  const bool answered = Owner.EventPortString.WaitFor(std::chrono::milliseconds(TCommonDatas::AnswerTimeout));
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
