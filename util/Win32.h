// What every Win32 call of the program needs: names turned from the UTF-8
// the program works in into the UTF-16 the system takes, and the system's
// error codes turned into the errno values the callers know. Windows only.
#pragma once

#include <string>
#include <string_view>

namespace VEK::Win32 {

// The UTF-16 form of UTF-8 text.
std::wstring Wide(std::string_view text);
// The UTF-8 form of UTF-16 text.
std::string Narrow(std::wstring_view text);
// The whole form of a path (GetFullPathNameW: from the current folder, "."
// and ".." resolved, "/" read as a backslash); empty when the system gives
// none.
std::wstring FullPath(const std::wstring& path);
// The name to give a Win32 file call for a path: made absolute (from the
// current folder, "." and ".." resolved, "/" read as a backslash), with the
// prefix \\?\ (\\?\UNC\ for a share) that lifts the 260-character limit.
// Device names (\\.\) and names that have a prefix already go as they are.
std::wstring FileName(std::string_view path);
// The errno value for a Win32 error code; EIO for those with none closer.
int Errno(unsigned long error);

}  // namespace VEK::Win32
