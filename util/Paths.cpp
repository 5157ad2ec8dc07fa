#include "util/Paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <vector>

#include "file/SystemCalls.h"

namespace VEK {

std::string ExtractFilePath(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileDir(const std::string& path) {
  std::string dir = ExtractFilePath(path);
  if (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string ExtractFileName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string IncludeTrailingPathDelimiter(const std::string& dir) {
  if (dir.empty() || dir.back() == '/') return dir;
  return dir + '/';
}

bool FileExists(const std::string& path) {
  struct stat st;
  return VEKFile::Sys().Stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool NameExists(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return false;
  if (!S_ISLNK(st.st_mode)) return !S_ISDIR(st.st_mode);
  return VEKFile::Sys().Stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

bool DeleteFile(const std::string& path) { return VEKFile::Sys().Unlink(path.c_str()) == 0; }

bool SameFile(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa, sb;
  if (VEKFile::Sys().Stat(a.c_str(), &sa) != 0 || VEKFile::Sys().Stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

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

}  // namespace VEK
