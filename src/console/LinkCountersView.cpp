#include "LinkCountersView.h"

#include "LinkCounters.h"

#include <QMouseEvent>
#include <QTimer>

#include <chrono>

namespace {

// A fault count only once it is above zero, in its colour: a healthy line shows just its traffic.
QString Fault(const char* name, std::uint64_t value, const char* colour)
{
  return value == 0 ? QString() : QString("<b style=\"color:%1\">%2 %3</b>").arg(colour, name).arg(value);
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
  // Only as wide as its text: the port description keeps the rest of the line.
  setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
  setToolTip("Frames sent (Tx), whole answers received (Rx), and, once they happen, answers missing after the\n"
             "timeout (red: a dead line), checksum failures, short blocks resynchronised and stale bytes that\n"
             "answered no frame (orange: a noisy or late line) and port failures (red); then the time since\n"
             "the last answer. Click to reset.");
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
  QStringList parts{QString("Tx %1").arg(Counters.FramesSent), QString("Rx %1").arg(Counters.AnswersReceived),
                    Fault("no answer", Counters.AnswersMissing, red), Fault("CRC", Counters.ChecksumFailures, orange),
                    Fault("short", Counters.ShortBlocks, orange), Fault("stale", Counters.Stale, orange),
                    Fault("port", Counters.PortFailures, red),
                    SinceLastAnswer(Counters)};
  parts.removeAll(QString());
  setText(parts.join("&nbsp;&nbsp;"));
}

void TLinkCountersView::mousePressEvent(QMouseEvent* event)
{
  if (event->button() == Qt::LeftButton)
    Reset();
  QLabel::mousePressEvent(event);
}
