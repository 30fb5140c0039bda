#include "history/LogExport.h"

#include "files/WholeFile.h"

#include <cstdio>
#include <ctime>
#include <sstream>

std::string TLogExport::IsoTime(std::int64_t msSinceEpoch)
{
  // Floored, so that a time before 1970 keeps its milliseconds positive.
  const std::int64_t ms = ((msSinceEpoch % 1000) + 1000) % 1000;
  const std::time_t seconds = static_cast<std::time_t>((msSinceEpoch - ms) / 1000);
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char text[80];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(ms));
  return text;
}

const char* TLogExport::Kind(const TLogLine& line)
{
  switch (line.Colour) {
  case TLogColour::Green: return "progress";
  case TLogColour::Red: return line.Bold ? "port failure" : "fault";
  default: return "step";
  }
}

namespace {

const char* ColourName(TLogColour colour)
{
  switch (colour) {
  case TLogColour::Green: return "green";
  case TLogColour::Red: return "red";
  default: return "blue";
  }
}

// A field in double quotes, its own quotes doubled, so that commas and quotes in a text survive.
std::string Quoted(const std::string& text)
{
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"')
      quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

} // namespace

std::string TLogExport::TextLine(const TLogLine& line)
{
  return IsoTime(line.MsSinceEpoch) + ' ' + line.Text;
}

std::string TLogExport::CsvLine(const TLogLine& line)
{
  return IsoTime(line.MsSinceEpoch) + ',' + Kind(line) + ',' + ColourName(line.Colour) + ',' + Quoted(line.Text);
}

void TLogExport::Write(std::ostream& out, TFormat format, const std::vector<std::string>& header,
                       const std::vector<TLogLine>& lines)
{
  // A CSV reader takes the first row as the column names, so the comments stay in the text.
  if (format == TFormat::Csv)
    out << "time,kind,colour,text\n";
  else
    for (const std::string& comment : header)
      out << "# " << comment << '\n';
  for (const TLogLine& line : lines)
    out << (format == TFormat::Csv ? CsvLine(line) : TextLine(line)) << '\n';
}

std::optional<std::string> TLogExport::Save(const std::string& path, TFormat format,
                                            const std::vector<std::string>& header, const std::vector<TLogLine>& lines)
{
  std::ostringstream text;
  Write(text, format, header, lines);
  return WriteWholeFile(path, text.str());
}
