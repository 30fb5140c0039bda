#include "files/WholeFile.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string SystemError(std::string_view doing, const std::string& path, int error)
{
  return std::string(doing) + " " + path + ": " + std::strerror(error);
}

std::string Failed(const std::string& path, int error)
{
  return SystemError("Cannot write", path, error);
}

// What read refused, or nothing at the end of the file; stops once text holds more than maxBytes.
std::optional<int> ReadAll(int fd, std::size_t maxBytes, std::string& text)
{
  std::array<char, 4096> buffer;
  while (text.size() <= maxBytes) {
    const ssize_t count = ::read(fd, buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0)
      return errno;
    if (count == 0)
      return std::nullopt;
    text.append(buffer.data(), static_cast<std::size_t>(count));
  }
  return std::nullopt;
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

// The file a chain of symbolic links leads to (path itself when it is none): the file is written
// there, so that the links stay and all who share the target see the new text.
std::string Target(std::string path)
{
  for (int hops = 0; hops < 40; ++hops) {
    std::string link(PATH_MAX, '\0');
    const ssize_t size = ::readlink(path.c_str(), link.data(), link.size());
    if (size < 0)
      return path;
    link.resize(static_cast<std::size_t>(size));
    const std::size_t slash = path.rfind('/');
    path = link.starts_with('/') || slash == std::string::npos ? link : path.substr(0, slash + 1) + link;
  }
  return path; // a loop: the rename's error says so
}

} // namespace

bool SyncFolder(const std::string& path)
{
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return false;
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

std::optional<std::string> WriteWholeFile(const std::string& shownPath, const std::string& text)
{
  const std::string path = Target(shownPath);
  std::string temporary = path + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0)
    return Failed(shownPath, errno);
  bool written = ::fchmod(fd, ModeFor(path)) == 0 && WriteAll(fd, text) && ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  // The rename lives in the folder: synced too, a "saved" survives a power loss.
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0)
    return SyncFolder(path) ? std::nullopt : std::optional(Failed(shownPath, errno));
  if (written)
    error = errno;
  ::unlink(temporary.c_str());
  return Failed(shownPath, error);
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxBytes, std::string_view kind,
                                         std::string& text)
{
  text.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return SystemError("Cannot open", path, errno);
  const std::optional<int> error = ReadAll(fd, maxBytes, text);
  ::close(fd);
  if (error)
    return SystemError("Cannot read", path, *error);
  if (text.size() > maxBytes)
    return "Cannot read " + path + ": over " + std::to_string(maxBytes / 1024) + " KiB, not " + std::string(kind);
  return std::nullopt;
}
