#include "PostgresServer.h"

#include "ChildProcess.h"

#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The newest of the package's versions, /usr/lib/postgresql/<N>/bin.
std::string ServerPrograms()
{
  std::string newest;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", error))
    if (fs::exists(entry.path() / "bin/initdb") && entry.path().string() > newest)
      newest = entry.path().string();
  return newest.empty() ? newest : newest + "/bin";
}

} // namespace

TPostgresServer::TPostgresServer() : Bin(ServerPrograms())
{
  if (Bin.empty()) {
    Why = "no PostgreSQL server (/usr/lib/postgresql/*/bin/initdb): Debian's postgresql package";
    return;
  }
  char folder[] = "/tmp/ozmet-pg-XXXXXX";
  if (!::mkdtemp(folder)) {
    Why = "no folder for the cluster under /tmp";
    return;
  }
  Folder = folder;
  std::ofstream(Folder + "/password") << Password << "\n";
  AsPostgres = ::geteuid() == 0;
  if (AsPostgres) {
    const passwd* postgres = ::getpwnam("postgres");
    if (!postgres || ::chown(Folder.c_str(), postgres->pw_uid, postgres->pw_gid) != 0 ||
        ::chown((Folder + "/password").c_str(), postgres->pw_uid, postgres->pw_gid) != 0) {
      Why = "running as root without a postgres account to run the server as";
      return;
    }
  }
  if (Run(Bin + "/initdb", {"-D", Folder + "/data", "-U", User, "--pwfile=" + Folder + "/password", "-A",
                            "scram-sha-256", "-E", "UTF8", "--locale=C", "--no-sync"}))
    Start();
}

TPostgresServer::~TPostgresServer()
{
  if (Running)
    Run(Bin + "/pg_ctl", {"-D", Folder + "/data", "-m", "immediate", "-w", "stop"});
  if (!Folder.empty()) {
    std::error_code error;
    fs::remove_all(Folder, error);
  }
}

std::string TPostgresServer::Url(const std::string& database, const std::string& password) const
{
  return std::string("postgresql://") + User + ":" + password + "@/" + database + "?host=" + Folder;
}

bool TPostgresServer::Stop()
{
  Running = !Run(Bin + "/pg_ctl", {"-D", Folder + "/data", "-m", "fast", "-w", "stop"});
  return !Running;
}

bool TPostgresServer::Start()
{
  Running = Run(Bin + "/pg_ctl", {"-D", Folder + "/data", "-l", Folder + "/log", "-w", "-o",
                                  "-k " + Folder + " -c listen_addresses='' -c fsync=off", "start"});
  return Running;
}

bool TPostgresServer::Run(const std::string& program, const std::vector<std::string>& arguments)
{
  std::vector<std::string> command = arguments;
  std::string path = program;
  if (AsPostgres) {
    command.insert(command.begin(), {"-u", "postgres", "--", program});
    path = "/usr/sbin/runuser";
  }
  TChildProcess child(path, command);
  const auto status = child.WaitForExit(std::chrono::seconds(60));
  if (status == 0)
    return true;
  child.WaitForOutput(1, "\x01 its whole output", std::chrono::seconds(2));
  Why = program + " failed (" + (status ? std::to_string(*status) : "still running") + "): " + child.Stderr();
  return false;
}
