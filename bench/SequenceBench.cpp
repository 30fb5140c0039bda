// A 60 s test sequence on four simulated controllers at 9600 baud, the runner on a line of its own:
// (a) how late each step's first frame reaches the controllers after the step was due, beyond the
// pause before it and its own wire time; (b) how evenly each controller's status is asked while
// time passes, against the poll's 500 ms. Then a bus of 32: (c) each controller's measured reach
// against the simulator's true one, (d) how often each is asked, against max(500 ms, 32 exchanges).
// Run by hand: build/bench/bin/ozmet-sequence-bench [CYCLES] [CONTROLLERS]
#include "BenchSupport.h"
#include "sequence/SequenceFile.h"
#include "sequence/SequenceLineLink.h"
#include "sequence/SequenceObserver.h"
#include "sequence/SequenceRunner.h"
#include "sequence/SequenceTiming.h"
#include "serial/ComPort.h"

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <map>
#include <numeric>
#include <stdexcept>

namespace {

// One cycle lasts 12 s; five make the minute.
std::string SequenceText(long cycles)
{
  return "name: bench\n"
         "controllers: 1-4\n"
         "motor: {encoder: 2, max-speed: 3000, ratio: 1}\n"
         "steps:\n"
         "  - repeat:\n"
         "      times: " +
         std::to_string(cycles) +
         "\n"
         "      steps:\n"
         "        - run: {speed: 600, acceleration: 24, deceleration: 24}\n"
         "        - hold: {seconds: 5, checks: [speed: {tolerance: 5%, settle: 1}]}\n"
         "        - reverse\n"
         "        - hold: {seconds: 3}\n"
         "        - stop\n"
         "        - wait: 4\n";
}

// One run up to 600 rpm, held, stopped: the reach is what is measured.
std::string BusText(long controllers)
{
  return "name: bus\n"
         "controllers: 1-" +
         std::to_string(controllers) +
         "\n"
         "motor: {encoder: 2, max-speed: 3000, ratio: 1}\n"
         "steps:\n"
         "  - run: {speed: 600, acceleration: 24, checks: [reach: {within: 4.5}]}\n"
         "  - hold: {seconds: 6, checks: [speed: {tolerance: 5%, settle: 1}]}\n"
         "  - stop: {checks: [standstill: {within: 4.5}]}\n";
}
// The simulator's speed, reported in whole revolutions a second, enters 600 rpm -5% at 9.5 rev/s, at 24 rev/s².
constexpr double TrueReachSeconds = 9.5 / 24;

// When each step was due, and each controller's samples.
class TWatch : public TSequenceObserver {
public:
  void StepBegun(const std::string& path, const std::string& text, TClock::time_point planned, double) override
  {
    if (text.rfind("run", 0) == 0 || text == "stop" || text == "reverse")
      Due.emplace_back(path, planned);
  }
  void Sample(const TSample& sample) override { Samples[sample.Address].push_back(sample); }

  std::vector<std::pair<std::string, TClock::time_point>> Due;
  std::map<std::uint8_t, std::vector<TSample>> Samples;
};

bool MeasureLateness(const TSimLine& sim, const TWatch& watch)
{
  const double floor = TComPort::WritePauseMs + WireMs(CommandBytes, LineBaud);
  std::vector<double> late;
  for (const auto& [path, due] : watch.Due) {
    const auto first = TrafficSince(sim, TSimTraffic::TDirection::Received, due, 1);
    late.push_back(MsBetween(due, first.front()) - floor);
  }
  const TSummary summary = Summarise(late);
  std::printf("first frame of %zu steps after the step was due, beyond the pause and its wire time (%.2f ms): "
              "median %.2f ms, worst %.2f ms; goal within 5 ms: %s\n",
              late.size(), floor, summary.Median, summary.Worst, Verdict(summary.Worst <= 5));
  return summary.Worst <= 5;
}

bool MeasureSampling(const TWatch& watch, double seconds, double goalMs)
{
  bool met = true;
  for (const auto& [address, samples] : watch.Samples) {
    std::vector<double> spacing;
    for (std::size_t i = 1; i < samples.size(); ++i)
      if (samples[i].Step == samples[i - 1].Step) // frames of a step hold the polls by design
        spacing.push_back(1000 * (samples[i].Seconds - samples[i - 1].Seconds));
    const TSummary summary = Summarise(spacing);
    // The goal is a round of exchanges as the line's floor has them, and a turnaround's allowance.
    const bool even = std::abs(summary.Median - goalMs) <= 5 + goalMs * 0.06 * (goalMs > 500);
    std::printf("controller %u: %zu samples in %.1f s, %.2f a second; within a step every %.2f ms (median), "
                "at most %.2f ms; goal %.0f ms: %s\n",
                address, samples.size(), seconds, samples.size() / seconds, summary.Median, summary.Worst, goalMs,
                Verdict(even));
    met = met && even;
  }
  return met;
}

// Each controller's reach as the runner measured it (from its own Run's answer) against the simulator's: the Run
// frame received, then the motion model's time to the band, less the time its answer took.
bool MeasureReach(const TSimLine& sim, const TRunResult& run, double exchangeMs)
{
  std::vector<double> errors;
  const std::vector<TSimTraffic> traffic = sim.Traffic();
  for (const TControllerResult& controller : run.Controllers) {
    const auto received = std::find_if(traffic.begin(), traffic.end(), [&](const TSimTraffic& t) {
      return t.Direction == TSimTraffic::TDirection::Received && t.Bytes.size() == 5 &&
             t.Bytes[1] == controller.Address && t.Bytes[2] == CmdRun;
    });
    const auto answered = std::find_if(received, traffic.end(), [](const TSimTraffic& t) {
      return t.Direction == TSimTraffic::TDirection::Sent;
    });
    if (answered == traffic.end())
      throw std::runtime_error("no Run answered for a controller");
    const double truth = TrueReachSeconds - MsBetween(received->Time, answered->Time) / 1000;
    const TCheckResult& reach = controller.Steps.at(1).Checks.at(0);
    errors.push_back(1000 * std::abs(reach.Measured.value_or(1e9) - truth));
  }
  const TSummary summary = Summarise(errors);
  std::printf("reach of %zu controllers against the simulator's: error median %.1f ms, worst %.1f ms; goal within "
              "one exchange (%.1f ms): %s\n",
              errors.size(), summary.Median, summary.Worst, exchangeMs, Verdict(summary.Worst <= exchangeMs));
  return summary.Worst <= exchangeMs;
}

struct TOutcome {
  TRunResult Run;
  TWatch Watch;
  double Seconds = 0;
};

TOutcome RunOn(TSimLine& sim, const std::string& text)
{
  const TSequence sequence = TSequenceFile::Parse(text, "bench.yaml");
  sim.Open();
  TSequenceLineLink link(sim.DevicePath(), {});
  TSequenceRunner runner(sequence, link);
  TOutcome outcome;
  runner.Observe(outcome.Watch);
  const auto start = TBenchClock::now();
  outcome.Run = runner.Run({});
  outcome.Seconds = MsBetween(start, TBenchClock::now()) / 1000;
  if (outcome.Run.Verdict != TVerdict::Pass)
    throw std::runtime_error(std::string("the sequence did not pass: ") + outcome.Run.Controllers.front().Why);
  std::printf("%s on %zu controllers: %.1f s, %s\n", sequence.Name.c_str(), sequence.Addresses.size(),
              outcome.Seconds, VerdictText(outcome.Run.Verdict));
  return outcome;
}

} // namespace

static int Body(int argc, char** argv)
{
  const long cycles = ArgumentOr(argc, argv, 1, 5, "[CYCLES] [CONTROLLERS]");
  const long controllers = ArgumentOr(argc, argv, 2, 32, "[CYCLES] [CONTROLLERS]");
  TSimLine four({1, 2, 3, 4});
  const TOutcome small = RunOn(four, SequenceText(cycles));
  const bool late = MeasureLateness(four, small.Watch);
  const bool even = MeasureSampling(small.Watch, small.Seconds, 500);

  std::vector<std::uint8_t> addresses(static_cast<std::size_t>(std::min(controllers, 254L)));
  std::iota(addresses.begin(), addresses.end(), std::uint8_t{1});
  TSimLine bus(addresses);
  const TOutcome large = RunOn(bus, BusText(static_cast<long>(addresses.size())));
  const double exchangeMs = TComPort::WritePauseMs + WireMs(StatusRequestBytes + AnswerBytes, LineBaud);
  const bool reach = MeasureReach(bus, large.Run, exchangeMs);
  const double roundMs = static_cast<double>(addresses.size()) * exchangeMs;
  const bool busEven = MeasureSampling(large.Watch, large.Seconds, std::max(500.0, roundMs));
  return late && even && reach && busEven ? 0 : 1;
}

int main(int argc, char** argv)
{
  return RunCatching(Body, argc, argv);
}
