#include "serial/EndSignals.h"

#include "serial/Backstop.h"

#include <csignal>
#include <initializer_list>

#include <fcntl.h>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

extern "C" void OnEndSignal(int signal)
{
  TBackstop::Arm(); // here, not in the loop: the loop may be what hangs
  const auto byte = static_cast<char>(signal);
  [[maybe_unused]] const auto written = ::write(SignalPipe[1], &byte, 1);
}

} // namespace

bool TEndSignals::Install()
{
  if (SignalPipe[0] < 0 && ::pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    return false;
  struct sigaction action {};
  action.sa_handler = OnEndSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGTERM, SIGINT, SIGHUP})
    ::sigaction(signal, &action, nullptr);
  return true;
}

int TEndSignals::ReadFd()
{
  return SignalPipe[0];
}

int TEndSignals::Take()
{
  char byte = 0;
  for (char next; ::read(SignalPipe[0], &next, 1) > 0;)
    byte = next;
  return byte;
}

const char* TEndSignals::Name(int signal)
{
  switch (signal) {
  case SIGINT: return "SIGINT";
  case SIGHUP: return "SIGHUP";
  default: return "SIGTERM";
  }
}
