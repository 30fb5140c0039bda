#pragma once

#include <chrono>

// Ctrl+C (SIGINT) and SIGTERM as ozmetctl takes them: never in the middle of a frame, but at the
// next wait, which they cut short, so a watch or a timed run ends cleanly.
class TCtlInterrupt {
public:
  using TTime = std::chrono::steady_clock::time_point;

  static void Install();
  static bool Requested();
  // False when an interrupt came first.
  static bool SleepUntil(TTime time);
  // Until a line on standard input (or its end), the time, or an interrupt; no time: no limit.
  static void WaitForEnter(const TTime* until);
};
