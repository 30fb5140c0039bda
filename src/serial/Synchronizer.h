#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

// Runs calls of the background threads on the window's thread and lets them wait until done.
// Pending calls sit in one queue that the window's thread drains from its event loop (through the
// waker) and from inside every wait of its own, so no wait deadlocks against a waiting thread.
// One mutex guards the queue and the state of every TEvent, so a wait sees both change.
class TSynchronizer {
public:
  using TClock = std::chrono::steady_clock;

  static TSynchronizer& Instance();

  // The window's thread; until it is set, the thread the program started on.
  void SetMainThread(std::thread::id id);
  bool OnMainThread() const;
  // Asks the window's event loop to call ProcessPending soon; called once per batch of calls.
  void SetWaker(std::function<void()> waker);

  // Runs fn on the window's thread and returns when it has run (at once on that thread).
  void Synchronize(const std::function<void()>& fn);
  // Queues fn for the window's thread and returns at once (runs it at once on that thread). Queued
  // and synchronised calls run in the order they were asked for. fn must not throw: nobody waits
  // to be told.
  void Post(std::function<void()> fn);
  // Runs the pending calls; window's thread only.
  void ProcessPending();
  // How many calls wait for the window's thread now.
  std::size_t PendingCount();

  // Waits until ready() holds or the deadline passes; on the window's thread it runs the pending
  // calls meanwhile, and nothing else. ready() is called with the mutex held.
  template <class TReady>
  bool WaitUntil(TClock::time_point deadline, TReady ready);

  std::mutex Mutex;
  std::condition_variable Changed;

private:
  // The asking thread's side of a synchronised call.
  struct TWaiter {
    bool Done = false;
    std::exception_ptr Error;
  };
  struct TCall {
    std::function<void()> Fn;
    TWaiter* Waiter; // none for a posted call
  };

  TSynchronizer();
  void Enqueue(TCall call);

  std::thread::id MainThread;
  std::function<void()> Waker;
  std::deque<TCall> Pending;
  bool WakePosted = false;
};

template <class TReady>
bool TSynchronizer::WaitUntil(TClock::time_point deadline, TReady ready)
{
  const bool onMain = OnMainThread();
  std::unique_lock lock(Mutex);
  while (!ready()) {
    if (onMain && !Pending.empty()) {
      lock.unlock();
      ProcessPending();
      lock.lock();
      continue;
    }
    if (Changed.wait_until(lock, deadline) == std::cv_status::timeout)
      return ready();
  }
  return true;
}
