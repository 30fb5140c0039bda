#include "MosquittoBroker.h"

#include <fstream>
#include <thread>

#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const Program = "/usr/sbin/mosquitto";

// A port the kernel had free a moment ago.
int FreePort()
{
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

bool Accepts(int port)
{
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool accepted = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return accepted;
}

std::string LoginName()
{
  const passwd* user = ::getpwuid(::geteuid());
  return user ? user->pw_name : "root";
}

} // namespace

TMosquittoBroker::TMosquittoBroker(TTransport transport)
{
  if (::access(Program, X_OK) != 0 || ::access("/usr/bin/mosquitto_passwd", X_OK) != 0) {
    Why = "mosquitto is not installed (Debian: mosquitto)";
    return;
  }
  const std::string passwords = Folder.Path() + "/passwords";
  TChildProcess made("/usr/bin/mosquitto_passwd", {"-c", "-b", passwords, User, Password});
  if (made.WaitForExit() != 0) {
    Why = "mosquitto_passwd failed: " + made.Stderr();
    return;
  }
  ::chmod(passwords.c_str(), 0600);
  if (transport == TTransport::Tls && !MakeCertificates())
    return;
  Port = FreePort();
  // As root, mosquitto would become the mosquitto user, who cannot read the test's folder.
  std::ofstream(Folder.Path() + "/mosquitto.conf")
      << "listener " << Port << " 127.0.0.1\n"
      << "allow_anonymous false\n"
      << "password_file " << passwords << "\n"
      << "persistence false\n"
      << "user " << LoginName() << "\n"
      << "log_dest file " << Folder.Path() << "/log\n"
      << (CaFile.empty()
              ? ""
              : "certfile " + Folder.Path() + "/broker.crt\n" + "keyfile " + Folder.Path() + "/broker.key\n");
  if (!Start()) {
    std::ifstream log(Folder.Path() + "/log");
    Why = "mosquitto did not start: " + std::string(std::istreambuf_iterator<char>(log), {});
  }
}

bool TMosquittoBroker::MakeCertificates()
{
  if (::access("/usr/bin/openssl", X_OK) != 0) {
    Why = "openssl is not installed (Debian: openssl)";
    return false;
  }
  const std::string at = Folder.Path() + "/";
  std::ofstream(at + "san.ext") << "subjectAltName=IP:127.0.0.1\n";
  const std::vector<std::vector<std::string>> steps = {
      {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", at + "ca.key", "-out", at + "ca.crt", "-days", "2",
       "-subj", "/CN=ozmet test CA"},
      {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", at + "broker.key", "-out", at + "broker.csr", "-subj",
       "/CN=127.0.0.1"},
      {"x509", "-req", "-in", at + "broker.csr", "-CA", at + "ca.crt", "-CAkey", at + "ca.key", "-CAcreateserial",
       "-out", at + "broker.crt", "-days", "2", "-extfile", at + "san.ext"},
  };
  for (const std::vector<std::string>& step : steps) {
    TChildProcess openssl("/usr/bin/openssl", step);
    if (openssl.WaitForExit(std::chrono::seconds(30)) != 0) {
      Why = "openssl " + step[0] + " failed: " + openssl.Stderr();
      return false;
    }
  }
  CaFile = at + "ca.crt";
  return true;
}

TMosquittoBroker::~TMosquittoBroker()
{
  Kill();
}

void TMosquittoBroker::Kill()
{
  if (!Broker)
    return;
  Broker->Signal(SIGKILL);
  Broker->WaitForExit();
  Broker.reset();
}

bool TMosquittoBroker::Start()
{
  Broker = std::make_unique<TChildProcess>(Program, std::vector<std::string>{"-c", Folder.Path() + "/mosquitto.conf"});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!Accepts(Port)) {
    if (!Broker->Running() || std::chrono::steady_clock::now() > deadline)
      return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}
