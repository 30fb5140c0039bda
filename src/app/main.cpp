// The Ozmet console: one window that drives the motor controllers on a serial line.
#include "DataFolder.h"
#include "Form1.h"
#include "MessageBox.h"
#include "StartOptions.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};
TForm1* Window = nullptr; // once it is built

// A guard, not the expected time: an end, the Stop of a running motor included, takes under a
// second; if anything hangs, SIGALRM ends the process (and the kernel releases the port).
constexpr unsigned EndLimitSeconds = 3;

extern "C" void OnTermination(int signal)
{
  ::alarm(EndLimitSeconds); // SIGALRM ends the process if the event loop cannot
  const auto byte = static_cast<char>(signal);
  [[maybe_unused]] const auto written = ::write(SignalPipe[1], &byte, 1);
}

const char* SignalName(int signal)
{
  switch (signal) {
  case SIGINT: return "SIGINT";
  case SIGHUP: return "SIGHUP";
  default: return "SIGTERM";
  }
}

// Closes the window once it is built and no message box is open: the code that showed a box goes
// on after it, so the window's objects must outlive it. Open boxes are closed to get there.
void CloseWhenReady()
{
  if (Window && !MessageShowing()) {
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
  if (::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return;
  auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
    char byte = 0;
    for (char next; ::read(SignalPipe[0], &next, 1) > 0;)
      byte = next;
    if (Window)
      Window->StopBeforeUnattendedEnd(std::string("ended by ") + SignalName(byte));
    CloseWhenReady();
  });
  struct sigaction action {};
  action.sa_handler = OnTermination;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGTERM, SIGINT, SIGHUP})
    ::sigaction(signal, &action, nullptr);
}

// exit() while the window is up: Qt calls it when the display connection breaks. The stack is not
// unwound, so the motor is stopped and the window's threads joined here, before the static
// destructors; the port is released on the way.
void EndWithoutWindow()
{
  if (!Window)
    return;
  ::alarm(EndLimitSeconds);
  Window->StopBeforeUnattendedEnd("ended without its window (the display connection was lost)");
  Window->CloseNow();
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
  std::atexit(EndWithoutWindow);
  window.RestoreSettings();
  window.show();
  const int result = QApplication::exec();
  Window = nullptr;
  return result;
}
