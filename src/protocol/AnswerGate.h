#pragma once

#include <atomic>
#include <cstdint>

// An answer follows its write: the answer to a frame is the first block read after that frame was
// written, taken once. The worker opens the gate right before each write and closes it when its wait
// ends; the receive handler asks it what each block is. A block read before the write (a late answer,
// a stray byte) or after the wait gave up is stale, and a status answer is only ever the answer to
// the status request.
class TAnswerGate {
public:
  enum class TBlock { Answer, StatusAnswer, Stale };

  // Worker: the frame whose write begins the port's read epoch `epoch` now awaits its answer.
  void Open(std::uint64_t epoch, bool statusRequest);
  // Worker, when its wait ends: true when the answer was taken meanwhile.
  bool Close();
  // Window's thread: what a block that was read in the port's read epoch `epoch` is.
  TBlock Take(std::uint64_t epoch);

private:
  // The awaited epoch shifted left by one, the low bit set for the status request; 0: none.
  std::atomic<std::uint64_t> Awaited{0};
};
