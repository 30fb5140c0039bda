#include "PtyPair.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

TPtyPair::TPtyPair()
{
  Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (Master < 0 || ::grantpt(Master) != 0 || ::unlockpt(Master) != 0)
    throw std::runtime_error("no pseudo-terminal");
  Path = ::ptsname(Master);
  Slave = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios raw{};
  if (Slave < 0 || ::tcgetattr(Slave, &raw) != 0)
    throw std::runtime_error("cannot open " + Path);
  ::cfmakeraw(&raw);
  ::tcsetattr(Slave, TCSANOW, &raw);
}

TPtyPair::~TPtyPair()
{
  ::close(Slave);
  ::close(Master);
}

void TPtyPair::WriteMaster(const std::vector<std::uint8_t>& bytes)
{
  ASSERT_EQ(::write(Master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

std::vector<std::uint8_t> TPtyPair::ReadMaster(std::size_t count, std::chrono::milliseconds timeout)
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::vector<std::uint8_t> bytes;
  while (bytes.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd pfd{Master, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
      break;
    std::uint8_t buffer[64];
    const ssize_t n = ::read(Master, buffer, std::min(sizeof buffer, count - bytes.size()));
    if (n <= 0)
      break;
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  return bytes;
}
