#include "util/WorkerThread.h"

namespace VEK {

// Console events come on a thread of their own on Windows; there is no mask.
std::thread StartWorkerThread(std::function<void()> body) { return std::thread(std::move(body)); }

}  // namespace VEK
