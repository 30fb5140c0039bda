// Drives one Run through the real window and saves a picture of it with the live status:
// ozmet-screenshot DATA-FOLDER PICTURE.png, normally started by scripts/screenshot under Xvfb.
#include "Form1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv)
{
  QApplication app(argc, argv);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DATA-FOLDER PICTURE.png\n", argv[0]);
    return 2;
  }
  QApplication::setApplicationName("Ozmet - v.5.0.e");
  TForm1 window(argv[1]);
  window.show();
  const QString picture = argv[2];
  int result = 1;

  QTimer::singleShot(500, &window, [&] { window.findChild<QAbstractButton*>("BtnRun")->click(); });
  // The simulated motor needs about a second to reach its speed; a few polls later it is on show.
  auto* watch = new QTimer(&window);
  QObject::connect(watch, &QTimer::timeout, &window, [&] {
    const QString speed = window.findChild<QLabel*>("lblCurrentSpeed")->text();
    if (speed != "Current speed 1020.00 rpm")
      return;
    watch->stop();
    QTimer::singleShot(1200, &window, [&] {
      const QPixmap shot = window.screen()->grabWindow(window.winId());
      result = shot.save(picture) ? 0 : 1;
      QApplication::quit();
    });
  });
  watch->start(100);
  QTimer::singleShot(20000, &window, [&] {
    std::fprintf(stderr, "ozmet-screenshot: the motor never showed its speed\n");
    QApplication::quit();
  });
  QApplication::exec();
  return result;
}
