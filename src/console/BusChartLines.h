#pragma once

#include "history/SpeedHistory.h"

#include <QList>
#include <QPointF>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <utility>

class QAbstractAxis;
class QChart;
class QColor;
class QLineSeries;
class QValueAxis;
class TBusController;
class TBusList;

// The speed chart's lines for the controllers chosen in the bus view: each one's output speed from
// its own status answers, on the chart's time and speed axes, broken where it went without answers.
// The chart says when to draw; this keeps the answers and the lines.
class TBusChartLines {
public:
  // An hour at the poll's 2 Hz each: a day for each of many controllers would hold more than is looked at.
  static constexpr std::size_t Capacity = 3600 * 2;

  // `changed` is called when there is something new to draw.
  TBusChartLines(QChart& chart, QAbstractAxis& timeAxis, QValueAxis& rpmAxis, std::function<void()> changed);

  // "$03 conveyor": the address as the bus view shows it, then the label if any.
  static QString Name(const TBusController& controller);
  // Chosen, a controller gets its line (in the legend at once, empty until it answers) and keeps its
  // answers from now on; unchosen, both go.
  void Choose(const TBusController& controller, bool chosen);
  bool Chosen(std::uint8_t address) const { return Lines.contains(address); }
  // The list changed: the lines of controllers no longer listed go, the others take their label anew.
  void Listed(const TBusList& list);
  // One decoded status answer; kept only for a chosen controller.
  void AddPoint(std::uint8_t address, std::int64_t msSinceEpoch, double outputRpm);
  const TSpeedHistory* History(std::uint8_t address) const;
  // The oldest and the newest answer kept of all chosen controllers; none before the first.
  std::optional<std::pair<std::int64_t, std::int64_t>> Extent() const;

  // Drawing, as the chart draws its own: the lines emptied before the axes move (Qt Charts then
  // skips their layout), the points from `fromMs` on taken (returned, to fit the speed axis to),
  // then drawn at once.
  void Clear();
  QList<QList<QPointF>> Take(std::int64_t fromMs, std::size_t maxPoints, std::int64_t gapMs);
  void Draw();

private:
  struct TLine {
    TSpeedHistory History{Capacity};
    QList<QList<QPointF>> Drawn; // a list per stretch of answers without a gap
    QList<QLineSeries*> Series; // a line per stretch; the first carries the legend
  };
  QLineSeries* AddSeries(const QString& name, const QLineSeries* like);
  QColor FreeColour() const;
  void Drop(std::map<std::uint8_t, TLine>::iterator line);

  QChart& Chart;
  QAbstractAxis& TimeAxis;
  QValueAxis& RpmAxis;
  std::function<void()> Changed;
  std::map<std::uint8_t, TLine> Lines;
};
