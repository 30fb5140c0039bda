#include "console/FormSequence.h"

#include "bus/BusAddresses.h"
#include "console/SequenceSteps.h"
#include "console/SpeedText.h"
#include "files/NumberFormat.h"
#include "protocol/OzmCommands.h"
#include "widgets/PanelParts.h"

#include <QBoxLayout>
#include <QEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace {

QString LiveText(const TSample& sample, const std::string& gearRatio)
{
  if (sample.State != TSample::TState::Answered)
    return "no answer";
  double ratio = 1;
  ParseReal(gearRatio, ratio); // the file's ratio, already checked when it was read
  return RpmText(sample.SpeedRpm, ratio) + (sample.Direction ? " backward" : " forward");
}

// "$01, $02": the list as the panel shows it, which reads back as the same list.
std::string AddressListText(const std::vector<std::uint8_t>& addresses)
{
  std::string text;
  for (const std::uint8_t address : addresses)
    text += (text.empty() ? "" : ", ") + TOzmCommands::HexAddress(address);
  return text;
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
  BtnSequenceRun = Named<QPushButton>("BtnSequenceRun", this, "Run");
  BtnSequenceAbort = Named<QPushButton>("BtnSequenceAbort", this, "Abort (Esc)");
  BtnSequenceReport = Named<QPushButton>("BtnSequenceReport", this, "Open report");
  LblSequenceLive = Named<QLabel>("LblSequenceLive", this);
  LblSequenceNote = Named<QLabel>("LblSequenceNote", this);
  LblSequenceNote->setStyleSheet("QLabel { color: red; }");
  LblSequenceNote->setWordWrap(true);
  EditControllers = Named<QLineEdit>("EditSequenceControllers", this);
  EditControllers->setToolTip(ControllersTip);
  connect(EditControllers, &QLineEdit::editingFinished, this, &TFormSequence::ControllersEdited);
  Steps = new TSequenceSteps(this);
  connect(BtnSequenceRun, &QPushButton::clicked, this, &TFormSequence::AskRun);
  connect(BtnSequenceAbort, &QPushButton::clicked, this, &TFormSequence::AbortAsked);
  connect(BtnSequenceReport, &QPushButton::clicked, this, &TFormSequence::ReportAsked);
  SetReportAvailable(false);

  Fields = new QFormLayout;
  Fields->addRow("Sequence:", LblSequenceName);
  Fields->addRow("File:", LblSequenceFile);
  Fields->addRow("Controllers:", EditControllers);
  BuildSerialFields({});
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(BtnSequenceRun);
  buttons->addWidget(BtnSequenceAbort);
  buttons->addStretch(1);
  buttons->addWidget(BtnSequenceReport);
  Verdicts = new QHBoxLayout;
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(Fields);
  layout->addLayout(buttons);
  layout->addWidget(LblSequenceNote);
  layout->addWidget(Steps, 1);
  layout->addWidget(LblSequenceLive);
  layout->addLayout(Verdicts);
}

// With one controller (or none opened yet) the panel asks as it always did: one "Unit serial:".
// The serials come first in the tab order, before Run.
void TFormSequence::BuildSerialFields(const std::vector<std::uint8_t>& addresses)
{
  for (QLineEdit* field : SerialFields)
    Fields->removeRow(field);
  SerialFields.clear();
  const std::size_t count = std::max<std::size_t>(addresses.size(), 1);
  for (std::size_t index = 0; index < count; ++index) {
    const bool last = index + 1 == count;
    auto* field = Named<QLineEdit>(SerialFieldName(index).toLatin1().constData(), this);
    field->setToolTip(QString("Type or scan the unit's serial; Enter ") +
                      (last ? "runs the sequence" : "goes on to the next controller's"));
    connect(field, &QLineEdit::returnPressed, this, [this, index] { SerialEntered(index); });
    Fields->addRow(count == 1 ? QString("Unit serial:")
                              : QString::fromStdString("Unit serial " + TOzmCommands::HexAddress(addresses[index]) + ":"),
                   field);
    if (!SerialFields.empty())
      setTabOrder(SerialFields.back(), field);
    SerialFields.push_back(field);
  }
  setTabOrder(SerialFields.back(), BtnSequenceRun);
  FocusSerial(0); // ready for the first scan once the panel is shown
}

void TFormSequence::ControllersEdited()
{
  std::string typed = EditControllers->text().toStdString();
  std::erase_if(typed, [](unsigned char c) { return std::isspace(c); });
  try {
    const std::vector<std::uint8_t> addresses = TBusAddresses::Parse(typed);
    Say({});
    EditControllers->setText(QString::fromStdString(AddressListText(addresses)));
    if (addresses == Shown.Addresses)
      return;
    Shown.Addresses = addresses;
    BuildSerialFields(addresses);
    emit ControllersChosen(addresses);
  } catch (const std::invalid_argument& error) {
    Say(QString("Controllers: ") + error.what() + "; the run keeps " +
        QString::fromStdString(AddressListText(Shown.Addresses)));
    EditControllers->setText(QString::fromStdString(AddressListText(Shown.Addresses)));
  }
}

void TFormSequence::AskRun()
{
  const TUnitSerials units = Serials();
  for (std::size_t field = 0; field < SerialFields.size() && field < Shown.Addresses.size(); ++field)
    if (units.at(Shown.Addresses[field]).empty()) {
      Say(QString::fromStdString("Scan or type the unit serial of " + TOzmCommands::HexAddress(Shown.Addresses[field]) +
                                 " first: a verdict must name its unit."));
      FocusSerial(field);
      return;
    }
  Say({});
  emit RunAsked(units);
}

void TFormSequence::Say(const QString& text)
{
  LblSequenceNote->setText(text);
}

// A scanner ends each serial with Enter: the next controller's serial follows, the last one runs.
void TFormSequence::SerialEntered(std::size_t field)
{
  if (field + 1 < SerialFields.size())
    FocusSerial(field + 1);
  else
    AskRun();
}

// Selected, so that what is scanned next replaces the serial there.
void TFormSequence::FocusSerial(std::size_t field)
{
  SerialFields[field]->setFocus(Qt::OtherFocusReason);
  SerialFields[field]->selectAll();
}

QString TFormSequence::SerialFieldName(std::size_t field)
{
  return field == 0 ? QString("EditUnitSerial") : QString("EditUnitSerial%1").arg(field + 1);
}

TUnitSerials TFormSequence::Serials() const
{
  TUnitSerials units;
  for (std::size_t index = 0; index < Shown.Addresses.size() && index < SerialFields.size(); ++index)
    units[Shown.Addresses[index]] = SerialFields[index]->text().trimmed().toStdString();
  return units;
}

void TFormSequence::ShowSequence(const TSequence& sequence)
{
  Shown = sequence;
  LblSequenceName->setText(QString::fromStdString(sequence.Name));
  LblSequenceFile->setText(QString::fromStdString(sequence.File));
  EditControllers->setText(QString::fromStdString(AddressListText(sequence.Addresses)));
  Say({});
  Steps->Show(sequence);
  BuildSerialFields(sequence.Addresses);
  ClearVerdicts();
  SetRunning(false);
}

void TFormSequence::SetRunning(bool running)
{
  BtnSequenceRun->setEnabled(!running && !Shown.Steps.empty());
  BtnSequenceAbort->setEnabled(running);
  EditControllers->setReadOnly(running || Shown.Steps.empty());
  if (running)
    TimerSequenceTick->start();
  else
    TimerSequenceTick->stop();
}

void TFormSequence::SetReportAvailable(bool available)
{
  BtnSequenceReport->setEnabled(available);
}

std::string TFormSequence::UnitText(std::uint8_t address, const std::string& serial)
{
  return TOzmCommands::HexAddress(address) + (serial.empty() ? " no serial" : " unit " + serial);
}

std::string TFormSequence::VerdictLine(const TControllerResult& controller, const TRunResult& run)
{
  const std::string why = WhyNotPassed(controller, run.Why);
  return UnitText(controller.Address, controller.Unit) + " " + VerdictText(controller.Verdict) +
         (why.empty() ? "" : ": " + why);
}

void TFormSequence::RunBegun(const TRunResult&)
{
  Steps->Show(Shown);
  ClearVerdicts();
  Live.clear();
  ShowLive(false);
}

void TFormSequence::StepBegun(const std::string& path, const std::string& text, TClock::time_point planned,
                              double seconds)
{
  Steps->Begin(path, text, planned, seconds);
}

void TFormSequence::Sample(const TSample& sample)
{
  Live[sample.Address] = {LiveText(sample, Shown.Motor.GearRatio), QTime::currentTime()};
  ShowLive(false);
  emit Sampled(sample);
}

void TFormSequence::ShowLive(bool ended)
{
  QStringList text;
  for (const auto& [address, state] : Live)
    text << QString::fromStdString(TOzmCommands::HexAddress(address)) + "  " + state.first +
                (ended ? " at " + state.second.toString("HH:mm:ss") : QString());
  LblSequenceLive->setText((ended && !text.isEmpty() ? QString("last answers: ") : QString()) + text.join("     "));
  LblSequenceLive->setStyleSheet(ended ? "QLabel { color: gray; }" : QString());
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
  Steps->Finish(run);
  ShowLive(true); // the run has ended: nothing shown is live any more
  ShowVerdicts(run);
  FocusSerial(0); // the next units' serials, scanned, replace these
}

// Each controller's verdict big enough to read from the bench, its unit beside its address above
// and why it did not pass beneath. The first is chosen for Open report until another is clicked.
void TFormSequence::ShowVerdicts(const TRunResult& run)
{
  for (const TControllerResult& controller : run.Controllers) {
    const std::string why = WhyNotPassed(controller, run.Why);
    auto* verdict = Named<QLabel>(("LblVerdict" + TOzmCommands::HexByte(controller.Address)).c_str(), this);
    verdict->setText(QString("<div style='font-size:14pt'>%1</div>"
                             "<div style='font-size:28pt; font-weight:bold'>%2</div><div>%3</div>")
                         .arg(QString::fromStdString(UnitText(controller.Address, controller.Unit)).toHtmlEscaped(),
                              VerdictText(controller.Verdict), QString::fromStdString(why).toHtmlEscaped()));
    verdict->setProperty("verdict", static_cast<int>(controller.Verdict));
    verdict->setWordWrap(true);
    verdict->setAlignment(Qt::AlignCenter);
    verdict->setCursor(Qt::PointingHandCursor);
    verdict->installEventFilter(this);
    Verdicts->addWidget(verdict);
    VerdictLabels[controller.Address] = verdict;
  }
  if (!run.Controllers.empty())
    Choose(run.Controllers.front().Address);
}

bool TFormSequence::eventFilter(QObject* watched, QEvent* event)
{
  if (event->type() == QEvent::MouseButtonPress)
    for (const auto& [address, label] : VerdictLabels)
      if (label == watched)
        Choose(address);
  return QWidget::eventFilter(watched, event);
}

// The chosen verdict is framed.
void TFormSequence::Choose(std::uint8_t address)
{
  Chosen = address;
  for (const auto& [labelled, label] : VerdictLabels) {
    const auto verdict = static_cast<TVerdict>(label->property("verdict").toInt());
    label->setStyleSheet(QString("QLabel { background: %1; color: %2; padding: 8px; border: 4px solid %3; }")
                             .arg(TSequenceSteps::VerdictColour(verdict).name(),
                                  verdict == TVerdict::Aborted ? "black" : "white",
                                  labelled == address ? "black" : "transparent"));
  }
}

void TFormSequence::ClearVerdicts()
{
  VerdictLabels.clear();
  while (QLayoutItem* item = Verdicts->takeAt(0)) {
    delete item->widget();
    delete item;
  }
}
