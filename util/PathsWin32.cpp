// Whole paths and file keys on Windows: drive letters and shares, either
// slash, and names that compare without regard to letter case.
#include <windows.h>

#include <string>

#include "util/Paths.h"
#include "util/Win32.h"

namespace VEK {

namespace {

// The whole form of the path, or the path itself where the system has none.
std::wstring FullOrAsGiven(const std::wstring& path) {
  std::wstring full = Win32::FullPath(path);
  return full.empty() ? path : full;
}

}  // namespace

std::string AbsolutePath(const std::string& path) {
  if (path.empty()) return Win32::Narrow(FullOrAsGiven(L"."));
  return Win32::Narrow(FullOrAsGiven(Win32::Wide(path)));
}

std::string FileKey(const std::string& path) {
  // The name the file system itself gives the file, links resolved, else the
  // whole path as written; in lower case either way, as Windows compares names.
  std::wstring key = FullOrAsGiven(Win32::Wide(path));
  const HANDLE file = CreateFileW(Win32::FileName(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    std::wstring final(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()), 0);
    if (length >= final.size()) {
      final.resize(length + 1);
      length = GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()), 0);
    }
    if (length > 0 && length < final.size()) key = final.substr(0, length);
    CloseHandle(file);
  }
  CharLowerBuffW(key.data(), static_cast<DWORD>(key.size()));
  return Win32::Narrow(key);
}

std::int64_t FileSizeOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!GetFileAttributesExW(Win32::Wide(path).c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace VEK
