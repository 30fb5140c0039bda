// A 60 s test sequence on four simulated controllers at 9600 baud, the runner on a line of its own:
// (a) how late each step's first frame reaches the controllers after the step was due, beyond the
// pause before it and its own wire time; (b) how evenly each controller's status is asked while
// time passes, against the poll's 500 ms.
// Run by hand: build/bench/bin/ozmet-sequence-bench [CYCLES]
#include "BenchSupport.h"
#include "ComPort.h"
#include "SequenceFile.h"
#include "SequenceLineLink.h"
#include "SequenceObserver.h"
#include "SequenceRunner.h"

#include <cmath>
#include <cstdio>
#include <map>
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

bool MeasureSampling(const TWatch& watch, double seconds)
{
  bool met = true;
  for (const auto& [address, samples] : watch.Samples) {
    std::vector<double> spacing;
    for (std::size_t i = 1; i < samples.size(); ++i)
      if (samples[i].Step == samples[i - 1].Step) // frames of a step hold the polls by design
        spacing.push_back(1000 * (samples[i].Seconds - samples[i - 1].Seconds));
    const TSummary summary = Summarise(spacing);
    const bool even = std::abs(summary.Median - 500) <= 5;
    std::printf("controller %u: %zu samples in %.1f s, %.2f a second; within a step every %.2f ms (median), "
                "at most %.2f ms; goal 500 ms: %s\n",
                address, samples.size(), seconds, samples.size() / seconds, summary.Median, summary.Worst,
                Verdict(even));
    met = met && even;
  }
  return met;
}

} // namespace

static int Body(int argc, char** argv)
{
  const long cycles = ArgumentOr(argc, argv, 1, 5, "[CYCLES]");
  const TSequence sequence = TSequenceFile::Parse(SequenceText(cycles), "bench.yaml");
  TSimLine sim({1, 2, 3, 4});
  sim.Open();
  TSequenceLineLink link(sim.DevicePath(), {});
  TSequenceRunner runner(sequence, link);
  TWatch watch;
  runner.Observe(watch);
  const auto start = TBenchClock::now();
  const TRunResult run = runner.Run({});
  const double seconds = MsBetween(start, TBenchClock::now()) / 1000;
  if (run.Verdict != TVerdict::Pass)
    throw std::runtime_error(std::string("the sequence did not pass: ") + run.Controllers.front().Why);
  std::printf("sequence of %ld cycles on 4 controllers: %.1f s, %s\n", cycles, seconds, VerdictText(run.Verdict));
  const bool late = MeasureLateness(sim, watch);
  const bool even = MeasureSampling(watch, seconds);
  return late && even ? 0 : 1;
}

int main(int argc, char** argv)
{
  return RunCatching(Body, argc, argv);
}
