#include "Synchronizer.h"

namespace {
// Taken while the program starts, on its first thread, whichever thread asks for the instance first.
const std::thread::id StartThread = std::this_thread::get_id();
} // namespace

TSynchronizer& TSynchronizer::Instance()
{
  static TSynchronizer instance;
  return instance;
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
}

void TSynchronizer::Synchronize(const std::function<void()>& fn)
{
  if (OnMainThread()) {
    fn();
    return;
  }
  TCall call{&fn, false, nullptr};
  std::function<void()> wake;
  {
    std::lock_guard lock(Mutex);
    Pending.push_back(&call);
    if (!WakePosted && Waker) {
      WakePosted = true;
      wake = Waker;
    }
  }
  Changed.notify_all();
  if (wake)
    wake();
  std::unique_lock lock(Mutex);
  Changed.wait(lock, [&] { return call.Done; });
  if (call.Error)
    std::rethrow_exception(call.Error);
}

void TSynchronizer::ProcessPending()
{
  std::unique_lock lock(Mutex);
  WakePosted = false;
  while (!Pending.empty()) {
    TCall* call = Pending.front();
    Pending.pop_front();
    lock.unlock();
    std::exception_ptr error;
    try {
      (*call->Fn)();
    } catch (...) {
      error = std::current_exception(); // handed back to the thread that asked
    }
    lock.lock();
    call->Error = error;
    call->Done = true;
    Changed.notify_all();
  }
}
