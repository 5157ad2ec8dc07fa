#include "util/Paths.h"

#include "file/SystemCalls.h"

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

bool FileExists(const std::string& path) {
  VEKFile::FileStatus st;
  return VEKFile::Sys().Stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool NameExists(const std::string& path) {
  VEKFile::FileStatus st;
  if (VEKFile::Sys().LStat(path.c_str(), &st) != 0) return false;
  if (!S_ISLNK(st.st_mode)) return !S_ISDIR(st.st_mode);
  return VEKFile::Sys().Stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path) { return VEKFile::Sys().Unlink(path.c_str()) == 0; }

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  VEKFile::FileStatus sa, sb;
  if (VEKFile::Sys().Stat(a.c_str(), &sa) != 0 || VEKFile::Sys().Stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace VEK
