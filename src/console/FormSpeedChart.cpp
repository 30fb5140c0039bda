#include "console/FormSpeedChart.h"

#include "console/BusChartLines.h"
#include "protocol/OzmCommands.h"
#include "widgets/MessageBox.h"
#include "widgets/PanelParts.h"

#include <QChartView>
#include <QComboBox>
#include <QDate>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <array>
#include <functional>
#include <limits>
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
const QString RpmName = "Output speed";
const QString RevolutionsName = "Revolution counter";
// The newest markers of the span get a line each; more would cost a layout each for little.
constexpr qsizetype MaxMarkersDrawn = 100;
// As many Run and Stop markers as a long day of work gives.
constexpr std::size_t MaxMarkersKept = 10'000;

QPen MarkerPen(bool run, bool answered)
{
  return QPen(run ? Qt::darkGreen : Qt::red, 1, answered ? Qt::SolidLine : Qt::DashLine);
}

// A value axis moves only when its lines leave it or fill less than a quarter of it: every move
// lays its labels out anew.
void FitValueAxis(QValueAxis* axis, const QList<QList<QPointF>>& stretches, const QList<QList<QPointF>>& more = {})
{
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (const QList<QPointF>& points : stretches + more)
    for (const QPointF& point : points) {
      low = std::min(low, point.y());
      high = std::max(high, point.y());
    }
  if (low > high)
    return; // no points
  const double spread = std::max(high - low, 1.0);
  if (low >= axis->min() && high <= axis->max() && axis->max() - axis->min() <= 4 * spread)
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

TFormSpeedChart::~TFormSpeedChart() = default;

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
  TimeAxis = new QDateTimeAxis;
  TimeAxis->setFormat("hh:mm:ss");
  RpmAxis = new QValueAxis;
  RpmAxis->setTitleText("rpm");
  RevolutionsAxis = new QValueAxis;
  RevolutionsAxis->setTitleText("rev");
  chart->addAxis(TimeAxis, Qt::AlignBottom);
  chart->addAxis(RpmAxis, Qt::AlignLeft);
  chart->addAxis(RevolutionsAxis, Qt::AlignRight);
  ChartView = new QChartView(chart, this);
  ChartView->setObjectName("ChartSpeed");
  RpmSeries.append(AddLine(RpmName, RpmAxis, nullptr));
  RevolutionsSeries.append(AddLine(RevolutionsName, RevolutionsAxis, nullptr));
  Lines = std::make_unique<TBusChartLines>(*chart, *TimeAxis, *RpmAxis, [this] {
    if (Live())
      ScheduleRedraw();
  });
  // The marks' own lines stay out of the legend (there may be a hundred); these say what they mean.
  AddLegendEntry("Run", MarkerPen(true, true));
  AddLegendEntry("Stop", MarkerPen(false, true));
  AddLegendEntry("dashed: no answer", MarkerPen(true, false));
}

void TFormSpeedChart::AddLegendEntry(const QString& name, const QPen& pen)
{
  auto* entry = new QLineSeries;
  entry->setName(name);
  entry->setPen(pen);
  ChartView->chart()->addSeries(entry);
  entry->attachAxis(TimeAxis);
  entry->attachAxis(RpmAxis);
}

QString TFormSpeedChart::TMarker::Name() const
{
  return QString(Run ? "Run" : "Stop") + (Answered ? "" : " unanswered");
}

// A line after the first of its kind looks like it and stays out of the legend.
QLineSeries* TFormSpeedChart::AddLine(const QString& name, QValueAxis* axis, const QLineSeries* like)
{
  QChart* chart = ChartView->chart();
  auto* line = new QLineSeries;
  line->setName(name);
  chart->addSeries(line);
  line->attachAxis(TimeAxis);
  line->attachAxis(axis);
  if (like) {
    line->setPen(like->pen());
    for (QLegendMarker* marker : chart->legend()->markers(line))
      marker->setVisible(false);
  }
  return line;
}

void TFormSpeedChart::AddPoint(std::int64_t msSinceEpoch, double outputRpm, std::int64_t revolutions,
                               std::uint8_t address)
{
  const TSpeedPoint point{msSinceEpoch, outputRpm, revolutions, address};
  SpeedHistory.Add(point);
  if (!Live())
    return;
  // A span holding more answers than are worth drawing is thinned again, once per MaxDrawn answers.
  qsizetype drawn = 0;
  for (const QList<QPointF>& points : RpmDrawn)
    drawn += points.size();
  if (drawn >= 2 * MaxDrawn)
    return Refill();
  const std::size_t size = SpeedHistory.Size();
  if (RpmDrawn.isEmpty() || size < 2 || TSpeedHistory::Apart(SpeedHistory.At(size - 2), point, GapMs)) {
    RpmDrawn.emplace_back();
    RevolutionsDrawn.emplace_back();
    AddressDrawn.append(address);
  }
  RpmDrawn.last().append({double(msSinceEpoch), outputRpm});
  RevolutionsDrawn.last().append({double(msSinceEpoch), double(revolutions)});
  DropBeforeSpan();
  ScheduleRedraw();
}

void TFormSpeedChart::AddMarker(std::int64_t msSinceEpoch, bool run, bool answered)
{
  Markers.push_back({msSinceEpoch, run, answered});
  if (Markers.size() > MaxMarkersKept)
    Markers.erase(Markers.begin());
  if (Live())
    ScheduleRedraw();
}

void TFormSpeedChart::ScheduleRedraw()
{
  if (RedrawPending)
    return;
  RedrawPending = true;
  QTimer::singleShot(RedrawPeriodMs, this, [this] {
    RedrawPending = false;
    Redraw();
  });
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
  std::vector<TSpeedEvent> events;
  for (const TMarker& marker : Markers)
    events.push_back({marker.TimeMs, marker.Name().toStdString()});
  std::ostringstream csv;
  SpeedHistory.WriteCsv(csv, events);
  const std::string text = csv.str();
  const auto size = qint64(text.size());
  return Save(path, "csv", [&](QIODevice& file) { return file.write(text.data(), size) == size; });
}

bool TFormSpeedChart::SavePng(const QString& path)
{
  const QPixmap picture = ChartView->grab();
  return Save(path, "png", [&](QIODevice& file) { return picture.save(&file, "PNG"); });
}

bool TFormSpeedChart::Save(QString path, const char* extension,
                           const std::function<bool(QIODevice&)>& write)
{
  if (QFileInfo(path).suffix().isEmpty())
    path += QString(".") + extension;
  if (!WriteFile(path, write))
    return false;
  LastSaveFolder = QFileInfo(path).absolutePath();
  return true;
}

// A name of the day in the last folder saved to; the extension comes with Save when none is typed.
QString TFormSpeedChart::ChooseSavePath(const char* title, const char* extension, const char* filter)
{
  QString name = "ozmet-speed-" + QDate::currentDate().toString(Qt::ISODate) + "." + extension;
  if (!LastSaveFolder.isEmpty())
    name = LastSaveFolder + "/" + name;
  return QFileDialog::getSaveFileName(this, title, name, filter);
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
  const QString path = ChooseSavePath("Save speed history", "csv", "CSV files (*.csv)");
  if (!path.isEmpty())
    SaveCsv(path);
}

void TFormSpeedChart::BtnChartSavePngClick()
{
  const QString path = ChooseSavePath("Save speed chart", "png", "PNG images (*.png)");
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

std::optional<std::pair<std::int64_t, std::int64_t>> TFormSpeedChart::Extent() const
{
  std::optional<std::pair<std::int64_t, std::int64_t>> extent = Lines->Extent();
  if (SpeedHistory.Size() == 0)
    return extent;
  const std::int64_t oldest = SpeedHistory.At(0).TimeMs;
  const std::int64_t newest = SpeedHistory.At(SpeedHistory.Size() - 1).TimeMs;
  return extent ? std::pair{std::min(extent->first, oldest), std::max(extent->second, newest)}
                : std::pair{oldest, newest};
}

std::int64_t TFormSpeedChart::ShownFromMs() const
{
  const std::optional<std::int64_t> span = SpanMs();
  const auto [oldest, newest] = Extent().value();
  return span ? newest - *span : oldest;
}

void TFormSpeedChart::Refill()
{
  RpmDrawn.clear();
  RevolutionsDrawn.clear();
  AddressDrawn.clear();
  for (const std::vector<TSpeedPoint>& stretch : SpeedHistory.Stretches(SpanMs(), MaxDrawn, GapMs)) {
    AddressDrawn.append(stretch.front().Address);
    QList<QPointF>& rpm = RpmDrawn.emplace_back();
    QList<QPointF>& revolutions = RevolutionsDrawn.emplace_back();
    for (const TSpeedPoint& point : stretch) {
      rpm.append({double(point.TimeMs), point.OutputRpm});
      revolutions.append({double(point.TimeMs), double(point.Revolutions)});
    }
  }
  Redraw();
}

void TFormSpeedChart::DropBeforeSpan()
{
  const double from = double(ShownFromMs());
  while (!RpmDrawn.isEmpty()) {
    QList<QPointF>& rpm = RpmDrawn.first();
    const auto old = std::ranges::find_if(rpm, [from](const QPointF& point) { return point.x() >= from; });
    const qsizetype count = old - rpm.begin();
    if (count < rpm.size()) {
      rpm.remove(0, count);
      RevolutionsDrawn.first().remove(0, count);
      return;
    }
    RpmDrawn.removeFirst();
    RevolutionsDrawn.removeFirst();
    AddressDrawn.removeFirst();
  }
}

// Qt Charts lays a line out again on every change of its points and of its axes, even an append. The
// lines are empty while the axes move, which it skips, and then get all their points at once: one
// layout a line per answer instead of one for the append, one for the drop and one for the axes.
void TFormSpeedChart::Redraw()
{
  for (const QList<QLineSeries*>* lines : {&RpmSeries, &RevolutionsSeries, &MarkerSeries})
    for (QLineSeries* line : *lines)
      if (line->count())
        line->clear();
  Lines->Clear();
  const std::optional<std::pair<std::int64_t, std::int64_t>> extent = Extent();
  if (!extent) {
    // No answers yet: the span up to now, rather than ticks that all read the epoch's midnight.
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    const std::int64_t from = now - SpanMs().value_or(60'000);
    TimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(now));
    DrawMarkers(from, now); // what was sent to a controller that never answered
    return;
  }
  if (!RpmDrawn.isEmpty())
    DropBeforeSpan(); // the span may end at a newer answer of a bus line
  // A Stop comes after the last answer, as polling stops with it: the axis reaches it.
  const std::int64_t newest = extent->second;
  const std::int64_t to = Markers.empty() ? newest : std::max(newest, Markers.back().TimeMs);
  std::int64_t from = std::min(ShownFromMs(), to - 1000); // a lone point still gets a second of axis
  if (!SpanMs() && !Markers.empty())
    from = std::min(from, Markers.front().TimeMs); // a Run comes before its first answer
  TimeAxis->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));
  FitValueAxis(RpmAxis, RpmDrawn, Lines->Take(from, MaxDrawn, GapMs));
  FitValueAxis(RevolutionsAxis, RevolutionsDrawn);
  while (RpmSeries.size() < RpmDrawn.size()) {
    RpmSeries.append(AddLine(RpmSeries.first()->name(), RpmAxis, RpmSeries.first()));
    RevolutionsSeries.append(AddLine(RevolutionsSeries.first()->name(), RevolutionsAxis, RevolutionsSeries.first()));
  }
  for (qsizetype i = 0; i < RpmDrawn.size(); ++i) {
    RpmSeries[i]->replace(RpmDrawn[i]);
    RevolutionsSeries[i]->replace(RevolutionsDrawn[i]);
  }
  NameLines();
  Lines->Draw();
  DrawMarkers(from, to);
}

void TFormSpeedChart::NameLines()
{
  QLegend* legend = ChartView->chart()->legend();
  for (qsizetype i = 0; i < RpmSeries.size(); ++i) {
    // A line beyond the stretches drawn is empty: out of the legend.
    const bool drawn = i < AddressDrawn.size();
    const bool first = i == 0 || (drawn && AddressDrawn.indexOf(AddressDrawn[i]) == i);
    const QString suffix = drawn ? QString::fromStdString(" " + TOzmCommands::HexAddress(AddressDrawn[i])) : QString();
    for (auto [line, name] : {std::pair{RpmSeries[i], RpmName}, std::pair{RevolutionsSeries[i], RevolutionsName}}) {
      line->setName(name + suffix);
      for (QLegendMarker* marker : legend->markers(line))
        marker->setVisible(first);
    }
  }
}

// From the bottom of the speed axis to its top, green for Run and red for Stop, dashed unanswered.
void TFormSpeedChart::DrawMarkers(std::int64_t from, std::int64_t to)
{
  qsizetype drawn = 0;
  for (auto marker = Markers.rbegin(); marker != Markers.rend() && drawn < MaxMarkersDrawn; ++marker) {
    if (marker->TimeMs > to || marker->TimeMs < from)
      continue;
    if (MarkerSeries.size() <= drawn)
      MarkerSeries.append(AddLine({}, RpmAxis, RpmSeries.first()));
    QLineSeries* line = MarkerSeries[drawn++];
    const QString name = marker->Name();
    if (line->name() != name) {
      line->setName(name);
      line->setPen(MarkerPen(marker->Run, marker->Answered));
    }
    const double x = double(marker->TimeMs);
    line->replace({{x, RpmAxis->min()}, {x, RpmAxis->max()}});
  }
}
