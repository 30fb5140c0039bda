#include "CtlCommands.h"

#include "BusScan.h"
#include "CtlScanReport.h"
#include "ComPort.h"
#include "CtlError.h"
#include "CtlInterrupt.h"
#include "CtlOptions.h"
#include "CtlOutput.h"
#include "DataFolder.h"
#include "NumberFormat.h"
#include "PortSettingsFile.h"
#include "ValueReader.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>

namespace {

using namespace std::chrono;
using TClock = steady_clock;

constexpr std::string_view Directions[] = {"forward", "backward"};
constexpr milliseconds AnswerTimeout{TCommonDatas::AnswerTimeout};
constexpr milliseconds PollInterval{500}; // the window's poll timer
constexpr std::int32_t MaxMilliseconds = 3'600'000;

TCtlError Refused(const std::string& message)
{
  return TCtlError(TCtlError::Usage, message);
}

// The window's Data folder, found by the window's rule from this program's own folder.
std::string DataFolder()
{
  std::error_code error;
  const TDataFolder data =
      TDataFolder::Find(std::filesystem::read_symlink("/proc/self/exe", error).parent_path().string());
  if (!data.Problem.empty())
    std::fprintf(stderr, "ozmetctl: %s\n", data.Problem.c_str());
  return data.Path;
}

} // namespace

TCtlCommands::TCtlCommands(const TCtlOptions& options, TCtlOutput& output) : Options(options), Output(output)
{
}

void TCtlCommands::Run()
{
  using TCommand = void (TCtlCommands::*)();
  static constexpr std::pair<std::string_view, TCommand> Table[] = {
      {"status", &TCtlCommands::Status},       {"set-motor", &TCtlCommands::SetMotor},
      {"run", &TCtlCommands::RunMotor},        {"stop", &TCtlCommands::Stop},
      {"direction", &TCtlCommands::Direction}, {"watch", &TCtlCommands::Watch},
      {"set-address", &TCtlCommands::SetAddress}, {"scan", &TCtlCommands::Scan}};
  const auto* command = std::find_if(std::begin(Table), std::end(Table),
                                     [&](const auto& entry) { return entry.first == Options.Command; });
  (this->*command->second)();
}

void TCtlCommands::Status()
{
  ApplyMotor(std::nullopt);
  AskStatus();
}

void TCtlCommands::SetMotor()
{
  const auto file = ParameterFile();
  if (!file && !(Options.Has("encoder") && Options.Has("max-speed")))
    throw Refused("set-motor needs --encoder and --max-speed, or --parameters");
  ApplyMotor(file);
  SendQueued();
  const TMotorFields taken = Drive.MotorInForce();
  Report("set-motor",
         "encoder " + taken.Encoder + ", maximum speed " + taken.MaxSpeed + " rpm (" +
             std::to_string(Drive.Datas.MaxSpeedRps) + " rev/s), ratio " + taken.GearRatio,
         {{"encoder", std::int64_t{Drive.Datas.EncoderPulses}},
          {"max_speed_rps", std::int64_t{Drive.Datas.MaxSpeedRps}},
          {"max_speed_rpm", std::int64_t{Drive.Datas.MaxSpeedRps * 60}},
          {"ratio", Drive.Datas.GearRatio}});
}

void TCtlCommands::RunMotor()
{
  const auto file = ParameterFile();
  if (!file && !Options.Has("speed"))
    throw Refused("run needs --speed, or --parameters");
  ApplyMotor(file);
  Drive.ClearQueue(); // the motor's values are taken, not sent: set-motor sends them
  Drive.ApplyWork(WorkFields(file));
  Drive.Queue(CmdRun, 0);
  SendQueued();
  const TWorkFields taken = Drive.WorkInForce();
  const std::string direction(Directions[taken.Direction]);
  double speed = 0;
  ParseReal(taken.Speed, speed);
  Report("run",
         "running at " + taken.Speed + " rpm (" + std::to_string(Drive.Datas.WorkSpeedRps) + " rev/s), acceleration " +
             taken.Accel + ", deceleration " + taken.Decel + ", " + direction,
         {{"speed_rpm", speed},
          {"speed_rps", std::int64_t{Drive.Datas.WorkSpeedRps}},
          {"acceleration", std::int64_t{Drive.Datas.Acceleration}},
          {"deceleration", std::int64_t{Drive.Datas.Deceleration}},
          {"direction", direction}});
  if (Drive.Datas.MotionType != 1)
    return;
  // Ctrl+C during a timed motion stops the motor at once rather than leaving it running.
  TCtlInterrupt::SleepUntil(TClock::now() + milliseconds(Drive.Datas.MotionTimeMs));
  StopMotor();
  PollUntilStopped();
}

void TCtlCommands::Stop()
{
  ApplyMotor(std::nullopt);
  StopMotor();
}

void TCtlCommands::Direction()
{
  const auto direction = static_cast<std::uint8_t>(TCtlOptions::ChoiceOf("direction", Options.Operand, Directions));
  ApplyMotor(std::nullopt);
  Drive.ClearQueue();
  Drive.Queue(CmdSetDirection, direction);
  SendQueued();
  Report("direction", std::string(Directions[direction]), {{"direction", std::string(Directions[direction])}});
}

void TCtlCommands::Watch()
{
  const milliseconds interval(Options.Whole("interval", 1, MaxMilliseconds, PollInterval.count()));
  const std::int32_t count = Options.Whole("count", 1, INT_MAX, 0);
  ApplyMotor(std::nullopt);
  auto next = TClock::now();
  for (std::int32_t n = 0; (count == 0 || n < count) && TCtlInterrupt::SleepUntil(next); ++n) {
    AskStatus();
    next = std::max(next + interval, TClock::now());
  }
}

void TCtlCommands::SetAddress()
{
  if (const auto fault = ValueFault(TField::Address, Options.Operand, 0, 254))
    throw Refused("NEW: \"" + Options.Operand + "\" is " + fault->Reason);
  const auto address = static_cast<std::uint8_t>(*ParseValue(Options.Operand));
  const std::int32_t wait = Options.Whole("wait", 0, MaxMilliseconds / 1000, -1);
  Broadcast(CmdAddressSetBegin, address);
  const std::string when = wait < 0 ? ", then Enter." : " within " + std::to_string(wait) + " s.";
  Output.Note("Press the button of the controller that is to take the address " + TCtlOutput::Address(address) + when);
  const auto until = TClock::now() + seconds(wait);
  TCtlInterrupt::WaitForEnter(wait < 0 ? nullptr : &until);
  // Sent also after Ctrl+C, as when the window's dialog closes: no controller stays waiting.
  Broadcast(CmdAddressSetEnd, address);
  Output.Result("set-address",
                "address " + TCtlOutput::Address(address) + " given to the controller whose button was pressed",
                {{"address", std::int64_t{address}}});
}

void TCtlCommands::Scan()
{
  const std::int32_t from = Options.Whole("from", 0, 254, 0);
  const std::int32_t to = Options.Whole("to", 0, 254, 254);
  const milliseconds timeout(Options.Whole("timeout-ms", 1, MaxMilliseconds, 30));
  if (from > to)
    throw Refused("--from " + std::to_string(from) + " is above --to " + std::to_string(to));
  ApplyMotor(std::nullopt); // checks the ratio before the line opens
  const TMotorFields motor = MotorFields(std::nullopt);
  TCtlScanReport report(Output, motor);
  const unsigned found =
      TBusScan(Line(), report).Run(static_cast<std::uint8_t>(from), static_cast<std::uint8_t>(to), timeout);
  Output.EndProgress();
  const std::string range = TCtlOutput::Address(static_cast<std::uint8_t>(from)) + ".." +
                            TCtlOutput::Address(static_cast<std::uint8_t>(to));
  if (found == 0)
    throw TCtlError(TCtlError::NoAnswer, "no controller answered on " + range);
  Output.Result("scan", std::to_string(found) + " answered on " + range,
                {{"from", std::int64_t{from}}, {"to", std::int64_t{to}}, {"found", std::int64_t{found}}});
}

std::optional<TParameterFile::TContents> TCtlCommands::ParameterFile() const
{
  if (!Options.Has("parameters"))
    return std::nullopt;
  TParameterFile::TReadResult read = TParameterFile::Load(Options.Text("parameters"));
  if (!read.Contents)
    throw Refused("--parameters: " + read.Error);
  return read.Contents;
}

void TCtlCommands::ApplyMotor(const std::optional<TParameterFile::TContents>& file)
{
  Drive.ApplyMotor(MotorFields(file));
}

TMotorFields TCtlCommands::MotorFields(const std::optional<TParameterFile::TContents>& file) const
{
  TMotorFields fields = file ? file->Motor : TMotorFields{};
  fields.Address = Options.Text("address", fields.Address);
  fields.Encoder = Options.Text("encoder", fields.Encoder);
  fields.MaxSpeed = Options.Text("max-speed", fields.MaxSpeed);
  fields.GearRatio = Options.Text("ratio", fields.GearRatio);
  return fields;
}

TWorkFields TCtlCommands::WorkFields(const std::optional<TParameterFile::TContents>& file) const
{
  TWorkFields fields = file ? file->Work : TWorkFields{};
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

std::string TCtlCommands::PortName() const
{
  if (Options.Has("device") && Options.Has("port"))
    throw Refused("give --port or --device, not both");
  if (Options.Has("device"))
    return Options.Text("device");
  const std::string data = DataFolder();
  // Without --port, the port the window uses: the number its settings file keeps.
  const std::int32_t stored = TPortSettingsFile(data + "/portp.dat").Load().PortNumber.value_or(0);
  return TComPort::DeviceNameFor(data, Options.Whole("port", 1, 255, stored));
}

TFrameLine& TCtlCommands::Line()
{
  if (!OpenLine) {
    const TLineSettings settings = Options.LineSettings();
    const std::string name = PortName();
    OpenLine.emplace().Open(name, settings);
  }
  return *OpenLine;
}

void TCtlCommands::SendQueued()
{
  for (const TFrame& frame : Drive.Queued())
    Ask(frame);
  Drive.ClearQueue();
}

// The frames behind one that is not answered soundly are not sent.
TFrame TCtlCommands::Ask(std::span<const std::uint8_t> frame)
{
  TFrame answer{};
  const TFrameLine::TReply reply = Line().Exchange(frame, AnswerTimeout, answer);
  const std::string what =
      frame[2] == CmdGetStatus ? "the status request" : "command " + TOzmCommands::HexByte(frame[2]);
  // Dropped, never taken for this answer; said, as the window says it.
  if (!Line().StaleBytes().empty())
    Output.Note(StaleText + TOzmCommands::LogBytes(Line().StaleBytes()) + " (before " + what + ")");
  if (reply == TFrameLine::TReply::NoAnswer)
    throw TCtlError(TCtlError::NoAnswer, Addressed("no answer to " + what));
  if (reply == TFrameLine::TReply::BadChecksum)
    throw TCtlError(TCtlError::NoAnswer, Addressed("bad checksum in the answer to " + what));
  return answer;
}

// Controllers never answer a broadcast: the answer time passes in silence, as in the window.
void TCtlCommands::Broadcast(std::uint8_t command, std::uint8_t value)
{
  Drive.ClearQueue();
  Drive.QueueBroadcast(command, value);
  TFrame unused{};
  Line().Exchange(Drive.Queued().front(), AnswerTimeout, unused);
  Drive.ClearQueue();
}

void TCtlCommands::AskStatus()
{
  const TFrame answer = Ask(Drive.StatusRequest());
  Output.Status(Drive.Datas.MotorAddress, Drive.Datas, Drive.Decode(answer));
}

void TCtlCommands::StopMotor()
{
  Drive.ClearQueue();
  Drive.Queue(CmdStop, 0);
  SendQueued();
  Report("stop", "stopped", {});
}

// Asks at the window's poll rate until the controller reports speed 0; the slowest ramp down from
// the fastest speed bounds the wait.
void TCtlCommands::PollUntilStopped()
{
  const auto limit = TClock::now() + seconds(256 / std::max<int>(Drive.Datas.Deceleration, 1) + 5);
  for (AskStatus(); Drive.Datas.CurrentSpeedRpm != 0; AskStatus()) {
    if (TClock::now() > limit)
      throw TCtlError(TCtlError::NoAnswer, Addressed("the motor still turns after the stop"));
    if (!TCtlInterrupt::SleepUntil(TClock::now() + PollInterval))
      return;
  }
}

std::string TCtlCommands::Addressed(const std::string& text) const
{
  return TCtlOutput::Address(Drive.Datas.MotorAddress) + ": " + text;
}

void TCtlCommands::Report(const std::string& kind, const std::string& text, std::vector<TCtlOutput::TField> fields)
{
  fields.insert(fields.begin(), {"address", std::int64_t{Drive.Datas.MotorAddress}});
  Output.Result(kind, Addressed(text), fields);
}
