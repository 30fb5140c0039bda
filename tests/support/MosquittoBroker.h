#pragma once

#include "ChildProcess.h"
#include "TempDir.h"

#include <memory>
#include <string>

// A mosquitto broker of the test's own on a free loopback port, with a configuration it writes: anonymous
// clients refused, one user in a password file; with TLS, a certificate for 127.0.0.1 from a CA of the test's
// own. Where mosquitto (or openssl, for TLS) is not installed, Unavailable() says so and the test skips with it.
class TMosquittoBroker {
public:
  static constexpr const char* User = "bench";
  static constexpr const char* Password = "plant-secret";

  enum class TTransport { Plain, Tls };

  explicit TMosquittoBroker(TTransport transport = TTransport::Plain);
  ~TMosquittoBroker();

  const std::string& Unavailable() const { return Why; }
  std::string Url() const
  {
    return (CaFile.empty() ? "mqtt://127.0.0.1:" : "mqtts://127.0.0.1:") + std::to_string(Port);
  }
  // The CA that signed the broker's certificate; empty without TLS.
  const std::string& Ca() const { return CaFile; }
  int PortNumber() const { return Port; }
  // Killed at once, as a crash would end it; started again on the same port, ready once it accepts.
  void Kill();
  bool Start();

private:
  // The CA and the broker's certificate and key; false with the reason in Why.
  bool MakeCertificates();

  TTempDir Folder;
  std::string CaFile;
  std::string Why;
  int Port = 0;
  std::unique_ptr<TChildProcess> Broker;
};
