// Runs a program as a user's shell would, without a shell between: its
// arguments as given, standard output and standard error collected apart, and
// its exit status. The console tests run zantrel-cli through it, the oracle
// tests ffmpeg and ffprobe too.
#pragma once

#include <signal.h>

#include <string>
#include <vector>

namespace ZantrelTest {

struct ProgramRun {
  int Status = -1;  // the exit status, or 128 + the signal that ended it
  std::string Out, Err;
  std::vector<std::string> Lines() const;  // standard output, line by line
};

// args[0] is the program, found on PATH when it names no folder. When
// interruptAfter is set, the signal is sent once that text has appeared on
// standard output. A program that cannot be started has status 127.
ProgramRun RunProgram(const std::vector<std::string>& args, const std::string& interruptAfter = "",
                      int signal = SIGINT);

// Whether the program can be found on PATH.
bool HaveProgram(const std::string& name);

// The video frames ffmpeg decodes of a film, as its framemd5 lines without
// their header: none where it decodes nothing.
std::vector<std::string> DecodedVideo(const std::string& path);

}  // namespace ZantrelTest
