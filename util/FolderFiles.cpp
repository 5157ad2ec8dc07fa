#include "util/FolderFiles.h"

#include <algorithm>
#include <unordered_set>

#include "util/FolderWalk.h"
#include "util/Paths.h"

namespace VEK {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Folded(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool IsAviName(const std::string& name) {
  if (name.size() < 4) return false;
  std::string suffix = name.substr(name.size() - 4);
  std::transform(suffix.begin(), suffix.end(), suffix.begin(), Folded);
  return suffix == ".avi";
}

bool NaturalLess(std::string_view a, std::string_view b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      const std::size_t si = i, sj = j;
      while (i < a.size() && IsDigit(a[i])) ++i;
      while (j < b.size() && IsDigit(b[j])) ++j;
      // By value: leading zeros aside, a longer run is a larger number.
      std::string_view x = a.substr(si, i - si), y = b.substr(sj, j - sj);
      while (x.size() > 1 && x.front() == '0') x.remove_prefix(1);
      while (y.size() > 1 && y.front() == '0') y.remove_prefix(1);
      if (x.size() != y.size()) return x.size() < y.size();
      if (const int c = x.compare(y); c != 0) return c < 0;
      continue;
    }
    const char p = Folded(a[i]), q = Folded(b[j]);
    if (p != q) return static_cast<unsigned char>(p) < static_cast<unsigned char>(q);
    ++i;
    ++j;
  }
  if (a.size() - i != b.size() - j) return a.size() - i < b.size() - j;
  return a < b;
}

std::vector<std::string> AviFilesIn(const std::string& folder, const std::string& copyPrefix) {
  std::vector<std::string> found;
  CollectAviFiles(folder, found);
  if (!copyPrefix.empty()) {
    const std::unordered_set<std::string> all(found.begin(), found.end());
    found.erase(std::remove_if(found.begin(), found.end(),
                               [&](const std::string& path) {
                                 const std::string name = ExtractFileName(path);
                                 return name.size() > copyPrefix.size() && name.compare(0, copyPrefix.size(), copyPrefix) == 0 &&
                                        all.count(ExtractFilePath(path) + name.substr(copyPrefix.size()));
                               }),
                found.end());
  }
  std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) { return NaturalLess(a, b); });
  return found;
}

std::vector<std::string> ExpandPaths(const std::vector<std::string>& paths, const std::string& copyPrefix) {
  std::vector<std::string> files;
  for (const std::string& path : paths) {
    if (IsFolder(path)) {
      for (std::string& file : AviFilesIn(path, copyPrefix)) files.push_back(std::move(file));
    } else {
      files.push_back(path);
    }
  }
  return files;
}

}  // namespace VEK
