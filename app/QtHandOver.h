// Plugs the worker's hand-overs into the Qt event loop: each call a worker
// hands over wakes the loop, which serves it on the window's thread.
#pragma once

#include <QObject>
#include <atomic>

#include "util/Thread.h"

namespace ZantrelApp {

// While it lives, queue's hand-overs are served from the event loop of the
// thread that made it (the GUI thread).
class EventLoopHandOver : public QObject {
 public:
  explicit EventLoopHandOver(VEK::HandOverQueue& queue, QObject* parent = nullptr);
  ~EventLoopHandOver() override;

 private:
  void Serve();

  VEK::HandOverQueue& queue_;
  std::atomic<bool> posted_{false};       // a Serve is waiting in the event loop
  std::atomic<unsigned> arrivals_{0};     // calls and wakes seen by the hook
};

}  // namespace ZantrelApp
