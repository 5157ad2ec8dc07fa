// zantrel-cli: checks and rebuilds AVI files from a terminal.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <initializer_list>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/ConsoleRun.h"

namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStopSignal(int) { stopRequested.store(true); }

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const ZantrelCli::ParseResult parsed = ZantrelCli::ParseCommandLine(args);
  switch (parsed.Outcome) {
    case ZantrelCli::ParseOutcome::Help:
      std::fputs(ZantrelCli::HelpText().c_str(), stdout);
      return ZantrelCli::ExitOk;
    case ZantrelCli::ParseOutcome::Version:
      std::fputs(ZantrelCli::VersionText().c_str(), stdout);
      return ZantrelCli::ExitOk;
    case ZantrelCli::ParseOutcome::Usage:
      std::fprintf(stderr, "zantrel-cli: %s\nTry 'zantrel-cli --help' for more information.\n",
                   parsed.Error.c_str());
      return ZantrelCli::ExitUsage;
    case ZantrelCli::ParseOutcome::Run:
      break;
  }

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

  std::FILE* progress = isatty(STDERR_FILENO) ? stderr : nullptr;
  return ZantrelCli::Run(parsed.Opts, stdout, progress, stopRequested);
}
