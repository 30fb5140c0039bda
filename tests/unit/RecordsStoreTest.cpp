#include "records/RecordsStore.h"
#include "PostgresServer.h"
#include "TempDir.h"
#include "UnitRuns.h"
#include "files/WholeFile.h"
#include "records/PostgresDatabase.h"
#include "records/RecordImport.h"
#include "records/RecordsError.h"
#include "records/SqliteDatabase.h"
#include "records/StoreWriter.h"
#include "sequence/RecordJson.h"

#include <gtest/gtest.h>

#include <functional>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono;
using TKind = TSequenceCheck::TKind;

enum class TBackend { Sqlite, Postgres };

// Every case against both stores: a file of the test's own, and a database of its own on a real server
// that the suite starts once.
class RecordsStoreTest : public testing::TestWithParam<TBackend> {
protected:
  static void SetUpTestSuite() { Server = new TPostgresServer; }
  static void TearDownTestSuite()
  {
    delete Server;
    Server = nullptr;
  }
  void SetUp() override
  {
    if (GetParam() == TBackend::Postgres && !Server->Unavailable().empty())
      GTEST_SKIP() << Server->Unavailable();
    Name = NewStore();
    Records = std::make_unique<TRecordsStore>(Name);
  }

  // A store of its own, empty.
  std::string NewStore()
  {
    const std::string name = "store" + std::to_string(++Made);
    if (GetParam() == TBackend::Sqlite)
      return Dir.Path() + "/" + name + "/records.sqlite";
    TPostgresDatabase(Server->Url()).Execute("CREATE DATABASE " + name);
    return Server->Url(name);
  }
  std::unique_ptr<TSqlDatabase> Connection() const
  {
    if (GetParam() == TBackend::Sqlite)
      return std::make_unique<TSqliteDatabase>(Name);
    return std::make_unique<TPostgresDatabase>(Name);
  }
  std::size_t Store(const TUnitRunCase& c, int n)
  {
    return Records->Store({UnitRecord(c, n, "/records/" + std::to_string(n) + ".json")}, "5.1.e", "operator");
  }

  static inline TPostgresServer* Server = nullptr;
  static inline int Made = 0;
  TTempDir Dir;
  std::string Name; // the store's, a password in its URL
  std::unique_ptr<TRecordsStore> Records;
};

// Each verdict read back whole; a serial that is SQL is kept and found as a serial, and the tables stay.
TEST_P(RecordsStoreTest, KeepsEachRunWholeAndASerialIsNeverSql)
{
  const TUnitRunCase cases[] = {
      {"SN-1", TVerdict::Pass, 100, 1},
      {"SN-2", TVerdict::Fail, 112, 2},
      {"SN-3", TVerdict::Aborted, 99, 3},
      {"'; DROP TABLE runs; --", TVerdict::Pass, 101, 4},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i)
    ASSERT_EQ(Store(cases[i], static_cast<int>(i)), 1u);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(c.Serial);
    const std::vector<TUnitRun> history = Records->History(c.Serial);
    ASSERT_EQ(history.size(), 1u);
    const TUnitRun& got = history.front();
    EXPECT_EQ(got.RunId, Id(static_cast<int>(i)));
    EXPECT_EQ(got.Unit, c.Serial);
    EXPECT_EQ(got.Verdict, VerdictText(c.Verdict));
    EXPECT_EQ(got.Start, "2026-12-09T0" + std::to_string(c.Hour) + ":00:00.000Z");
    EXPECT_EQ(got.Record, "/records/" + std::to_string(i) + ".json");
    EXPECT_EQ(got.Operator, "operator");
    EXPECT_EQ(got.FailedChecks, c.Verdict == TVerdict::Fail
                                    ? std::vector<std::string>{"held speed: 112 rpm is outside 95..105"}
                                    : std::vector<std::string>{});
    EXPECT_EQ(Records->History(got.RunId).size(), 1u) << "found by its run id too";
  }
  EXPECT_EQ(Records->List({}).size(), 4u);
}

TEST_P(RecordsStoreTest, ListNarrowsByEachFilter)
{
  const TUnitRunCase runs[] = {{"SN-1", TVerdict::Pass, 100, 1, "bench-1"},
                               {"SN-2", TVerdict::Fail, 112, 2, "bench-2"},
                               {"SN-1", TVerdict::Pass, 100, 3, "bench-2"}};
  for (int i = 0; i < 3; ++i)
    Store(runs[i], i);
  const struct {
    const char* Name;
    std::function<void(TRunFilter&)> Narrow;
    std::vector<std::string> Ids; // newest first
  } cases[] = {
      {"all", [](TRunFilter&) {}, {Id(2), Id(1), Id(0)}},
      {"unit", [](TRunFilter& f) { f.Unit = "SN-1"; }, {Id(2), Id(0)}},
      {"station", [](TRunFilter& f) { f.Station = "bench-2"; }, {Id(2), Id(1)}},
      {"verdict", [](TRunFilter& f) { f.Verdict = "FAIL"; }, {Id(1)}},
      {"other sequence", [](TRunFilter& f) { f.Sequence = "other"; }, {}},
      {"since the day", [](TRunFilter& f) { f.Since = "2026-12-09"; }, {Id(2), Id(1), Id(0)}},
      {"until the day before", [](TRunFilter& f) { f.Until = "2026-12-08"; }, {}},
      {"limit", [](TRunFilter& f) { f.Limit = 2; }, {Id(2), Id(1)}},
  };
  for (const auto& c : cases) {
    TRunFilter filter;
    c.Narrow(filter);
    std::vector<std::string> ids;
    for (const TUnitRun& run : Records->List(filter))
      ids.push_back(run.RunId);
    EXPECT_EQ(ids, c.Ids) << c.Name;
  }
}

// First pass counts a unit's first run only, final its last; the unit belongs to its first run's group.
TEST_P(RecordsStoreTest, YieldCountsEachUnitByItsFirstAndLastRun)
{
  const TUnitRunCase runs[] = {
      {"A", TVerdict::Pass, 100, 1, "bench-1"}, {"B", TVerdict::Fail, 112, 2, "bench-1"},
      {"B", TVerdict::Pass, 100, 3, "bench-2"}, {"C", TVerdict::Fail, 112, 4, "bench-2"},
      {"C", TVerdict::Fail, 112, 5, "bench-1"}, {"D", TVerdict::Aborted, 100, 6, "bench-2"},
      {"D", TVerdict::Pass, 100, 7, "bench-2"}, {"", TVerdict::Pass, 100, 8, "bench-1"},
  };
  for (int i = 0; i < static_cast<int>(std::size(runs)); ++i)
    Store(runs[i], i);
  const auto yields = [&](TRecordsStore::TYieldBy by) {
    std::vector<std::tuple<std::string, std::int64_t, std::int64_t, std::int64_t>> got;
    for (const TYield& y : Records->Yield(by, std::nullopt))
      got.emplace_back(y.Group, y.Units, y.FirstPassed, y.FinallyPassed);
    return got;
  };
  using TRow = std::tuple<std::string, std::int64_t, std::int64_t, std::int64_t>;
  EXPECT_EQ(yields(TRecordsStore::TYieldBy::Sequence), (std::vector<TRow>{{"eol", 4, 1, 3}}));
  EXPECT_EQ(yields(TRecordsStore::TYieldBy::Station), (std::vector<TRow>{{"bench-1", 2, 1, 2}, {"bench-2", 2, 0, 1}}));
  EXPECT_EQ(yields(TRecordsStore::TYieldBy::Day), (std::vector<TRow>{{"2026-12-09", 4, 1, 3}}));
  EXPECT_TRUE(Records->Yield(TRecordsStore::TYieldBy::Sequence, "other").empty());
}

// Against values worked by hand: 10, 12, 14 in 5..20 give mean 12, sd 2, Cpk min(8, 7) / 6.
TEST_P(RecordsStoreTest, CpkAgainstValuesWorkedByHand)
{
  const struct {
    const char* Name;
    std::vector<double> Values;
    double Mean, Deviation;
    std::optional<double> Cpk;
  } cases[] = {
      {"three values", {100, 102, 104}, 102, 2, std::min(105.0 - 102, 102.0 - 95) / 6},
      {"one value", {100}, 100, 0, std::nullopt},
      {"no spread", {100, 100}, 100, 0, std::nullopt},
      {"a small spread around a large value",
       {1e9 + 0.001, 1e9 + 0.003},
       1e9 + 0.002,
       std::sqrt(2e-6),
       -1e9 / 3 / std::sqrt(2e-6)},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TRecordsStore store(NewStore());
    for (double value : c.Values) {
      store.Store({UnitRecord({"S" + std::to_string(n), TVerdict::Pass, value, 1}, n, "")}, "", "");
      ++n;
    }
    const std::vector<TCheckSpread> spreads = store.Spread("eol", "held speed");
    ASSERT_EQ(spreads.size(), 1u);
    EXPECT_EQ(spreads[0].N, static_cast<std::int64_t>(c.Values.size()));
    EXPECT_NEAR(spreads[0].Mean, c.Mean, 1e-6);
    EXPECT_NEAR(spreads[0].Deviation, c.Deviation, 1e-4 * c.Deviation + 1e-12);
    ASSERT_EQ(spreads[0].Cpk.has_value(), c.Cpk.has_value());
    if (c.Cpk) {
      EXPECT_NEAR(*spreads[0].Cpk, *c.Cpk, 1e-3 * std::abs(*c.Cpk));
    }
    std::vector<double> measured = store.Measured(spreads[0]);
    std::sort(measured.begin(), measured.end());
    EXPECT_EQ(measured, c.Values);
    // The link's check has no low limit: its values are found all the same.
    const std::vector<TCheckSpread> link = store.Spread("eol", "link");
    ASSERT_EQ(link.size(), 1u);
    EXPECT_EQ(store.Measured(link[0]), std::vector<double>(c.Values.size(), 0.0));
  }
}

// A run stored again, or a folder of records imported twice, is kept once; a file that is no record is said.
TEST_P(RecordsStoreTest, NothingIsKeptTwice)
{
  EXPECT_EQ(Store({"SN-1", TVerdict::Pass, 100, 1}, 1), 1u);
  EXPECT_EQ(Store({"SN-1", TVerdict::Pass, 100, 1}, 1), 0u);
  TTempDir folder;
  for (int n = 2; n < 5; ++n) {
    const TRunResult run = UnitRun({"SN-" + std::to_string(n), TVerdict::Fail, 112, n}, Id(n));
    ASSERT_FALSE(
        WriteWholeFile(folder.Path() + "/" + std::to_string(n) + ".json", TRecordJson::Whole(run, run.Controllers[0])));
  }
  ASSERT_FALSE(WriteWholeFile(folder.Path() + "/broken.json", "{\"name\": "));
  const TRecordImport::TCount first = TRecordImport::Folder(*Records, folder.Path());
  EXPECT_EQ(first.Files, 4u);
  EXPECT_EQ(first.Added, 3u);
  ASSERT_EQ(first.Refused.size(), 1u);
  EXPECT_NE(first.Refused[0].find("broken.json: not a record of a run"), std::string::npos) << first.Refused[0];
  const TRecordImport::TCount second = TRecordImport::Folder(*Records, folder.Path());
  EXPECT_EQ(second.Added, 0u);
  EXPECT_EQ(second.Known, 3u);
  EXPECT_EQ(Records->List({}).size(), 4u);
  EXPECT_EQ(Records->History("SN-3").front().Record, folder.Path() + "/3.json");
}

// Two programs storing at once (the window and an ozmetctl test): every run kept, none twice.
TEST_P(RecordsStoreTest, TwoProcessesStoringAtOnceLoseNothing)
{
  constexpr int Each = 40;
  std::vector<pid_t> children;
  for (int process = 0; process < 2; ++process) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        TRecordsStore mine(Name);
        for (int n = 0; n < Each; ++n) {
          mine.Store({UnitRecord({"P" + std::to_string(process), TVerdict::Pass, 100, 1}, 1000 * process + n, "")},
                     "", "");
        }
      } catch (...) {
        ::_exit(1);
      }
      ::_exit(0);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_EQ(Records->List({}).size(), 2u * Each);
}

// A store of the first schema (no outbox, no units' first and last runs) is brought up to date on opening,
// its runs counted as if they had been stored since.
TEST_P(RecordsStoreTest, AStoreOfTheFirstSchemaIsBroughtUpToDate)
{
  Store({"A", TVerdict::Fail, 112, 1}, 1);
  Store({"A", TVerdict::Pass, 100, 2}, 2);
  Store({"B", TVerdict::Pass, 100, 3}, 3);
  Records.reset();
  for (const char* statement : {"DROP TABLE unit_runs", "DROP TABLE outbox", "UPDATE store_version SET version = 1"})
    Connection()->Execute(statement);
  TRecordsStore again(Name);
  const std::vector<TYield> yields = again.Yield(TRecordsStore::TYieldBy::Sequence, std::nullopt);
  ASSERT_EQ(yields.size(), 1u);
  EXPECT_EQ(std::tuple(yields[0].Units, yields[0].FirstPassed, yields[0].FinallyPassed), std::tuple(2, 1, 2));
  EXPECT_TRUE(again.Waiting().empty());
  EXPECT_EQ(Connection()->Query("SELECT version FROM store_version"), std::vector<TSqlRow>{{std::int64_t{3}}});
}

TEST_P(RecordsStoreTest, AStoreOfANewerProgramIsRefused)
{
  Connection()->Execute("UPDATE store_version SET version = 99");
  try {
    TRecordsStore again(Name);
    FAIL() << "opened";
  } catch (const TRecordsError& error) {
    EXPECT_NE(std::string(error.what()).find("was made by a newer program (schema 99; this one knows 3)"),
              std::string::npos)
        << error.what();
  }
}

// The plant's server, where the credentials and the server's coming and going matter.
class PostgresStoreTest : public testing::Test {
protected:
  void SetUp() override
  {
    if (!Server.Unavailable().empty())
      GTEST_SKIP() << Server.Unavailable();
    ::setenv("XDG_DATA_HOME", DataHome.Path().c_str(), 1); // the local store, where runs wait
  }
  void TearDown() override { ::setenv("XDG_DATA_HOME", DataHomeBefore.c_str(), 1); }

  void RunEnds(TStoreWriter& writer, int n)
  {
    writer.RunEnded(UnitRun({"SN-" + std::to_string(n), TVerdict::Pass, 100, n}, Id(n)));
  }
  std::size_t OnServer() { return TRecordsStore(Server.Url()).List({}).size(); }

  TPostgresServer Server;
  TTempDir DataHome;
  const std::string DataHomeBefore = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
};

TEST_F(PostgresStoreTest, WrongCredentialsAreSaidPlainlyAndThePasswordNever)
{
  try {
    TRecordsStore store(Server.Url("postgres", "not-the-secret"));
    FAIL() << "connected";
  } catch (const TRecordsError& error) {
    const std::string said = error.what();
    EXPECT_NE(said.find("cannot connect: "), std::string::npos) << said;
    EXPECT_NE(said.find("password authentication failed for user \"ozmet\""), std::string::npos) << said;
    EXPECT_EQ(said.find("not-the-secret"), std::string::npos) << said;
  }
}

// A server out of reach at a run's end: the run waits in the local store, goes with the next run once the
// server is back, and a sync cut short after the server's commit doubles nothing.
TEST_F(PostgresStoreTest, ARunTheServerMissedIsKeptLocallyAndSentOnce)
{
  TStoreWriter writer(Server.Url(), [](std::uint8_t) { return std::string("/records/unit.json"); });
  RunEnds(writer, 1);
  EXPECT_EQ(writer.Failure(), "");
  EXPECT_EQ(OnServer(), 1u);

  ASSERT_TRUE(Server.Stop()) << Server.Unavailable();
  RunEnds(writer, 2);
  EXPECT_NE(writer.Failure().find("cannot connect"), std::string::npos) << writer.Failure();
  EXPECT_NE(writer.Failure().find("sent with the next run or by ozmetctl records sync"), std::string::npos);
  EXPECT_EQ(writer.Failure().find(TPostgresServer::Password), std::string::npos) << writer.Failure();
  TRecordsStore local(TRecordsStore::LocalPath());
  ASSERT_EQ(local.Waiting().size(), 1u);
  EXPECT_EQ(local.History("SN-2").size(), 1u) << "the bench keeps it meanwhile";

  ASSERT_TRUE(Server.Start()) << Server.Unavailable();
  TStoreWriter again(Server.Url(), [](std::uint8_t) { return std::string("/records/unit.json"); });
  RunEnds(again, 3);
  EXPECT_EQ(again.Failure(), "");
  EXPECT_EQ(OnServer(), 3u);
  EXPECT_TRUE(local.Waiting().empty());

  const TRunResult sentBefore = UnitRun({"SN-2", TVerdict::Pass, 100, 2}, Id(2));
  local.KeepForLater({{TRecordJson::WholeValue(sentBefore, sentBefore.Controllers[0]), ""}}, "", "");
  TRecordsStore server(Server.Url());
  EXPECT_EQ(local.SendWaitingTo(server), 1u);
  EXPECT_EQ(OnServer(), 3u) << "sent again, kept once";
  EXPECT_TRUE(local.Waiting().empty());
}

INSTANTIATE_TEST_SUITE_P(Both, RecordsStoreTest, testing::Values(TBackend::Sqlite, TBackend::Postgres),
                         [](const auto& info) { return info.param == TBackend::Sqlite ? "Sqlite" : "Postgres"; });

} // namespace
