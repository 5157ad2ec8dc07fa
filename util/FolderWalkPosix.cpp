#include <filesystem>
#include <system_error>

#include "util/FolderWalk.h"

namespace VEK {

namespace fs = std::filesystem;

namespace {

void Collect(const fs::path& folder, std::vector<std::string>& found) {
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code kind;
    if (it->is_symlink(kind)) {
      // A link to a file is taken; one to a folder is not followed.
      if (!it->is_directory(kind) && IsAviName(name)) found.push_back(it->path().string());
    } else if (it->is_directory(kind)) {
      if (name.front() != '.') Collect(it->path(), found);
    } else if (IsAviName(name)) {
      found.push_back(it->path().string());
    }
  }
}

}  // namespace

void CollectAviFiles(const std::string& folder, std::vector<std::string>& found) { Collect(fs::path(folder), found); }

bool IsFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(fs::path(path), error);
}

}  // namespace VEK
