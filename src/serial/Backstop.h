#pragma once

#include <chrono>
#include <cstddef>

// What ends a program whose end hangs: SIGALRM, armed as an end begins. It gives the end the close steps' time
// and each Stop still due its own, and is armed again as each Stop completes: a large bus is stopped whole, and a
// hung end is still ended. While no end has armed it, nothing here arms it (a Stop all in the day's work).
class TBackstop {
public:
  // The close steps after the last Stop, a sequence's records included.
  static constexpr std::chrono::seconds Margin{3};
  // One Stop: its pause, a silent controller's answer time and the late answer's grace, at the slowest rate.
  static constexpr std::chrono::seconds PerStop{1};

  // An end begins: SIGALRM after the margin and the Stops known to be due. Safe in a signal handler.
  static void Arm();
  // The end has this many Stops to send.
  static void StopsDue(std::size_t stops);
  // One of them completed: answered, unanswered, or failed with its line.
  static void StopDone();
  // The end is still making progress (a lost line opened again, one try a pause): it has its time again.
  static void Progress();
};
