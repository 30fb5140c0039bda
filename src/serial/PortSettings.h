#pragma once

#include <cstdint>
#include <optional>
#include <string>

class TComPort;
class TConsoleView;

// The port number kept between runs in Data/portp.dat, and the line settings every start begins with.
class TPortSettings {
public:
  TPortSettings(TComPort& port, TConsoleView& view);

  // Before the first open: the stored port number, then 9600 baud, 8 data bits, no parity, 1 stop bit.
  void LoadPortSettings();
  void SavePortSettings();
  // The command line's choice for this run only: the port (the file keeps its own) and the device
  // linked to it. Before the first open, so that a stored port not wanted now shows no error.
  void ChooseForThisRun(std::optional<std::int32_t> port, const std::optional<std::string>& device);
  // At the close: the port in force is kept, unless it is the one chosen for this run only.
  void SaveAtClose();

private:
  TComPort& Port;
  TConsoleView& View;
  std::optional<std::int32_t> PortForThisRun;
};
