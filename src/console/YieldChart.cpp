#include "console/YieldChart.h"

#include "console/ChartReset.h"
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QValueAxis>

TYieldChart::TYieldChart(QWidget* parent) : QChartView(parent)
{
  setObjectName("ChartRecordsYield");
  setRenderHint(QPainter::Antialiasing);
  chart()->legend()->setAlignment(Qt::AlignBottom);
}

void TYieldChart::Show(const QString& title, const std::vector<TYield>& days)
{
  QChart* view = chart();
  ResetChart(*view, title);
  if (days.empty())
    return;
  auto* first = new QBarSet(FirstPassName);
  auto* final = new QBarSet(FinalName);
  QStringList categories;
  for (const TYield& day : days) {
    const double units = static_cast<double>(day.Units);
    first->append(100.0 * static_cast<double>(day.FirstPassed) / units);
    final->append(100.0 * static_cast<double>(day.FinallyPassed) / units);
    categories << QString::fromStdString(day.Group) + QString(" (%1)").arg(day.Units);
  }
  auto* series = new QBarSeries;
  series->append({first, final});
  view->addSeries(series);
  auto* dayAxis = new QBarCategoryAxis;
  dayAxis->append(categories);
  dayAxis->setTitleText("day (units)");
  auto* percent = new QValueAxis;
  percent->setRange(0, 100);
  percent->setTitleText("%");
  view->addAxis(dayAxis, Qt::AlignBottom);
  view->addAxis(percent, Qt::AlignLeft);
  series->attachAxis(dayAxis);
  series->attachAxis(percent);
}
