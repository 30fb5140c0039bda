#include "SimLine.h"

#include "OzmCommands.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <system_error>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::size_t HistoryLimit = 4096;
constexpr std::size_t ReadChunk = 256;
constexpr std::uint8_t ExtraByte = 0x55;

int Checked(int result, const char* what)
{
  if (result < 0)
    throw std::system_error(errno, std::generic_category(), what);
  return result;
}

void CloseFd(int& fd)
{
  if (fd >= 0)
    ::close(fd);
  fd = -1;
}

} // namespace

TSimLine::TSimLine(const std::vector<std::uint8_t>& addresses)
{
  for (std::uint8_t address : addresses)
    Devices.emplace_back(address);
}

TSimLine::~TSimLine()
{
  Close();
}

void TSimLine::Open()
{
  if (Thread.joinable() || MasterFd >= 0)
    throw std::logic_error("the line is already open");
  try {
    MasterFd = Checked(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC), "posix_openpt");
    Checked(::grantpt(MasterFd), "grantpt");
    Checked(::unlockpt(MasterFd), "unlockpt");
  } catch (...) {
    CloseDescriptors();
    throw;
  }
  Start();
}

void TSimLine::Adopt(int masterFd)
{
  if (Thread.joinable() || MasterFd >= 0)
    throw std::logic_error("the line is already open");
  MasterFd = Checked(::fcntl(masterFd, F_DUPFD_CLOEXEC, 0), "dup");
  const int flags = ::fcntl(MasterFd, F_GETFL);
  if (flags < 0 || ::fcntl(MasterFd, F_SETFL, flags | O_NONBLOCK) != 0) {
    CloseDescriptors();
    throw std::system_error(errno, std::generic_category(), "fcntl");
  }
  Start();
}

void TSimLine::Start()
{
  try {
    char path[64];
    if (const int error = ::ptsname_r(MasterFd, path, sizeof path); error != 0)
      throw std::system_error(error, std::generic_category(), "ptsname_r");
    Device = path;
    // The line keeps the slave open itself, so the master never reports a hang-up while the console
    // has the port closed; raw mode keeps answers from echoing back or 0x0A from becoming 0D 0A.
    SlaveFd = Checked(::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC), "open slave");
    termios raw{};
    Checked(::tcgetattr(SlaveFd, &raw), "tcgetattr");
    ::cfmakeraw(&raw);
    Checked(::tcsetattr(SlaveFd, TCSANOW, &raw), "tcsetattr");
    WakeFd = Checked(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK), "eventfd");
  } catch (...) {
    CloseDescriptors();
    CloseFd(WakeFd);
    throw;
  }
  Thread = std::jthread([this](std::stop_token stop) { Run(stop); });
}

void TSimLine::Close()
{
  if (Thread.joinable()) {
    Thread.request_stop();
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(WakeFd, &one, sizeof one);
    Thread.join();
  }
  CloseDescriptors();
  CloseFd(WakeFd);
}

std::string TSimLine::DevicePath() const
{
  return Device;
}

bool TSimLine::HungUp() const
{
  std::lock_guard lock(Mutex);
  return LineHungUp;
}

void TSimLine::SetFaults(const TSimFaults& faults)
{
  std::lock_guard lock(Mutex);
  ActiveFaults = faults;
  FramesSinceFaults = 0;
  AnswersSinceFaults = 0;
}

TSimFaults TSimLine::Faults() const
{
  std::lock_guard lock(Mutex);
  return ActiveFaults;
}

bool TSimLine::PressButton(std::optional<std::uint8_t> address)
{
  std::lock_guard lock(Mutex);
  const auto chosen = std::find_if(Devices.begin(), Devices.end(), [&](const TSimController& device) {
    return address ? device.Address() == *address : device.WaitingForButton();
  });
  if (chosen == Devices.end() || !chosen->WaitingForButton())
    return false;
  chosen->PressButton();
  return true;
}

std::vector<TSimController> TSimLine::Controllers() const
{
  std::vector<TSimController> copies;
  {
    std::lock_guard lock(Mutex);
    copies = Devices;
  }
  const auto now = std::chrono::steady_clock::now();
  for (TSimController& copy : copies)
    copy.AdvanceTo(now);
  return copies;
}

std::vector<TSimTraffic> TSimLine::Traffic() const
{
  std::lock_guard lock(Mutex);
  return {History.begin(), History.end()};
}

std::size_t TSimLine::FramesReceived() const
{
  std::lock_guard lock(Mutex);
  return FramesTotal;
}

bool TSimLine::WaitForFrames(std::size_t count, std::chrono::milliseconds timeout) const
{
  std::unique_lock lock(Mutex);
  return FrameArrived.wait_for(lock, timeout, [&] { return FramesTotal >= count; });
}

void TSimLine::SetTrafficCallback(TTrafficCallback callback)
{
  std::lock_guard lock(Mutex);
  OnTraffic = std::move(callback);
}

void TSimLine::SetEndCallback(TEndCallback callback)
{
  std::lock_guard lock(Mutex);
  OnEnd = std::move(callback);
}

void TSimLine::Run(std::stop_token stop)
{
  while (!stop.stop_requested() && MasterFd >= 0) {
    pollfd fds[] = {{MasterFd, POLLIN, 0}, {WakeFd, POLLIN, 0}};
    if (::poll(fds, 2, PollTimeoutMs()) < 0) {
      if (errno == EINTR)
        continue;
      EndLine();
      break;
    }
    if (fds[0].revents & POLLIN)
      ReadFrames();
    else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
      EndLine();
    SendDueAnswers();
  }
}

// Sleeps until the next delayed answer is due, or for ever when none is waiting.
int TSimLine::PollTimeoutMs() const
{
  if (Pending.empty())
    return -1;
  const auto wait = Pending.front().Due - std::chrono::steady_clock::now();
  return static_cast<int>(std::max<std::int64_t>(0, std::chrono::ceil<std::chrono::milliseconds>(wait).count()));
}

void TSimLine::ReadFrames()
{
  std::uint8_t buffer[ReadChunk];
  const ssize_t count = ::read(MasterFd, buffer, sizeof buffer);
  if (count > 0) {
    const auto now = std::chrono::steady_clock::now();
    for (const auto& frame : Parser.Feed(std::span(buffer, static_cast<std::size_t>(count))))
      HandleFrame(frame, now);
  } else if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
    EndLine();
  }
}

void TSimLine::HandleFrame(const std::vector<std::uint8_t>& frame, TTime now)
{
  const TSimTraffic received{TSimTraffic::TDirection::Received, now, frame};
  bool hangUp = false;
  {
    std::lock_guard lock(Mutex);
    Remember(received);
    hangUp = ActiveFaults.HangUpAfter != 0 && ++FramesSinceFaults >= ActiveFaults.HangUpAfter;
    if (!hangUp)
      Dispatch(frame, now);
  }
  Notify(received);
  if (hangUp)
    EndLine();
}

// Every controller the frame concerns acts on it; those addressed answer, unless a fault silences them.
void TSimLine::Dispatch(const std::vector<std::uint8_t>& frame, TTime now)
{
  for (TSimController& device : Devices) {
    if (const auto answer = device.HandleFrame(frame, now); answer && ShouldAnswer(frame[2]))
      QueueAnswer(*answer, now, ActiveFaults.CorruptAddress == device.Address());
  }
}

bool TSimLine::ShouldAnswer(std::uint8_t command) const
{
  return !ActiveFaults.Silent && !(ActiveFaults.SilentToStatus && command == CmdGetStatus);
}

void TSimLine::QueueAnswer(const TFrame& answer, TTime now, bool corrupt)
{
  std::vector<std::uint8_t> bytes(answer.begin(), answer.end());
  const unsigned number = ++AnswersSinceFaults;
  if (corrupt || (ActiveFaults.CorruptEvery != 0 && number % ActiveFaults.CorruptEvery == 0))
    bytes.back() ^= 0xFF;
  if (ActiveFaults.DropByteAt == number) {
    bytes.pop_back();
    ActiveFaults.DropByteAt = 0;
  }
  if (ActiveFaults.ExtraByteAt == number) {
    bytes.push_back(ExtraByte);
    ActiveFaults.ExtraByteAt = 0;
  }
  Pending.push_back({now + std::chrono::milliseconds(ActiveFaults.DelayMs), std::move(bytes)});
}

void TSimLine::SendDueAnswers()
{
  while (MasterFd >= 0 && !Pending.empty() && Pending.front().Due <= std::chrono::steady_clock::now()) {
    std::vector<std::uint8_t> bytes = std::move(Pending.front().Bytes);
    Pending.pop_front();
    const bool lineUp = WriteAll(bytes);
    const TSimTraffic sent{TSimTraffic::TDirection::Sent, std::chrono::steady_clock::now(), std::move(bytes)};
    {
      std::lock_guard lock(Mutex);
      Remember(sent);
    }
    Notify(sent);
    if (!lineUp)
      EndLine();
  }
}

// Writes the answer, trimmed to what went out: bytes the console's full input buffer cannot take are
// lost, as on a real line. False once the pseudo-terminal is gone.
bool TSimLine::WriteAll(std::vector<std::uint8_t>& bytes)
{
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t count = ::write(MasterFd, bytes.data() + done, bytes.size() - done);
    if (count > 0) {
      done += static_cast<std::size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR)
      continue;
    const bool overrun = count < 0 && errno == EAGAIN;
    bytes.resize(done);
    return overrun;
  }
  return true;
}

void TSimLine::Remember(const TSimTraffic& traffic)
{
  if (History.size() == HistoryLimit)
    History.pop_front();
  History.push_back(traffic);
  if (traffic.Direction == TSimTraffic::TDirection::Received) {
    ++FramesTotal;
    FrameArrived.notify_all();
  }
}

void TSimLine::Notify(const TSimTraffic& traffic)
{
  TTrafficCallback callback;
  {
    std::lock_guard lock(Mutex);
    callback = OnTraffic;
  }
  if (callback)
    callback(traffic);
}

// The console's side sees the hang-up once both descriptors of the pseudo-terminal are closed; the flag
// is set first, so whoever saw the hang-up also finds HungUp() true.
void TSimLine::EndLine()
{
  TEndCallback callback;
  {
    std::lock_guard lock(Mutex);
    LineHungUp = true;
    callback = OnEnd;
  }
  CloseDescriptors();
  Pending.clear();
  if (callback)
    callback();
}

void TSimLine::CloseDescriptors()
{
  CloseFd(MasterFd);
  CloseFd(SlaveFd);
}
