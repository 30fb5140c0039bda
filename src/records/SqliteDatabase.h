#pragma once

#include "records/SqlValue.h"

#include <memory>
#include <string>

struct sqlite3;

// One connection to an SQLite file in WAL mode, durable on commit (synchronous FULL). A writer that
// finds the file locked by another program waits for it up to BusyMs rather than failing. Statements
// take their values as parameters, written $1, $2, ... as PostgreSQL writes them. Every failure
// throws TRecordsError naming the file.
class TSqliteDatabase {
public:
  static constexpr int BusyMs = 10000;

  // Makes the file and its folder when missing.
  explicit TSqliteDatabase(const std::string& path);
  ~TSqliteDatabase();
  TSqliteDatabase(const TSqliteDatabase&) = delete;
  TSqliteDatabase& operator=(const TSqliteDatabase&) = delete;

  void Execute(const std::string& sql, const TSqlRow& parameters = {});
  std::vector<TSqlRow> Query(const std::string& sql, const TSqlRow& parameters = {});
  // BEGIN IMMEDIATE: the write lock is taken at once, so two writers queue instead of one failing later.
  void Begin();
  void Commit();
  void Rollback() noexcept;
  const std::string& Path() const { return File; }

private:
  [[noreturn]] void Fail(const std::string& what) const;

  std::string File;
  sqlite3* Db = nullptr;
};
