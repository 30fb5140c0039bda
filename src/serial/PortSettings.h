#pragma once

class TComPort;
class TConsoleView;

// The port number kept between runs in Data/portp.dat, and the line settings every start begins with.
class TPortSettings {
public:
  TPortSettings(TComPort& port, TConsoleView& view);

  // Before the first open: the stored port number, then 9600 baud, 8 data bits, no parity, 1 stop bit.
  void LoadPortSettings();
  void SavePortSettings();

private:
  TComPort& Port;
  TConsoleView& View;
};
