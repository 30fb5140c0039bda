#pragma once

#include "LogLine.h"

#include <fstream>
#include <string>

// The log kept on disk as it grows: one file a day in a folder, each line flushed as it is written,
// so that a crash loses nothing. Clearing the log's view does not touch it.
class TDailyLogFile {
public:
  explicit TDailyLogFile(std::string folder);

  // False when the day's file cannot be created or written; Problem() then says why.
  bool Append(const TLogLine& line);
  const std::string& Problem() const { return LastProblem; }
  // The file of the day that line belongs to.
  std::string PathFor(const TLogLine& line) const;

private:
  bool OpenFor(const TLogLine& line);

  std::string Folder;
  std::string OpenPath;
  std::ofstream File;
  std::string LastProblem;
};
