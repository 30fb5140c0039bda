#include "PtyClient.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

TPtyClient::TPtyClient(const std::string& path)
{
  Open(path);
}

TPtyClient::~TPtyClient()
{
  Close();
}

bool TPtyClient::Open(const std::string& path)
{
  Close();
  Fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  LineHungUp = false;
  if (Fd >= 0)
    ::tcflush(Fd, TCIFLUSH);
  return Fd >= 0;
}

void TPtyClient::Close()
{
  if (Fd >= 0)
    ::close(Fd);
  Fd = -1;
}

bool TPtyClient::IsOpen() const
{
  return Fd >= 0;
}

bool TPtyClient::Write(std::span<const std::uint8_t> bytes)
{
  while (!bytes.empty()) {
    const ssize_t count = ::write(Fd, bytes.data(), bytes.size());
    if (count < 0 && errno == EINTR)
      continue;
    if (count < 0 && errno == EAGAIN) {
      pollfd pfd{Fd, POLLOUT, 0};
      ::poll(&pfd, 1, -1);
      continue;
    }
    if (count <= 0)
      return false;
    bytes = bytes.subspan(static_cast<std::size_t>(count));
  }
  return true;
}

TPtyClient::TBytes TPtyClient::ReadExactly(std::size_t count, std::chrono::milliseconds timeout)
{
  const auto deadline = TClock::now() + timeout;
  TBytes bytes;
  while (bytes.size() < count && WaitReadable(deadline))
    ReadOnce(bytes, count - bytes.size());
  return bytes;
}

TPtyClient::TBytes TPtyClient::ReadAvailable(std::chrono::milliseconds timeout)
{
  TBytes bytes;
  if (WaitReadable(TClock::now() + timeout))
    while (ReadOnce(bytes, 4096)) {
    }
  return bytes;
}

bool TPtyClient::WaitForHangUp(std::chrono::milliseconds timeout)
{
  const auto deadline = TClock::now() + timeout;
  TBytes discarded;
  while (!LineHungUp && WaitReadable(deadline))
    ReadOnce(discarded, 4096);
  return LineHungUp;
}

bool TPtyClient::HungUp() const
{
  return LineHungUp;
}

bool TPtyClient::WaitReadable(TClock::time_point deadline)
{
  while (Fd >= 0 && !LineHungUp) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - TClock::now()).count();
    pollfd pfd{Fd, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(std::max<long long>(left, 0)));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready <= 0)
      return false;
    if (pfd.revents & POLLIN)
      return true;
    LineHungUp = true; // POLLHUP or POLLERR without data
  }
  return false;
}

bool TPtyClient::ReadOnce(TBytes& bytes, std::size_t limit)
{
  std::uint8_t buffer[4096];
  const ssize_t count = ::read(Fd, buffer, std::min(limit, sizeof buffer));
  if (count > 0) {
    bytes.insert(bytes.end(), buffer, buffer + count);
    return true;
  }
  if (count == 0 || (errno != EAGAIN && errno != EINTR))
    LineHungUp = true; // EIO once the other end is gone
  return false;
}
