#pragma once

#include "protocol/CommonDatas.h"
#include "serial/FrameLine.h"
#include "serial/LineSettings.h"

#include <chrono>
#include <span>
#include <string>

// Thrown by a link for a frame it did not send because the run is being aborted.
struct TSequenceAborted {};

// The line a sequence runs on, one frame at a time from the runner's thread: ozmetctl's session, or a line of the
// runner's own that the window hands over. An abort (Ctrl+C, a signal, Esc) cuts waits short; after it only Stop frames
// go.
class TSequenceLink {
public:
  using TClock = std::chrono::steady_clock;

  virtual ~TSequenceLink() = default;
  // The pause of silence, the frame, then its answer. Throws TLineError when the line fails, and TSequenceAborted when
  // an abort came before a frame other than Stop was written.
  virtual TFrameLine::TReply Exchange(std::span<const std::uint8_t> frame, TFrame& answer) = 0;
  // False when an abort came first.
  virtual bool SleepUntil(TClock::time_point time) = 0;
  // Why the run was aborted: "interrupted (SIGINT)", "aborted by Esc".
  virtual std::string AbortReason() const = 0;
  // After a line failure: opens the line again; false when it cannot be yet.
  virtual bool Reopen() = 0;
  virtual TLineSettings Settings() const = 0;
  // The device behind the links, or the URL.
  virtual std::string Name() const = 0;
};
