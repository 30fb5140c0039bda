#pragma once

#include <chrono>

// A manual-reset event. Its state is guarded by the synchronizer's mutex, so the window's thread
// keeps running the background threads' synchronised calls while it waits for one.
class TEvent {
public:
  explicit TEvent(bool initiallySet);
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // True when the event was set within the time.
  bool WaitFor(std::chrono::milliseconds timeout);
  bool WaitUntil(std::chrono::steady_clock::time_point deadline);

private:
  bool State;
};
