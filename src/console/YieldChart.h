#pragma once

#include "records/RecordsStore.h"

#include <QChartView>

#include <vector>

class QBarSet;

// A sequence's yield per day: the first-pass and the final yield of the units first tested that day, in
// per cent, one pair of bars a day.
class TYieldChart : public QChartView {
  Q_OBJECT
public:
  static constexpr const char* FirstPassName = "First-pass yield";
  static constexpr const char* FinalName = "Final yield";

  explicit TYieldChart(QWidget* parent);
  // days: grouped by day, oldest first; none leaves only the title.
  void Show(const QString& title, const std::vector<TYield>& days);
};
