#pragma once

#include <QChart>

// A chart emptied for new data: its series and axes deleted (a removed axis is the caller's to delete) and its
// title set.
inline void ResetChart(QChart& chart, const QString& title)
{
  chart.removeAllSeries();
  for (QAbstractAxis* axis : chart.axes()) {
    chart.removeAxis(axis);
    delete axis;
  }
  chart.setTitle(title);
}
