#include "app/CtlSequenceLink.h"

#include "app/CtlError.h"
#include "app/CtlInterrupt.h"
#include "app/CtlSession.h"

TFrameLine::TReply TCtlSequenceLink::Exchange(std::span<const std::uint8_t> frame, TFrame& answer)
{
  try {
    return Session.Send(frame, answer);
  } catch (const TCtlError&) { // the session's only refusal: an interrupt before a frame other than Stop
    throw TSequenceAborted{};
  }
}

bool TCtlSequenceLink::SleepUntil(TClock::time_point time)
{
  return TCtlInterrupt::SleepUntil(time);
}

std::string TCtlSequenceLink::AbortReason() const
{
  return TCtlInterrupt::Name();
}

bool TCtlSequenceLink::Reopen()
{
  return Session.Reopen();
}

TLineSettings TCtlSequenceLink::Settings() const
{
  return Session.LineSettings();
}

std::string TCtlSequenceLink::Name() const
{
  return Session.DeviceName();
}
