#include "batch/RowFiles.h"

#include "util/Paths.h"

namespace VEKRiff {

std::optional<std::string> CopyOf(const BatchEntry& entry) {
  // The output is named when the file starts, before anything is written:
  // only the outcome says whether it came to be.
  if (!entry.Output || *entry.Output == entry.Path) return std::nullopt;
  switch (entry.Report.Outcome) {
    case OutcomeKind::Rebuilt: return entry.Output;
    case OutcomeKind::Skipped:
      // Skipped because the copy exists, unless it has gone meanwhile.
      if (VEK::FileSizeOf(*entry.Output) >= 0) return entry.Output;
      return std::nullopt;
    default: return std::nullopt;
  }
}

std::optional<std::string> RepairedFileOf(const BatchEntry& entry) {
  if (entry.Report.Outcome == OutcomeKind::Rebuilt && entry.Output && *entry.Output == entry.Path) return entry.Path;
  return CopyOf(entry);
}

const std::string& FileToPlay(const BatchEntry& entry) {
  if (entry.Output && CopyOf(entry)) return *entry.Output;
  return entry.Path;
}

}  // namespace VEKRiff
