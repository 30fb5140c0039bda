#include "SimLine.h"

#include "protocol/OzmCommands.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>

namespace {

constexpr std::size_t HistoryLimit = 4096;
constexpr std::size_t ReadChunk = 256;
constexpr std::uint8_t ExtraByte = 0x55;
constexpr std::uint8_t StrayByte = 0x55;
constexpr auto StrayByteGap = std::chrono::milliseconds(20);

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
    // Every descriptor of the slave shares its settings: this one also reads what the console set.
    SlaveFd = Checked(::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC), "open slave");
    if (!TSimLineSettings::ApplyRaw(SlaveFd, LineSettings()))
      throw std::system_error(errno, std::generic_category(), "tcsetattr");
    WakeFd = Checked(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK), "eventfd");
  } catch (...) {
    CloseDescriptors();
    CloseFd(WakeFd);
    throw;
  }
  Parser = {};
  Heard.clear();
  Pending.clear();
  Sending.reset();
  InWireFree = OutWireFree = {};
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

void TSimLine::SetLineSettings(const TSimLineSettings& settings)
{
  std::lock_guard lock(Mutex);
  OwnLine = settings;
}

TSimLineSettings TSimLine::LineSettings() const
{
  std::lock_guard lock(Mutex);
  return OwnLine;
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

bool TSimLine::SetControllerFaults(std::uint8_t address, const TSimControllerFaults& faults)
{
  std::lock_guard lock(Mutex);
  bool found = false;
  for (TSimController& device : Devices) {
    if (device.Address() == address) {
      device.SetFaults(faults);
      found = true;
    }
  }
  return found;
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
    // Sleeps until the next byte is through the wire either way, or for ever when the line is quiet.
    timespec wait{};
    const auto next = NextEvent();
    if (next) {
      const auto left = std::max(*next - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero());
      const auto seconds = std::chrono::floor<std::chrono::seconds>(left);
      wait.tv_sec = static_cast<std::time_t>(seconds.count());
      wait.tv_nsec = static_cast<long>(std::chrono::nanoseconds(left - seconds).count());
    }
    if (::ppoll(fds, 2, next ? &wait : nullptr, nullptr) < 0) {
      if (errno == EINTR)
        continue;
      EndLine();
      break;
    }
    if (fds[0].revents & POLLIN)
      ReadBytes();
    else if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL))
      EndLine();
    const auto now = std::chrono::steady_clock::now();
    HandleHeard(now);
    SendDue(now);
  }
}

std::optional<TSimLine::TTime> TSimLine::NextEvent() const
{
  std::optional<TTime> next;
  const auto consider = [&](TTime time) {
    if (!next || time < *next)
      next = time;
  };
  if (!Heard.empty())
    consider(Heard.front().Due);
  if (Sending)
    consider(Sending->NextByteDue());
  else if (!Pending.empty())
    consider(Pending.front().Due);
  return next;
}

// The pty hands over at once what a UART would take its time for: each byte is heard once its wire
// time at the console's settings is over, after the bytes before it. Settings other than the
// controllers' own make garbage of everything, the unfinished frame included.
void TSimLine::ReadBytes()
{
  std::uint8_t buffer[ReadChunk];
  const ssize_t count = ::read(MasterFd, buffer, sizeof buffer);
  if (count <= 0) {
    if (count == 0 || (errno != EAGAIN && errno != EINTR))
      EndLine();
    return;
  }
  const std::span<const std::uint8_t> bytes(buffer, static_cast<std::size_t>(count));
  const TSimLineSettings own = LineSettings();
  // Settings that cannot be read are taken to match: a test bed that keeps none still talks.
  const TSimLineSettings console = TSimLineSettings::Read(SlaveFd).value_or(own);
  const auto byteTime = console.WireTime(1);
  TTime through = std::max(std::chrono::steady_clock::now(), InWireFree);
  if (console != own) {
    Parser = {};
    through += byteTime * static_cast<std::int64_t>(bytes.size());
    Heard.push_back({through, {bytes.begin(), bytes.end()},
                     "line at " + console.Text() + " but the controller listens at " + own.Text() + ": heard garbage"});
  } else {
    for (const std::uint8_t& byte : bytes) {
      through += byteTime;
      for (auto& frame : Parser.Feed(std::span(&byte, 1)))
        Heard.push_back({through, std::move(frame), {}});
    }
  }
  InWireFree = through;
}

void TSimLine::HandleHeard(TTime now)
{
  while (MasterFd >= 0 && !Heard.empty() && Heard.front().Due <= now) {
    THeard heard = std::move(Heard.front());
    Heard.pop_front();
    if (heard.Garbled.empty())
      HandleFrame(heard.Bytes, heard.Due);
    else
      Record({TSimTraffic::TDirection::Garbled, heard.Due, std::move(heard.Bytes), std::move(heard.Garbled)});
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
    if (const auto answer = device.HandleFrame(frame, now); answer && ShouldAnswer(device, frame[2]))
      QueueAnswer(*answer, now, device, frame[2]);
  }
}

bool TSimLine::ShouldAnswer(const TSimController& device, std::uint8_t command) const
{
  return !ActiveFaults.Silent && !device.Faults().Silent &&
         !(ActiveFaults.SilentToStatus && command == CmdGetStatus);
}

// The controller's own faults add to the line's.
void TSimLine::QueueAnswer(const TFrame& answer, TTime now, TSimController& device, std::uint8_t command)
{
  const TSimControllerFaults& own = device.Faults();
  const auto delay = std::chrono::milliseconds(ActiveFaults.DelayMs + own.DelayMs + device.TakeLateOnce(command));
  TTransmission transmission{now + delay, {answer.begin(), answer.end()}};
  std::vector<std::uint8_t>& bytes = transmission.Bytes;
  const unsigned number = ++AnswersSinceFaults;
  const bool corrupt = own.Corrupt || ActiveFaults.CorruptAddress == device.Address();
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
  if (ActiveFaults.StrayByteAfter == number) {
    transmission.StrayAfter = true;
    ActiveFaults.StrayByteAfter = 0;
  }
  if (const unsigned jitterMs = ActiveFaults.JitterMs + own.JitterMs; jitterMs != 0) {
    std::uniform_int_distribution<std::int64_t> jitter(0, std::int64_t{jitterMs} * 1000);
    transmission.Due += std::chrono::microseconds(jitter(Random));
  }
  if (ActiveFaults.LateOnceCommand == command) {
    transmission.Due += std::chrono::milliseconds(ActiveFaults.LateOnceMs);
    ActiveFaults.LateOnceCommand.reset();
    ActiveFaults.LateOnceMs = 0;
  }
  Schedule(std::move(transmission));
}

// In order of due time: an answer made late lets the ones due before it go first.
void TSimLine::Schedule(TTransmission transmission)
{
  const auto place = std::upper_bound(Pending.begin(), Pending.end(), transmission.Due,
                                      [](TTime due, const TTransmission& queued) { return due < queued.Due; });
  Pending.insert(place, std::move(transmission));
}

// One transmission at a time: each byte is written once its wire time at the controllers' own
// settings is over, as a UART delivers it; bytes due while the thread was late go out at once.
void TSimLine::SendDue(TTime now)
{
  while (MasterFd >= 0) {
    if (!Sending) {
      if (Pending.empty() || Pending.front().Due > now)
        return;
      const TTime start = std::max(Pending.front().Due, OutWireFree);
      Sending = TOnWire{std::move(Pending.front()), start, LineSettings().WireTime(1)};
      Pending.pop_front();
    }
    const TTime due = Sending->NextByteDue();
    if (Sending->Next < Sending->What.Bytes.size()) {
      if (due > now)
        return;
      const std::uint8_t byte = Sending->What.Bytes[Sending->Next++];
      const TWrite written = WriteByte(byte);
      if (written == TWrite::Written)
        Sending->Written.push_back(byte);
      if (written == TWrite::LineGone) {
        Record({TSimTraffic::TDirection::Sent, std::chrono::steady_clock::now(), std::move(Sending->Written)});
        EndLine();
        return;
      }
    }
    if (Sending->Next == Sending->What.Bytes.size())
      FinishTransmission(due);
  }
}

void TSimLine::FinishTransmission(TTime lastByteDue)
{
  OutWireFree = lastByteDue;
  const bool strayAfter = Sending->What.StrayAfter;
  Record({TSimTraffic::TDirection::Sent, std::chrono::steady_clock::now(), std::move(Sending->Written)});
  Sending.reset();
  if (strayAfter)
    Schedule({lastByteDue + StrayByteGap, {StrayByte}});
}

// A byte the console's full input buffer cannot take is lost, as on a real line.
TSimLine::TWrite TSimLine::WriteByte(std::uint8_t byte)
{
  for (;;) {
    const ssize_t count = ::write(MasterFd, &byte, 1);
    if (count == 1)
      return TWrite::Written;
    if (count < 0 && errno == EINTR)
      continue;
    return count < 0 && errno == EAGAIN ? TWrite::Lost : TWrite::LineGone;
  }
}

void TSimLine::Record(const TSimTraffic& traffic)
{
  {
    std::lock_guard lock(Mutex);
    Remember(traffic);
  }
  Notify(traffic);
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
  Heard.clear();
  Pending.clear();
  Sending.reset();
  if (callback)
    callback();
}

void TSimLine::CloseDescriptors()
{
  CloseFd(MasterFd);
  CloseFd(SlaveFd);
}
