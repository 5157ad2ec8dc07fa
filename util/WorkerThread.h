// Threads the program starts for its own work. Signals sent to the process
// (a stop from the terminal, a hang-up) are for the thread that started the
// run, which waits and can act on them at once: a worker deep in a walk would
// take them only when it next calls into the system.
#pragma once

#include <functional>
#include <thread>

namespace VEK {

std::thread StartWorkerThread(std::function<void()> body);

}  // namespace VEK
