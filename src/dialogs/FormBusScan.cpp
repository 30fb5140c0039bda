#include "FormBusScan.h"

#include "ComPort.h"
#include "CommonDatas.h"
#include "Exchange.h"
#include "Form1.h"
#include "FrameLine.h"
#include "LineError.h"
#include "MotorPanel.h"
#include "OzmCommands.h"
#include "PanelParts.h"
#include "SilentView.h"
#include "StatusDisplay.h"
#include "Synchronizer.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
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
  return QString::fromStdString("$" + TOzmCommands::HexByte(address) + "   " + texts.Speed + "   " + texts.Feedback +
                                "   " + (datas.ActualDirection ? "backward" : "forward"));
}

} // namespace

TFormBusScan::TFormBusScan(TForm1& main) : QWidget(&main, Qt::Window), Main(main)
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
  connect(BtnScanStart, &QPushButton::clicked, this, &TFormBusScan::BtnScanStartClick);
  connect(BtnScanCancel, &QPushButton::clicked, this, &TFormBusScan::BtnScanCancelClick);
  connect(use, &QPushButton::clicked, this, &TFormBusScan::BtnScanUseClick);
  connect(ListScanFound, &QListWidget::itemDoubleClicked, this, &TFormBusScan::BtnScanUseClick);

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(BtnScanStart);
  buttons->addWidget(BtnScanCancel);
  buttons->addStretch(1);
  buttons->addWidget(use);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ScanProgress);
  layout->addWidget(ListScanFound, 1);
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
  Main.BtnClosePortClick();
  ListScanFound->clear();
  ScanProgress->setValue(0);
  BtnScanStart->setEnabled(false);
  BtnScanCancel->setEnabled(true);
  StopAsked = false;
  Worker = std::thread(&TFormBusScan::Scan, this, Main.ComPort->DeviceName(), Main.ComPort->LineSettings(),
                       Main.Datas->GearRatio);
}

void TFormBusScan::BtnScanCancelClick()
{
  StopAsked = true;
}

void TFormBusScan::BtnScanUseClick()
{
  const QListWidgetItem* item = ListScanFound->currentItem();
  if (!item)
    return;
  TMotorFields fields = Main.MotorPanel().Fields();
  fields.Address = "$" + TOzmCommands::HexByte(static_cast<std::uint8_t>(item->data(Qt::UserRole).toInt()));
  Main.MotorPanel().SetFields(fields);
  Main.MotorPanel().MarkEdited();
}

void TFormBusScan::Scan(const std::string& device, const TLineSettings& settings, double gearRatio)
{
  GearRatio = gearRatio;
  std::string problem;
  unsigned found = 0;
  try {
    TFrameLine line;
    line.Open(device, settings);
    found = TBusScan(line, *this).Run(0, LastAddress, std::chrono::milliseconds(AnswerTimeoutMs));
  } catch (const TLineError& error) {
    problem = error.what();
  }
  OnWindowThread([this, problem, found] { Finished(problem, found); });
}

void TFormBusScan::Scanning(std::uint8_t address, unsigned done, unsigned, unsigned)
{
  OnWindowThread([this, address, done] {
    ScanProgress->setValue(static_cast<int>(done));
    ScanProgress->setFormat("$" + QString::fromStdString(TOzmCommands::HexByte(address)) + "  %p%");
  });
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

void TFormBusScan::OnWindowThread(std::function<void()> fn)
{
  TSynchronizer::Instance().Post([alive = Alive, fn = std::move(fn)] {
    if (*alive)
      fn();
  });
}

// The thread has ended once this runs; the port the scan took is opened again.
void TFormBusScan::Finished(const std::string& problem, unsigned found)
{
  Worker.join();
  BtnScanStart->setEnabled(true);
  BtnScanCancel->setEnabled(false);
  ScanProgress->setFormat("%p%");
  Main.AppendLog("Bus scan: " + std::to_string(found) + (found == 1 ? " controller" : " controllers") + " found" +
                     (StopAsked ? ", cancelled" : ""),
                 TLogColour::Blue, false);
  if (!problem.empty())
    Main.AppendLog(problem, TLogColour::Red, false);
  Main.BtnOpenPortClick();
}
