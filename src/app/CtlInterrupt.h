#pragma once

#include <chrono>
#include <string>

// Ctrl+C (SIGINT), SIGTERM, SIGHUP and a closed output pipe (SIGPIPE) as ozmetctl takes them: never in
// the middle of a frame, but before the next frame or at the next wait, which they cut short, so a
// watch or a timed run ends cleanly.
class TCtlError;

class TCtlInterrupt {
public:
  using TTime = std::chrono::steady_clock::time_point;

  static void Install();
  static bool Requested();
  static bool ByCtrlC();
  // 128 + the signal's number, as a shell reports a program that the signal ended.
  static int ExitStatus();
  // "interrupted (SIGINT)", "terminated (SIGTERM)" and the like.
  static std::string Name();
  // The failure that ends a command the interrupt cut short: "interrupted (SIGINT): <what>".
  static TCtlError Error(const std::string& what);
  // False when an interrupt came first.
  static bool SleepUntil(TTime time);
  // Until a line on standard input: false when an interrupt or the input's end came first.
  static bool WaitForEnter();
};
