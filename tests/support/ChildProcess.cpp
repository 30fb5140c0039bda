#include "ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <string_view>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

extern char** environ;

TChildProcess::TChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                             const std::vector<std::string>& environment)
{
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
    throw std::system_error(errno, std::generic_category(), "pipe2");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  std::vector<std::string> words = {program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables = environment;
  const auto replaced = [&](std::string_view variable) {
    const std::string_view name = variable.substr(0, variable.find('='));
    return std::any_of(environment.begin(), environment.end(),
                       [&](const std::string& e) { return std::string_view(e).substr(0, e.find('=')) == name; });
  };
  for (char** v = environ; *v; ++v)
    if (!replaced(*v))
      variables.emplace_back(*v);
  std::vector<char*> envp;
  for (std::string& variable : variables)
    if (variable.find('=') != std::string::npos)
      envp.push_back(variable.data());
  envp.push_back(nullptr);
  const int error = ::posix_spawn(&Pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  for (int fd : {in[0], out[1], err[1]})
    ::close(fd);
  StdinFd = in[1];
  Streams[0].Fd = out[0];
  Streams[1].Fd = err[0];
  if (error != 0)
    throw std::system_error(error, std::generic_category(), "posix_spawn");
  PidFd = static_cast<int>(::syscall(SYS_pidfd_open, Pid, 0)); // lets the exit be waited for with a deadline
}

TChildProcess::~TChildProcess()
{
  if (!ExitCode) {
    ::kill(Pid, SIGKILL);
    ::waitpid(Pid, nullptr, 0);
  }
  for (int fd : {StdinFd, Streams[0].Fd, Streams[1].Fd, PidFd})
    if (fd >= 0)
      ::close(fd);
}

std::string TChildProcess::FirstLine()
{
  WaitForOutput(0, "\n");
  return Streams[0].Text.substr(0, Streams[0].Text.find('\n'));
}

bool TChildProcess::WaitForOutput(int stream, const std::string& text, std::chrono::milliseconds timeout)
{
  TStream& s = Streams[stream];
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (s.Text.find(text) == std::string::npos && ReadSome(s, deadline)) {
  }
  return s.Text.find(text) != std::string::npos;
}

bool TChildProcess::WriteStdin(const std::string& text)
{
  return ::write(StdinFd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void TChildProcess::CloseStdin()
{
  ::close(StdinFd);
  StdinFd = -1;
}

void TChildProcess::Signal(int signal)
{
  ::kill(Pid, signal);
}

std::optional<int> TChildProcess::WaitForExit(std::chrono::milliseconds timeout)
{
  pollfd pfd{PidFd, POLLIN, 0};
  if (!ExitCode && ::poll(&pfd, 1, static_cast<int>(timeout.count())) == 1) {
    int status = 0;
    ::waitpid(Pid, &status, 0);
    ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  return ExitCode;
}

bool TChildProcess::Running()
{
  return !WaitForExit(std::chrono::milliseconds(0));
}

bool TChildProcess::ReadSome(TStream& stream, std::chrono::steady_clock::time_point deadline)
{
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  pollfd pfd{stream.Fd, POLLIN, 0};
  if (::poll(&pfd, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0)
    return false;
  char buffer[4096];
  const ssize_t count = ::read(stream.Fd, buffer, sizeof buffer);
  if (count <= 0)
    return false;
  stream.Text.append(buffer, static_cast<std::size_t>(count));
  return true;
}
