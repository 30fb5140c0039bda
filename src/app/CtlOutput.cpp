#include "app/CtlOutput.h"

#include "files/JsonText.h"
#include "files/NumberFormat.h"
#include "files/UtcTime.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <unistd.h>

namespace {

using TJson = TJsonText::TValue;

TJson JsonValue(const TCtlOutput::TValue& value);

// The object of the fields after those already in `json`.
TJson Object(const std::vector<TCtlOutput::TField>& fields, TJson json = TJson::object())
{
  for (const TCtlOutput::TField& field : fields)
    json[field.Key] = JsonValue(field.Value);
  return json;
}

TJson JsonValue(const TCtlOutput::TValue& value)
{
  if (const auto* text = std::get_if<std::string>(&value))
    return TJsonText::Text(*text);
  if (const auto* whole = std::get_if<std::int64_t>(&value))
    return *whole;
  if (const auto* real = std::get_if<double>(&value))
    return TJsonText::Number(*real); // finite: a ratio that would give no finite speed is refused
  if (const auto* list = std::get_if<std::vector<std::int64_t>>(&value))
    return *list;
  if (const auto* objects = std::get_if<TCtlOutput::TObjects>(&value)) {
    TJson items = TJson::array();
    for (const std::vector<TCtlOutput::TField>& object : *objects)
      items.push_back(Object(object));
    return items;
  }
  return std::get<bool>(value);
}

} // namespace

TCtlOutput::TCtlOutput(TFormat format, bool quiet, bool verbose) : Format(format), Quiet(quiet), IsVerbose(verbose)
{
}

void TCtlOutput::Result(const std::string& kind, const std::string& text, const std::vector<TField>& fields, TTime when)
{
  if (text.empty() && Format != TFormat::Json)
    return; // the progress line stays
  EndProgress();
  if (Format == TFormat::Json)
    Write(stdout, Json(kind, fields, when));
  else if (Format == TFormat::Csv && kind == "status")
    WriteCsv(fields, "answered", when);
  else if (!Quiet)
    Write(stdout, text);
}

void TCtlOutput::Status(std::uint8_t address, const TCommonDatas& datas, std::int32_t count, TTime when)
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
          {"overflow", datas.CounterOverflow}},
         when);
}

void TCtlOutput::Failure(const std::string& message, int exitStatus, TConcerns address)
{
  EndProgress();
  if (Format == TFormat::Json)
    Write(stdout, FailureJson(message, exitStatus, address));
  Write(stderr, "ozmetctl: " + message);
}

void TCtlOutput::Warning(const std::string& kind, const std::string& message, TConcerns address)
{
  EndProgress();
  if (Format == TFormat::Json)
    Write(stdout, Json(kind, Concerning(message, address)));
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
  if (IsVerbose)
    Prompt(UtcText(std::chrono::system_clock::now()) + " " + std::string(what) + " " +
           (bytes.empty() ? "nothing" : TOzmCommands::LogBytes(bytes)));
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

std::string TCtlOutput::FailureJson(const std::string& message, int exitStatus, TConcerns address)
{
  std::vector<TField> fields = Concerning(message, address);
  fields.push_back({"exit", std::int64_t{exitStatus}});
  return Json("error", fields);
}

std::vector<TCtlOutput::TField> TCtlOutput::Concerning(const std::string& message, TConcerns address)
{
  std::vector<TField> fields{{"message", message}};
  if (address)
    fields.push_back({"address", std::int64_t{*address}});
  return fields;
}

// "time": "2026-12-07T21:55:03.127Z"
std::string TCtlOutput::Json(const std::string& kind, const std::vector<TField>& fields, TTime when)
{
  return TJsonText::Line(Object(fields, TJson{{"kind", TJsonText::Text(kind)}, {"time", UtcText(when)}}));
}

void TCtlOutput::Unanswered(std::uint8_t address, const std::string& answer)
{
  if (Format == TFormat::Csv)
    WriteCsv({{"address", std::int64_t{address}}}, answer, std::chrono::system_clock::now());
}

// The keys of a status object: the JSON field names are the header.
void TCtlOutput::BeginStatusRows()
{
  if (Format != TFormat::Csv || CsvHeaderShown)
    return;
  Write(stdout, "time,address,output_speed_rpm,motor_speed_rps,feedback,direction,count,total,overflow,answer");
  CsvHeaderShown = true;
}

// Texts hold no comma or quote, so nothing needs quoting; a request without a sound answer leaves
// the values empty.
void TCtlOutput::WriteCsv(const std::vector<TField>& fields, const std::string& answer, TTime when)
{
  constexpr std::size_t StatusFields = 8;
  BeginStatusRows();
  std::string row = UtcText(when);
  for (const TField& field : fields) {
    const auto* text = std::get_if<std::string>(&field.Value);
    row += "," + (text ? *text : TJsonText::Line(JsonValue(field.Value)));
  }
  row.append(StatusFields - fields.size(), ',');
  Write(stdout, row + "," + answer);
}

// Flushed at once: a script reading a watch through a pipe gets each answer as it comes.
void TCtlOutput::Write(std::FILE* stream, const std::string& line)
{
  std::fputs((line + "\n").c_str(), stream);
  std::fflush(stream);
}

void TCtlOutput::Table(const std::string& kind, const std::vector<std::string>& heads,
                       const std::vector<std::vector<std::string>>& rows,
                       const std::vector<std::vector<TField>>& fields)
{
  if (Format == TFormat::Json) {
    for (const std::vector<TField>& row : fields)
      Result(kind, "", row);
    return;
  }
  if (Quiet || rows.empty())
    return;
  std::vector<std::size_t> widths(heads.size());
  for (const auto& row : rows)
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i)
      widths[i] = std::max({widths[i], heads[i].size(), row[i].size()});
  const auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (std::size_t i = 0; i < cells.size(); ++i)
      text += i + 1 == cells.size() ? cells[i] : cells[i] + std::string(widths[i] - cells[i].size() + 2, ' ');
    return text.substr(0, text.find_last_not_of(' ') + 1);
  };
  Write(stdout, line(heads));
  for (const auto& row : rows)
    Write(stdout, line(row));
}

void TCtlOutput::CsvTable(const std::vector<std::string>& heads, const std::vector<std::vector<std::string>>& rows)
{
  const auto line = [](const std::vector<std::string>& cells) {
    std::string text;
    for (const std::string& cell : cells) {
      std::string field = cell;
      if (cell.find_first_of(",\"\r\n") != std::string::npos) {
        field = "\"";
        for (const char c : cell)
          field += c == '"' ? std::string("\"\"") : std::string(1, c);
        field += "\"";
      }
      text += (&cell == &cells.front() ? "" : ",") + field;
    }
    return text;
  };
  Write(stdout, line(heads));
  for (const auto& row : rows)
    Write(stdout, line(row));
}
