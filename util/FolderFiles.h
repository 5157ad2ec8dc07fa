// The files a list of paths names, as the window's Add folder and both
// programs' command lines take them: a file as given, a folder as the AVI
// files in it and in its subfolders, in the order a person sorts names.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace VEK {

// Whether a sorts before b as a person sorts names: runs of digits by their
// value (clip2 before clip10), letters without regard to case; names that
// differ only there keep one order still.
bool NaturalLess(std::string_view a, std::string_view b);

// The .avi files (any letter case) in folder and its subfolders, in natural
// order of their paths. Hidden subfolders (a program's caches, a trash) are
// passed over, and links to folders are not followed, so that a loop of links
// ends. A folder that cannot be read adds nothing. With a copyPrefix, a
// file named by it and the name of another AVI file in the same folder is
// that file's repaired copy, and is left out: a folder run again must not
// repair the copies of the run before.
std::vector<std::string> AviFilesIn(const std::string& folder, const std::string& copyPrefix = {});

// paths in the order given, with every folder replaced by the AVI files in
// it (above, named under the folder's path as given); a path that is no
// folder stays, whether or not it exists, for the run to say why it cannot
// be opened.
std::vector<std::string> ExpandPaths(const std::vector<std::string>& paths, const std::string& copyPrefix = {});

}  // namespace VEK
