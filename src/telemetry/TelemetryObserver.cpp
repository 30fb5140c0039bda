#include "telemetry/TelemetryObserver.h"

#include "telemetry/MqttPublisher.h"
#include "telemetry/TelemetryJson.h"

#include <algorithm>

TTelemetryObserver::TTelemetryObserver(TMqttPublisher& publisher) : Publisher(publisher)
{
}

void TTelemetryObserver::RunBegun(const TRunResult& run)
{
  Header = run;
  Checks = TJsonText::TValue::array();
}

void TTelemetryObserver::StepBegun(const std::string& path, const std::string& text, TClock::time_point planned,
                                   double seconds)
{
  Step = path;
  Text = text;
  Ends = planned + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds));
  TellStep();
}

void TTelemetryObserver::Sample(const TSample& sample)
{
  Publisher.PublishState(sample.Address, TTelemetryJson::State(sample, std::chrono::system_clock::now()));
}

void TTelemetryObserver::CheckDecided(std::uint8_t address, const std::string& path, const TCheckResult& check)
{
  Checks.push_back(TTelemetryJson::Check(address, path, check));
  TellStep();
}

void TTelemetryObserver::RunEnded(const TRunResult& run)
{
  for (const TControllerResult& controller : run.Controllers)
    Publisher.PublishVerdict(TTelemetryJson::Verdict(run, controller));
}

void TTelemetryObserver::TellStep()
{
  // To the millisecond: a dashboard shows a countdown, not the clock's noise.
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(Ends - TClock::now()).count();
  Publisher.PublishSequence(TTelemetryJson::Sequence(
      Header, Step, Text, static_cast<double>(std::max<std::int64_t>(left, 0)) / 1000, Checks));
}
