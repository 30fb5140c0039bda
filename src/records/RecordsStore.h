#pragma once

#include "files/JsonText.h"
#include "records/SqlDatabase.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One unit's record of a run as its .json file holds it, and where that file is.
struct TUnitRecord {
  TJsonText::TValue Record;
  std::string Path;
};

// A unit's record kept in the local store until the plant's server takes it.
struct TWaitingUnit {
  TUnitRecord Unit;
  std::string Version, Login;
};

// Which runs: each given field narrows them. Dates are UTC days, "2026-12-09", both ends included.
struct TRunFilter {
  std::optional<std::string> Unit, Sequence, Station, Verdict, Since, Until;
  std::optional<std::int64_t> Limit;
};

// A unit's run: its controller's verdict and why within the run, newest first in a list.
struct TUnitRun {
  std::string RunId, Start, Sequence, Station, Operator, Unit;
  std::int64_t Address = 0;
  std::string Verdict, Why, Record;
  std::vector<std::string> FailedChecks; // "held speed: 312 rpm at 4.5 s is outside 285..315"; for a history only
};

// First-pass yield: units whose first run passed, over the units tested; final yield: units whose last
// run passed. A unit belongs to the group of its first run; units without a serial cannot be followed.
struct TYield {
  std::string Group;
  std::int64_t Units = 0, FirstPassed = 0, FinallyPassed = 0;
};

// A check's values over the runs of a sequence, for each set of limits it was held against.
struct TCheckSpread {
  std::string Sequence, Check, Measure; // Measure: "rpm", "s", ...
  std::optional<double> Low, High;
  std::int64_t N = 0;
  double Mean = 0, Deviation = 0, Min = 0, Max = 0; // the sample standard deviation
  std::optional<double> Cpk;                        // none for n < 2, no spread or no limit
};

// Every run of a sequence that ends: the runs, their units, steps and checks, keyed by the run's id and
// the unit's address, so that a run stored twice (an import of files already stored, a second program,
// a sync after a server came back) is kept once. In an SQLite file on the bench, or on a PostgreSQL
// server that a plant's benches share. The schema is versioned and brought up to date on opening.
// Throws TRecordsError.
class TRecordsStore {
public:
  enum class TYieldBy { Sequence, Station, Day };
  static constexpr std::int64_t SchemaVersion = 3;

  // A file, or a postgresql:// URL.
  explicit TRecordsStore(const std::string& name);
  ~TRecordsStore();
  // $OZMET_STORE, else the local store.
  static std::string DefaultPath();
  // $XDG_DATA_HOME/ozmet/records.sqlite, else ~/.local/share/ozmet/records.sqlite.
  static std::string LocalPath();

  // The units of one run, in one transaction; version and login name are the program's and its user's.
  // Returns how many units were new to the store.
  std::size_t Store(const std::vector<TUnitRecord>& units, const std::string& version, const std::string& login);
  std::vector<TUnitRun> List(const TRunFilter& filter);
  // A unit's every run by its serial, or one run's units by the run's id, oldest first.
  std::vector<TUnitRun> History(const std::string& serialOrRun);
  std::vector<TYield> Yield(TYieldBy by, const std::optional<std::string>& sequence);
  std::vector<TCheckSpread> Spread(const std::optional<std::string>& sequence, const std::optional<std::string>& check);
  // The names of the sequences run, in order (from their index: a search may ask at every key).
  std::vector<std::string> Sequences();
  // Every value measured of the check that a spread is about, held against the same limits, in no order.
  std::vector<double> Measured(const TCheckSpread& spread);

  // Units that the server could not take: kept here, each once, until Sent.
  void KeepForLater(const std::vector<TUnitRecord>& units, const std::string& version, const std::string& login);
  std::vector<TWaitingUnit> Waiting();
  void Sent(const TUnitRecord& unit);
  // Each unit waiting here stored on the server, then no longer waiting; a unit the server had already
  // (a sync cut short after its commit) is not doubled. Returns how many were sent.
  std::size_t SendWaitingTo(TRecordsStore& server);

  const std::string& Path() const { return Db->Name(); }

private:
  void Migrate();
  bool StoreUnit(const TUnitRecord& unit, const std::string& version, const std::string& login);
  void StoreSteps(const std::string& runId, std::int64_t address, const std::string& sequence,
                  const TJsonText::TValue& controller);
  std::vector<TUnitRun> Runs(const std::string& where, const TSqlRow& parameters, const std::string& order);

  std::unique_ptr<TSqlDatabase> Db;
};
