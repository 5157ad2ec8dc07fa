// What a batch came to, file by file, and the line that sums it up: the same
// in every front-end (the console prints it after a batch of several files).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/IndexRebuilder.h"

namespace VEKRiff {

struct BatchTally {
  int Healthy = 0;  // checked without an error
  int Damaged = 0;  // checked with errors
  int Rebuilt = 0;
  int Failed = 0;  // a rebuild that could not be done
  int Skipped = 0;
  int NotRun = 0;  // left when the batch was stopped
};

// outcomes: one per file of the batch, the notification that ended it, or
// FileStarted for a file the batch never finished.
BatchTally TallyOf(const std::vector<RebuildEvent>& outcomes, bool checkOnly);
std::string SummaryLine(const BatchTally& tally, bool checkOnly);

}  // namespace VEKRiff
