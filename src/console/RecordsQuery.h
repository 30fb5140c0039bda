#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <string>

class TRecordsStore;

// A question to the records store, asked on a thread of the pool so that a slow or unreachable server
// never holds the window; the answer comes back on the window's thread. A question asked anew makes
// the one still out stale: its answer is dropped.
class TRecordsQuery : public QObject {
  Q_OBJECT
public:
  // On the pool's thread, with a store of its own: fills what the caller's closures share.
  using TWork = std::function<void(TRecordsStore&)>;
  // On the window's thread once the work is done; failure is empty when the store answered.
  using TDone = std::function<void(const std::string& failure)>;

  explicit TRecordsQuery(QObject* parent);
  void Ask(const std::string& store, TWork work, TDone done);
  // A question is out whose answer has not come back.
  bool Asking() const { return Out > 0; }

private:
  std::uint64_t Latest = 0;
  int Out = 0;
};
