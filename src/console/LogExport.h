#pragma once

#include "LogLine.h"

#include <cstdint>
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
  // The header lines (each written as a comment) come first: the link counters, for instance.
  static void Write(std::ostream& out, TFormat format, const std::vector<std::string>& header,
                    const std::vector<TLogLine>& lines);
};
