#include "app/CtlMotorCommands.h"

#include "app/CtlCommands.h"
#include "app/CtlError.h"
#include "app/CtlInterrupt.h"
#include "app/CtlOptions.h"
#include "app/CtlSession.h"
#include "bus/BusListFile.h"
#include "files/NumberFormat.h"
#include "motor/ValueReader.h"
#include "serial/ComPort.h"
#include "serial/LineError.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <map>
#include <set>

namespace {

using namespace std::chrono;

constexpr std::string_view Directions[] = {"forward", "backward"};

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
  if (Options.Has("all-found")) {
    if (Options.Has("address"))
      throw Refused("--all-found stops the controllers of the line's bus list and --address names others: give "
                    "one of them");
    return; // the controllers come from the line's list, once the line is named
  }
  const std::vector<std::string> addresses = Options.Addresses(File ? File->Motor.Address : TMotorFields{}.Address);
  if (addresses.size() > 1 && command == "direction")
    throw Refused("--address: direction takes one controller; a list applies to status, watch, stop, run and "
                  "set-motor");
  for (const std::string& address : addresses)
    AddUnit(address);
}

// The list that the window or `scan --save` kept for this line: read before the line opens, so a
// missing one sends nothing.
void TCtlMotorCommands::PrepareLine(const std::string& line)
{
  if (!Options.Has("all-found"))
    return;
  const TBusListFile file(TCtlCommands::DataFolder(), line);
  const TBusList list = file.Load();
  for (const std::string& skipped : list.Skipped())
    Output.Warning("bus-list", "the bus list " + file.Path() + ", " + skipped);
  if (list.Empty()) {
    std::error_code error;
    const std::string what = std::filesystem::exists(file.Path(), error)
                                 ? "the bus list " + file.Path() + " names no controller"
                                 : "no bus list is kept for " + line + " (looked for " + file.Path() + ")";
    throw TCtlError(TCtlError::Usage,
                    what + "; 'ozmetctl scan --save' on this line keeps the controllers that answer as its list", false);
  }
  for (const std::uint8_t address : list.Addresses())
    AddUnit(std::to_string(address));
}

void TCtlMotorCommands::AddUnit(const std::string& address)
{
  const std::string& command = Options.Command;
  TUnit& unit = Units.emplace_back();
  const bool first = Units.size() == 1; // what is said of the values is said once
  const TMotorFields motor = MotorFields(address);
  TCtlOptions::Refuse(unit.Drive.ApplyMotor(motor), motor); // the motor panel's Apply: its frames queued
  if (command == "set-motor") {
    const std::string asked = MotorFields(address).MaxSpeed, sent = unit.Drive.MotorInForce().MaxSpeed;
    if (first && *Number(asked) != *Number(sent))
      Say("maximum speed " + asked + " rpm asked, " + sent + " rpm sent (whole rev/s of the motor)");
    return; // its frames stay queued
  }
  unit.Drive.ClearQueue(); // the motor's values are taken, not sent: set-motor sends them
  if (command == "run")
    PrepareRun(unit, first);
  if (command == "direction")
    unit.Drive.Queue(CmdSetDirection,
                     static_cast<std::uint8_t>(TCtlOptions::ChoiceOf("direction", Options.Operand, Directions)));
}

void TCtlMotorCommands::PrepareRun(TUnit& unit, bool say)
{
  const TWorkFields asked = WorkFields();
  TCtlOptions::Refuse(unit.Drive.ApplyWork(asked), {}, asked);
  const TCommonDatas& datas = unit.Drive.Datas;
  SpeedSent = datas.WorkSpeedRps * 60.0 / datas.GearRatio;
  if (say && *Number(asked.Speed) != SpeedSent)
    Say("speed " + asked.Speed + " rpm asked, " + FormatGeneral(SpeedSent) + " rpm sent (" +
        SpeedReason(datas, TOzmCommands::RpmToRps(*Number(asked.Speed) * datas.GearRatio)) + ")");
  unit.Drive.Queue(CmdRun, 0);
  Session.StopRetries(datas.MotorAddress, Retries);
}

void TCtlMotorCommands::Execute()
{
  const std::string& command = Options.Command;
  if (command == "run")
    return RunMotor();
  if (command == "watch")
    return Watch();
  if (command == "stop") {
    Session.OpenTakingOver();
    if (Units.size() > 1 || Options.Has("all-found"))
      return StopInTurn();
  }
  using TStep = void (TCtlMotorCommands::*)(TUnit&);
  static constexpr std::pair<std::string_view, TStep> Table[] = {{"status", &TCtlMotorCommands::AskStatus},
                                                                 {"set-motor", &TCtlMotorCommands::SetMotor},
                                                                 {"stop", &TCtlMotorCommands::Stop},
                                                                 {"direction", &TCtlMotorCommands::Direction}};
  const auto* step =
      std::find_if(std::begin(Table), std::end(Table), [&](const auto& entry) { return entry.first == command; });
  EachUnit([&](TUnit& unit) { (this->*step->second)(unit); });
}

void TCtlMotorCommands::EachUnit(const std::function<void(TUnit&)>& step)
{
  if (Units.size() == 1)
    return step(Units.front());
  int worst = 0;
  std::size_t failed = 0;
  for (TUnit& unit : Units) {
    try {
      step(unit);
    } catch (const TCtlError& error) {
      if (TCtlInterrupt::Requested())
        throw;
      Output.Failure(error.what(), error.ExitStatus, error.Address);
      worst = std::max(worst, error.ExitStatus);
      ++failed;
    }
  }
  if (failed)
    throw TCtlError(worst, std::to_string(failed) + " of " + std::to_string(Units.size()) + " controllers failed",
                    false);
}

void TCtlMotorCommands::SetMotor(TUnit& unit)
{
  SendQueued(unit);
  const TMotorFields taken = unit.Drive.MotorInForce();
  const TCommonDatas& datas = unit.Drive.Datas;
  Report(unit, "set-motor",
         "encoder " + taken.Encoder + ", maximum speed " + taken.MaxSpeed + " rpm (" +
             std::to_string(datas.MaxSpeedRps) + " rev/s), ratio " + taken.GearRatio,
         {{"encoder", std::int64_t{datas.EncoderPulses}},
          {"motor_max_speed_rps", std::int64_t{datas.MaxSpeedRps}},
          {"motor_max_speed_rpm", std::int64_t{datas.MaxSpeedRps * 60}},
          {"ratio", datas.GearRatio}});
}

void TCtlMotorCommands::SendRun(TUnit& unit)
{
  SendQueued(unit);
  const TWorkFields taken = unit.Drive.WorkInForce();
  const TCommonDatas& datas = unit.Drive.Datas;
  const std::string direction(Directions[taken.Direction]);
  Report(unit, "run",
         "running at " + FormatGeneral(SpeedSent) + " rpm (" + std::to_string(datas.WorkSpeedRps) +
             " rev/s), acceleration " + taken.Accel + ", deceleration " + taken.Decel + ", " + direction,
         {{"output_speed_rpm", SpeedSent},
          {"motor_speed_rps", std::int64_t{datas.WorkSpeedRps}},
          {"acceleration", std::int64_t{datas.Acceleration}},
          {"deceleration", std::int64_t{datas.Deceleration}},
          {"direction", direction}});
}

// Several controllers run together: each gets its frames in turn, the time is waited once, and
// every one of them is stopped at its end, as on every other way out.
void TCtlMotorCommands::RunMotor()
{
  RunMark = Session.RunsSent();
  EachUnit([this](TUnit& unit) { SendRun(unit); });
  const TCommonDatas& datas = Units.front().Drive.Datas;
  if (datas.MotionType != 1)
    return;
  WaitWhileRunning(TClock::now() + milliseconds(datas.MotionTimeMs));
  if (!Session.StopOnTheWayOut(RunMark, [this](std::uint8_t address) { return Counted(address); }))
    throw TCtlError(TCtlError::NoAnswer, "the Stop at the end of the run went unanswered");
  EachUnit([this](TUnit& unit) { PollUntilStopped(unit); });
}

// One controller's request a tick, so that each is asked at the window's rate; a poll that could
// not end before the run's end is left out, so that the Stop goes on time.
void TCtlMotorCommands::WaitWhileRunning(TClock::time_point end)
{
  const auto exchange = Session.Line().AnswerTimeout() + milliseconds(TComPort::WritePauseMs);
  const auto tick = std::max<TClock::duration>(PollInterval / Units.size(), exchange);
  std::size_t turn = 0;
  for (auto next = TClock::now() + tick;; next += tick) {
    const bool last = next + exchange > end;
    if (!TCtlInterrupt::SleepUntil(last ? end : next))
      throw TCtlInterrupt::Error("run cut short");
    if (last)
      return;
    try {
      PollWhileRunning(Units[turn++ % Units.size()]);
    } catch (const TCtlError&) { // an interrupt in the pause before the request
      throw TCtlInterrupt::Error("run cut short");
    } catch (const TLineError& error) {
      if (error.Kind != TLineError::TKind::LineFailed)
        throw;
      LineLost(error, end);
    }
  }
}

void TCtlMotorCommands::PollWhileRunning(TUnit& unit)
{
  TFrame answer{};
  const TStatusRequest request = unit.Drive.StatusRequest();
  const TFrameLine::TReply reply = Session.Send(request, answer);
  if (reply != TFrameLine::TReply::Answered) {
    ++unit.Missed;
    Output.Warning("missed", Session.Failed(reply, request) + " while running", request[1]);
    return;
  }
  ++unit.Polls;
  const std::int32_t count = unit.Drive.Decode(answer);
  if (Output.Verbose())
    Output.Status(unit.Drive.Datas.MotorAddress, unit.Drive.Datas, count);
}

std::vector<TCtlOutput::TField> TCtlMotorCommands::Counted(std::uint8_t address) const
{
  const auto unit = std::find_if(Units.begin(), Units.end(),
                                 [&](const TUnit& u) { return u.Drive.Datas.MotorAddress == address; });
  if (unit == Units.end())
    return {};
  return {{"polls", unit->Polls}, {"missed", unit->Missed}};
}

void TCtlMotorCommands::LineLost(const TLineError& error, TClock::time_point end)
{
  Output.Warning("line-failed", "the line " + Session.Where() + " failed: " + error.what() +
                                    ": the motor may still be running; opening it again to send Stop until the "
                                    "run would have ended");
  std::set<std::uint8_t> stopped;
  while (TClock::now() < end) {
    const bool open = Session.Reopen();
    for (const TUnit& unit : Units) {
      const std::uint8_t address = unit.Drive.Datas.MotorAddress;
      if (open && !stopped.contains(address) && !Session.TryStop(address, Retries)) {
        Session.ReportStopped(address, Counted(address));
        stopped.insert(address);
      }
    }
    if (stopped.size() == Units.size())
      throw TCtlError(TCtlError::NoAnswer, "the line failed during the run; the Stop was answered once the line "
                                           "was open again");
    if (!TCtlInterrupt::SleepUntil(std::min(end, TClock::now() + PollInterval)))
      throw TCtlInterrupt::Error("run cut short");
  }
  Session.StopOnTheWayOut(RunMark);
  throw TCtlError(TCtlError::NoAnswer, "the line failed during the run and carried no Stop by its end: the motor "
                                       "may still be running");
}

// Asks at the window's poll rate until the controller reports speed 0; the slowest ramp down from
// the fastest speed bounds the wait.
void TCtlMotorCommands::PollUntilStopped(TUnit& unit)
{
  const TCommonDatas& datas = unit.Drive.Datas;
  const auto limit = TClock::now() + seconds(256 / std::max<int>(datas.Deceleration, 1) + 5);
  for (AskStatus(unit); datas.CurrentSpeedRpm != 0; AskStatus(unit)) {
    if (TClock::now() > limit)
      throw TCtlError(TCtlError::NoAnswer, datas.MotorAddress,
                      TCtlOutput::Address(datas.MotorAddress) + ": the motor still turns after the stop");
    if (!TCtlInterrupt::SleepUntil(TClock::now() + PollInterval))
      return;
  }
}

// Sent again while it goes unanswered, whatever interrupt came: a Stop is never cut short.
void TCtlMotorCommands::Stop(TUnit& unit)
{
  const std::uint8_t address = unit.Drive.Datas.MotorAddress;
  if (const std::optional<std::string> failure = Session.TryStop(address, Retries))
    throw TCtlError(TCtlError::NoAnswer, address, *failure);
  Session.ReportStopped(address);
}

// A stop of several: one Stop to each in turn, so that a silent one holds none of the others running
// through its own retries; then each unanswered one again, after the others (--retries rounds, 1
// unless given), so that one lost answer leaves no motor running.
void TCtlMotorCommands::StopInTurn()
{
  const std::int32_t rounds = 1 + Options.Whole("retries", 0, 10, 1);
  std::vector<std::uint8_t> unanswered;
  for (const TUnit& unit : Units)
    unanswered.push_back(unit.Drive.Datas.MotorAddress);
  std::map<std::uint8_t, std::string> failures;
  for (std::int32_t sent = 1; sent <= rounds && !unanswered.empty(); ++sent) {
    if (sent > 1) {
      std::string listed;
      for (const std::uint8_t address : unanswered)
        listed += (listed.empty() ? "" : ", ") + TCtlOutput::Address(address);
      Output.Note("ozmetctl: no answer to the Stop from " + listed + ": sending it again after the others");
    }
    std::vector<std::uint8_t> still;
    for (const std::uint8_t address : unanswered) {
      if (const std::optional<std::string> failure = Session.StopOnce(address)) {
        still.push_back(address);
        failures[address] = *failure;
      } else {
        Session.ReportStopped(address, {{"sent", std::int64_t{sent}}},
                              sent == 1 ? "" : ", at Stop " + std::to_string(sent) + ", sent again after the others");
      }
    }
    unanswered = std::move(still);
  }
  for (const std::uint8_t address : unanswered)
    Output.Failure(failures[address] + ", sent " + (rounds == 1 ? "once" : std::to_string(rounds) + " times") +
                       ": the motor may still run",
                   TCtlError::NoAnswer, address);
  if (!unanswered.empty())
    throw TCtlError(TCtlError::NoAnswer,
                    std::to_string(unanswered.size()) + " of " + std::to_string(Units.size()) +
                        " controllers did not answer the Stop",
                    false);
}

void TCtlMotorCommands::Direction(TUnit& unit)
{
  SendQueued(unit);
  const std::string direction(Directions[TCtlOptions::ChoiceOf("direction", Options.Operand, Directions)]);
  Report(unit, "direction", direction, {{"direction", direction}});
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

TMotorFields TCtlMotorCommands::MotorFields(const std::string& address) const
{
  TMotorFields fields = File ? File->Motor : TMotorFields{};
  fields.Address = address;
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

void TCtlMotorCommands::SendQueued(TUnit& unit)
{
  for (const TFrame& frame : unit.Drive.Queued())
    Session.Ask(frame); // an interrupt keeps this frame and the rest from going
  unit.Drive.ClearQueue();
}

void TCtlMotorCommands::AskStatus(TUnit& unit)
{
  ShowStatus(unit, Session.Ask(unit.Drive.StatusRequest()));
}

void TCtlMotorCommands::ShowStatus(TUnit& unit, const TFrame& answer)
{
  const std::int32_t count = unit.Drive.Decode(answer);
  Output.Status(unit.Drive.Datas.MotorAddress, unit.Drive.Datas, count);
}

void TCtlMotorCommands::Report(TUnit& unit, const std::string& kind, const std::string& text,
                               std::vector<TCtlOutput::TField> fields)
{
  const std::uint8_t address = unit.Drive.Datas.MotorAddress;
  fields.insert(fields.begin(), {"address", std::int64_t{address}});
  Output.Result(kind, TCtlOutput::Address(address) + ": " + text, fields);
}
