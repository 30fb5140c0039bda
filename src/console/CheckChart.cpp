#include "console/CheckChart.h"

#include "console/ChartReset.h"
#include "sequence/SequenceResult.h"

#include <QAreaSeries>
#include <QChartView>
#include <QComboBox>
#include <QLabel>
#include <QLineSeries>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

namespace {

QString Number(double value)
{
  return QString::fromStdString(NumberText(value));
}

QString Limits(const TCheckSpread& check)
{
  return (check.Low ? Number(*check.Low) : QString()) + ".." + (check.High ? Number(*check.High) : QString());
}

QString ChoiceText(const TCheckSpread& check)
{
  return QString::fromStdString(check.Check) + " (" + Limits(check) + " " + QString::fromStdString(check.Measure) + ")";
}

} // namespace

TCheckChart::TCheckChart(QWidget* parent) : QWidget(parent)
{
  auto* column = new QVBoxLayout(this);
  Choice = new QComboBox(this);
  Choice->setObjectName("ComboRecordsCheck");
  Choice->setToolTip("The check whose values are drawn (its limits in brackets)");
  View = new QChartView(this);
  View->setObjectName("ChartRecordsCheck");
  View->setRenderHint(QPainter::Antialiasing);
  View->chart()->legend()->setAlignment(Qt::AlignBottom);
  Words = new QLabel(this);
  Words->setObjectName("LabelRecordsCheck");
  Words->setTextInteractionFlags(Qt::TextSelectableByMouse);
  column->addWidget(Choice);
  column->addWidget(View, 1);
  column->addWidget(Words);
  connect(Choice, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index >= 0 && static_cast<std::size_t>(index) < Spreads.size())
      emit CheckChosen(index);
  });
}

void TCheckChart::SetChecks(const std::vector<TCheckSpread>& checks)
{
  Spreads = checks;
  const QSignalBlocker quiet(Choice);
  Choice->clear();
  for (const TCheckSpread& check : Spreads)
    Choice->addItem(ChoiceText(check));
  Clear(Spreads.empty() ? "No check of this sequence measured a value" : "");
  if (!Spreads.empty())
    emit CheckChosen(0);
}

QString TCheckChart::Summary(const TCheckSpread& check)
{
  const QString unit = check.Measure.empty() ? QString() : " " + QString::fromStdString(check.Measure);
  return QString("n %1, mean %2%3, sd %4, min %5, max %6, limits %7: Cpk %8")
      .arg(check.N)
      .arg(Number(check.Mean), unit, Number(check.Deviation), Number(check.Min), Number(check.Max), Limits(check),
           check.Cpk ? Number(*check.Cpk) : "cannot be computed");
}

void TCheckChart::Clear(const QString& title)
{
  ResetChart(*View->chart(), title);
  Words->clear();
}

// The bins drawn as steps over a value axis, so that the limits and the mean fall where they are.
void TCheckChart::Show(const TCheckSpread& check, const std::vector<double>& values)
{
  Clear(QString::fromStdString(check.Check));
  const THistogram histogram = THistogram::Of(values, check.Low, check.High, Bins);
  if (histogram.Counts.empty())
    return;
  auto* steps = new QLineSeries;
  steps->append(histogram.From, 0);
  for (std::size_t bin = 0; bin < histogram.Counts.size(); ++bin) {
    const double left = histogram.From + histogram.Width * static_cast<double>(bin);
    const auto count = static_cast<double>(histogram.Counts[bin]);
    steps->append(left, count);
    steps->append(left + histogram.Width, count);
  }
  steps->append(histogram.To(), 0);
  auto* area = new QAreaSeries(steps);
  steps->setParent(area); // an area does not own the line it spans to
  area->setName(ValuesName);
  QChart* chart = View->chart();
  chart->addSeries(area);
  auto* valueAxis = new QValueAxis;
  valueAxis->setRange(histogram.From, histogram.To());
  valueAxis->setTitleText(QString::fromStdString(check.Measure));
  auto* countAxis = new QValueAxis;
  const double top = static_cast<double>(*std::max_element(histogram.Counts.begin(), histogram.Counts.end()));
  countAxis->setRange(0, top * 1.1);
  countAxis->setTitleText("runs");
  chart->addAxis(valueAxis, Qt::AlignBottom);
  chart->addAxis(countAxis, Qt::AlignLeft);
  area->attachAxis(valueAxis);
  area->attachAxis(countAxis);
  if (check.Low)
    AddLine(LowName, *check.Low, top * 1.1, Qt::SolidLine);
  if (check.High)
    AddLine(HighName, *check.High, top * 1.1, Qt::SolidLine);
  AddLine(MeanName, check.Mean, top * 1.1, Qt::DashLine);
  Words->setText(Summary(check));
}

void TCheckChart::AddLine(const QString& name, double x, double top, Qt::PenStyle style)
{
  QChart* chart = View->chart();
  auto* line = new QLineSeries;
  line->setName(name);
  line->append(x, 0);
  line->append(x, top);
  QPen pen = line->pen();
  pen.setStyle(style);
  pen.setWidth(2);
  line->setPen(pen);
  chart->addSeries(line);
  for (QAbstractAxis* axis : chart->axes())
    line->attachAxis(axis);
}
