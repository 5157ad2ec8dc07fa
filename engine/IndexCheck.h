// What a check says about the file's own index and headers, beside the
// damage the walk met: the walk's entries are compared with the legacy idx1
// and the OpenDML indexes, the RIFF and movi sizes with the data they hold,
// and the frame counts of the headers with what the data holds. Each
// disagreement is one finding with its count: a file that needs a rebuild
// never checks clean.
#pragma once

#include "engine/HeaderCounts.h"
#include "engine/ScanResult.h"
#include "file/BackupFile.h"

namespace VEKRiff {

// What the checks found. Where the file's own index (idx1 or OpenDML) lists
// exactly the chunks the walk found, none of them in or over a damaged
// stretch and none of them with a header that lies, the stretches are bytes
// players already pass over: a repaired file. They are still named where the
// walk met them, but count no error; Lines then says so once.
struct FileCheck {
  Findings Lines;
  bool IndexSkipsDamage = false;
};

// Every check, in the order the log shows them. file: the walked source.
FileCheck CheckFile(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts, const StopCheck& stop);

// An index's findings, and whether it lists every chunk of the data the walk
// found and nothing else.
struct IndexFindings {
  Findings Lines;
  bool ListsAll = false;
  // By stream number: the entries that name again a chunk an earlier entry
  // named, with their bytes. A rebuilt copy keeps the place of each lost
  // chunk so (one empty frame or one chunk of silence for them all); they
  // count in the streams' lengths as often as they are named.
  std::vector<std::pair<std::int64_t, std::int64_t>> Repeats;
};
IndexFindings CheckIdx1(BackupFile& file, const ScanResult& scan, const StopCheck& stop);
IndexFindings CheckOdmlIndexes(BackupFile& file, const ScanResult& scan, const StopCheck& stop);
// Whether the index skips every damaged stretch the walk met: none of the
// walk's entries lies in or over one, and no chunk's header needed a fix.
bool DamageOutsideEntries(const ScanResult& scan);
Findings CheckListSizes(BackupFile& file, const ScanResult& scan);
Findings CheckHeaderCounts(const ScanResult& scan, const HeaderCounts& counts);

}  // namespace VEKRiff
