#include "serial/ReadThread.h"

#include "protocol/CommonDatas.h"
#include "serial/ComPort.h"
#include "serial/Line.h"
#include "serial/Synchronizer.h"

#include <algorithm>
#include <chrono>
#include <span>

#include <cerrno>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

TReadThread::TReadThread(TComPort& port, TLine& device)
    : Port(port), Device(device), WakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      EpollFd(::epoll_create1(EPOLL_CLOEXEC)), BlockSize(port.InBufSize()), WholeBlocksOnly(port.WaitFullBuffer),
      GapsEndBlocks(device.GapsEndBlocks()),
      Buffer(BlockSize), Thread([this] { Execute(); })
{
}

// Edge-triggered on the device: one wake-up per arrival of bytes, none while a partial block sits
// in the queue waiting for the rest or for the silence that ends it.
bool TReadThread::Watch()
{
  epoll_event wake{EPOLLIN, {.fd = WakeFd}};
  epoll_event device{EPOLLIN | EPOLLRDHUP | EPOLLET, {.fd = Device.Handle()}};
  return WakeFd >= 0 && EpollFd >= 0 && ::epoll_ctl(EpollFd, EPOLL_CTL_ADD, WakeFd, &wake) == 0 &&
         ::epoll_ctl(EpollFd, EPOLL_CTL_ADD, Device.Handle(), &device) == 0;
}

TReadThread::~TReadThread()
{
  TSynchronizer& sync = TSynchronizer::Instance();
  {
    std::lock_guard lock(sync.Mutex);
    Terminated = true;
    Deliveries->Open = false; // a port that is closing delivers nothing more
  }
  sync.Changed.notify_all();
  Wake();
  // The calls waiting for the window run now, whether or not the thread has already finished: a recovery step
  // pending there then sees this close under way and leaves the port to it, rather than reopening it after.
  if (sync.OnMainThread())
    sync.ProcessPending();
  // A plain join could deadlock: the thread may be waiting for this thread to take its deliveries.
  sync.WaitUntil(TSynchronizer::TClock::time_point::max(), [this] { return Finished.load(); });
  Thread.join();
  for (int fd : {EpollFd, WakeFd})
    if (fd >= 0)
      ::close(fd);
}

void TReadThread::SetReading(bool on)
{
  ReadingOn = on;
  Wake();
}

void TReadThread::Wake()
{
  const std::uint64_t one = 1;
  if (WakeFd >= 0 && ::write(WakeFd, &one, sizeof one) < 0 && errno != EAGAIN)
    Terminated = true; // cannot happen with a valid eventfd; never leave the thread unreachable
}

void TReadThread::SetLineRate(std::uint32_t baud)
{
  LineRate = baud ? baud : 1;
}

// Far longer than the pauses inside one answer (four characters, or a USB adapter's packet delay),
// far shorter than the 50 ms of silence before the next frame can even be written. A network line
// delays a segment by far more (a retransmission, 200 ms): there a block waits for its rest longer
// than that, yet hands a short answer over while its frame's answer time (300 ms) still runs.
std::chrono::milliseconds TReadThread::PartialBlockTimeout() const
{
  if (!GapsEndBlocks)
    return std::chrono::milliseconds(TCommonDatas::AnswerTimeout - 50);
  return std::chrono::milliseconds(30 + 4 * 10'000 / LineRate);
}

void TReadThread::Execute()
{
  bool deviceUsable = Watch();
  int timeoutMs = -1;
  while (!Terminated) {
    epoll_event events[2];
    const int count = ::epoll_wait(EpollFd, events, 2, ReadingOn && deviceUsable ? timeoutMs : -1);
    if (count < 0) {
      if (errno == EINTR)
        continue;
      break;
    }
    bool hungUp = false;
    for (const epoll_event& event : std::span(events, static_cast<std::size_t>(count))) {
      std::uint64_t wakes;
      if (event.data.fd == WakeFd)
        while (::read(WakeFd, &wakes, sizeof wakes) > 0) {
        }
      else
        hungUp = hungUp || (event.events & (EPOLLHUP | EPOLLERR));
    }
    if (ReadingOn && deviceUsable)
      deviceUsable = DeliverQueuedBlocks(timeoutMs);
    // A hung-up line reports its hang-up for ever: stop watching it instead of spinning.
    if (hungUp && deviceUsable) {
      ::epoll_ctl(EpollFd, EPOLL_CTL_DEL, Device.Handle(), nullptr);
      deviceUsable = false;
    }
  }
  {
    std::lock_guard lock(TSynchronizer::Instance().Mutex);
    Finished = true;
  }
  TSynchronizer::Instance().Changed.notify_all();
}

bool TReadThread::DeliverQueuedBlocks(int& timeoutMs)
{
  using namespace std::chrono;
  timeoutMs = -1;
  // Every complete block now queued, not one per wake-up: two answers that arrive together
  // would otherwise leave the second waiting for a byte that never comes.
  for (;;) {
    if (Terminated || !ReadingOn)
      return true;
    std::uint64_t epoch = 0;
    const TLineStatus status = Port.ClearErrors(&epoch);
    if (epoch != LookEpoch) // a frame was written meanwhile and the queue dropped: what is there now is new
      PartialBytes = 0;
    LookEpoch = epoch;
    PendingErrors |= status.Errors;
    const std::size_t queued = status.InQueue;
    if (queued == 0 || (WholeBlocksOnly && queued < BlockSize && queued != PartialBytes)) {
      // Nothing, or a partial block that is new or still growing: wait for the rest or the silence.
      PartialBytes = queued;
      PartialDue = steady_clock::now() + PartialBlockTimeout();
      if (queued != 0)
        timeoutMs = static_cast<int>(PartialBlockTimeout().count());
      return true;
    }
    if (WholeBlocksOnly && queued < BlockSize && steady_clock::now() < PartialDue) {
      timeoutMs = static_cast<int>(ceil<milliseconds>(PartialDue - steady_clock::now()).count());
      return true;
    }
    PartialBytes = 0;
    if (!ReadAndDeliver(std::min<std::size_t>(queued, BlockSize)))
      return false;
  }
}

bool TReadThread::ReadAndDeliver(std::size_t count)
{
  std::fill(Buffer.begin(), Buffer.end(), 0);
  const std::size_t read = Port.ReadQueued(Buffer.data(), count, LookEpoch);
  if (read == 0) // a frame's write came between the look and the read, or the device failed
    return Port.Epoch() != LookEpoch;
  DeliverBlock(static_cast<std::uint32_t>(read), PendingErrors, Port.NoteBlockRead(LookEpoch));
  PendingErrors = 0;
  return true;
}

// Reading goes on while the window's thread is busy, so that the port's read hook claims each answer as it
// comes, not when that thread gets to it.
void TReadThread::DeliverBlock(std::uint32_t count, std::uint32_t errors, std::uint32_t claim)
{
  TSynchronizer& sync = TSynchronizer::Instance();
  {
    std::unique_lock lock(sync.Mutex);
    sync.Changed.wait(lock, [this] { return Deliveries->Waiting < AheadMost || Terminated; });
    if (Terminated)
      return;
    ++Deliveries->Waiting;
  }
  sync.Post([deliveries = Deliveries, port = &Port,
             block = std::vector<std::uint8_t>(Buffer.begin(), Buffer.begin() + count), errors, claim] {
    TSynchronizer& sync = TSynchronizer::Instance();
    bool open = false;
    {
      std::lock_guard lock(sync.Mutex);
      --deliveries->Waiting;
      open = deliveries->Open;
    }
    sync.Changed.notify_all();
    if (open && port->OnReceive)
      port->OnReceive(block.data(), static_cast<std::int32_t>(block.size()), errors, claim);
  });
}
