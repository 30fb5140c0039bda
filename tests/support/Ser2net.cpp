#include "Ser2net.h"

#include "MainThreadWait.h"

#include <filesystem>
#include <cerrno>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A port nothing listens on now: the kernel's pick for a socket bound to port 0.
int FreePort()
{
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0;
  ::close(fd);
  return bound ? ntohs(address.sin_port) : 0;
}

// Someone listens there: the port cannot be bound. A connection would make ser2net open the device.
bool Listening(int port)
{
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool taken = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno == EADDRINUSE;
  ::close(fd);
  return taken;
}

std::string Program()
{
  return ::access("/usr/sbin/ser2net", X_OK) == 0 ? "/usr/sbin/ser2net" : "ser2net";
}

} // namespace

TSer2net::TSer2net(std::string device) : Device(std::move(device)), RawPort(FreePort()), TelnetPort(FreePort())
{
  // "local": no modem lines to wait for on a pseudo-terminal; no chardelay: an answer is passed on as
  // it comes, not held back in the hope of more, as the README's configuration has it.
  const std::string rest = "\n  connector: serialdev," + Device + ",9600n81,local\n  options:\n    chardelay: false\n";
  std::ofstream(Folder.Path() + "/ser2net.yaml")
      << "%YAML 1.1\n---\n"
      << "connection: &raw\n  accepter: tcp,127.0.0.1," << RawPort << rest
      << "connection: &telnet\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << TelnetPort << rest;
}

bool TSer2net::Start()
{
  Server = std::make_unique<TChildProcess>(
      Program(), std::vector<std::string>{"-n", "-d", "-c", Folder.Path() + "/ser2net.yaml", "-P",
                                          Folder.Path() + "/ser2net.pid"});
  return PollUntil([&] { return Listening(RawPort) && Listening(TelnetPort); });
}

void TSer2net::Kill()
{
  Server = nullptr;
}

void TSer2net::WaitForIdle() const
{
  const std::string fds = "/proc/" + std::to_string(Server->Id()) + "/fd";
  PollUntil([&] {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(fds, error))
      if (std::filesystem::read_symlink(entry.path(), error) == Device)
        return false;
    return true;
  });
}
