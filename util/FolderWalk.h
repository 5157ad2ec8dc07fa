// The system's side of FolderFiles: walking a folder and telling a folder
// from a file (FolderWalkPosix.cpp, FolderWalkWin32.cpp).
#pragma once

#include <string>
#include <vector>

namespace VEK {

// Whether the name ends in ".avi", in any letter case.
bool IsAviName(const std::string& name);
// Appends the AVI files in folder and in its subfolders that are not hidden,
// unsorted, without following links to folders.
void CollectAviFiles(const std::string& folder, std::vector<std::string>& found);
// Whether path names a folder, or a link to one.
bool IsFolder(const std::string& path);

}  // namespace VEK
