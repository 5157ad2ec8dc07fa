// The version text of a Windows program, read as the system reads it: the
// VERSIONINFO resource, through the version API.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "lang/AppVersion.h"
#include "util/Win32.h"

namespace VEK {

std::string FileVersionText(const std::string& path) {
  const std::wstring name = Win32::FileName(path);
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(name.c_str(), &handle);
  if (size == 0) return {};
  std::vector<unsigned char> info(size);
  if (!GetFileVersionInfoW(name.c_str(), 0, size, info.data())) return {};
  void* value = nullptr;
  UINT length = 0;
  // The first translation's table, as on Linux.
  if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length) || length < 4) return {};
  const auto* t = static_cast<const unsigned char*>(value);
  wchar_t query[64];
  std::swprintf(query, 64, L"\\StringFileInfo\\%04X%04X\\FileVersion", t[0] | (t[1] << 8), t[2] | (t[3] << 8));
  if (!VerQueryValueW(info.data(), query, &value, &length) || length == 0) return {};
  const auto* text = static_cast<const wchar_t*>(value);
  std::size_t n = 0;
  while (n < length && text[n] != L'\0') ++n;
  return Win32::Narrow(std::wstring_view(text, n));
}

}  // namespace VEK
