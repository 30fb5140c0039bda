#include "serial/Line.h"

#include "devices/NetworkAddress.h"
#include "serial/Rfc2217Line.h"
#include "serial/SerialDevice.h"
#include "serial/TcpLine.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>

std::unique_ptr<TLine> TLine::For(const std::string& name)
{
  const auto address = TNetworkAddress::Parse(name);
  if (address && address->Kind == TNetworkAddress::TKind::Rfc2217)
    return std::make_unique<TRfc2217Line>();
  if (address)
    return std::make_unique<TTcpLine>();
  return std::make_unique<TSerialDevice>();
}

bool TLine::WriteAll(int fd, std::span<const std::uint8_t> bytes, std::chrono::steady_clock::time_point deadline,
                     TPut put)
{
  using namespace std::chrono;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = put(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno != EAGAIN)
      return false;
    const auto left = std::max<long long>(0, ceil<milliseconds>(deadline - steady_clock::now()).count());
    pollfd pfd{fd, POLLOUT, 0};
    if (::poll(&pfd, 1, static_cast<int>(left)) <= 0 || (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)))
      return false;
  }
  return true;
}

std::vector<std::uint8_t> TLine::DropInput()
{
  std::vector<std::uint8_t> dropped;
  std::uint8_t chunk[4096];
  const auto deadline = std::chrono::steady_clock::now() + DropLimit;
  for (std::size_t got; (got = Read(chunk, sizeof chunk)) > 0 && std::chrono::steady_clock::now() < deadline;)
    dropped.insert(dropped.end(), chunk, chunk + std::min(got, DropKept - dropped.size()));
  return dropped;
}
