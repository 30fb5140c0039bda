#include "serial/Backstop.h"

#include <atomic>

#include <sys/time.h>
#include <unistd.h>

namespace {

std::atomic<std::size_t> Due{0};

} // namespace

void TBackstop::Arm()
{
  ::alarm(static_cast<unsigned>((Margin + PerStop * Due.load()).count()));
}

void TBackstop::StopsDue(std::size_t stops)
{
  Due = stops;
  Progress();
}

void TBackstop::StopDone()
{
  std::size_t due = Due.load();
  while (due > 0 && !Due.compare_exchange_weak(due, due - 1)) {
  }
  Progress();
}

// Only an end arms the alarm, and nothing else in the program uses it: a pending alarm is an end under way.
void TBackstop::Progress()
{
  itimerval left{};
  ::getitimer(ITIMER_REAL, &left);
  if (left.it_value.tv_sec != 0 || left.it_value.tv_usec != 0)
    Arm();
}
