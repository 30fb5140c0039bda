#pragma once

#include "SpeedHistory.h"

#include <QList>
#include <QPointF>
#include <QWidget>

#include <cstdint>
#include <optional>

class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLineSeries;
class QPushButton;
class QValueAxis;

// "Speed chart": the output-shaft speed and the revolution counter of every status answer against
// time, over a chosen span. Not modal; closing hides it, and the history goes on filling.
class TFormSpeedChart : public QWidget {
  Q_OBJECT
public:
  explicit TFormSpeedChart(QWidget* parent = nullptr);

  // One decoded status answer. While the chart shows, the lines gain it and lose the points that left
  // the span, and are drawn within a second; hidden or paused, it is only stored.
  void AddPoint(std::int64_t msSinceEpoch, double outputRpm, std::int64_t revolutions);
  const TSpeedHistory& History() const { return SpeedHistory; }
  // The span's item: 0 "10 s", 1 "1 min", 2 "10 min", 3 "All". Other indexes are ignored.
  int Span() const;
  void SetSpan(int index);
  // Write the whole history as CSV, or the chart as a picture; a failure is said in a message box.
  bool SaveCsv(const QString& path);
  bool SavePng(const QString& path);

  void BtnChartPauseClick(bool paused);
  void BtnChartSaveCsvClick();
  void BtnChartSavePngClick();

protected:
  void showEvent(QShowEvent* event) override;

private:
  QWidget* BuildControls();
  void BuildChart();
  bool Live() const;
  std::optional<std::int64_t> SpanMs() const;
  // The time of the chart's left edge: the span before the newest point, or the oldest point kept.
  std::int64_t ShownFromMs() const;
  // Takes the points to draw anew from the history: when the span, the pause or the visibility
  // changes, and when a long span has gathered too many.
  void Refill();
  void DropBeforeSpan();
  void Redraw();

  // Drawing the chart costs as much as the rest of a poll: once a second is enough for the eye.
  static constexpr int RedrawPeriodMs = 1000;
  bool RedrawPending = false;
  TSpeedHistory SpeedHistory;
  QPushButton* BtnChartPause = nullptr;
  QComboBox* CmbChartSpan = nullptr;
  QChartView* ChartView = nullptr;
  // The points drawn, kept here: appending and dropping them costs nothing in Qt Charts' layout.
  QList<QPointF> RpmDrawn;
  QList<QPointF> RevolutionsDrawn;
  QLineSeries* RpmSeries = nullptr;
  QLineSeries* RevolutionsSeries = nullptr;
  QDateTimeAxis* TimeAxis = nullptr;
  QValueAxis* RpmAxis = nullptr;
  QValueAxis* RevolutionsAxis = nullptr;
};
