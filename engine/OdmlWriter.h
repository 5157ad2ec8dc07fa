// The indexes of a file with more than one RIFF (OpenDML): a legacy idx1 for
// the first segment where its file has room for it, one standard index chunk
// ('ix##') per stream and segment after the usable data of the last segment,
// each stream's super index ('indx') in the space its header reserved, and
// the sizes of every RIFF and movi list it changes and the dmlh frame count.
#pragma once

#include <cstdint>

#include "engine/ScanResult.h"
#include "file/BackupFile.h"

namespace VEKRiff {

// What WriteOdmlIndexes will write past the last segment's end (so that room
// can be reserved for it first), after checking that it can; throws the
// failure WriteOdmlIndexes would.
std::int64_t OdmlIndexBytes(const ScanResult& scan);
// Fails (ErrorException) before anything is written when the reserved space
// cannot hold a super index. Leaves the position at the new end of the file,
// where the caller truncates. The scan's entries are in file order, each
// inside one segment's [movi data, End).
void WriteOdmlIndexes(BackupFile& file, const ScanResult& scan, const StopCheck& stop);

}  // namespace VEKRiff
