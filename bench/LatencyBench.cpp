// What the operator waits for: from a click on Stop to its frame arriving at the simulated controller
// (the simulator's receive time), and from a status answer leaving the simulator (its send time) to
// the speed label painted with the new text. Median and worst over a number of actions each.
// Run by hand: build/bench/bin/ozmet-latency-bench [ACTIONS]
#include "BenchFolder.h"
#include "BenchSupport.h"
#include "PaintWatch.h"
#include "SimLine.h"
#include "console/Form1.h"
#include "serial/ComPort.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QToolButton>

#include <cstdio>
#include <stdexcept>

namespace {

using TDirection = TSimTraffic::TDirection;

double ClickToFirstFrame(TForm1& form, const TSimLine& sim, QAbstractButton& button)
{
  const auto start = TBenchClock::now();
  QTest::mouseClick(&button, Qt::LeftButton); // returns once the command's exchange has ended
  EndExchange(form);
  return MsBetween(start, TrafficSince(sim, TDirection::Received, start, 1).front());
}

double AnswerToLabel(TForm1& form, const TSimLine& sim, TPaintWatch& watch)
{
  watch.Reset("-");
  const auto start = TBenchClock::now();
  form.TimerGetMotorStateTimer();
  const auto painted = watch.WaitForNewText(std::chrono::seconds(2));
  if (!painted)
    throw std::runtime_error("the speed label did not change");
  EndExchange(form);
  return MsBetween(TrafficSince(sim, TDirection::Sent, start, 1).front(), *painted);
}

template <class TAction>
TSummary Repeat(long count, TAction action)
{
  action(); // warm-up: first use of every path
  std::vector<double> times;
  for (long i = 0; i < count; ++i)
    times.push_back(action());
  return Summarise(times);
}

} // namespace

static int Body(int argc, char** argv)
{
  const long actions = ArgumentOr(argc, argv, 1, 100, "[ACTIONS]");
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  TSimLine sim{{0}};
  TBenchFolder folder;
  const std::unique_ptr<TForm1> form = OpenConsoleOn(sim, folder);
  auto* speed = form->findChild<QLabel*>("lblCurrentSpeed");
  auto* stop = form->findChild<QAbstractButton*>("BtnStop");
  if (!speed || !stop)
    throw std::runtime_error("lblCurrentSpeed or BtnStop is missing");

  form->BtnRunClick(); // the answers of a running motor
  EndExchange(*form);
  TPaintWatch watch(*speed);
  const TSummary label = Repeat(actions, [&] { return AnswerToLabel(*form, sim, watch); });
  const TSummary click = Repeat(actions, [&] { return ClickToFirstFrame(*form, sim, *stop); });

  const double pause = TComPort::WritePauseMs;
  std::printf("%ld actions each, after one warm-up, simulator on a pseudo-terminal\n", actions);
  std::printf("click on Stop to its frame at the controller:   median %6.2f ms, worst %6.2f ms\n", click.Median,
              click.Worst);
  std::printf("  floor: the %.0f ms pause before every frame (median %.3f x, worst %.3f x); a 9600-baud line adds "
              "%.2f ms for the frame on the wire\n",
              pause, click.Median / pause, click.Worst / pause, WireMs(CommandBytes, LineBaud));
  std::printf("status answer sent to speed label painted:     median %6.2f ms, worst %6.2f ms\n", label.Median,
              label.Worst);
  std::printf("  floor: 0 on a pseudo-terminal; a 9600-baud line adds %.2f ms for the answer on the wire\n",
              WireMs(AnswerBytes, LineBaud));
  return 0;
}

int main(int argc, char** argv)
{
  return RunCatching(Body, argc, argv);
}
