#pragma once

#include "sequence/SequenceLink.h"

class TCtlSession;

// A test sequence's line in ozmetctl: the session's, so that its Runs are counted for the process's
// way out like any other command's, and its interrupts (Ctrl+C, SIGTERM, SIGHUP, a closed output)
// are the run's abort.
class TCtlSequenceLink : public TSequenceLink {
public:
  explicit TCtlSequenceLink(TCtlSession& session) : Session(session) {}

  TFrameLine::TReply Exchange(std::span<const std::uint8_t> frame, TFrame& answer) override;
  bool SleepUntil(TClock::time_point time) override;
  std::string AbortReason() const override;
  bool Reopen() override;
  TLineSettings Settings() const override;
  std::string Name() const override;

private:
  TCtlSession& Session;
};
