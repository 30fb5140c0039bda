#pragma once

#include <string>

// Colours of the operation log's lines; InForce keeps the colour of the line written before.
enum class TLogColour { InForce, Blue, Green, Red };

// What the protocol and the exchange need of the window, so that they are tested without one.
// Every call runs on the window's thread.
class TConsoleView {
public:
  virtual ~TConsoleView() = default;

  virtual void AppendLog(const std::string& text, TLogColour colour, bool bold) = 0;
  virtual bool ScrollLogToEnd() = 0;
  virtual void AppendMemo(const std::string& line) = 0;
  virtual void ShowMotorState() = 0;
  // A status answer was decoded into the record (after ShowMotorState): for the speed chart.
  virtual void StatusDecoded() {}
  // The record no longer tells the motor's state (a status answer went missing, the port failed):
  // shown as unknown until the next status answer is decoded.
  virtual void StatusUnknown() {}
  // A Run or a Stop left at msSinceEpoch (wall clock), and whether the controller answered it.
  virtual void MotionSent(bool /*run*/, bool /*answered*/, long long /*msSinceEpoch*/) {}
  // Stop all: the controller at `address` answered its Stop.
  virtual void StopAnswered(std::uint8_t /*address*/) {}
  virtual void DisablePollTimer() = 0;
  virtual void DisableStopMotorTimer() = 0;
  // Sets EventPortString: the exchange worker may go on.
  virtual void AnswerReceived() = 0;

  // The port buttons and the bottom panel's description.
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void SetPortPanelText(const std::string& text) = 0;
  virtual void UpdatePortButtons(bool portOpen) = 0;
  // The device the open port leads to ("" while none is open), shown beside the Parts' texts, and
  // the bottom panel's tooltip: that device, or why the port did not open.
  virtual void ShowPortDevice(const std::string& device, const std::string& toolTip) = 0;
};
