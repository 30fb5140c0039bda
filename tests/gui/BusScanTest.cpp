// The bus scan in the real window against the simulator: what it finds, how it ends, and the line
// it holds meanwhile.
#include "ExtrasFixture.h"
#include "dialogs/FormAdress.h"

#include <QAction>
#include <QListWidget>
#include <QSpinBox>

#include <algorithm>

namespace {

using namespace std::chrono_literals;

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

// A whole scan, to its last address: controllers at both ends of the bus are listed, the scan's
// frames are the line's traffic in the counters, the bottom line says who holds the line meanwhile,
// and the progress ends at "done".
TEST_F(ExtrasTest, WholeBusScanFindsBothEndsAndCountsItsFrames)
{
  TSimLine bus{{0x00, 0xFE}};
  bus.Open();
  Data.Link("COM2", bus.DevicePath());
  Form->ComPort->SetPortNumber(2);
  ASSERT_TRUE(Form->ComPort->IsOpen());
  Form->Datas->Counters.Reset();
  TFormBusScan& scan = StartScan();
  EXPECT_EQ(Label("PanelPortProp"), TFormBusScan::BottomLineText);
  auto* found = scan.findChild<QListWidget*>("ListScanFound");
  ASSERT_TRUE(WaitFor([&] { return !scan.Scanning(); }, 60s));
  ASSERT_EQ(found->count(), 2);
  EXPECT_TRUE(found->item(0)->text().startsWith("$00 "));
  EXPECT_TRUE(found->item(1)->text().startsWith("$FE ")) << found->item(1)->text().toStdString();
  EXPECT_EQ(scan.findChild<QProgressBar*>("ScanProgress")->text(), "done  100%");
  const TLinkCounters& counters = Form->Datas->Counters;
  EXPECT_EQ(counters.FramesSent, 257u) << "every address asked once, the two that answered once more";
  EXPECT_EQ(counters.AnswersReceived, 4u);
  EXPECT_NE(Label("PanelPortProp"), TFormBusScan::BottomLineText) << "the port is the window's again";
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
    r.Do();
    EXPECT_TRUE(Messages.empty()) << r.Name << ": a box would take the Esc that cancels the scan";
    EXPECT_EQ(LogLines().back(), TFormBusScan::RunningText) << r.Name;
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

// Cancel, or Esc anywhere in the scan's own window, ends the scan; the port is left as it was found.
TEST_F(ExtrasTest, CancelledBusScanLeavesThePortAsItFoundIt)
{
  const struct {
    bool Open;
    bool ByEsc;
  } cases[] = {{false, false}, {true, false}, {true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Open ? "open" : "closed") + (c.ByEsc ? ", Esc" : ", Cancel"));
    Click(c.Open ? "BtnOpenPort" : "BtnClosePort");
    ASSERT_EQ(Form->ComPort->IsOpen(), c.Open);
    TFormBusScan& scan = StartScan();
    if (c.ByEsc) {
      QTest::keyClick(scan.findChild<QPushButton*>("BtnScanCancel"), Qt::Key_Escape);
    } else {
      QTest::mouseClick(scan.findChild<QPushButton*>("BtnScanCancel"), Qt::LeftButton);
    }
    ASSERT_TRUE(WaitFor([&] { return !scan.Scanning(); }));
    EXPECT_EQ(Form->ComPort->IsOpen(), c.Open);
    EXPECT_EQ(Find("BtnClosePort")->isEnabled(), c.Open);
    EXPECT_EQ(StopsSent(), 0u) << "Esc here is the scan's, not the motor's";
  }
}

} // namespace
