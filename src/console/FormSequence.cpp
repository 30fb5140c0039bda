#include "FormSequence.h"

#include "OzmCommands.h"
#include "PanelParts.h"
#include "SequenceSteps.h"

#include <QBoxLayout>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

namespace {

QString LiveText(const TSample& sample)
{
  if (sample.State != TSample::TState::Answered)
    return "no answer";
  return QString::number(sample.SpeedRpm, 'f', 1) + " rpm " + (sample.Direction ? "backward" : "forward");
}

} // namespace

TFormSequence::TFormSequence(QWidget* parent) : QWidget(parent, Qt::Window)
{
  setObjectName("FormSequence");
  setWindowTitle("Sequence");
  resize(560, 520);
  BuildWindow();
  TimerSequenceTick = new QTimer(this);
  TimerSequenceTick->setObjectName("TimerSequenceTick");
  TimerSequenceTick->setInterval(TickInterval);
  connect(TimerSequenceTick, &QTimer::timeout, Steps, &TSequenceSteps::Tick);
  SetRunning(false);
}

void TFormSequence::BuildWindow()
{
  LblSequenceName = Named<QLabel>("LblSequenceName", this, "no sequence opened (Sequence > Open sequence...)");
  LblSequenceFile = Named<QLabel>("LblSequenceFile", this);
  LblSequenceFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
  EditUnitSerial = Named<QLineEdit>("EditUnitSerial", this);
  EditUnitSerial->setToolTip("Type or scan the unit's serial; Enter runs the sequence");
  BtnSequenceRun = Named<QPushButton>("BtnSequenceRun", this, "Run");
  BtnSequenceAbort = Named<QPushButton>("BtnSequenceAbort", this, "Abort (Esc)");
  BtnSequenceReport = Named<QPushButton>("BtnSequenceReport", this, "Open report");
  LblSequenceLive = Named<QLabel>("LblSequenceLive", this);
  Steps = new TSequenceSteps(this);
  const auto run = [this] { emit RunAsked(EditUnitSerial->text().trimmed()); };
  connect(EditUnitSerial, &QLineEdit::returnPressed, this, run);
  connect(BtnSequenceRun, &QPushButton::clicked, this, run);
  connect(BtnSequenceAbort, &QPushButton::clicked, this, &TFormSequence::AbortAsked);
  connect(BtnSequenceReport, &QPushButton::clicked, this, &TFormSequence::ReportAsked);
  SetReportAvailable(false);

  auto* fields = new QFormLayout;
  fields->addRow("Sequence:", LblSequenceName);
  fields->addRow("File:", LblSequenceFile);
  fields->addRow("Unit serial:", EditUnitSerial);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(BtnSequenceRun);
  buttons->addWidget(BtnSequenceAbort);
  buttons->addStretch(1);
  buttons->addWidget(BtnSequenceReport);
  Verdicts = new QHBoxLayout;
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(buttons);
  layout->addWidget(Steps, 1);
  layout->addWidget(LblSequenceLive);
  layout->addLayout(Verdicts);
}

void TFormSequence::ShowSequence(const TSequence& sequence)
{
  Shown = sequence;
  LblSequenceName->setText(QString::fromStdString(sequence.Name));
  LblSequenceFile->setText(QString::fromStdString(sequence.File));
  Steps->Show(sequence);
  ClearVerdicts();
  SetRunning(false);
}

void TFormSequence::SetRunning(bool running)
{
  BtnSequenceRun->setEnabled(!running && !Shown.Steps.empty());
  BtnSequenceAbort->setEnabled(running);
  if (running)
    TimerSequenceTick->start();
  else
    TimerSequenceTick->stop();
}

void TFormSequence::SetReportAvailable(bool available)
{
  BtnSequenceReport->setEnabled(available);
}

std::string TFormSequence::VerdictLine(const TControllerResult& controller, const TRunResult& run)
{
  const std::string why = WhyNotPassed(controller, run.Why);
  return TOzmCommands::HexAddress(controller.Address) + " " + VerdictText(controller.Verdict) +
         (why.empty() ? "" : ": " + why);
}

void TFormSequence::RunBegun(const TRunResult&)
{
  Steps->Show(Shown);
  ClearVerdicts();
  Live.clear();
  LblSequenceLive->clear();
}

void TFormSequence::StepBegun(const std::string& path, const std::string& text, TClock::time_point planned,
                              double seconds)
{
  Steps->Begin(path, text, planned, seconds);
}

void TFormSequence::Sample(const TSample& sample)
{
  Live[sample.Address] = LiveText(sample);
  QStringList text;
  for (const auto& [address, state] : Live)
    text << QString::fromStdString(TOzmCommands::HexAddress(address)) + "  " + state;
  LblSequenceLive->setText(text.join("     "));
}

void TFormSequence::CheckDecided(std::uint8_t address, const std::string& path, const TCheckResult& check)
{
  Steps->AddCheck(address, path, check);
}

void TFormSequence::StepEnded(std::uint8_t address, const TStepResult& step)
{
  Steps->EndStep(address, step);
}

void TFormSequence::RunEnded(const TRunResult& run)
{
  Steps->Finish();
  ShowVerdicts(run);
  EditUnitSerial->selectAll(); // the next unit's serial, scanned, replaces this one
}

// Each controller's verdict big enough to read from the bench, with why it did not pass beneath.
void TFormSequence::ShowVerdicts(const TRunResult& run)
{
  for (const TControllerResult& controller : run.Controllers) {
    const std::string why = WhyNotPassed(controller, run.Why);
    auto* verdict = Named<QLabel>(("LblVerdict" + TOzmCommands::HexByte(controller.Address)).c_str(), this);
    verdict->setText(QString("<div style='font-size:28pt; font-weight:bold'>%1 %2</div><div>%3</div>")
                         .arg(QString::fromStdString(TOzmCommands::HexAddress(controller.Address)),
                              VerdictText(controller.Verdict), QString::fromStdString(why).toHtmlEscaped()));
    verdict->setWordWrap(true);
    verdict->setAlignment(Qt::AlignCenter);
    verdict->setStyleSheet(QString("QLabel { background: %1; color: %2; padding: 8px; }")
                               .arg(TSequenceSteps::VerdictColour(controller.Verdict).name(),
                                    controller.Verdict == TVerdict::Aborted ? "black" : "white"));
    Verdicts->addWidget(verdict);
  }
}

void TFormSequence::ClearVerdicts()
{
  while (QLayoutItem* item = Verdicts->takeAt(0)) {
    delete item->widget();
    delete item;
  }
}
