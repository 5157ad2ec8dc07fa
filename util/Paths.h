// Path helpers on plain paths: '/' is the only delimiter on POSIX; Windows
// takes '\' as well, and IncludeTrailingPathDelimiter adds a '\' there.
#pragma once

#include <cstdint>
#include <string>

namespace VEK {

// Everything before the file name, without a trailing delimiter ("" for a bare name,
// "/" for a file in the root).
std::string ExtractFileDir(const std::string& path);
// Everything before the file name, delimiter included ("" for a bare name).
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileName(const std::string& path);
std::string IncludeTrailingPathDelimiter(const std::string& dir);
// True for a path that names its file from the root: "/..." on POSIX; on
// Windows a drive's root ("C:\..." or "C:/..."), a share ("\\server\...")
// or a prefixed name ("\\?\...").
bool IsAbsolutePath(const std::string& path);
// path made absolute against the working folder, with its "." parts, ".."
// parts and doubled delimiters taken out as written: a relative path means
// the same wherever it is shown later.
std::string AbsolutePath(const std::string& path);
// One name per file, however it was reached (a link, another spelling): the
// real path of an existing file, else its AbsolutePath.
std::string FileKey(const std::string& path);

// The size of the file at path; -1 when it cannot be had.
std::int64_t FileSizeOf(const std::string& path);

}  // namespace VEK
