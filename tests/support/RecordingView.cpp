#include "RecordingView.h"

namespace {
const char* ColourName(TLogColour colour)
{
  switch (colour) {
  case TLogColour::InForce: return "InForce";
  case TLogColour::Blue: return "Blue";
  case TLogColour::Green: return "Green";
  case TLogColour::Red: return "Red";
  }
  return "?";
}
} // namespace

void TRecordingView::AppendLog(const std::string& text, TLogColour colour, bool bold)
{
  Calls.push_back(std::string("log ") + ColourName(colour) + (bold ? " bold " : " ") + text);
}

bool TRecordingView::ScrollLogToEnd()
{
  Calls.emplace_back("scroll");
  return true;
}

void TRecordingView::AppendMemo(const std::string& line)
{
  Calls.push_back("memo " + line);
}

void TRecordingView::ShowMotorState()
{
  Calls.emplace_back("show");
}

void TRecordingView::StatusUnknown()
{
  Calls.emplace_back("unknown");
}

void TRecordingView::DisablePollTimer()
{
  Calls.emplace_back("poll-off");
}

void TRecordingView::DisableStopMotorTimer()
{
  Calls.emplace_back("stop-timer-off");
}

void TRecordingView::AnswerReceived()
{
  Calls.emplace_back("answer");
  if (OnAnswerReceived)
    OnAnswerReceived();
}

void TRecordingView::ShowMessage(const std::string& text)
{
  Calls.push_back("message " + text);
}

void TRecordingView::SetPortPanelText(const std::string& text)
{
  Calls.push_back("panel " + text);
}

void TRecordingView::UpdatePortButtons(bool portOpen)
{
  Calls.push_back(portOpen ? "buttons open" : "buttons closed");
}

void TRecordingView::ShowPortDevice(const std::string& device, const std::string& toolTip)
{
  Calls.push_back("device " + device + " | " + toolTip);
}

std::vector<std::string> TRecordingView::LogLines() const
{
  return Matching("log ");
}

std::vector<std::string> TRecordingView::MemoLines() const
{
  return Matching("memo ");
}

std::vector<std::string> TRecordingView::Matching(const std::string& prefix) const
{
  std::vector<std::string> lines;
  for (const std::string& call : Calls)
    if (call.rfind(prefix, 0) == 0)
      lines.push_back(call.substr(prefix.size()));
  return lines;
}
