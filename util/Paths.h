// Path helpers on plain paths: '/' is the only delimiter on POSIX; Windows
// takes '\' as well, and IncludeTrailingPathDelimiter adds a '\' there.
#pragma once

#include <string>

namespace VEK {

// Everything before the file name, without a trailing delimiter ("" for a bare name,
// "/" for a file in the root).
std::string ExtractFileDir(const std::string& path);
// Everything before the file name, delimiter included ("" for a bare name).
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileName(const std::string& path);
std::string IncludeTrailingPathDelimiter(const std::string& dir);
// True for an existing path that is not a directory.
bool FileExists(const std::string& path);
// True when the name is taken by anything but a folder, a link included
// (followed to decide whether it leads to a folder; a dangling one counts).
bool NameExists(const std::string& path);
// Unlinks the file; the result is the caller's to ignore.
bool DeleteFile(const std::string& path);
// True when both paths name one file: the same text, or, when both exist,
// the same device and inode (another spelling, a link; on Windows the volume
// serial and file index, which also join names that differ in letter case).
// On Linux file names are case-sensitive, so letter case alone never makes
// two paths one.
bool SameFile(const std::string& a, const std::string& b);
// path made absolute against the working folder, with its "." parts, ".."
// parts and doubled delimiters taken out as written: a relative path means
// the same wherever it is shown later.
std::string AbsolutePath(const std::string& path);
// One name per file, however it was reached (a link, another spelling): the
// real path of an existing file, else its AbsolutePath.
std::string FileKey(const std::string& path);

}  // namespace VEK
