#include "sequence/SequenceLineLink.h"

#include "protocol/OzmCommands.h"
#include "serial/ComPort.h"

#include <thread>

TSequenceLineLink::TSequenceLineLink(const std::string& name, const TLineSettings& settings)
    : LineName(name), LineSettings(settings)
{
  Line.Open(name, settings);
}

void TSequenceLineLink::Abort(const std::string& reason)
{
  {
    const std::lock_guard lock(Lock);
    if (Aborting)
      return; // the first reason is the one the record keeps
    Reason = reason;
    Aborting = true;
  }
  Woken.notify_all();
}

TFrameLine::TReply TSequenceLineLink::Exchange(std::span<const std::uint8_t> frame, TFrame& answer)
{
  const bool stop = frame.size() > 2 && frame[2] == CmdStop;
  const auto quietUntil = TClock::now() + std::chrono::milliseconds(TComPort::WritePauseMs);
  // A Stop always waits its whole pause: an abort must not cut the silence the controllers need.
  if (stop)
    std::this_thread::sleep_until(quietUntil);
  else if (!SleepUntil(quietUntil))
    throw TSequenceAborted{};
  return Line.ExchangeNow(frame, Line.AnswerTimeout(), answer);
}

bool TSequenceLineLink::SleepUntil(TClock::time_point time)
{
  std::unique_lock lock(Lock);
  return !Woken.wait_until(lock, time, [this] { return Aborting.load(); });
}

std::string TSequenceLineLink::AbortReason() const
{
  const std::lock_guard lock(Lock);
  return Reason;
}

bool TSequenceLineLink::Reopen()
{
  try {
    Line.Open(LineName, LineSettings);
    return true;
  } catch (const std::exception&) {
    return false; // still gone: the caller says the first failure
  }
}
