#include "SequenceRun.h"

#include "SequenceLineLink.h"
#include "SequenceRecord.h"

TSequenceRun::TSequenceRun(const TSequence& sequence, std::unique_ptr<TSequenceLineLink> link,
                           std::unique_ptr<TSequenceRecord> record, TSequenceObserver& watcher, const TUnitSerials& units,
                           std::function<void()> ended)
    : Sequence(sequence), Link(std::move(link)), Recorder(std::move(record)), Runner(Sequence, *Link)
{
  Runner.Observe(*Recorder); // first: the files are written before the window hears of a step
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
