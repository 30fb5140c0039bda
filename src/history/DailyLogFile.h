#pragma once

#include "history/LogLine.h"

#include <cstdint>
#include <string>

// The log kept on disk as it grows: one file a day in a folder, each line written whole as it comes,
// so that a crash loses nothing and a full disk leaves no half line. Clearing the log's view does
// not touch it.
class TDailyLogFile {
public:
  // Header: what this session runs against (version, device, address); it heads each file this
  // session opens, behind its time.
  TDailyLogFile(std::string folder, std::string header);
  ~TDailyLogFile();
  TDailyLogFile(const TDailyLogFile&) = delete;
  TDailyLogFile& operator=(const TDailyLogFile&) = delete;

  // False when the day's file cannot be created or written; Problem() then says why, and the file
  // is cut back to its last whole line.
  bool Append(const TLogLine& line);
  const std::string& Problem() const { return LastProblem; }
  // The file of the day that line belongs to.
  std::string PathFor(const TLogLine& line) const;

private:
  bool OpenFor(const TLogLine& line);
  bool WriteWhole(const std::string& text);
  void Close();

  std::string Folder;
  std::string Header;
  std::string OpenPath;
  int Fd = -1;
  std::int64_t GoodSize = 0; // the end of the last whole line
  std::string LastProblem;
};
