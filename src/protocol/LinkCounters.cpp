#include "protocol/LinkCounters.h"

#include "protocol/CommonDatas.h"

void TLinkCounters::Reset()
{
  for (std::atomic<std::uint64_t>* counter :
       {&FramesSent, &AnswersReceived, &AnswersMissing, &ChecksumFailures, &ShortBlocks, &PortFailures, &Stale})
    *counter = 0;
  LastAnswerTicks = 0;
}

void TLinkCounters::BlockReceived(std::size_t size)
{
  if (size < TFrame{}.size()) {
    ++ShortBlocks;
    return;
  }
  ++AnswersReceived;
  LastAnswerTicks = TClock::now().time_since_epoch().count();
}

std::optional<TLinkCounters::TClock::duration> TLinkCounters::SinceLastAnswer() const
{
  const TClock::rep ticks = LastAnswerTicks;
  if (ticks == 0)
    return std::nullopt;
  return TClock::now() - TClock::time_point(TClock::duration(ticks));
}

std::string TLinkCounters::Summary() const
{
  return "frames sent " + std::to_string(FramesSent) + ", answers received " + std::to_string(AnswersReceived) +
         ", answers missing " + std::to_string(AnswersMissing) + ", checksum failures " +
         std::to_string(ChecksumFailures) + ", short blocks " + std::to_string(ShortBlocks) + ", port failures " +
         std::to_string(PortFailures) + ", stale " + std::to_string(Stale);
}
