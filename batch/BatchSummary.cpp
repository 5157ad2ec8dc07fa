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

std::string ResultText(OutcomeKind outcome, int errors, const std::string& failure) {
  switch (outcome) {
    case OutcomeKind::Healthy:
      return VEK::Text(MsgHealthy);
    case OutcomeKind::Repaired:
      return VEK::Text(MsgRepaired);
    case OutcomeKind::Damaged:
      return errors == 1 ? VEK::Text(MsgDamagedOne) : VEK::Text(MsgDamaged, {errors});
    case OutcomeKind::Rebuilt:
      return errors == 0 ? VEK::Text(MsgRebuilt)
             : errors == 1 ? VEK::Text(MsgRebuiltOne)
                           : VEK::Text(MsgRebuiltErrors, {errors});
    case OutcomeKind::NotAvi:
      return VEK::Text(MsgNotAvi);
    case OutcomeKind::Failed: {
      // The reason without its closing period, after the colon.
      std::string reason = failure;
      if (!reason.empty() && reason.back() == '.') reason.pop_back();
      return VEK::Text(MsgFailed, {reason});
    }
    case OutcomeKind::LeftHealthy:
    case OutcomeKind::Skipped:
      return VEK::Text(MsgSkipped);
    case OutcomeKind::Stopped:
      return VEK::Text(MsgStopped);
    case OutcomeKind::NotDone:
      break;
  }
  return {};
}

BatchTally TallyOf(const std::vector<OutcomeKind>& outcomes, bool checkOnly) {
  BatchTally t;
  for (const OutcomeKind kind : outcomes) switch (kind) {
      case OutcomeKind::Healthy: ++t.Healthy; break;
      case OutcomeKind::Repaired: ++t.Repaired; break;
      case OutcomeKind::Damaged:
      case OutcomeKind::NotAvi:
      case OutcomeKind::Failed: ++(checkOnly ? t.Damaged : t.Failed); break;
      case OutcomeKind::Rebuilt: ++t.Rebuilt; break;
      case OutcomeKind::LeftHealthy:
      case OutcomeKind::Skipped: ++t.Skipped; break;
      case OutcomeKind::NotDone:
      case OutcomeKind::Stopped: ++t.NotRun; break;
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
