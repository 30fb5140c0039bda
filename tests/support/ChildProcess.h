#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// A program run as a child process with pipes on its standard streams, for the tests and the
// benchmarks of the real binaries. It is killed and reaped on the way out whatever happened.
class TChildProcess {
public:
  static constexpr std::chrono::milliseconds Deadline{5000};

  // environment: NAME=VALUE entries set a variable for the child, a bare NAME removes it; the rest
  // of this process's environment is passed on.
  TChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment = {});
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // The first line on standard output.
  std::string FirstLine();
  // Collects standard output (0) or error (1) until it holds `text`; false when the time ran out first.
  bool WaitForOutput(int stream, const std::string& text, std::chrono::milliseconds timeout = Deadline);
  const std::string& Stdout() const { return Streams[0].Text; }
  const std::string& Stderr() const { return Streams[1].Text; }
  bool WriteStdin(const std::string& text);
  void CloseStdin();
  void Signal(int signal);
  // The exit code (128 + signal when killed) once the process ended, or nothing while it runs.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout = Deadline);
  bool Running();
  pid_t ProcessId() const { return Pid; }

private:
  struct TStream {
    int Fd = -1;
    std::string Text;
  };

  // Appends what one read gives once the stream is readable; false at its end or the deadline.
  static bool ReadSome(TStream& stream, std::chrono::steady_clock::time_point deadline);

  pid_t Pid = -1;
  int PidFd = -1;
  int StdinFd = -1;
  TStream Streams[2];
  std::optional<int> ExitCode;
};
