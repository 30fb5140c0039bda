#include "console/BusChartLines.h"

#include "bus/BusList.h"
#include "protocol/OzmCommands.h"

#include <QChart>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>

#include <algorithm>
#include <array>

namespace {

// Apart from the panel's own lines (the theme's blue and green) and the Run and Stop marks (green, red).
constexpr std::array<QRgb, 8> Colours{0xff7f0e, 0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f, 0xbcbd22, 0x17becf, 0x1f3a93};

} // namespace

TBusChartLines::TBusChartLines(QChart& chart, QAbstractAxis& timeAxis, QValueAxis& rpmAxis,
                               std::function<void()> changed)
    : Chart(chart), TimeAxis(timeAxis), RpmAxis(rpmAxis), Changed(std::move(changed))
{
}

QString TBusChartLines::Name(const TBusController& controller)
{
  QString name = QString::fromStdString(TOzmCommands::HexAddress(controller.Address()));
  if (!controller.Label().empty())
    name += " " + QString::fromStdString(controller.Label());
  return name;
}

void TBusChartLines::Choose(const TBusController& controller, bool chosen)
{
  const auto line = Lines.find(controller.Address());
  if (chosen && line == Lines.end()) {
    const QColor colour = FreeColour(); // before the new line takes one
    QLineSeries* first = AddSeries(Name(controller), nullptr);
    first->setPen(QPen(colour, 2));
    Lines[controller.Address()].Series.append(first);
  } else if (!chosen && line != Lines.end()) {
    Drop(line);
  }
  Changed();
}

void TBusChartLines::Listed(const TBusList& list)
{
  for (auto line = Lines.begin(); line != Lines.end();) {
    const auto& controllers = list.Controllers();
    const auto listed = std::ranges::find(controllers, line->first, &TBusController::Address);
    if (listed == controllers.end()) {
      Drop(line++);
      continue;
    }
    const QString name = Name(*listed);
    for (QLineSeries* series : line->second.Series)
      if (series->name() != name)
        series->setName(name);
    ++line;
  }
}

void TBusChartLines::AddPoint(std::uint8_t address, std::int64_t msSinceEpoch, double outputRpm)
{
  const auto line = Lines.find(address);
  if (line == Lines.end())
    return;
  line->second.History.Add({msSinceEpoch, outputRpm, 0});
  Changed();
}

const TSpeedHistory* TBusChartLines::History(std::uint8_t address) const
{
  const auto line = Lines.find(address);
  return line == Lines.end() ? nullptr : &line->second.History;
}

std::optional<std::pair<std::int64_t, std::int64_t>> TBusChartLines::Extent() const
{
  std::optional<std::pair<std::int64_t, std::int64_t>> extent;
  for (const auto& [address, line] : Lines) {
    const TSpeedHistory& history = line.History;
    if (history.Size() == 0)
      continue;
    const std::int64_t oldest = history.At(0).TimeMs;
    const std::int64_t newest = history.At(history.Size() - 1).TimeMs;
    extent = extent ? std::pair{std::min(extent->first, oldest), std::max(extent->second, newest)}
                    : std::pair{oldest, newest};
  }
  return extent;
}

void TBusChartLines::Clear()
{
  for (auto& [address, line] : Lines)
    for (QLineSeries* series : line.Series)
      if (series->count())
        series->clear();
}

QList<QList<QPointF>> TBusChartLines::Take(std::int64_t fromMs, std::size_t maxPoints, std::int64_t gapMs)
{
  QList<QList<QPointF>> all;
  for (auto& [address, line] : Lines) {
    line.Drawn.clear();
    const TSpeedHistory& history = line.History;
    if (history.Size() == 0 || history.At(history.Size() - 1).TimeMs < fromMs)
      continue; // silent, or silent for longer than the chart shows
    // The history's span is counted back from its own newest answer: this one ends at the chart's left edge.
    const std::int64_t spanMs = history.At(history.Size() - 1).TimeMs - fromMs;
    for (const std::vector<TSpeedPoint>& stretch : history.Stretches(spanMs, maxPoints, gapMs)) {
      QList<QPointF>& points = line.Drawn.emplace_back();
      for (const TSpeedPoint& point : stretch)
        points.append({double(point.TimeMs), point.OutputRpm});
    }
    all += line.Drawn;
  }
  return all;
}

void TBusChartLines::Draw()
{
  for (auto& [address, line] : Lines) {
    while (line.Series.size() < line.Drawn.size())
      line.Series.append(AddSeries(line.Series.first()->name(), line.Series.first()));
    for (qsizetype i = 0; i < line.Drawn.size(); ++i)
      line.Series[i]->replace(line.Drawn[i]);
  }
}

// A line after a controller's first looks like it and stays out of the legend.
QLineSeries* TBusChartLines::AddSeries(const QString& name, const QLineSeries* like)
{
  auto* series = new QLineSeries;
  series->setName(name);
  Chart.addSeries(series);
  series->attachAxis(&TimeAxis);
  series->attachAxis(&RpmAxis);
  if (like) {
    series->setPen(like->pen());
    for (QLegendMarker* marker : Chart.legend()->markers(series))
      marker->setVisible(false);
  }
  return series;
}

// The first of the table that no chosen controller's line has; with more lines than colours, they repeat.
QColor TBusChartLines::FreeColour() const
{
  for (const QRgb rgb : Colours) {
    const QColor colour(rgb);
    if (std::ranges::none_of(Lines, [&](const auto& line) { return line.second.Series.first()->pen().color() == colour; }))
      return colour;
  }
  return QColor(Colours[Lines.size() % Colours.size()]);
}

void TBusChartLines::Drop(std::map<std::uint8_t, TLine>::iterator line)
{
  for (QLineSeries* series : line->second.Series) {
    Chart.removeSeries(series);
    delete series;
  }
  Lines.erase(line);
}
