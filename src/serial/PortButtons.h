#pragma once

class TComPort;
class TConsoleView;

// The Open port and Close port handlers, called by their buttons, at start-up, by the dialogs and
// by the exchange's recovery steps. Window's thread only.
class TPortButtons {
public:
  static constexpr const char* OpenPortErrorText = "Open port error";
  static constexpr const char* PanelPrefix = "port opened:   ";

  TPortButtons(TComPort& port, TConsoleView& view);

  void BtnOpenPortClick();
  void BtnClosePortClick();
  void UpdatePortButtons();

private:
  TComPort& Port;
  TConsoleView& View;
};
