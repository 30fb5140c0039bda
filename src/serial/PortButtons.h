#pragma once

#include <functional>

class TComPort;
class TConsoleView;

// The Open port and Close port handlers, called by their buttons, at start-up, by the dialogs and
// by the exchange's recovery steps. Window's thread only.
class TPortButtons {
public:
  static constexpr const char* OpenPortErrorText = "Open port error";
  static constexpr const char* PanelPrefix = "port opened:   ";

  TPortButtons(TComPort& port, TConsoleView& view);

  // False when the port would not open. `failed` runs at once on a failure, before the message box,
  // which waits for the operator.
  bool BtnOpenPortClick(const std::function<void()>& failed = {});
  void BtnClosePortClick();
  void UpdatePortButtons();

private:
  TComPort& Port;
  TConsoleView& View;
};
