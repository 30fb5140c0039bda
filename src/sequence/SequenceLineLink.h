#pragma once

#include "sequence/SequenceLink.h"

#include <atomic>
#include <condition_variable>
#include <mutex>

// A line of the runner's own: the window's sequence (its port closed meanwhile, as for the bus scan) and the tests.
// Abort() may come from any thread.
class TSequenceLineLink : public TSequenceLink {
public:
  // Opens the line; throws TLineError (OpenFailed) with the window's reason.
  TSequenceLineLink(const std::string& name, const TLineSettings& settings);

  void Abort(const std::string& reason);

  TFrameLine::TReply Exchange(std::span<const std::uint8_t> frame, TFrame& answer) override;
  bool SleepUntil(TClock::time_point time) override;
  std::string AbortReason() const override;
  bool Reopen() override;
  TLineSettings Settings() const override { return LineSettings; }
  std::string Name() const override { return LineName; }

private:
  const std::string LineName;
  const TLineSettings LineSettings;
  TFrameLine Line;
  std::atomic<bool> Aborting{false};
  mutable std::mutex Lock; // guards Reason, and wakes a sleep at an abort
  std::condition_variable Woken;
  std::string Reason;
};
