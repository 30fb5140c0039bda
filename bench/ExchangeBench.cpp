// One Run (accel, decel, direction, speed, run: five frames) and one poll (the status request alone)
// against the simulator on a pseudo-terminal: the time from the call until the exchange's worker has
// finished, divided by the floor of n frames x (the 50 ms pause + the simulator's answer delay), plus
// the wire time at the port's rate where there is a wire. A pseudo-terminal does not keep the rate,
// so its floor has no wire time; the floor of a real line at 9600 baud is printed beside it.
// Then the same poll over rfc2217:// through ser2net on loopback, against the poll on the
// pseudo-terminal itself, both measured in this one run.
// Run by hand: build/bench/bin/ozmet-exchange-bench [REPEATS] [ANSWER_DELAY_MS]
#include "BenchFolder.h"
#include "BenchSupport.h"
#include "Ser2net.h"
#include "SimLine.h"
#include "console/Form1.h"
#include "protocol/OzmCommands.h"
#include "serial/ComPort.h"

#include <QApplication>

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

// Our cost on top of the line's floor: half a percent typical, one percent at worst.
constexpr double MedianGoal = 1.01;
constexpr double WorstGoal = 1.02;
// A network line adds the server's hop on loopback and little else.
constexpr double NetworkGoal = 1.02;

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

std::vector<TExchangeTiming> Series(TForm1& form, const TSimLine& sim, const TExchangeCase& exchange, long repeats)
{
  TimeOneExchange(form, sim, exchange); // warm-up: first use of every path
  std::vector<TExchangeTiming> timings;
  for (long i = 0; i < repeats; ++i)
    timings.push_back(TimeOneExchange(form, sim, exchange));
  return timings;
}

double MedianTotal(const std::vector<TExchangeTiming>& timings)
{
  std::vector<double> totals;
  for (const TExchangeTiming& t : timings)
    totals.push_back(t.Total);
  return Summarise(totals).Median;
}

// The port closed, the line handed to ser2net and the port opened on its Telnet accepter.
bool MeasureOverNetwork(TForm1& form, const TSimLine& sim, const TBenchFolder& folder, const TExchangeCase& poll,
                        long repeats, double directMedian)
{
  form.ComPort->Close();
  TSer2net server(sim.DevicePath());
  if (!server.Start()) {
    std::printf("network line: ser2net would not start; not measured\n");
    return false;
  }
  folder.LinkPort(server.Rfc2217Url());
  if (!form.ComPort->Open())
    throw std::runtime_error("the port did not open on " + server.Rfc2217Url());
  const double median = MedianTotal(Series(form, sim, poll, repeats));
  const double ratio = median / directMedian;
  std::printf("poll over rfc2217:// through ser2net: median %.2f ms against %.2f ms on the pseudo-terminal -> %.3f x "
              "(goal at most %.2f: %s)\n",
              median, directMedian, ratio, NetworkGoal, Verdict(ratio <= NetworkGoal));
  form.ComPort->Close();
  return ratio <= NetworkGoal;
}

// What no program can beat on this line: one thread sleeps the pause, writes the status request
// and blocks until the simulator's answer is read, with no window, receive thread or worker between.
TSummary BareLineTimes(const TSimLine& sim, long repeats)
{
  const int fd = ::open(sim.DevicePath().c_str(), O_RDWR | O_NOCTTY);
  if (fd < 0)
    throw std::runtime_error("cannot open the simulator's line");
  termios raw{};
  ::tcgetattr(fd, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(fd, TCSANOW, &raw);
  const TStatusRequest request = TOzmCommands::StatusRequestFor(0);
  std::vector<double> times;
  for (long i = 0; i <= repeats; ++i) { // the first one warms up
    const auto start = TBenchClock::now();
    std::this_thread::sleep_until(start + std::chrono::milliseconds(TComPort::WritePauseMs));
    if (::write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size()))
      throw std::runtime_error("the bare line's write failed");
    std::uint8_t answer[static_cast<std::size_t>(AnswerBytes)];
    for (std::size_t got = 0; got < sizeof answer;) {
      pollfd wait{fd, POLLIN, 0};
      const ssize_t n = ::poll(&wait, 1, 1000) > 0 ? ::read(fd, answer + got, sizeof answer - got) : -1;
      if (n <= 0)
        throw std::runtime_error("the simulator did not answer the bare line");
      got += static_cast<std::size_t>(n);
    }
    if (i > 0)
      times.push_back(MsBetween(start, TBenchClock::now()));
  }
  ::close(fd);
  return Summarise(times);
}

void ReportBareLine(const TSummary& bare, unsigned delayMs)
{
  const double floor = TComPort::WritePauseMs + delayMs;
  std::printf("bare line, one thread (sleep, write, read the answer): median %.2f ms, worst %.2f ms -> median %.3f x, "
              "worst %.3f x of the poll's floor: the least any program gets here\n",
              bare.Median, bare.Worst, bare.Median / floor, bare.Worst / floor);
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
  const TSummary bare = BareLineTimes(sim, repeats);
  TBenchFolder folder;
  folder.LinkPort(sim.DevicePath());
  const std::unique_ptr<TForm1> form = OpenConsole(folder);

  const TExchangeCase run{"Run (5 frames)", 5, 5 * (CommandBytes + AnswerBytes), [](TForm1& f) { f.BtnRunClick(); }};
  const TExchangeCase poll{"poll (status request)", 1, StatusRequestBytes + AnswerBytes,
                           [](TForm1& f) { f.TimerGetMotorStateTimer(); }};
  std::printf("exchange with the simulator on a pseudo-terminal, answer delay %u ms, %ld repeats after one warm-up\n",
              delayMs, repeats);
  const bool runMet = Report(run, Series(*form, sim, run, repeats), delayMs);
  const std::vector<TExchangeTiming> polls = Series(*form, sim, poll, repeats);
  const bool pollMet = Report(poll, polls, delayMs);
  ReportBareLine(bare, delayMs);
  const bool networkMet = MeasureOverNetwork(*form, sim, folder, poll, repeats, MedianTotal(polls));
  return runMet && pollMet && networkMet ? 0 : 1;
}

int main(int argc, char** argv)
{
  return RunCatching(Body, argc, argv);
}
