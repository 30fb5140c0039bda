#include "CtlCommands.h"

#include "BusScan.h"
#include "BusScanTimeout.h"
#include "CtlScanReport.h"
#include "ComPort.h"
#include "CtlError.h"
#include "CtlInterrupt.h"
#include "CtlOptions.h"
#include "CtlOutput.h"
#include "DataFolder.h"
#include "NumberFormat.h"
#include "PortSettingsFile.h"
#include "LineError.h"
#include "PortLinks.h"
#include "SerialAdapters.h"
#include "ValueReader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

using namespace std::chrono;
using TClock = steady_clock;

constexpr std::string_view Directions[] = {"forward", "backward"};
constexpr milliseconds PollInterval{500}; // the window's poll timer
constexpr std::int32_t MaxMilliseconds = 3'600'000;

TCtlError Refused(const std::string& message)
{
  return TCtlError(TCtlError::Usage, message);
}

TCtlError Interrupted(const std::string& what)
{
  return TCtlError(TCtlInterrupt::ExitStatus(), TCtlInterrupt::Name() + ": " + what);
}

// The commands in words, as the operator's manual names them.
std::string CommandWords(std::uint8_t code)
{
  static constexpr std::pair<std::uint8_t, std::string_view> Names[] = {
      {CmdGetStatus, "the status request"},       {CmdRun, "run"},
      {CmdStop, "stop"},                          {CmdAddressSetBegin, "begin the address setting"},
      {CmdAddressSetEnd, "end the address setting"}, {CmdSetEncoder, "set encoder pulses"},
      {CmdSetSpeed, "set speed"},                 {CmdSetMaxSpeed, "set maximum speed"},
      {CmdSetAccel, "set acceleration"},          {CmdSetDecel, "set deceleration"},
      {CmdSetDirection, "set direction"}};
  const auto* found = std::find_if(std::begin(Names), std::end(Names), [&](auto& n) { return n.first == code; });
  const std::string words = found == std::end(Names) ? "command" : std::string(found->second);
  return words + " (" + TOzmCommands::HexByte(code) + ")";
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

// A script's line in words: blanks part them, # begins a comment.
std::vector<std::string> ScriptWords(const std::string& line)
{
  std::vector<std::string> words;
  std::istringstream stream(line.substr(0, line.find('#')));
  for (std::string word; stream >> word;)
    words.push_back(word);
  return words;
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

TCtlCommands::TCtlCommands(const TCtlOptions& options, TCtlOutput& output, TFrameLine* line)
    : Options(options), Output(output), OpenLine(line)
{
}

void TCtlCommands::Run()
{
  using TCommand = void (TCtlCommands::*)();
  static constexpr std::pair<std::string_view, TCommand> Table[] = {
      {"status", &TCtlCommands::Status},       {"set-motor", &TCtlCommands::SetMotor},
      {"run", &TCtlCommands::RunMotor},        {"stop", &TCtlCommands::Stop},
      {"direction", &TCtlCommands::Direction}, {"watch", &TCtlCommands::Watch},
      {"set-address", &TCtlCommands::SetAddress}, {"scan", &TCtlCommands::Scan},
      {"script", &TCtlCommands::Script},       {"devices", &TCtlCommands::Devices}};
  const auto* command = std::find_if(std::begin(Table), std::end(Table),
                                     [&](const auto& entry) { return entry.first == Options.Command; });
  try {
    (this->*command->second)();
  } catch (...) {
    StopOnTheWayOut();
    throw;
  }
  // Ctrl+C is how a watch without --count ends: done, not cut short.
  const bool watchEnded = Options.Command == "watch" && TCtlInterrupt::ByCtrlC();
  if (TCtlInterrupt::Requested() && !watchEnded && Options.Command != "script")
    throw Interrupted(Options.Command + " cut short");
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
  const TMotorFields taken = Drive.MotorInForce();
  Compare("maximum speed", MotorFields(file).MaxSpeed, taken.MaxSpeed, "whole rev/s of the motor");
  SendQueued();
  Report("set-motor",
         "encoder " + taken.Encoder + ", maximum speed " + taken.MaxSpeed + " rpm (" +
             std::to_string(Drive.Datas.MaxSpeedRps) + " rev/s), ratio " + taken.GearRatio,
         {{"encoder", std::int64_t{Drive.Datas.EncoderPulses}},
          {"motor_max_speed_rps", std::int64_t{Drive.Datas.MaxSpeedRps}},
          {"motor_max_speed_rpm", std::int64_t{Drive.Datas.MaxSpeedRps * 60}},
          {"ratio", Drive.Datas.GearRatio}});
}

void TCtlCommands::RunMotor()
{
  const auto file = ParameterFile();
  if (!file && !Options.Has("speed"))
    throw Refused("run needs --speed, or --parameters");
  ApplyMotor(file);
  if (file || Options.Has("max-speed")) // the window's own default is what it is
    Compare("maximum speed", MotorFields(file).MaxSpeed, Drive.MotorInForce().MaxSpeed, "whole rev/s of the motor");
  Drive.ClearQueue(); // the motor's values are taken, not sent: set-motor sends them
  Drive.ApplyWork(WorkFields(file));
  const TWorkFields taken = Drive.WorkInForce();
  Compare("speed", WorkFields(file).Speed, taken.Speed, "whole rev/s of the motor, within its maximum");
  Drive.Queue(CmdRun, 0);
  SendQueued();
  const std::string direction(Directions[taken.Direction]);
  Report("run",
         "running at " + taken.Speed + " rpm (" + std::to_string(Drive.Datas.WorkSpeedRps) + " rev/s), acceleration " +
             taken.Accel + ", deceleration " + taken.Decel + ", " + direction,
         {{"output_speed_rpm", *Number(taken.Speed)},
          {"motor_speed_rps", std::int64_t{Drive.Datas.WorkSpeedRps}},
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

// A missed or damaged answer is said and counted, and the watch goes on: only a run of them ends it,
// and a watch that got no sound answer at all did not watch.
void TCtlCommands::Watch()
{
  const milliseconds interval(Options.Whole("interval", 1, MaxMilliseconds, PollInterval.count()));
  const std::int32_t count = Options.Whole("count", 1, INT_MAX, 0);
  const std::int32_t maxFailures = Options.Whole("max-failures", 1, INT_MAX, 10);
  ApplyMotor(std::nullopt);
  auto next = TClock::now();
  std::int32_t n = 0, inARow = 0, missed = 0;
  for (; (count == 0 || n < count) && TCtlInterrupt::SleepUntil(next); ++n) {
    next = next + interval;
    try {
      AskStatus();
      inARow = 0;
    } catch (const TCtlError& error) {
      if (error.ExitStatus != TCtlError::NoAnswer)
        throw;
      if (++inARow >= maxFailures)
        throw TCtlError(TCtlError::NoAnswer, std::string(error.what()) + ", " + std::to_string(inARow) + " in a row");
      Output.Warning("missed", std::string(error.what()) + " (" + std::to_string(++missed) + " missed)");
    }
    next = std::max(next, TClock::now());
  }
  if (n > 0 && missed == n)
    throw TCtlError(TCtlError::NoAnswer, Addressed("no sound answer to " + std::to_string(n) + " status requests"));
}

// Told done only when a controller answers at the new address afterwards: neither Enter nor the end
// of the wait says that a button was pressed.
void TCtlCommands::SetAddress()
{
  if (const auto fault = ValueFault(TField::Address, Options.Operand, 0, 254))
    throw Refused("NEW: \"" + Options.Operand + "\" is " + fault->Reason);
  const auto address = static_cast<std::uint8_t>(*ParseValue(Options.Operand));
  const std::int32_t wait = Options.Whole("wait", 1, MaxMilliseconds / 1000, -1);
  const bool taken = Answers(address);
  if (taken && !Options.Has("force"))
    throw Refused("a controller already answers at " + TCtlOutput::Address(address) +
                  ": two at one address answer at once and neither is understood; --force gives it anyway");
  Broadcast(CmdAddressSetBegin, address);
  const std::string when = wait < 0 ? ", then Enter." : " within " + std::to_string(wait) + " s.";
  Output.Prompt("Press the button of the controller that is to take the address " + TCtlOutput::Address(address) +
                when);
  if (wait >= 0)
    TCtlInterrupt::SleepUntil(TClock::now() + seconds(wait));
  else if (!TCtlInterrupt::WaitForEnter() && !TCtlInterrupt::Requested())
    Output.Note("Standard input ended before Enter: --wait SECONDS ends the procedure when nobody is there.");
  // Sent also after Ctrl+C, as when the window's dialog closes: no controller stays waiting.
  Broadcast(CmdAddressSetEnd, address);
  if (TCtlInterrupt::Requested())
    throw Interrupted("the address procedure was ended early; its end was sent");
  const std::string given = "address " + TCtlOutput::Address(address) + " given";
  if (taken) {
    Output.Result("set-address", given + " (not checked: a controller answered there before)",
                  {{"address", std::int64_t{address}}, {"checked", false}});
    return;
  }
  if (!Answers(address))
    throw TCtlError(TCtlError::NoAnswer, "no controller answers at " + TCtlOutput::Address(address) +
                                             " after the procedure: no button was pressed in time, or the "
                                             "controller did not take the address");
  Output.Result("set-address", given + " to the controller whose button was pressed, which answers there",
                {{"address", std::int64_t{address}}, {"checked", true}});
}

void TCtlCommands::Scan()
{
  const std::int32_t from = Options.Whole("from", 0, 254, 0);
  const std::int32_t to = Options.Whole("to", 0, 254, 254);
  const TLineSettings line = Options.LineSettings();
  const milliseconds timeout(Options.Whole(
      "timeout-ms", 1, MaxMilliseconds,
      static_cast<std::int32_t>(
          BusScanTimeout(line.Baud, line.DataBits, line.Parity != 0, line.StopBits != 0).count())));
  if (from > to)
    throw Refused("--from " + std::to_string(from) + " is above --to " + std::to_string(to));
  ApplyMotor(std::nullopt); // checks the ratio before the line opens
  TCtlScanReport report(Output, MotorFields(std::nullopt));
  TBusScan scan(Line(), report);
  scan.Run(static_cast<std::uint8_t>(from), static_cast<std::uint8_t>(to), timeout);
  Output.EndProgress();
  const bool cut = TCtlInterrupt::Requested();
  // What was covered: a scan cut short before its first address covered an empty range.
  const std::int32_t last = scan.LastAsked() ? *scan.LastAsked() : from - 1;
  const std::string range = last < from ? "no address"
                                        : TCtlOutput::Address(static_cast<std::uint8_t>(from)) + ".." +
                                              TCtlOutput::Address(static_cast<std::uint8_t>(last));
  const std::vector<std::int64_t> found(report.Sound().begin(), report.Sound().end());
  const std::vector<std::int64_t> damaged(report.Damaged().begin(), report.Damaged().end());
  Output.Result("scan",
                std::to_string(found.size()) + " answered on " + range +
                    (damaged.empty() ? "" : ", " + std::to_string(damaged.size()) + " with a bad checksum") +
                    (cut ? " (" + TCtlInterrupt::Name() + ")" : ""),
                {{"from", std::int64_t{from}},
                 {"to", std::int64_t{last}},
                 {"found", found},
                 {"bad_checksum", damaged},
                 {"interrupted", cut}});
  if (cut)
    throw Interrupted("the scan covered " + range + " only");
  if (found.empty())
    throw TCtlError(TCtlError::NoAnswer, "no controller answered soundly on " + range);
}

// A listing opens no line, so the line's options have nothing to act on here.
void TCtlCommands::Devices()
{
  const std::vector<TSerialAdapter> adapters = TSerialAdapters::List();
  if (adapters.empty())
    Output.Note("no USB serial adapter is present");
  for (const TSerialAdapter& a : adapters) {
    const std::string name = a.Vendor + (a.Vendor.empty() || a.Product.empty() ? "" : " ") + a.Product;
    Output.Result("device",
                  a.Node + ": " + (name.empty() ? "no name" : name) + ", " +
                      (a.Serial.empty() ? "no serial number" : "serial " + a.Serial) +
                      (a.UsbId.empty() ? "" : ", USB " + a.UsbId) + ", " +
                      (a.ById.empty() ? "no by-id name" : a.ById),
                  {{"node", a.Node}, {"by_id", a.ById}, {"vendor", a.Vendor}, {"product", a.Product},
                   {"serial", a.Serial}, {"usb_id", a.UsbId}});
  }
}

// Each line as if ozmetctl were run with it, on the port the script's own options open.
void TCtlCommands::Script()
{
  std::ifstream file;
  if (Options.Operand != "-") {
    file.open(Options.Operand);
    if (!file)
      throw Refused("script: " + Options.Operand + " cannot be read");
  }
  std::istream& input = Options.Operand == "-" ? std::cin : file;
  int firstFailure = 0, failedLine = 0;
  std::string text;
  for (int number = 1; std::getline(input, text) && !TCtlInterrupt::Requested(); ++number) {
    const int status = ScriptLine(number, ScriptWords(text));
    if (status && !firstFailure) {
      firstFailure = status;
      failedLine = number;
    }
    if (status && !Options.Has("keep-going"))
      break;
  }
  if (TCtlInterrupt::Requested())
    throw Interrupted("the script was cut short");
  if (firstFailure)
    throw TCtlError(firstFailure, "the script failed first at its line " + std::to_string(failedLine));
}

int TCtlCommands::ScriptLine(int number, const std::vector<std::string>& words)
{
  if (words.empty())
    return 0;
  std::vector<const char*> argv{"ozmetctl"};
  for (const std::string& word : words)
    argv.push_back(word.c_str());
  const std::string where = Options.Operand + " line " + std::to_string(number) + ": ";
  try {
    TCtlOptions line = TCtlOptions::Parse(static_cast<int>(argv.size()), argv.data());
    line.InheritLine(Options);
    TCtlCommands(line, Output, &Line()).Run();
    return 0;
  } catch (const TCtlError& error) {
    Output.Failure(where + error.what(), error.ExitStatus);
    return error.ExitStatus;
  } catch (const TLineError& error) {
    if (error.Kind == TLineError::TKind::LineFailed)
      throw;
    Output.Failure(where + error.what(), TCtlError::PortClosed);
    return TCtlError::PortClosed;
  }
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
  // Speeds are the motor's divided by the ratio: a tiny ratio gives none that a number can hold.
  if (!std::isfinite(Drive.Datas.MaxSpeedRps * 60.0 / Drive.Datas.GearRatio) ||
      !std::isfinite(255 * 60.0 / Drive.Datas.GearRatio))
    throw Refused("--ratio: \"" + MotorFields(file).GearRatio + "\" is too small: no number holds the speeds");
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
  if (Options.Has("device")) {
    // serial:NUMBER and by-id:NAME name an adapter by what a re-plug keeps; a path stays as it is.
    const TSerialAdapters::TResolved device = TSerialAdapters::Resolve(Options.Text("device"));
    if (device.Fault == TSerialAdapters::TFault::Malformed)
      throw Refused("--device: " + device.Error);
    if (device.Fault != TSerialAdapters::TFault::None) // as an unplugged device: works once it is in
      throw TLineError(TLineError::TKind::OpenFailed, device.Error);
    return device.Path;
  }
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
    LineName = TPortLinks::DeviceBehind(name); // messages name the device, not the link to it
    OwnLine.emplace().Open(name, settings);
    OwnLine->SetTrace([this](std::string_view what, std::span<const std::uint8_t> bytes) {
      Output.Trace(what, bytes);
    });
    OpenLine = &*OwnLine;
  }
  return *OpenLine;
}

// An interrupt lets the frame on the wire finish and keeps the rest from going.
void TCtlCommands::SendQueued()
{
  for (const TFrame& frame : Drive.Queued()) {
    if (TCtlInterrupt::Requested())
      throw Interrupted("not sent: " + CommandWords(frame[2]) + " and what follows it");
    Ask(frame);
  }
  Drive.ClearQueue();
}

// The frames behind one that is not answered soundly are not sent.
TFrame TCtlCommands::Ask(std::span<const std::uint8_t> frame)
{
  if (frame[2] == CmdRun)
    RunMayHaveReached = true;
  TFrame answer{};
  const TFrameLine::TReply reply = Line().Exchange(frame, Line().AnswerTimeout(), answer);
  // Dropped, never taken for this answer; said, as the window says it.
  if (!Line().StaleBytes().empty())
    Output.Note(StaleText + TOzmCommands::LogBytes(Line().StaleBytes()) + " (before " + CommandWords(frame[2]) +
                ")");
  if (reply == TFrameLine::TReply::NoAnswer)
    throw TCtlError(TCtlError::NoAnswer, "no answer to " + Described(frame));
  if (reply == TFrameLine::TReply::BadChecksum)
    throw TCtlError(TCtlError::NoAnswer, "bad checksum in the answer to " + Described(frame));
  return answer;
}

// Controllers never answer a broadcast: the answer time passes in silence, as in the window.
void TCtlCommands::Broadcast(std::uint8_t command, std::uint8_t value)
{
  Drive.ClearQueue();
  Drive.QueueBroadcast(command, value);
  TFrame unused{};
  Line().Exchange(Drive.Queued().front(), Line().AnswerTimeout(), unused);
  Drive.ClearQueue();
}

void TCtlCommands::AskStatus()
{
  const TFrame answer = Ask(Drive.StatusRequest());
  Output.Status(Drive.Datas.MotorAddress, Drive.Datas, Drive.Decode(answer));
}

bool TCtlCommands::Answers(std::uint8_t address)
{
  TFrame answer{};
  return Line().Exchange(TOzmCommands::StatusRequestFor(address), Line().AnswerTimeout(), answer) !=
         TFrameLine::TReply::NoAnswer;
}

// Sent again while it goes unanswered, whatever interrupt came: a Stop is never cut short.
void TCtlCommands::StopMotor()
{
  const std::int32_t retries = Options.Whole("retries", 0, 10, 2);
  Drive.ClearQueue();
  Drive.Queue(CmdStop, 0);
  const TFrame stop = Drive.Queued().front();
  Drive.ClearQueue();
  for (std::int32_t attempt = 0;; ++attempt) {
    try {
      Ask(stop);
      break;
    } catch (const TCtlError& error) {
      RunMayHaveReached = attempt < retries; // the way out does not start the count again
      if (attempt >= retries)
        throw TCtlError(TCtlError::NoAnswer, std::string(error.what()) + ", sent " +
                                                 (attempt == 0 ? "once" : std::to_string(attempt + 1) + " times") +
                                                 ": the motor may still run");
      Output.Note("ozmetctl: " + std::string(error.what()) + ": sending it again");
    }
  }
  RunMayHaveReached = false;
  Report("stop", "stopped", {});
}

// After a failure or an interrupt: the failure is what the exit tells, the Stop's outcome is said.
void TCtlCommands::StopOnTheWayOut()
{
  if (!RunMayHaveReached)
    return;
  try {
    StopMotor();
  } catch (const std::exception& error) {
    Output.Warning("stop-failed", error.what());
  }
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

std::string TCtlCommands::Described(std::span<const std::uint8_t> frame) const
{
  return CommandWords(frame[2]) + " from " + TCtlOutput::Address(frame[1]) + " on " + LineName;
}

void TCtlCommands::Compare(const std::string& what, const std::string& asked, const std::string& sent,
                           const std::string& why) const
{
  const auto wanted = Number(asked), given = Number(sent);
  if (!wanted || !given || *wanted == *given)
    return;
  const std::string text = what + " " + asked + " rpm asked, " + sent + " rpm sent (" + why + ")";
  if (Options.Has("strict"))
    throw Refused(text + "; --strict refuses it");
  Output.Note("ozmetctl: " + text);
}

void TCtlCommands::Report(const std::string& kind, const std::string& text, std::vector<TCtlOutput::TField> fields)
{
  fields.insert(fields.begin(), {"address", std::int64_t{Drive.Datas.MotorAddress}});
  Output.Result(kind, Addressed(text), fields);
}
