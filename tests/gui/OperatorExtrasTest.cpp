// The operator's extras in the real window against the simulator: the stop key, parameter files,
// the chart's points, the saved log and the remembered window.
#include "ConsoleFixture.h"
#include "Exchange.h"
#include "FormAdress.h"
#include "FormBusScan.h"
#include "FormSpeedChart.h"
#include "LogExport.h"
#include "OperatorExtras.h"
#include "ParameterFile.h"

#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace std::chrono_literals;
constexpr std::uint8_t StopCode = 0x52;

std::vector<std::string> FileLines(const std::string& path)
{
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

class ExtrasTest : public ConsoleTest {
protected:
  std::size_t StopsSent() const
  {
    std::size_t stops = 0;
    for (const auto& frame : FramesSeen())
      stops += frame.size() > 2 && frame[2] == StopCode;
    return stops;
  }
  bool Idle() const { return !Form->Exchange->WorkerRunning(); }
  TOperatorExtras& Extras() const { return Form->OperatorExtras(); }
};

TEST_F(ExtrasTest, EscStopsTheMotorFromAFieldBeingEditedButNotFromADialog)
{
  // A dialog or a message box has the keyboard: Esc there is its business.
  QMessageBox box(QMessageBox::Warning, "Ozmet", "a question", QMessageBox::Ok, Form.get());
  box.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
  QTest::keyClick(&box, Qt::Key_Escape);
  EXPECT_FALSE(box.isVisible()) << "the box took its Esc";
  Form->MmSetNewAddressClick();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form->FormAdress));
  QTest::keyClick(Form->FormAdress, Qt::Key_Escape);
  Form->FormAdress->hide();
  const std::vector<std::string> log = LogLines();
  EXPECT_EQ(std::count(log.begin(), log.end(), "Motor stop"), 0);
  Click("BtnOpenPort");

  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return PollTimerActive(); }));
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  auto* speed = Find<QLineEdit>("EditWorkSpeed");
  speed->setFocus();
  QTest::keyClicks(speed, "12");
  QTest::keyClick(speed, Qt::Key_Escape);
  ASSERT_TRUE(WaitFor([&] { return StopsSent() == 1 && !PollTimerActive(); }, 10s));
  EXPECT_EQ(Label("lblCurrentSpeed"), "Current speed 0.00 rpm");
}

TEST_F(ExtrasTest, ParameterFileFillsBothPanelsAsTypingWouldAndABadOneChangesNothing)
{
  Type("EditMotorAddress", "$07");
  Type("EditGearRatio", "2.5");
  Type("EditWorkSpeed", "300");
  Type("EditWorkAccel", "12");
  ClickChoice(Find("rgrWorkDirection")->findChildren<QRadioButton*>().at(1));
  const std::string path = Data.Path() + "/machine.ini";
  ASSERT_TRUE(Extras().SaveParameters(QString::fromStdString(path)));
  Click("BtnMotorCancel");
  Click("BtnWorkCancel");
  const std::size_t framesBefore = Sim.FramesReceived();

  ASSERT_TRUE(Extras().OpenParameters(QString::fromStdString(path)));
  EXPECT_EQ(Find<QLineEdit>("EditMotorAddress")->text(), "$07");
  EXPECT_EQ(Find<QLineEdit>("EditGearRatio")->text(), "2.5");
  EXPECT_EQ(Find<QLineEdit>("EditWorkSpeed")->text(), "300");
  EXPECT_EQ(Find<QLineEdit>("EditWorkAccel")->text(), "12");
  EXPECT_TRUE(Find("BtnMotorCancel")->isEnabled());
  EXPECT_TRUE(Find("BtnWorkCancel")->isEnabled());
  EXPECT_EQ(Sim.FramesReceived(), framesBefore) << "nothing is sent before Apply or Run";

  TWorkFields tooFast;
  tooFast.Speed = "99999999";
  std::ofstream(Data.Path() + "/bad.ini") << TParameterFile::Write(TMotorFields{}, tooFast);
  EXPECT_FALSE(Extras().OpenParameters(QString::fromStdString(Data.Path() + "/bad.ini")));
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_NE(Messages[0].find("line 8: speed"), std::string::npos) << Messages[0];
  EXPECT_EQ(Find<QLineEdit>("EditMotorAddress")->text(), "$07") << "a refused file leaves the panels as they were";
}

TEST_F(ExtrasTest, ChartGetsAPointForEveryStatusAnswerAndItsCsvHoldsThem)
{
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Label("lblCurrentSpeed") == "Current speed 1020.00 rpm"; }, 10s));
  Click("BtnStop");
  ASSERT_TRUE(WaitFor([&] { return Idle() && !PollTimerActive(); }, 15s));
  const std::vector<std::string> log = LogLines();
  const auto statusLines = std::count(log.begin(), log.end(), "motor status");
  const TSpeedHistory& history = Form->OperatorExtras().SpeedChart().History();
  EXPECT_EQ(static_cast<long>(history.Size()), statusLines);

  const std::string csv = Data.Path() + "/chart.csv";
  ASSERT_TRUE(Extras().SpeedChart().SaveCsv(QString::fromStdString(csv)));
  const std::vector<std::string> rows = FileLines(csv);
  ASSERT_EQ(rows.size(), history.Size() + 1);
  EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](const std::string& row) { return row.find(",1020,") != row.npos; }));
}

TEST_F(ExtrasTest, SavedLogHasEveryLineInOrderWithIncreasingTimesAndTheCounters)
{
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return Idle() && LogLines().size() > 12; }));
  Click("BtnStop");
  ASSERT_TRUE(WaitFor([&] { return Idle() && !PollTimerActive(); }, 15s));
  const std::vector<std::string> shown = LogLines();
  for (const auto format : {TLogExport::TFormat::Text, TLogExport::TFormat::Csv}) {
    const bool csv = format == TLogExport::TFormat::Csv;
    const std::string path = Data.Path() + (csv ? "/log.csv" : "/log.txt");
    ASSERT_TRUE(Extras().SaveLog(QString::fromStdString(path), format));
    std::vector<std::string> lines = FileLines(path);
    ASSERT_GE(lines.size(), shown.size() + 2);
    EXPECT_NE(lines[1].find("frames sent "), std::string::npos) << lines[1];
    lines.erase(lines.begin(), lines.end() - static_cast<long>(shown.size()));
    std::string previous;
    for (std::size_t i = 0; i < shown.size(); ++i) {
      const std::string time = lines[i].substr(0, 23);
      EXPECT_GE(time, previous);
      previous = time;
      const std::string text = csv ? "\"" + shown[i] + "\"" : shown[i];
      EXPECT_EQ(lines[i].substr(lines[i].size() - text.size()), text) << lines[i];
    }
  }
}

TEST_F(ExtrasTest, DailyFileKeepsEveryLineThroughAClearOfTheView)
{
  Extras().SetDailyLogFile(true);
  Form->AppendLog("before the clear", TLogColour::Blue, false);
  Click("BtnClearLog");
  Form->AppendLog("after the clear", TLogColour::Red, false);
  Extras().SetDailyLogFile(false);
  Form->AppendLog("not written", TLogColour::Blue, false);
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"after the clear", "not written"}));

  const std::filesystem::path folder = std::string(std::getenv("XDG_DATA_HOME")) + "/ozmet/logs";
  std::vector<std::filesystem::path> days(std::filesystem::directory_iterator(folder), {});
  std::sort(days.begin(), days.end()); // a file a day, named by its date
  std::vector<std::string> written;
  for (const auto& day : days)
    for (const std::string& line : FileLines(day))
      written.push_back(line.substr(24)); // after the time and its blank
  ASSERT_GE(written.size(), 2u);
  EXPECT_EQ(std::vector<std::string>(written.end() - 2, written.end()),
            (std::vector<std::string>{"before the clear", "after the clear"}));
}

TEST_F(ExtrasTest, WindowPlaceCollapseAndChartSpanComeBackNextRun)
{
  Form->resize(700, 520);
  Click("SpeedButton1");
  Extras().SpeedChart().SetSpan(2);
  Form->close();
  StartWindow();
  Form->RestoreSettings();
  EXPECT_FALSE(Form->Expanded());
  EXPECT_EQ(Form->SavedWidth(), 700);
  EXPECT_EQ(Form->height(), 520);
  EXPECT_EQ(Extras().SpeedChart().Span(), 2);
}

TEST_F(ExtrasTest, BusScanListsTheControllerStopsWithinAnAddressAndGivesItsAddressToThePanel)
{
  Extras().MmScanBusClick();
  TFormBusScan& scan = *Extras().BusScanWindow();
  Click("BtnRun");
  ASSERT_TRUE(WaitFor([&] { return PollTimerActive(); }));
  scan.BtnScanStartClick();
  EXPECT_EQ(Messages, std::vector<std::string>{TFormBusScan::RefusedText});
  EXPECT_FALSE(scan.Scanning());
  Click("BtnStop");
  ASSERT_TRUE(WaitFor([&] { return Idle() && !PollTimerActive(); }, 15s));

  QTest::mouseClick(scan.findChild<QPushButton*>("BtnScanStart"), Qt::LeftButton);
  auto* found = scan.findChild<QListWidget*>("ListScanFound");
  ASSERT_TRUE(WaitFor([&] { return found->count() == 1 && scan.findChild<QProgressBar*>("ScanProgress")->value() >= 4; }));
  const std::size_t framesAtCancel = Sim.FramesReceived();
  QTest::mouseClick(scan.findChild<QPushButton*>("BtnScanCancel"), Qt::LeftButton);
  ASSERT_TRUE(WaitFor([&] { return !scan.Scanning() && Find("BtnClosePort")->isEnabled(); }));
  EXPECT_LE(Sim.FramesReceived(), framesAtCancel + 1) << "at most the request already under way";
  EXPECT_TRUE(found->item(0)->text().startsWith("$00   Current speed 0.00 rpm")) << found->item(0)->text().toStdString();

  Type("EditMotorAddress", "$05");
  Click("BtnMotorCancel");
  QTest::mouseClick(scan.findChild<QPushButton*>("BtnScanUse"), Qt::LeftButton);
  EXPECT_EQ(Find<QLineEdit>("EditMotorAddress")->text(), "$00");
  EXPECT_TRUE(Find("BtnMotorCancel")->isEnabled()) << "as typing would: the panel is edited";
}

} // namespace
