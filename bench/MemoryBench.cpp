// The console's resident memory: after start-up, after a number of status polls of a running motor
// (back to back, each waited for, rather than one every 500 ms), and per line of the log they wrote.
// That last figure is set against the log's own cost per line, measured right after by appending as
// many lines of the same texts directly: anything a poll keeps beyond its log lines shows as the
// difference. Then the speed chart's cost: the window opened, and a day of points (its bound) kept.
// Last, a week of polling's log lines (four a second) appended as polls write them, against the
// figure at 100,000 lines: the view keeps only the newest, so the memory must stay flat.
// The simulator runs as a program of its own, so its memory is not counted.
// Run by hand: build/bench/bin/ozmet-memory-bench [POLLS [LOG_LINES]]
#include "BenchFolder.h"
#include "BenchSupport.h"
#include "ChildProcess.h"
#include "console/Form1.h"
#include "console/LogPanel.h"
#include "console/OperatorExtras.h"
#include "history/SpeedHistory.h"

#include <QApplication>
#include <QPlainTextEdit>

#include <cstdio>

namespace {

constexpr double Goal = 1.1;

int LogLines(const TForm1& form)
{
  return form.findChild<QPlainTextEdit*>("lbBufRead")->blockCount();
}

void Poll(TForm1& form)
{
  form.TimerGetMotorStateTimer();
  EndExchange(form);
}

// What a poll writes to the log, line for line: the step, then the answer's bytes.
void AppendPollLines(TForm1& form)
{
  form.AppendLog("motor status", TLogColour::Green, false);
  form.AppendLog("$E6$80$11$11$5C", TLogColour::InForce, false);
  form.ScrollLogToEnd();
  QCoreApplication::processEvents();
}

double KiB(long kib)
{
  return static_cast<double>(kib) * 1024.0;
}

} // namespace

static int Body(int argc, char** argv)
{
  const long polls = ArgumentOr(argc, argv, 1, 10'000, "[POLLS [LOG_LINES]]");
  const long weekLines = ArgumentOr(argc, argv, 2, 2'400'000, "[POLLS [LOG_LINES]]", 100'000);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  TBenchFolder folder;
  const std::unique_ptr<TChildProcess> sim = StartSimProcess(folder);
  const std::unique_ptr<TForm1> form = OpenConsole(folder);
  RunEventLoopFor(std::chrono::seconds(1)); // the first drawing belongs to start-up
  const long startup = ResidentKiB();

  form->BtnRunClick(); // the answers of a running motor
  EndExchange(*form);
  const int linesBefore = LogLines(*form);
  const long beforePolls = ResidentKiB();
  for (long i = 0; i < polls; ++i)
    Poll(*form);
  const long afterPolls = ResidentKiB();
  const int pollLines = LogLines(*form) - linesBefore;
  for (int i = 0; i < pollLines / 2; ++i)
    AppendPollLines(*form);
  const long afterLog = ResidentKiB();

  const double perPollLine = KiB(afterPolls - beforePolls) / pollLines;
  const double perLogLine = KiB(afterLog - afterPolls) / (pollLines / 2 * 2);
  std::printf("resident after start-up:         %.1f MiB\n", startup / 1024.0);
  std::printf("resident after the polls:        %.1f MiB (%ld polls: +%.1f MiB, %d log lines)\n", afterPolls / 1024.0,
              polls, (afterPolls - beforePolls) / 1024.0, pollLines);
  std::printf("memory per log line, polling:    %.0f bytes\n", perPollLine);
  std::printf("memory per log line, log alone:  %.0f bytes -> polling %.2f x the log alone (goal at most %.1f: %s)\n",
              perLogLine, perPollLine / perLogLine, Goal, Verdict(perPollLine <= Goal * perLogLine));

  form->OperatorExtras().MmSpeedChartClick();
  RunEventLoopFor(std::chrono::seconds(1)); // drawn with the points it has
  const long chartOpen = ResidentKiB();
  TSpeedHistory day;
  for (std::size_t i = 0; i < TSpeedHistory::DayAt2Hz; ++i)
    day.Add({static_cast<std::int64_t>(i) * 500, 1020, static_cast<std::int64_t>(i)});
  const long dayKept = ResidentKiB();
  std::printf("speed chart opened:              +%.1f MiB\n", (chartOpen - afterLog) / 1024.0);
  std::printf("a full day of chart points kept: +%.1f MiB (%zu points, the history's bound)\n",
              (dayKept - chartOpen) / 1024.0, day.Size());

  form->LogPanel().ClearLog();
  long appended = 0;
  const auto appendUpTo = [&](long lines) {
    for (; appended < lines; appended += 2)
      AppendPollLines(*form);
  };
  appendUpTo(100'000);
  const long at100k = ResidentKiB();
  appendUpTo(weekLines);
  const long atWeek = ResidentKiB();
  const double weekRatio = static_cast<double>(atWeek) / static_cast<double>(at100k);
  std::printf("resident after 100,000 log lines: %.1f MiB\n", at100k / 1024.0);
  std::printf("resident after %ld log lines: %.1f MiB -> %.2f x (goal at most %.1f: %s; the view keeps %zu)\n",
              appended, atWeek / 1024.0, weekRatio, Goal, Verdict(weekRatio <= Goal), TLogPanel::MaxLines);
  return perPollLine <= Goal * perLogLine && weekRatio <= Goal ? 0 : 1;
}

int main(int argc, char** argv)
{
  return RunCatching(Body, argc, argv);
}
