#include <signal.h>

#include "util/WorkerThread.h"

namespace VEK {

std::thread StartWorkerThread(std::function<void()> body) {
  // A new thread takes its creator's signal mask: the signals a process is
  // sent are blocked while it is made, then the creator's mask comes back.
  sigset_t all, before;
  sigfillset(&all);
  for (const int synchronous : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT}) sigdelset(&all, synchronous);
  pthread_sigmask(SIG_BLOCK, &all, &before);
  struct Restore {
    sigset_t* mask;
    ~Restore() { pthread_sigmask(SIG_SETMASK, mask, nullptr); }
  } restore{&before};
  return std::thread(std::move(body));
}

}  // namespace VEK
