// The indexes of an OpenDML file (a RIFF 'AVI ' followed by RIFF 'AVIX'
// segments): the legacy idx1 of the first segment where there is room for it,
// the standard index chunks ('ix##') of every stream and segment after the
// last segment's data, each stream's super index ('indx') in the space its
// header reserved, and the RIFF, movi and dmlh fields that describe them.
//
// Layout written:
//  - segment 1: movi ends at its data; idx1 right after it when it fits before
//    the next RIFF, and the rest of that gap is one JUNK chunk;
//  - every later segment but the last: movi ends at its data, the gap up to
//    the next RIFF (old index chunks, damage) is one JUNK chunk;
//  - the last segment: all the ix## chunks at the end of its data, inside its
//    movi list, which ends after them, as does its RIFF;
//  - each RIFF ends where the next one begins.
// Everything that can refuse is checked before the first byte is written.
#include "engine/OdmlWriter.h"

#include <algorithm>
#include <vector>

#include "avi/AviChunk.h"
#include "engine/EngineMessages.h"

#include "avi/OdmlIndex.h"
#include "engine/Failures.h"
#include "engine/Idx1Writer.h"
#include "engine/SizePatcher.h"
#include "util/Endian.h"

namespace VEKRiff {

using namespace VEKAvi;

namespace {

constexpr FourCC CodeOdml = MakeFourCC("odml");
constexpr FourCC CodeDmlh = MakeFourCC("dmlh");
constexpr std::uint32_t AVIF_HASINDEX = 0x10;
constexpr std::int64_t SuperHeaderBytes = SuperIndexHeader::Size;
constexpr std::int64_t SuperEntryBytes = SuperIndexEntry::Size;
constexpr std::int64_t StandardHeaderBytes = StandardIndexHeader::Size;
constexpr std::int64_t StandardEntryBytes = StandardIndexEntry::Size;
// Muxers write one standard index per stream and segment and reserve their
// super index for that many (mencoder exactly that many): only offsets that
// 32 bits cannot hold, or an index beyond any real segment's chunk count
// (128 MiB of entries), start another.
constexpr std::uint32_t MaxStandardEntries = 1u << 24;
// Entries go out in blocks of this many, not one buffer per index.
constexpr std::size_t EntriesPerBlock = 8192;
constexpr std::uint32_t NotKeyFrame = StandardIndexEntry::NotKeyFrame;

// The two digits of stream n as the first two characters of a code.
FourCC StreamDigits(int n) {
  constexpr char hex[] = "0123456789abcdef";
  return static_cast<FourCC>(static_cast<unsigned char>(hex[(n >> 4) & 15])) |
         (static_cast<FourCC>(static_cast<unsigned char>(hex[n & 15])) << 8);
}

void Fail(const VEK::MessagePair& message, std::initializer_list<VEK::FormatArg> args = {}) {
  throw ErrorException(VEK::Text(message, args));
}

// Decides every index chunk and checks every field that must hold its value,
// without touching the file: both the writer and the space reservation start
// here, so they refuse the same files.
OdmlIndexPlan Plan(const AviHeaders& headers, const Segments& segments, const IndexEntries& entries,
              StreamNumbering numbering) {
  if (segments.empty()) Fail(Msg::OdmlBadSegments);
  for (std::size_t i = 0; i < segments.size(); ++i) {
    const Segment& s = segments[i];
    if (s.RiffPosition < 0 || s.MoviPosition - s.RiffPosition < ListHeader::Size ||
        s.End - s.MoviPosition < ListHeader::Size)
      Fail(Msg::OdmlBadSegments);
    if (i + 1 < segments.size()) {
      const std::int64_t next = segments[i + 1].RiffPosition;
      if (next - s.End < (s.End & 1)) Fail(Msg::OdmlBadSegments);
      if (next - s.RiffPosition - ChunkHeader::Size > MaxField) Fail(Msg::OdmlSegmentTooLarge);
    }
  }

  OdmlIndexPlan plan;
  plan.Streams.resize(headers.Streams.size());
  std::vector<int> segmentOf(headers.Streams.size(), -1);  // the segment of each stream's last index
  for (std::size_t n = 0; n < headers.Streams.size(); ++n)
    if (headers.Streams[n].IsVideo()) {
      plan.FirstVideo = static_cast<int>(n);
      break;
    }

  std::size_t k = 0;  // the segment of the current entry
  for (const OldIndexEntry& entry : entries) {
    const std::int64_t at = entry.Position();
    while (k < segments.size() && at >= segments[k].End) ++k;
    if (k == segments.size() || at < segments[k].MoviPosition + ListHeader::Size ||
        segments[k].End - at < ChunkHeader::Size)
      Fail(Msg::OdmlBadSegments);
    if (k == 0) ++plan.FirstSegmentEntries;
    const int n = StreamNumber(entry.ChunkId, numbering);
    // A chunk of a stream the header does not describe has no super index to
    // reach it; only the legacy idx1 lists it.
    if (n < 0 || static_cast<std::size_t>(n) >= plan.Streams.size()) continue;
    if (entry.Size >= NotKeyFrame) Fail(Msg::OdmlSegmentTooLarge);
    OdmlStreamIndexes& stream = plan.Streams[static_cast<std::size_t>(n)];
    const std::int64_t data = at + ChunkHeader::Size;
    OdmlStandardIndex* current = stream.Indexes.empty() ? nullptr : &stream.Indexes.back();
    if (current == nullptr || segmentOf[static_cast<std::size_t>(n)] != static_cast<int>(k) || current->Count == MaxStandardEntries ||
        data - current->Base > MaxField) {
      // The movi list as base, as muxers do; past 4 GiB of one segment (which
      // a RIFF cannot reach, but a damaged size field could make us believe)
      // the chunk itself.
      const std::int64_t movi = segments[k].MoviPosition;
      stream.Indexes.push_back({data - movi <= MaxField ? movi : at, 0, entry.ChunkId, 0});
      segmentOf[static_cast<std::size_t>(n)] = static_cast<int>(k);
      current = &stream.Indexes.back();
    }
    ++current->Count;
    current->DataBytes += entry.Size;
    ++stream.Entries;
  }

  for (std::size_t n = 0; n < plan.Streams.size(); ++n) {
    OdmlStreamIndexes& stream = plan.Streams[n];
    const StreamHeader& header = headers.Streams[n];
    for (const OdmlStandardIndex& index : stream.Indexes) plan.StandardBytes += StandardIndexBytes(index.Count);
    if (header.IndxPos >= 0) {
      stream.ReservePos = header.IndxPos;
      stream.ReserveSize = header.IndxSize;
      stream.ReserveIsIndx = true;
    } else if (header.JunkPos >= 0) {
      stream.ReservePos = header.JunkPos;
      stream.ReserveSize = header.JunkSize;
    }
    // A stream without chunks needs no super index; one with chunks and no
    // reserve cannot be reached by an OpenDML reader at all.
    if (stream.Indexes.empty()) continue;
    if (stream.ReservePos < 0) Fail(Msg::OdmlNoIndexSpace, {static_cast<std::int64_t>(n)});
    const std::int64_t slots =
        stream.ReserveSize < SuperHeaderBytes ? 0 : (stream.ReserveSize - SuperHeaderBytes) / SuperEntryBytes;
    if (static_cast<std::int64_t>(stream.Indexes.size()) > slots)
      Fail(Msg::OdmlIndexSpaceTooSmall,
           {static_cast<std::int64_t>(n), slots, static_cast<std::int64_t>(stream.Indexes.size())});
  }

  const Segment& last = segments.back();
  const std::int64_t end = last.End + (last.End & 1) + plan.StandardBytes;
  if (end - last.RiffPosition - ChunkHeader::Size > MaxField) Fail(Msg::OdmlSegmentTooLarge);
  return plan;
}

// A JUNK chunk header over the gap [from, to), when the gap can hold one.
void WriteJunkHeader(BackupFile& file, std::int64_t from, std::int64_t to) {
  if (to - from < ChunkHeader::Size) return;
  unsigned char header[ChunkHeader::Size];
  ChunkHeader{CodeJunk, static_cast<std::uint32_t>(to - from - ChunkHeader::Size)}.Store(header);
  file.Seek(from, 0);
  file.Write(header, sizeof header);
}

}  // namespace

std::int64_t StandardIndexBytes(std::uint32_t count) {
  return ChunkHeader::Size + StandardHeaderBytes + static_cast<std::int64_t>(count) * StandardEntryBytes;
}

OdmlIndexPlan PlanOdmlIndexes(const ScanResult& scan) {
  return Plan(scan.Headers, scan.SegmentList, scan.Entries, scan.Numbering);
}

std::int64_t OdmlIndexBytes(const ScanResult& scan) {
  const OdmlIndexPlan plan = PlanOdmlIndexes(scan);
  return (scan.SegmentList.back().End & 1) + plan.StandardBytes;
}

std::vector<std::vector<unsigned char>> WriteStandardIndexes(BackupFile& file, const ScanResult& scan,
                                                             const OdmlIndexPlan& plan, std::int64_t at,
                                                             const std::vector<std::size_t>& skip, bool headersFirst,
                                                             const StopCheck& stop) {
  const IndexEntries& entries = scan.Entries;
  auto skipped = [&skip](std::size_t n, std::size_t k) { return !skip.empty() && k < skip[n]; };
  if (headersFirst) {
    std::int64_t pos = at;
    for (std::size_t n = 0; n < plan.Streams.size(); ++n)
      for (std::size_t k = 0; k < plan.Streams[n].Indexes.size(); ++k) {
        if (skipped(n, k)) continue;
        const OdmlStandardIndex& index = plan.Streams[n].Indexes[k];
        const std::int64_t bytes = StandardIndexBytes(index.Count);
        unsigned char header[ChunkHeader::Size];
        // "ix" and the stream's digits as its own chunks spell them.
        ChunkHeader{(MakeFourCC("ix00") & 0xFFFFu) | ((index.ChunkId & 0xFFFFu) << 16),
                    static_cast<std::uint32_t>(bytes - ChunkHeader::Size)}
            .Store(header);
        file.Seek(pos, 0);
        file.Write(header, sizeof header);
        pos += bytes;
      }
  }
  std::vector<std::vector<unsigned char>> superEntries(plan.Streams.size());
  std::vector<unsigned char> block(EntriesPerBlock * StandardEntryBytes);
  for (std::size_t n = 0; n < plan.Streams.size(); ++n) {
    const OdmlStreamIndexes& stream = plan.Streams[n];
    if (stream.Indexes.empty()) continue;
    const StreamHeader& header = scan.Headers.Streams[n];
    auto entry = entries.begin();
    for (std::size_t k = 0; k < stream.Indexes.size(); ++k) {
      const OdmlStandardIndex& index = stream.Indexes[k];
      const bool write = !skipped(n, k);
      const std::int64_t bytes = StandardIndexBytes(index.Count);
      if (write) {
        unsigned char p[ChunkHeader::Size + StandardHeaderBytes] = {};
        ChunkHeader{(MakeFourCC("ix00") & 0xFFFFu) | ((index.ChunkId & 0xFFFFu) << 16),
                    static_cast<std::uint32_t>(bytes - ChunkHeader::Size)}
            .Store(p);
        StandardIndexHeader{{2, 0, AVI_INDEX_OF_CHUNKS, index.Count, index.ChunkId},
                            static_cast<std::uint64_t>(index.Base)}
            .Store(p + ChunkHeader::Size);
        MayStop(stop);
        const int from = headersFirst ? ChunkHeader::Size : 0;
        file.Seek(at + from, 0);
        file.Write(p + from, static_cast<std::int64_t>(sizeof p) - from);
      }
      std::size_t filled = 0;
      for (std::uint32_t done = 0; done < index.Count; ++entry) {
        if (StreamNumber(entry->ChunkId, scan.Numbering) != static_cast<int>(n)) continue;
        ++done;
        if (!write) continue;
        const std::int64_t data = entry->Position() + ChunkHeader::Size;
        unsigned char* out = &block[filled * StandardEntryBytes];
        StandardIndexEntry{static_cast<std::uint32_t>(data - index.Base),
                           entry->Size | ((entry->Flags() & AVIIF_KEYFRAME) ? 0 : NotKeyFrame)}
            .Store(out);
        if (++filled == EntriesPerBlock || done == index.Count) {
          file.Write(block.data(), static_cast<std::int64_t>(filled * StandardEntryBytes));
          filled = 0;
        }
      }
      if (!write) continue;
      // Audio counts its duration in samples when they have a fixed size, as
      // ffmpeg writes it and readers sum it; everything else in chunks.
      const std::uint64_t duration =
          header.IsAudio() && header.SampleSize > 0 ? index.DataBytes / header.SampleSize : index.Count;
      std::vector<unsigned char>& super = superEntries[n];
      const std::size_t s = super.size();
      super.resize(s + SuperEntryBytes);
      SuperIndexEntry{static_cast<std::uint64_t>(at), static_cast<std::uint32_t>(bytes),
                      static_cast<std::uint32_t>(std::min<std::uint64_t>(duration, MaxField))}
          .Store(&super[s]);
      at += bytes;
    }
  }
  file.Seek(at, 0);
  return superEntries;
}

std::vector<unsigned char> SuperIndexBytes(const ScanResult& scan, const OdmlIndexPlan& plan, std::size_t n,
                                           const std::vector<unsigned char>& entries) {
  const OdmlStreamIndexes& stream = plan.Streams[n];
  std::vector<unsigned char> data(stream.ReserveSize, 0);
  const FourCC kind = scan.Headers.Streams[n].IsAudio() ? MakeFourCC("00wb") : MakeFourCC("00dc");
  const FourCC chunkId = stream.Indexes.empty() ? (kind & 0xFFFF0000u) | StreamDigits(static_cast<int>(n))
                                                : stream.Indexes.front().ChunkId;
  SuperIndexHeader{{4, 0, AVI_INDEX_OF_INDEXES, static_cast<std::uint32_t>(entries.size() / SuperEntryBytes),
                    chunkId}}
      .Store(data.data());
  std::copy(entries.begin(), entries.end(), data.begin() + SuperHeaderBytes);
  return data;
}

void WriteOdmlFrameCount(BackupFile& file, const ScanResult& scan, const OdmlIndexPlan& plan) {
  const AviHeaders& headers = scan.Headers;
  const std::int64_t frames =
      plan.FirstVideo >= 0 ? plan.Streams[static_cast<std::size_t>(plan.FirstVideo)].Entries : 0;
  const auto frameCount = static_cast<std::uint32_t>(std::min<std::int64_t>(frames, MaxField));
  if (headers.DmlhPos >= 0) {
    PatchLe32(file, headers.DmlhPos, frameCount);
  } else if (headers.JunkPos >= 0 && headers.JunkSize >= ListHeader::Size + 4 + ChunkHeader::Size) {
    // ffmpeg reserves the odml list as a JUNK chunk in hdrl and makes it a
    // list only when the file grows past its first RIFF.
    std::vector<unsigned char> list(headers.JunkSize, 0);
    VEK::StoreLe32(&list[0], CodeOdml);
    ChunkHeader{CodeDmlh, headers.JunkSize - 4 - ChunkHeader::Size}.Store(&list[4]);
    VEK::StoreLe32(&list[12], frameCount);
    file.Seek(headers.JunkPos + ChunkHeader::Size, 0);
    file.Write(list.data(), static_cast<std::int64_t>(list.size()));
    PatchLe32(file, headers.JunkPos, CodeList);
  }
}

void WriteOdmlIndexes(BackupFile& file, const ScanResult& scan, const StopCheck& stop) {
  const AviHeaders& headers = scan.Headers;
  const Segments& segments = scan.SegmentList;
  const IndexEntries& entries = scan.Entries;
  const OdmlIndexPlan plan = PlanOdmlIndexes(scan);
  const Segment& first = segments.front();
  const Segment& last = segments.back();
  const bool single = segments.size() == 1;

  // Where segment 1's idx1 would go and whether it fits: exactly, or with room
  // left for a JUNK header after it. A copy may still be given up until the
  // first write.
  const std::int64_t firstEnd = first.End + (first.End & 1);
  const std::int64_t idx1Bytes = ChunkHeader::Size + plan.FirstSegmentEntries * Idx1Entry::Size;
  const std::int64_t firstRoom = single ? 0 : segments[1].RiffPosition - firstEnd;
  const bool writeIdx1 = !single && plan.FirstSegmentEntries <= MaxField / Idx1Entry::Size &&
                         (firstRoom == idx1Bytes || firstRoom - idx1Bytes >= ChunkHeader::Size);
  MayStop(stop);

  // 1. The standard indexes, past every byte of data. Until the super indexes
  //    point at them they change nothing a reader sees.
  std::int64_t at = last.End;
  file.Seek(at, 0);
  if (at & 1) {
    file.WriteByte(0);
    ++at;
  }
  const std::vector<std::vector<unsigned char>> superEntries =
      WriteStandardIndexes(file, scan, plan, at, {}, false, stop);
  // Reads move the read position, writes only the destination's.
  const std::int64_t newEnd = at + plan.StandardBytes;

  // 2. Segment 1's idx1, between its movi list and the next RIFF, where an
  //    old idx1 usually is.
  if (writeIdx1) {
    file.Seek(first.End, 0);
    if (first.End & 1) file.WriteByte(0);
    unsigned char header[ChunkHeader::Size];
    ChunkHeader{CodeIdx1, static_cast<std::uint32_t>(idx1Bytes - ChunkHeader::Size)}.Store(header);
    file.Write(header, sizeof header);
    const std::int64_t moviData = first.MoviPosition + ChunkHeader::Size;  // idx1 offsets count from "movi"
    WriteIdx1Entries(file, entries, static_cast<std::size_t>(plan.FirstSegmentEntries), moviData, stop);
  }

  // 3. The super indexes, each filling its reserve: the unused entry slots
  //    stay zero, as ffmpeg leaves them. A JUNK reserve is filled first and
  //    renamed last, so that it never reads as a half-written indx.
  for (std::size_t n = 0; n < plan.Streams.size(); ++n) {
    const OdmlStreamIndexes& stream = plan.Streams[n];
    if (stream.ReservePos < 0 || stream.ReserveSize < SuperHeaderBytes) continue;
    const std::vector<unsigned char> data = SuperIndexBytes(scan, plan, n, superEntries[n]);
    file.Seek(stream.ReservePos + ChunkHeader::Size, 0);
    file.Write(data.data(), static_cast<std::int64_t>(data.size()));
    if (!stream.ReserveIsIndx) PatchLe32(file, stream.ReservePos, CodeIndx);
  }

  // 4. Old index chunks inside the data no longer describe it.
  for (const std::int64_t old : scan.OldIndexChunks) {
    const bool inside = std::any_of(segments.begin(), segments.end(), [old](const Segment& s) {
      return old >= s.MoviPosition + ListHeader::Size && s.End - old >= ChunkHeader::Size;
    });
    if (!inside) continue;
    PatchLe32(file, old, CodeJunk);
  }

  // 5. The gaps between segments, then every list and RIFF size.
  for (std::size_t i = 0; i + 1 < segments.size(); ++i) {
    const std::int64_t end = segments[i].End + (segments[i].End & 1);
    const std::int64_t next = segments[i + 1].RiffPosition;
    if (i == 0 && writeIdx1) {
      WriteJunkHeader(file, end + idx1Bytes, next);
    } else {
      if (end != segments[i].End) {
        file.Seek(segments[i].End, 0);
        file.WriteByte(0);
      }
      WriteJunkHeader(file, end, next);
    }
    PatchListSize(file, segments[i].MoviPosition, end);
    PatchListSize(file, segments[i].RiffPosition, next);
  }
  PatchListSize(file, last.MoviPosition, newEnd);
  PatchListSize(file, last.RiffPosition, newEnd);

  // 6. The main header's index flag (a file of one RIFF keeps its own: its
  //    idx1 is not ours to judge) and the OpenDML frame count.
  if (headers.FlagsPos >= 0 && !single) {
    const std::uint32_t flags = writeIdx1 ? headers.Flags | AVIF_HASINDEX : headers.Flags & ~AVIF_HASINDEX;
    if (flags != headers.Flags) PatchLe32(file, headers.FlagsPos, flags);
  }
  WriteOdmlFrameCount(file, scan, plan);
  file.Seek(newEnd, 0);
}

}  // namespace VEKRiff
