#include "support/Shell.h"

#include <cstdio>
#include <cstdlib>

namespace ZantrelTest {

bool Succeeds(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()) == 0; }

std::string Capture(const std::string& command) {
  std::string out;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p)) out += buffer;
    ::pclose(p);
  }
  return out;
}

std::string FilledIn(const std::string& command, const std::vector<std::pair<std::string, std::string>>& paths) {
  std::string out;
  for (std::size_t i = 0; i < command.size();) {
    bool filled = false;
    for (const auto& [placeholder, path] : paths)
      if (!placeholder.empty() && command.compare(i, placeholder.size(), placeholder) == 0) {
        out += "'" + path + "'";
        i += placeholder.size();
        filled = true;
        break;
      }
    if (!filled) out += command[i++];
  }
  return out;
}

}  // namespace ZantrelTest
