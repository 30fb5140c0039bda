// A full scan of the bus, 0..254, by the ozmetctl program against the simulator on a pseudo-terminal
// with a few controllers: its time from start to exit, against the floor of the line. Every address
// costs the 50 ms pause; a silent one then its whole timeout, an answering one only the time its
// answer took at the simulator, and then its check: the quiet line (the whole answer time, 300 ms
// plus a frame and an answer on the wire at 9600 baud) and a second request, its pause and answer.
// Run by hand: build/bench/bin/ozmet-scan-bench [REPEATS] [TIMEOUT_MS]
#include "BenchSupport.h"
#include "ChildProcess.h"
#include "SimLine.h"
#include "protocol/WireTime.h"
#include "serial/ComPort.h"

#include <cstdio>
#include <optional>
#include <stdexcept>
#include <utility>

namespace {

constexpr double Goal = 1.03;
constexpr int Addresses = 255;
const std::vector<std::uint8_t> Controllers = {0, 7, 100, 254};

struct TScanTiming {
  double Total = 0;
  double Floor = 0;
};

// The answer time of every status request answered since `from`, from the simulator's own record.
double AnswerMsSince(const TSimLine& sim, TBenchClock::time_point from)
{
  double sum = 0;
  std::optional<TBenchClock::time_point> received;
  for (const TSimTraffic& traffic : sim.Traffic()) {
    if (traffic.Time < from)
      continue;
    if (traffic.Direction == TSimTraffic::TDirection::Received)
      received = traffic.Time;
    else if (received)
      sum += MsBetween(*std::exchange(received, std::nullopt), traffic.Time);
  }
  return sum;
}

TScanTiming TimeOneScan(const TSimLine& sim, long timeoutMs)
{
  const auto start = TBenchClock::now();
  TChildProcess scan(ProgramBeside("ozmetctl"),
                     {"--device", sim.DevicePath(), "scan", "--timeout-ms", std::to_string(timeoutMs)});
  const std::optional<int> exit = scan.WaitForExit(std::chrono::seconds(Addresses));
  const auto end = TBenchClock::now();
  if (exit != 0)
    throw std::runtime_error("the scan failed with " + (exit ? std::to_string(*exit) : "no exit"));
  const double silent = static_cast<double>(Addresses - Controllers.size()) * static_cast<double>(timeoutMs);
  const auto onWire = std::chrono::ceil<std::chrono::milliseconds>(WireTime(10, 9600, BitsPerByte(8, false, false)));
  const double checks = static_cast<double>(Controllers.size()) *
                        static_cast<double>(TCommonDatas::AnswerTimeout + onWire.count() + TComPort::WritePauseMs);
  return {MsBetween(start, end),
          Addresses * TComPort::WritePauseMs + silent + checks + AnswerMsSince(sim, start)};
}

int Body(int argc, char** argv)
{
  const char* usage = "[REPEATS] [TIMEOUT_MS]";
  const long repeats = ArgumentOr(argc, argv, 1, 3, usage);
  const long timeoutMs = ArgumentOr(argc, argv, 2, 30, usage);
  TSimLine sim(Controllers);
  sim.Open();
  std::printf("ozmetctl scan 0..254, timeout %ld ms, %zu controllers answering, %ld runs\n", timeoutMs,
              Controllers.size(), repeats);
  std::vector<double> ratios;
  for (long run = 0; run < repeats; ++run) {
    const TScanTiming timing = TimeOneScan(sim, timeoutMs);
    ratios.push_back(timing.Total / timing.Floor);
    std::printf("  run %ld: %.1f ms against the floor of %.1f ms: %.4f x\n", run + 1, timing.Total, timing.Floor,
                ratios.back());
  }
  const TSummary summary = Summarise(ratios);
  std::printf("scan: median %.4f x, worst %.4f x (goal at most %.2f: %s)\n", summary.Median, summary.Worst, Goal,
              Verdict(summary.Worst <= Goal));
  return 0;
}

} // namespace

int main(int argc, char** argv)
{
  return RunCatching(Body, argc, argv);
}
