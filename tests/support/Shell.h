// Shell commands for the tests that make their films with ffmpeg and read
// back what ffprobe says of them.
#pragma once

#include <string>

namespace ZantrelTest {

// True when the command exits 0; its output is discarded.
bool Succeeds(const std::string& command);
// The command's standard output.
std::string Capture(const std::string& command);

}  // namespace ZantrelTest
