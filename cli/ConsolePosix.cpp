#include <signal.h>
#include <unistd.h>

#include <initializer_list>

#include "cli/Console.h"

namespace {

std::atomic<bool>* stopFlag = nullptr;
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStopSignal(int) { stopFlag->store(true); }

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

void WatchStopRequests(std::atomic<bool>& stopRequested) {
  stopFlag = &stopRequested;
  // Ctrl+C, Ctrl+\, a closed terminal and a polite kill stop the run the way
  // the window's Stop does: the copy being written is deleted. Their default
  // action would end the process with the temporary copy left behind. A
  // signal this run was started with ignored stays ignored: that is how
  // nohup, or a shell's background job, asks a run to outlive the terminal.
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int stopSignal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction inherited {};
    if (sigaction(stopSignal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
    sigaction(stopSignal, &action, nullptr);
  }
  // A closed pipe on standard output must not kill the run half way through a
  // copy; nor does a write that fails (a hung-up terminal gives EIO): the
  // messages are lost, the run goes on to its end or its stop.
  signal(SIGPIPE, SIG_IGN);
}

void RunEnded() {}

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) != 0; }
