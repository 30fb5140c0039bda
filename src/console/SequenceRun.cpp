#include "console/SequenceRun.h"

#include "sequence/SequenceLineLink.h"
#include "sequence/SequenceRecord.h"

TSequenceRun::TSequenceRun(const TSequence& sequence, std::unique_ptr<TSequenceLineLink> link, TRecords records,
                           TSequenceObserver& watcher, const TUnitSerials& units, std::function<void()> ended)
    : Sequence(sequence), Link(std::move(link)), Records(std::move(records)), Runner(Sequence, *Link)
{
  for (const auto& [address, record] : Records)
    Runner.Observe(*record); // first: the files are written before the window hears of a step
  Runner.Observe(watcher);
  Thread = std::thread([this, units, ended = std::move(ended)] {
    Outcome = Runner.Run(units);
    ended();
  });
}

TSequenceRun::~TSequenceRun()
{
  Abort("the window was closed");
  Join();
}

void TSequenceRun::Abort(const std::string& reason)
{
  Link->Abort(reason);
}

void TSequenceRun::Join()
{
  if (Thread.joinable())
    Thread.join();
}
