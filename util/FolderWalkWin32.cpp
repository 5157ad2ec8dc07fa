#include <windows.h>

#include "util/FolderWalk.h"
#include "util/Win32.h"

namespace VEK {

namespace {

// A subfolder is hidden as Explorer hides it, or by a leading dot as the
// folders of programs ported from elsewhere are.
bool Hidden(const WIN32_FIND_DATAW& entry) {
  return (entry.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0 || entry.cFileName[0] == L'.';
}

// A symbolic link or a junction, not a file that only keeps its data
// elsewhere (deduplicated, or in the cloud).
bool IsLink(const WIN32_FIND_DATAW& entry) {
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(entry.dwReserved0);
}

void Collect(const std::string& folder, std::vector<std::string>& found) {
  // Names are given under the folder's path as it was written, with the
  // delimiter it uses, or a backslash.
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/') prefix += '\\';
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileExW((Win32::FileName(folder) + L"\\*").c_str(), FindExInfoBasic, &entry,
                                   FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring_view wide = entry.cFileName;
    if (wide == L"." || wide == L"..") continue;
    const std::string name = Win32::Narrow(wide);
    const bool folderEntry = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (IsLink(entry)) {
      // A link to a file is taken; one to a folder is not followed.
      if (!folderEntry && IsAviName(name)) found.push_back(prefix + name);
    } else if (folderEntry) {
      if (!Hidden(entry)) Collect(prefix + name, found);
    } else if (IsAviName(name)) {
      found.push_back(prefix + name);
    }
  } while (FindNextFileW(search, &entry));
  FindClose(search);
}

}  // namespace

void CollectAviFiles(const std::string& folder, std::vector<std::string>& found) { Collect(folder, found); }

bool IsFolder(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Win32::FileName(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace VEK
