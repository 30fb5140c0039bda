#include "PaintWatch.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

TPaintWatch::TPaintWatch(QLabel& label) : Label(label)
{
  Label.installEventFilter(this);
}

TPaintWatch::~TPaintWatch()
{
  Label.removeEventFilter(this);
}

void TPaintWatch::Reset(const QString& placeholder)
{
  Placeholder = placeholder;
  Label.setText(placeholder);
  Label.repaint();
  Painted.reset();
}

std::optional<std::chrono::steady_clock::time_point> TPaintWatch::WaitForNewText(std::chrono::milliseconds timeout)
{
  QEventLoop loop;
  Loop = &loop;
  QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
  if (!Painted)
    loop.exec();
  Loop = nullptr;
  return Painted;
}

bool TPaintWatch::eventFilter(QObject* watched, QEvent* event)
{
  if (watched == &Label && event->type() == QEvent::Paint && !Painted && Label.text() != Placeholder) {
    Painted = std::chrono::steady_clock::now();
    if (Loop)
      Loop->quit();
  }
  return QObject::eventFilter(watched, event);
}
