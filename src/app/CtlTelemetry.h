#pragma once

#include <memory>

class TCtlOptions;
class TCtlOutput;
class TMqttPublisher;

// ozmetctl's publisher under --mqtt: the broker and the station from the options, user and password from the
// environment (never a command line, which others can read). At the end, verdicts the broker did not take are
// said on standard error.
class TCtlTelemetry {
public:
  TCtlTelemetry(const TCtlOptions& options, TCtlOutput& output);
  ~TCtlTelemetry();

  // None without --mqtt.
  TMqttPublisher* Publisher() const { return Published.get(); }

private:
  TCtlOutput& Output;
  std::unique_ptr<TMqttPublisher> Published;
};
