#include "console/RecordsQuery.h"

#include "records/RecordsStore.h"

#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

TRecordsQuery::TRecordsQuery(QObject* parent) : QObject(parent)
{
}

void TRecordsQuery::Ask(const std::string& store, TWork work, TDone done)
{
  const std::uint64_t asked = ++Latest;
  ++Out;
  auto* watcher = new QFutureWatcher<std::string>(this);
  connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, asked, done = std::move(done)] {
    watcher->deleteLater();
    --Out;
    if (asked == Latest)
      done(watcher->result());
  });
  // Nothing of the window goes to the pool: a question left running when the window closes touches only
  // its own copies.
  watcher->setFuture(QtConcurrent::run([store, work = std::move(work)]() -> std::string {
    try {
      TRecordsStore records(store);
      work(records);
      return {};
    } catch (const std::exception& error) {
      return error.what();
    }
  }));
}
