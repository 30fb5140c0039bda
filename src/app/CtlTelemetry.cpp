#include "app/CtlTelemetry.h"

#include "app/CtlError.h"
#include "app/CtlOptions.h"
#include "app/CtlOutput.h"
#include "sequence/SequenceResult.h"
#include "telemetry/MqttPublisher.h"
#include "telemetry/TelemetryError.h"

#include <cstdlib>

namespace {

std::string Environment(const char* name)
{
  const char* value = std::getenv(name);
  return value ? value : "";
}

} // namespace

TCtlTelemetry::TCtlTelemetry(const TCtlOptions& options, TCtlOutput& output) : Output(output)
{
  if (!options.Has("mqtt"))
    return;
  TMqttSettings settings;
  settings.Url = options.Text("mqtt");
  settings.Station = options.Text("station", StationName());
  settings.Username = Environment("OZMET_MQTT_USERNAME");
  settings.Password = Environment("OZMET_MQTT_PASSWORD");
  try {
    Published = std::make_unique<TMqttPublisher>(settings);
  } catch (const TTelemetryError& error) {
    throw TCtlError(TCtlError::Usage, error.what(), false);
  }
}

TCtlTelemetry::~TCtlTelemetry()
{
  if (!Published)
    return;
  if (const std::size_t unsent = Published->Close())
    Output.Warning("mqtt", std::to_string(unsent) + " verdicts not taken by the broker: " + Published->Status());
  if (const std::uint64_t dropped = Published->StatesDropped())
    Output.Warning("mqtt", std::to_string(dropped) + " states not published: " + Published->Status());
}
