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
#include <fcntl.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};
TForm1* Window = nullptr; // once it is built

extern "C" void OnTermination(int)
{
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(SignalPipe[1], &byte, 1);
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

// A logout or `kill` ends the program as the close box does: the port number is saved and the
// threads are stopped before the objects go. Watched from before the window is built, so a box
// shown while it is built does not hold the signal back.
void CloseOnTermination(QApplication& app)
{
  if (::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return;
  auto* notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, &app);
  QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
    char byte;
    while (::read(SignalPipe[0], &byte, 1) > 0) {
    }
    CloseWhenReady();
  });
  struct sigaction action {};
  action.sa_handler = OnTermination;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGTERM, SIGINT, SIGHUP})
    ::sigaction(signal, &action, nullptr);
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
  TForm1 window(data.Path, nullptr, {options.Port, options.Device});
  Window = &window;
  window.RestoreSettings();
  window.show();
  const int result = QApplication::exec();
  Window = nullptr;
  return result;
}
