// The legacy idx1 index: written where the walk ended, after the movi data,
// with the movi list's size made to end there.
#include <vector>

#include "avi/AviChunk.h"
#include "engine/EngineMessages.h"
#include "engine/IndexRebuilder.h"
#include "util/Endian.h"

namespace VEKRiff {

using namespace VEKAvi;

// The pad byte keeps the movi list's size even: readers round an odd list
// size up and would look for the index one byte too far. (In a sound file the
// list starts on an even position, so this is the even end of RIFF chunks.)
std::int64_t IndexRebuilder::IndexPad(std::int64_t end, std::int64_t moviOffset) { return (end - moviOffset) & 1; }

std::int64_t IndexRebuilder::IndexBytes(std::int64_t end, const IndexEntries& entries, std::int64_t moviOffset) {
  return IndexPad(end, moviOffset) + ChunkHeader::Size + static_cast<std::int64_t>(entries.size()) * Idx1Entry::Size;
}

void IndexRebuilder::CheckIndexFits(std::int64_t end, const IndexEntries& entries, std::int64_t moviOffset) {
  // Every entry lies before the end of the list, so the list size bounds
  // their offsets too.
  const std::int64_t listSize = end + IndexPad(end, moviOffset) - moviOffset - ChunkHeader::Size;
  if (listSize > MaxIdx1Value || entries.size() > MaxIdx1Value / Idx1Entry::Size)
    throw ErrorException(VEK::Text(Msg::IndexTooLarge));
}

void IndexRebuilder::WriteIndex(BackupFile& file, const IndexEntries& entries, std::int64_t moviOffset) {
  std::int64_t e = file.Position();
  // Everything that must fit the 32-bit fields is checked before the first
  // byte is written, so a file that cannot be indexed is left as it was.
  CheckIndexFits(e, entries, moviOffset);
  const std::int64_t moviData = moviOffset + ChunkHeader::Size;  // idx1 offsets count from "movi"
  const std::int64_t listSize = e + IndexPad(e, moviOffset) - moviData;
  // The index goes out first and the list size last: until the size points at
  // it, the file still reads as it did.
  if (IndexPad(e, moviOffset)) {
    file.WriteByte(0);
    ++e;
  }
  unsigned char header[ChunkHeader::Size];
  ChunkHeader{CodeIdx1, static_cast<std::uint32_t>(entries.size() * Idx1Entry::Size)}.Store(header);
  file.Write(header, sizeof header);
  // Entries go out in blocks, not one 16-byte write each: the bytes are the same.
  constexpr std::size_t PerBlock = 4096;
  std::vector<unsigned char> block(PerBlock * Idx1Entry::Size);
  std::size_t filled = 0;
  for (const OldIndexEntry& entry : entries) {
    Idx1Entry{entry.ChunkId, entry.Flags(), static_cast<std::uint32_t>(entry.Position() - moviData), entry.Size}.Store(
        &block[filled * Idx1Entry::Size]);
    if (++filled == PerBlock) {
      // A copy can still be given up here; in place the file is completed
      // once its first byte has changed.
      if (!file.InPlace()) CheckAbort();
      file.Write(block.data(), static_cast<std::int64_t>(block.size()));
      filled = 0;
    }
  }
  if (filled > 0) file.Write(block.data(), static_cast<std::int64_t>(filled * Idx1Entry::Size));
  // Reads move the read position, writes only the destination's.
  const std::int64_t indexEnd = e + ChunkHeader::Size + static_cast<std::int64_t>(entries.size()) * Idx1Entry::Size;

  file.Seek(moviOffset, 0);
  file.Read(header, sizeof header);
  VEK::StoreLe32(header + 4, static_cast<std::uint32_t>(listSize));
  file.Seek(moviOffset, 0);
  file.Write(header, sizeof header);
  file.Seek(indexEnd, 0);
}

}  // namespace VEKRiff
