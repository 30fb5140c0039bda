// The operator's extras in the real window against the simulator: the stop key, parameter files,
// the chart's points, the saved log and the remembered window.
#include "ConsoleFixture.h"
#include "Exchange.h"
#include "ComPort.h"
#include "FormAdress.h"
#include "FormBusScan.h"
#include "FormByteLen.h"
#include "FormSpeedChart.h"
#include "LogExport.h"
#include "OperatorExtras.h"
#include "ParameterFile.h"

#include <QAction>
#include <QComboBox>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace std::chrono_literals;
constexpr std::uint8_t StopCode = 0x52;
constexpr std::uint8_t StatusCode = 0x50;

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
  void SetBaud(const char* baud)
  {
    Form->mmPortParamClick();
    Form->FormByteLen->findChild<QComboBox*>("cbPortSpeed")->setCurrentText(baud);
    Form->FormByteLen->findChild<QPushButton*>("ButtonOK")->click();
  }
  // Opens the scan window and starts a scan; back once address 0 has had its turn.
  TFormBusScan& StartScan()
  {
    Extras().MmScanBusClick();
    TFormBusScan& scan = *Extras().BusScanWindow();
    QTest::mouseClick(scan.findChild<QPushButton*>("BtnScanStart"), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return scan.findChild<QProgressBar*>("ScanProgress")->value() >= 1; }));
    EXPECT_TRUE(scan.Scanning());
    return scan;
  }
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

// The time per address is shown as computed for the port's rate: at 2400 baud the request and the
// answer alone need 37.5 ms on the wire, more than the fixed 30 ms that fast lines get.
TEST_F(ExtrasTest, BusScanTimePerAddressFollowsTheRateAndTheControllerIsFound)
{
  const struct {
    std::uint32_t Baud;
    int Ms;
  } cases[] = {{2400, 58}, {115200, 30}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Baud);
    Sim.SetLineSettings({.Baud = c.Baud}); // the controller's own UART
    SetBaud(std::to_string(c.Baud).c_str());
    Extras().MmScanBusClick();
    auto* timeout = Extras().BusScanWindow()->findChild<QSpinBox*>("SpinScanTimeout");
    EXPECT_EQ(timeout->value(), c.Ms);
    TFormBusScan& scan = StartScan();
    EXPECT_FALSE(timeout->isEnabled());
    auto* found = scan.findChild<QListWidget*>("ListScanFound");
    ASSERT_TRUE(WaitFor([&] { return found->count() == 1; }));
    EXPECT_TRUE(found->item(0)->text().startsWith("$00")) << found->item(0)->text().toStdString();
    QTest::mouseClick(scan.findChild<QPushButton*>("BtnScanCancel"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !scan.Scanning(); }));
    scan.hide(); // shown again for the next rate, with the time computed for it
  }
  // The operator's own time stands for the rate it was set at.
  Extras().MmScanBusClick();
  auto* timeout = Extras().BusScanWindow()->findChild<QSpinBox*>("SpinScanTimeout");
  timeout->setValue(200);
  StartScan().Cancel();
  EXPECT_EQ(timeout->value(), 200);
}

TEST_F(ExtrasTest, WhileABusScanRunsCommandsAndThePortAreRefusedAndNothingElseIsSent)
{
  const std::size_t framesBefore = Sim.FramesReceived();
  TFormBusScan& scan = StartScan();
  const struct {
    const char* Name;
    std::function<void()> Do;
  } refused[] = {
      {"Run", [&] { Click("BtnRun"); }},
      {"Open port", [&] { Click("BtnOpenPort"); }},
      {"motor Apply", [&] { Click("BtnMotorApply"); }},
      {"operation Apply", [&] { Click("BtnWorkApply"); }},
      {"forward", [&] { Click("BtnRunRight"); }},
      {"backward", [&] { Click("BtnRunLeft"); }},
      {"new address", [&] { Form->findChild<QAction*>("MmSetNewAddress")->trigger(); }},
  };
  for (const auto& r : refused) {
    Messages.clear();
    r.Do();
    EXPECT_EQ(Messages, std::vector<std::string>{TFormBusScan::RunningText}) << r.Name;
  }
  EXPECT_TRUE(scan.Scanning());
  EXPECT_FALSE(Form->ComPort->IsOpen());
  EXPECT_FALSE(Form->FormAdress->isVisible());
  const std::vector<std::vector<std::uint8_t>> frames = FramesSeen();
  ASSERT_GT(frames.size(), framesBefore);
  for (auto frame = frames.begin() + static_cast<long>(framesBefore); frame != frames.end(); ++frame)
    EXPECT_TRUE(frame->size() == 4 && (*frame)[2] == StatusCode) << "only the scan's status requests";
  scan.Cancel();
}

TEST_F(ExtrasTest, EscDuringABusScanEndsItThenStopsTheMotor)
{
  StartScan();
  QTest::keyClick(Form.get(), Qt::Key_Escape);
  EXPECT_FALSE(Extras().BusScanWindow()->Scanning()) << "ended before the Stop went out";
  ASSERT_TRUE(WaitFor([&] { return StopsSent() == 1 && Idle(); }, 10s));
  EXPECT_TRUE(Form->ComPort->IsOpen());
  EXPECT_TRUE(Messages.empty()) << Messages.front();
  const std::vector<std::string> log = LogLines();
  const auto scanEnd = std::find_if(log.begin(), log.end(), [](auto& l) { return l.starts_with("Bus scan: "); });
  ASSERT_NE(scanEnd, log.end());
  EXPECT_TRUE(scanEnd->ends_with(", cancelled")) << *scanEnd;
  EXPECT_NE(std::find(scanEnd, log.end(), "Motor stop"), log.end()) << "the Stop after the scan's end";
}

TEST_F(ExtrasTest, BusScanLeavesThePortAsItFoundIt)
{
  for (const bool open : {false, true}) {
    SCOPED_TRACE(open ? "open" : "closed");
    Click(open ? "BtnOpenPort" : "BtnClosePort");
    ASSERT_EQ(Form->ComPort->IsOpen(), open);
    TFormBusScan& scan = StartScan();
    QTest::mouseClick(scan.findChild<QPushButton*>("BtnScanCancel"), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !scan.Scanning(); }));
    EXPECT_EQ(Form->ComPort->IsOpen(), open);
    EXPECT_EQ(Find("BtnClosePort")->isEnabled(), open);
  }
}

} // namespace
