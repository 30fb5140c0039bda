#include "serial/Synchronizer.h"

namespace {
// Taken while the program starts, on its first thread, whichever thread asks for the instance first.
const std::thread::id StartThread = std::this_thread::get_id();
} // namespace

// Never destroyed: a thread may still wait on it while exit() runs the static destructors (the
// display went away and Qt called exit), and destroying a condition variable with waiters hangs.
TSynchronizer& TSynchronizer::Instance()
{
  static TSynchronizer* const instance = new TSynchronizer;
  return *instance;
}

TSynchronizer::TSynchronizer() : MainThread(StartThread)
{
}

void TSynchronizer::SetMainThread(std::thread::id id)
{
  std::lock_guard lock(Mutex);
  MainThread = id;
}

bool TSynchronizer::OnMainThread() const
{
  // Written once at start-up, before any background thread exists.
  return std::this_thread::get_id() == MainThread;
}

void TSynchronizer::SetWaker(std::function<void()> waker)
{
  std::lock_guard lock(Mutex);
  Waker = std::move(waker);
  // A wake handed to the previous waker's window may never have run (the window went first): the
  // new waker is woken by the next call, or nothing posted would ever run again.
  WakePosted = false;
}

void TSynchronizer::Synchronize(const std::function<void()>& fn)
{
  if (OnMainThread()) {
    fn();
    return;
  }
  TWaiter waiter;
  Enqueue({fn, &waiter});
  std::unique_lock lock(Mutex);
  Changed.wait(lock, [&] { return waiter.Done; });
  if (waiter.Error)
    std::rethrow_exception(waiter.Error);
}

void TSynchronizer::Post(std::function<void()> fn)
{
  if (OnMainThread()) {
    fn();
    return;
  }
  Enqueue({std::move(fn), nullptr});
}

void TSynchronizer::Enqueue(TCall call)
{
  std::function<void()> wake;
  {
    std::lock_guard lock(Mutex);
    Pending.push_back(std::move(call));
    if (!WakePosted && Waker) {
      WakePosted = true;
      wake = Waker;
    }
  }
  Changed.notify_all();
  if (wake)
    wake();
}

std::size_t TSynchronizer::PendingCount()
{
  std::lock_guard lock(Mutex);
  return Pending.size();
}

void TSynchronizer::ProcessPending()
{
  std::unique_lock lock(Mutex);
  WakePosted = false;
  while (!Pending.empty()) {
    TCall call = std::move(Pending.front());
    Pending.pop_front();
    lock.unlock();
    std::exception_ptr error;
    if (call.Waiter) {
      try {
        call.Fn();
      } catch (...) {
        error = std::current_exception(); // handed back to the thread that asked
      }
    } else {
      call.Fn();
    }
    lock.lock();
    if (call.Waiter) {
      call.Waiter->Error = error;
      call.Waiter->Done = true;
    }
    Changed.notify_all();
  }
}
