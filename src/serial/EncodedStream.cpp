#include "serial/EncodedStream.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

TEncodedStream::TEncodedStream(const std::string& fileName, TMode mode, bool encode)
    : Encode(encode), Fd(OpenFile(fileName, mode))
{
  Key[0] = FileKey;
}

TEncodedStream::~TEncodedStream()
{
  // Not retried on EINTR: on Linux the descriptor is released even then.
  if (Fd >= 0)
    ::close(Fd);
}

int TEncodedStream::OpenFile(const std::string& fileName, TMode mode)
{
  const int flags = mode == TMode::Create ? O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC : O_RDONLY | O_CLOEXEC;
  int fd;
  do
    fd = ::open(fileName.c_str(), flags, 0666);
  while (fd < 0 && errno == EINTR);
  struct stat info {};
  // A folder opens for reading but cannot be read as a stream.
  if (fd >= 0 && (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode))) {
    ::close(fd);
    fd = -1;
  }
  return fd;
}

bool TEncodedStream::IsOpen() const
{
  return Fd >= 0;
}

std::uint8_t TEncodedStream::KeySum() const
{
  if (!Encode)
    return 0;
  unsigned sum = 0;
  for (std::uint8_t key : Key)
    sum += key;
  return static_cast<std::uint8_t>(sum); // the shift is taken mod 256
}

std::size_t TEncodedStream::Write(const std::uint8_t* buffer, std::size_t count)
{
  const std::uint8_t shift = KeySum();
  std::vector<std::uint8_t> block(buffer, buffer + count);
  for (std::uint8_t& b : block)
    b = static_cast<std::uint8_t>(b + shift);
  return WriteAll(block.data(), block.size());
}

std::size_t TEncodedStream::Read(std::uint8_t* buffer, std::size_t count)
{
  const std::uint8_t shift = KeySum();
  std::vector<std::uint8_t> block(count);
  const std::size_t got = ReadAll(block.data(), count);
  for (std::size_t i = 0; i < got; ++i)
    buffer[i] = static_cast<std::uint8_t>(block[i] - shift);
  return got;
}

std::uint64_t TEncodedStream::Size()
{
  struct stat info {};
  if (Fd < 0 || ::fstat(Fd, &info) != 0)
    return 0;
  return static_cast<std::uint64_t>(info.st_size);
}

std::size_t TEncodedStream::WriteAll(const std::uint8_t* bytes, std::size_t count)
{
  std::size_t done = 0;
  while (Fd >= 0 && done < count) {
    const ssize_t n = ::write(Fd, bytes + done, count - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

std::size_t TEncodedStream::ReadAll(std::uint8_t* bytes, std::size_t count)
{
  std::size_t done = 0;
  while (Fd >= 0 && done < count) {
    const ssize_t n = ::read(Fd, bytes + done, count - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) // end of file or an error: what was read so far stands
      break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}
