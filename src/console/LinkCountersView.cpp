#include "LinkCountersView.h"

#include "LinkCounters.h"

#include <QMouseEvent>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>

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

QString Joined(const QStringList& parts)
{
  return parts.join("&nbsp;&nbsp;");
}

} // namespace

TLinkCountersView::TLinkCountersView(TLinkCounters& counters, QWidget* parent) : QLabel(parent), Counters(counters)
{
  setObjectName("LblLinkCounters");
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setTextFormat(Qt::RichText);
  // No wider than its counters; the port description keeps the rest of the line.
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
  Parts.Traffic = {QString("Tx %1").arg(Counters.FramesSent), QString("Rx %1").arg(Counters.AnswersReceived)};
  Parts.Faults = {Fault("no answer", Counters.AnswersMissing, red), Fault("CRC", Counters.ChecksumFailures, orange),
                  Fault("short", Counters.ShortBlocks, orange), Fault("stale", Counters.Stale, orange),
                  Fault("port", Counters.PortFailures, red)};
  Parts.Faults.removeAll(QString());
  Parts.Last = {SinceLastAnswer(Counters)};
  updateGeometry(); // the width every counter needs may have changed
  ShowWhatFits();
}

void TLinkCountersView::ShowWhatFits()
{
  const QStringList candidates[] = {Parts.Traffic + Parts.Faults + Parts.Last, Parts.Faults + Parts.Last,
                                    Parts.Faults};
  const int room = width() - Surround();
  // The faults alone when nothing fits: cut at the edge rather than hidden.
  const auto shown = std::find_if(std::begin(candidates), std::end(candidates) - 1,
                                  [&](const QStringList& parts) { return TextWidth(Joined(parts)) <= room; });
  setText(Joined(*shown));
}

int TLinkCountersView::TextWidth(const QString& html) const
{
  QTextDocument line;
  line.setDefaultFont(font());
  line.setHtml(html);
  return static_cast<int>(std::ceil(line.idealWidth()));
}

// What the label adds to its text's width: the frame, the indent, the document's margins.
int TLinkCountersView::Surround() const
{
  return QLabel::sizeHint().width() - TextWidth(text());
}

QSize TLinkCountersView::sizeHint() const
{
  return {TextWidth(Joined(Parts.Traffic + Parts.Faults + Parts.Last)) + Surround(), QLabel::sizeHint().height()};
}

QSize TLinkCountersView::minimumSizeHint() const
{
  return {Surround(), QLabel::minimumSizeHint().height()};
}

void TLinkCountersView::resizeEvent(QResizeEvent* event)
{
  QLabel::resizeEvent(event);
  ShowWhatFits();
}

void TLinkCountersView::mousePressEvent(QMouseEvent* event)
{
  if (event->button() == Qt::LeftButton)
    Reset();
  QLabel::mousePressEvent(event);
}
