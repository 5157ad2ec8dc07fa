// Every 32-bit field a rebuild corrects in place of the old value: chunk
// sizes the walk corrected, list and RIFF sizes, and the header counts.
// Fields only: nothing around them moves.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/HeaderCounts.h"
#include "engine/ScanResult.h"
#include "file/BackupFile.h"

namespace VEKRiff {

// Writes value, little-endian, at position; moves the position.
void PatchLe32(BackupFile& file, std::int64_t position, std::uint32_t value);
// Writes the size field of the chunk, list or RIFF with its header at header.
void PatchSize(BackupFile& file, std::int64_t header, std::uint32_t dataSize);
// Makes the list or RIFF with its header at list end at end.
void PatchListSize(BackupFile& file, std::int64_t list, std::int64_t end);
// Gives the chunks the walk kept with another size than their header's that size.
void WriteChunkSizes(BackupFile& file, const std::vector<SizeFix>& fixes);
// Writes the codes of each segment's RIFF header that the walk found
// damaged ("RIFF", then "AVIX" after the size field, which the OpenDML
// writers set with the other RIFF sizes).
void WriteLostRiffCodes(BackupFile& file, const Segments& segments);
// Writes the header counts that differ from the data's and, for a file of
// one RIFF ending at fileEnd, its RIFF size; leaves the position at fileEnd.
void WriteHeaderCounts(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts, std::int64_t fileEnd);

}  // namespace VEKRiff
