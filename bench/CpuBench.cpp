// The console's CPU cost: (a) the port open and nothing polled, (b) the same with the serial devices
// window open, its udev monitor watching, (c) a running motor polled at 2 Hz, (d) the same with the
// speed chart open, drawn anew with every status answer.
// The process's CPU time (getrusage, every thread) over the wall time, and how often the port's
// receive thread woke (its voluntary context switches in /proc). The simulator runs as a program of
// its own, so its CPU is not counted.
// Run by hand: build/bench/bin/ozmet-cpu-bench [SECONDS]
#include "BenchFolder.h"
#include "BenchSupport.h"
#include "ChildProcess.h"
#include "console/Form1.h"
#include "console/OperatorExtras.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace {

struct TCpuSample {
  double CpuSeconds = 0;
  double WallSeconds = 0;
  long Wakeups = 0;     // the receive thread's
  long MainWakeups = 0; // the window's thread's, to tell where an idle cost comes from
  double Percent() const { return 100.0 * CpuSeconds / WallSeconds; }
};

// The thread the port starts when it opens: the one that is new after reopening it.
int ReceiveThreadId(TForm1& form)
{
  form.BtnClosePortClick();
  const std::set<int> before = ThreadIds();
  form.BtnOpenPortClick();
  const std::set<int> after = ThreadIds();
  std::vector<int> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
  if (added.size() != 1)
    throw std::runtime_error("cannot tell the receive thread: " + std::to_string(added.size()) + " new threads");
  return added.front();
}

// The window's event loop runs as in the program for that long.
TCpuSample Measure(long seconds, int receiveThread)
{
  const double cpu = ProcessCpuSeconds();
  const long switches = ThreadVoluntarySwitches(receiveThread);
  const long mainSwitches = ThreadVoluntarySwitches(::getpid());
  const auto start = TBenchClock::now();
  RunEventLoopFor(std::chrono::seconds(seconds));
  return {ProcessCpuSeconds() - cpu, MsBetween(start, TBenchClock::now()) / 1000.0,
          ThreadVoluntarySwitches(receiveThread) - switches, ThreadVoluntarySwitches(::getpid()) - mainSwitches};
}

bool ReportIdle(const char* what, const TCpuSample& idle)
{
  constexpr double Goal = 0.1;
  std::printf("port open, no polling%s, %.0f s:\n", what, idle.WallSeconds);
  std::printf("  CPU %.4f %% of one core (%.1f ms)  (goal under %.1f %%: %s)\n", idle.Percent(),
              idle.CpuSeconds * 1000, Goal, Verdict(idle.Percent() < Goal));
  std::printf("  receive thread wake-ups: %ld  (goal 0: %s); the window's thread woke %ld times\n", idle.Wakeups,
              Verdict(idle.Wakeups == 0), idle.MainWakeups);
  return idle.Percent() < Goal && idle.Wakeups == 0;
}

bool ReportPolling(const char* what, const TCpuSample& polling, long polls)
{
  constexpr double Goal = 1.0;
  const double perPoll = polls ? 1000.0 * polling.CpuSeconds / static_cast<double>(polls) : 0;
  std::printf("running motor polled at 2 Hz%s, %.0f s, %ld polls:\n", what, polling.WallSeconds, polls);
  std::printf("  CPU %.3f %% of one core (%.2f ms a poll)  (goal under %.0f %%: %s)\n", polling.Percent(), perPoll,
              Goal, Verdict(polling.Percent() < Goal));
  std::printf("  receive thread wake-ups: %ld (%.1f a poll)\n", polling.Wakeups,
              polls ? static_cast<double>(polling.Wakeups) / static_cast<double>(polls) : 0.0);
  return polling.Percent() < Goal;
}

} // namespace

static int Body(int argc, char** argv)
{
  const long seconds = ArgumentOr(argc, argv, 1, 60, "[SECONDS]");
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  TBenchFolder folder;
  const std::unique_ptr<TChildProcess> sim = StartSimProcess(folder);
  const std::unique_ptr<TForm1> form = OpenConsole(folder);
  const int receiveThread = ReceiveThreadId(*form);
  RunEventLoopFor(std::chrono::seconds(1)); // the first drawing is start-up's, not idling's

  const TCpuSample idle = Measure(seconds, receiveThread);
  form->MmSerialDevicesClick();
  RunEventLoopFor(std::chrono::seconds(1)); // its first drawing
  const TCpuSample watching = Measure(seconds, receiveThread);
  long polls = 0;
  QObject::connect(form->findChild<QTimer*>("TimerGetMotorState"), &QTimer::timeout, [&] { ++polls; });
  form->BtnRunClick(); // from here the poll timer asks for the status every 500 ms
  const TCpuSample polling = Measure(seconds, receiveThread);
  const long pollsWithoutChart = polls;
  polls = 0;
  form->OperatorExtras().MmSpeedChartClick(); // drawn anew with every status answer from here
  const TCpuSample charting = Measure(seconds, receiveThread);
  const bool idleMet = ReportIdle("", idle);
  const bool watchingMet = ReportIdle(", the serial devices window open", watching);
  const bool pollingMet = ReportPolling("", polling, pollsWithoutChart);
  const bool chartingMet = ReportPolling(", the speed chart open", charting, polls);
  form->BtnStopClick();
  return idleMet && watchingMet && pollingMet && chartingMet ? 0 : 1;
}

int main(int argc, char** argv)
{
  return RunCatching(Body, argc, argv);
}
