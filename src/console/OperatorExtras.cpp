#include "console/OperatorExtras.h"

#include "console/BusChartLines.h"
#include "console/BusPoller.h"
#include "console/Form1.h"
#include "console/FormBus.h"
#include "console/FormRecords.h"
#include "console/FormSequence.h"
#include "console/FormSpeedChart.h"
#include "console/LinkCountersView.h"
#include "console/LogPanel.h"
#include "console/MotorPanel.h"
#include "console/SequenceControl.h"
#include "console/TelemetryControl.h"
#include "console/WorkPanel.h"
#include "dialogs/FormBusScan.h"
#include "motor/ParameterFile.h"
#include "protocol/CommonDatas.h"
#include "protocol/OzmCommands.h"
#include "serial/ComPort.h"
#include "widgets/OperatorSettings.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QSettings>
#include <QStandardPaths>

namespace {

QAction* AddItem(QMenu* menu, const char* name, const QString& text, const QKeySequence& key = {})
{
  QAction* action = menu->addAction(text);
  action->setObjectName(name);
  action->setShortcut(key); // shown beside the item's text
  return action;
}

QMenu* AddMenu(QMenuBar* bar, const char* name, const char* text)
{
  QMenu* menu = bar->addMenu(text);
  menu->setObjectName(name);
  return menu;
}

} // namespace

TOperatorExtras::TOperatorExtras(TForm1& form, TLinkCountersView& counters) : QObject(&form), Form(form)
{
  Chart = new TFormSpeedChart(&Form);
  Poller = new TBusPoller(Form);
  Bus = new TFormBus(Form, *Poller, Chart->BusLines());
  Sequences = new TSequenceControl(Form);
  Records = new TFormRecords([this] { return Sequences->StoreName(); }, &Form);
  connect(&Sequences->Panel(), &TFormSequence::Sampled, Bus, &TFormBus::SequenceSampled);
  connect(Poller, &TBusPoller::SpeedDecoded, Chart, [this](std::uint8_t address, qint64 ms, double rpm) {
    Chart->BusLines().AddPoint(address, ms, rpm);
  });
  Telemetry = new TTelemetryControl(Form, *Poller, *Sequences);
  BuildMenus(Form.menuBar(), counters);
  BuildMotionKeys();
}

TOperatorExtras::~TOperatorExtras() = default;

// After the Parts' own items, so that the menu bar they describe stays as it is.
void TOperatorExtras::BuildMenus(QMenuBar* bar, TLinkCountersView& counters)
{
  // Beside "Serial devices...": both are about what is on the line.
  if (auto* settings = bar->findChild<QMenu*>("MmPortSettings"))
    connect(AddItem(settings, "MmScanBus", "Scan the &bus..."), &QAction::triggered, this,
            &TOperatorExtras::MmScanBusClick);

  QMenu* file = AddMenu(bar, "MmFile", "&File");
  connect(AddItem(file, "MmOpenParameters", "&Open parameters...", QKeySequence::Open), &QAction::triggered, this,
          &TOperatorExtras::MmOpenParametersClick);
  connect(AddItem(file, "MmTelemetry", "Plant &telemetry..."), &QAction::triggered, this,
          &TOperatorExtras::MmTelemetryClick);
  connect(AddItem(file, "MmSaveParameters", "&Save parameters as...",
                  // bound here: the platform's SaveAs key is unbound without a desktop
                  QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S)),
          &QAction::triggered, this, &TOperatorExtras::MmSaveParametersClick);
  file->addSeparator();
  connect(AddItem(file, "MmQuit", "&Quit", QKeySequence(Qt::CTRL | Qt::Key_Q)), &QAction::triggered, &Form,
          &QWidget::close);

  QMenu* log = AddMenu(bar, "MmLog", "&Log");
  connect(AddItem(log, "MmSaveLog", "&Save log as...", QKeySequence(Qt::CTRL | Qt::Key_L)), &QAction::triggered, this,
          &TOperatorExtras::MmSaveLogClick);
  DailyLog = AddItem(log, "MmDailyLog", "&Write the log to a file a day");
  DailyLog->setCheckable(true);
  connect(DailyLog, &QAction::toggled, this, &TOperatorExtras::SetDailyLogFile);
  // A file that failed is off, as the item shows; ticking it again tries anew.
  connect(&Form.LogPanel(), &TLogPanel::DailyFileFailed, DailyLog, [this] { DailyLog->setChecked(false); });
  connect(AddItem(log, "MmResetCounters", "&Reset link counters"), &QAction::triggered, &counters,
          &TLinkCountersView::Reset);

  QMenu* view = AddMenu(bar, "MmView", "&View");
  connect(AddItem(view, "MmSpeedChart", "Speed &chart", QKeySequence(Qt::CTRL | Qt::Key_G)), &QAction::triggered, this,
          &TOperatorExtras::MmSpeedChartClick);
  connect(AddItem(view, "MmBusView", "&Bus", QKeySequence(Qt::CTRL | Qt::Key_B)), &QAction::triggered, this,
          &TOperatorExtras::MmBusViewClick);
  connect(AddItem(view, "MmRecords", "&Records", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R)), &QAction::triggered,
          this, &TOperatorExtras::MmRecordsClick);
  BuildSequenceMenu(bar);

  QMenu* help = AddMenu(bar, "MmHelp", "&Help");
  connect(AddItem(help, "MmAbout", "&About", QKeySequence::HelpContents), &QAction::triggered, this,
          &TOperatorExtras::MmAboutClick);
}

void TOperatorExtras::BuildSequenceMenu(QMenuBar* bar)
{
  QMenu* sequence = AddMenu(bar, "MmSequence", "&Sequence");
  connect(AddItem(sequence, "MmOpenSequence", "&Open sequence...", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O)),
          &QAction::triggered, this, &TOperatorExtras::MmOpenSequenceClick);
  connect(AddItem(sequence, "MmRunSequence", "&Run sequence", QKeySequence(Qt::CTRL | Qt::Key_R)), &QAction::triggered,
          Sequences, &TSequenceControl::ShowPanel);
  QAction* report = AddItem(sequence, "MmOpenReport", "Open r&eport");
  report->setEnabled(false); // until a run has left one
  connect(report, &QAction::triggered, Sequences, &TSequenceControl::OpenReport);
  connect(Sequences, &TSequenceControl::ReportAvailable, report, &QAction::setEnabled);
  connect(AddItem(sequence, "MmRecordsStore", "Records &store..."), &QAction::triggered, this,
          &TOperatorExtras::MmRecordsStoreClick);
}

namespace {

// The motion keys, anywhere in the main window and in the chart, which the operator watches.
struct TMotionKey {
  Qt::Key Key;
  const char* Button;
  const char* Tip;
  void (TForm1::*Handler)();
};
const TMotionKey MotionKeys[] = {
    {Qt::Key_Escape, "BtnStop", "Stop the motor (Esc)", &TForm1::BtnStopClick},
    {Qt::Key_F5, "BtnRun", "Set the operation parameters and run the motor (F5)", &TForm1::BtnRunClick},
};

} // namespace

// Esc stops the motor and F5 runs it wherever the focus is in the window, a field being edited
// included: watched before any widget can take the key. A message box or a dialog is a window of
// its own, so Esc there stays theirs. Shift+Esc stops every controller of the bus.
void TOperatorExtras::BuildMotionKeys()
{
  qApp->installEventFilter(this);
  for (const TMotionKey& key : MotionKeys)
    if (QWidget* button = Form.findChild<QWidget*>(key.Button))
      button->setToolTip(key.Tip);
}

bool TOperatorExtras::eventFilter(QObject* watched, QEvent* event)
{
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
    return false;
  const QWidget* window = static_cast<QWidget*>(watched)->window();
  const bool watchedWindow = window == &Form || window == Chart || window == Bus;
  // Esc stops from the records too, which the operator may read while a motor runs; F5 there runs nothing.
  const bool stopsHere = watchedWindow || window == Records;
  const auto* key = static_cast<QKeyEvent*>(event);
  const int pressed = key->key();
  const bool all = key->modifiers().testFlag(Qt::ShiftModifier);
  // The run's own Stops reach the controllers it drives; then Esc stops the panel's controller and Shift+Esc every
  // controller, as they do without a run.
  if (pressed == Qt::Key_Escape && (stopsHere || (Sequences->Running() && window == &Sequences->Panel()))) {
    if (Sequences->Running())
      Sequences->Abort(all ? "aborted by Shift+Esc" : "aborted by Esc");
    all ? Poller->StopAll() : Form.BtnStopClick();
    return true;
  }
  if (!watchedWindow)
    return false;
  for (const TMotionKey& motion : MotionKeys)
    if (motion.Key == pressed) {
      (Form.*motion.Handler)();
      return true;
    }
  return false;
}

void TOperatorExtras::RestoreSettings()
{
  const QSettings settings = OperatorSettings();
  if (settings.contains("window/rect"))
    Form.setGeometry(settings.value("window/rect").toRect());
  if (settings.value("window/collapsed", false).toBool() && Form.Expanded())
    Form.SpeedButton1Click();
  Chart->SetSpan(settings.value("chart/span", Chart->Span()).toInt());
  if (settings.contains("chart/rect"))
    Chart->setGeometry(settings.value("chart/rect").toRect());
  Chart->SetSaveFolder(settings.value("chart/folder").toString());
  LastLogFolder = settings.value("log/folder").toString();
  LastParameterFolder = settings.value("parameters/folder").toString();
  LastSequenceFolder = settings.value("sequence/folder").toString();
  Sequences->SetStore(settings.value("records/store").toString().toStdString(), false);
  Telemetry->Restore(settings);
  DailyLog->setChecked(settings.value("log/daily", false).toBool());
}

void TOperatorExtras::FormClosing()
{
  SaveSettings();
  Chart->hide();
  Bus->hide();
  Records->hide();
  Poller->Detach(); // before the objects that tell it go
  Sequences->EndRun("the window was closed", false); // its controllers stopped before the port is let go
  Sequences->Panel().hide();
  delete BusScan; // stops its scan and waits for it: the port it would open again is going
  BusScan = nullptr;
}

void TOperatorExtras::SaveSettings() const
{
  QSettings settings = OperatorSettings();
  QRect rect = Form.geometry();
  if (!Form.Expanded())
    rect.setWidth(Form.SavedWidth()); // the width to come back to
  settings.setValue("window/rect", rect);
  settings.setValue("window/collapsed", !Form.Expanded());
  settings.setValue("chart/span", Chart->Span());
  if (Chart->testAttribute(Qt::WA_WState_ExplicitShowHide)) // never shown: a place restored, or none yet
    settings.setValue("chart/rect", Chart->geometry());
  settings.setValue("chart/folder", Chart->SaveFolder());
  settings.setValue("log/folder", LastLogFolder);
  settings.setValue("parameters/folder", LastParameterFolder);
  settings.setValue("sequence/folder", LastSequenceFolder);
  settings.setValue("records/store", QString::fromStdString(Sequences->ChosenStore()));
  settings.setValue("log/daily", DailyLog->isChecked());
  Telemetry->Save(settings);
}

void TOperatorExtras::StatusDecoded()
{
  const TCommonDatas& datas = *Form.Datas;
  Chart->AddPoint(QDateTime::currentMSecsSinceEpoch(), datas.CurrentSpeedRpm, datas.MotorRevCounter,
                  datas.MotorAddress);
  Telemetry->State(datas.MotorAddress, datas, true);
}

void TOperatorExtras::StatusUnknown()
{
  Telemetry->State(Form.Datas->MotorAddress, *Form.Datas, false);
}

void TOperatorExtras::MotionSent(bool run, bool answered, long long msSinceEpoch)
{
  Chart->AddMarker(msSinceEpoch, run, answered);
}

void TOperatorExtras::MmTelemetryClick()
{
  Telemetry->Ask();
}

QString TOperatorExtras::ChooseFile(bool saving, const QString& title, const QString& proposed, const QString& filters,
                                    QString* chosenFilter)
{
  if (Chooser)
    return Chooser(saving, title, proposed, filters, chosenFilter);
  return saving ? QFileDialog::getSaveFileName(&Form, title, proposed, filters, chosenFilter)
                : QFileDialog::getOpenFileName(&Form, title, proposed, filters, chosenFilter);
}

// "Text (*.txt *.log)" gives a name without a dot ".txt"; "All files (*)" adds nothing.
QString TOperatorExtras::WithSuffix(const QString& path, const QString& filter)
{
  if (!QFileInfo(path).suffix().isEmpty())
    return path;
  const qsizetype star = filter.indexOf("*.");
  if (star < 0)
    return path;
  qsizetype end = star + 2;
  while (end < filter.size() && filter[end].isLetterOrNumber())
    ++end;
  return path + filter.mid(star + 1, end - star - 1);
}

QString TOperatorExtras::Proposed(const QString& folder, const char* name, const char* suffix)
{
  const QString where = folder.isEmpty() ? QDir::homePath() : folder;
  return where + "/" + name + "-" + QDate::currentDate().toString(Qt::ISODate) + suffix;
}

void TOperatorExtras::MmSaveLogClick()
{
  const QString filters = "Text (*.txt *.log);;CSV (*.csv)";
  QString filter;
  const QString path = ChooseFile(true, "Save log as", Proposed(LastLogFolder, "ozmet-log", ".txt"), filters, &filter);
  if (path.isEmpty())
    return;
  const QString named = WithSuffix(path, filter.isEmpty() ? filters.section(";;", 0, 0) : filter);
  const bool csv = filter.startsWith("CSV") || named.endsWith(".csv", Qt::CaseInsensitive);
  SaveLog(named, csv ? TLogExport::TFormat::Csv : TLogExport::TFormat::Text);
}

bool TOperatorExtras::SaveLog(const QString& path, TLogExport::TFormat format)
{
  const std::vector<std::string> header{
      "Ozmet console log, saved " + TLogExport::IsoTime(QDateTime::currentMSecsSinceEpoch()),
      "link: " + Form.Datas->Counters.Summary()};
  if (const auto problem = TLogExport::Save(path.toStdString(), format, header, Form.LogPanel().Lines())) {
    Form.ShowMessage("Log not saved: " + *problem);
    return false;
  }
  LastLogFolder = QFileInfo(path).absolutePath();
  return true;
}

void TOperatorExtras::SetDailyLogFile(bool on)
{
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/ozmet/logs";
  const std::string header = "Ozmet console " OZMET_VERSION " session, device " + Form.ComPort->DeviceName() +
                             ", controller address $" + TOzmCommands::HexByte(Form.Datas->MotorAddress);
  Form.LogPanel().SetDailyFolder(on ? std::optional(folder.toStdString()) : std::nullopt, header);
  if (DailyLog->isChecked() != on)
    DailyLog->setChecked(on);
}

void TOperatorExtras::MmSaveParametersClick()
{
  const QString filters = "Parameters (*.ini);;All files (*)";
  QString filter;
  const QString path =
      ChooseFile(true, "Save parameters as", Proposed(LastParameterFolder, "ozmet-parameters", ".ini"), filters, &filter);
  if (!path.isEmpty())
    SaveParameters(WithSuffix(path, filter.isEmpty() ? filters.section(";;", 0, 0) : filter));
}

// What Apply would refuse is not saved either, with Apply's own message: such a file would be
// refused when opened.
bool TOperatorExtras::SaveParameters(const QString& path)
{
  const TMotorFields motor = Form.MotorPanel().Fields();
  const TWorkFields work = Form.WorkPanel().Fields();
  if (const auto fault = TParameterFile::FirstFault(motor, work)) {
    Form.ShowMessage(fault->Message.empty() ? "Parameters not saved: " + fault->Reason : fault->Message);
    return false;
  }
  if (const auto problem = TParameterFile::Save(path.toStdString(), motor, work)) {
    Form.ShowMessage("Parameters not saved: " + *problem);
    return false;
  }
  LastParameterFolder = QFileInfo(path).absolutePath();
  return true;
}

void TOperatorExtras::MmOpenParametersClick()
{
  const QString path = ChooseFile(false, "Open parameters", LastParameterFolder, "Parameters (*.ini);;All files (*)");
  if (!path.isEmpty())
    OpenParameters(path);
}

// The panels are filled as typing would: both turn edited, and nothing is sent before Apply or Run.
bool TOperatorExtras::OpenParameters(const QString& path)
{
  const TParameterFile::TReadResult file = TParameterFile::Load(path.toStdString());
  if (!file.Contents) {
    Form.ShowMessage("Parameters not opened from " + path.toStdString() + ": " + file.Error);
    return false;
  }
  Form.MotorPanel().SetFields(file.Contents->Motor);
  Form.MotorPanel().MarkEdited();
  Form.WorkPanel().SetFields(file.Contents->Work);
  Form.WorkPanel().MarkEdited();
  LastParameterFolder = QFileInfo(path).absolutePath();
  return true;
}

bool TOperatorExtras::RefuseWhileLineTaken()
{
  const char* refusal = BusScan && BusScan->Scanning() ? TFormBusScan::RunningText
                        : SequenceRunning()            ? TSequenceControl::RunningText
                                                       : nullptr;
  if (refusal) // a line of the log: a box would take the Esc that ends the scan or the run
    Form.AppendLog(refusal, TLogColour::Red, false);
  return refusal;
}

bool TOperatorExtras::SequenceRunning() const
{
  return Sequences->Running();
}

void TOperatorExtras::FreeLine()
{
  if (BusScan)
    BusScan->Cancel();
  Sequences->EndRun("aborted by Stop", true);
}

void TOperatorExtras::MmSpeedChartClick()
{
  Chart->show();
  Chart->raise();
  Chart->activateWindow();
}

void TOperatorExtras::MmBusViewClick()
{
  Bus->show();
  Bus->raise();
  Bus->activateWindow();
}

void TOperatorExtras::MmRecordsClick()
{
  Records->show();
  Records->raise();
  Records->activateWindow();
}

void TOperatorExtras::MmScanBusClick()
{
  if (!BusScan) {
    BusScan = new TFormBusScan(Form);
    connect(BusScan, &TFormBusScan::AddAllFound, Bus, &TFormBus::AddAddresses);
  }
  BusScan->show();
  BusScan->raise();
  BusScan->activateWindow();
}

void TOperatorExtras::MmOpenSequenceClick()
{
  const QString path =
      ChooseFile(false, "Open sequence", LastSequenceFolder, "Sequences (*.yaml *.yml);;All files (*)");
  if (!path.isEmpty() && Sequences->Open(path.toStdString()))
    LastSequenceFolder = QFileInfo(path).absolutePath();
}

void TOperatorExtras::MmRecordsStoreClick()
{
  bool ok = false;
  const QString name = QInputDialog::getText(
      &Form, "Records store",
      "Where each test run goes: an SQLite file, or a plant's server as postgresql://HOST/DB\n(its password in "
      "~/.pgpass). Empty: OZMET_STORE, else ~/.local/share/ozmet/records.sqlite.",
      QLineEdit::Normal, QString::fromStdString(Sequences->ChosenStore()), &ok);
  if (ok)
    Sequences->SetStore(name.trimmed().toStdString());
}

void TOperatorExtras::MmAboutClick()
{
  Form.ShowMessage("Ozmet console " OZMET_VERSION "\n\nDrives Ozmet DC and brushless motor speed controllers over a "
                   "serial line.\n\nEsc stops the motor, F5 runs it, Shift+Esc stops every controller of the bus. "
                   "Ctrl+G shows the speed chart, Ctrl+B the bus, Ctrl+L saves the log, "
                   "Ctrl+O and Ctrl+Shift+S open and save parameter files, Ctrl+Q quits.");
}
