#include "console/ReportOpener.h"

#include <QFileInfo>
#include <QProcess>

TReportOpener::TReportOpener(QObject* parent) : QObject(parent)
{
}

void TReportOpener::Open(const QString& report)
{
  if (!QFileInfo::exists(report)) { // moved, or written on another bench
    emit Failed("Report not opened: there is no such file; it was " + report);
    return;
  }
  auto* opener = new QProcess(this);
  const auto failed = [this, opener, report](const QString& why) {
    emit Failed("Report not opened: " + why + "; it is " + report);
    opener->deleteLater();
  };
  connect(opener, &QProcess::errorOccurred, this, [opener, failed](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart)
      failed(Program + QString(" could not be started: ") + opener->errorString());
  });
  connect(opener, &QProcess::finished, this, [opener, failed](int code, QProcess::ExitStatus status) {
    if (status != QProcess::NormalExit || code != 0)
      failed(Program + QString(" ended with status %1").arg(code));
    else
      opener->deleteLater();
  });
  opener->start(Program, {report});
}
