#include "LinkCountersView.h"

#include "LinkCounters.h"

#include <QMouseEvent>
#include <QTimer>

#include <chrono>

namespace {

// A count, coloured once it is above zero.
QString Count(const char* name, std::uint64_t value, const char* colour)
{
  const QString number = QString::number(value);
  return QString("%1 %2").arg(name, value == 0 ? number : QString("<b style=\"color:%1\">%2</b>").arg(colour, number));
}

QString SinceLastAnswer(const TLinkCounters& counters)
{
  const auto since = counters.SinceLastAnswer();
  if (!since)
    return "last -";
  const double seconds = std::chrono::duration<double>(*since).count();
  return seconds < 60 ? QString("last %1 s").arg(seconds, 0, 'f', 1) : QString("last %1 min").arg(int(seconds / 60));
}

} // namespace

TLinkCountersView::TLinkCountersView(TLinkCounters& counters, QWidget* parent) : QLabel(parent), Counters(counters)
{
  setObjectName("LblLinkCounters");
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setTextFormat(Qt::RichText);
  setToolTip("Frames sent (Tx), whole answers received (Rx), answers missing after the timeout, checksum failures,\n"
             "short blocks resynchronised, port failures, and the time since the last answer.\n"
             "Missing answers in red: a dead line. Checksum failures and short blocks in orange: a noisy one.\n"
             "Click to reset.");
  RefreshTimer = new QTimer(this);
  RefreshTimer->setInterval(1000);
  connect(RefreshTimer, &QTimer::timeout, this, &TLinkCountersView::Refresh);
  RefreshTimer->start();
  Refresh();
}

void TLinkCountersView::Reset()
{
  Counters.Reset();
  Refresh();
}

void TLinkCountersView::Refresh()
{
  const char* red = "#ff0000";
  const char* orange = "#d06000";
  setText(QStringList{Count("Tx", Counters.FramesSent, "black"), Count("Rx", Counters.AnswersReceived, "black"),
                      Count("no answer", Counters.AnswersMissing, red), Count("CRC", Counters.ChecksumFailures, orange),
                      Count("short", Counters.ShortBlocks, orange), Count("port", Counters.PortFailures, red),
                      SinceLastAnswer(Counters)}
              .join("&nbsp;&nbsp;"));
}

void TLinkCountersView::mousePressEvent(QMouseEvent* event)
{
  if (event->button() == Qt::LeftButton)
    Reset();
  QLabel::mousePressEvent(event);
}
