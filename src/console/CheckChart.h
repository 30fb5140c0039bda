#pragma once

#include "records/Histogram.h"
#include "records/RecordsStore.h"

#include <QWidget>

#include <vector>

class QChartView;
class QComboBox;
class QLabel;

// A sequence's checks, one at a time: the histogram of its measured values with its limits and mean
// drawn across, and its n, mean, deviation, range and Cpk in words.
class TCheckChart : public QWidget {
  Q_OBJECT
public:
  static constexpr const char* ValuesName = "values";
  static constexpr const char* LowName = "low limit";
  static constexpr const char* HighName = "high limit";
  static constexpr const char* MeanName = "mean";
  static constexpr std::size_t Bins = 20;

  explicit TCheckChart(QWidget* parent);
  // The checks to choose from, the first chosen; none clears the chart.
  void SetChecks(const std::vector<TCheckSpread>& checks);
  const std::vector<TCheckSpread>& Checks() const { return Spreads; }
  // The values of the chosen check, once the store gave them.
  void Show(const TCheckSpread& check, const std::vector<double>& values);
  // "n 240, mean 100.1 rpm, sd 1.2, min 97, max 103, limits 95..105: Cpk 1.36".
  static QString Summary(const TCheckSpread& check);
  // No check drawn; the title says why.
  void Clear(const QString& title);

signals:
  // An index in Checks().
  void CheckChosen(int index);

private:
  void AddLine(const QString& name, double x, double top, Qt::PenStyle style);

  QComboBox* Choice = nullptr;
  QChartView* View = nullptr;
  QLabel* Words = nullptr;
  std::vector<TCheckSpread> Spreads;
};
