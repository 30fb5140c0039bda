#pragma once

#include <stdexcept>

// Telemetry settings that cannot be used: a broker's URL, a certificate, the library.
class TTelemetryError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};
