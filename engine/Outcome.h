// What became of one file of a batch, as every front-end tells it apart: a
// value beside the line that says it, never a text to compare.
#pragma once

#include <cstdint>

namespace VEKRiff {

enum class OutcomeKind : std::uint8_t {
  NotDone,      // the batch ended before the file did
  Healthy,      // checked, no error found
  Repaired,     // checked without an error only because its own index skips its damage
  Damaged,      // checked, errors found
  Rebuilt,      // index rebuilt and output written
  LeftHealthy,  // a rebuild left it as it was: a check found it healthy
  Skipped,      // skipped at the user's word or by the configured behaviour
  NotAvi,       // no AVI file at all
  Failed,       // could not be processed
  Stopped,      // the batch was stopped on this file
};

// Whether a batch that came to this for the file did what was asked of it:
// the console's exit status.
inline bool Succeeded(OutcomeKind kind) {
  return kind == OutcomeKind::Healthy || kind == OutcomeKind::Repaired || kind == OutcomeKind::Rebuilt ||
         kind == OutcomeKind::LeftHealthy;
}

}  // namespace VEKRiff
