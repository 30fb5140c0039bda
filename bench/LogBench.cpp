// The operation log's cost per line must not grow with the log: appends 1,000,000 coloured lines,
// each followed by the scroll to the newest line, and prints the time per line (append, scroll and
// drawing) over the first and the last 10,000 lines and the memory per line.
// Run by hand: build/run/bin/ozmet-log-bench [LINES]
#include "BenchSupport.h"
#include "TempDir.h"
#include "console/Form1.h"
#include "widgets/MessageBox.h"

#include <QApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Microseconds per line for `count` lines appended from line `from` on; the event loop runs (the
// scroll and the drawing) after every `burst` lines.
double TimePerLine(TForm1& form, long from, long count, long burst)
{
  static const TLogColour colours[] = {TLogColour::Green, TLogColour::Red, TLogColour::Blue, TLogColour::InForce};
  const auto start = std::chrono::steady_clock::now();
  for (long i = from; i < from + count; ++i) {
    form.AppendLog("Comand transfered A" + std::to_string(i % 10), colours[i % 4], false);
    form.ScrollLogToEnd();
    if (i % burst == 0)
      QCoreApplication::processEvents(); // the scroll and the drawing happen here
  }
  const std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
  return spent.count() / static_cast<double>(count);
}

} // namespace

int main(int argc, char** argv)
{
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const long lines = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1'000'000;
  constexpr long Window = 10'000;
  if (lines < 2 * Window) {
    std::fprintf(stderr, "usage: %s [LINES >= %ld]\n", argv[0], 2 * Window);
    return 2;
  }
  SetMessageRecorder([](const std::string&) {}); // no port and no settings file here
  TTempDir folder;
  TForm1 form(folder.Path());
  form.show();

  const long before = ResidentKiB();
  // Each measured line is a trip through the event loop, as a worker's log step is in the program;
  // the lines between are filled in bursts to keep the run short.
  const double first = TimePerLine(form, 0, Window, 1);
  TimePerLine(form, Window, lines - 2 * Window, 1000);
  const double last = TimePerLine(form, lines - Window, Window, 1);
  const long after = ResidentKiB();

  std::printf("log lines:                 %ld\n", lines);
  std::printf("time per line, first 10k:  %.2f us\n", first);
  std::printf("time per line, last 10k:   %.2f us  (%.2f x the first; goal at most 1.5)\n", last, last / first);
  std::printf("memory per line:           %.0f bytes\n", (after - before) * 1024.0 / static_cast<double>(lines));
  return last / first <= 1.5 ? 0 : 1;
}
