#include "engine/BatchSummary.h"

#include "lang/Language.h"

namespace VEKRiff {

namespace {

// Never fewer than two files; the French gives each count as a label's value,
// which agrees with any number.
const VEK::MessagePair MsgCheckSummary = {
    {"%d files checked: %d healthy, %d damaged, %d skipped, %d not done.",
     "%d fichiers vérifiés — sains : %d, endommagés : %d, ignorés : %d, non traités : %d."}};
const VEK::MessagePair MsgRebuildSummary = {
    {"%d files: %d rebuilt, %d failed, %d skipped, %d not done.",
     "%d fichiers — reconstruits : %d, en échec : %d, ignorés : %d, non traités : %d."}};

}  // namespace

BatchTally TallyOf(const std::vector<RebuildEvent>& outcomes, bool checkOnly) {
  BatchTally t;
  for (const RebuildEvent e : outcomes) switch (e) {
      case FileOk:
        ++t.Healthy;
        break;
      case FileError:
        ++(checkOnly ? t.Damaged : t.Failed);
        break;
      case FileRebuilt:
        ++t.Rebuilt;
        break;
      case FileSkipped:
        ++t.Skipped;
        break;
      default:
        ++t.NotRun;
        break;
    }
  return t;
}

std::string SummaryLine(const BatchTally& t, bool checkOnly) {
  const int files = t.Healthy + t.Damaged + t.Rebuilt + t.Failed + t.Skipped + t.NotRun;
  if (checkOnly) return VEK::Text(MsgCheckSummary, {files, t.Healthy, t.Damaged, t.Skipped, t.NotRun});
  return VEK::Text(MsgRebuildSummary, {files, t.Rebuilt, t.Failed, t.Skipped, t.NotRun});
}

}  // namespace VEKRiff
