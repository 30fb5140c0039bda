#include "serial/TcpLine.h"

#include "devices/NetworkAddress.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono;

int MillisecondsLeft(steady_clock::time_point deadline)
{
  return static_cast<int>(std::max<long long>(0, ceil<milliseconds>(deadline - steady_clock::now()).count()));
}

// A non-blocking connect, given until the deadline; the errno of its failure, 0 when connected.
int ConnectOne(int fd, const addrinfo& address, steady_clock::time_point deadline)
{
  if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0)
    return 0;
  if (errno != EINPROGRESS)
    return errno;
  pollfd pfd{fd, POLLOUT, 0};
  int ready;
  do
    ready = ::poll(&pfd, 1, MillisecondsLeft(deadline));
  while (ready < 0 && errno == EINTR);
  if (ready == 0)
    return ETIMEDOUT;
  int error = 0;
  socklen_t size = sizeof error;
  if (ready < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
    return errno;
  return error;
}

} // namespace

TTcpLine::~TTcpLine()
{
  Close();
}

bool TTcpLine::Open(const std::string& name)
{
  Close();
  const auto address = TNetworkAddress::Parse(name);
  LastOpenError = address ? HostUnknown : EINVAL;
  if (!address || !Connect(address->Host, address->Port))
    return false;
  LastOpenError = 0;
  Name = name;
  Closed = false;
  Inbox.clear();
  InboxHead = 0;
  PendingErrors = 0;
  Flood.Reset();
  return true;
}

bool TTcpLine::Connect(const std::string& host, std::uint16_t port)
{
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0 || !found)
    return false;
  const auto deadline = steady_clock::now() + milliseconds(ConnectTimeoutMs);
  for (const addrinfo* each = found; each && Fd < 0; each = each->ai_next) {
    const int fd = ::socket(each->ai_family, each->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, each->ai_protocol);
    LastOpenError = fd < 0 ? errno : ConnectOne(fd, *each, deadline);
    if (LastOpenError == 0)
      Fd = fd;
    else if (fd >= 0)
      ::close(fd);
  }
  ::freeaddrinfo(found);
  // A frame leaves at once, in one segment, not held back to be joined with the next.
  const int on = 1;
  if (Fd >= 0)
    ::setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return Fd >= 0;
}

void TTcpLine::Close()
{
  if (Fd < 0)
    return;
  ::close(Fd);
  Fd = -1;
}

// What the server said first is read before anything more is sent: a server that refuses this client
// says why and closes, and a write into the closed connection would have its words thrown away.
bool TTcpLine::Apply(const TLineSettings& settings)
{
  Settings = settings;
  Pump();
  return Fd >= 0;
}

std::string TTcpLine::SettingsNote() const
{
  if (!Settings.Rs485)
    return {};
  return Rs485NotSet + Name +
         " is a network line: the server's device drives the bus direction itself; the line works without it.";
}

bool TTcpLine::ReadBack(TLineSettings& settings) const
{
  settings = Settings;
  return Fd >= 0;
}

std::uint32_t TTcpLine::ModemStatus() const
{
  return Fd < 0 || Closed ? ModemUnreadable : 0;
}

TLineStatus TTcpLine::ClearErrors()
{
  Pump();
  TLineStatus status;
  status.InQueue = static_cast<std::uint32_t>(Queued());
  status.Errors = std::exchange(PendingErrors, 0);
  return status;
}

bool TTcpLine::Write(const std::uint8_t* bytes, std::size_t count)
{
  return Send(Wrapped(std::span(bytes, count)));
}

std::size_t TTcpLine::Read(std::uint8_t* bytes, std::size_t count)
{
  Pump();
  const std::size_t taken = std::min(count, Queued());
  std::copy_n(Inbox.begin() + static_cast<std::ptrdiff_t>(InboxHead), taken, bytes);
  InboxHead += taken;
  // Compacted once the read part outweighs the rest: each byte is moved at most once on average.
  if (InboxHead == Inbox.size() || InboxHead > Queued()) {
    Inbox.erase(Inbox.begin(), Inbox.begin() + static_cast<std::ptrdiff_t>(InboxHead));
    InboxHead = 0;
  }
  return taken;
}

void TTcpLine::Received(std::span<const std::uint8_t> bytes)
{
  Keep(bytes);
}

void TTcpLine::Keep(std::span<const std::uint8_t> bytes)
{
  const std::size_t room = InboxLimit - std::min(InboxLimit, Queued());
  if (bytes.size() > room)
    PendingErrors |= TLineStatus::Overrun;
  Inbox.insert(Inbox.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(room, bytes.size())));
}

std::vector<std::uint8_t> TTcpLine::Wrapped(std::span<const std::uint8_t> bytes)
{
  return {bytes.begin(), bytes.end()};
}

bool TTcpLine::Send(std::span<const std::uint8_t> bytes)
{
  // MSG_NOSIGNAL: a connection closed by the far end fails the write instead of ending the program.
  const bool sent = Fd >= 0 && !Closed &&
                    WriteAll(Fd, bytes, steady_clock::now() + seconds(1), [](int fd, const std::uint8_t* out,
                                                                             std::size_t size) {
                      return ::send(fd, out, size, MSG_NOSIGNAL);
                    });
  Closed = Closed || !sent;
  return sent;
}

void TTcpLine::Pump()
{
  // One look takes at most a queue's worth: a peer that sends without end cannot hold the reader here.
  std::uint8_t chunk[4096];
  std::size_t taken = 0;
  while (Fd >= 0 && !Closed && taken < InboxLimit) {
    const ssize_t n = ::recv(Fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0) {
      Closed = n == 0 || errno != EAGAIN;
      break;
    }
    // Acknowledged at once, every time (the kernel forgets it): a server that sends an answer byte by
    // byte holds the second byte back until the first is acknowledged, and a delayed acknowledgement
    // would split the answer by 40 ms.
    const int on = 1;
    ::setsockopt(Fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    taken += static_cast<std::size_t>(n);
    Received(std::span(chunk, static_cast<std::size_t>(n)));
  }
  if (Fd < 0 || Closed)
    return;
  Flood.Note(taken);
  if (Flood.Flooding()) {
    // Nothing it sent can be told an answer: the line has failed, and says so as a hung-up one does.
    Closed = true;
    Inbox.clear();
    InboxHead = 0;
    ::shutdown(Fd, SHUT_RDWR);
  }
}
