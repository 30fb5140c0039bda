#include "app/CtlInterrupt.h"

#include "app/CtlError.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string_view>
#include <fcntl.h>
#include <sys/stat.h>
#include <poll.h>
#include <unistd.h>

namespace {

int WakeRead = -1;
int WakeWrite = -1;
volatile std::sig_atomic_t Interrupted = 0; // the signal's number

extern "C" void OnInterrupt(int signal)
{
  const int saved = errno;
  if (!Interrupted)
    Interrupted = signal;
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(WakeWrite, &byte, 1);
  errno = saved;
}

// Standard output as a pipe or socket: one whose reader can go away while nothing is written.
int Reader()
{
  struct stat output {};
  return ::fstat(STDOUT_FILENO, &output) == 0 && (S_ISFIFO(output.st_mode) || S_ISSOCK(output.st_mode))
             ? STDOUT_FILENO
             : -1;
}

// Waits on the wake-up pipe and, if given, another descriptor; true when that one became readable.
// A reader of the output that went away ends the wait as the SIGPIPE of the next write would.
bool Wait(int other, const TCtlInterrupt::TTime* until)
{
  using namespace std::chrono;
  static const int reader = Reader();
  while (!Interrupted) {
    pollfd fds[] = {{WakeRead, POLLIN, 0}, {other, POLLIN, 0}, {reader, 0, 0}};
    int wait = -1;
    if (until)
      wait = static_cast<int>(std::max<long long>(0, ceil<milliseconds>(*until - steady_clock::now()).count()));
    const int ready = ::poll(fds, 3, wait);
    if (ready > 0 && (fds[2].revents & POLLERR))
      Interrupted = SIGPIPE;
    else if (ready == 0)
      return false;
    else if (ready > 0 && fds[1].revents != 0)
      return true;
  }
  return false;
}

} // namespace

void TCtlInterrupt::Install()
{
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
    return; // the default action stays: Ctrl+C still ends the program, less gently
  WakeRead = fds[0];
  WakeWrite = fds[1];
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // A dropped SSH session (SIGHUP) and a closed output pipe (SIGPIPE) must stop a timed motion as
  // Ctrl+C does, not end the program before the Stop: a write to the closed pipe just fails.
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
    ::sigaction(signal, &action, nullptr);
}

bool TCtlInterrupt::Requested()
{
  return Interrupted != 0;
}

bool TCtlInterrupt::ByCtrlC()
{
  return Interrupted == SIGINT;
}

int TCtlInterrupt::ExitStatus()
{
  return 128 + Interrupted;
}

std::string TCtlInterrupt::Name()
{
  switch (Interrupted) {
  case SIGINT: return "interrupted (SIGINT)";
  case SIGTERM: return "terminated (SIGTERM)";
  case SIGPIPE: return "output closed (SIGPIPE)";
  default: return "hung up (SIGHUP)";
  }
}

bool TCtlInterrupt::SleepUntil(TTime time)
{
  Wait(-1, &time);
  return !Interrupted;
}

bool TCtlInterrupt::WaitForEnter()
{
  while (Wait(STDIN_FILENO, nullptr)) {
    char buffer[256];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR)
      continue;
    if (count <= 0)
      return false;
    if (std::string_view(buffer, static_cast<std::size_t>(count)).find('\n') != std::string_view::npos)
      return true;
  }
  return false;
}

TCtlError TCtlInterrupt::Error(const std::string& what)
{
  return TCtlError(ExitStatus(), Name() + ": " + what);
}
