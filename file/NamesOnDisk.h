// What the file system says of a name: whether it is taken and by what,
// whether two names lead to one file; and taking a name away. Through the
// file layer's system calls, so that tests can make them fail.
#pragma once

#include <string>

namespace VEK {

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

}  // namespace VEK
