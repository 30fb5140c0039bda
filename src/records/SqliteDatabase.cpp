#include "records/SqliteDatabase.h"

#include "records/RecordsError.h"

#include <sqlite3.h>

#include <cctype>
#include <filesystem>

namespace {

// $1 as SQLite numbers it, ?1: the same statement text serves both stores.
std::string SqliteText(std::string sql)
{
  for (std::size_t at = 0; at + 1 < sql.size(); ++at)
    if (sql[at] == '$' && std::isdigit(static_cast<unsigned char>(sql[at + 1])))
      sql[at] = '?';
  return sql;
}

// The statement ready for its next use whatever became of this one.
struct TReset {
  void operator()(sqlite3_stmt* statement) const
  {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
  }
};

} // namespace

TSqliteDatabase::TSqliteDatabase(const std::string& path) : File(path)
{
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty())
    std::filesystem::create_directories(folder, error);
  try {
    if (sqlite3_open_v2(path.c_str(), &Db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK)
      Fail("cannot open it");
    sqlite3_busy_timeout(Db, BusyMs);
    Query("PRAGMA journal_mode = WAL");
    Execute("PRAGMA synchronous = FULL");
    Execute("PRAGMA foreign_keys = ON");
  } catch (...) { // the destructor will not run: a connection half made is closed here
    Close();
    throw;
  }
}

TSqliteDatabase::~TSqliteDatabase()
{
  Close();
}

void TSqliteDatabase::Close() noexcept
{
  for (const auto& [sql, statement] : Statements)
    sqlite3_finalize(statement);
  sqlite3_close_v2(Db);
}

sqlite3_stmt* TSqliteDatabase::Prepared(const std::string& sql)
{
  if (const auto found = Statements.find(sql); found != Statements.end())
    return found->second;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(Db, SqliteText(sql).c_str(), -1, &statement, nullptr) != SQLITE_OK)
    Fail("cannot prepare a statement");
  return Statements[sql] = statement;
}

std::vector<TSqlRow> TSqliteDatabase::Query(const std::string& sql, const TSqlRow& parameters)
{
  sqlite3_stmt* raw = Prepared(sql);
  const std::unique_ptr<sqlite3_stmt, TReset> statement(raw);
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const int at = static_cast<int>(i + 1);
    const TSqlValue& value = parameters[i];
    int bound = SQLITE_OK;
    if (const auto* whole = std::get_if<std::int64_t>(&value))
      bound = sqlite3_bind_int64(raw, at, *whole);
    else if (const auto* real = std::get_if<double>(&value))
      bound = sqlite3_bind_double(raw, at, *real);
    else if (const auto* text = std::get_if<std::string>(&value))
      bound = sqlite3_bind_text(raw, at, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
    else
      bound = sqlite3_bind_null(raw, at);
    if (bound != SQLITE_OK)
      Fail("cannot bind a value");
  }
  std::vector<TSqlRow> rows;
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(raw)) == SQLITE_ROW) {
    TSqlRow row;
    for (int column = 0; column < sqlite3_column_count(raw); ++column)
      switch (sqlite3_column_type(raw, column)) {
      case SQLITE_INTEGER: row.emplace_back(std::int64_t{sqlite3_column_int64(raw, column)}); break;
      case SQLITE_FLOAT: row.emplace_back(sqlite3_column_double(raw, column)); break;
      case SQLITE_NULL: row.emplace_back(); break;
      default:
        row.emplace_back(std::string(reinterpret_cast<const char*>(sqlite3_column_text(raw, column)),
                                     static_cast<std::size_t>(sqlite3_column_bytes(raw, column))));
      }
    rows.push_back(std::move(row));
  }
  if (step != SQLITE_DONE)
    Fail("a statement failed");
  return rows;
}

// IMMEDIATE: the write lock is taken at once, so two writers queue instead of one failing later.
void TSqliteDatabase::BeginWriting()
{
  Execute("BEGIN IMMEDIATE");
}

void TSqliteDatabase::Rollback() noexcept
{
  sqlite3_exec(Db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void TSqliteDatabase::Fail(const std::string& what) const
{
  throw TRecordsError("records store " + File + ": " + what + ": " + (Db ? sqlite3_errmsg(Db) : "out of memory"));
}
