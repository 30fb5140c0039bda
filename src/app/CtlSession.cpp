#include "app/CtlSession.h"

#include "app/CtlError.h"
#include "app/CtlInterrupt.h"
#include "devices/DeviceHolders.h"
#include "devices/OpenFailure.h"
#include "devices/PortLinks.h"
#include "protocol/OzmCommands.h"
#include "serial/ComPort.h"
#include "serial/LineError.h"

#include <algorithm>
#include <csignal>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::chrono;

constexpr milliseconds WritePause{TComPort::WritePauseMs};
constexpr seconds TakeOverTime{3};
constexpr milliseconds ReopenInterval{50};
constexpr int DefaultRetries = 2;

// An ozmetctl or the window, run by this user: a program that sends Stop on its way out at SIGTERM.
bool EndsWithAStop(int pid)
{
  struct stat process {};
  const std::string name = TOpenFailure::ProcessName(pid);
  return ::stat(("/proc/" + std::to_string(pid)).c_str(), &process) == 0 && process.st_uid == ::getuid() &&
         (name.starts_with("ozmetctl ") || name.starts_with("ozmet "));
}

} // namespace

TCtlSession::TCtlSession(TCtlOutput& output) : Output(output)
{
}

void TCtlSession::Aim(const std::string& given, const std::string& path, const TLineSettings& settings)
{
  Given = given;
  Path = path;
  Device = TPortLinks::DeviceBehind(path);
  Settings = settings;
}

std::string TCtlSession::Where() const
{
  return Given == Device ? Given : Given + " (" + Device + ")";
}

TFrameLine& TCtlSession::Line()
{
  if (!Frames)
    Open();
  return *Frames;
}

void TCtlSession::Open()
{
  Device = TPortLinks::DeviceBehind(Path); // a link re-pointed meanwhile (an adapter plugged in again)
  TFrameLine line;
  line.Open(Path, Settings);
  line.SetTrace([this](std::string_view what, std::span<const std::uint8_t> bytes) { Output.Trace(what, bytes); });
  if (const std::string note = line.SettingsNote(); !note.empty())
    Output.Note(note);
  Frames.emplace(std::move(line));
  // Another program that reads this device takes some of the answers: said, not refused.
  for (const std::string& other : TDeviceHolders::Sharing(Device))
    Output.Warning("shared", Where() + " is also open in " + other + ": it may take the controller's answers");
}

bool TCtlSession::Reopen()
{
  Frames.reset();
  try {
    Open();
    return true;
  } catch (const TLineError&) {
    return false;
  }
}

void TCtlSession::OpenTakingOver()
{
  if (Frames)
    return;
  try {
    Open();
    return;
  } catch (const TLineError& busy) {
    const std::optional<int> holder = TOpenFailure::LockHolderOf(Device);
    if (!holder || !EndsWithAStop(*holder))
      throw;
    TakenOver = TOpenFailure::ProcessName(*holder);
    ::kill(*holder, SIGTERM);
    for (const auto until = TClock::now() + TakeOverTime; TClock::now() < until;) {
      std::this_thread::sleep_for(ReopenInterval);
      if (Reopen())
        return;
    }
    throw TLineError(TLineError::TKind::OpenFailed, std::string(busy.what()) + " It was asked to end (SIGTERM) and "
                                                        "still holds the line after 3 s.");
  }
}

bool TCtlSession::Pause(bool evenWhenInterrupted) const
{
  if (evenWhenInterrupted) {
    std::this_thread::sleep_for(WritePause);
    return true;
  }
  return TCtlInterrupt::SleepUntil(TClock::now() + WritePause);
}

TFrameLine::TReply TCtlSession::Send(std::span<const std::uint8_t> frame, TFrame& answer)
{
  TFrameLine& line = Line();
  // Only a Stop starts after an interrupt; the check sits right before the write.
  if (!Pause(frame[2] == CmdStop) || (frame[2] != CmdStop && TCtlInterrupt::Requested()))
    throw TCtlInterrupt::Error("not sent: " + TOzmCommands::CommandWords(frame[2]) + " and what follows it");
  if (frame[2] == CmdRun && !MayRun.contains(frame[1])) {
    const auto retries = Retries.find(frame[1]);
    MayRun[frame[1]] = retries == Retries.end() ? DefaultRetries : retries->second;
    RunLog.push_back(frame[1]);
  }
  const TFrameLine::TReply reply = line.ExchangeNow(frame, line.AnswerTimeout(), answer);
  if (frame[2] == CmdStop && reply == TFrameLine::TReply::Answered)
    MayRun.erase(frame[1]);
  // Dropped, never taken for this answer; said, as the window says it.
  if (!line.StaleBytes().empty())
    Output.Note(StaleText + TOzmCommands::LogBytes(line.StaleBytes()) + " (before " +
                TOzmCommands::CommandWords(frame[2]) + ")");
  return reply;
}

TFrame TCtlSession::Ask(std::span<const std::uint8_t> frame)
{
  TFrame answer{};
  const TFrameLine::TReply reply = Send(frame, answer);
  if (reply != TFrameLine::TReply::Answered)
    throw TCtlError(TCtlError::NoAnswer, frame[1], Failed(reply, frame));
  return answer;
}

std::string TCtlSession::Failed(TFrameLine::TReply reply, std::span<const std::uint8_t> frame) const
{
  return (reply == TFrameLine::TReply::NoAnswer ? "no answer to " : "bad checksum in the answer to ") +
         TOzmCommands::CommandWords(frame[2]) + " from " + TCtlOutput::Address(frame[1]) + " on " + Where();
}

void TCtlSession::Broadcast(std::span<const std::uint8_t> frame)
{
  TFrameLine& line = Line();
  Pause(true);
  TFrame unused{};
  line.ExchangeNow(frame, line.AnswerTimeout(), unused);
}

bool TCtlSession::Answers(std::uint8_t address)
{
  TFrame answer{};
  return Send(TOzmCommands::StatusRequestFor(address), answer) != TFrameLine::TReply::NoAnswer;
}

std::optional<std::string> TCtlSession::TryStop(std::uint8_t address, int retries)
{
  for (int attempt = 0;; ++attempt) {
    std::optional<std::string> failure = StopOnce(address);
    if (failure && LineLostAt)
      failure = StopOverALostLine(address, *failure);
    if (!failure)
      return std::nullopt;
    if (attempt >= retries)
      return *failure + ", sent " + (attempt == 0 ? "once" : std::to_string(attempt + 1) + " times") +
             ": the motor may still run";
    Output.Note("ozmetctl: " + *failure + ": sending it again");
  }
}

std::optional<std::string> TCtlSession::StopOnce(std::uint8_t address)
{
  try {
    Ask(TOzmCommands::FrameFor(address, CmdStop, 0));
    LineLostAt.reset();
    return std::nullopt;
  } catch (const TLineError& error) { // the line failed under it, or cannot be opened (again)
    if (error.Kind == TLineError::TKind::LineFailed && !LineLostAt)
      LineLostAt = TClock::now();
    return error.what();
  } catch (const std::runtime_error& error) { // a missing answer
    LineLostAt.reset();
    return error.what();
  }
}

// An adapter that re-enumerates or a serial device server that restarts comes back within a second or two: the line
// is opened again and the Stop sent until it is answered, for as long after the loss as any way out waits.
std::optional<std::string> TCtlSession::StopOverALostLine(std::uint8_t address, std::string failure)
{
  while (TClock::now() < *LineLostAt + TCommonDatas::LostLineStops) {
    std::this_thread::sleep_for(TCommonDatas::ReopenPause);
    if (!Reopen())
      continue;
    std::optional<std::string> again = StopOnce(address);
    if (!LineLostAt) // the line carried it: answered, or missing as on any line
      return again;
    failure = *again;
  }
  Frames.reset();
  return failure + " (the line stayed lost for " + std::to_string(TCommonDatas::LostLineStops.count()) + " s)";
}

bool TCtlSession::StopOnTheWayOut(std::size_t since,
                                  const std::function<std::vector<TCtlOutput::TField>(std::uint8_t)>& fields)
{
  bool answered = true;
  for (std::size_t i = since; i < RunLog.size(); ++i) {
    const std::uint8_t address = RunLog[i];
    if (!MayRun.contains(address))
      continue;
    const std::optional<std::string> failure = TryStop(address, MayRun[address]);
    MayRun.erase(address); // the last word: a later way out does not start the count again
    if (failure)
      Output.Warning("stop-failed", *failure, address);
    else
      ReportStopped(address, fields ? fields(address) : std::vector<TCtlOutput::TField>{});
    answered = answered && !failure;
  }
  return answered;
}

void TCtlSession::ReportStopped(std::uint8_t address, std::vector<TCtlOutput::TField> fields, const std::string& how)
{
  std::string text = TCtlOutput::Address(address) + ": stopped" + how;
  if (!TakenOver.empty()) {
    text = TakenOver + " was asked to end and ended; " + text + ", Stop answered";
    fields.push_back({"ended", TakenOver});
  }
  fields.insert(fields.begin(), {"address", std::int64_t{address}});
  Output.Result("stop", text, fields);
}

void TCtlSession::StopRetries(std::uint8_t address, int retries)
{
  Retries[address] = retries;
}
