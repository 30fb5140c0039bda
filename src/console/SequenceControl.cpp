#include "SequenceControl.h"

#include "ComPort.h"
#include "Exchange.h"
#include "Form1.h"
#include "FormSequence.h"
#include "OperatorExtras.h"
#include "SequenceFile.h"
#include "SequenceLineLink.h"
#include "SequenceRecord.h"
#include "SequenceRun.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

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
    : QObject(&form), Form(form), Window(new TFormSequence(&form)), Feed(*Window)
{
  connect(Window, &TFormSequence::RunAsked, this, &TSequenceControl::Start);
  connect(Window, &TFormSequence::AbortAsked, this, [this] { Abort("aborted by the operator"); });
  connect(Window, &TFormSequence::ReportAsked, this, &TSequenceControl::OpenReport);
  connect(this, &TSequenceControl::ReportAvailable, Window, &TFormSequence::SetReportAvailable);
}

TSequenceControl::~TSequenceControl() = default;

bool TSequenceControl::Open(const std::string& path)
{
  if (Running()) {
    Form.ShowMessage(RunningText);
    return false;
  }
  try {
    Sequence = TSequenceFile::Load(path);
  } catch (const TSequenceError& error) {
    Form.ShowMessage(std::string("Sequence not opened: ") + error.what());
    return false;
  }
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
  auto record = MadeOrSaid<TSequenceRecord>(TSequenceRecord::DefaultFolder());
  if (!record)
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
  Run = std::make_unique<TSequenceRun>(*Sequence, std::move(link), std::move(record), Feed, units, ended);
  Window->SetRunning(true);
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
  emit ReportAvailable(!Report.isEmpty());
  GiveLineBack(reopenPort);
  return line;
}

// In the log: each controller's verdict with why it did not pass, and the report.
std::string TSequenceControl::TellEnd(const TSequenceRun& run)
{
  const TRunResult& result = run.Result();
  std::string line = "Sequence " + result.Name + " ended: ";
  for (const TControllerResult& controller : result.Controllers)
    line += (&controller == &result.Controllers.front() ? "" : "; ") + TFormSequence::VerdictLine(controller, result);
  const QString report = QString::fromStdString(run.Record().ReportPath());
  Report = QFileInfo::exists(report) ? report : QString();
  if (!Report.isEmpty())
    line += "; report " + report.toStdString();
  Form.AppendLog(line, result.Verdict == TVerdict::Pass ? TLogColour::Green : TLogColour::Red, false);
  if (const std::string failure = run.Record().Failure(); !failure.empty())
    Form.AppendLog(failure, TLogColour::Red, false);
  return line;
}

void TSequenceControl::OpenReport() const
{
  if (!Report.isEmpty())
    QDesktopServices::openUrl(QUrl::fromLocalFile(Report));
}
