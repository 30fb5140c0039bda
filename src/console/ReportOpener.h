#pragma once

#include <QObject>
#include <QString>

// Opens a run's HTML report through the desktop's opener, watched to its end: a desktop with nothing
// to show HTML, or none at all, is told through Failed rather than leaving the click without an answer.
class TReportOpener : public QObject {
  Q_OBJECT
public:
  static constexpr const char* Program = "xdg-open";

  explicit TReportOpener(QObject* parent);
  void Open(const QString& report);

signals:
  // "Report not opened: <why>; it is <report>".
  void Failed(const QString& text);
};
