// One Run (accel, decel, direction, speed, run: five frames) and one poll (the status request alone)
// against the simulator on a pseudo-terminal: the time from the call until the exchange's worker has
// finished, divided by the floor of n frames x (the 50 ms pause + the simulator's answer delay), plus
// the wire time at the port's rate where there is a wire. A pseudo-terminal does not keep the rate,
// so its floor has no wire time; the floor of a real line at 9600 baud is printed beside it.
// Run by hand: build/bench/bin/ozmet-exchange-bench [REPEATS] [ANSWER_DELAY_MS]
#include "BenchFolder.h"
#include "BenchSupport.h"
#include "ComPort.h"
#include "Form1.h"
#include "SimLine.h"

#include <QApplication>

#include <cstdio>
#include <functional>
#include <stdexcept>

namespace {

// Our cost on top of the line's floor: half a percent typical, one percent at worst.
constexpr double MedianGoal = 1.01;
constexpr double WorstGoal = 1.02;

struct TExchangeCase {
  const char* Name;
  std::size_t Frames;
  double BytesOnWire; // what one exchange sends and receives
  std::function<void(TForm1&)> Start;
};

// One exchange's time and where its time above the floor went, in milliseconds.
struct TExchangeTiming {
  double Total = 0;
  double BeforeFirstFrame = 0; // from the call to the first frame, beyond its pause
  double AfterLastAnswer = 0;  // from the last answer leaving the simulator to the worker's end
};

TExchangeTiming TimeOneExchange(TForm1& form, const TSimLine& sim, const TExchangeCase& exchange)
{
  const auto start = TBenchClock::now();
  exchange.Start(form);
  if (!WaitForExchangeEnd(form))
    throw std::runtime_error(std::string(exchange.Name) + ": the exchange did not end");
  const auto end = TBenchClock::now();
  EndExchange(form); // the drawing is left out; the next exchange is the benchmark's, not the poll timer's
  const auto frames = TrafficSince(sim, TSimTraffic::TDirection::Received, start, exchange.Frames);
  const auto answers = TrafficSince(sim, TSimTraffic::TDirection::Sent, start, exchange.Frames);
  return {MsBetween(start, end), MsBetween(start, frames.front()) - TComPort::WritePauseMs,
          MsBetween(answers.back(), end)};
}

void PrintAgainstFloor(const char* floorName, double floorMs, const TSummary& times, bool judged)
{
  const double median = times.Median / floorMs;
  const double worst = times.Worst / floorMs;
  std::printf("  %-34s %7.2f ms -> median %.3f x, worst %.3f x", floorName, floorMs, median, worst);
  if (judged)
    std::printf("  (goal at most %.2f median: %s; %.2f worst: %s)\n", MedianGoal, Verdict(median <= MedianGoal),
                WorstGoal, Verdict(worst <= WorstGoal));
  else
    std::printf("  (a real line's floor; not this line's)\n");
}

// Medians of the parts of the time above the floor.
void PrintBreakdown(const std::vector<TExchangeTiming>& timings, double floorMs)
{
  std::vector<double> above, before, after;
  for (const TExchangeTiming& t : timings) {
    above.push_back(t.Total - floorMs);
    before.push_back(t.BeforeFirstFrame);
    after.push_back(t.AfterLastAnswer);
  }
  std::printf("  above the pty floor, medians: %.2f ms in all; %.2f ms from the call to the first frame beyond its "
              "pause, %.2f ms from the last answer to the worker's end\n",
              Summarise(above).Median, Summarise(before).Median, Summarise(after).Median);
}

// Prints the series against both floors; true when the pseudo-terminal's floor meets the goal.
bool Report(const TExchangeCase& exchange, const std::vector<TExchangeTiming>& timings, unsigned delayMs)
{
  std::vector<double> times;
  for (const TExchangeTiming& t : timings)
    times.push_back(t.Total);
  const TSummary summary = Summarise(times);
  const double ptyFloor = static_cast<double>(exchange.Frames * (TComPort::WritePauseMs + delayMs));
  const double wire = WireMs(exchange.BytesOnWire, LineBaud);
  std::printf("%s: median %.2f ms, worst %.2f ms\n", exchange.Name, summary.Median, summary.Worst);
  char ptyName[64];
  std::snprintf(ptyName, sizeof ptyName, "pty floor (%zu x (%d + %u) ms):", exchange.Frames, TComPort::WritePauseMs,
                delayMs);
  PrintAgainstFloor(ptyName, ptyFloor, summary, true);
  char wireName[64];
  std::snprintf(wireName, sizeof wireName, "9600-baud floor (+ %.2f ms wire):", wire);
  PrintAgainstFloor(wireName, ptyFloor + wire, summary, false);
  PrintBreakdown(timings, ptyFloor);
  return summary.Median / ptyFloor <= MedianGoal && summary.Worst / ptyFloor <= WorstGoal;
}

bool Measure(TForm1& form, const TSimLine& sim, const TExchangeCase& exchange, long repeats, unsigned delayMs)
{
  TimeOneExchange(form, sim, exchange); // warm-up: first use of every path
  std::vector<TExchangeTiming> timings;
  for (long i = 0; i < repeats; ++i)
    timings.push_back(TimeOneExchange(form, sim, exchange));
  return Report(exchange, timings, delayMs);
}

} // namespace

static int Body(int argc, char** argv)
{
  const char* usage = "[REPEATS] [ANSWER_DELAY_MS]";
  const long repeats = ArgumentOr(argc, argv, 1, 20, usage);
  const auto delayMs = static_cast<unsigned>(ArgumentOr(argc, argv, 2, 0, usage, 0));
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  TSimLine sim{{0}};
  sim.Open();
  TSimFaults faults;
  faults.DelayMs = delayMs;
  sim.SetFaults(faults);
  TBenchFolder folder;
  folder.LinkPort(sim.DevicePath());
  const std::unique_ptr<TForm1> form = OpenConsole(folder);

  const TExchangeCase run{"Run (5 frames)", 5, 5 * (CommandBytes + AnswerBytes), [](TForm1& f) { f.BtnRunClick(); }};
  const TExchangeCase poll{"poll (status request)", 1, StatusRequestBytes + AnswerBytes,
                           [](TForm1& f) { f.TimerGetMotorStateTimer(); }};
  std::printf("exchange with the simulator on a pseudo-terminal, answer delay %u ms, %ld repeats after one warm-up\n",
              delayMs, repeats);
  const bool runMet = Measure(*form, sim, run, repeats, delayMs);
  const bool pollMet = Measure(*form, sim, poll, repeats, delayMs);
  return runMet && pollMet ? 0 : 1;
}

int main(int argc, char** argv)
{
  return RunCatching(Body, argc, argv);
}
