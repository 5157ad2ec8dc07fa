#include "util/Thread.h"

#include "util/WorkerThread.h"

namespace VEK {

HandOverQueue::HandOverQueue() : owner_(std::this_thread::get_id()) {}

void HandOverQueue::SetWakeUp(std::function<void()> wakeUp) {
  std::lock_guard<std::mutex> lock(mutex_);
  wakeUp_ = std::move(wakeUp);
}

void HandOverQueue::Call(const std::function<void()>& fn) {
  Request request{&fn, nullptr, false};
  std::unique_lock<std::mutex> lock(mutex_);
  pending_.push_back(&request);
  // Under the lock, so that SetWakeUp(nullptr) returns only when no call of
  // the old hook is under way.
  if (wakeUp_) wakeUp_();
  ownerWake_.notify_all();
  workerWake_.wait(lock, [&] { return request.Done; });
  if (request.Failure) std::rethrow_exception(request.Failure);
}

int HandOverQueue::ServePending() {
  int served = 0;
  for (;;) {
    Request* request;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (pending_.empty()) return served;
      request = pending_.front();
      pending_.pop_front();
    }
    std::exception_ptr failure;
    try {
      (*request->Fn)();
    } catch (...) {
      failure = std::current_exception();  // carried back to the worker
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      request->Failure = failure;
      request->Done = true;
    }
    workerWake_.notify_all();
    ++served;
  }
}

void HandOverQueue::WaitAndServe(std::chrono::milliseconds timeout) {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    ownerWake_.wait_for(lock, timeout, [&] { return woken_ || !pending_.empty(); });
    woken_ = false;
  }
  ServePending();
}

void HandOverQueue::Wake() {
  std::lock_guard<std::mutex> lock(mutex_);
  woken_ = true;
  if (wakeUp_) wakeUp_();
  ownerWake_.notify_all();
}

Thread::Thread(HandOverQueue& owner) : owner_(owner) {}

Thread::~Thread() {
  // Normally already stopped by the derived class; this is the last guard
  // against destroying a running std::thread.
  TerminateAndWait();
}

void Thread::Resume() {
  if (started_) return;
  started_ = true;
  thread_ = StartWorkerThread([this] { Main(); });
}

void Thread::Main() {
  try {
    Execute();
  } catch (...) {
    // The body reports its own failures; nothing may escape a thread.
  }
  try {
    if (OnTerminate) Synchronize([this] { OnTerminate(*this); });
  } catch (...) {
    // A failing termination handler has already reached its owner's thread;
    // the thread ends regardless.
  }
  finished_.store(true, std::memory_order_release);
  owner_.Wake();
}

void Thread::WaitFor() {
  if (!started_) return;
  while (!Finished()) owner_.WaitAndServe(std::chrono::milliseconds(50));
  if (thread_.joinable()) thread_.join();
}

void Thread::Terminate() {
  {
    const std::lock_guard<std::mutex> lock(holdMutex_);
    terminated_.store(true, std::memory_order_release);
  }
  holdChanged_.notify_all();
}

void Thread::Hold() {
  const std::lock_guard<std::mutex> lock(holdMutex_);
  held_ = true;
}

void Thread::Release() {
  {
    const std::lock_guard<std::mutex> lock(holdMutex_);
    held_ = false;
  }
  holdChanged_.notify_all();
}

void Thread::WaitWhileHeld() {
  std::unique_lock<std::mutex> lock(holdMutex_);
  if (!held_ || Terminated()) return;
  waiting_.store(true, std::memory_order_release);
  holdChanged_.wait(lock, [this] { return !held_ || Terminated(); });
  waiting_.store(false, std::memory_order_release);
}

void Thread::TerminateAndWait() {
  Terminate();
  WaitFor();
}

void Thread::Synchronize(const std::function<void()>& fn) {
  if (owner_.OnOwnerThread()) {
    fn();
    return;
  }
  owner_.Call(fn);
}

}  // namespace VEK
