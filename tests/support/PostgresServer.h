#pragma once

#include <string>
#include <vector>

// A PostgreSQL cluster of the test's own: the Debian package's initdb and pg_ctl in a folder under
// /tmp, listening only on a Unix socket there, password authentication on, run as an unprivileged
// user (the postgres account when the tests run as root, as PostgreSQL refuses root). Where the
// server or such a user cannot be had, Unavailable() says why and the test skips with it.
class TPostgresServer {
public:
  static constexpr const char* User = "ozmet";
  static constexpr const char* Password = "bench-secret";

  TPostgresServer();
  ~TPostgresServer();
  TPostgresServer(const TPostgresServer&) = delete;
  TPostgresServer& operator=(const TPostgresServer&) = delete;

  const std::string& Unavailable() const { return Why; }
  // postgresql://ozmet:PASSWORD@/DATABASE?host=FOLDER; another password for wrong credentials.
  std::string Url(const std::string& database = "postgres", const std::string& password = Password) const;
  // pg_ctl stop and start: false with the reason in Unavailable() when it did not.
  bool Stop();
  bool Start();

private:
  bool Run(const std::string& program, const std::vector<std::string>& arguments);

  std::string Bin;    // the package's programs
  std::string Folder; // the socket, the data folder, the log
  std::string Why;
  bool AsPostgres = false;
  bool Running = false;
};
