#include "engine/InPlaceOdml.h"

#include <algorithm>

#include "avi/AviChunk.h"
#include "avi/OdmlIndex.h"
#include "engine/EngineMessages.h"
#include "engine/Failures.h"
#include "engine/SizePatcher.h"
#include "util/Endian.h"

namespace VEKRiff {

using namespace VEKAvi;

namespace {

constexpr std::int64_t HeadBytes = SuperIndexHeader::Size;  // both kinds of index have 24
constexpr std::int64_t SuperEntryBytes = SuperIndexEntry::Size;
constexpr std::int64_t StandardEntryBytes = StandardIndexEntry::Size;
constexpr std::uint32_t MaxField = 0xFFFFFFFFu;
// The count of a super index, after its chunk header.
constexpr std::int64_t CountField = 4;

void Refuse(const VEK::MessagePair& message, std::initializer_list<VEK::FormatArg> args = {}) {
  throw ErrorException(VEK::Text(message, args));
}

// An index head as libavformat judges it before it adds anything: the
// stream its chunk code names (in decimal, whatever the digits), and whether
// its fields let the reading go on. stream: the streams known when it is
// read (those whose header came before).
bool HeadReadable(const OdmlIndexHead& head, std::uint64_t base, std::int64_t fileSize, int streams, int& named) {
  named = ((static_cast<int>(head.ChunkId & 0xFF) - '0') * 10) + (static_cast<int>((head.ChunkId >> 8) & 0xFF) - '0');
  if (named < 0 || named >= streams) return false;
  if (head.SubType != 0 || static_cast<std::int32_t>(head.EntriesInUse) < 0) return false;
  if (head.Type > AVI_INDEX_OF_CHUNKS || (head.Type == AVI_INDEX_OF_CHUNKS && head.LongsPerEntry != 2)) return false;
  // A base past the end is refused, but for one doubled 32-bit value.
  if (base >= static_cast<std::uint64_t>(fileSize) &&
      !((base >> 32) == (base & MaxField) && (base & MaxField) < static_cast<std::uint64_t>(fileSize) &&
        fileSize <= static_cast<std::int64_t>(MaxField)))
    return false;
  return true;
}

// (chunk header position, data size, key frame) as a player lists a chunk.
struct Listed {
  std::int64_t At;
  std::uint32_t Size;
  bool Key;
  bool operator==(const Listed&) const = default;
};

// What a player takes from the standard index an old super index entry
// points at: nothing (a dead entry, where its reading stops), or its list.
// Anything else (an index of indexes, one naming another stream, one whose
// entries run past the end) is none of these and makes the plan refuse.
enum class OldChunk : std::uint8_t { Dead, Listed, Other };

OldChunk ReadOldStandard(BackupFile& file, std::int64_t at, std::int64_t fileSize, int stream,
                         std::vector<Listed>& listed) {
  listed.clear();
  unsigned char head[HeadBytes] = {};
  // What lies past the end reads as nothing at all: zeros.
  if (at < 0 || at > fileSize) return OldChunk::Dead;
  file.Peek(head, std::min<std::int64_t>(HeadBytes, fileSize - at), at);
  const StandardIndexHeader h = StandardIndexHeader::Load(head);
  int named = -1;
  if (!HeadReadable(h.Head, h.BaseOffset, fileSize, stream + 1, named)) return OldChunk::Dead;
  if (h.Head.Type != AVI_INDEX_OF_CHUNKS || named != stream) return OldChunk::Other;
  const std::int64_t count = h.Head.EntriesInUse;
  if (fileSize - at - HeadBytes < count * StandardEntryBytes) return OldChunk::Other;
  std::vector<unsigned char> entries(static_cast<std::size_t>(count * StandardEntryBytes));
  if (file.Peek(entries.data(), static_cast<std::int64_t>(entries.size()), at + HeadBytes) !=
      static_cast<std::int64_t>(entries.size()))
    return OldChunk::Other;
  for (std::int64_t i = 0; i < count; ++i) {
    const StandardIndexEntry e = StandardIndexEntry::Load(&entries[static_cast<std::size_t>(i * StandardEntryBytes)]);
    listed.push_back({static_cast<std::int64_t>(h.BaseOffset + e.Offset) - ChunkHeader::Size, e.DataSize(),
                      e.KeyFrame()});
  }
  return OldChunk::Listed;
}

// The chunks the plan's standard indexes of stream n list, one list per index.
std::vector<std::vector<Listed>> PlannedLists(const ScanResult& scan, const OdmlIndexPlan& plan, std::size_t n,
                                              std::size_t upTo) {
  std::vector<std::vector<Listed>> lists;
  const std::vector<OdmlStandardIndex>& indexes = plan.Streams[n].Indexes;
  auto entry = scan.Entries.begin();
  for (std::size_t k = 0; k < std::min(upTo, indexes.size()); ++k) {
    std::vector<Listed>& list = lists.emplace_back();
    while (list.size() < indexes[k].Count) {
      if (StreamNumber(entry->ChunkId, scan.Numbering) == static_cast<int>(n))
        list.push_back({entry->Position(), entry->Size, (entry->Flags() & AVIIF_KEYFRAME) != 0});
      ++entry;
    }
  }
  return lists;
}

// One stream's old super index as players read it, and how it reaches the
// new one.
InPlaceOdmlStream PlanStream(BackupFile& file, const ScanResult& scan, const OdmlIndexPlan& plan, std::size_t n,
                             std::int64_t fileSize, std::vector<std::int64_t>& kept) {
  const OdmlStreamIndexes& stream = plan.Streams[n];
  InPlaceOdmlStream out;
  const auto wanted = static_cast<std::uint32_t>(stream.Indexes.size());
  const auto number = static_cast<std::int64_t>(n);
  if (stream.ReservePos < 0) return out;  // no chunks (the plan refuses the others)
  unsigned char code[4] = {};
  file.Peek(code, sizeof code, stream.ReservePos);
  std::vector<unsigned char> super(static_cast<std::size_t>(stream.ReserveSize), 0);
  file.Peek(super.data(), static_cast<std::int64_t>(super.size()), stream.ReservePos + ChunkHeader::Size);
  bool givesNothing = VEK::LoadLe32(code) != CodeIndx || super.size() < HeadBytes;
  SuperIndexHeader head;
  int named = -1;
  if (!givesNothing) {
    head = SuperIndexHeader::Load(super.data());
    givesNothing = !HeadReadable(head.Head, VEK::LoadLe64(&super[12]), fileSize, static_cast<int>(n) + 1, named);
  }
  if (!givesNothing && (head.Head.Type != AVI_INDEX_OF_INDEXES || named != static_cast<int>(n)))
    Refuse(Msg::OdmlInPlaceIndexInUse, {number});
  // Entries players read, up to the first whose chunk gives nothing.
  std::uint32_t listed = 0;
  bool deadAfter = false;
  if (!givesNothing) {
    const std::uint32_t count = head.Head.EntriesInUse;
    const std::vector<std::vector<Listed>> planned = PlannedLists(scan, plan, n, std::min(count, wanted));
    std::vector<Listed> old;
    for (; listed < count; ++listed) {
      const std::int64_t slot = HeadBytes + static_cast<std::int64_t>(listed) * SuperEntryBytes;
      // Players read past the reserve as if the slots went on.
      if (static_cast<std::int64_t>(super.size()) - slot < SuperEntryBytes) Refuse(Msg::OdmlInPlaceIndexInUse, {number});
      const SuperIndexEntry e = SuperIndexEntry::Load(&super[static_cast<std::size_t>(slot)]);
      const OldChunk what = ReadOldStandard(file, static_cast<std::int64_t>(e.Offset) + ChunkHeader::Size, fileSize,
                                            static_cast<int>(n), old);
      if (what == OldChunk::Dead) {
        deadAfter = true;
        break;
      }
      if (what == OldChunk::Other || listed >= wanted || old != planned[listed])
        Refuse(Msg::OdmlInPlaceIndexInUse, {number});
      kept.push_back(static_cast<std::int64_t>(e.Offset));
    }
    // A first entry that gives nothing makes the whole index give nothing
    // (nor count as an index read, which would hide the idx1).
    givesNothing = listed == 0 && deadAfter;
    if (!givesNothing) {
      out.OldCount = count;
      out.Kept = listed;
    }
  }
  if (givesNothing) {
    if (wanted == 0) return out;  // leave what nobody reads
    out.How = InPlaceOdmlStream::Switch::Rename;
    out.KillFirst = VEK::LoadLe32(code) == CodeIndx;
    return out;
  }
  if (out.Kept == wanted && out.OldCount == wanted) return out;
  // The count goes down to the entries kept (where dead ones follow), then
  // up to the new ones: each a write of its lowest byte alone.
  if ((out.OldCount >> 8) != (wanted >> 8) || (out.Kept >> 8) != (wanted >> 8))
    Refuse(Msg::OdmlInPlaceIndexInUse, {number});
  out.How = InPlaceOdmlStream::Switch::Count;
  return out;
}

void WriteByteAt(BackupFile& file, std::int64_t position, unsigned char value) {
  file.Seek(position, 0);
  file.WriteByte(value);
}

}  // namespace

InPlaceOdmlPlan PlanInPlaceOdml(BackupFile& file, const ScanResult& scan,
                                const std::vector<unsigned char>& headerList) {
  if (!headerList.empty()) Refuse(Msg::OdmlInPlaceHeaderList);
  InPlaceOdmlPlan plan;
  plan.Indexes = PlanOdmlIndexes(scan);
  const Segments& segments = scan.SegmentList;
  const std::int64_t fileSize = file.SourceSize();
  int renamed = 0;
  for (std::size_t n = 0; n < plan.Indexes.Streams.size(); ++n) {
    const InPlaceOdmlStream s = PlanStream(file, scan, plan.Indexes, n, fileSize, plan.KeptChunks);
    plan.Streams.push_back(s);
    plan.Skip.push_back(s.How == InPlaceOdmlStream::Switch::Rename ? 0 : s.Kept);
    renamed += s.How == InPlaceOdmlStream::Switch::Rename;
  }
  // Between two renames one stream would have an index and the other none,
  // which libavformat reads as a film of misplaced packets.
  if (renamed > 1) Refuse(Msg::OdmlInPlaceNoIndexYet);
  std::sort(plan.KeptChunks.begin(), plan.KeptChunks.end());

  // A segment whose gap holds a kept chunk stays as the muxer laid it out.
  plan.GapKept.assign(segments.size(), false);
  std::int64_t keptEnd = 0;
  for (const std::int64_t at : plan.KeptChunks) {
    unsigned char header[ChunkHeader::Size] = {};
    file.Peek(header, sizeof header, at);
    const std::uint32_t size = VEK::LoadLe32(header + 4);
    keptEnd = std::max(keptEnd, at + ChunkHeader::Size + size + (size & 1));
    for (std::size_t i = 0; i < segments.size(); ++i) {
      const std::int64_t next = i + 1 < segments.size() ? segments[i + 1].RiffPosition : INT64_MAX;
      if (at >= segments[i].MoviPosition && at < next) plan.GapKept[i] = true;
    }
  }
  const Segment& last = segments.back();
  plan.Tail = last.End + (last.End & 1);
  if (plan.GapKept.back()) {
    const std::int64_t past = std::max(file.SourceSize(), keptEnd);
    plan.Tail = past + (past & 1);
  }
  std::int64_t bytes = 0;
  for (std::size_t n = 0; n < plan.Indexes.Streams.size(); ++n)
    for (std::size_t k = plan.Skip[n]; k < plan.Indexes.Streams[n].Indexes.size(); ++k)
      bytes += StandardIndexBytes(plan.Indexes.Streams[n].Indexes[k].Count);
  plan.End = plan.Tail + bytes;
  if (plan.End - last.RiffPosition - ChunkHeader::Size > MaxField) Refuse(Msg::OdmlSegmentTooLarge);

  return plan;
}

void WriteInPlaceOdml(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts,
                      const InPlaceOdmlPlan& plan, bool& changed) {
  const Segments& segments = scan.SegmentList;
  const Segment& last = segments.back();
  const OdmlIndexPlan& indexes = plan.Indexes;

  // 1. The new ix## chunks past the data. The file first reaches its new end,
  //    then every chunk's header is written, then their entries: a player
  //    going chunk by chunk past the old data skips each of them whole.
  changed = plan.Tail < file.SourceSize();
  if (plan.End > file.SourceSize() && plan.End > plan.Tail) WriteByteAt(file, plan.End - 1, 0);
  const std::vector<std::vector<unsigned char>> superEntries =
      WriteStandardIndexes(file, scan, indexes, plan.Tail, plan.Skip, true, {});
  file.Sync();

  // 2. What players do not read yet: the chunks' own sizes (until the
  //    switch a reader reaches the same data through the old index), each
  //    super index's new entries past its count, a reserve read as nothing
  //    renamed away and filled.
  changed = true;
  WriteChunkSizes(file, scan.SizeFixes);
  for (std::size_t n = 0; n < plan.Streams.size(); ++n) {
    const InPlaceOdmlStream& s = plan.Streams[n];
    const OdmlStreamIndexes& stream = indexes.Streams[n];
    const std::int64_t data = stream.ReservePos + ChunkHeader::Size;
    if (s.How == InPlaceOdmlStream::Switch::Count) {
      if (s.OldCount != s.Kept) WriteByteAt(file, data + CountField, static_cast<unsigned char>(s.Kept & 0xFF));
      file.Seek(data + HeadBytes + static_cast<std::int64_t>(s.Kept) * SuperEntryBytes, 0);
      file.Write(superEntries[n].data(), static_cast<std::int64_t>(superEntries[n].size()));
    } else if (s.How == InPlaceOdmlStream::Switch::Rename) {
      if (s.KillFirst) PatchLe32(file, stream.ReservePos, CodeJunk);
      const std::vector<unsigned char> bytes = SuperIndexBytes(scan, indexes, n, superEntries[n]);
      file.Seek(data, 0);
      file.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    }
  }
  file.Sync();

  // 3. The switches, one byte each: the last letter of a name, or the lowest
  //    byte of a count.
  for (std::size_t n = 0; n < plan.Streams.size(); ++n) {
    const InPlaceOdmlStream& s = plan.Streams[n];
    const OdmlStreamIndexes& stream = indexes.Streams[n];
    if (s.How == InPlaceOdmlStream::Switch::Rename) {
      PatchLe32(file, stream.ReservePos, CodeIndx);
    } else if (s.How == InPlaceOdmlStream::Switch::Count) {
      WriteByteAt(file, stream.ReservePos + ChunkHeader::Size + CountField,
                  static_cast<unsigned char>(stream.Indexes.size() & 0xFF));
    }
  }
  file.Sync();

  // 4. The list and RIFF sizes, which players reading by the indexes do not
  //    use, and the counts. The gaps between segments keep what the muxer
  //    left there: old ix## chunks and an old idx1 are whole chunks a player
  //    going chunk by chunk skips, where a JUNK header written over one would
  //    for a moment send it into their entries, which hold chunk codes.
  for (std::size_t i = 0; i + 1 < segments.size(); ++i)
    PatchListSize(file, segments[i].RiffPosition, segments[i + 1].RiffPosition);
  if ((last.End & 1) != 0 && !plan.GapKept.back()) WriteByteAt(file, last.End, 0);
  PatchListSize(file, last.MoviPosition, plan.End);
  PatchListSize(file, last.RiffPosition, plan.End);
  WriteOdmlFrameCount(file, scan, indexes);
  WriteHeaderCounts(file, scan, counts, plan.End);
  file.Sync();
  file.Seek(plan.End, 0);
}

}  // namespace VEKRiff
