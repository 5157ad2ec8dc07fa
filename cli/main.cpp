// zantrel-cli: checks and rebuilds AVI files from a terminal.
#include <atomic>
#include <initializer_list>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Console.h"
#include "cli/ConsoleRun.h"

namespace {

std::atomic<bool> stopRequested{false};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = ProgramArguments(argc, argv);
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

  WatchStopRequests(stopRequested);
  std::FILE* progress = IsTerminal(stderr) ? stderr : nullptr;
  const int status = ZantrelCli::Run(parsed.Opts, stdout, progress, stopRequested);
  RunEnded();
  return status;
}
