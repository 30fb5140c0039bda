#include "CtlOutput.h"

#include "CommonDatas.h"
#include "NumberFormat.h"
#include "OzmCommands.h"

#include <cstdio>
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
    return FormatGeneral(*real); // finite: speeds are divided by a ratio above 0
  return std::get<bool>(value) ? "true" : "false";
}

} // namespace

TCtlOutput::TCtlOutput(bool json) : AsJson(json)
{
}

void TCtlOutput::Result(const std::string& kind, const std::string& text, const std::vector<TField>& fields)
{
  EndProgress();
  Write(stdout, AsJson ? Json(kind, fields) : text);
}

void TCtlOutput::Status(std::uint8_t address, const TCommonDatas& datas, std::int32_t count)
{
  const std::string direction = datas.ActualDirection ? "backward" : "forward";
  const std::string counts = "count " + std::to_string(count) + ", total " + std::to_string(datas.MotorRevCounter);
  Result("status",
         Address(address) + ": " + FormatGeneral(datas.CurrentSpeedRpm) + " rpm, feedback " +
             (datas.FeedbackOn ? "on" : "off") + ", " + direction + ", " + counts +
             (datas.CounterOverflow ? ", counter overflow" : ""),
         {{"address", std::int64_t{address}},
          {"speed_rpm", datas.CurrentSpeedRpm},
          {"feedback", datas.FeedbackOn},
          {"direction", direction},
          {"count", std::int64_t{count}},
          {"total", std::int64_t{datas.MotorRevCounter}},
          {"overflow", datas.CounterOverflow}});
}

void TCtlOutput::Failure(const std::string& message, int exitStatus)
{
  EndProgress();
  if (AsJson)
    Write(stdout, Json("error", {{"message", message}, {"exit", std::int64_t{exitStatus}}}));
  Write(stderr, "ozmetctl: " + message);
}

void TCtlOutput::Note(const std::string& text)
{
  EndProgress();
  Write(stderr, text);
}

void TCtlOutput::Progress(const std::string& text)
{
  if (!::isatty(STDERR_FILENO))
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
  return "$" + TOzmCommands::HexByte(address);
}

std::string TCtlOutput::Json(const std::string& kind, const std::vector<TField>& fields)
{
  std::string object = "{\"kind\":" + Quoted(kind);
  for (const TField& field : fields)
    object += "," + Quoted(field.Key) + ":" + JsonValue(field.Value);
  return object + "}";
}

// Flushed at once: a script reading a watch through a pipe gets each answer as it comes.
void TCtlOutput::Write(std::FILE* stream, const std::string& line)
{
  std::fputs((line + "\n").c_str(), stream);
  std::fflush(stream);
}
