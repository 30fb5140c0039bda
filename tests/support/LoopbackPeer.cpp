#include "LoopbackPeer.h"

#include "LoopbackAddress.h"

#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// Readable (or writable) within a tenth of a second: the loops look at Stopping between waits.
bool Ready(int fd, short events)
{
  pollfd pfd{fd, events, 0};
  return ::poll(&pfd, 1, 100) > 0;
}

} // namespace

TLoopbackPeer::TLoopbackPeer(TKind kind, const std::string& target)
    : Kind(kind), Target(target.empty() ? 0 : std::stoi(target.substr(target.rfind(':') + 1)))
{
  Listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  sockaddr_in address = LoopbackAddress(0);
  socklen_t size = sizeof address;
  if (::bind(Listener, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(Listener, 4) == 0 &&
      ::getsockname(Listener, reinterpret_cast<sockaddr*>(&address), &size) == 0)
    Port = ntohs(address.sin_port);
  if (Kind != TKind::Silent)
    Thread = std::thread([this] { Serve(); });
}

TLoopbackPeer::~TLoopbackPeer()
{
  Stopping = true;
  if (Thread.joinable())
    Thread.join();
  ::close(Listener);
}

// One client at a time: a port that reopens is served again.
void TLoopbackPeer::Serve()
{
  while (!Stopping) {
    if (!Ready(Listener, POLLIN))
      continue;
    const int client = ::accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0)
      continue;
    const int on = 1; // every byte leaves as it is sent, so the hold inside an answer is the relay's alone
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (Kind == TKind::Flood)
      Flood(client);
    else
      Relay(client);
    ::close(client);
  }
}

bool TLoopbackPeer::SendAll(int fd, const std::uint8_t* bytes, std::size_t count)
{
  while (count > 0 && !Stopping) {
    const ssize_t n = ::send(fd, bytes, count, MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EINTR)
      return false;
    if (n <= 0) {
      Ready(fd, POLLOUT);
      continue;
    }
    SentBytes += static_cast<std::uint64_t>(n);
    bytes += n;
    count -= static_cast<std::size_t>(n);
  }
  return !Stopping;
}

void TLoopbackPeer::Flood(int client)
{
  const std::vector<std::uint8_t> zeros(64 * 1024, 0);
  while (SendAll(client, zeros.data(), zeros.size())) {
  }
}

// Frames go on as they come; the far end's bytes come back with a hold after the third of every five.
void TLoopbackPeer::Relay(int client)
{
  const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = LoopbackAddress(Target);
  if (::connect(server, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(server);
    return;
  }
  std::uint64_t passed = 0;
  std::uint8_t chunk[512];
  bool open = true;
  while (open && !Stopping) {
    pollfd pfds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
    if (::poll(pfds, 2, 100) <= 0)
      continue;
    if (pfds[0].revents) {
      const ssize_t n = ::recv(client, chunk, sizeof chunk, MSG_DONTWAIT);
      open = n > 0 ? ::send(server, chunk, static_cast<std::size_t>(n), MSG_NOSIGNAL) == n : n < 0 && errno == EAGAIN;
    }
    if (open && pfds[1].revents) {
      const ssize_t n = ::recv(server, chunk, sizeof chunk, 0);
      open = n > 0;
      for (ssize_t i = 0; open && i < n; ++i) {
        open = SendAll(client, chunk + i, 1);
        if (++passed % 5 == 3)
          std::this_thread::sleep_for(std::chrono::milliseconds(GapMs)); // the relay's own hold, not a wait of the test
      }
    }
  }
  ::close(server);
}
