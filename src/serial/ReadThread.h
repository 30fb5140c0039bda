#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

class TComPort;
class TSerialDevice;

// The one reader of an open port. It blocks in poll() on the device and on a wake-up descriptor,
// so it costs no CPU while the line is idle, and hands every complete block to the port's
// OnReceive on the window's thread. It starts suspended: nothing is read before SetReading(true).
class TReadThread {
public:
  TReadThread(TComPort& port, TSerialDevice& device);
  TReadThread(const TReadThread&) = delete;
  TReadThread& operator=(const TReadThread&) = delete;
  // Stops the thread and waits for its end, running the window's pending calls meanwhile.
  ~TReadThread();

  void SetReading(bool on);
  bool Reading() const { return ReadingOn; }

private:
  void Execute();
  // Reads and delivers the blocks now queued; false once the device has failed.
  bool DeliverQueuedBlocks();
  void DeliverBlock(std::uint32_t count, std::uint32_t errors);
  void Wake();

  TComPort& Port;
  TSerialDevice& Device;
  const int WakeFd;
  // Handed over at construction: the port may not change them while it is open.
  const std::uint32_t BlockSize;
  const bool WholeBlocksOnly;
  std::vector<std::uint8_t> Buffer;
  std::atomic<bool> ReadingOn{false};
  std::atomic<bool> Terminated{false};
  std::atomic<bool> Finished{false};
  std::thread Thread;
};
