#include "engine/Idx1Writer.h"

#include <vector>

#include "avi/AviChunk.h"
#include "engine/EngineMessages.h"
#include "engine/Failures.h"
#include "engine/SizePatcher.h"
#include "util/Endian.h"

namespace VEKRiff {

using namespace VEKAvi;

namespace {

// The pad byte keeps the movi list's size even: readers round an odd list
// size up and would look for the index one byte too far. (In a sound file the
// list starts on an even position, so this is the even end of RIFF chunks.)
std::int64_t Pad(const ScanResult& scan) { return (scan.End() - scan.MoviOffset) & 1; }

}  // namespace

std::int64_t Idx1Bytes(const ScanResult& scan) {
  return Pad(scan) + ChunkHeader::Size + static_cast<std::int64_t>(scan.Entries.size()) * Idx1Entry::Size;
}

void CheckIdx1Fits(const ScanResult& scan) {
  // Every entry lies before the end of the list, so the list size bounds
  // their offsets too.
  const std::int64_t listSize = scan.End() + Pad(scan) - scan.MoviOffset - ChunkHeader::Size;
  if (listSize > MaxField || scan.Entries.size() > static_cast<std::size_t>(MaxField / Idx1Entry::Size))
    throw ErrorException(VEK::Text(Msg::IndexTooLarge));
}

void WriteIdx1Entries(BackupFile& file, const IndexEntries& entries, std::size_t count, std::int64_t moviData,
                      const StopCheck& stop) {
  // Entries go out in blocks, not one 16-byte write each: the bytes are the same.
  constexpr std::size_t PerBlock = 4096;
  std::vector<unsigned char> block(PerBlock * Idx1Entry::Size);
  std::size_t filled = 0;
  auto entry = entries.begin();
  for (std::size_t done = 0; done < count; ++done, ++entry) {
    Idx1Entry{entry->ChunkId, entry->Flags(), static_cast<std::uint32_t>(entry->Position() - moviData), entry->Size}
        .Store(&block[filled * Idx1Entry::Size]);
    if (++filled == PerBlock) {
      MayStop(stop);
      file.Write(block.data(), static_cast<std::int64_t>(block.size()));
      filled = 0;
    }
  }
  if (filled > 0) file.Write(block.data(), static_cast<std::int64_t>(filled * Idx1Entry::Size));
}

void WriteIdx1Chunk(BackupFile& file, const ScanResult& scan, std::int64_t position, const StopCheck& stop,
                    bool withCode) {
  unsigned char header[ChunkHeader::Size];
  ChunkHeader{CodeIdx1, static_cast<std::uint32_t>(scan.Entries.size() * Idx1Entry::Size)}.Store(header);
  const int skip = withCode ? 0 : 4;
  file.Seek(position + skip, 0);
  file.Write(header + skip, sizeof header - skip);
  // idx1 offsets count from "movi", wherever the index is.
  WriteIdx1Entries(file, scan.Entries, scan.Entries.size(), scan.MoviOffset + ChunkHeader::Size, stop);
  // Reads move the read position, writes only the destination's.
  file.Seek(position + Idx1Bytes(scan) - Pad(scan), 0);
}

void WriteIdx1(BackupFile& file, const ScanResult& scan, const StopCheck& stop) {
  CheckIdx1Fits(scan);
  const std::int64_t at = scan.End();
  const std::int64_t listEnd = at + Pad(scan);
  // The index goes out first and the list size last: until the size points at
  // it, the file still reads as it did.
  if (Pad(scan)) {
    file.Seek(at, 0);
    file.WriteByte(0);
  }
  WriteIdx1Chunk(file, scan, listEnd, stop);
  const std::int64_t indexEnd = file.Position();
  PatchListSize(file, scan.MoviOffset, listEnd);
  file.Seek(indexEnd, 0);
}

}  // namespace VEKRiff
