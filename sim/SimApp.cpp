#include "SimApp.h"

#include "SimLink.h"
#include "protocol/OzmCommands.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr std::size_t MaxInputLine = 1024;

// The handler's only work is one byte into the pipe the main loop waits on.
volatile std::sig_atomic_t SignalPipe = -1;

// 'c' for SIGCONT (the job may have come to the terminal's foreground, or left it), 's' for an end.
extern "C" void OnSignal(int signal)
{
  const int savedErrno = errno;
  const char byte = signal == SIGCONT ? 'c' : 's';
  [[maybe_unused]] const auto written = ::write(SignalPipe, &byte, 1);
  errno = savedErrno;
}

// A terminal belongs to its foreground job: a background job that read it would be stopped (SIGTTIN),
// and its controllers would fall silent with it.
bool MayReadInput()
{
  if (!::isatty(STDIN_FILENO))
    return true;
  const pid_t foreground = ::tcgetpgrp(STDIN_FILENO);
  return foreground < 0 || foreground == ::getpgrp(); // not our controlling terminal: nobody's job
}

std::string Timestamp()
{
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  ::localtime_r(&seconds, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis));
  return text;
}

} // namespace

TSimApp::TSimApp(TSimSettings settings)
    : Settings(std::move(settings)), Line(Settings.Addresses)
{
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::system_error(errno, std::generic_category(), "pipe2");
  WakeRead = fds[0];
  WakeWrite = fds[1];
}

TSimApp::~TSimApp()
{
  Line.Close(); // before the pipe its end callback writes to goes away
  ::close(WakeRead);
  ::close(WakeWrite);
}

int TSimApp::Run()
{
  InstallSignals();
  Line.SetLineSettings(Settings.Line);
  Line.SetFaults(Settings.Faults);
  for (const auto& [address, faults] : Settings.ControllerFaults)
    Line.SetControllerFaults(address, faults);
  if (Settings.Verbose)
    Line.SetTrafficCallback(&TSimApp::LogTraffic);
  Line.SetEndCallback([fd = WakeWrite] {
    const char byte = 'e';
    [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
  });
  try {
    Line.Open();
    std::optional<TSimLink> link;
    if (!Settings.LinkPath.empty())
      link.emplace(Settings.LinkPath, Line.DevicePath());
    // The path is the sign that everything is ready, the link included.
    std::printf("%s\n", Line.DevicePath().c_str());
    std::fflush(stdout);
    FollowInput();
  } catch (const std::exception& error) {
    Report(error.what());
    return 1;
  }
  return 0;
}

void TSimApp::InstallSignals()
{
  SignalPipe = WakeWrite;
  struct sigaction action{};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGCONT, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  // Sent to the background (Ctrl+Z, bg) between the check and the read: the read fails instead.
  std::signal(SIGTTIN, SIG_IGN);
}

// Commands are a convenience: neither the end of the input nor a terminal the simulator may not read
// stops it, so `ozmet-sim > sim.out &` keeps serving in a script and in an interactive shell alike.
void TSimApp::FollowInput()
{
  bool inputOpen = !Settings.NoInput;
  bool readable = inputOpen && MayReadInput();
  for (;;) {
    pollfd fds[] = {{WakeRead, POLLIN, 0}, {readable ? STDIN_FILENO : -1, POLLIN, 0}};
    // fg sends no SIGCONT to a job that runs: a terminal not ours yet is looked at again each second.
    const int timeout = inputOpen && !readable ? 1000 : -1;
    const int ready = ::poll(fds, 2, timeout);
    if (ready < 0) {
      if (errno == EINTR)
        continue;
      throw std::system_error(errno, std::generic_category(), "poll");
    }
    if (ready == 0) {
      readable = MayReadInput();
      continue;
    }
    if (fds[0].revents != 0) {
      char byte = 0;
      if (::read(WakeRead, &byte, 1) == 1 && byte == 'c') {
        readable = inputOpen && MayReadInput();
        continue;
      }
      return; // a signal, or the line hung up
    }
    if (fds[1].revents == 0)
      continue;
    switch (ReadInput()) {
    case TInput::Read: break;
    case TInput::Ended: inputOpen = readable = false; break;
    case TInput::NotNow: readable = false; break; // looked at again at SIGCONT or within a second
    }
  }
}

// Runs every complete line.
TSimApp::TInput TSimApp::ReadInput()
{
  char buffer[256];
  const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
  if (count < 0 && (errno == EINTR || errno == EAGAIN))
    return TInput::Read;
  if (count < 0 && errno == EIO && ::isatty(STDIN_FILENO))
    return TInput::NotNow; // a background read of the terminal, SIGTTIN being ignored
  if (count <= 0)
    return TInput::Ended;
  Input.append(buffer, static_cast<std::size_t>(count));
  for (std::size_t end = Input.find('\n'); end != std::string::npos; end = Input.find('\n')) {
    const std::string line = Input.substr(0, end);
    Input.erase(0, end + 1);
    RunCommand(line);
  }
  if (Input.size() > MaxInputLine) {
    Report("input line too long, ignored");
    Input.clear();
  }
  return TInput::Read;
}

void TSimApp::RunCommand(std::string_view line)
{
  TSimSettings change{.Faults = Line.Faults()};
  const TSimFaults before = change.Faults;
  if (const auto error = TSimOptions::ApplyCommand(line, change)) {
    Report(*error);
    return;
  }
  if (change.Faults != before)
    Line.SetFaults(change.Faults);
  if (change.ButtonPressed && !Line.PressButton(change.ButtonAddress))
    Report("no controller is waiting for its button");
  else if (Settings.Verbose)
    Log("command " + std::string(line));
}

void TSimApp::LogTraffic(const TSimTraffic& traffic)
{
  std::string text = traffic.Direction == TSimTraffic::TDirection::Sent ? "tx" : "rx";
  for (std::uint8_t byte : traffic.Bytes)
    text.append(" ").append(TOzmCommands::HexByte(byte));
  if (!traffic.Note.empty())
    text += " (" + traffic.Note + ")";
  Log(text);
}

// One whole line per call, so the line's thread and the main thread never interleave within a line.
void TSimApp::Log(const std::string& text)
{
  const std::string line = Timestamp() + " " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

void TSimApp::Report(const std::string& message)
{
  std::fprintf(stderr, "ozmet-sim: %s\n", message.c_str());
}
