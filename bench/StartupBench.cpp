// Start-up as the operator sees it: from starting the real ozmet program to its window being mapped
// on the screen, on an X server of the benchmark's own (Xvfb). The program is a copy in a temp folder
// with Data/portp.dat beside it and Data/COM1 linked to a fresh simulator for every run, so it opens
// its port on the way up as it does in use. Median and worst of a number of runs.
// Run by hand: build/bench/bin/ozmet-startup-bench [RUNS]
#include "BenchFolder.h"
#include "BenchSupport.h"
#include "ChildProcess.h"
#include "MapWatcher.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace {

constexpr double GoalMs = 1000;
constexpr const char* WindowTitle = "Ozmet v.5.1.e";

// Milliseconds from starting the program to its window mapped.
double TimeOneStart(const std::string& program, const std::string& display, TMapWatcher& watcher,
                    const TBenchFolder& folder)
{
  const std::unique_ptr<TChildProcess> sim = StartSimProcess(folder); // not part of the start-up
  const auto start = TBenchClock::now();
  TChildProcess console(program, {}, {"DISPLAY=" + display, "QT_QPA_PLATFORM=xcb"});
  const auto shown = watcher.WaitForMapped(WindowTitle, std::chrono::seconds(20));
  if (!shown)
    throw std::runtime_error("the window did not appear");
  return MsBetween(start, *shown);
}

} // namespace

static int Body(int argc, char** argv)
{
  const long runs = ArgumentOr(argc, argv, 1, 10, "[RUNS]");
  TChildProcess server("/usr/bin/Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
  const std::string display = std::string(":").append(server.FirstLine());
  TMapWatcher watcher(display);
  TBenchFolder folder;
  const std::string program = folder.Path() + "/ozmet";
  std::filesystem::copy_file(ProgramBeside("ozmet"), program);

  std::vector<double> times;
  for (long i = 0; i < runs; ++i)
    times.push_back(TimeOneStart(program, display, watcher, folder));
  const TSummary summary = Summarise(times);
  std::printf("ozmet started to window mapped, Xvfb %s, %ld runs: median %.0f ms, worst %.0f ms, first %.0f ms  "
              "(goal at most %.0f ms: %s)\n",
              display.c_str(), runs, summary.Median, summary.Worst, times.front(), GoalMs,
              Verdict(summary.Median <= GoalMs));
  return summary.Median <= GoalMs ? 0 : 1;
}

int main(int argc, char** argv)
{
  return RunCatching(Body, argc, argv);
}
