#pragma once

#include "ConsoleFixture.h"
#include "console/FormSequence.h"
#include "console/OperatorExtras.h"
#include "console/SequenceControl.h"
#include "dialogs/FormBusScan.h"
#include "dialogs/FormByteLen.h"
#include "serial/ComPort.h"
#include "serial/Exchange.h"

#include <QAction>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <cstdint>
#include <fstream>

inline constexpr std::uint8_t StopCode = 0x52;
inline constexpr std::uint8_t StatusCode = 0x50;
inline constexpr std::uint8_t RunCode = 0x51;

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
    // A scan is refused during an exchange; none starts before the click, which this thread runs next.
    EXPECT_TRUE(WaitFor([&] { return !Form->DataTransferring(); }));
    QTest::mouseClick(scan.findChild<QPushButton*>("BtnScanStart"), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return scan.findChild<QProgressBar*>("ScanProgress")->value() >= 1; }));
    EXPECT_TRUE(scan.Scanning());
    return scan;
  }
  TFormSequence& SequencePanel() const { return Extras().Sequence().Panel(); }
  // Writes the text as a sequence file in the data folder and opens it from the Sequence menu.
  void OpenSequence(const std::string& text)
  {
    const QString path = QString::fromStdString(Data.Path() + "/test.yaml");
    std::ofstream(path.toStdString()) << text;
    Extras().SetFileChooser([path](bool, const QString&, const QString&, const QString&, QString*) { return path; });
    Form->findChild<QAction*>("MmOpenSequence")->trigger();
  }
  // Into the panel's serial field, then Enter, as a barcode scanner types.
  void ScanUnit(const char* serial)
  {
    Form->findChild<QAction*>("MmRunSequence")->trigger();
    auto* edit = SequencePanel().findChild<QLineEdit*>("EditUnitSerial");
    QTest::keyClicks(edit, serial);
    QTest::keyClick(edit, Qt::Key_Return);
  }
  // The panel's verdict of the controller at that address as shown; empty until its run has ended.
  QString SequenceVerdict(std::uint8_t address) const
  {
    const auto* label = SequencePanel().findChild<QLabel*>(QString::asprintf("LblVerdict%02X", address));
    return label && label->isVisible() ? label->text() : QString();
  }
};
