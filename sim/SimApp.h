#pragma once

#include "SimLine.h"
#include "SimOptions.h"

#include <string>

// The ozmet-sim program: opens the line, names its device, then follows its standard input until a
// signal, the end of the input or the line's own end.
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
  void FollowInput();
  bool ReadInput();
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
