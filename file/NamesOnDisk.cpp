#include "file/NamesOnDisk.h"

#include "file/SystemCalls.h"

namespace VEK {

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
