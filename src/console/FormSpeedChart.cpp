#include "FormSpeedChart.h"

#include "MessageBox.h"
#include "PanelParts.h"

#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <array>
#include <functional>
#include <sstream>

namespace {

struct TSpanItem {
  const char* Text;
  std::optional<std::int64_t> Ms; // none: the whole history
};

constexpr std::array<TSpanItem, 4> SpanItems{
    {{"10 s", 10'000}, {"1 min", 60'000}, {"10 min", 600'000}, {"All", std::nullopt}}};
constexpr int DefaultSpan = 1;
// About a point per pixel of the chart's width: Qt Charts lays a whole line out again on every
// change, so each point drawn costs time on every answer.
constexpr qsizetype MaxDrawn = 700;

// A value axis moves only when its line leaves it or fills less than a quarter of it: every move
// lays its labels out anew.
void FitValueAxis(QValueAxis* axis, const QList<QPointF>& points)
{
  // By iterators: the copying form trips a false "may be used uninitialized" in g++ 12 under ASan.
  const auto [lowest, highest] = std::ranges::minmax_element(points, {}, &QPointF::y);
  if (lowest == points.end())
    return;
  const double low = lowest->y();
  const double spread = std::max(highest->y() - low, 1.0);
  if (low >= axis->min() && highest->y() <= axis->max() && axis->max() - axis->min() <= 4 * spread)
    return;
  axis->setRange(low, low + spread);
  axis->applyNiceNumbers();
}

// Through a QSaveFile, so a failed save leaves an older file of that name whole.
bool WriteFile(const QString& path, const std::function<bool(QIODevice&)>& write)
{
  QSaveFile file(path);
  if (file.open(QIODevice::WriteOnly) && write(file) && file.commit())
    return true;
  ShowMessage(("Could not save " + path + ": " + file.errorString()).toStdString());
  return false;
}

} // namespace

TFormSpeedChart::TFormSpeedChart(QWidget* parent) : QWidget(parent, Qt::Tool)
{
  setObjectName("FormSpeedChart");
  setWindowTitle("Speed chart");
  resize(800, 450);
  BuildChart();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(BuildControls());
  layout->addWidget(ChartView, 1);
}

QWidget* TFormSpeedChart::BuildControls()
{
  auto* controls = new QWidget(this);
  BtnChartPause = Named<QPushButton>("BtnChartPause", controls, "Pause");
  BtnChartPause->setCheckable(true);
  connect(BtnChartPause, &QPushButton::toggled, this, &TFormSpeedChart::BtnChartPauseClick);
  CmbChartSpan = new QComboBox(controls);
  CmbChartSpan->setObjectName("CmbChartSpan");
  for (const TSpanItem& item : SpanItems)
    CmbChartSpan->addItem(item.Text);
  CmbChartSpan->setCurrentIndex(DefaultSpan);
  connect(CmbChartSpan, &QComboBox::currentIndexChanged, this, [this] {
    if (isVisible())
      Refill();
  });
  auto* saveCsv = Named<QPushButton>("BtnChartSaveCsv", controls, "Save CSV...");
  connect(saveCsv, &QPushButton::clicked, this, &TFormSpeedChart::BtnChartSaveCsvClick);
  auto* savePng = Named<QPushButton>("BtnChartSavePng", controls, "Save PNG...");
  connect(savePng, &QPushButton::clicked, this, &TFormSpeedChart::BtnChartSavePngClick);

  auto* row = new QHBoxLayout(controls);
  row->setContentsMargins(0, 0, 0, 0);
  row->addWidget(BtnChartPause);
  row->addWidget(new QLabel("Span:", controls));
  row->addWidget(CmbChartSpan);
  row->addStretch(1);
  row->addWidget(saveCsv);
  row->addWidget(savePng);
  return controls;
}

// The chart owns the series and the axes, the view's scene owns the chart.
void TFormSpeedChart::BuildChart()
{
  auto* chart = new QChart;
  chart->legend()->setAlignment(Qt::AlignBottom);
  RpmSeries = new QLineSeries;
  RpmSeries->setName("Output speed");
  RevolutionsSeries = new QLineSeries;
  RevolutionsSeries->setName("Revolution counter");
  TimeAxis = new QDateTimeAxis;
  TimeAxis->setFormat("hh:mm:ss");
  RpmAxis = new QValueAxis;
  RpmAxis->setTitleText("rpm");
  RevolutionsAxis = new QValueAxis;
  RevolutionsAxis->setTitleText("rev");
  chart->addSeries(RpmSeries);
  chart->addSeries(RevolutionsSeries);
  chart->addAxis(TimeAxis, Qt::AlignBottom);
  chart->addAxis(RpmAxis, Qt::AlignLeft);
  chart->addAxis(RevolutionsAxis, Qt::AlignRight);
  RpmSeries->attachAxis(TimeAxis);
  RpmSeries->attachAxis(RpmAxis);
  RevolutionsSeries->attachAxis(TimeAxis);
  RevolutionsSeries->attachAxis(RevolutionsAxis);
  ChartView = new QChartView(chart, this);
  ChartView->setObjectName("ChartSpeed");
}

void TFormSpeedChart::AddPoint(std::int64_t msSinceEpoch, double outputRpm, std::int64_t revolutions)
{
  SpeedHistory.Add({msSinceEpoch, outputRpm, revolutions});
  if (!Live())
    return;
  // A span holding more answers than are worth drawing is thinned again, once per MaxDrawn answers.
  if (RpmDrawn.size() >= 2 * MaxDrawn)
    return Refill();
  RpmDrawn.append({double(msSinceEpoch), outputRpm});
  RevolutionsDrawn.append({double(msSinceEpoch), double(revolutions)});
  DropBeforeSpan();
  if (!RedrawPending) {
    RedrawPending = true;
    QTimer::singleShot(RedrawPeriodMs, this, [this] {
      RedrawPending = false;
      Redraw();
    });
  }
}

int TFormSpeedChart::Span() const
{
  return CmbChartSpan->currentIndex();
}

void TFormSpeedChart::SetSpan(int index)
{
  if (index >= 0 && index < CmbChartSpan->count())
    CmbChartSpan->setCurrentIndex(index);
}

bool TFormSpeedChart::SaveCsv(const QString& path)
{
  std::ostringstream csv;
  SpeedHistory.WriteCsv(csv);
  const std::string text = csv.str();
  const auto size = qint64(text.size());
  return WriteFile(path, [&](QIODevice& file) { return file.write(text.data(), size) == size; });
}

bool TFormSpeedChart::SavePng(const QString& path)
{
  const QPixmap picture = ChartView->grab();
  return WriteFile(path, [&](QIODevice& file) { return picture.save(&file, "PNG"); });
}

// Paused, the view stays as it was; resuming brings in what came meanwhile.
void TFormSpeedChart::BtnChartPauseClick(bool paused)
{
  BtnChartPause->setText(paused ? "Resume" : "Pause");
  if (Live())
    Refill();
}

void TFormSpeedChart::BtnChartSaveCsvClick()
{
  const QString path = QFileDialog::getSaveFileName(this, "Save speed history", "speed.csv", "CSV files (*.csv)");
  if (!path.isEmpty())
    SaveCsv(path);
}

void TFormSpeedChart::BtnChartSavePngClick()
{
  const QString path = QFileDialog::getSaveFileName(this, "Save speed chart", "speed.png", "PNG images (*.png)");
  if (!path.isEmpty())
    SavePng(path);
}

// While hidden the series were left alone.
void TFormSpeedChart::showEvent(QShowEvent* event)
{
  QWidget::showEvent(event);
  if (Live())
    Refill();
}

bool TFormSpeedChart::Live() const
{
  return isVisible() && !BtnChartPause->isChecked();
}

std::optional<std::int64_t> TFormSpeedChart::SpanMs() const
{
  return SpanItems.at(std::size_t(Span())).Ms;
}

std::int64_t TFormSpeedChart::ShownFromMs() const
{
  const std::optional<std::int64_t> span = SpanMs();
  return span ? SpeedHistory.At(SpeedHistory.Size() - 1).TimeMs - *span : SpeedHistory.At(0).TimeMs;
}

void TFormSpeedChart::Refill()
{
  RpmDrawn.clear();
  RevolutionsDrawn.clear();
  for (const TSpeedPoint& point : SpeedHistory.Points(SpanMs(), MaxDrawn)) {
    RpmDrawn.append({double(point.TimeMs), point.OutputRpm});
    RevolutionsDrawn.append({double(point.TimeMs), double(point.Revolutions)});
  }
  Redraw();
}

void TFormSpeedChart::DropBeforeSpan()
{
  const double from = double(ShownFromMs());
  const auto old = std::ranges::find_if(RpmDrawn, [from](const QPointF& point) { return point.x() >= from; });
  const qsizetype count = old - RpmDrawn.begin();
  RpmDrawn.remove(0, count);
  RevolutionsDrawn.remove(0, count);
}

// Qt Charts lays a line out again on every change of its points and of its axes, even an append. The
// lines are empty while the axes move, which it skips, and then get all their points at once: one
// layout a line per answer instead of one for the append, one for the drop and one for the axes.
void TFormSpeedChart::Redraw()
{
  RpmSeries->clear();
  RevolutionsSeries->clear();
  if (RpmDrawn.isEmpty())
    return;
  const std::int64_t to = SpeedHistory.At(SpeedHistory.Size() - 1).TimeMs;
  const std::int64_t from = std::min(ShownFromMs(), to - 1000); // a lone point still gets a second of axis
  TimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
  FitValueAxis(RpmAxis, RpmDrawn);
  FitValueAxis(RevolutionsAxis, RevolutionsDrawn);
  RpmSeries->replace(RpmDrawn);
  RevolutionsSeries->replace(RevolutionsDrawn);
}
