#include "WholeFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Failed(const std::string& path, int error)
{
  return "Cannot write " + path + ": " + std::strerror(error);
}

// The mode a new file would get from open(0666), or the one the file already has.
mode_t ModeFor(const std::string& path)
{
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0)
    return existing.st_mode & 07777;
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return 0666 & ~mask;
}

bool WriteAll(int fd, std::string_view text)
{
  while (!text.empty()) {
    const ssize_t count = ::write(fd, text.data(), text.size());
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0)
      return false;
    text.remove_prefix(static_cast<std::size_t>(count));
  }
  return true;
}

} // namespace

std::optional<std::string> WriteWholeFile(const std::string& path, const std::string& text)
{
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0)
    return Failed(path, errno);
  bool written = ::fchmod(fd, ModeFor(path)) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0)
    return std::nullopt;
  if (written)
    error = errno;
  ::unlink(temporary.c_str());
  return Failed(path, error);
}
