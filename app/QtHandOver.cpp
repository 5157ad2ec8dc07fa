#include "app/QtHandOver.h"

#include <QMetaObject>

namespace ZantrelApp {

EventLoopHandOver::EventLoopHandOver(VEK::HandOverQueue& queue, QObject* parent) : QObject(parent), queue_(queue) {
  // The hook runs on the worker's thread and only posts: the serving happens
  // in this object's thread. A wake-up that finds nothing left (already served
  // by a wait) serves nothing.
  queue_.SetWakeUp([this] { QMetaObject::invokeMethod(this, [this] { queue_.ServePending(); }, Qt::QueuedConnection); });
}

EventLoopHandOver::~EventLoopHandOver() { queue_.SetWakeUp(nullptr); }

}  // namespace ZantrelApp
