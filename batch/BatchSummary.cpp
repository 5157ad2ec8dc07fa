#include "batch/BatchSummary.h"

#include "lang/Language.h"

namespace VEKRiff {

namespace {

// Never fewer than two files. The French gives each count as a label's value,
// which agrees with any number. Repaired, not-AVI and failed files are
// counted where there are any.
const VEK::MessagePair MsgCheckHead = {{"%d files checked: ", "%d fichiers vérifiés — "}};
const VEK::MessagePair MsgRebuildHead = {{"%d files: ", "%d fichiers — "}};
const VEK::MessagePair MsgCountHealthy = {{"%d healthy", "sains : %d"}};
const VEK::MessagePair MsgCountRepaired = {{"%d repaired", "réparés : %d"}};
const VEK::MessagePair MsgCountDamaged = {{"%d damaged", "endommagés : %d"}};
const VEK::MessagePair MsgCountRebuilt = {{"%d rebuilt", "reconstruits : %d"}};
const VEK::MessagePair MsgCountNotAvi = {{"%d not AVI", "non AVI : %d"}};
const VEK::MessagePair MsgCountFailed = {{"%d failed", "en échec : %d"}};
const VEK::MessagePair MsgCountSkipped = {{"%d skipped", "ignorés : %d"}};
const VEK::MessagePair MsgCountNotDone = {{"%d not done", "non traités : %d"}};

const VEK::MessagePair MsgHealthy = {{"Healthy", "Sain"}};
const VEK::MessagePair MsgRepaired = {{"Repaired", "Réparé"}};
const VEK::MessagePair MsgDamagedOne = {{"Damaged: 1 error", "Endommagé : 1 erreur"}};
const VEK::MessagePair MsgDamaged = {{"Damaged: %d errors", "Endommagé : %d erreurs"}};
const VEK::MessagePair MsgRebuilt = {{"Rebuilt", "Reconstruit"}};
const VEK::MessagePair MsgRebuiltOne = {{"Rebuilt: 1 error found", "Reconstruit : 1 erreur trouvée"}};
const VEK::MessagePair MsgRebuiltErrors = {{"Rebuilt: %d errors found", "Reconstruit : %d erreurs trouvées"}};
const VEK::MessagePair MsgNotAvi = {{"Not an AVI file", "Pas un fichier AVI"}};
const VEK::MessagePair MsgRepairedFilm = {{"Repaired: %s", "Réparé : %s"}};
const VEK::MessagePair MsgDamagedFilm = {{"Damaged: %s", "Endommagé : %s"}};
const VEK::MessagePair MsgRebuiltFilm = {{"Rebuilt: %s", "Reconstruit : %s"}};
const VEK::MessagePair MsgFailed = {{"Failed: %s", "Échec : %s"}};
const VEK::MessagePair MsgSkipped = {{"Skipped", "Ignoré"}};
const VEK::MessagePair MsgStopped = {{"Stopped", "Interrompu"}};

}  // namespace

std::string ResultText(OutcomeKind outcome, int errors, const std::string& failure, const std::string& film) {
  // What the film lost says more to a person than a count of errors, which
  // the lines and the counters keep.
  if (!film.empty()) {
    switch (outcome) {
      case OutcomeKind::Repaired: return VEK::Text(MsgRepairedFilm, {film});
      case OutcomeKind::Damaged: return VEK::Text(MsgDamagedFilm, {film});
      case OutcomeKind::Rebuilt: return VEK::Text(MsgRebuiltFilm, {film});
      default: break;
    }
  }
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
      case OutcomeKind::Damaged: ++t.Damaged; break;
      case OutcomeKind::NotAvi: ++t.NotAvi; break;
      case OutcomeKind::Failed: ++t.Failed; break;
      case OutcomeKind::Rebuilt: ++t.Rebuilt; break;
      case OutcomeKind::LeftHealthy:
      case OutcomeKind::Skipped: ++t.Skipped; break;
      case OutcomeKind::NotDone:
      case OutcomeKind::Stopped: ++t.NotRun; break;
    }
  return t;
}

std::string SummaryLine(const BatchTally& t, bool checkOnly) {
  const int files = t.Healthy + t.Repaired + t.Damaged + t.Rebuilt + t.NotAvi + t.Failed + t.Skipped + t.NotRun;
  std::string line = VEK::Text(checkOnly ? MsgCheckHead : MsgRebuildHead, {files});
  bool first = true;
  auto add = [&](const VEK::MessagePair& part, int count) {
    line += (first ? "" : ", ") + VEK::Text(part, {count});
    first = false;
  };
  if (checkOnly) {
    add(MsgCountHealthy, t.Healthy);
    if (t.Repaired > 0) add(MsgCountRepaired, t.Repaired);
    add(MsgCountDamaged, t.Damaged);
    if (t.NotAvi > 0) add(MsgCountNotAvi, t.NotAvi);
    if (t.Failed > 0) add(MsgCountFailed, t.Failed);
  } else {
    add(MsgCountRebuilt, t.Rebuilt);
    if (t.NotAvi > 0) add(MsgCountNotAvi, t.NotAvi);
    add(MsgCountFailed, t.Failed);
  }
  add(MsgCountSkipped, t.Skipped);
  add(MsgCountNotDone, t.NotRun);
  return line + ".";
}

}  // namespace VEKRiff
