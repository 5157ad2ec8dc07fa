#include "support/TempDir.h"

#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>

#include <random>
#else
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace ZantrelTest {

std::filesystem::path NativePath(const std::string& path) {
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

std::string Utf8(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

#ifdef _WIN32
TempDir::TempDir() {
  wchar_t base[MAX_PATH + 1];
  const DWORD length = GetTempPathW(MAX_PATH + 1, base);
  if (length == 0 || length > MAX_PATH) throw std::runtime_error("no temporary folder");
  std::random_device seed;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::wstring name = std::wstring(base) + L"zantrel-test-" + std::to_wstring(seed());
    if (CreateDirectoryW(name.c_str(), nullptr)) {
      path_ = Utf8(std::filesystem::path(name));
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(NativePath(path_), ignored);
}
#else
TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/zantrel-test-XXXXXX";
  if (!mkdtemp(templ.data())) throw std::runtime_error("cannot create a temporary folder");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ignored;
  // Make read-only folders of a test removable again.
  for (auto it = std::filesystem::recursive_directory_iterator(path_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
    if (it->is_directory(ignored)) ::chmod(it->path().c_str(), 0700);
  std::filesystem::remove_all(path_, ignored);
}
#endif

void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(NativePath(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(NativePath(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
  std::ifstream in(NativePath(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(NativePath(path), std::ios::binary) << text; }

bool Exists(const std::string& path) {
#ifdef _WIN32
  std::error_code error;
  return std::filesystem::exists(NativePath(path), error);
#else
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
#endif
}

ConfigHome::ConfigHome(const std::string& folder) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  had_ = old != nullptr;
  if (old) old_ = old;
#ifdef _WIN32
  _putenv_s("XDG_CONFIG_HOME", folder.c_str());
#else
  ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
#endif
}

ConfigHome::~ConfigHome() {
#ifdef _WIN32
  _putenv_s("XDG_CONFIG_HOME", had_ ? old_.c_str() : "");
#else
  if (had_)
    ::setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
  else
    ::unsetenv("XDG_CONFIG_HOME");
#endif
}

}  // namespace ZantrelTest
