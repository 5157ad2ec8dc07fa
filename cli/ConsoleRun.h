// The console front-end: parses the command line and runs the worker over the
// files, printing the Messages Center lines on standard output.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ZantrelCli {

struct Options {
  bool CheckOnly = true;
  bool InPlace = false;
  std::string Prefix = "Zantrel.";
  int OverwriteBehavior = 0;
  std::int8_t Language = 0;
  std::vector<std::string> Files;
};

enum class ParseOutcome { Run, Help, Version, Usage };

struct ParseResult {
  ParseOutcome Outcome = ParseOutcome::Usage;
  Options Opts;
  std::string Error;  // for Usage
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);
std::string HelpText();
std::string VersionText();

constexpr int ExitOk = 0;
constexpr int ExitFileFailed = 1;
constexpr int ExitUsage = 2;

// Runs the batch. Lines go to out; the progress display goes to progress when
// it is not null. A stop is requested by setting stop (from a signal handler).
// Returns the exit status.
int Run(const Options& options, std::FILE* out, std::FILE* progress, const std::atomic<bool>& stop);

}  // namespace ZantrelCli
