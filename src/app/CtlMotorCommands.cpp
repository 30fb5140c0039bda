#include "CtlMotorCommands.h"

#include "ComPort.h"
#include "CtlError.h"
#include "CtlInterrupt.h"
#include "CtlOptions.h"
#include "CtlSession.h"
#include "LineError.h"
#include "NumberFormat.h"
#include "ValueReader.h"

#include <algorithm>
#include <climits>

namespace {

using namespace std::chrono;

constexpr std::string_view Directions[] = {"forward", "backward"};
constexpr milliseconds PollInterval{500}; // the window's poll timer
constexpr std::int32_t MaxMilliseconds = 3'600'000;

TCtlError Refused(const std::string& message)
{
  return TCtlError(TCtlError::Usage, message);
}

// A number as the panels read it: decimal with a fraction, or a whole one in $hex.
std::optional<double> Number(const std::string& text)
{
  double value = 0;
  if (ParseReal(text, value))
    return value;
  const auto whole = ParseValue(text);
  return whole ? std::optional<double>(*whole) : std::nullopt;
}

// Why the speed frame carries other than was asked: whole rev/s, and one step below the maximum.
std::string SpeedReason(const TCommonDatas& datas, std::uint8_t rounded)
{
  const std::string sent = std::to_string(datas.WorkSpeedRps) + " rev/s of the motor";
  const std::string maximum = "the maximum speed of " + std::to_string(datas.MaxSpeedRps) + " rev/s, " +
                              std::to_string(datas.MaxSpeedRps * 60) + " rpm, that --max-speed or its default gives";
  if (datas.WorkSpeedRps >= datas.MaxSpeedRps && datas.WorkSpeedRps > 0)
    return sent + ": above " + maximum;
  if (rounded != datas.WorkSpeedRps)
    return sent + ", one step below " + maximum + ": the controller runs only below it";
  return sent + ": the controller takes whole rev/s";
}

} // namespace

TCtlMotorCommands::TCtlMotorCommands(const TCtlOptions& options, TCtlOutput& output, TCtlSession& session)
    : Options(options), Output(output), Session(session)
{
}

void TCtlMotorCommands::Prepare()
{
  const std::string& command = Options.Command;
  File = ParameterFile();
  if (command == "set-motor" && !File && !(Options.Has("encoder") && Options.Has("max-speed")))
    throw Refused("set-motor needs --encoder and --max-speed, or --parameters");
  if (command == "run" && !File && !Options.Has("speed"))
    throw Refused("run needs --speed, or --parameters");
  Retries = Options.Whole("retries", 0, 10, 2);
  Options.Whole("interval", 1, MaxMilliseconds, 0);
  Options.Whole("count", 1, INT_MAX, 0);
  Options.Whole("max-failures", 1, INT_MAX, 0);
  Drive.ApplyMotor(MotorFields()); // the motor panel's Apply: its frames queued
  if (command == "set-motor") {
    const std::string asked = MotorFields().MaxSpeed, sent = Drive.MotorInForce().MaxSpeed;
    if (*Number(asked) != *Number(sent))
      Say("maximum speed " + asked + " rpm asked, " + sent + " rpm sent (whole rev/s of the motor)");
    return; // its frames stay queued
  }
  Drive.ClearQueue(); // the motor's values are taken, not sent: set-motor sends them
  if (command == "run")
    PrepareRun();
  if (command == "direction")
    Drive.Queue(CmdSetDirection,
                static_cast<std::uint8_t>(TCtlOptions::ChoiceOf("direction", Options.Operand, Directions)));
}

void TCtlMotorCommands::PrepareRun()
{
  const TWorkFields asked = WorkFields();
  Drive.ApplyWork(asked);
  const TCommonDatas& datas = Drive.Datas;
  SpeedSent = datas.WorkSpeedRps * 60.0 / datas.GearRatio;
  if (*Number(asked.Speed) != SpeedSent)
    Say("speed " + asked.Speed + " rpm asked, " + FormatGeneral(SpeedSent) + " rpm sent (" +
        SpeedReason(datas, TOzmCommands::RpmToRps(*Number(asked.Speed) * datas.GearRatio)) + ")");
  Drive.Queue(CmdRun, 0);
  Session.StopRetries(datas.MotorAddress, Retries);
}

void TCtlMotorCommands::Execute()
{
  using TStep = void (TCtlMotorCommands::*)();
  static constexpr std::pair<std::string_view, TStep> Table[] = {
      {"status", &TCtlMotorCommands::AskStatus}, {"set-motor", &TCtlMotorCommands::SetMotor},
      {"run", &TCtlMotorCommands::RunMotor},     {"stop", &TCtlMotorCommands::Stop},
      {"direction", &TCtlMotorCommands::Direction}, {"watch", &TCtlMotorCommands::Watch}};
  const auto* step =
      std::find_if(std::begin(Table), std::end(Table), [&](const auto& entry) { return entry.first == Options.Command; });
  (this->*step->second)();
}

void TCtlMotorCommands::SetMotor()
{
  SendQueued();
  const TMotorFields taken = Drive.MotorInForce();
  Report("set-motor",
         "encoder " + taken.Encoder + ", maximum speed " + taken.MaxSpeed + " rpm (" +
             std::to_string(Drive.Datas.MaxSpeedRps) + " rev/s), ratio " + taken.GearRatio,
         {{"encoder", std::int64_t{Drive.Datas.EncoderPulses}},
          {"motor_max_speed_rps", std::int64_t{Drive.Datas.MaxSpeedRps}},
          {"motor_max_speed_rpm", std::int64_t{Drive.Datas.MaxSpeedRps * 60}},
          {"ratio", Drive.Datas.GearRatio}});
}

void TCtlMotorCommands::RunMotor()
{
  RunMark = Session.RunsSent();
  SendQueued();
  const TWorkFields taken = Drive.WorkInForce();
  const std::string direction(Directions[taken.Direction]);
  Report("run",
         "running at " + FormatGeneral(SpeedSent) + " rpm (" + std::to_string(Drive.Datas.WorkSpeedRps) +
             " rev/s), acceleration " + taken.Accel + ", deceleration " + taken.Decel + ", " + direction,
         {{"output_speed_rpm", SpeedSent},
          {"motor_speed_rps", std::int64_t{Drive.Datas.WorkSpeedRps}},
          {"acceleration", std::int64_t{Drive.Datas.Acceleration}},
          {"deceleration", std::int64_t{Drive.Datas.Deceleration}},
          {"direction", direction}});
  if (Drive.Datas.MotionType != 1)
    return;
  WaitWhileRunning(TClock::now() + milliseconds(Drive.Datas.MotionTimeMs));
  if (!Session.StopOnTheWayOut(RunMark, {{"polls", Polls}, {"missed", Missed}}))
    throw TCtlError(TCtlError::NoAnswer, Addressed("the Stop at the end of the run went unanswered"));
  PollUntilStopped();
}

// A poll that could not end before the run's end is left out, so that the Stop goes on time.
void TCtlMotorCommands::WaitWhileRunning(TClock::time_point end)
{
  const auto exchange = Session.Line().AnswerTimeout() + milliseconds(TComPort::WritePauseMs);
  for (auto next = TClock::now() + PollInterval;; next += PollInterval) {
    const bool last = next + exchange > end;
    if (!TCtlInterrupt::SleepUntil(last ? end : next))
      throw TCtlInterrupt::Error("run cut short");
    if (last)
      return;
    try {
      PollWhileRunning();
    } catch (const TCtlError&) { // an interrupt in the pause before the request
      throw TCtlInterrupt::Error("run cut short");
    } catch (const TLineError& error) {
      if (error.Kind != TLineError::TKind::LineFailed)
        throw;
      LineLost(error, end);
    }
  }
}

void TCtlMotorCommands::PollWhileRunning()
{
  TFrame answer{};
  const TStatusRequest request = Drive.StatusRequest();
  const TFrameLine::TReply reply = Session.Send(request, answer);
  if (reply != TFrameLine::TReply::Answered) {
    ++Missed;
    Output.Warning("missed", Session.Failed(reply, request) + " while running");
    return;
  }
  ++Polls;
  const std::int32_t count = Drive.Decode(answer);
  if (Output.Verbose())
    Output.Status(Drive.Datas.MotorAddress, Drive.Datas, count);
}

void TCtlMotorCommands::LineLost(const TLineError& error, TClock::time_point end)
{
  Output.Warning("line-failed", "the line " + Session.Where() + " failed: " + error.what() +
                                    ": the motor may still be running; opening it again to send Stop until the "
                                    "run would have ended");
  const std::uint8_t address = Drive.Datas.MotorAddress;
  while (TClock::now() < end) {
    if (Session.Reopen() && !Session.TryStop(address, Retries)) {
      Session.ReportStopped(address, {{"polls", Polls}, {"missed", Missed}});
      throw TCtlError(TCtlError::NoAnswer, Addressed("the line failed during the run; the Stop was answered once "
                                                     "the line was open again"));
    }
    if (!TCtlInterrupt::SleepUntil(std::min(end, TClock::now() + PollInterval)))
      throw TCtlInterrupt::Error("run cut short");
  }
  Session.StopOnTheWayOut(RunMark);
  throw TCtlError(TCtlError::NoAnswer, Addressed("the line failed during the run and carried no Stop by its end: "
                                                 "the motor may still be running"));
}

// Asks at the window's poll rate until the controller reports speed 0; the slowest ramp down from
// the fastest speed bounds the wait.
void TCtlMotorCommands::PollUntilStopped()
{
  const auto limit = TClock::now() + seconds(256 / std::max<int>(Drive.Datas.Deceleration, 1) + 5);
  for (AskStatus(); Drive.Datas.CurrentSpeedRpm != 0; AskStatus()) {
    if (TClock::now() > limit)
      throw TCtlError(TCtlError::NoAnswer, Addressed("the motor still turns after the stop"));
    if (!TCtlInterrupt::SleepUntil(TClock::now() + PollInterval))
      return;
  }
}

// Sent again while it goes unanswered, whatever interrupt came: a Stop is never cut short. Where
// another ozmetctl or the window holds the line, that program is asked to end first.
void TCtlMotorCommands::Stop()
{
  Session.OpenTakingOver();
  if (const std::optional<std::string> failure = Session.TryStop(Drive.Datas.MotorAddress, Retries))
    throw TCtlError(TCtlError::NoAnswer, *failure);
  Session.ReportStopped(Drive.Datas.MotorAddress);
}

void TCtlMotorCommands::Direction()
{
  SendQueued();
  const std::string direction(Directions[TCtlOptions::ChoiceOf("direction", Options.Operand, Directions)]);
  Report("direction", direction, {{"direction", direction}});
}

// A missed or damaged answer is said and counted, and the watch goes on: only a run of them ends it,
// and a watch that got no sound answer at all did not watch.
void TCtlMotorCommands::Watch()
{
  const milliseconds interval(Options.Whole("interval", 1, MaxMilliseconds, PollInterval.count()));
  const std::int32_t count = Options.Whole("count", 1, INT_MAX, 0);
  const std::int32_t maxFailures = Options.Whole("max-failures", 1, INT_MAX, 10);
  const std::uint8_t address = Drive.Datas.MotorAddress;
  Output.BeginStatusRows();
  auto next = TClock::now();
  std::int32_t n = 0, inARow = 0, missed = 0;
  for (; (count == 0 || n < count) && TCtlInterrupt::SleepUntil(next); ++n) {
    next = next + interval;
    TFrame answer{};
    const TStatusRequest request = Drive.StatusRequest();
    TFrameLine::TReply reply{};
    try {
      reply = Session.Send(request, answer);
    } catch (const TCtlError&) { // Ctrl+C in the pause before the request: the watch's usual end
      break;
    }
    if (reply == TFrameLine::TReply::Answered) {
      ShowStatus(answer);
      inARow = 0;
    } else {
      Output.Unanswered(address, reply == TFrameLine::TReply::NoAnswer ? "no-answer" : "bad-checksum");
      const std::string failure = Session.Failed(reply, request);
      if (++inARow >= maxFailures)
        throw TCtlError(TCtlError::NoAnswer, failure + ", " + std::to_string(inARow) + " in a row");
      Output.Warning("missed", failure + " (" + std::to_string(++missed) + " missed)");
    }
    next = std::max(next, TClock::now());
  }
  if (n > 0 && missed == n)
    throw TCtlError(TCtlError::NoAnswer, Addressed("no sound answer to " + std::to_string(n) + " status requests"));
}

std::optional<TParameterFile::TContents> TCtlMotorCommands::ParameterFile() const
{
  if (!Options.Has("parameters"))
    return std::nullopt;
  TParameterFile::TReadResult read = TParameterFile::Load(Options.Text("parameters"));
  if (!read.Contents)
    throw TCtlError(TCtlError::Usage, "--parameters: " + read.Error, false);
  return read.Contents;
}

TMotorFields TCtlMotorCommands::MotorFields() const
{
  TMotorFields fields = File ? File->Motor : TMotorFields{};
  fields.Address = Options.Text("address", fields.Address);
  fields.Encoder = Options.Text("encoder", fields.Encoder);
  fields.MaxSpeed = Options.Text("max-speed", fields.MaxSpeed);
  fields.GearRatio = Options.Text("ratio", fields.GearRatio);
  return fields;
}

TWorkFields TCtlMotorCommands::WorkFields() const
{
  TWorkFields fields = File ? File->Work : TWorkFields{};
  fields.Speed = Options.Text("speed", fields.Speed);
  fields.Accel = Options.Text("accel", fields.Accel);
  fields.Decel = Options.Text("decel", fields.Decel);
  fields.Direction = static_cast<int>(Options.Choice("direction", Directions, fields.Direction == 1));
  if (Options.Has("for")) {
    fields.MotionType = 1;
    fields.Time = Options.Text("for");
  }
  return fields;
}

void TCtlMotorCommands::Say(const std::string& text) const
{
  if (Options.Has("strict"))
    throw Refused(text + "; --strict refuses it");
  Output.Note("ozmetctl: " + text);
}

void TCtlMotorCommands::SendQueued()
{
  for (const TFrame& frame : Drive.Queued())
    Session.Ask(frame); // an interrupt keeps this frame and the rest from going
  Drive.ClearQueue();
}

void TCtlMotorCommands::AskStatus()
{
  ShowStatus(Session.Ask(Drive.StatusRequest()));
}

void TCtlMotorCommands::ShowStatus(const TFrame& answer)
{
  const std::int32_t count = Drive.Decode(answer);
  Output.Status(Drive.Datas.MotorAddress, Drive.Datas, count);
}

std::string TCtlMotorCommands::Addressed(const std::string& text) const
{
  return TCtlOutput::Address(Drive.Datas.MotorAddress) + ": " + text;
}

void TCtlMotorCommands::Report(const std::string& kind, const std::string& text,
                               std::vector<TCtlOutput::TField> fields)
{
  fields.insert(fields.begin(), {"address", std::int64_t{Drive.Datas.MotorAddress}});
  Output.Result(kind, Addressed(text), fields);
}
