#include "console/SequenceRun.h"

#include "sequence/SequenceLineLink.h"
#include "sequence/SequenceRecord.h"

TSequenceRun::TSequenceRun(const TSequence& sequence, std::unique_ptr<TSequenceLineLink> link, TRecords records,
                           const std::string& store, TSequenceObserver& watcher, TMqttPublisher* telemetry,
                           const TUnitSerials& units, std::function<void()> ended)
    : Sequence(sequence), Link(std::move(link)), Records(std::move(records)),
      Stored(store,
             [this](std::uint8_t address) {
               const auto record = Records.find(address);
               return record == Records.end() ? std::string() : record->second->RecordPath();
             }),
      Runner(Sequence, *Link)
{
  for (const auto& [address, record] : Records)
    Runner.Observe(*record); // first: the files are written before the window hears of a step
  Runner.Observe(watcher);
  if (telemetry) // it only queues: the verdicts go out before the store is written
    Runner.Observe(Published.emplace(*telemetry));
  Runner.Observe(Stored); // last: on the runner's thread, the window never waits for the store
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
