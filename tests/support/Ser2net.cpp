#include "Ser2net.h"

#include "LoopbackAddress.h"
#include "MainThreadWait.h"

#include <array>
#include <cerrno>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Two ports nothing listens on now: the kernel's picks for two sockets bound to port 0 at once, so
// the two differ.
std::array<int, 2> FreePorts()
{
  std::array<int, 2> fds{}, ports{};
  for (std::size_t i = 0; i < fds.size(); ++i) {
    fds[i] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = LoopbackAddress(0);
    socklen_t size = sizeof address;
    if (::bind(fds[i], reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(fds[i], reinterpret_cast<sockaddr*>(&address), &size) == 0)
      ports[i] = ntohs(address.sin_port);
  }
  for (const int fd : fds)
    ::close(fd);
  return ports;
}

// Someone listens there: the port cannot be bound. A connection would make ser2net open the device.
bool Listening(int port)
{
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = LoopbackAddress(port);
  const bool taken = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 && errno == EADDRINUSE;
  ::close(fd);
  return taken;
}

std::string Program()
{
  return ::access("/usr/sbin/ser2net", X_OK) == 0 ? "/usr/sbin/ser2net" : "ser2net";
}

} // namespace

TSer2net::TSer2net(std::string device) : Device(std::move(device))
{
  PickPorts();
}

// "local": no modem lines to wait for on a pseudo-terminal; no chardelay: an answer is passed on as
// it comes, not held back in the hope of more, as the README's configuration has it.
void TSer2net::PickPorts()
{
  const std::array<int, 2> ports = FreePorts();
  RawPort = ports[0];
  TelnetPort = ports[1];
  const std::string rest = "\n  connector: serialdev," + Device + ",9600n81,local\n  options:\n    chardelay: false\n";
  std::ofstream(Folder.Path() + "/ser2net.yaml")
      << "%YAML 1.1\n---\n"
      << "connection: &raw\n  accepter: tcp,127.0.0.1," << RawPort << rest
      << "connection: &telnet\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << TelnetPort << rest;
}

// A port picked free may be taken by another test before ser2net binds it: new ports, again.
bool TSer2net::Start()
{
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0)
      PickPorts();
    Server = std::make_unique<TChildProcess>(
        Program(), std::vector<std::string>{"-n", "-d", "-c", Folder.Path() + "/ser2net.yaml", "-P",
                                            Folder.Path() + "/ser2net.pid"});
    if (PollUntil([&] { return !Server->Running() || (Listening(RawPort) && Listening(TelnetPort)); }) &&
        Server->Running())
      return true;
  }
  return false;
}

void TSer2net::Kill()
{
  Server = nullptr;
}
