#include "console/LinkCountersView.h"

#include "protocol/LinkCounters.h"

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

// Whole fields only, never a cut one: the traffic goes first, then the time since the last answer,
// then the faults from the last, an ellipsis saying that some are missing. The tooltip has them all.
void TLinkCountersView::ShowWhatFits()
{
  const QStringList all = Parts.Traffic + Parts.Faults + Parts.Last;
  const int room = width() - Surround();
  const auto fits = [&](const QStringList& parts) { return TextWidth(Joined(parts)) <= room; };
  QStringList shown = all;
  if (!fits(shown))
    shown = Parts.Faults + Parts.Last;
  for (qsizetype kept = Parts.Faults.size(); !fits(shown) && kept >= 0; --kept)
    shown = Parts.Faults.mid(0, kept) << QString("&hellip;");
  setText(fits(shown) ? Joined(shown) : QString());
  QTextDocument whole;
  whole.setHtml(Joined(all));
  setToolTip(whole.toPlainText().replace(QChar::Nbsp, u' ') + "\n\n" + Explanation);
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
