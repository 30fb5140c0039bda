#include "RWThread.h"

#include "ComPort.h"
#include "Exchange.h"
#include "OzmCommands.h"
#include "Synchronizer.h"

#include <chrono>

TRWThread::TRWThread(TExchange& owner, const TExchangeJob& job)
    : Owner(owner), Job(job), Thread([this] { Execute(); })
{
}

TRWThread::~TRWThread()
{
  Thread.join();
}

void TRWThread::Execute()
{
  TSynchronizer& sync = TSynchronizer::Instance();
  for (std::uint8_t i = 0; i < Job.Count && i < QueueSlots; ++i) {
    const TFrame& frame = Job.Queue[i];
    const std::string code = TOzmCommands::HexByte(frame[2]);
    Owner.EventPortString.Reset();
    if (!SendFrame(frame, "Comand transfered " + code)) {
      sync.Synchronize([this] { Owner.PortFailure(); });
      return Finish();
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

  if (Owner.Datas.StatusPolling) {
    Owner.EventPortString.Reset();
    if (!SendFrame(Job.StatusRequest, "motor status")) {
      sync.Synchronize([this] { Owner.PortFailure(); });
      return Finish();
    }
    if (WaitAnswer() == TAnswer::NoAnswer) {
      LogProgress("motor status - no answer ");
      sync.Synchronize([this] { Owner.StatusLost(); });
    }
  }
  Owner.EventRWAllowed.Set();
  Finish();
}

bool TRWThread::SendFrame(std::span<const std::uint8_t> bytes, const std::string& progress)
{
  // Any modem line on, or lines that cannot be read, is a lost connection.
  if (Owner.Port.ModemStatus() != 0)
    return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(TComPort::WritePauseMs));
  // Logged as the frame leaves, so that its answer, which may come at once, is logged below it.
  LogProgress(progress);
  // A frame that did not go out shows as a missing answer.
  Owner.Port.WriteBytes(bytes.data(), bytes.size());
  return true;
}

TRWThread::TAnswer TRWThread::WaitAnswer()
{
  if (Owner.EventPortString.WaitFor(std::chrono::milliseconds(TCommonDatas::AnswerTimeout)))
    return TAnswer::Answered;
  // A controller that is being given a new address stays silent.
  if (Owner.Datas.AddressSetStarted || Owner.Datas.AddressSetFinished)
    return TAnswer::AddressSetting;
  return TAnswer::NoAnswer;
}

void TRWThread::LogProgress(const std::string& text)
{
  TSynchronizer::Instance().Synchronize([&] { Owner.LogProgress(text); });
}

void TRWThread::Finish()
{
  if (Job.EndsAddressSetting) // later silence is a missing answer again
    Owner.Datas.AddressSetFinished = false;
  TSynchronizer& sync = TSynchronizer::Instance();
  {
    std::lock_guard lock(sync.Mutex);
    Done = true;
  }
  sync.Changed.notify_all();
}
