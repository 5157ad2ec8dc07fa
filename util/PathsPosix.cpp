// Whole paths and file keys on POSIX: one root, '/' the only delimiter.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "util/Paths.h"

namespace VEK {

std::string AbsolutePath(const std::string& path) {
  std::string whole = path;
  if (whole.empty() || whole[0] != '/') {
    std::vector<char> cwd(PATH_MAX);
    if (::getcwd(cwd.data(), cwd.size())) whole = IncludeTrailingPathDelimiter(cwd.data()) + whole;
  }
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at <= whole.size()) {
    std::size_t end = whole.find('/', at);
    if (end == std::string::npos) end = whole.size();
    const std::string part = whole.substr(at, end - at);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    at = end + 1;
  }
  std::string out;
  for (const std::string& part : parts) out += '/' + part;
  return out.empty() ? "/" : out;
}

std::string FileKey(const std::string& path) {
  const std::string absolute = AbsolutePath(path);
  if (char* real = ::realpath(absolute.c_str(), nullptr)) {
    std::string key = real;
    std::free(real);
    return key;
  }
  return absolute;
}

std::int64_t FileSizeOf(const std::string& path) {
  struct stat st = {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

}  // namespace VEK
