#pragma once

#include "ComPort.h"
#include "ConsoleFixture.h"
#include "Exchange.h"
#include "FormBusScan.h"
#include "FormByteLen.h"
#include "OperatorExtras.h"

#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <cstdint>

inline constexpr std::uint8_t StopCode = 0x52;
inline constexpr std::uint8_t StatusCode = 0x50;

// The window against the simulator, with the operator's extras at hand.
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
