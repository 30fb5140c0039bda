#pragma once

#include <atomic>
#include <cstdint>

// An answer follows its write: the answer to a frame is the first block read after that frame was
// written, taken once. The worker opens the gate right before each write and closes it when its wait
// ends; the receive thread asks it what each block is as it reads it. A block read before the write (a late answer,
// a stray byte) or after the wait gave up is stale, and a status answer is only ever the answer to
// the status request.
class TAnswerGate {
public:
  enum class TBlock { Answer, StatusAnswer, BusStatusAnswer, Stale };

  // Worker: the frame whose write begins the port's read epoch `epoch` now awaits its answer.
  void Open(std::uint64_t epoch, bool statusRequest);
  // Worker: the bus round's status request to `address` awaits its answer.
  void OpenBus(std::uint64_t epoch, std::uint8_t address);
  // Worker, when its wait ends: true when the answer was taken meanwhile.
  bool Close();
  // Worker, while it waits: the answer has been taken.
  bool Taken() const { return Awaited == 0; }
  // Receive thread, as it reads a block: what a block that was read in the port's read epoch `epoch` is; for a bus
  // status answer, `busAddress` gets the address that was asked.
  TBlock Take(std::uint64_t epoch, std::uint8_t* busAddress = nullptr);

private:
  void Await(std::uint64_t epoch, TBlock kind, std::uint8_t address);

  // The awaited epoch, then the bus address asked (8 bits), then the kind (2 bits); 0: none.
  std::atomic<std::uint64_t> Awaited{0};
};
