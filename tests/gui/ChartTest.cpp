#include "FormSpeedChart.h"
#include "MessageBox.h"
#include "TempDir.h"

#include <QChartView>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QXYSeries>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
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

  // One answer a second, from second `from` up to `to`.
  void Add(int from, int to)
  {
    for (int s = from; s < to; ++s)
      Form.AddPoint(StartMs + s * 1000, s * 10.0, s);
  }

  // How many points each series draws, and the second of the newest.
  std::vector<int> Drawn() const
  {
    std::vector<int> drawn;
    for (QAbstractSeries* series : Form.findChild<QChartView*>("ChartSpeed")->chart()->series()) {
      const auto* xy = static_cast<QXYSeries*>(series);
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

  void ClickPause() { QTest::mouseClick(Form.findChild<QPushButton*>("BtnChartPause"), Qt::LeftButton); }

  TFormSpeedChart Form;
  std::vector<std::string> Messages;
};

TEST_F(ChartTest, SeriesFollowTheSpanThePauseAndTheWindow)
{
  Add(0, 30);
  ExpectDrawn({30, 29, 30, 29}); // "1 min" at first
  Form.SetSpan(Span10s);
  ExpectDrawn({11, 29, 11, 29});
  Add(30, 35);
  ExpectDrawn({11, 34, 11, 34});

  ClickPause();
  Add(35, 40);
  ExpectDrawn({11, 34, 11, 34});
  ClickPause();
  ExpectDrawn({11, 39, 11, 39});

  Form.hide();
  Add(40, 45);
  ExpectDrawn({11, 39, 11, 39});
  Form.show();
  ExpectDrawn({11, 44, 11, 44});

  Form.SetSpan(99); // a span remembered by another version is ignored
  Form.SetSpan(SpanAll);
  EXPECT_EQ(Form.Span(), SpanAll);
  ExpectDrawn({45, 44, 45, 44});

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

TEST_F(ChartTest, SavesTheHistoryAndThePicture)
{
  TTempDir dir;
  Add(0, 3);
  ASSERT_TRUE(Form.SaveCsv(QString::fromStdString(dir.Path() + "/speed.csv")));
  std::ifstream csv(dir.Path() + "/speed.csv");
  std::vector<std::string> lines;
  for (std::string line; std::getline(csv, line);)
    lines.push_back(line.substr(line.find(',')));
  EXPECT_EQ(lines, (std::vector<std::string>{",output_rpm,revolutions", ",0,0", ",10,1", ",20,2"}));

  ASSERT_TRUE(Form.SavePng(QString::fromStdString(dir.Path() + "/speed.png")));
  EXPECT_FALSE(QImage(QString::fromStdString(dir.Path() + "/speed.png")).isNull());

  const std::string missing = dir.Path() + "/missing/speed.csv";
  EXPECT_FALSE(Form.SaveCsv(QString::fromStdString(missing)));
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find(missing), std::string::npos) << Messages[0];
}

} // namespace
