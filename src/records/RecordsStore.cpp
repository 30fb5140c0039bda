#include "records/RecordsStore.h"

#include "records/PostgresDatabase.h"
#include "records/RecordsError.h"
#include "records/SqliteDatabase.h"

#include <cmath>
#include <cstdlib>

namespace {

using TValue = TJsonText::TValue;

const char* const SchemaOne[] = {
    "CREATE TABLE runs (id TEXT PRIMARY KEY, sequence TEXT NOT NULL, file TEXT NOT NULL, sha256 TEXT NOT NULL, "
    "station TEXT NOT NULL, line TEXT NOT NULL, settings TEXT NOT NULL, version TEXT NOT NULL, "
    "operator TEXT NOT NULL, started TEXT NOT NULL, ended TEXT NOT NULL, verdict TEXT NOT NULL, why TEXT NOT NULL)",
    "CREATE TABLE units (run_id TEXT NOT NULL REFERENCES runs(id), address INTEGER NOT NULL, serial TEXT NOT NULL, "
    "verdict TEXT NOT NULL, why TEXT NOT NULL, record TEXT NOT NULL, PRIMARY KEY (run_id, address))",
    "CREATE TABLE steps (run_id TEXT NOT NULL, address INTEGER NOT NULL, ordinal INTEGER NOT NULL, "
    "path TEXT NOT NULL, kind TEXT NOT NULL, text TEXT NOT NULL, started DOUBLE PRECISION NOT NULL, ended DOUBLE "
    "PRECISION NOT NULL, "
    "verdict TEXT NOT NULL, why TEXT NOT NULL, PRIMARY KEY (run_id, address, ordinal), "
    "FOREIGN KEY (run_id, address) REFERENCES units(run_id, address))",
    "CREATE TABLE checks (run_id TEXT NOT NULL, address INTEGER NOT NULL, ordinal INTEGER NOT NULL, "
    "sequence TEXT NOT NULL, step TEXT NOT NULL, name TEXT NOT NULL, kind TEXT NOT NULL, measured DOUBLE PRECISION, "
    "low DOUBLE PRECISION, high "
    "DOUBLE PRECISION, "
    "unit TEXT NOT NULL, verdict TEXT NOT NULL, why TEXT NOT NULL, PRIMARY KEY (run_id, address, ordinal), "
    "FOREIGN KEY (run_id, address) REFERENCES units(run_id, address))",
    "CREATE INDEX units_serial ON units (serial)",
    "CREATE INDEX runs_sequence ON runs (sequence)",
    "CREATE INDEX runs_station ON runs (station)",
    "CREATE INDEX runs_started ON runs (started)",
    "CREATE INDEX runs_verdict ON runs (verdict)",
    // A check's spread read from the index alone, in its groups' order.
    "CREATE INDEX checks_spread ON checks (sequence, name, unit, low, high, measured)",
};

// Version 2: the units a plant's server could not take yet, their record as written.
const char* const SchemaTwo[] = {
    "CREATE TABLE outbox (run_id TEXT NOT NULL, address INTEGER NOT NULL, record TEXT NOT NULL, path TEXT NOT NULL, "
    "version TEXT NOT NULL, operator TEXT NOT NULL, PRIMARY KEY (run_id, address))",
};

// Version 3: each unit's first and last run of a sequence, kept as runs are stored, so that a yield reads
// a row a unit instead of ranking every run; filled from the runs already stored.
const char* const SchemaThree[] = {
    "CREATE TABLE unit_runs (sequence TEXT NOT NULL, serial TEXT NOT NULL, first_started TEXT NOT NULL, "
    "first_run TEXT NOT NULL, first_verdict TEXT NOT NULL, first_station TEXT NOT NULL, last_started TEXT NOT NULL, "
    "last_run TEXT NOT NULL, last_verdict TEXT NOT NULL, PRIMARY KEY (sequence, serial))",
    "INSERT INTO unit_runs WITH ranked AS (SELECT r.sequence AS sequence, u.serial AS serial, r.started AS started, "
    "r.id AS run, u.verdict AS verdict, r.station AS station, "
    "ROW_NUMBER() OVER (PARTITION BY r.sequence, u.serial ORDER BY r.started, r.id) AS first_rank, "
    "ROW_NUMBER() OVER (PARTITION BY r.sequence, u.serial ORDER BY r.started DESC, r.id DESC) AS last_rank "
    "FROM units u JOIN runs r ON r.id = u.run_id WHERE u.serial <> '') "
    "SELECT f.sequence, f.serial, f.started, f.run, f.verdict, f.station, l.started, l.run, l.verdict "
    "FROM ranked f JOIN ranked l ON l.sequence = f.sequence AND l.serial = f.serial "
    "WHERE f.first_rank = 1 AND l.last_rank = 1",
};

// A unit's run of a sequence: the first of its runs when it began earlier than the first so far (by
// start, then run id), the last when later than the last.
std::string KeepUnitRun()
{
  const auto kept = [](const char* end, const char* compare, std::initializer_list<const char*> columns) {
    std::string set;
    for (const char* column : columns)
      set += std::string(set.empty() ? "" : ", ") + end + column + " = CASE WHEN (excluded." + end +
             "started, excluded." + end + "run) " + compare + " (unit_runs." + end + "started, unit_runs." + end +
             "run) THEN excluded." + end + column + " ELSE unit_runs." + end + column + " END";
    return set;
  };
  return "INSERT INTO unit_runs (sequence, serial, first_started, first_run, first_verdict, first_station, "
         "last_started, last_run, last_verdict) VALUES ($1, $2, $3, $4, $5, $6, $3, $4, $5) "
         "ON CONFLICT (sequence, serial) DO UPDATE SET " +
         kept("first_", "<", {"started", "run", "verdict", "station"}) + ", " +
         kept("last_", ">", {"started", "run", "verdict"});
}

// A run whose units' records come one at a time keeps the worst of their verdicts.
const char* const InsertRun =
    "INSERT INTO runs (id, sequence, file, sha256, station, line, settings, version, operator, started, ended, "
    "verdict, why) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13) ON CONFLICT (id) DO UPDATE SET "
    "verdict = CASE WHEN runs.verdict = 'FAIL' OR excluded.verdict = 'FAIL' THEN 'FAIL' "
    "WHEN runs.verdict = 'ABORTED' OR excluded.verdict = 'ABORTED' THEN 'ABORTED' ELSE 'PASS' END";

std::string Text(const TValue& object, const char* key)
{
  return object.at(key).get<std::string>();
}

// What a unit's record is kept under: its run's id and its controller's address.
TSqlRow UnitKey(const TValue& record)
{
  return {Text(record, "run_id"), record.at("controllers").at(0).at("address").get<std::int64_t>()};
}

TSqlValue Real(const TValue& object, const char* key)
{
  const TValue& value = object.at(key);
  return value.is_null() ? TSqlValue() : TSqlValue(value.get<double>());
}

std::string GroupColumn(TRecordsStore::TYieldBy by)
{
  switch (by) {
  case TRecordsStore::TYieldBy::Station: return "first_station";
  case TRecordsStore::TYieldBy::Day: return "substr(first_started, 1, 10)";
  case TRecordsStore::TYieldBy::Sequence: break;
  }
  return "sequence";
}

// Cpk against the limits there are: the nearer one's distance from the mean in three deviations.
std::optional<double> Cpk(const TCheckSpread& spread)
{
  if (spread.N < 2 || !(spread.Deviation > 0) || (!spread.Low && !spread.High))
    return std::nullopt;
  double nearest = INFINITY;
  if (spread.High)
    nearest = std::min(nearest, *spread.High - spread.Mean);
  if (spread.Low)
    nearest = std::min(nearest, spread.Mean - *spread.Low);
  return nearest / (3 * spread.Deviation);
}

// A WHERE clause and its parameters, built condition by condition: a value is never SQL.
struct TWhere {
  std::string Text;
  TSqlRow Parameters;

  // " AND <condition> $N", the value parameter N; nothing without a value.
  template <class T>
  void And(const std::string& condition, const std::optional<T>& value)
  {
    if (!value)
      return;
    Parameters.emplace_back(*value);
    Text += " AND " + condition + " $" + std::to_string(Parameters.size());
  }
};

// The values of the check a spread is about, held against the same limits: = where a limit is there, IS NULL
// where it is not (NULL = NULL is never true), so that both stores find them by their index.
TWhere SameCheck(const TCheckSpread& spread)
{
  TWhere where{"measured IS NOT NULL", {}};
  where.And("sequence =", std::optional(spread.Sequence));
  where.And("name =", std::optional(spread.Check));
  where.And("unit =", std::optional(spread.Measure));
  for (const auto& [column, limit] : {std::pair{"low", spread.Low}, std::pair{"high", spread.High}})
    if (limit)
      where.And(std::string(column) + " =", limit);
    else
      where.Text += std::string(" AND ") + column + " IS NULL";
  return where;
}

} // namespace

TRecordsStore::TRecordsStore(const std::string& name)
{
  if (TPostgresDatabase::IsUrl(name))
    Db = std::make_unique<TPostgresDatabase>(name);
  else
    Db = std::make_unique<TSqliteDatabase>(name);
  Migrate();
}

TRecordsStore::~TRecordsStore() = default;

std::string TRecordsStore::DefaultPath()
{
  const char* store = std::getenv("OZMET_STORE");
  return store && *store ? store : LocalPath();
}

std::string TRecordsStore::LocalPath()
{
  const char* data = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  const std::string base = data && *data ? data : std::string(home ? home : ".") + "/.local/share";
  return base + "/ozmet/records.sqlite";
}

void TRecordsStore::Migrate()
{
  Db->BeginWriting();
  try {
    Db->Execute("CREATE TABLE IF NOT EXISTS store_version (version INTEGER NOT NULL)");
    const auto rows = Db->Query("SELECT version FROM store_version");
    const std::int64_t version = rows.empty() ? 0 : std::get<std::int64_t>(rows.front().front());
    if (version > SchemaVersion)
      throw TRecordsError("records store " + Db->Name() + " was made by a newer program (schema " +
                          std::to_string(version) + "; this one knows " + std::to_string(SchemaVersion) + ")");
    if (version < 1)
      for (const char* statement : SchemaOne)
        Db->Execute(statement);
    if (version < 2)
      for (const char* statement : SchemaTwo)
        Db->Execute(statement);
    if (version < 3)
      for (const char* statement : SchemaThree)
        Db->Execute(statement);
    if (version == 0)
      Db->Execute("INSERT INTO store_version (version) VALUES ($1)", {SchemaVersion});
    else if (version < SchemaVersion)
      Db->Execute("UPDATE store_version SET version = $1", {SchemaVersion});
    Db->Commit();
  } catch (...) {
    Db->Rollback();
    throw;
  }
}

std::size_t TRecordsStore::Store(const std::vector<TUnitRecord>& units, const std::string& version,
                                 const std::string& login)
{
  Db->BeginWriting();
  try {
    std::size_t added = 0;
    for (const TUnitRecord& unit : units)
      added += StoreUnit(unit, version, login) ? 1 : 0;
    Db->Commit();
    return added;
  } catch (const TValue::exception& error) {
    Db->Rollback();
    throw TRecordsError("a record that is not one of a run: " + std::string(error.what()));
  } catch (...) {
    Db->Rollback();
    throw;
  }
}

bool TRecordsStore::StoreUnit(const TUnitRecord& unit, const std::string& version, const std::string& login)
{
  const TValue& record = unit.Record;
  const TValue& controller = record.at("controllers").at(0);
  const std::string runId = Text(record, "run_id");
  const std::int64_t address = controller.at("address").get<std::int64_t>();
  if (!Db->Query("SELECT 1 FROM units WHERE run_id = $1 AND address = $2", {runId, address}).empty())
    return false;
  Db->Execute(InsertRun, {runId, Text(record, "name"), Text(record, "file"), Text(record, "sha256"),
                          Text(record, "station"), Text(record, "line"), Text(record, "settings"), version, login,
                          Text(record, "start"), Text(record, "end"), Text(record, "verdict"), Text(record, "why")});
  Db->Execute("INSERT INTO units (run_id, address, serial, verdict, why, record) VALUES ($1, $2, $3, $4, $5, $6)",
              {runId, address, Text(record, "unit"), Text(controller, "verdict"), Text(controller, "why"),
               TJsonText::Text(unit.Path).get<std::string>()}); // a path of any bytes, as text a server takes
  StoreSteps(runId, address, Text(record, "name"), controller);
  if (!Text(record, "unit").empty())
    Db->Execute(KeepUnitRun(), {Text(record, "name"), Text(record, "unit"), Text(record, "start"), runId,
                                Text(controller, "verdict"), Text(record, "station")});
  return true;
}

// Each step, then each check in the order the record has them: a step's, then the whole run's (step "").
void TRecordsStore::StoreSteps(const std::string& runId, std::int64_t address, const std::string& sequence,
                               const TValue& controller)
{
  std::int64_t stepOrdinal = 0, checkOrdinal = 0;
  // One statement for a step's checks: a server is asked once, not once a check.
  const auto storeChecks = [&](const TValue& checks, const std::string& step) {
    std::string sql = "INSERT INTO checks (run_id, address, ordinal, sequence, step, name, kind, measured, low, high, "
                      "unit, verdict, why) VALUES ";
    TSqlRow values;
    for (const TValue& check : checks) {
      sql += values.empty() ? "(" : ", (";
      for (int column = 0; column < 13; ++column)
        sql += (column ? ", $" : "$") + std::to_string(values.size() + column + 1);
      sql += ")";
      for (TSqlValue& value :
           TSqlRow{runId, address, checkOrdinal++, sequence, step, Text(check, "name"), Text(check, "kind"),
                   Real(check, "measured"), Real(check, "low"), Real(check, "high"), Text(check, "unit"),
                   Text(check, "verdict"), Text(check, "why")})
        values.push_back(std::move(value));
    }
    if (!values.empty())
      Db->Execute(sql, values);
  };
  for (const TValue& step : controller.at("steps")) {
    Db->Execute("INSERT INTO steps (run_id, address, ordinal, path, kind, text, started, ended, verdict, why) "
                "VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10)",
                {runId, address, stepOrdinal++, Text(step, "path"), Text(step, "kind"), Text(step, "text"),
                 Real(step, "start"), Real(step, "end"), Text(step, "verdict"), Text(step, "why")});
    storeChecks(step.at("checks"), Text(step, "path"));
  }
  storeChecks(controller.at("checks"), "");
}

std::vector<TUnitRun> TRecordsStore::List(const TRunFilter& filter)
{
  TWhere where{"1 = 1", {}};
  where.And("u.serial =", filter.Unit);
  where.And("r.sequence =", filter.Sequence);
  where.And("r.station =", filter.Station);
  where.And("u.verdict =", filter.Verdict);
  where.And("substr(r.started, 1, 10) >=", filter.Since);
  where.And("substr(r.started, 1, 10) <=", filter.Until);
  std::string order = "r.started DESC, u.address";
  if (filter.Limit) {
    where.Parameters.emplace_back(*filter.Limit);
    order += " LIMIT $" + std::to_string(where.Parameters.size());
  }
  return Runs(where.Text, where.Parameters, order);
}

std::vector<TUnitRun> TRecordsStore::History(const std::string& serialOrRun)
{
  // Two lookups, each by its index: an OR of the two would read every unit.
  std::vector<TUnitRun> runs = Runs("u.serial = $1", {serialOrRun}, "r.started, u.address");
  if (runs.empty())
    runs = Runs("r.id = $1", {serialOrRun}, "u.address");
  for (TUnitRun& run : runs)
    for (const TSqlRow& row :
         Db->Query("SELECT name, why FROM checks WHERE run_id = $1 AND address = $2 AND verdict <> 'PASS' "
                   "ORDER BY ordinal",
                   {run.RunId, run.Address}))
      run.FailedChecks.push_back(SqlText(row[0]) + ": " + SqlText(row[1]));
  return runs;
}

std::vector<TUnitRun> TRecordsStore::Runs(const std::string& where, const TSqlRow& parameters, const std::string& order)
{
  std::vector<TUnitRun> runs;
  for (const TSqlRow& row : Db->Query("SELECT r.id, r.started, r.sequence, r.station, r.operator, u.serial, u.address, "
                                      "u.verdict, u.why, u.record FROM units u JOIN runs r ON r.id = u.run_id WHERE " +
                                          where + " ORDER BY " + order,
                                      parameters)) {
    TUnitRun run{SqlText(row[0]),
                 SqlText(row[1]),
                 SqlText(row[2]),
                 SqlText(row[3]),
                 SqlText(row[4]),
                 SqlText(row[5]),
                 std::get<std::int64_t>(row[6]),
                 SqlText(row[7]),
                 SqlText(row[8]),
                 SqlText(row[9]),
                 {}};
    runs.push_back(std::move(run));
  }
  return runs;
}

// Each unit (a serial within a sequence) counted once, in the group of its first run.
std::vector<TYield> TRecordsStore::Yield(TYieldBy by, const std::optional<std::string>& sequence)
{
  TSqlRow parameters;
  std::string only;
  if (sequence) {
    parameters.emplace_back(*sequence);
    only = " WHERE sequence = $1";
  }
  const std::string group = GroupColumn(by);
  std::vector<TYield> yields;
  for (const TSqlRow& row : Db->Query("SELECT " + group +
                                          ", count(*), sum(CASE WHEN first_verdict = 'PASS' THEN 1 ELSE 0 END), "
                                          "sum(CASE WHEN last_verdict = 'PASS' THEN 1 ELSE 0 END) FROM unit_runs" +
                                          only + " GROUP BY " + group + " ORDER BY " + group,
                                      parameters))
    yields.push_back({SqlText(row[0]), std::get<std::int64_t>(row[1]), std::get<std::int64_t>(row[2]),
                      std::get<std::int64_t>(row[3])});
  return yields;
}

// The deviation from each value's distance to its group's mean, in a second pass, not from a sum of
// squares, which loses the digits of a small spread around a large value. Each pass reads the check's
// values by their index.
std::vector<TCheckSpread> TRecordsStore::Spread(const std::optional<std::string>& sequence,
                                                const std::optional<std::string>& check)
{
  TWhere where{"measured IS NOT NULL", {}};
  where.And("sequence =", sequence);
  where.And("name =", check);
  std::vector<TCheckSpread> spreads;
  for (const TSqlRow& row :
       Db->Query("SELECT sequence, name, unit, low, high, count(*), avg(measured), min(measured), max(measured) FROM "
                 "checks WHERE " +
                     where.Text + " GROUP BY sequence, name, unit, low, high ORDER BY sequence, name, low, high",
                 where.Parameters)) {
    TCheckSpread spread{SqlText(row[0]),  SqlText(row[1]),
                        SqlText(row[2]),  SqlReal(row[3]),
                        SqlReal(row[4]),  std::get<std::int64_t>(row[5]),
                        *SqlReal(row[6]), 0,
                        *SqlReal(row[7]), *SqlReal(row[8]),
                        std::nullopt};
    if (spread.N > 1) {
      TWhere same = SameCheck(spread);
      same.Parameters.emplace_back(spread.Mean);
      const std::string mean = "$" + std::to_string(same.Parameters.size());
      const TSqlRow squares =
          Db->Query("SELECT sum((measured - " + mean + ") * (measured - " + mean + ")) FROM checks WHERE " + same.Text,
                    same.Parameters)
              .front();
      spread.Deviation = std::sqrt(*SqlReal(squares[0]) / static_cast<double>(spread.N - 1));
    }
    spread.Cpk = Cpk(spread);
    spreads.push_back(std::move(spread));
  }
  return spreads;
}

std::vector<std::string> TRecordsStore::Sequences()
{
  std::vector<std::string> sequences;
  for (const TSqlRow& row : Db->Query("SELECT DISTINCT sequence FROM runs ORDER BY sequence"))
    sequences.push_back(SqlText(row[0]));
  return sequences;
}

std::vector<double> TRecordsStore::Measured(const TCheckSpread& spread)
{
  const TWhere same = SameCheck(spread);
  std::vector<double> values;
  for (const TSqlRow& row : Db->Query("SELECT measured FROM checks WHERE " + same.Text, same.Parameters))
    values.push_back(*SqlReal(row[0]));
  return values;
}

void TRecordsStore::KeepForLater(const std::vector<TUnitRecord>& units, const std::string& version,
                                 const std::string& login)
{
  Db->BeginWriting();
  try {
    for (const TUnitRecord& unit : units) {
      TSqlRow row = UnitKey(unit.Record);
      row.insert(row.end(),
                 {TJsonText::Line(unit.Record), TJsonText::Text(unit.Path).get<std::string>(), version, login});
      Db->Execute("INSERT INTO outbox (run_id, address, record, path, version, operator) VALUES ($1, $2, $3, $4, $5, "
                  "$6) ON CONFLICT (run_id, address) DO NOTHING",
                  row);
    }
    Db->Commit();
  } catch (...) {
    Db->Rollback();
    throw;
  }
}

std::vector<TWaitingUnit> TRecordsStore::Waiting()
{
  std::vector<TWaitingUnit> waiting;
  for (const TSqlRow& row : Db->Query("SELECT record, path, version, operator FROM outbox ORDER BY run_id, address"))
    waiting.push_back({{TValue::parse(SqlText(row[0])), SqlText(row[1])}, SqlText(row[2]), SqlText(row[3])});
  return waiting;
}

void TRecordsStore::Sent(const TUnitRecord& unit)
{
  Db->Execute("DELETE FROM outbox WHERE run_id = $1 AND address = $2", UnitKey(unit.Record));
}

std::size_t TRecordsStore::SendWaitingTo(TRecordsStore& server)
{
  std::size_t sent = 0;
  for (const TWaitingUnit& waiting : Waiting()) {
    server.Store({waiting.Unit}, waiting.Version, waiting.Login);
    Sent(waiting.Unit);
    ++sent;
  }
  return sent;
}
