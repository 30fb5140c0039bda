#include "history/DailyLogFile.h"

#include "history/LogExport.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

TDailyLogFile::TDailyLogFile(std::string folder, std::string header)
    : Folder(std::move(folder)), Header(std::move(header))
{
}

TDailyLogFile::~TDailyLogFile()
{
  Close();
}

void TDailyLogFile::Close()
{
  if (Fd >= 0)
    ::close(Fd);
  Fd = -1;
  OpenPath.clear();
}

std::string TDailyLogFile::PathFor(const TLogLine& line) const
{
  return Folder + "/ozmet-" + TLogExport::IsoTime(line.MsSinceEpoch).substr(0, 10) + ".log";
}

bool TDailyLogFile::Append(const TLogLine& line)
{
  return OpenFor(line) && WriteWhole(TLogExport::TextLine(line) + '\n');
}

// Written straight to the file (no buffer to lose in a crash); a line the disk takes only in part
// is cut off again, so that the next session's lines do not continue it.
bool TDailyLogFile::WriteWhole(const std::string& text)
{
  for (std::string_view rest = text; !rest.empty();) {
    const ssize_t count = ::write(Fd, rest.data(), rest.size());
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0) {
      LastProblem = OpenPath + ": " + std::strerror(errno);
      if (::ftruncate(Fd, GoodSize) != 0) {
        // nothing more to do: the reason already given is the one that matters
      }
      Close();
      return false;
    }
    rest.remove_prefix(static_cast<std::size_t>(count));
  }
  GoodSize += static_cast<std::int64_t>(text.size());
  return true;
}

// A new day, or the first line, opens that day's file for appending and heads it with the session.
bool TDailyLogFile::OpenFor(const TLogLine& line)
{
  const std::string path = PathFor(line);
  if (path == OpenPath && Fd >= 0)
    return true;
  Close();
  std::error_code error;
  std::filesystem::create_directories(Folder, error);
  Fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  struct stat opened {};
  if (Fd < 0 || ::fstat(Fd, &opened) != 0) {
    LastProblem = path + ": " + (error ? error.message() : std::strerror(errno));
    Close();
    return false;
  }
  OpenPath = path;
  GoodSize = opened.st_size;
  return WriteWhole(TLogExport::TextLine({line.MsSinceEpoch, line.Colour, false, Header}) + '\n');
}
