#include "app/QtHandOver.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <chrono>

namespace ZantrelApp {

namespace {

// How long one visit of the event loop may keep serving a busy worker before
// input, timers and painting get their turn again.
constexpr qint64 BurstMilliseconds = 30;

}  // namespace

EventLoopHandOver::EventLoopHandOver(VEK::HandOverQueue& queue, QObject* parent) : QObject(parent), queue_(queue) {
  // The hook runs on the worker's thread and only posts: the serving happens
  // in this object's thread. One posted Serve is enough for any number of
  // calls, since it serves whatever waits when it runs.
  queue_.SetWakeUp([this] {
    arrivals_.fetch_add(1, std::memory_order_relaxed);
    if (!posted_.exchange(true, std::memory_order_acq_rel))
      QMetaObject::invokeMethod(this, [this] { Serve(); }, Qt::QueuedConnection);
  });
}

EventLoopHandOver::~EventLoopHandOver() { queue_.SetWakeUp(nullptr); }

void EventLoopHandOver::Serve() {
  // Cleared first: a call arriving from here on posts a new Serve, so none is
  // left waiting if the burst below ends before seeing it.
  posted_.store(false, std::memory_order_release);
  queue_.ServePending();
  // A worker reporting line after line hands over its next line within
  // microseconds. A round trip through the event loop for each one costs
  // more than the worker's own work (a file with thousands of corrupted spots
  // took ten times as long in the window as in the console), so the next
  // calls are awaited and served here, as the console does, for a short while.
  QElapsedTimer burst;
  burst.start();
  while (burst.elapsed() < BurstMilliseconds) {
    const unsigned before = arrivals_.load(std::memory_order_relaxed);
    queue_.WaitAndServe(std::chrono::milliseconds(1));
    if (arrivals_.load(std::memory_order_relaxed) == before) break;  // the worker went quiet
  }
}

}  // namespace ZantrelApp
