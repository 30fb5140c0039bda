#include "ReadThread.h"

#include "ComPort.h"
#include "SerialDevice.h"
#include "Synchronizer.h"

#include <algorithm>

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

TReadThread::TReadThread(TComPort& port, TSerialDevice& device)
    : Port(port), Device(device), WakeFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      BlockSize(port.InBufSize()), WholeBlocksOnly(port.WaitFullBuffer), Buffer(BlockSize),
      Thread([this] { Execute(); })
{
}

TReadThread::~TReadThread()
{
  Terminated = true;
  Wake();
  // A plain join could deadlock: the thread may be waiting for this thread to run its delivery.
  TSynchronizer& sync = TSynchronizer::Instance();
  sync.WaitUntil(TSynchronizer::TClock::time_point::max(), [this] { return Finished.load(); });
  Thread.join();
  if (WakeFd >= 0)
    ::close(WakeFd);
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

void TReadThread::Execute()
{
  bool deviceUsable = WakeFd >= 0;
  while (!Terminated) {
    // A hung-up line reports POLLHUP forever: stop watching it instead of spinning.
    pollfd fds[2] = {{WakeFd, POLLIN, 0}, {(ReadingOn && deviceUsable) ? Device.Handle() : -1, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      break;
    }
    if (fds[0].revents & POLLIN) {
      std::uint64_t count;
      while (::read(WakeFd, &count, sizeof count) > 0) {
      }
    }
    if (fds[1].revents & POLLIN)
      deviceUsable = DeliverQueuedBlocks();
    if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
      deviceUsable = false;
  }
  {
    std::lock_guard lock(TSynchronizer::Instance().Mutex);
    Finished = true;
  }
  TSynchronizer::Instance().Changed.notify_all();
}

bool TReadThread::DeliverQueuedBlocks()
{
  // Every complete block now queued, not one per wake-up: two answers that arrive together
  // would otherwise leave the second waiting for a byte that never comes.
  while (!Terminated && ReadingOn) {
    const TLineStatus status = Port.ClearErrors();
    const bool enough = WholeBlocksOnly ? status.InQueue >= BlockSize : status.InQueue > 0;
    if (!enough)
      return true;
    std::fill(Buffer.begin(), Buffer.end(), 0);
    const std::size_t count = Device.Read(Buffer.data(), Buffer.size());
    if (count == 0)
      return false;
    DeliverBlock(static_cast<std::uint32_t>(count), status.Errors);
  }
  return true;
}

void TReadThread::DeliverBlock(std::uint32_t count, std::uint32_t errors)
{
  TSynchronizer::Instance().Synchronize([&] {
    // A port that is closing delivers nothing more.
    if (!Terminated && Port.OnReceive)
      Port.OnReceive(Buffer.data(), static_cast<std::int32_t>(count), errors);
  });
}
