#pragma once

#include "records/SqlDatabase.h"

#include <optional>
#include <string>
#include <utility>

struct pg_conn;

// One connection to a PostgreSQL server through libpq: the URL as the operator gives it
// (postgresql://HOST/DB), credentials the libpq way (~/.pgpass, PGPASSWORD, PGSSLMODE or sslmode=),
// never kept in a message. The line never waits long for a server: connecting gives up after
// ConnectSeconds and a statement after StatementSeconds.
class TPostgresDatabase : public TSqlDatabase {
public:
  static constexpr int ConnectSeconds = 5;
  static constexpr int StatementSeconds = 10;

  explicit TPostgresDatabase(const std::string& url);
  ~TPostgresDatabase() override;
  TPostgresDatabase(const TPostgresDatabase&) = delete;
  TPostgresDatabase& operator=(const TPostgresDatabase&) = delete;

  // postgresql:// or postgres://: a server; anything else is a file.
  static bool IsUrl(const std::string& name);
  // Where a URL holds a password (from its colon to the @ after it), and the URL without it.
  static std::optional<std::pair<std::size_t, std::size_t>> PasswordAt(const std::string& url);
  static std::string WithoutPassword(const std::string& url);

  std::vector<TSqlRow> Query(const std::string& sql, const TSqlRow& parameters = {}) override;
  // Writers take one advisory lock in turn, as SQLite's writers do.
  void BeginWriting() override;
  void Rollback() noexcept override;
  const std::string& Name() const override { return Shown; }

private:
  [[noreturn]] void Fail(const std::string& what) const;

  std::string Shown; // the URL without a password
  pg_conn* Connection = nullptr;
};
