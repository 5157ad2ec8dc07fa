#include "engine/OutputRule.h"

#include "util/Paths.h"

namespace VEKRiff {

OutputRule CopyRule(const std::string& prefix) { return {BackupFile::Mode::Copy, prefix, true}; }

OutputRule CopyIntoRule(const std::string& folder, const std::string& prefix) {
  return {BackupFile::Mode::Copy, prefix, true, folder};
}

OutputRule RuleOf(bool checkOnly, bool keepOriginal, const std::string& prefix, bool emptyPrefixInPlace) {
  if (checkOnly) return {};
  if (!keepOriginal) return {BackupFile::Mode::InPlace, {}, false};
  if (prefix.empty() && emptyPrefixInPlace) return {BackupFile::Mode::InPlace, {}, true};
  return CopyRule(prefix);
}

std::string OutputName(const OutputRule& rule, const std::string& path) {
  if (rule.Mode != BackupFile::Mode::Copy) return path;
  // A bare name has no folder and stays relative: no delimiter is added.
  const std::string folder = rule.Folder.empty() ? VEK::ExtractFileDir(path) : rule.Folder;
  return VEK::IncludeTrailingPathDelimiter(folder) + rule.Prefix + VEK::ExtractFileName(path);
}

}  // namespace VEKRiff
