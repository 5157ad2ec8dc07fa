// Shell commands for the tests that make their films with ffmpeg and read
// back what ffprobe says of them.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace ZantrelTest {

// True when the command exits 0; its output is discarded.
bool Succeeds(const std::string& command);
// The command's standard output.
std::string Capture(const std::string& command);
// The command with each placeholder ("OUT", "Y4M") replaced by its path in
// single quotes, in one pass: a path that holds another placeholder's
// letters (a temporary folder named ...OUT) stays as it is.
std::string FilledIn(const std::string& command, const std::vector<std::pair<std::string, std::string>>& paths);

}  // namespace ZantrelTest
