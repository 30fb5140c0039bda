#pragma once

#include "SimLine.h"
#include "SimOptions.h"

#include <string>

// The ozmet-sim program: opens the line, names its device, then serves until a signal or the line's
// own end, following the commands on its standard input meanwhile.
class TSimApp {
public:
  explicit TSimApp(TSimSettings settings);
  ~TSimApp();
  TSimApp(const TSimApp&) = delete;
  TSimApp& operator=(const TSimApp&) = delete;

  // Returns the exit code.
  int Run();

private:
  void InstallSignals();
  enum class TInput { Read, Ended, NotNow };

  void FollowInput();
  TInput ReadInput();
  void RunCommand(std::string_view line);
  static void LogTraffic(const TSimTraffic& traffic);
  static void Log(const std::string& text);
  static void Report(const std::string& message);

  TSimSettings Settings;
  TSimLine Line;
  int WakeRead = -1;
  int WakeWrite = -1;
  std::string Input;
};
