// Drives the real window against the controller simulator, run in this process, and saves pictures
// of it: one Run with the live status; given a chart picture, the controller then falls silent, the
// window shows the motor's state as unknown (saved too, given a third picture), the line comes back,
// Stop, and the speed chart of it all with the gap the silence left:
// ozmet-screenshot PICTURE.png [CHART.png [DEAD-LINE.png]], normally started by scripts/screenshot under Xvfb.
// With --bus BUS.png it pictures the bus view instead, at the window's smallest size, on four controllers:
// the panel's $01 running, $04 silent.
#include "SimLine.h"
#include "console/Form1.h"
#include "console/FormBus.h"
#include "console/FormSpeedChart.h"
#include "console/OperatorExtras.h"
#include "serial/PortSettingsFile.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <functional>

namespace {

// What the steps share: the window, the simulator behind it, where the pictures go, how it went.
struct TShots {
  TForm1& Window;
  TSimLine& Sim;
  QString Picture;
  QString ChartPicture;
  QString DeadLinePicture;
  bool Saved = true;
};

// Calls then() once the speed label's text starts with `start`, checking every 100 ms.
void WhenSpeedShows(TForm1& window, const QString& start, std::function<void()> then)
{
  auto* watch = new QTimer(&window);
  QObject::connect(watch, &QTimer::timeout, &window, [&window, watch, start, then] {
    if (!window.findChild<QLabel*>("lblCurrentSpeed")->text().startsWith(start))
      return;
    watch->stop();
    watch->deleteLater();
    then();
  });
  watch->start(100);
}

void After(TShots& shots, int ms, std::function<void()> then)
{
  QTimer::singleShot(ms, &shots.Window, std::move(then));
}

void Click(TShots& shots, const char* button)
{
  shots.Window.findChild<QAbstractButton*>(button)->click();
}

void Shoot(TShots& shots, QWidget& widget, const QString& picture)
{
  if (!picture.isEmpty())
    shots.Saved = widget.screen()->grabWindow(widget.winId()).save(picture) && shots.Saved;
}

// The chart of the Run, the silence and the Stop, once the motor stands.
void ShootChart(TShots& shots)
{
  TFormSpeedChart& chart = shots.Window.OperatorExtras().SpeedChart();
  shots.Window.OperatorExtras().MmSpeedChartClick();
  After(shots, 1500, [&shots, &chart] {
    Shoot(shots, chart, shots.ChartPicture);
    QApplication::quit();
  });
}

// The controller stops answering: the window greys the status it no longer knows. Then the line comes
// back and the operator stops the motor, which brings the status answers back too.
void GoSilent(TShots& shots)
{
  TSimFaults silent;
  silent.Silent = true;
  shots.Sim.SetFaults(silent);
  WhenSpeedShows(shots.Window, "Current speed: unknown", [&shots] {
    After(shots, 1200, [&shots] {
      Shoot(shots, shots.Window, shots.DeadLinePicture);
      shots.Sim.SetFaults({});
      Click(shots, "BtnStop");
      WhenSpeedShows(shots.Window, "Current speed 0.00 rpm", [&shots] { ShootChart(shots); });
    });
  });
}

// The simulated motor needs about a second to reach its speed; a few polls later it is on show.
void ShootRun(TShots& shots)
{
  After(shots, 500, [&shots] { Click(shots, "BtnRun"); });
  WhenSpeedShows(shots.Window, "Current speed 1020.00 rpm", [&shots] {
    After(shots, 1000, [&shots] {
      Shoot(shots, shots.Window, shots.Picture);
      if (shots.ChartPicture.isEmpty())
        return QApplication::quit();
      GoSilent(shots);
    });
  });
}

QString BusCell(TShots& shots, int row, int column)
{
  const QTableWidgetItem* item =
      shots.Window.OperatorExtras().BusView().findChild<QTableWidget*>("GridBus")->item(row, column);
  return item ? item->text() : QString();
}

// $01 to $04 in the bus view, labelled as a bench would; the panel's $01 runs while the others stand.
void ShootBus(TShots& shots)
{
  TFormBus& bus = shots.Window.OperatorExtras().BusView();
  shots.Window.OperatorExtras().MmBusViewClick();
  bus.resize(613, 488);
  bus.findChild<QLineEdit*>("EditBusAddresses")->setText("1-4");
  bus.findChild<QPushButton*>("BtnBusAdd")->click();
  auto* grid = bus.findChild<QTableWidget*>("GridBus");
  const char* labels[] = {"conveyor", "lift", "press", "spare"};
  for (int row = 0; row < grid->rowCount() && row < 4; ++row)
    grid->item(row, TFormBus::ColLabel)->setText(labels[row]);
  shots.Window.findChild<QLineEdit*>("EditMotorAddress")->setText("$01");
  Click(shots, "BtnMotorApply");
  After(shots, 500, [&shots] { Click(shots, "BtnRun"); });
  auto* watch = new QTimer(&shots.Window);
  QObject::connect(watch, &QTimer::timeout, &shots.Window, [&shots, &bus, watch] {
    if (BusCell(shots, 0, TFormBus::ColSpeed) != "1020 rpm" || BusCell(shots, 3, TFormBus::ColSpeed) != "unknown")
      return;
    watch->stop();
    After(shots, 1000, [&shots, &bus] {
      Shoot(shots, bus, shots.Picture);
      Click(shots, "BtnStop");
      After(shots, 500, [] { QApplication::quit(); });
    });
  });
  watch->start(100);
}

int Finish(TForm1& window, const TShots& shots)
{
  QTimer::singleShot(30000, &window, [] {
    std::fprintf(stderr, "ozmet-screenshot: the window never showed the state to picture\n");
    QApplication::exit(1);
  });
  return QApplication::exec() == 0 && shots.Saved ? 0 : 1;
}

// A Data folder of its own: port 1, linked to the simulator's line.
bool MakeDataFolder(const QTemporaryDir& data, const TSimLine& sim)
{
  std::error_code error;
  std::filesystem::create_symlink(sim.DevicePath(), data.filePath("COM1").toStdString(), error);
  return data.isValid() && !error && TPortSettingsFile(data.filePath("portp.dat").toStdString()).Save(1);
}

} // namespace

int main(int argc, char** argv)
{
  QApplication app(argc, argv);
  const bool busView = argc == 3 && QString(argv[1]) == "--bus";
  if (argc < 2 || argc > 4 || (!busView && QString(argv[1]).startsWith("-"))) {
    std::fprintf(stderr, "usage: %s PICTURE.png [CHART.png [DEAD-LINE.png]]\n       %s --bus BUS.png\n", argv[0],
                 argv[0]);
    return 2;
  }
  QApplication::setApplicationName("Ozmet - v.5.0.e");
  TSimLine sim(busView ? std::vector<std::uint8_t>{0, 1, 2, 3, 4} : std::vector<std::uint8_t>{0});
  if (busView)
    sim.SetControllerFaults(4, {.Silent = true});
  sim.Open();
  const QTemporaryDir data;
  if (!MakeDataFolder(data, sim)) {
    std::fprintf(stderr, "ozmet-screenshot: no Data folder for the simulator's line\n");
    return 1;
  }
  TForm1 window(data.path().toStdString());
  window.show();
  window.OperatorExtras().SpeedChart().SetSpan(0); // ten seconds: the Run, the silence and the Stop fill it
  if (busView) {
    TShots shots{window, sim, argv[2], "", ""};
    ShootBus(shots);
    return Finish(window, shots);
  }
  TShots shots{window, sim, argv[1], argc > 2 ? argv[2] : "", argc > 3 ? argv[3] : ""};
  ShootRun(shots);
  return Finish(window, shots);
}
