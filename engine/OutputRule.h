// Where a run puts what it writes: decided once for the run from its
// options, then applied to each file. Nothing after it decides again whether
// a run rewrites originals.
#pragma once

#include <string>

#include "file/BackupFile.h"

namespace VEKRiff {

struct OutputRule {
  // Check, Copy or InPlace, for every file of the run.
  BackupFile::Mode Mode = BackupFile::Mode::Check;
  // Copy: the copy's name is the prefix and the file's name, in its folder.
  std::string Prefix;
  // The output has the name the user gave it through the prefix, an empty
  // one naming the original itself: a file there is asked about before it is
  // replaced.
  bool NamedByPrefix = false;
  // Copy: the folder the copies go into; empty: each beside its file.
  std::string Folder;

  bool RewritesOriginals() const { return Mode == BackupFile::Mode::InPlace; }
};

// A copy beside each file, named with prefix.
OutputRule CopyRule(const std::string& prefix);
// Copies named prefix + file name, all into folder.
OutputRule CopyIntoRule(const std::string& folder, const std::string& prefix);
// A run's rule from a front-end's settings. A rebuild that keeps originals
// writes copies, but in the window an empty prefix names the original
// itself, which such a run rewrites in place (and asks about as it asks
// about any existing output). Without emptyPrefixInPlace (the console, which
// repairs in place only when told in so many words) an empty prefix names a
// copy that is its own source, which the worker refuses.
OutputRule RuleOf(bool checkOnly, bool keepOriginal, const std::string& prefix, bool emptyPrefixInPlace = true);

// The file's output under the rule: the file itself for a check or in place.
std::string OutputName(const OutputRule& rule, const std::string& path);

}  // namespace VEKRiff
