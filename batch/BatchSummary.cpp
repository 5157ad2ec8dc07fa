#include "batch/BatchSummary.h"

#include "lang/Language.h"

namespace VEKRiff {

namespace {

// Never fewer than two files; the French gives each count as a label's value,
// which agrees with any number.
const VEK::MessagePair MsgCheckSummary = {
    {"%d files checked: %d healthy, %d damaged, %d skipped, %d not done.",
     "%d fichiers vérifiés — sains : %d, endommagés : %d, ignorés : %d, non traités : %d."}};
// With files whose own index skips their damage.
const VEK::MessagePair MsgCheckSummaryRepaired = {
    {"%d files checked: %d healthy, %d repaired, %d damaged, %d skipped, %d not done.",
     "%d fichiers vérifiés — sains : %d, réparés : %d, endommagés : %d, ignorés : %d, non traités : %d."}};
const VEK::MessagePair MsgRebuildSummary = {
    {"%d files: %d rebuilt, %d failed, %d skipped, %d not done.",
     "%d fichiers — reconstruits : %d, en échec : %d, ignorés : %d, non traités : %d."}};

const VEK::MessagePair MsgHealthy = {{"Healthy", "Sain"}};
const VEK::MessagePair MsgRepaired = {{"Repaired", "Réparé"}};
const VEK::MessagePair MsgDamagedOne = {{"Damaged: 1 error", "Endommagé : 1 erreur"}};
const VEK::MessagePair MsgDamaged = {{"Damaged: %d errors", "Endommagé : %d erreurs"}};
const VEK::MessagePair MsgRebuilt = {{"Rebuilt", "Reconstruit"}};
const VEK::MessagePair MsgRebuiltOne = {{"Rebuilt: 1 error found", "Reconstruit : 1 erreur trouvée"}};
const VEK::MessagePair MsgRebuiltErrors = {{"Rebuilt: %d errors found", "Reconstruit : %d erreurs trouvées"}};
const VEK::MessagePair MsgNotAvi = {{"Not an AVI file", "Pas un fichier AVI"}};
const VEK::MessagePair MsgFailed = {{"Failed: %s", "Échec : %s"}};
const VEK::MessagePair MsgSkipped = {{"Skipped", "Ignoré"}};
const VEK::MessagePair MsgStopped = {{"Stopped", "Interrompu"}};

}  // namespace

FileResult ResultOf(RebuildEvent outcome, const std::string& failure, FailureReason reason, bool repaired) {
  switch (outcome) {
    case FileOk:
      return repaired ? FileResult::Repaired : FileResult::Healthy;
    case FileRebuilt:
      return FileResult::Rebuilt;
    case FileSkipped:
      return FileResult::Skipped;
    case Aborted:
      return FileResult::Stopped;
    default:
      break;
  }
  // Errors found by a check that went through, or a file that could not be
  // done; of those, one that is no AVI file at all is told apart.
  if (failure.empty()) return FileResult::Damaged;
  return reason == FailureReason::NotAvi ? FileResult::NotAvi : FileResult::Failed;
}

std::string ResultText(FileResult result, int errors, const std::string& failure) {
  switch (result) {
    case FileResult::Healthy:
      return VEK::Text(MsgHealthy);
    case FileResult::Repaired:
      return VEK::Text(MsgRepaired);
    case FileResult::Damaged:
      return errors == 1 ? VEK::Text(MsgDamagedOne) : VEK::Text(MsgDamaged, {errors});
    case FileResult::Rebuilt:
      return errors == 0 ? VEK::Text(MsgRebuilt)
             : errors == 1 ? VEK::Text(MsgRebuiltOne)
                           : VEK::Text(MsgRebuiltErrors, {errors});
    case FileResult::NotAvi:
      return VEK::Text(MsgNotAvi);
    case FileResult::Failed: {
      // The reason without its closing period, after the colon.
      std::string reason = failure;
      if (!reason.empty() && reason.back() == '.') reason.pop_back();
      return VEK::Text(MsgFailed, {reason});
    }
    case FileResult::Skipped:
      return VEK::Text(MsgSkipped);
    case FileResult::Stopped:
      return VEK::Text(MsgStopped);
  }
  return {};
}

BatchTally TallyOf(const std::vector<RebuildEvent>& outcomes, bool checkOnly, const std::vector<bool>& repaired) {
  BatchTally t;
  for (std::size_t i = 0; i < outcomes.size(); ++i) switch (outcomes[i]) {
      case FileOk:
        ++(i < repaired.size() && repaired[i] ? t.Repaired : t.Healthy);
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
  const int files = t.Healthy + t.Repaired + t.Damaged + t.Rebuilt + t.Failed + t.Skipped + t.NotRun;
  if (checkOnly && t.Repaired > 0)
    return VEK::Text(MsgCheckSummaryRepaired, {files, t.Healthy, t.Repaired, t.Damaged, t.Skipped, t.NotRun});
  if (checkOnly) return VEK::Text(MsgCheckSummary, {files, t.Healthy, t.Damaged, t.Skipped, t.NotRun});
  return VEK::Text(MsgRebuildSummary, {files, t.Rebuilt, t.Failed, t.Skipped, t.NotRun});
}

}  // namespace VEKRiff
