#pragma once

#include "records/SqlValue.h"

#include <string>
#include <vector>

// A connection that the records store speaks SQL through: statements common to SQLite and PostgreSQL,
// their values as parameters written $1, $2, ... Every failure throws TRecordsError naming the store.
class TSqlDatabase {
public:
  virtual ~TSqlDatabase() = default;

  virtual std::vector<TSqlRow> Query(const std::string& sql, const TSqlRow& parameters = {}) = 0;
  void Execute(const std::string& sql, const TSqlRow& parameters = {}) { Query(sql, parameters); }
  // A transaction that holds the store's write lock from its start: two writers queue, neither fails later.
  virtual void BeginWriting() = 0;
  void Commit() { Execute("COMMIT"); }
  virtual void Rollback() noexcept = 0;
  // As the operator named it, without a password.
  virtual const std::string& Name() const = 0;
};
