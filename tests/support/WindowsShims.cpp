#include <windows.h>
// After windows.h, whose types it uses.
#include <direct.h>
#include <stdlib.h>

#include "support/WindowsShims.h"
#include "util/Win32.h"

namespace {

int Failed() {
  errno = VEK::Win32::Errno(GetLastError());
  return -1;
}

}  // namespace

int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && std::getenv(name) != nullptr) return 0;
  return _putenv_s(name, value);
}

// An empty value removes the variable.
int unsetenv(const char* name) { return _putenv_s(name, ""); }

int mkdir(const char* path, int) { return _wmkdir(VEK::Win32::FileName(path).c_str()); }

int link(const char* from, const char* to) {
  return CreateHardLinkW(VEK::Win32::FileName(to).c_str(), VEK::Win32::FileName(from).c_str(), nullptr) ? 0 : Failed();
}

int symlink(const char* target, const char* path) {
  const DWORD attributes = GetFileAttributesW(VEK::Win32::FileName(target).c_str());
  const DWORD folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                           ? SYMBOLIC_LINK_FLAG_DIRECTORY
                           : 0;
  return CreateSymbolicLinkW(VEK::Win32::FileName(path).c_str(), VEK::Win32::FileName(target).c_str(),
                             folder | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)
             ? 0
             : Failed();
}
