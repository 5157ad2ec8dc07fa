// The chunks a walk had to skip that the file's own legacy index still
// describes. A chunk whose header a disk or a download damaged (a byte of
// its code or size) is a corrupted spot to the walk, but an intact idx1
// names it: its code, its size and where it is. Such a chunk is kept when
// its place is free (no walked chunk overlaps it), most of its header still
// agrees with the index and the index agrees with the walk elsewhere; the
// rebuild then writes the index's code and size into its header. A chunk
// the walk took speaks for itself where the walk confirmed it: its size
// where something recognisable follows it, its code where it names a
// stream the header list describes. The index may give it only the rest.
#pragma once

#include <cstdint>

#include "engine/ScanResult.h"
#include "file/BackupFile.h"

namespace VEKRiff {

struct Salvage {
  ScanResult Scan;
  std::int64_t Kept = 0;     // chunks added to the walk's entries
  std::int64_t Recoded = 0;  // walked chunks given the index's code or size
};

Salvage SalvageFromOldIndex(BackupFile& file, ScanResult scan, const StopCheck& stop);

}  // namespace VEKRiff
