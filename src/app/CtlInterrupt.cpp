#include "CtlInterrupt.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string_view>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

int WakeRead = -1;
int WakeWrite = -1;
volatile std::sig_atomic_t Interrupted = 0;

extern "C" void OnInterrupt(int)
{
  const int saved = errno;
  Interrupted = 1;
  const char byte = 1;
  [[maybe_unused]] const auto written = ::write(WakeWrite, &byte, 1);
  errno = saved;
}

// Waits on the wake-up pipe and, if given, another descriptor; true when that one became readable.
bool Wait(int other, const TCtlInterrupt::TTime* until)
{
  using namespace std::chrono;
  while (!Interrupted) {
    pollfd fds[] = {{WakeRead, POLLIN, 0}, {other, POLLIN, 0}};
    int wait = -1;
    if (until)
      wait = static_cast<int>(std::max<long long>(0, ceil<milliseconds>(*until - steady_clock::now()).count()));
    const int ready = ::poll(fds, 2, wait);
    if (ready == 0)
      return false;
    if (ready > 0 && fds[1].revents != 0)
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
  // A dropped SSH session (SIGHUP) must stop a timed motion as Ctrl+C does, and a closed output pipe
  // must not end the program before it: a write there just fails.
  for (int signal : {SIGINT, SIGTERM, SIGHUP})
    ::sigaction(signal, &action, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

bool TCtlInterrupt::Requested()
{
  return Interrupted != 0;
}

bool TCtlInterrupt::SleepUntil(TTime time)
{
  Wait(-1, &time);
  return !Interrupted;
}

void TCtlInterrupt::WaitForEnter(const TTime* until)
{
  while (Wait(STDIN_FILENO, until)) {
    char buffer[256];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR)
      continue;
    if (count <= 0 || std::string_view(buffer, static_cast<std::size_t>(count)).find('\n') != std::string_view::npos)
      return;
  }
}
