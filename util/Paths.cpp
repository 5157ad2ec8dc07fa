#include "util/Paths.h"

namespace VEK {

namespace {

#ifdef _WIN32
// Win32 takes either slash; a drive's root ("C:\") keeps its delimiter,
// since "C:" alone names the drive's current folder.
constexpr const char* Delimiters = "/\\";
bool IsRoot(const std::string& dir) {
  return dir.size() == 1 || (dir.size() == 3 && dir[1] == ':');
}
#else
constexpr const char* Delimiters = "/";
bool IsRoot(const std::string& dir) { return dir.size() == 1; }
#endif

bool IsDelimiter(char c) { return std::char_traits<char>::find(Delimiters, std::char_traits<char>::length(Delimiters), c); }

}  // namespace

std::string ExtractFilePath(const std::string& path) {
  const auto slash = path.find_last_of(Delimiters);
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileDir(const std::string& path) {
  std::string dir = ExtractFilePath(path);
  if (!dir.empty() && !IsRoot(dir) && IsDelimiter(dir.back())) dir.pop_back();
  return dir;
}

std::string ExtractFileName(const std::string& path) {
  const auto slash = path.find_last_of(Delimiters);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string IncludeTrailingPathDelimiter(const std::string& dir) {
  if (dir.empty() || IsDelimiter(dir.back())) return dir;
  return dir + Delimiters[std::char_traits<char>::length(Delimiters) - 1];
}

bool IsAbsolutePath(const std::string& path) {
#ifdef _WIN32
  if (path.size() >= 3 && path[1] == ':' && IsDelimiter(path[2])) return true;
  return path.size() >= 2 && IsDelimiter(path[0]) && IsDelimiter(path[1]);
#else
  return !path.empty() && path[0] == '/';
#endif
}

}  // namespace VEK
