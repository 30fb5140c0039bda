#pragma once

#include "ChildProcess.h"
#include "TempDir.h"

#include <memory>
#include <string>

// ser2net serving one serial device on 127.0.0.1, run by the test itself: a raw accepter and a
// Telnet accepter with the COM port option, each on a port found free at start.
class TSer2net {
public:
  explicit TSer2net(std::string device);

  std::string RawUrl() const { return "tcp://127.0.0.1:" + std::to_string(RawPort); }
  std::string Rfc2217Url() const { return "rfc2217://127.0.0.1:" + std::to_string(TelnetPort); }
  // Starts it, and waits until both accepters listen; false when it would not start. The ports stay
  // those of the last start unless they were taken meanwhile.
  bool Start();
  void Kill();

private:
  void PickPorts();

  std::string Device;
  TTempDir Folder;
  int RawPort;
  int TelnetPort;
  std::unique_ptr<TChildProcess> Server;
};
