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

// Every check, in the order the log shows them. file: the walked source.
Findings CheckFile(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts, const StopCheck& stop);

Findings CheckIdx1(BackupFile& file, const ScanResult& scan, const StopCheck& stop);
Findings CheckOdmlIndexes(BackupFile& file, const ScanResult& scan, const StopCheck& stop);
Findings CheckListSizes(BackupFile& file, const ScanResult& scan);
Findings CheckHeaderCounts(const ScanResult& scan, const HeaderCounts& counts);

}  // namespace VEKRiff
