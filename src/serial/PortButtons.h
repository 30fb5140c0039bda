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
  // The port opened again after its line was lost; a failure is not told: the loop that tries again says how it
  // ended (an adapter that re-enumerates fails to open many times before it is back).
  bool Reopen();
  void BtnClosePortClick();
  void UpdatePortButtons();

private:
  void Opened();

  TComPort& Port;
  TConsoleView& View;
};
