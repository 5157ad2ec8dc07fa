#include "engine/SizePatcher.h"

#include "avi/AviChunk.h"
#include "util/Endian.h"

namespace VEKRiff {

using namespace VEKAvi;

void PatchLe32(BackupFile& file, std::int64_t position, std::uint32_t value) {
  unsigned char field[4];
  VEK::StoreLe32(field, value);
  file.Seek(position, 0);
  file.Write(field, sizeof field);
}

void PatchSize(BackupFile& file, std::int64_t header, std::uint32_t dataSize) {
  PatchLe32(file, header + ChunkHeader::SizeField, dataSize);
}

void PatchListSize(BackupFile& file, std::int64_t list, std::int64_t end) {
  PatchSize(file, list, static_cast<std::uint32_t>(ChunkHeader::SizeFor(list, end)));
}

void WriteChunkSizes(BackupFile& file, const std::vector<SizeFix>& fixes) {
  for (const SizeFix& fix : fixes) {
    if (fix.Code != 0) PatchLe32(file, fix.Position, fix.Code);
    PatchSize(file, fix.Position, fix.Size);
  }
}

void WriteLostRiffCodes(BackupFile& file, const Segments& segments) {
  for (const Segment& segment : segments) {
    if (!segment.RiffLost) continue;
    PatchLe32(file, segment.RiffPosition, CodeRiff);
    PatchLe32(file, segment.RiffPosition + ListHeader::TypeField, CodeAvix);
  }
}

void WriteHeaderCounts(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts, std::int64_t fileEnd) {
  // Only what is wrong is written; nothing else in the header moves.
  // A damaged header list may claim to cover the movi list: fields it seems
  // to hold there are not header fields, and are never written.
  const std::int64_t headersEnd = scan.SegmentList.front().MoviPosition;
  constexpr std::int64_t FieldBytes = 4;  // each count is a 32-bit field
  auto patch = [&](std::int64_t position, std::uint32_t now, std::int64_t value) {
    if (position < 0 || position > headersEnd - FieldBytes || value < 0 || value > MaxField ||
        now == static_cast<std::uint32_t>(value))
      return;
    PatchLe32(file, position, static_cast<std::uint32_t>(value));
  };
  const AviHeaders& headers = scan.Headers;
  if (!MainHeaderFramesAgree(scan, counts)) patch(headers.TotalFramesPos, headers.TotalFrames, counts.TotalFrames);
  for (std::size_t s = 0; s < headers.Streams.size(); ++s) {
    const StreamHeader& h = headers.Streams[s];
    if (h.Readable && !StreamLengthAgrees(scan, s, counts.Streams[s]))
      patch(h.LengthFieldPos, h.Length, counts.Streams[s]);
  }
  if (!scan.IsOpenDml()) {
    // (With more RIFFs the OpenDML writer writes dmlh with the indexes.)
    patch(headers.DmlhPos, headers.DmlhTotalFrames, counts.AllFrames);
    // The one RIFF now ends with the index.
    // A read that fails (in place, after the first write) cannot tell the
    // old size, and the new one is written.
    const std::int64_t size = ChunkHeader::SizeFor(0, fileEnd);
    unsigned char riff[ChunkHeader::Size];
    const bool known = file.Peek(riff, sizeof riff, 0) == sizeof riff;
    patch(ChunkHeader::SizeField, known ? ChunkHeader::Load(riff).DataSize : ~static_cast<std::uint32_t>(size), size);
  }
  file.Seek(fileEnd, 0);
}

}  // namespace VEKRiff
