// What a batch came to, file by file, and the line that sums it up: the same
// in every front-end (the console prints it after a batch of several files).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/IndexRebuilder.h"

namespace VEKRiff {

struct BatchTally {
  int Healthy = 0;   // checked without an error
  int Repaired = 0;  // checked without an error only because their own index skips their damage
  int Damaged = 0;   // checked with errors
  int Rebuilt = 0;
  int Failed = 0;  // a rebuild that could not be done
  int Skipped = 0;
  int NotRun = 0;  // left when the batch was stopped
};

// outcomes: one per file of the batch, the notification that ended it, or
// FileStarted for a file the batch never finished; repaired: by file, the
// worker's Repaired() with it (empty: none).
BatchTally TallyOf(const std::vector<RebuildEvent>& outcomes, bool checkOnly, const std::vector<bool>& repaired = {});
std::string SummaryLine(const BatchTally& tally, bool checkOnly);

// What became of one file, for a list's result column.
enum class FileResult { Healthy, Damaged, Rebuilt, NotAvi, Failed, Skipped, Stopped, Repaired };
// failure: the line that ended the file without its Done line (the
// worker's FailureText), or empty; reason: the worker's Reason; repaired:
// the worker's Repaired().
FileResult ResultOf(RebuildEvent outcome, const std::string& failure, FailureReason reason, bool repaired = false);
// In a few words: "Healthy", "Repaired", "Damaged: 3 errors", "Not an AVI
// file", "Failed: " and the reason.
std::string ResultText(FileResult result, int errors, const std::string& failure);

}  // namespace VEKRiff
