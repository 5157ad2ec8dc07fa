// The last steps of a rebuild, once the walk and the checks are done: the
// new indexes, corrected sizes and header counts written from the scan
// result, and the file completed. A copy is flushed and takes its final name,
// unless its source changed while it was read;
// a file rebuilt in place is written under a write lease and cut to its new
// end, or left as it was when another program changed it meanwhile.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/HeaderCounts.h"
#include "engine/ScanResult.h"
#include "file/BackupFile.h"
#include "file/SafeOutput.h"

namespace VEKRiff {

// headerList: the bytes of a new header list, written from the start of the
// file (empty: the file's own is kept).
//
// file: the copy, positioned at the walk's end, written under output's
// temporary name; let go before the rename. shifts: how far each segment's
// bytes move along in the copy, from the first movi list on (SegmentShifts;
// scan gives their new positions). stop: anywhere.
void FinishCopy(std::unique_ptr<BackupFile>& file, VEKFile::SafeOutput& output, const ScanResult& scan,
                const HeaderCounts& counts, const std::vector<unsigned char>& headerList,
                const std::vector<std::int64_t>& shifts, const StopCheck& stop);
// say: a line for the log (that no lease could be had, and why).
void FinishInPlace(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts,
                   const std::vector<unsigned char>& headerList, const std::function<void(const std::string&)>& say,
                   const StopCheck& stopBeforeWriting);

}  // namespace VEKRiff
