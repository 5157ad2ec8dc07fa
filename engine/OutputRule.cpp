#include "engine/OutputRule.h"

#include "util/Paths.h"

namespace VEKRiff {

OutputRule CopyRule(const std::string& prefix) { return {BackupFile::Mode::Copy, prefix, true}; }

OutputRule RuleOf(bool checkOnly, bool keepOriginal, const std::string& prefix, bool emptyPrefixInPlace) {
  if (checkOnly) return {};
  if (!keepOriginal) return {BackupFile::Mode::InPlace, {}, false};
  if (prefix.empty() && emptyPrefixInPlace) return {BackupFile::Mode::InPlace, {}, true};
  return CopyRule(prefix);
}

std::string OutputName(const OutputRule& rule, const std::string& path) {
  if (rule.Mode != BackupFile::Mode::Copy) return path;
  // A bare name has no folder and stays relative: no delimiter is added.
  return VEK::IncludeTrailingPathDelimiter(VEK::ExtractFileDir(path)) + rule.Prefix + VEK::ExtractFileName(path);
}

}  // namespace VEKRiff
