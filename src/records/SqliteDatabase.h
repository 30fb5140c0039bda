#pragma once

#include "records/SqlDatabase.h"

#include <map>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// One connection to an SQLite file in WAL mode, durable on commit (synchronous FULL). A writer that
// finds the file locked by another program waits for it up to BusyMs rather than failing.
class TSqliteDatabase : public TSqlDatabase {
public:
  static constexpr int BusyMs = 10000;

  // Makes the file and its folder when missing.
  explicit TSqliteDatabase(const std::string& path);
  ~TSqliteDatabase() override;
  TSqliteDatabase(const TSqliteDatabase&) = delete;
  TSqliteDatabase& operator=(const TSqliteDatabase&) = delete;

  std::vector<TSqlRow> Query(const std::string& sql, const TSqlRow& parameters = {}) override;
  void BeginWriting() override;
  void Rollback() noexcept override;
  const std::string& Name() const override { return File; }

private:
  [[noreturn]] void Fail(const std::string& what) const;
  void Close() noexcept;
  // Each statement's text is prepared once: a run stores the same few inserts many times.
  sqlite3_stmt* Prepared(const std::string& sql);

  std::string File;
  sqlite3* Db = nullptr;
  std::map<std::string, sqlite3_stmt*> Statements;
};
