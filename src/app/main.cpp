// The Ozmet console: one window that drives the motor controllers on a serial line.
#include "app/StartOptions.h"
#include "console/Form1.h"
#include "console/UnattendedEnd.h"
#include "serial/Backstop.h"
#include "serial/DataFolder.h"
#include "serial/EndSignals.h"
#include "widgets/MessageBox.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

TForm1* Window = nullptr; // once it is built
std::string EndReason;    // once a signal came

// Closes the window once it is built and no message box is open: the code that showed a box goes
// on after it, so the window's objects must outlive it; and a box that the worker's step opened
// holds the worker, which is to carry the Stop. Open boxes are closed to get there.
void CloseWhenReady()
{
  if (Window && !MessageShowing()) {
    TUnattendedEnd(*Window).StopMotor(EndReason);
    Window->close();
    return;
  }
  if (QWidget* box = QApplication::activeModalWidget())
    box->close();
  QTimer::singleShot(20, qApp, CloseWhenReady);
}

// A logout, a dropped SSH session or `kill` ends the program as the close box does (the port number
// saved, the threads stopped before the objects go), but first stops a motor that may be running:
// nobody is left to see or stop it. Watched from before the window is built, so a box shown while
// it is built does not hold the signal back.
void CloseOnTermination(QApplication& app)
{
  if (!TEndSignals::Install())
    return;
  auto* notifier = new QSocketNotifier(TEndSignals::ReadFd(), QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
    const int signal = TEndSignals::Take();
    if (!EndReason.empty())
      return; // already ending
    EndReason = std::string("ended by ") + TEndSignals::Name(signal);
    SayMessagesOnStderr(); // closing a box must not bring up the next one
    CloseWhenReady();
  });
}

// exit() while the window is up: Qt calls it when the display connection breaks. The stack is not
// unwound, so the motor is stopped and the window's threads joined here, before the static
// destructors; the port is released on the way.
void EndWithoutWindow()
{
  if (!Window)
    return;
  TBackstop::Arm();
  TUnattendedEnd end(*Window);
  end.StopMotor("ended without its window (the display connection was lost)");
  end.Close();
  Window = nullptr;
}

} // namespace

int main(int argc, char** argv)
{
  // Read before Qt starts, so that --help and --version need no display.
  const TStartOptions options = TStartOptions::Parse(argc, argv);
  switch (options.Action) {
  case TStartOptions::TAction::Help: std::fputs(TStartOptions::Usage(), stdout); return 0;
  case TStartOptions::TAction::Version: std::puts("ozmet " OZMET_VERSION); return 0;
  case TStartOptions::TAction::Refuse:
    std::fprintf(stderr, "ozmet: %s\nTry 'ozmet --help'.\n", options.Error.c_str());
    return 2;
  case TStartOptions::TAction::Run: break;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Ozmet - v.5.0.e");
  // Ties the window to the installed ozmet.desktop: the desktop shows its name and icon for it.
  QApplication::setDesktopFileName("ozmet");
  CloseOnTermination(app);
  const TDataFolder data = TDataFolder::Find(QApplication::applicationDirPath().toStdString());
  if (!data.Problem.empty())
    std::fprintf(stderr, "ozmet: %s\n", data.Problem.c_str());
  TForm1 window(data.Path, nullptr, {options.Port, options.Device, options.Rs485});
  Window = &window;
  window.RestoreSettings();
  window.show();
  // Registered last: exit handlers run in reverse order, so the statics that Qt made until now
  // (the settings' cache among them) are still there when it runs.
  std::atexit(EndWithoutWindow);
  const int result = QApplication::exec();
  Window = nullptr;
  return result;
}
