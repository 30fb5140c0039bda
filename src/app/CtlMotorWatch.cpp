// The watch: TCtlMotorCommands' status requests in turn until Ctrl+C or --count, each answer published under
// --mqtt.
#include "app/CtlMotorCommands.h"

#include "app/CtlError.h"
#include "app/CtlInterrupt.h"
#include "app/CtlOptions.h"
#include "app/CtlSession.h"
#include "app/CtlTelemetry.h"
#include "telemetry/MqttPublisher.h"
#include "telemetry/TelemetryJson.h"

#include <algorithm>
#include <climits>

using namespace std::chrono;

// Each controller in turn, one request a tick, each asked every --interval (or as often as the line
// allows). A missed or damaged answer is said and counted, and the watch goes on: only a run of them
// ends it, and a controller that gave no sound answer at all was not watched.
void TCtlMotorCommands::Watch()
{
  const milliseconds interval(Options.Whole("interval", 1, MaxMilliseconds, PollInterval.count()));
  const std::int32_t count = Options.Whole("count", 1, INT_MAX, 0);
  const std::int32_t maxFailures = Options.Whole("max-failures", 1, INT_MAX, 10);
  const auto tick = interval / static_cast<std::int64_t>(Units.size());
  const TCtlTelemetry telemetry(Options, Output);
  Output.BeginStatusRows();
  auto next = TClock::now();
  bool watching = true;
  for (std::int32_t round = 0; watching && (count == 0 || round < count); ++round)
    for (std::size_t i = 0; watching && i < Units.size(); ++i) {
      watching = TCtlInterrupt::SleepUntil(next) && WatchOnce(Units[i], maxFailures, telemetry.Publisher());
      next = std::max(next + tick, TClock::now());
    }
  EachUnit([](TUnit& unit) {
    if (unit.Polls == 0 && unit.Missed > 0)
      throw TCtlError(TCtlError::NoAnswer, unit.Drive.Datas.MotorAddress,
                      TCtlOutput::Address(unit.Drive.Datas.MotorAddress) + ": no sound answer to " +
                          std::to_string(unit.Missed) + " status requests");
  });
}

bool TCtlMotorCommands::WatchOnce(TUnit& unit, std::int32_t maxFailures, TMqttPublisher* telemetry)
{
  TFrame answer{};
  const TStatusRequest request = unit.Drive.StatusRequest();
  TFrameLine::TReply reply{};
  try {
    reply = Session.Send(request, answer);
  } catch (const TCtlError&) { // Ctrl+C in the pause before the request: the watch's usual end
    return false;
  }
  const bool answered = reply == TFrameLine::TReply::Answered;
  if (answered)
    ShowStatus(unit, answer);
  if (telemetry)
    telemetry->PublishState(
        request[1], TTelemetryJson::State(request[1], unit.Drive.Datas, answered, std::chrono::system_clock::now()));
  if (answered) {
    ++unit.Polls;
    unit.InARow = 0;
    return true;
  }
  Output.Unanswered(request[1], reply == TFrameLine::TReply::NoAnswer ? "no-answer" : "bad-checksum");
  const std::string failure = Session.Failed(reply, request);
  ++unit.Missed;
  if (++unit.InARow >= maxFailures)
    throw TCtlError(TCtlError::NoAnswer, request[1], failure + ", " + std::to_string(unit.InARow) + " in a row");
  Output.Warning("missed", failure + " (" + std::to_string(unit.Missed) + " missed)", request[1]);
  return true;
}
