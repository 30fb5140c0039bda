#pragma once

#include "history/SpeedHistory.h"

#include <QList>
#include <QPointF>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QChartView;
class QComboBox;
class QIODevice;
class QDateTimeAxis;
class QLineSeries;
class QPen;
class QPushButton;
class QValueAxis;
class TBusChartLines;

// "Speed chart": the output-shaft speed and the revolution counter of every status answer against
// time, over a chosen span. Not modal; closing hides it, and the history goes on filling.
class TFormSpeedChart : public QWidget {
  Q_OBJECT
public:
  explicit TFormSpeedChart(QWidget* parent = nullptr);
  ~TFormSpeedChart() override;

  // One decoded status answer of the controller at `address`. While the chart shows, the lines gain it and lose
  // the points that left the span, and are drawn within a second; hidden or paused, it is only stored.
  void AddPoint(std::int64_t msSinceEpoch, double outputRpm, std::int64_t revolutions, std::uint8_t address = 0);
  const TSpeedHistory& History() const { return SpeedHistory; }
  // The lines of the controllers chosen in the bus view, on the same axes and drawn with these.
  TBusChartLines& BusLines() const { return *Lines; }
  // The span's item: 0 "10 s", 1 "1 min", 2 "10 min", 3 "All". Other indexes are ignored.
  int Span() const;
  void SetSpan(int index);
  // A thin vertical line where the motor was sent Run or Stop, dashed when it went unanswered.
  void AddMarker(std::int64_t msSinceEpoch, bool run, bool answered = true);
  // Write the whole history as CSV, or the chart as a picture, whole or not at all; ".csv" or ".png"
  // is added to a name without an extension. A failure is said in a message box.
  bool SaveCsv(const QString& path);
  bool SavePng(const QString& path);
  // Where the save dialogs open: the folder of the last save.
  QString SaveFolder() const { return LastSaveFolder; }
  void SetSaveFolder(const QString& folder) { LastSaveFolder = folder; }

  // More than two poll periods without an answer: polling stopped, and no line is drawn over that time.
  static constexpr std::int64_t GapMs = 1000;

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
  // The oldest and the newest answer of the panel's and the bus lines' together: one time axis for all.
  std::optional<std::pair<std::int64_t, std::int64_t>> Extent() const;
  // The time of the chart's left edge: the span before the newest point, or the oldest point kept.
  std::int64_t ShownFromMs() const;
  // Takes the points to draw anew from the history: when the span, the pause or the visibility
  // changes, and when a long span has gathered too many.
  void Refill();
  void DropBeforeSpan();
  void ScheduleRedraw();
  void Redraw();
  void DrawMarkers(std::int64_t from, std::int64_t to);
  QLineSeries* AddLine(const QString& name, QValueAxis* axis, const QLineSeries* like);
  QString ChooseSavePath(const char* title, const char* extension, const char* filter);
  bool Save(QString path, const char* extension, const std::function<bool(QIODevice&)>& write);

  // Drawing the chart costs as much as the rest of a poll: once a second is enough for the eye.
  static constexpr int RedrawPeriodMs = 1000;
  bool RedrawPending = false;
  TSpeedHistory SpeedHistory;
  std::unique_ptr<TBusChartLines> Lines;
  QPushButton* BtnChartPause = nullptr;
  QComboBox* CmbChartSpan = nullptr;
  QChartView* ChartView = nullptr;
  struct TMarker {
    std::int64_t TimeMs;
    bool Run;
    bool Answered;
    QString Name() const;
  };
  void AddLegendEntry(const QString& name, const QPen& pen);
  // The points drawn, a list per stretch of answers without a gap, kept here: appending and dropping
  // them costs nothing in Qt Charts' layout.
  QList<QList<QPointF>> RpmDrawn;
  QList<QList<QPointF>> RevolutionsDrawn;
  QList<std::uint8_t> AddressDrawn; // the controller of each stretch
  // Each stretch's lines named after its controller; the first stretch of each controller in the legend.
  void NameLines();
  // A line per stretch (a line cannot break), made as needed and kept; the first ones carry the legend.
  QList<QLineSeries*> RpmSeries;
  QList<QLineSeries*> RevolutionsSeries;
  std::vector<TMarker> Markers;
  QList<QLineSeries*> MarkerSeries;
  QString LastSaveFolder;
  QDateTimeAxis* TimeAxis = nullptr;
  QValueAxis* RpmAxis = nullptr;
  QValueAxis* RevolutionsAxis = nullptr;
};
