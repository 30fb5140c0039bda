#include "AnswerGate.h"

void TAnswerGate::Open(std::uint64_t epoch, bool statusRequest)
{
  Awaited = epoch << 1 | (statusRequest ? 1 : 0);
}

bool TAnswerGate::Close()
{
  return Awaited.exchange(0) == 0;
}

TAnswerGate::TBlock TAnswerGate::Take(std::uint64_t epoch)
{
  std::uint64_t awaited = Awaited;
  // Only the first block after the awaited write takes it, and only while the worker still waits.
  if (awaited == 0 || awaited >> 1 != epoch || !Awaited.compare_exchange_strong(awaited, 0))
    return TBlock::Stale;
  return (awaited & 1) ? TBlock::StatusAnswer : TBlock::Answer;
}
