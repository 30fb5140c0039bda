#pragma once

// SIGTERM, SIGINT and SIGHUP turned into a byte on a pipe that the event loop watches. The signal
// handler itself arms the backstop (TBackstop): if the end hangs, or the event loop cannot run at all,
// SIGALRM ends the process (and the kernel releases the port).
class TEndSignals {
public:
  // False when the pipe cannot be made: the signals then keep their default action.
  static bool Install();
  // The pipe's reading end, readable once a signal came; -1 before Install.
  static int ReadFd();
  // The last signal that came since the previous call, 0 if none.
  static int Take();
  static const char* Name(int signal);
};
