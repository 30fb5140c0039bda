#include "CtlOutput.h"

#include "CommonDatas.h"
#include "NumberFormat.h"
#include "OzmCommands.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <unistd.h>

namespace {

std::string Quoted(const std::string& text)
{
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      quoted += escaped;
    } else {
      quoted += c;
    }
  }
  return quoted + "\"";
}

std::string JsonValue(const TCtlOutput::TValue& value)
{
  if (const auto* text = std::get_if<std::string>(&value))
    return Quoted(*text);
  if (const auto* whole = std::get_if<std::int64_t>(&value))
    return std::to_string(*whole);
  if (const auto* real = std::get_if<double>(&value))
    return FormatGeneral(*real); // finite: a ratio that would give no finite speed is refused
  if (const auto* list = std::get_if<std::vector<std::int64_t>>(&value)) {
    std::string items;
    for (const std::int64_t item : *list)
      items.append(items.empty() ? "" : ",").append(std::to_string(item));
    return "[" + items + "]";
  }
  return std::get<bool>(value) ? "true" : "false";
}

// UTC, to the millisecond: "2026-12-07T21:55:03.127Z".
std::string Now()
{
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm utc{};
  ::gmtime_r(&seconds, &utc);
  char text[40];
  const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + length, sizeof text - length, ".%03dZ", static_cast<int>(ms));
  return text;
}

} // namespace

TCtlOutput::TCtlOutput(TFormat format, bool quiet, bool verbose) : Format(format), Quiet(quiet), Verbose(verbose)
{
}

void TCtlOutput::Result(const std::string& kind, const std::string& text, const std::vector<TField>& fields)
{
  EndProgress();
  if (Format == TFormat::Json)
    Write(stdout, Json(kind, fields));
  else if (Format == TFormat::Csv && kind == "status")
    WriteCsv(fields);
  else if (!Quiet)
    Write(stdout, text);
}

void TCtlOutput::Status(std::uint8_t address, const TCommonDatas& datas, std::int32_t count)
{
  const std::string direction = datas.ActualDirection ? "backward" : "forward";
  const std::string counts = "count " + std::to_string(count) + ", total " + std::to_string(datas.MotorRevCounter);
  // The answer carries the motor's rev/s; the window shows the output shaft's rpm at the ratio.
  const auto motorRps = static_cast<std::int64_t>(std::lround(datas.CurrentSpeedRpm * datas.GearRatio / 60.0));
  Result("status",
         Address(address) + ": " + FormatGeneral(datas.CurrentSpeedRpm) + " rpm, feedback " +
             (datas.FeedbackOn ? "on" : "off") + ", " + direction + ", " + counts +
             (datas.CounterOverflow ? ", counter overflow" : ""),
         {{"address", std::int64_t{address}},
          {"output_speed_rpm", datas.CurrentSpeedRpm},
          {"motor_speed_rps", motorRps},
          {"feedback", datas.FeedbackOn},
          {"direction", direction},
          {"count", std::int64_t{count}},
          {"total", std::int64_t{datas.MotorRevCounter}},
          {"overflow", datas.CounterOverflow}});
}

void TCtlOutput::Failure(const std::string& message, int exitStatus)
{
  EndProgress();
  if (Format == TFormat::Json)
    Write(stdout, FailureJson(message, exitStatus));
  Write(stderr, "ozmetctl: " + message);
}

void TCtlOutput::Warning(const std::string& kind, const std::string& message)
{
  EndProgress();
  if (Format == TFormat::Json)
    Write(stdout, Json(kind, {{"message", message}}));
  Write(stderr, "ozmetctl: " + message);
}

void TCtlOutput::Note(const std::string& text)
{
  if (!Quiet)
    Prompt(text);
}

void TCtlOutput::Prompt(const std::string& text)
{
  EndProgress();
  Write(stderr, text);
}

void TCtlOutput::Trace(std::string_view what, std::span<const std::uint8_t> bytes)
{
  if (Verbose)
    Prompt(Now() + " " + std::string(what) + " " + (bytes.empty() ? "nothing" : TOzmCommands::LogBytes(bytes)));
}

void TCtlOutput::Progress(const std::string& text)
{
  if (Quiet || !::isatty(STDERR_FILENO))
    return;
  std::fprintf(stderr, "\r%s\033[K", text.c_str());
  std::fflush(stderr);
  ProgressShown = true;
}

void TCtlOutput::EndProgress()
{
  if (ProgressShown)
    std::fputs("\r\033[K", stderr);
  ProgressShown = false;
}

std::string TCtlOutput::Address(std::uint8_t address)
{
  return TOzmCommands::HexAddress(address);
}

std::string TCtlOutput::FailureJson(const std::string& message, int exitStatus)
{
  return Json("error", {{"message", message}, {"exit", std::int64_t{exitStatus}}});
}

std::string TCtlOutput::Json(const std::string& kind, const std::vector<TField>& fields)
{
  std::string object = "{\"kind\":" + Quoted(kind) + ",\"time\":" + Quoted(Now());
  for (const TField& field : fields)
    object.append(",").append(Quoted(field.Key)).append(":").append(JsonValue(field.Value));
  return object + "}";
}

// The JSON field names are the header; texts hold no comma or quote, so nothing needs quoting.
void TCtlOutput::WriteCsv(const std::vector<TField>& fields)
{
  std::string header = "time", row = Now();
  for (const TField& field : fields) {
    header += "," + field.Key;
    const auto* text = std::get_if<std::string>(&field.Value);
    row += "," + (text ? *text : JsonValue(field.Value));
  }
  if (!CsvHeaderShown)
    Write(stdout, header);
  CsvHeaderShown = true;
  Write(stdout, row);
}

// Flushed at once: a script reading a watch through a pipe gets each answer as it comes.
void TCtlOutput::Write(std::FILE* stream, const std::string& line)
{
  std::fputs((line + "\n").c_str(), stream);
  std::fflush(stream);
}
