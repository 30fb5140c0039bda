#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

class TComPort;
class TLine;

// The one reader of an open port. It blocks in poll() on the device and on a wake-up descriptor,
// so it costs no CPU while the line is idle, and hands every complete block to the port's
// OnReceive on the window's thread, running ahead of a busy window's thread by a few blocks at
// most. It starts suspended: nothing is read before SetReading(true).
// Bytes short of a block that stay alone on a silent line (a byte lost, or one too many) are handed
// over as a short block once the line has been silent for a while, so the next answer starts a
// block of its own again instead of every later block being shifted. On a network line, whose gaps
// are the network's, that while outlasts a retransmission but not the answer timeout.
class TReadThread {
public:
  TReadThread(TComPort& port, TLine& device);
  TReadThread(const TReadThread&) = delete;
  TReadThread& operator=(const TReadThread&) = delete;
  // Stops the thread and waits for its end, running the window's pending calls meanwhile; blocks
  // still on their way to the window's thread are dropped. Called on the window's thread.
  ~TReadThread();

  // How many blocks read may wait for the window's thread before reading waits too: enough for a
  // window busy for seconds at a controller's pace, few enough to hold back a line that floods.
  static constexpr std::size_t AheadMost = 64;

  void SetReading(bool on);
  bool Reading() const { return ReadingOn; }
  // The line's rate decides how long a silence ends a partial block.
  void SetLineRate(std::uint32_t baud);
  std::chrono::milliseconds PartialBlockTimeout() const;

private:
  bool Watch();
  void Execute();
  // Delivers every whole block queued, and a partial one that sat through a silence; false once
  // the device has failed. Returns the poll timeout until a partial block is due, or -1.
  bool DeliverQueuedBlocks(int& timeoutMs);
  bool ReadAndDeliver(std::size_t count);
  void DeliverBlock(std::uint32_t count, std::uint32_t errors, std::uint32_t claim);
  void Wake();

  // The blocks on their way to the window's thread, shared with them: they may outlive this reader.
  // Guarded by the synchronizer's mutex.
  struct TDeliveries {
    bool Open = true;
    std::size_t Waiting = 0;
  };

  TComPort& Port;
  TLine& Device;
  const int WakeFd;
  const int EpollFd;
  // Handed over at construction: the port may not change them while it is open.
  const std::uint32_t BlockSize;
  const bool WholeBlocksOnly;
  const bool GapsEndBlocks;
  std::vector<std::uint8_t> Buffer;
  const std::shared_ptr<TDeliveries> Deliveries = std::make_shared<TDeliveries>();
  std::atomic<std::uint32_t> LineRate{9600};
  std::uint32_t PendingErrors = 0;
  std::size_t PartialBytes = 0;
  // The port's read epoch at the last look: a frame written since then dropped what was queued.
  std::uint64_t LookEpoch = 0;
  std::chrono::steady_clock::time_point PartialDue;
  std::atomic<bool> ReadingOn{false};
  std::atomic<bool> Terminated{false};
  std::atomic<bool> Finished{false};
  std::thread Thread;
};
