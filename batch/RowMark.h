// The state mark of a file-list row. The value is the row's image index into
// the list's small images, so the order of the marks is the order of the
// images each front-end draws them from and must not change.
#pragma once

enum RowMark {
  MarkNone = -1,  // not processed since it was added or its mark was reset
  MarkOk = 0,     // checked, no error found
  MarkErrors,     // errors found, or the file could not be processed
  MarkBusy,       // being processed
  MarkRebuilt,    // index rebuilt and output written
  MarkAborted,    // the operation was aborted on this file
  MarkSkipped,    // the file was skipped
  MarkNotAvi,     // the file is no AVI file at all
};

// Number of marks that have an image (MarkOk to MarkNotAvi).
inline constexpr int RowMarkImageCount = MarkNotAvi + 1;
