// The console front-end: parses the command line and runs the worker over the
// files, printing the Messages Center lines on standard output.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace VEKRiff {
struct RunOptions;
}

namespace ZantrelCli {

struct Options {
  bool CheckOnly = true;
  bool InPlace = false;
  std::string Prefix = "Zantrel.";
  int OverwriteBehavior = 0;
  std::int8_t Language = 0;
  std::string ReferenceFile;  // rebuild: a healthy file whose header list stands in for a damaged one
  bool SkipHealthy = false;   // rebuild: leave the files the check finds healthy as they are
  bool Json = false;          // the report for scripts (JSON Lines) instead of the messages
  std::vector<std::string> Files;
  // recover: finds the films on the card or image Files[0] and writes them
  // into the folder Files[1].
  bool Recover = false;
};

enum class ParseOutcome { Run, Help, Version, Usage };

struct ParseResult {
  ParseOutcome Outcome = ParseOutcome::Usage;
  Options Opts;
  std::string Error;  // for Usage
};

ParseResult ParseCommandLine(const std::vector<std::string>& args);
std::string HelpText();

// A line as the terminal gets it: valid UTF-8 passes unchanged; a byte that is
// not part of valid UTF-8 becomes a backslash and three octal digits (\377),
// as does a control character (C0, DEL and C1), except newline, tab and
// carriage return (\n, \t, \r); a backslash is doubled. A file name can
// hold any byte but the slash and NUL, so that a message stays one line,
// shows no raw bytes, and the name can be read back from it.
std::string Escaped(std::string_view text);
std::string VersionText();

constexpr int ExitOk = 0;
constexpr int ExitFileFailed = 1;
constexpr int ExitUsage = 2;

// Runs the batch. Lines go to out; the progress display goes to progress when
// it is not null. A stop is requested by setting stop (from a signal handler).
// Returns the exit status.
int Run(const Options& options, std::FILE* out, std::FILE* progress, const std::atomic<bool>& stop);
// A batch run of files under run's options, shown on the console.
int RunSession(const VEKRiff::RunOptions& run, const std::vector<std::string>& files, bool json, std::FILE* out,
               std::FILE* progress, const std::atomic<bool>& stop);
// Run for the recover command.
int Recover(const Options& options, std::FILE* out, std::FILE* progress, const std::atomic<bool>& stop);

}  // namespace ZantrelCli
