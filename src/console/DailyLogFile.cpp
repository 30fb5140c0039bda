#include "DailyLogFile.h"

#include "LogExport.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

TDailyLogFile::TDailyLogFile(std::string folder) : Folder(std::move(folder))
{
}

std::string TDailyLogFile::PathFor(const TLogLine& line) const
{
  return Folder + "/ozmet-" + TLogExport::IsoTime(line.MsSinceEpoch).substr(0, 10) + ".log";
}

bool TDailyLogFile::Append(const TLogLine& line)
{
  if (!OpenFor(line))
    return false;
  File << TLogExport::TextLine(line) << std::endl; // flushed: a crash loses nothing written
  if (File)
    return true;
  LastProblem = OpenPath + ": " + std::strerror(errno);
  OpenPath.clear();
  File.close();
  return false;
}

// A new day, or the first line, opens that day's file for appending.
bool TDailyLogFile::OpenFor(const TLogLine& line)
{
  const std::string path = PathFor(line);
  if (path == OpenPath && File.is_open())
    return true;
  File.close();
  std::error_code error;
  std::filesystem::create_directories(Folder, error);
  File.clear();
  File.open(path, std::ios::app);
  if (!File.is_open()) {
    LastProblem = path + ": " + (error ? error.message() : std::strerror(errno));
    return false;
  }
  OpenPath = path;
  return true;
}
