#include "dialogs/FormBusScan.h"

#include "dialogs/DialogHost.h"
#include "motor/StatusDisplay.h"
#include "protocol/BusScanTimeout.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"
#include "protocol/SilentView.h"
#include "serial/ComPort.h"
#include "serial/FrameLine.h"
#include "serial/LineError.h"
#include "serial/Synchronizer.h"
#include "widgets/PanelParts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QKeyEvent>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// What the window would show for this answer: speed at the ratio in force, feedback, direction.
QString StateText(std::uint8_t address, const TFrame& answer, double gearRatio)
{
  TCommonDatas datas;
  datas.SetGearRatio(gearRatio);
  TSilentView view;
  TOzmCommands(datas, view).DecodeAnswer(answer);
  const TStatusTexts texts = StatusTexts(datas);
  return QString::fromStdString(TOzmCommands::HexAddress(address) + "   " + texts.Speed + "   " + texts.Feedback +
                                "   " + (datas.ActualDirection ? "backward" : "forward"));
}

} // namespace

TFormBusScan::TFormBusScan(TDialogHost& main)
    : QWidget(&main.Window(), Qt::Window), Main(main), Counters(main.Record().Counters)
{
  setObjectName("FormBusScan");
  setWindowTitle("Scan the bus");
  resize(460, 360);
  ScanProgress = new QProgressBar(this);
  ScanProgress->setObjectName("ScanProgress");
  ScanProgress->setRange(0, LastAddress + 1);
  ScanProgress->setValue(0);
  ListScanFound = new QListWidget(this);
  ListScanFound->setObjectName("ListScanFound");
  BtnScanStart = Named<QPushButton>("BtnScanStart", this, "Scan");
  BtnScanCancel = Named<QPushButton>("BtnScanCancel", this, "Cancel");
  BtnScanCancel->setEnabled(false);
  auto* use = Named<QPushButton>("BtnScanUse", this, "Use this address");
  auto* addAll = Named<QPushButton>("BtnScanAddAll", this, "Add all found");
  addAll->setToolTip("Add every controller found to the bus view's list (View > Bus)");
  connect(addAll, &QPushButton::clicked, this, &TFormBusScan::BtnScanAddAllClick);
  SpinScanTimeout = Named<QSpinBox>("SpinScanTimeout", this);
  SpinScanTimeout->setRange(1, 60'000);
  SpinScanTimeout->setSuffix(" ms");
  SpinScanTimeout->setToolTip("How long each address has to answer; computed from the port's line settings");
  // A value the operator sets holds for the settings in force; other settings get theirs computed again.
  connect(SpinScanTimeout, &QSpinBox::valueChanged, this,
          [this] { TimeoutSettings = Main.Port().LineSettings(); });
  connect(BtnScanStart, &QPushButton::clicked, this, &TFormBusScan::BtnScanStartClick);
  connect(BtnScanCancel, &QPushButton::clicked, this, &TFormBusScan::BtnScanCancelClick);
  connect(use, &QPushButton::clicked, this, &TFormBusScan::BtnScanUseClick);
  connect(ListScanFound, &QListWidget::itemDoubleClicked, this, &TFormBusScan::BtnScanUseClick);

  auto* timeout = new QHBoxLayout;
  timeout->addWidget(new QLabel("Time per address:", this));
  timeout->addWidget(SpinScanTimeout);
  timeout->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(BtnScanStart);
  buttons->addWidget(BtnScanCancel);
  buttons->addStretch(1);
  buttons->addWidget(addAll);
  buttons->addWidget(use);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ScanProgress);
  layout->addWidget(ListScanFound, 1);
  layout->addLayout(timeout);
  layout->addLayout(buttons);
}

TFormBusScan::~TFormBusScan()
{
  *Alive = false;
  StopAsked = true;
  if (Worker.joinable())
    Worker.join();
}

// As "Set new address": never beside polling or an exchange, which use the same line.
void TFormBusScan::BtnScanStartClick()
{
  if (Scanning())
    return;
  if (Main.DataTransferring()) {
    Main.ShowMessage(RefusedText);
    return;
  }
  const TLineSettings settings = Main.Port().LineSettings();
  if (TimeoutSettings != settings)
    ShowComputedTimeout(); // the port's settings changed since the value was shown
  PortWasOpen = Main.Port().IsOpen();
  Main.BtnClosePortClick();
  Main.SetPortPanelText(BottomLineText); // not an empty description beside an Open port that would refuse
  ListScanFound->clear();
  ScanProgress->setValue(0);
  BtnScanStart->setEnabled(false);
  BtnScanCancel->setEnabled(true);
  SpinScanTimeout->setEnabled(false);
  StopAsked = false;
  ++Run;
  GearRatio = Main.Record().GearRatio;
  Worker = std::thread(&TFormBusScan::Scan, this, Main.Port().DeviceName(), settings,
                       std::chrono::milliseconds(SpinScanTimeout->value()));
}

void TFormBusScan::BtnScanCancelClick()
{
  StopAsked = true;
}

void TFormBusScan::Cancel()
{
  StopAsked = true;
  Finished(Run);
}

// Esc that no control of this window took is Cancel while a scan runs; otherwise it closes the window.
void TFormBusScan::keyPressEvent(QKeyEvent* event)
{
  if (event->key() != Qt::Key_Escape)
    return QWidget::keyPressEvent(event);
  if (Scanning())
    BtnScanCancelClick();
  else
    close();
}

void TFormBusScan::showEvent(QShowEvent* event)
{
  if (!Scanning())
    ShowComputedTimeout();
  QWidget::showEvent(event);
}

void TFormBusScan::ShowComputedTimeout()
{
  const TLineSettings line = Main.Port().LineSettings();
  SpinScanTimeout->setValue(static_cast<int>(
      BusScanTimeout(line.Baud, line.DataBits, line.Parity != 0, line.StopBits != 0).count()));
  TimeoutSettings = line;
}

void TFormBusScan::BtnScanUseClick()
{
  const QListWidgetItem* item = ListScanFound->currentItem();
  if (!item)
    return;
  Main.UseAddress(static_cast<std::uint8_t>(item->data(Qt::UserRole).toInt()));
}

void TFormBusScan::BtnScanAddAllClick()
{
  std::vector<std::uint8_t> found;
  for (int row = 0; row < ListScanFound->count(); ++row)
    found.push_back(static_cast<std::uint8_t>(ListScanFound->item(row)->data(Qt::UserRole).toInt()));
  emit AddAllFound(found);
}

void TFormBusScan::Scan(const std::string& device, const TLineSettings& settings, std::chrono::milliseconds timeout)
{
  FoundCount = 0;
  Problem.clear();
  try {
    TFrameLine line;
    line.Open(device, settings);
    FoundCount = TBusScan(line, *this).Run(0, LastAddress, timeout);
  } catch (const TLineError& error) {
    Problem = error.what();
  }
  OnWindowThread([this, run = Run] { Finished(run); });
}

void TFormBusScan::Scanning(std::uint8_t address, unsigned done, unsigned, unsigned)
{
  OnWindowThread([this, address, done] {
    ScanProgress->setValue(static_cast<int>(done));
    ScanProgress->setFormat(QString::fromStdString(TOzmCommands::HexAddress(address)) + "  %p%");
  });
}

// The scan's frames and answers are the line's traffic too.
void TFormBusScan::Asked(std::uint8_t, TFrameLine::TReply reply)
{
  ++Counters.FramesSent;
  if (reply == TFrameLine::TReply::Answered)
    Counters.BlockReceived(TFrame{}.size());
  if (reply == TFrameLine::TReply::BadChecksum)
    ++Counters.ChecksumFailures;
}

void TFormBusScan::Found(std::uint8_t address, const TFrame& answer)
{
  OnWindowThread([this, address, text = StateText(address, answer, GearRatio)] {
    auto* item = new QListWidgetItem(text, ListScanFound);
    item->setData(Qt::UserRole, address);
    if (!ListScanFound->currentItem())
      ListScanFound->setCurrentItem(item);
  });
}

// Not listed: a controller that cannot be understood cannot be driven either.
void TFormBusScan::BadChecksum(std::uint8_t address)
{
  OnWindowThread([this, address] {
    Main.AppendLog("Bus scan: $" + TOzmCommands::HexByte(address) + " answered with a bad checksum", TLogColour::Red,
                   false);
  });
}

bool TFormBusScan::StopRequested()
{
  return StopAsked;
}

// Run is read on the scan's thread too: it changes only while no scan runs.
void TFormBusScan::OnWindowThread(std::function<void()> fn)
{
  TSynchronizer::Instance().Post([this, alive = Alive, run = Run, fn = std::move(fn)] {
    if (*alive && run == Run)
      fn();
  });
}

// Posted by the scan's thread as it ends, or called by Cancel before that; whichever comes second
// finds the thread joined and does nothing.
void TFormBusScan::Finished(unsigned run)
{
  if (run != Run || !Worker.joinable())
    return;
  Worker.join();
  BtnScanStart->setEnabled(true);
  BtnScanCancel->setEnabled(false);
  SpinScanTimeout->setEnabled(true);
  // A finished scan says so; one cancelled or failed keeps the address where it stopped.
  if (!StopAsked && Problem.empty()) {
    ScanProgress->setValue(ScanProgress->maximum());
    ScanProgress->setFormat("done  %p%");
  } else {
    ScanProgress->setFormat(ScanProgress->format().section(' ', 0, 0) + (StopAsked ? "  cancelled" : "  stopped"));
  }
  Main.AppendLog("Bus scan: " + std::to_string(FoundCount) + (FoundCount == 1 ? " controller" : " controllers") +
                     " found" + (StopAsked ? ", cancelled" : ""),
                 TLogColour::Blue, false);
  if (!Problem.empty())
    Main.AppendLog(Problem, TLogColour::Red, false);
  if (PortWasOpen)
    Main.BtnOpenPortClick();
  else
    Main.SetPortPanelText("");
}
