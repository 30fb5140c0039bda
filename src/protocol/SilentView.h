#pragma once

#include "protocol/ConsoleView.h"

// The window's side of the protocol where there is no window (ozmetctl, the bus scan's decoding):
// the caller reports results itself, so the log lines, the memo and the status display that the
// shared code asks for are left out.
class TSilentView : public TConsoleView {
public:
  void AppendLog(const std::string&, TLogColour, bool) override {}
  bool ScrollLogToEnd() override { return false; }
  void AppendMemo(const std::string&) override {}
  void ShowMotorState() override {}
  void DisablePollTimer() override {}
  void DisableStopMotorTimer() override {}
  void AnswerReceived() override {}
  void ShowMessage(const std::string&) override {}
  void SetPortPanelText(const std::string&) override {}
  void UpdatePortButtons(bool) override {}
  void ShowPortDevice(const std::string&, const std::string&) override {}
};
