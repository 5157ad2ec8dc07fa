// The legacy idx1 index: written where the walk ended, after the movi data,
// with the movi list's size made to end there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/ScanResult.h"
#include "file/BackupFile.h"

namespace VEKRiff {

// Fails the file (ErrorException) when an idx1 cannot address the data up to the walk's end.
void CheckIdx1Fits(const ScanResult& scan);
// How many bytes WriteIdx1 writes after the walk's end.
std::int64_t Idx1Bytes(const ScanResult& scan);
// Writes the index at the walk's end, then the movi list's size; leaves the
// position at the end of the index. Checks first that it fits, so a file that
// cannot be indexed is left as it was.
void WriteIdx1(BackupFile& file, const ScanResult& scan, const StopCheck& stop);
// The idx1 chunk of every entry, header and entries, at position (even),
// touching nothing else; leaves the position at its end. Without withCode
// the chunk's code is not written, only what follows it.
void WriteIdx1Chunk(BackupFile& file, const ScanResult& scan, std::int64_t position, const StopCheck& stop,
                    bool withCode = true);
// The first count entries as idx1 entries, their offsets from moviData,
// written at the current position.
void WriteIdx1Entries(BackupFile& file, const IndexEntries& entries, std::size_t count, std::int64_t moviData,
                      const StopCheck& stop);

}  // namespace VEKRiff
