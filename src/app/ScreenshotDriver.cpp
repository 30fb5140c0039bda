// Drives one Run through the real window and saves a picture of it with the live status; given a
// second picture, it then opens the speed chart, stops the motor and saves the chart of the Run and
// the Stop: ozmet-screenshot DATA-FOLDER PICTURE.png [CHART.png], normally started by
// scripts/screenshot under Xvfb.
#include "Form1.h"
#include "FormSpeedChart.h"
#include "OperatorExtras.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <functional>

namespace {

// Calls then() once the speed label shows that text, checking every 100 ms.
void WhenSpeedShows(TForm1& window, const QString& text, std::function<void()> then)
{
  auto* watch = new QTimer(&window);
  QObject::connect(watch, &QTimer::timeout, &window, [&window, watch, text, then] {
    if (window.findChild<QLabel*>("lblCurrentSpeed")->text() != text)
      return;
    watch->stop();
    then();
  });
  watch->start(100);
}

bool Shoot(QWidget& widget, const QString& picture)
{
  return widget.screen()->grabWindow(widget.winId()).save(picture);
}

} // namespace

int main(int argc, char** argv)
{
  QApplication app(argc, argv);
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: %s DATA-FOLDER PICTURE.png [CHART.png]\n", argv[0]);
    return 2;
  }
  QApplication::setApplicationName("Ozmet - v.5.0.e");
  TForm1 window(argv[1]);
  window.show();
  const QString picture = argv[2];
  const QString chartPicture = argc == 4 ? argv[3] : "";
  int result = 1;

  TFormSpeedChart& chart = window.OperatorExtras().SpeedChart();
  chart.SetSpan(0); // ten seconds: the Run and the Stop fill it
  QTimer::singleShot(500, &window, [&] { window.findChild<QAbstractButton*>("BtnRun")->click(); });
  // The simulated motor needs about a second to reach its speed; a few polls later it is on show.
  WhenSpeedShows(window, "Current speed 1020.00 rpm", [&] {
    QTimer::singleShot(1200, &window, [&] {
      result = Shoot(window, picture) ? 0 : 1;
      if (chartPicture.isEmpty() || result != 0)
        return QApplication::quit();
      window.OperatorExtras().MmSpeedChartClick();
      QTimer::singleShot(2500, &window, [&] {
        window.findChild<QAbstractButton*>("BtnStop")->click();
        WhenSpeedShows(window, "Current speed 0.00 rpm", [&] {
          QTimer::singleShot(1500, &window, [&] {
            result = Shoot(chart, chartPicture) ? 0 : 1;
            QApplication::quit();
          });
        });
      });
    });
  });
  QTimer::singleShot(30000, &window, [&] {
    std::fprintf(stderr, "ozmet-screenshot: the motor never showed its speed\n");
    QApplication::quit();
  });
  QApplication::exec();
  return result;
}
