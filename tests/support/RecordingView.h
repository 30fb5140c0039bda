#pragma once

#include "protocol/ConsoleView.h"

#include <functional>
#include <string>
#include <vector>

// A stand-in for the window that records every call in order, as one readable line each:
// "log Red CRC error ...", "memo E60152004D", "scroll", "show", "unknown", "poll-off", "answer", "message ...".
class TRecordingView : public TConsoleView {
public:
  void AppendLog(const std::string& text, TLogColour colour, bool bold) override;
  bool ScrollLogToEnd() override;
  void AppendMemo(const std::string& line) override;
  void ShowMotorState() override;
  void StatusUnknown() override;
  void DisablePollTimer() override;
  void DisableStopMotorTimer() override;
  void AnswerReceived() override;
  void ShowMessage(const std::string& text) override;
  void SetPortPanelText(const std::string& text) override;
  void UpdatePortButtons(bool portOpen) override;
  void ShowPortDevice(const std::string& device, const std::string& toolTip) override;

  // The log lines alone, without the other calls.
  std::vector<std::string> LogLines() const;
  std::vector<std::string> MemoLines() const;

  std::vector<std::string> Calls;
  // Runs after an answer is recorded: the exchange's answer event, where a test has one.
  std::function<void()> OnAnswerReceived;

private:
  std::vector<std::string> Matching(const std::string& prefix) const;
};
