#include "console/SequenceSteps.h"

#include "protocol/OzmCommands.h"
#include "sequence/SequenceJudge.h"

#include <QHeaderView>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>

namespace {

using TKind = TSequenceStep::TKind;

// Two decimals at most, and none that say nothing: "0.56", "300", "582.5".
QString Number(double value)
{
  return QString::number(value, 'f', 2).remove(QRegularExpression("\\.?0+$"));
}

// What the file asks of the step, until the runner's own words replace it as it begins.
QString Described(const TSequenceStep& step)
{
  QString text = StepKindText(step.Kind);
  if (step.Kind == TKind::Run)
    text += QString(" %1 rpm %2")
                .arg(QString::fromStdString(step.Work.Speed), step.Work.Direction ? "backward" : "forward");
  else if (step.Kind == TKind::Wait || step.Kind == TKind::Hold)
    text += " " + Number(step.Seconds) + " s";
  else if (step.Kind == TKind::Repeat)
    text += QString(" %1 times").arg(step.Times);
  QStringList checks;
  for (const TSequenceCheck& check : step.Checks)
    checks << (check.Name.empty() ? CheckKindText(check.Kind) : QString::fromStdString(check.Name));
  return checks.isEmpty() ? text : text + ": " + checks.join(", ");
}

// "$00  speed forward: 598.2 rpm (582..618)"
QString CheckText(std::uint8_t address, const TCheckResult& check)
{
  QString text = QString::fromStdString(TOzmCommands::HexAddress(address) + "  " + check.Name);
  const QString unit = check.Unit.empty() ? "" : " " + QString::fromStdString(check.Unit);
  // A count reads as what was counted, out of how many: "feedback off: 0 of 24 samples (at most 0)".
  if (const std::string counted = TSequenceJudge::Counted(check); !counted.empty())
    return text + ": " + QString::fromStdString(counted) + unit +
           (check.High ? QString(" (at most %1)").arg(Number(*check.High)) : QString());
  if (check.Measured)
    text += ": " + Number(*check.Measured) + unit;
  if (check.Low || check.High)
    text +=
        QString("  (%1..%2%3)").arg(check.Low ? Number(*check.Low) : "", check.High ? Number(*check.High) : "", unit);
  return text;
}

TVerdict VerdictOf(const QTreeWidgetItem* item)
{
  return static_cast<TVerdict>(item->data(TSequenceSteps::ColResult, Qt::UserRole).toInt());
}

bool IsResult(const QTreeWidgetItem* item)
{
  return item->data(TSequenceSteps::ColStep, Qt::UserRole).toBool();
}

} // namespace

TSequenceSteps::TSequenceSteps(QWidget* parent) : QTreeWidget(parent)
{
  setObjectName("TreeSequenceSteps");
  setColumnCount(ColumnCount);
  setHeaderLabels({"Step", "Time", "Result"});
  header()->setSectionResizeMode(ColStep, QHeaderView::Stretch);
  header()->setStretchLastSection(false);
  setSelectionMode(QAbstractItemView::NoSelection);
}

QColor TSequenceSteps::VerdictColour(TVerdict verdict)
{
  switch (verdict) {
  case TVerdict::Pass: return {0x1a, 0x7f, 0x37};
  case TVerdict::Fail: return {0xc0, 0x1c, 0x28};
  default: return {0xe5, 0xa5, 0x00}; // amber: neither passed nor failed
  }
}

void TSequenceSteps::Show(const TSequence& sequence)
{
  Current = nullptr;
  clear();
  new QTreeWidgetItem(this, {QString::fromStdString(MotorStepText(sequence.Motor))});
  AddSteps(invisibleRootItem(), sequence.Steps);
  expandAll();
}

void TSequenceSteps::AddSteps(QTreeWidgetItem* parent, const std::vector<TSequenceStep>& steps)
{
  for (const TSequenceStep& step : steps) {
    auto* item = new QTreeWidgetItem(parent, {Described(step)});
    if (step.Kind == TKind::Repeat) {
      item->setData(ColTime, Qt::UserRole, step.Times);
      AddSteps(item, step.Steps);
    }
  }
}

// Each repeat on the way shows which time it is on.
QTreeWidgetItem* TSequenceSteps::ItemAt(const std::string& path)
{
  const QStringList parts = QString::fromStdString(path).split('.');
  QTreeWidgetItem* item = topLevelItem(parts[0].toInt());
  for (qsizetype part = 1; item && part + 1 < parts.size(); part += 2) {
    item->setText(ColTime, parts[part] + " of " + item->data(ColTime, Qt::UserRole).toString());
    item = item->child(parts[part + 1].toInt() - 1);
  }
  return item;
}

void TSequenceSteps::Begin(const std::string& path, const std::string& text, TClock::time_point planned, double seconds)
{
  Mark(false);
  Current = ItemAt(path);
  if (!Current)
    return;
  Current->setText(ColStep, QString::fromStdString(text));
  for (int child = Current->childCount() - 1; child >= 0; --child)
    if (IsResult(Current->child(child)) && VerdictOf(Current->child(child)) == TVerdict::Pass)
      delete Current->child(child);
  Ends.reset();
  if (seconds > 0)
    Ends = planned + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds));
  Mark(true);
  Tick();
  scrollToItem(Current);
}

void TSequenceSteps::AddCheck(std::uint8_t address, const std::string& path, const TCheckResult& check)
{
  if (QTreeWidgetItem* step = ItemAt(path))
    AddResult(step, CheckText(address, check), check.Verdict, QString::fromStdString(check.Why));
}

// A step is as bad as its worst controller, at its worst time.
void TSequenceSteps::EndStep(std::uint8_t address, const TStepResult& step)
{
  QTreeWidgetItem* item = ItemAt(step.Path);
  if (!item)
    return;
  if (step.Skipped) { // not gone through: it has no verdict to show, neither passed nor failed
    item->setText(ColResult, "skipped");
    item->setForeground(ColResult, QColor(Qt::gray));
    return;
  }
  if (!step.Why.empty())
    AddResult(item, QString::fromStdString(TOzmCommands::HexAddress(address) + "  " + step.Why), step.Verdict,
              QString::fromStdString(step.Why));
  ShowVerdict(item, WorseVerdict(VerdictOf(item), step.Verdict));
}

void TSequenceSteps::Finish(const TRunResult& run)
{
  Mark(false);
  Current = nullptr;
  QTreeWidgetItem* whole = nullptr;
  for (const TControllerResult& controller : run.Controllers)
    for (const TCheckResult& check : controller.Checks) {
      if (!whole)
        whole = new QTreeWidgetItem(this, {"whole run"});
      AddResult(whole, CheckText(controller.Address, check), check.Verdict, QString::fromStdString(check.Why));
    }
}

void TSequenceSteps::Tick()
{
  if (!Current || !Ends)
    return;
  const double left = std::max(0.0, std::chrono::duration<double>(*Ends - TClock::now()).count());
  Current->setText(ColTime, QString::number(left, 'f', 1) + " s left");
}

void TSequenceSteps::AddResult(QTreeWidgetItem* step, const QString& text, TVerdict verdict, const QString& why)
{
  auto* result = new QTreeWidgetItem(step, {text});
  result->setData(ColStep, Qt::UserRole, true);
  result->setToolTip(ColStep, why);
  ShowVerdict(result, verdict);
  step->setExpanded(true);
}

void TSequenceSteps::ShowVerdict(QTreeWidgetItem* item, TVerdict verdict)
{
  item->setText(ColResult, VerdictText(verdict));
  item->setForeground(ColResult, VerdictColour(verdict));
  item->setData(ColResult, Qt::UserRole, static_cast<int>(verdict));
}

void TSequenceSteps::Mark(bool on)
{
  if (!Current)
    return;
  QFont font = Current->font(ColStep);
  font.setBold(on);
  for (int column = 0; column < ColumnCount; ++column) {
    Current->setFont(column, font);
    Current->setBackground(column, on ? QBrush(QColor(0xff, 0xf3, 0xc4)) : QBrush());
  }
  if (!on)
    Current->setText(ColTime, "");
}
