// What a batch came to, file by file, and the line that sums it up: the same
// in every front-end (the console prints it after a batch of several files).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/Outcome.h"

namespace VEKRiff {

struct BatchTally {
  int Healthy = 0;   // checked without an error
  int Repaired = 0;  // checked without an error only because their own index skips their damage
  int Damaged = 0;   // checked with errors
  int Rebuilt = 0;
  int NotAvi = 0;  // no AVI file at all
  int Failed = 0;  // could not be processed
  int Skipped = 0;
  int NotRun = 0;  // left when the batch was stopped
};

// outcomes: one per file of the batch.
BatchTally TallyOf(const std::vector<OutcomeKind>& outcomes, bool checkOnly);
std::string SummaryLine(const BatchTally& tally, bool checkOnly);

// What became of one file in a few words, for a list's result column:
// "Healthy", "Repaired", "Damaged: 3 errors", "Not an AVI file", "Failed: "
// and the reason. failure: the line that ended the file without its Done
// line (the worker's FailureText), or empty.
// film: what the file's damage did to the film, in words (FilmInWords);
// empty where nothing tells.
std::string ResultText(OutcomeKind outcome, int errors, const std::string& failure, const std::string& film = {});

}  // namespace VEKRiff
