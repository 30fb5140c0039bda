#include "protocol/AnswerGate.h"

namespace {

constexpr int KindBits = 2;
constexpr int AddressBits = 8;
constexpr int EpochShift = KindBits + AddressBits;

} // namespace

void TAnswerGate::Open(std::uint64_t epoch, bool statusRequest)
{
  Await(epoch, statusRequest ? TBlock::StatusAnswer : TBlock::Answer, 0);
}

void TAnswerGate::OpenBus(std::uint64_t epoch, std::uint8_t address)
{
  Await(epoch, TBlock::BusStatusAnswer, address);
}

void TAnswerGate::Await(std::uint64_t epoch, TBlock kind, std::uint8_t address)
{
  Awaited = epoch << EpochShift | std::uint64_t{address} << KindBits | static_cast<std::uint64_t>(kind);
}

bool TAnswerGate::Close()
{
  return Awaited.exchange(0) == 0;
}

TAnswerGate::TBlock TAnswerGate::Take(std::uint64_t epoch, std::uint8_t* busAddress)
{
  std::uint64_t awaited = Awaited;
  // Only the first block after the awaited write takes it, and only while the worker still waits.
  if (awaited == 0 || awaited >> EpochShift != epoch || !Awaited.compare_exchange_strong(awaited, 0))
    return TBlock::Stale;
  if (busAddress)
    *busAddress = static_cast<std::uint8_t>(awaited >> KindBits);
  return static_cast<TBlock>(awaited & ((1u << KindBits) - 1));
}
