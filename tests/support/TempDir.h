// A temporary folder for one test, removed with everything in it afterwards,
// and small file helpers.
#pragma once

#include <filesystem>
#include <string>

#include "support/AviBuilder.h"

namespace ZantrelTest {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  // The name under the folder, with the system's delimiter.
  std::string operator/(const std::string& name) const {
#ifdef _WIN32
    return path_ + "\\" + name;
#else
    return path_ + "/" + name;
#endif
  }

 private:
  std::string path_;
};

// Points XDG_CONFIG_HOME (where the settings file lives) at a folder for the
// object's life, then puts back what was there.
class ConfigHome {
 public:
  explicit ConfigHome(const std::string& folder);
  ~ConfigHome();
  ConfigHome(const ConfigHome&) = delete;
  ConfigHome& operator=(const ConfigHome&) = delete;

 private:
  bool had_ = false;
  std::string old_;
};

// The path of a UTF-8 name, and the UTF-8 text of a path: the same bytes on
// Linux; on Windows the wide name that a narrow one would otherwise take
// from the ANSI code page.
std::filesystem::path NativePath(const std::string& path);
std::string Utf8(const std::filesystem::path& path);

void WriteFile(const std::string& path, const Bytes& bytes);
Bytes ReadFile(const std::string& path);
bool Exists(const std::string& path);
// The file's bytes as text; empty when it cannot be read.
std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);

}  // namespace ZantrelTest
