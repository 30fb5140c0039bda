#include "ConsoleFixture.h"
#include "TempDir.h"
#include "bus/BusList.h"
#include "console/BusChartLines.h"
#include "console/Form1.h"
#include "console/FormSpeedChart.h"
#include "console/OperatorExtras.h"
#include "widgets/MessageBox.h"

#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QImage>
#include <QLegend>
#include <QLegendMarker>
#include <QPushButton>
#include <QTest>
#include <QValueAxis>
#include <QXYSeries>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr std::int64_t StartMs = 1'700'000'000'000;
enum { Span10s, Span1min, Span10min, SpanAll };

class ChartTest : public ::testing::Test {
protected:
  ChartTest()
  {
    SetMessageRecorder([this](const std::string& text) { Messages.push_back(text); });
    Form.show();
  }
  ~ChartTest() override { SetMessageRecorder({}); }

  // One answer a second, from second `from` up to `to`; and from $03 on the bus, when it is charted,
  // ten times as fast.
  void Add(int from, int to)
  {
    for (int s = from; s < to; ++s) {
      Form.AddPoint(StartMs + s * 1000, s * 10.0, s);
      Form.BusLines().AddPoint(3, StartMs + s * 1000, s * 100.0);
    }
  }

  // How many points each line of answers draws, and the second of the newest.
  std::vector<int> Drawn() const
  {
    std::vector<int> drawn;
    for (QAbstractSeries* series : Form.findChild<QChartView*>("ChartSpeed")->chart()->series()) {
      const auto* xy = static_cast<QXYSeries*>(series);
      if (xy->count() == 0 || xy->name() == "Run" || xy->name() == "Stop")
        continue;
      drawn.push_back(int(xy->count()));
      drawn.push_back(xy->count() ? int((xy->at(xy->count() - 1).x() - double(StartMs)) / 1000) : -1);
    }
    return drawn;
  }

  // The chart draws at most once a second: waits for it, with a deadline.
  void ExpectDrawn(const std::vector<int>& expected) const
  {
    EXPECT_TRUE(QTest::qWaitFor([&] { return Drawn() == expected; }, 3000));
    EXPECT_EQ(Drawn(), expected);
  }

  // The first and the last second of each line named so, in the chart's order; for the markers,
  // their two ends.
  std::vector<std::pair<double, double>> Lines(const QString& name) const
  {
    std::vector<std::pair<double, double>> lines;
    for (QAbstractSeries* series : Form.findChild<QChartView*>("ChartSpeed")->chart()->series()) {
      const auto* xy = static_cast<QXYSeries*>(series);
      if (xy->name() == name && xy->count())
        lines.emplace_back((xy->at(0).x() - double(StartMs)) / 1000, (xy->at(xy->count() - 1).x() - double(StartMs)) / 1000);
    }
    return lines;
  }
  void ExpectLines(const QString& name, const std::vector<std::pair<double, double>>& expected) const
  {
    EXPECT_TRUE(QTest::qWaitFor([&] { return Lines(name) == expected; }, 3000));
    EXPECT_EQ(Lines(name), expected) << name.toStdString();
  }

  void ClickPause() { QTest::mouseClick(Form.findChild<QPushButton*>("BtnChartPause"), Qt::LeftButton); }

  TFormSpeedChart Form;
  std::vector<std::string> Messages;
};

// The panel's speed and counter, then a bus controller's speed: each line's count and newest second.
TEST_F(ChartTest, SeriesFollowTheSpanThePauseAndTheWindow)
{
  Form.BusLines().Choose(TBusController(3), true);
  Add(0, 30);
  ExpectDrawn({30, 29, 30, 29, 30, 29}); // "1 min" at first
  Form.SetSpan(Span10s);
  ExpectDrawn({11, 29, 11, 29, 11, 29});
  Add(30, 35);
  ExpectDrawn({11, 34, 11, 34, 11, 34});

  ClickPause();
  Add(35, 40);
  ExpectDrawn({11, 34, 11, 34, 11, 34});
  ClickPause();
  ExpectDrawn({11, 39, 11, 39, 11, 39});

  Form.hide();
  Add(40, 45);
  ExpectDrawn({11, 39, 11, 39, 11, 39});
  Form.show();
  ExpectDrawn({11, 44, 11, 44, 11, 44});

  Form.SetSpan(99); // a span remembered by another version is ignored
  Form.SetSpan(SpanAll);
  EXPECT_EQ(Form.Span(), SpanAll);
  ExpectDrawn({45, 44, 45, 44, 45, 44});

  Form.hide();
  Add(45, 20000);
  Form.show();
  const std::vector<int> all = Drawn();
  EXPECT_LE(all[0], 2000); // thinned, not a point an answer
  EXPECT_EQ(all[1], 19999);
  Add(20000, 20001);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Drawn()[1] == 20000; }, 3000));
  EXPECT_EQ(Form.History().Size(), 20001u);
  EXPECT_TRUE(Messages.empty());
}

// Polling stopped for a while: the lines break there, a second more than two poll periods without an
// answer being the least gap; drawn as answers come and drawn anew, thinned, over a long span.
TEST_F(ChartTest, NoLineAcrossATimeWithoutAnswers)
{
  const TBusController conveyor(3, "conveyor");
  Form.BusLines().Choose(conveyor, true);
  Form.SetSpan(SpanAll);
  Add(0, 10);
  Add(70, 80);
  Form.AddPoint(StartMs + 80'000, 800, 80); // a second after: no gap
  Form.AddPoint(StartMs + 81'001, 810, 81);
  ExpectLines("Output speed $00", {{0, 9}, {70, 80}, {81.001, 81.001}});
  ExpectLines("Revolution counter $00", {{0, 9}, {70, 80}, {81.001, 81.001}});
  ExpectLines("$03 conveyor", {{0, 9}, {70, 79}});
  Form.SetSpan(Span1min);
  ExpectLines("Output speed $00", {{70, 80}, {81.001, 81.001}});
  ExpectLines("$03 conveyor", {{70, 79}});
  // The bus round goes on after the panel's poll stopped: the span ends at its answer.
  Form.BusLines().AddPoint(3, StartMs + 150'000, 1500);
  ExpectLines("$03 conveyor", {{150, 150}});
  ExpectLines("Output speed", {});
  const auto* rpm = static_cast<QValueAxis*>(Form.findChild<QChartView*>("ChartSpeed")->chart()->axes(Qt::Vertical)[0]);
  EXPECT_GE(rpm->max(), 1500) << "fitted to every line drawn";
  Form.SetSpan(SpanAll);
  ExpectLines("Output speed $00", {{0, 9}, {70, 80}, {81.001, 81.001}});
  ExpectLines("$03 conveyor", {{0, 9}, {70, 79}, {150, 150}});
  Form.BusLines().Choose(conveyor, false);
  ExpectLines("$03 conveyor", {});
  ExpectLines("Output speed $00", {{0, 9}, {70, 80}, {81.001, 81.001}});

  Form.hide();
  Add(100, 5000);
  Add(6000, 9000);
  Form.show();
  ExpectLines("Output speed $00", {{0, 9}, {70, 80}, {81.001, 81.001}, {100, 4999}, {6000, 8999}});
  const std::vector<int> lines = Drawn(); // a count and a second a line
  int drawn = 0;
  for (std::size_t i = 0; i < lines.size(); i += 2)
    drawn += lines[i];
  EXPECT_LE(drawn, 2 * 800) << "thinned across the gaps";
  Add(9000, 9002);
  ExpectLines("Output speed $00", {{0, 9}, {70, 80}, {81.001, 81.001}, {100, 4999}, {6000, 9001}});
}

// The panel moved to another controller without a gap in its answers: a line of that controller's own, named
// after it, never a drop from one controller's speed to the other's; drawn so live and when drawn anew.
TEST_F(ChartTest, APanelMovedToAnotherControllerStartsALineOfItsOwn)
{
  Form.SetSpan(SpanAll);
  for (int s = 0; s < 20; ++s)
    Form.AddPoint(StartMs + s * 1000, s < 10 ? 1020 : 0, s % 10, s < 10 ? 0 : 1);
  for (const bool drawnAnew : {false, true}) {
    if (drawnAnew) {
      Form.hide();
      Form.show();
    }
    ExpectLines("Output speed $00", {{0, 9}});
    ExpectLines("Output speed $01", {{10, 19}});
    ExpectLines("Revolution counter $01", {{10, 19}});
  }
  QStringList legend;
  QChart* chart = Form.findChild<QChartView*>("ChartSpeed")->chart();
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return std::ranges::any_of(chart->legend()->markers(), &QLegendMarker::isVisible); }, 3000));
  for (QLegendMarker* marker : chart->legend()->markers())
    if (marker->isVisible() && marker->label().startsWith("Output speed"))
      legend.append(marker->label());
  EXPECT_EQ(legend, (QStringList{"Output speed $00", "Output speed $01"}));
}

TEST_F(ChartTest, RunAndStopMarkedWhereTheySpanTheSpeedAxis)
{
  Form.SetSpan(Span10s);
  Form.AddMarker(StartMs - 800, true); // sent before the first answer came
  Add(0, 20);
  Form.AddMarker(StartMs + 5'000, true); // left the span
  Form.AddMarker(StartMs + 12'000, true);
  Form.AddMarker(StartMs + 15'000, true, false); // its frame went unanswered: apart, and dashed
  Form.AddMarker(StartMs + 21'500, false); // after the last answer: polling stopped with it
  ExpectLines("Run", {{12, 12}});
  ExpectLines("Stop", {{21.5, 21.5}});
  ExpectLines("Run unanswered", {{15, 15}});
  Form.SetSpan(SpanAll);
  ExpectLines("Run", {{12, 12}, {5, 5}, {-0.8, -0.8}});
}

TEST_F(ChartTest, EmptyChartShowsTheSpanUpToNow)
{
  auto* axis = static_cast<QDateTimeAxis*>(Form.findChild<QChartView*>("ChartSpeed")->chart()->axes(Qt::Horizontal)[0]);
  for (const auto& [span, ms] : {std::pair{Span10s, 10'000}, std::pair{Span10min, 600'000}, std::pair{SpanAll, 60'000}}) {
    Form.SetSpan(span);
    EXPECT_EQ(axis->min().msecsTo(axis->max()), ms);
    EXPECT_LE(std::abs(axis->max().msecsTo(QDateTime::currentDateTime())), 10'000);
  }
}

TEST_F(ChartTest, SavesTheHistoryAndThePicture)
{
  TTempDir dir;
  Add(0, 3);
  Form.AddMarker(StartMs + 500, true);
  Form.AddMarker(StartMs + 1500, false, false);
  Form.AddMarker(StartMs + 5000, false); // after the last answer
  ASSERT_TRUE(Form.SaveCsv(QString::fromStdString(dir.Path() + "/speed.csv")));
  std::ifstream csv(dir.Path() + "/speed.csv");
  std::vector<std::string> lines;
  for (std::string line; std::getline(csv, line);)
    lines.push_back(line.substr(line.find(',')));
  EXPECT_EQ(lines, (std::vector<std::string>{",output_rpm,revolutions,event,address", ",0,0,,$00", ",,,Run,",
                                             ",10,1,,$00", ",,,Stop unanswered,", ",20,2,,$00", ",,,Stop,"}));

  ASSERT_TRUE(Form.SavePng(QString::fromStdString(dir.Path() + "/speed.png")));
  EXPECT_FALSE(QImage(QString::fromStdString(dir.Path() + "/speed.png")).isNull());

  // A name typed without its extension gets the type's.
  ASSERT_TRUE(Form.SaveCsv(QString::fromStdString(dir.Path() + "/typed")));
  EXPECT_EQ(std::filesystem::file_size(dir.Path() + "/typed.csv"), std::filesystem::file_size(dir.Path() + "/speed.csv"));
  ASSERT_TRUE(Form.SavePng(QString::fromStdString(dir.Path() + "/typed")));
  EXPECT_FALSE(QImage(QString::fromStdString(dir.Path() + "/typed.png")).isNull());
  EXPECT_EQ(std::filesystem::path(Form.SaveFolder().toStdString()), std::filesystem::path(dir.Path()));
  EXPECT_TRUE(Messages.empty());

  const std::string missing = dir.Path() + "/missing/speed.csv";
  EXPECT_FALSE(Form.SaveCsv(QString::fromStdString(missing)));
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find(missing), std::string::npos) << Messages[0];
}

// The chart is the operator's window too: Esc there stops the motor, Run and Stop are marked on it,
// and its place comes back next run.
class ChartInWindowTest : public ConsoleTest {};

TEST_F(ChartInWindowTest, EscInTheChartStopsTheMotorAndTheChartKeepsItsPlace)
{
  TFormSpeedChart& chart = Form->OperatorExtras().SpeedChart();
  Click("BtnOpenPort");
  Click("BtnRun");
  const auto sent = [&](std::uint8_t code) {
    return std::ranges::count_if(FramesSeen(), [code](const auto& frame) { return frame.size() > 2 && frame[2] == code; });
  };
  // The Run's frames may still be going out (a slow build): an Esc before its last would rightly
  // leave it unsent and unmarked.
  ASSERT_TRUE(WaitFor([&] { return PollTimerActive() && sent(0x51) == 1; }));
  Form->OperatorExtras().MmSpeedChartClick();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&chart));
  QTest::keyClick(chart.findChild<QPushButton*>("BtnChartPause"), Qt::Key_Escape);
  const auto stops = [&] { return sent(0x52); };
  ASSERT_TRUE(WaitFor([&] { return stops() == 1 && !PollTimerActive(); }, std::chrono::seconds(10)));
  const auto marked = [&](const char* name) {
    for (QAbstractSeries* series : chart.findChild<QChartView*>("ChartSpeed")->chart()->series())
      if (series->name() == name && static_cast<QXYSeries*>(series)->count() == 2)
        return true;
    return false;
  };
  EXPECT_TRUE(WaitFor([&] { return marked("Run") && marked("Stop"); }));

  chart.setGeometry(120, 140, 640, 380);
  Form->close();
  StartWindow();
  Form->RestoreSettings();
  EXPECT_EQ(Form->OperatorExtras().SpeedChart().geometry(), QRect(120, 140, 640, 380));
}

// A mark says what the controller heard: a Run whose frames went unanswered before it, so that it
// never went out, is not marked at all; a Stop that went out unanswered is marked apart.
TEST_F(ChartInWindowTest, OnlyFramesThatWentOutAreMarkedAndAnUnansweredOneApart)
{
  TFormSpeedChart& chart = Form->OperatorExtras().SpeedChart();
  chart.SetSpan(SpanAll);
  Form->OperatorExtras().MmSpeedChartClick();
  TSimFaults silent;
  silent.Silent = true;
  Sim.SetFaults(silent);
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return !Form->DataTransferring() || Form->Datas->Counters.AnswersMissing > 0; }));
  Click("BtnStop");
  ASSERT_TRUE(WaitFor([&] { return Form->Datas->Counters.AnswersMissing >= 2; }));
  const auto marks = [&](const char* name) {
    int count = 0;
    for (QAbstractSeries* series : chart.findChild<QChartView*>("ChartSpeed")->chart()->series())
      count += series->name() == name && static_cast<QXYSeries*>(series)->count() == 2;
    return count;
  };
  EXPECT_TRUE(WaitFor([&] { return marks("Stop unanswered") == 1; }));
  EXPECT_EQ(marks("Run") + marks("Run unanswered"), 0) << "the Run never went out";
  EXPECT_TRUE(std::ranges::none_of(FramesSeen(), [](const auto& frame) { return frame.at(2) == 0x51; }));
}

} // namespace
