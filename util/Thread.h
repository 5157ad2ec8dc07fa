// A small worker-thread layer that no toolkit owns. A thread is created
// suspended, started once, polls a termination flag at points of its own
// choosing, and hands calls over to its owner's thread synchronously: the
// worker blocks until the owner has run the call, and an exception the call
// throws is rethrown in the worker. When the body returns, a termination
// handler runs on the owner's thread.
//
// The owner serves hand-overs through a HandOverQueue: a console program
// waits on it in its main loop; a window toolkit installs a wake-up hook that
// posts "serve the queue" into its event loop.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace VEK {

class HandOverQueue {
 public:
  HandOverQueue();
  HandOverQueue(const HandOverQueue&) = delete;
  HandOverQueue& operator=(const HandOverQueue&) = delete;

  // Called on the worker's thread each time a call arrives or a worker ends,
  // with the queue's lock held: it must only arrange for ServePending to run
  // soon on the owner's thread, and must not call back into the queue.
  void SetWakeUp(std::function<void()> wakeUp);

  // Owner's thread: runs every call waiting now; returns how many ran.
  int ServePending();
  // Owner's thread: waits until a call arrives, Wake is called or the
  // timeout passes, then serves what is waiting.
  void WaitAndServe(std::chrono::milliseconds timeout);
  // Any thread: wakes a WaitAndServe and calls the wake-up hook.
  void Wake();

  bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }

  // Worker's thread: runs fn on the owner's thread and waits for it.
  void Call(const std::function<void()>& fn);

 private:
  struct Request {
    const std::function<void()>* Fn;
    std::exception_ptr Failure;
    bool Done = false;
  };

  std::thread::id owner_;
  std::mutex mutex_;
  std::condition_variable ownerWake_;
  std::condition_variable workerWake_;
  std::deque<Request*> pending_;
  std::function<void()> wakeUp_;
  bool woken_ = false;
};

class Thread {
 public:
  explicit Thread(HandOverQueue& owner);
  // A derived class stops its thread in its own destructor (TerminateAndWait),
  // while the members the body uses still exist.
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts the body; a thread is started at most once.
  void Resume();
  // Also lets a held thread go on, to its end.
  void Terminate();
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
  // Owner's thread: the thread waits at its next WaitWhileHeld until Release
  // or Terminate, so that nothing moves while its owner asks whether to stop.
  void Hold();
  void Release();
  // True while the thread waits in WaitWhileHeld.
  bool Waiting() const { return waiting_.load(std::memory_order_acquire); }
  // True once the body has returned and the termination handler has run.
  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  // Owner's thread: waits for the end, serving hand-overs (and nothing else)
  // meanwhile, so a worker blocked in one cannot deadlock the wait.
  void WaitFor();
  void TerminateAndWait();

  // Runs on the owner's thread after the body returns.
  std::function<void(Thread&)> OnTerminate;

 protected:
  virtual void Execute() = 0;
  // From the worker: runs fn on the owner's thread, blocking. From the
  // owner's own thread (a nested call) it simply runs fn.
  void Synchronize(const std::function<void()>& fn);
  HandOverQueue& Owner() { return owner_; }
  // Returns at once unless the owner holds the thread.
  void WaitWhileHeld();

 private:
  void Main();

  HandOverQueue& owner_;
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  std::mutex holdMutex_;
  std::condition_variable holdChanged_;
  bool held_ = false;
  std::atomic<bool> waiting_{false};
  bool started_ = false;
};

}  // namespace VEK
