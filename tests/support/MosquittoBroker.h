#pragma once

#include "ChildProcess.h"
#include "TempDir.h"

#include <memory>
#include <string>

// A mosquitto broker of the test's own on a free loopback port, with a configuration it writes: anonymous
// clients refused, one user in a password file. Where mosquitto is not installed, Unavailable() says so and
// the test skips with it.
class TMosquittoBroker {
public:
  static constexpr const char* User = "bench";
  static constexpr const char* Password = "plant-secret";

  TMosquittoBroker();
  ~TMosquittoBroker();

  const std::string& Unavailable() const { return Why; }
  std::string Url() const { return "mqtt://127.0.0.1:" + std::to_string(Port); }
  int PortNumber() const { return Port; }
  // Killed at once, as a crash would end it; started again on the same port, ready once it accepts.
  void Kill();
  bool Start();

private:
  TTempDir Folder;
  std::string Why;
  int Port = 0;
  std::unique_ptr<TChildProcess> Broker;
};
