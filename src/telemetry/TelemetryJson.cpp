#include "telemetry/TelemetryJson.h"

#include "files/JsonText.h"
#include "files/UtcTime.h"
#include "protocol/CommonDatas.h"

namespace {

using TValue = TJsonText::TValue;

const char* DirectionText(int direction)
{
  return direction ? "backward" : "forward";
}

} // namespace

std::string TTelemetryJson::State(std::uint8_t address, const TCommonDatas& datas, bool live, TTime at)
{
  TValue state = TValue::object();
  state["address"] = address;
  state["speed_rpm"] = TJsonText::Number(datas.CurrentSpeedRpm);
  state["direction"] = DirectionText(datas.ActualDirection);
  state["motor_revs"] = datas.MotorRevCounter;
  state["feedback"] = datas.FeedbackOn;
  state["live"] = live;
  state["at"] = UtcText(at);
  return TJsonText::Line(state);
}

std::string TTelemetryJson::State(const TSample& sample, TTime at)
{
  TValue state = TValue::object();
  state["address"] = sample.Address;
  state["speed_rpm"] = TJsonText::Number(sample.SpeedRpm);
  state["direction"] = DirectionText(sample.Direction);
  state["motor_revs"] = sample.Counter;
  state["feedback"] = sample.Feedback;
  state["live"] = sample.State == TSample::TState::Answered;
  state["at"] = UtcText(at);
  return TJsonText::Line(state);
}

std::string TTelemetryJson::Sequence(const TRunResult& run, const std::string& step, const std::string& text,
                                     double secondsLeft, const TValue& checks)
{
  TValue sequence = TValue::object();
  sequence["run_id"] = run.Id;
  sequence["sequence"] = TJsonText::Text(run.Name);
  sequence["step"] = step;
  sequence["text"] = TJsonText::Text(text);
  sequence["seconds_left"] = TJsonText::Number(secondsLeft);
  sequence["checks"] = checks;
  return TJsonText::Line(sequence);
}

TValue TTelemetryJson::Check(std::uint8_t address, const std::string& step, const TCheckResult& check)
{
  TValue decided = TValue::object();
  decided["address"] = address;
  decided["step"] = step;
  decided["name"] = TJsonText::Text(check.Name);
  decided["measured"] = TJsonText::Number(check.Measured);
  decided["verdict"] = VerdictText(check.Verdict);
  return decided;
}

std::string TTelemetryJson::Verdict(const TRunResult& run, const TControllerResult& controller)
{
  TValue verdict = TValue::object();
  verdict["run_id"] = run.Id;
  verdict["sequence"] = TJsonText::Text(run.Name);
  verdict["address"] = controller.Address;
  verdict["serial"] = TJsonText::Text(controller.Unit);
  verdict["verdict"] = VerdictText(controller.Verdict);
  verdict["why"] = TJsonText::Text(WhyNotPassed(controller, run.Why));
  verdict["at"] = UtcText(run.End);
  return TJsonText::Line(verdict);
}
