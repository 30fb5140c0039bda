// How soon Esc stops the motor while the console is busy: Esc pressed in the speed field of the
// window at a random moment after a Run (during its last frames or while it polls), to the Stop frame
// arriving at the simulated controller, that is the simulator holding the frame's last byte. A Stop
// waits only for the frame on the wire, then its own pause; so against a quick controller and
// against one answering in 250 ms, median and worst of a number of presses each. A key press waits
// for the window's thread, which the synchronous press cannot show, so how late the event loop came to
// each chosen moment is printed beside.
// Run by hand: build/bench/bin/ozmet-stop-bench [PRESSES]
#include "BenchFolder.h"
#include "BenchSupport.h"
#include "SimLine.h"
#include "console/Form1.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"
#include "serial/ComPort.h"
#include "serial/Exchange.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The Run with the 250 ms controller and its status request take about 2 s; later presses land while
// the console polls.
constexpr int LatestPressMs = 2500;
// The same moments in every run, so that runs compare.
constexpr unsigned Seed = 1;
// A press moment that the event loop reached later than this found the window's thread busy.
constexpr double BusyAfterMs = 5;

struct TController {
  const char* Name;
  unsigned DelayMs;
  double MedianGoalMs;
  double WorstGoalMs;
  const char* WorstFloor; // what the worst press may wait for besides the pause
  double WorstFloorMs;
};

struct TPress {
  double Ms = 0;               // from the key press to the Stop frame at the controller
  double LateMs = 0;           // how late the event loop came to the moment chosen for the press
  bool DuringExchange = false; // a frame was under way, or its pause
};

struct TPresses {
  TSummary Times;
  TSummary FromChosen; // from the moment chosen for the press, the window's thread's delay included
  long DuringExchange = 0;
  long Busy = 0; // press moments the window's thread reached late
  double WorstLateMs = 0;
};

class TStopBench {
public:
  TStopBench(TForm1& form, const TSimLine& sim)
      : Form(form), Sim(sim), Run(Find<QAbstractButton>("BtnRun")), Speed(Find<QLineEdit>("EditWorkSpeed"))
  {
  }

  // One press: Run, the event loop for a random span, then Esc in the speed field.
  TPress PressDuringRun()
  {
    QTest::mouseClick(&Run, Qt::LeftButton); // returns at the Run's end or after the answer timeout, polling on
    Speed.setFocus();
    const std::chrono::milliseconds span(Span(Random));
    const auto chosen = TBenchClock::now() + span;
    RunEventLoopFor(span);
    if (!Speed.hasFocus())
      throw std::runtime_error("EditWorkSpeed lost the focus");
    TPress press;
    press.DuringExchange = Form.Exchange->WorkerRunning();
    const auto start = TBenchClock::now();
    press.LateMs = MsBetween(chosen, start);
    QTest::keyClick(&Speed, Qt::Key_Escape); // runs the Stop handler before it returns
    EndExchange(Form);
    press.Ms = MsBetween(start, TrafficSince(Sim, TSimTraffic::TDirection::Received, start, 1, CmdStop).front());
    return press;
  }

  TPresses Measure(long count)
  {
    PressDuringRun(); // warm-up: first use of every path
    TPresses result;
    std::vector<double> times, fromChosen;
    for (long i = 0; i < count; ++i) {
      const TPress press = PressDuringRun();
      times.push_back(press.Ms);
      fromChosen.push_back(press.LateMs + press.Ms);
      result.DuringExchange += press.DuringExchange;
      result.Busy += press.LateMs > BusyAfterMs;
      result.WorstLateMs = std::max(result.WorstLateMs, press.LateMs);
    }
    result.Times = Summarise(times);
    result.FromChosen = Summarise(fromChosen);
    return result;
  }

private:
  template <class T>
  T& Find(const char* name)
  {
    T* widget = Form.findChild<T*>(name);
    if (!widget)
      throw std::runtime_error(std::string(name) + " is missing");
    return *widget;
  }

  TForm1& Form;
  const TSimLine& Sim;
  QAbstractButton& Run;
  QLineEdit& Speed;
  std::mt19937 Random{Seed};
  std::uniform_int_distribution<int> Span{0, LatestPressMs};
};

// Prints the figures beside their floors and goals; true when both goals are met.
bool Report(const TController& controller, const TPresses& presses, long count)
{
  const double pause = TComPort::WritePauseMs;
  const double wire = WireMs(CommandBytes, LineBaud);
  const TSummary& t = presses.Times;
  const bool medianMet = t.Median <= controller.MedianGoalMs;
  const bool worstMet = t.Worst <= controller.WorstGoalMs;
  std::printf("%s: Esc to the Stop frame at the controller: median %6.2f ms, worst %6.2f ms (a worker ran at %ld of "
              "%ld presses)\n",
              controller.Name, t.Median, t.Worst, presses.DuringExchange, count);
  std::printf("  median: floor %.0f ms (the pause) + %.2f ms for the frame on the wire; goal at most %.0f ms: %s\n",
              pause, wire, controller.MedianGoalMs, Verdict(medianMet));
  std::printf("  worst:  floor %.4g ms (%s) + %.0f ms (the pause) + %.2f ms for the frame on the wire; goal at most "
              "%.0f ms: %s\n",
              controller.WorstFloorMs, controller.WorstFloor, pause, wire, controller.WorstGoalMs, Verdict(worstMet));
  std::printf("  the window's thread was busy at %ld of the %ld moments chosen for a press, up to %.0f ms: a real key "
              "waits for it; from the chosen moment to the Stop frame: median %.2f ms, worst %.2f ms\n",
              presses.Busy, count, presses.WorstLateMs, presses.FromChosen.Median, presses.FromChosen.Worst);
  return medianMet && worstMet;
}

} // namespace

static int Body(int argc, char** argv)
{
  const long presses = ArgumentOr(argc, argv, 1, 100, "[PRESSES]");
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  TSimLine sim{{0}};
  TBenchFolder folder;
  const std::unique_ptr<TForm1> form = OpenConsoleOn(sim, folder);
  form->activateWindow();
  if (!QTest::qWaitForWindowActive(form.get()))
    throw std::runtime_error("the window did not become active");
  TStopBench bench(*form, sim);

  const double inFlight = 2 * WireMs(CommandBytes, LineBaud); // a frame and its answer, no turnaround
  const TController controllers[] = {
      {"quick controller", 0, 55, 105, "one answer in flight", inFlight},
      {"controller answering in 250 ms", 250, 200, 360, "the answer timeout",
       static_cast<double>(TCommonDatas::AnswerTimeout)},
  };
  std::printf("%ld presses of Esc in EditWorkSpeed for each controller, after one warm-up, each 0..%d ms after a "
              "click on Run (seed %u)\n",
              presses, LatestPressMs, Seed);
  std::printf("simulator on a pseudo-terminal at %s, wire time modelled: the Stop frame arrives when the simulator "
              "has its last byte\n",
              sim.LineSettings().Text().c_str());
  bool met = true;
  for (const TController& controller : controllers) {
    TSimFaults faults;
    faults.DelayMs = controller.DelayMs;
    sim.SetFaults(faults);
    met = Report(controller, bench.Measure(presses), presses) && met;
  }
  return met ? 0 : 1;
}

int main(int argc, char** argv)
{
  return RunCatching(Body, argc, argv);
}
