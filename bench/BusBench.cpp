// The bus view with eight quick controllers on one line at 9600 baud: (a) the bus round, the spacing
// of its status requests at the controllers against the line's floor (the pause, the request and the
// answer on the wire); (b) Stop all by Shift+Esc at a random moment of the polling, from the key to
// the last Stop answered, against eight Stops' floor once the exchange on the wire has ended, median
// and worst of a number of presses; (c) the CPU while the bus view polls the eight, the simulator a
// program of its own; (d) the unattended end of a SIGTERM with 60 controllers listed, every Stop
// answered before the backstop ends the program.
// Run by hand: build/bench/bin/ozmet-bus-bench [PRESSES] [SECONDS]
#include "BenchFolder.h"
#include "BenchSupport.h"
#include "ChildProcess.h"
#include "console/BusPoller.h"
#include "console/Form1.h"
#include "console/FormBus.h"
#include "console/OperatorExtras.h"
#include "console/UnattendedEnd.h"
#include "protocol/CommonDatas.h"
#include "serial/Backstop.h"
#include "serial/ComPort.h"

#include <QApplication>
#include <QTest>

#include <cstdio>
#include <numeric>
#include <random>
#include <stdexcept>

#include <unistd.h>

namespace {

constexpr std::uint8_t Controllers = 8;
constexpr std::uint8_t StatusCode = 0x50, StopCode = 0x52;
constexpr double PauseMs = TComPort::WritePauseMs;

std::vector<std::uint8_t> Addresses()
{
  std::vector<std::uint8_t> addresses;
  for (std::uint8_t address = 0; address < Controllers; ++address)
    addresses.push_back(address);
  return addresses;
}

void ShowBus(TForm1& form)
{
  form.OperatorExtras().BusView().AddAddresses(Addresses());
  form.OperatorExtras().MmBusViewClick();
}

// The receipts of the status requests of whole rounds that began at or after `from`, a round a row.
std::vector<std::vector<TBenchClock::time_point>> Rounds(const TSimLine& sim, TBenchClock::time_point from)
{
  std::vector<std::vector<TBenchClock::time_point>> rounds;
  for (const TSimTraffic& t : sim.Traffic()) {
    if (t.Time < from || t.Direction != TSimTraffic::TDirection::Received || t.Bytes.size() != 4 || t.Bytes[2] != StatusCode)
      continue;
    if (t.Bytes[1] == 0)
      rounds.emplace_back();
    if (!rounds.empty())
      rounds.back().push_back(t.Time);
  }
  if (!rounds.empty() && rounds.back().size() < Controllers)
    rounds.pop_back();
  return rounds;
}

bool MeasureRound(const TSimLine& sim)
{
  const auto from = TBenchClock::now();
  RunEventLoopFor(std::chrono::seconds(3));
  std::vector<double> spacing;
  for (const auto& round : Rounds(sim, from))
    spacing.push_back(MsBetween(round.front(), round.back()) / (Controllers - 1));
  if (spacing.empty())
    throw std::runtime_error("no whole bus round");
  const double floor = PauseMs + WireMs(StatusRequestBytes, LineBaud) + WireMs(AnswerBytes, LineBaud);
  const TSummary summary = Summarise(spacing);
  const double ratio = summary.Worst / floor;
  std::printf("bus round of %u controllers: %.2f ms a controller (median of %zu rounds), worst %.2f ms = %.4f x the "
              "floor %.2f ms (the pause, request and answer); goal at most 1.02 x: %s\n",
              Controllers, summary.Median, spacing.size(), summary.Worst, ratio, floor, Verdict(ratio <= 1.02));
  return ratio <= 1.02;
}

// When the line became free for Stop all: the end of an answer that was still on its way at the key
// (a Stop sent into it would collide on a half-duplex bus), or the key itself.
TBenchClock::time_point LineFree(const TSimLine& sim, TBenchClock::time_point pressed, TBenchClock::time_point firstStop)
{
  TBenchClock::time_point free = pressed;
  for (const TSimTraffic& t : sim.Traffic())
    if (t.Direction == TSimTraffic::TDirection::Sent && t.Time > free && t.Time < firstStop)
      free = t.Time;
  return free;
}

bool MeasureStopAll(TForm1& form, const TSimLine& sim, long presses)
{
  std::mt19937 random(1);
  std::uniform_int_distribution<int> span(0, 500);
  std::vector<double> times, beyondWire;
  for (long press = 0; press < presses; ++press) {
    RunEventLoopFor(std::chrono::milliseconds(span(random)));
    const auto pressed = TBenchClock::now();
    QTest::keyClick(&form, Qt::Key_Escape, Qt::ShiftModifier);
    if (!WaitForExchangeEnd(form)) // the window's thread takes the answers meanwhile
      throw std::runtime_error("Stop all did not end");
    const auto stops = TrafficSince(sim, TSimTraffic::TDirection::Received, pressed, Controllers, StopCode);
    const auto answers = TrafficSince(sim, TSimTraffic::TDirection::Sent, stops.back(), 1);
    times.push_back(MsBetween(pressed, answers.front()));
    beyondWire.push_back(MsBetween(LineFree(sim, pressed, stops.front()), answers.front()));
  }
  const double floor = Controllers * (PauseMs + 2 * WireMs(CommandBytes, LineBaud));
  const TSummary summary = Summarise(times), beyond = Summarise(beyondWire);
  const bool met = beyond.Worst <= floor + 10;
  std::printf("Stop all of %u controllers, key to the last Stop answered: median %.2f ms, worst %.2f ms of %ld; "
              "from the end of the exchange on the wire: median %.2f ms, worst %.2f ms; goal within the floor "
              "%.2f ms + 10 ms: %s\n",
              Controllers, summary.Median, summary.Worst, presses, beyond.Median, beyond.Worst, floor, Verdict(met));
  return met;
}

bool MeasureCpu(long seconds)
{
  TBenchFolder folder;
  std::vector<std::string> options;
  for (std::uint8_t address : Addresses())
    options.insert(options.end(), {"--address", std::to_string(address)});
  const std::unique_ptr<TChildProcess> sim = StartSimProcess(folder, options);
  const std::unique_ptr<TForm1> form = OpenConsole(folder);
  ShowBus(*form);
  RunEventLoopFor(std::chrono::seconds(1)); // the first drawing
  const double cpu = ProcessCpuSeconds();
  const std::uint64_t frames = form->Datas->Counters.FramesSent;
  const auto start = TBenchClock::now();
  RunEventLoopFor(std::chrono::seconds(seconds));
  const double percent = 100.0 * (ProcessCpuSeconds() - cpu) / (MsBetween(start, TBenchClock::now()) / 1000.0);
  const double perSecond = static_cast<double>(form->Datas->Counters.FramesSent - frames) / static_cast<double>(seconds);
  std::printf("CPU with the bus view polling %u controllers (%.1f status requests a second) over %ld s: %.2f %% of one "
              "core; goal below 1.5 %%: %s\n",
              Controllers, perSecond, seconds, percent, Verdict(percent < 1.5));
  return percent < 1.5;
}

// The end a SIGTERM makes with many controllers listed: the backstop armed as the signal arms it, then the unattended
// end's Stops, one to each; all must be answered before the backstop's SIGALRM, which would end the bench.
bool MeasureUnattendedEnd()
{
  constexpr std::uint8_t Listed = 60;
  std::vector<std::uint8_t> addresses(Listed + 1); // the panel's own, $00, then the listed ones
  std::iota(addresses.begin(), addresses.end(), std::uint8_t{0});
  TBenchFolder folder;
  TSimLine sim(addresses);
  const std::unique_ptr<TForm1> form = OpenConsoleOn(sim, folder);
  form->OperatorExtras().BusView().AddAddresses({addresses.begin() + 1, addresses.end()});
  form->OperatorExtras().MmBusViewClick();
  RunEventLoopFor(std::chrono::seconds(1));
  const std::uint64_t missing = form->Datas->Counters.AnswersMissing;
  const auto start = TBenchClock::now();
  TBackstop::Arm();
  TUnattendedEnd(*form).StopMotor("ended by SIGTERM");
  ::alarm(0);
  const auto stops = TrafficSince(sim, TSimTraffic::TDirection::Received, start, addresses.size(), StopCode);
  const auto answer = TrafficSince(sim, TSimTraffic::TDirection::Sent, stops.back(), 1);
  const bool answered = stops.size() == addresses.size() && form->Datas->Counters.AnswersMissing == missing;
  const double ms = MsBetween(start, answer.front());
  const double floor = static_cast<double>(addresses.size()) * (PauseMs + 2 * WireMs(CommandBytes, LineBaud));
  std::printf("unattended end (SIGTERM) with %u controllers listed: the last of %zu Stops answered after %.2f ms = "
              "%.3f x the floor %.2f ms, each answered once: %s; goal all answered, none cut short: %s\n",
              Listed, stops.size(), ms, ms / floor, floor, answered ? "yes" : "no", Verdict(answered));
  return answered;
}

} // namespace

static int Body(int argc, char** argv)
{
  const char* usage = "[PRESSES] [SECONDS]";
  const long presses = ArgumentOr(argc, argv, 1, 20, usage);
  const long seconds = ArgumentOr(argc, argv, 2, 30, usage);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  bool met = true;
  {
    TBenchFolder folder;
    TSimLine sim(Addresses());
    const std::unique_ptr<TForm1> form = OpenConsoleOn(sim, folder);
    ShowBus(*form);
    met = MeasureRound(sim) && met;
    met = MeasureStopAll(*form, sim, presses) && met;
  }
  met = MeasureUnattendedEnd() && met;
  met = MeasureCpu(seconds) && met;
  return met ? 0 : 1;
}

int main(int argc, char** argv)
{
  return RunCatching(Body, argc, argv);
}
