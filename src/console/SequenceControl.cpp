#include "console/SequenceControl.h"

#include "console/Form1.h"
#include "console/FormSequence.h"
#include "console/OperatorExtras.h"
#include "console/ReportOpener.h"
#include "console/SequenceRun.h"
#include "records/PostgresDatabase.h"
#include "records/RecordsStore.h"
#include "sequence/SequenceFile.h"
#include "sequence/SequenceLineLink.h"
#include "sequence/SequenceRecord.h"
#include "sequence/SequenceTiming.h"
#include "serial/ComPort.h"
#include "serial/Exchange.h"

#include <QFileInfo>
#include <QTimer>

namespace {

// "$01 unit SN-7, $02 no serial": each controller of the run with the unit it drives.
std::string UnitsText(const std::vector<std::uint8_t>& addresses, const TUnitSerials& units)
{
  std::string text;
  for (const std::uint8_t address : addresses) {
    const auto serial = units.find(address);
    text += (text.empty() ? "" : ", ") + TFormSequence::UnitText(address, serial == units.end() ? "" : serial->second);
  }
  return text;
}

} // namespace

TSequenceControl::TSequenceControl(TForm1& form)
    : QObject(&form), Form(form), Window(new TFormSequence(&form)), Opener(new TReportOpener(this)), Feed(*Window)
{
  connect(Opener, &TReportOpener::Failed, this, [this](const QString& text) {
    Form.AppendLog(text.toStdString(), TLogColour::Red, false);
    Form.ScrollLogToEnd();
    Window->Say(text);
  });
  connect(Window, &TFormSequence::RunAsked, this, &TSequenceControl::Start);
  connect(Window, &TFormSequence::AbortAsked, this, [this] { Abort("aborted by the operator"); });
  connect(Window, &TFormSequence::ReportAsked, this, &TSequenceControl::OpenReport);
  connect(this, &TSequenceControl::ReportAvailable, Window, &TFormSequence::SetReportAvailable);
  connect(Window, &TFormSequence::ControllersChosen, this, [this](const std::vector<std::uint8_t>& addresses) {
    if (Sequence && !Running())
      Sequence->Addresses = addresses;
  });
}

TSequenceControl::~TSequenceControl() = default;

bool TSequenceControl::Open(const std::string& path)
{
  if (Running()) {
    Form.AppendLog(RunningText, TLogColour::Red, false); // a box would take the Esc that aborts the run
    return false;
  }
  try {
    Sequence = TSequenceFile::Load(path);
  } catch (const TSequenceError& error) {
    Form.ShowMessage(std::string("Sequence not opened: ") + error.what());
    return false;
  }
  for (const std::string& warning : Sequence->Warnings)
    Form.AppendLog("Sequence " + warning, TLogColour::Red, false);
  Window->ShowSequence(*Sequence);
  ShowPanel();
  return true;
}

void TSequenceControl::ShowPanel()
{
  Window->show();
  Window->raise();
  Window->activateWindow();
}

// Nothing is sent before the record's folder and the line are known to be there.
void TSequenceControl::Start(const TUnitSerials& units)
{
  if (Running() || Form.OperatorExtras().RefuseWhileLineTaken())
    return;
  if (!Sequence) {
    Form.ShowMessage(NoSequenceText);
    return;
  }
  // What the line can measure on this bus is known before anything is sent: the runner refuses the same.
  const TSequenceTiming timing(Sequence->Addresses.size(), Form.ComPort->LineSettings());
  if (const std::optional<std::string> refusal = timing.Refusal(*Sequence)) {
    Form.ShowMessage("Sequence not started: " + *refusal);
    return;
  }
  auto records = MadeRecords();
  if (!records)
    return;
  TakeLine();
  auto link = MadeOrSaid<TSequenceLineLink>(Form.ComPort->DeviceName(), Form.ComPort->LineSettings());
  if (!link)
    return GiveLineBack(true);
  Form.AppendLog("Sequence " + Sequence->Name + " started on " + UnitsText(Sequence->Addresses, units),
                 TLogColour::Blue, false);
  const auto ended = [this, run = ++RunNumber] {
    QMetaObject::invokeMethod(
        this, [this, run] { Finished(run, true); }, Qt::QueuedConnection);
  };
  Run = std::make_unique<TSequenceRun>(*Sequence, std::move(link), std::move(*records), StoreName(), Feed, Telemetry,
                                       units, ended);
  Window->SetRunning(true);
}

// A record a unit, every one made before anything is sent: a folder that cannot be written refuses the run.
std::optional<TSequenceRun::TRecords> TSequenceControl::MadeRecords()
{
  TSequenceRun::TRecords records;
  for (const std::uint8_t address : Sequence->Addresses)
    if (!(records[address] = MadeOrSaid<TSequenceRecord>(TSequenceRecord::DefaultFolder(), address)))
      return std::nullopt;
  return records;
}

template <class T, class... TArgs>
std::unique_ptr<T> TSequenceControl::MadeOrSaid(TArgs&&... args)
{
  try {
    return std::make_unique<T>(std::forward<TArgs>(args)...);
  } catch (const std::runtime_error& error) {
    Form.ShowMessage(std::string("Sequence not started: ") + error.what());
    return nullptr;
  }
}

// As for the bus scan: the line is the run's alone, and the window's poll would take it back.
void TSequenceControl::TakeLine()
{
  PollWasOn = Form.PollTimer().isActive();
  Form.DisablePollTimer();
  Form.Exchange->WaitForWorker();
  PortWasOpen = Form.ComPort->IsOpen();
  Form.BtnClosePortClick();
  Form.SetPortPanelText(BottomLineText);
}

void TSequenceControl::GiveLineBack(bool reopenPort)
{
  if (!reopenPort || !PortWasOpen) {
    Form.SetPortPanelText("");
    return;
  }
  Form.BtnOpenPortClick();
  if (PollWasOn && Form.ComPort->IsOpen())
    Form.PollTimer().start();
}

void TSequenceControl::Abort(const std::string& reason)
{
  if (Run)
    Run->Abort(reason);
}

std::string TSequenceControl::EndRun(const std::string& reason, bool reopenPort)
{
  Abort(reason);
  return Finished(RunNumber, reopenPort);
}

// Posted by the run's thread as it ends, or called by an end before that; whichever comes second
// finds no run.
std::string TSequenceControl::Finished(unsigned run, bool reopenPort)
{
  if (run != RunNumber || !Run)
    return {};
  Run->Join();
  const std::string line = TellEnd(*Run);
  Run.reset();
  Window->SetRunning(false);
  emit ReportAvailable(!Reports.empty());
  GiveLineBack(reopenPort);
  return line;
}

// In the log: each unit's verdict with why it did not pass, and its report.
std::string TSequenceControl::TellEnd(const TSequenceRun& run)
{
  const TRunResult& result = run.Result();
  Reports.clear();
  std::string line = "Sequence " + result.Name + " ended: ";
  for (const TControllerResult& controller : result.Controllers)
    line += (&controller == &result.Controllers.front() ? "" : "; ") + UnitEnd(controller, result, run);
  Form.AppendLog(line, result.Verdict == TVerdict::Pass ? TLogColour::Green : TLogColour::Red, false);
  for (const TControllerResult& controller : result.Controllers)
    if (const std::string failure = run.Record(controller.Address).Failure(); !failure.empty())
      Form.AppendLog(failure, TLogColour::Red, false);
  if (!run.StoreFailure().empty())
    Form.AppendLog(run.StoreFailure(), TLogColour::Red, false);
  return line;
}

// "$01 unit SN-7 PASS; report PATH": the report only when it was written.
std::string TSequenceControl::UnitEnd(const TControllerResult& controller, const TRunResult& result,
                                      const TSequenceRun& run)
{
  std::string text = TFormSequence::VerdictLine(controller, result);
  const QString report = QString::fromStdString(run.Record(controller.Address).ReportPath());
  if (QFileInfo::exists(report)) {
    Reports[controller.Address] = report;
    text += "; report " + report.toStdString();
  }
  return text;
}

QString TSequenceControl::ChosenReport() const
{
  const auto report = Reports.find(Window->ChosenUnit());
  return report == Reports.end() ? QString() : report->second;
}

void TSequenceControl::OpenReport()
{
  const QString report = ChosenReport();
  if (!report.isEmpty())
    Opener->Open(report);
}

bool TSequenceControl::SetStore(const std::string& name, bool said)
{
  if (TPostgresDatabase::PasswordAt(name)) {
    Form.ShowMessage("Records store not changed: keep the server's password in ~/.pgpass, not in the URL.");
    return false;
  }
  Store = name;
  if (said)
    Form.AppendLog("Records go to " + StoreName(), TLogColour::Blue, false);
  return true;
}

std::string TSequenceControl::StoreName() const
{
  return Store.empty() ? TRecordsStore::DefaultPath() : Store;
}
