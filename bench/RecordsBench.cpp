// The records store at a plant's size: RUNS runs of 4 controllers with 12 checks each stored (a
// thousand runs a transaction, to fill it), then timed: storing one more run (its own transaction,
// durable), a unit's history, the first-pass yield over all, the Cpk of one check; SQLite in a file
// and PostgreSQL on a server of the bench's own, side by side.
// Run by hand: build/bench/bin/ozmet-records-bench [RUNS]
#include "PostgresServer.h"
#include "TempDir.h"
#include "records/PostgresDatabase.h"
#include "records/RecordsStore.h"
#include "sequence/RecordJson.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

using namespace std::chrono;
constexpr int Controllers = 4, Checks = 12, FillBatch = 1000, Repeats = 20;

// Run n of the line: each controller a unit of its own, some failing, a fifth of the units tested again.
std::vector<TUnitRecord> Run(long n)
{
  TRunResult run;
  run.Name = n % 2 ? "end-of-line" : "endurance";
  run.Station = "bench-" + std::to_string(n % 8);
  run.Start = system_clock::time_point(hours(24 * 20000 + n / 400));
  run.End = run.Start + seconds(14);
  char id[40];
  std::snprintf(id, sizeof id, "00000000-0000-4000-8000-%012ld", n);
  run.Id = id;
  std::vector<TUnitRecord> units;
  for (int c = 0; c < Controllers; ++c) {
    TControllerResult controller;
    controller.Address = static_cast<std::uint8_t>(c + 1);
    controller.Unit = "SN-" + std::to_string((n % 5 == 4 ? n - 1 : n) * Controllers + c);
    TStepResult step{"1", "hold 600 rpm", TSequenceStep::TKind::Hold, 1, 7, {}, TVerdict::Pass, "", false};
    for (int k = 0; k < Checks; ++k) {
      const double measured = 600 + std::sin(static_cast<double>(n * 31 + c * 7 + k)) * 8;
      const bool ok = measured < 607;
      step.Checks.push_back({"check " + std::to_string(k), TSequenceCheck::TKind::Speed, measured, 582, 607, "rpm",
                             ok ? TVerdict::Pass : TVerdict::Fail, ok ? "" : "outside 582..607"});
      if (!ok)
        controller.Verdict = TVerdict::Fail;
    }
    controller.Steps.push_back(step);
    run.Controllers.push_back(controller);
  }
  for (const TControllerResult& controller : run.Controllers)
    units.push_back({TRecordJson::WholeValue(run, controller), "/records/" + std::string(id) + ".json"});
  return units;
}

// Median and worst of the repeats, in milliseconds.
std::pair<double, double> Timed(const std::function<void()>& task)
{
  std::vector<double> ms;
  for (int i = 0; i < Repeats; ++i) {
    const auto start = steady_clock::now();
    task();
    ms.push_back(duration<double, std::milli>(steady_clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms.back()};
}

void Measure(const char* kind, const std::string& name, long runs)
{
  TRecordsStore store(name);
  const auto fillStart = steady_clock::now();
  for (long first = 0; first < runs; first += FillBatch) {
    std::vector<TUnitRecord> batch;
    for (long n = first; n < std::min(runs, first + FillBatch); ++n)
      for (TUnitRecord& unit : Run(n))
        batch.push_back(std::move(unit));
    store.Store(batch, "bench", "bench");
  }
  const double fill = duration<double>(steady_clock::now() - fillStart).count();
  long next = runs;
  const auto [storeMedian, storeWorst] = Timed([&] { store.Store(Run(next++), "bench", "bench"); });
  const auto [historyMedian, historyWorst] = Timed([&] { store.History("SN-" + std::to_string(runs * 2 + 1)); });
  const auto [yieldMedian, yieldWorst] = Timed([&] { store.Yield(TRecordsStore::TYieldBy::Sequence, std::nullopt); });
  const auto [cpkMedian, cpkWorst] = Timed([&] { store.Spread("end-of-line", "check 3"); });
  std::printf("%-10s  %ld runs filled in %.0f s; median / worst of %d: store a run %.2f / %.2f ms, history %.2f / "
              "%.2f ms, yield %.1f / %.1f ms, Cpk %.1f / %.1f ms\n",
              kind, runs, fill, Repeats, storeMedian, storeWorst, historyMedian, historyWorst, yieldMedian, yieldWorst,
              cpkMedian, cpkWorst);
  std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
  const long runs = argc > 1 ? std::atol(argv[1]) : 100000;
  if (runs < 1) {
    std::fprintf(stderr, "usage: %s [RUNS]\n", argv[0]);
    return 2;
  }
  TTempDir folder;
  Measure("SQLite", folder.Path() + "/records.sqlite", runs);
  TPostgresServer server;
  if (!server.Unavailable().empty()) {
    std::printf("PostgreSQL  not measured: %s\n", server.Unavailable().c_str());
    return 0;
  }
  TPostgresDatabase(server.Url()).Execute("CREATE DATABASE bench");
  Measure("PostgreSQL", server.Url("bench"), runs);
  return 0;
}
