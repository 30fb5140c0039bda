#pragma once

#include "history/LogLine.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

// The operation log written out for the shift's record: as plain text, each line behind its local
// time, or as CSV with the time, the kind of line, its colour and its text.
class TLogExport {
public:
  enum class TFormat { Text, Csv };

  // ISO 8601 local time with milliseconds: 2026-12-07T14:05:09.042
  static std::string IsoTime(std::int64_t msSinceEpoch);
  // What a line of that colour and weight reports, for a reader who cannot see the colours.
  static const char* Kind(const TLogLine& line);
  static std::string TextLine(const TLogLine& line);
  static std::string CsvLine(const TLogLine& line);
  // The text starts with the header lines, each as a '#' comment (the link counters, for instance);
  // the CSV is plain: its column names, then a row a line.
  static void Write(std::ostream& out, TFormat format, const std::vector<std::string>& header,
                    const std::vector<TLogLine>& lines);
  // Replaces the file whole, or leaves it as it was and says why: "Cannot write <path>: <reason>".
  static std::optional<std::string> Save(const std::string& path, TFormat format,
                                         const std::vector<std::string>& header, const std::vector<TLogLine>& lines);
};
