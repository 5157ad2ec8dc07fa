#include "engine/InPlaceOdml.h"

#include <algorithm>

#include "avi/AviChunk.h"
#include "avi/OdmlIndex.h"
#include "engine/EngineMessages.h"
#include "engine/Failures.h"
#include "engine/Idx1Writer.h"
#include "engine/SizePatcher.h"
#include "util/Endian.h"

namespace VEKRiff {

using namespace VEKAvi;

namespace {

constexpr std::int64_t HeadBytes = SuperIndexHeader::Size;  // both kinds of index have 24
constexpr std::int64_t SuperEntryBytes = SuperIndexEntry::Size;
constexpr std::int64_t StandardEntryBytes = StandardIndexEntry::Size;
constexpr std::uint32_t AVIF_HASINDEX = 0x10;
// The count of a super index, after its chunk header, and its base (which
// a super index does not use, but libavformat checks).
constexpr std::int64_t CountField = 4;
constexpr std::size_t BaseField = 12;

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

// The chunks the plan's standard indexes of stream n list, one after the
// other, and where each index starts among them (its last: their number).
std::vector<Listed> PlannedList(const ScanResult& scan, const OdmlIndexPlan& plan, std::size_t n,
                                std::vector<std::size_t>& starts) {
  std::vector<Listed> list;
  starts.assign(1, 0);
  for (const OdmlStandardIndex& index : plan.Streams[n].Indexes) starts.push_back(starts.back() + index.Count);
  for (const OldIndexEntry& entry : scan.Entries)
    if (StreamNumber(entry.ChunkId, scan.Numbering) == static_cast<int>(n))
      list.push_back({entry.Position(), entry.Size, (entry.Flags() & AVIIF_KEYFRAME) != 0});
  return list;
}

// A gate: an index of indexes read at its position + 8 (as every index an
// entry points at), whose first entry leads to the copy of the old super
// index and whose second points at the RIFF header, which no reader takes
// for an index: the reading ends there, the entries read so far kept.
constexpr std::int64_t GateBytes = HeadBytes + 2 * SuperEntryBytes;
// Two gates one after the other lie at least this far apart, so that the
// next is written whole while players still read the one before.
constexpr std::int64_t GateSpan = ChunkHeader::Size + GateBytes;
constexpr std::uint64_t RiffHeaderEntry = ~std::uint64_t{0} - (ChunkHeader::Size - 1);  // -8: reads at 0

// Whether a super index players read can be led through gates: its first
// entry is read, the old entries fit in its reserve (from where they are
// copied), the new ones too, and its head keeps what players check (the
// stream its code names, a base they accept) whatever part of the new head
// has landed.
bool GateCanLead(const SuperIndexHeader& head, const std::vector<unsigned char>& super, std::uint32_t wanted,
                 FourCC newId, std::int64_t fileSize) {
  const std::int64_t slots = (static_cast<std::int64_t>(super.size()) - HeadBytes) / SuperEntryBytes;
  const std::uint32_t count = head.Head.EntriesInUse;
  if (count == 0 || count > slots || wanted == 0 || wanted > slots) return false;
  if ((head.Head.ChunkId & 0xFFFF) != (newId & 0xFFFF)) return false;
  // Its base, and its first entry's offset (from whose bytes the gates' are made).
  if (VEK::LoadLe64(&super[BaseField]) >= static_cast<std::uint64_t>(fileSize) ||
      VEK::LoadLe64(&super[HeadBytes]) >= static_cast<std::uint64_t>(fileSize))
    return false;
  // The count with any of its bytes written (a kill lands the first ones, a
  // power failure any): never 0 (an empty index read whole), never negative.
  for (unsigned landed = 0; landed < 16; ++landed) {
    std::uint32_t mask = 0;
    for (int k = 0; k < 4; ++k)
      if ((landed >> k) & 1) mask |= 0xFFu << (8 * k);
    const std::uint32_t mixed = (wanted & mask) | (count & ~mask);
    if (mixed == 0 || static_cast<std::int32_t>(mixed) < 0) return false;
  }
  return true;
}

std::uint64_t WithByte(std::uint64_t value, int byte, unsigned b) {
  const int shift = 8 * byte;
  return (value & ~(std::uint64_t{0xFF} << shift)) | (static_cast<std::uint64_t>(b & 0xFF) << shift);
}
unsigned ByteOf(std::uint64_t value, int byte) { return static_cast<unsigned>((value >> (8 * byte)) & 0xFF); }

// The gates from the old first entry's offset to the new one, each one byte
// from the one before: first the byte GateByte set to GateValue (past every
// byte of the file), then the lower bytes one at a time, high to low, the
// lowest through a far value where the two are closer than two gates; the
// last differs from `to` in the byte GateByte only.
std::vector<std::uint64_t> GatePath(std::uint64_t from, std::uint64_t to, int byte, unsigned value) {
  std::vector<std::uint64_t> path;
  std::uint64_t at = WithByte(from, byte, value);
  path.push_back(at);
  for (int j = byte - 1; j >= 0; --j) {
    const unsigned a = ByteOf(at, j), b = ByteOf(to, j);
    if (a == b) continue;
    if (j == 0 && (a > b ? a - b : b - a) < GateSpan) {
      at = WithByte(at, 0, std::min(a, b) >= GateSpan ? 0 : 0xFF);
      path.push_back(at);
    }
    at = WithByte(at, j, b);
    path.push_back(at);
  }
  return path;
}

// One stream's old super index as players read it, and how it reaches the
// new one. skip: the plan's indexes that old ones already say, in order
// (a muxer may draw the line between two indexes elsewhere than the plan:
// what counts is what they list together).
InPlaceOdmlStream PlanStream(BackupFile& file, const ScanResult& scan, const OdmlIndexPlan& plan, std::size_t n,
                             std::int64_t fileSize, std::vector<std::int64_t>& kept, std::size_t& skip) {
  const OdmlStreamIndexes& stream = plan.Streams[n];
  InPlaceOdmlStream out;
  skip = 0;
  const auto wanted = static_cast<std::uint32_t>(stream.Indexes.size());
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
    givesNothing = !HeadReadable(head.Head, VEK::LoadLe64(&super[BaseField]), fileSize, static_cast<int>(n) + 1, named);
  }
  if (!givesNothing && (head.Head.Type != AVI_INDEX_OF_INDEXES || named != static_cast<int>(n))) {
    out.How = InPlaceOdmlStream::Switch::Rewrite;
    out.Read = true;
    return out;
  }
  // Entries players read, up to the first whose chunk gives nothing, as
  // long as they list the plan's chunks in its order.
  std::uint32_t listed = 0;
  bool deadAfter = false, differs = false;
  std::uint32_t aligned = 0;  // old entries that end where one of the plan's indexes ends
  std::vector<std::int64_t> matched;
  if (!givesNothing) {
    const std::uint32_t count = head.Head.EntriesInUse;
    std::vector<std::size_t> starts;
    const std::vector<Listed> planned = PlannedList(scan, plan, n, starts);
    std::size_t at = 0;
    std::vector<Listed> old;
    for (; listed < count; ++listed) {
      const std::int64_t slot = HeadBytes + static_cast<std::int64_t>(listed) * SuperEntryBytes;
      // Players read past the reserve as if the slots went on.
      if (static_cast<std::int64_t>(super.size()) - slot < SuperEntryBytes) {
        differs = true;
        break;
      }
      const SuperIndexEntry e = SuperIndexEntry::Load(&super[static_cast<std::size_t>(slot)]);
      const OldChunk what = ReadOldStandard(file, static_cast<std::int64_t>(e.Offset) + ChunkHeader::Size, fileSize,
                                            static_cast<int>(n), old);
      if (what == OldChunk::Dead) {
        deadAfter = true;
        break;
      }
      if (what == OldChunk::Other || planned.size() - at < old.size() ||
          !std::equal(old.begin(), old.end(), planned.begin() + static_cast<std::ptrdiff_t>(at))) {
        differs = true;
        break;
      }
      at += old.size();
      matched.push_back(static_cast<std::int64_t>(e.Offset));
      const auto boundary = std::find(starts.begin(), starts.end(), at);
      if (boundary != starts.end()) {
        aligned = listed + 1;
        skip = static_cast<std::size_t>(boundary - starts.begin());
      }
    }
    // A first entry that gives nothing makes the whole index give nothing
    // (nor count as an index read, which would hide the idx1).
    givesNothing = listed == 0 && deadAfter;
    // Entries read that a lower count would drop: the reading changes.
    if (!givesNothing && aligned != listed) differs = true;
    if (!givesNothing && !differs) {
      out.OldCount = count;
      out.Kept = aligned;
      out.NewCount = aligned + wanted - static_cast<std::uint32_t>(skip);
    }
  }
  out.Read = !givesNothing;
  if (givesNothing) {
    skip = 0;
    if (wanted == 0) return out;  // leave what nobody reads
    out.How = InPlaceOdmlStream::Switch::Rename;
    out.KillFirst = VEK::LoadLe32(code) == CodeIndx;
    return out;
  }
  const std::int64_t slots = (static_cast<std::int64_t>(super.size()) - HeadBytes) / SuperEntryBytes;
  // The count goes down to the entries kept (where dead ones follow), then
  // up to the new ones: each a write of its lowest byte alone.
  if (differs || out.NewCount > slots || (out.OldCount >> 8) != (out.NewCount >> 8) ||
      (out.Kept >> 8) != (out.NewCount >> 8)) {
    skip = 0;
    out = {};
    out.How = GateCanLead(head, super, wanted, stream.Indexes.empty() ? 0 : stream.Indexes.front().ChunkId, fileSize)
                  ? InPlaceOdmlStream::Switch::Gate
                  : InPlaceOdmlStream::Switch::Rewrite;
    out.OldCount = head.Head.EntriesInUse;
    out.NewCount = wanted;
    out.Read = true;
    return out;
  }
  kept.insert(kept.end(), matched.begin(), matched.end());
  if (out.Kept == out.NewCount && out.OldCount == out.NewCount) return out;
  out.How = InPlaceOdmlStream::Switch::Count;
  return out;
}

void WriteByteAt(BackupFile& file, std::int64_t position, unsigned char value) {
  file.Seek(position, 0);
  file.WriteByte(value);
}

// A super index players read led to its new entries (data: its reserve
// after the chunk header; bytes: what the reserve holds once rebuilt), each
// step on disk before the next.
void LeadThroughGates(BackupFile& file, const InPlaceOdmlPlan& plan, std::int64_t data, std::uint32_t oldCount,
                      const std::vector<unsigned char>& bytes) {
  std::vector<unsigned char> old(static_cast<std::size_t>(HeadBytes + oldCount * SuperEntryBytes));
  file.Peek(old.data(), static_cast<std::int64_t>(old.size()), data);
  const std::int64_t firstOffset = data + HeadBytes;
  const std::uint64_t from = VEK::LoadLe64(&old[HeadBytes]);
  // Players take the stream from the code's two digits alone; without its
  // two letters no search for chunks past the end takes a gate for one.
  VEK::StoreLe32(&old[8], VEK::LoadLe32(&old[8]) & 0xFFFF);
  unsigned char gate[GateBytes] = {};
  SuperIndexHeader{{4, 0, AVI_INDEX_OF_INDEXES, 2, VEK::LoadLe32(&old[8])}}.Store(gate);
  SuperIndexEntry{static_cast<std::uint64_t>(plan.GateCopy), static_cast<std::uint32_t>(old.size()), 0}.Store(
      gate + HeadBytes);
  SuperIndexEntry{RiffHeaderEntry, 0, 0}.Store(gate + HeadBytes + SuperEntryBytes);
  auto writeGate = [&](std::uint64_t at) {
    file.Seek(static_cast<std::int64_t>(at) + ChunkHeader::Size, 0);
    file.Write(gate, sizeof gate);
    file.SyncData();
  };
  // The byte of the first entry's offset in which two positions differ.
  auto step = [&](std::uint64_t from, std::uint64_t to) {
    int j = 0;
    while (ByteOf(from, j) == ByteOf(to, j)) ++j;
    WriteByteAt(file, firstOffset + j, static_cast<unsigned char>(ByteOf(to, j)));
    file.SyncData();
  };
  const std::uint64_t to = VEK::LoadLe64(&bytes[HeadBytes]);
  const std::vector<std::uint64_t> path = GatePath(from, to, plan.GateByte, plan.GateValue);
  // The old super index where the gates lead, and the first gate.
  file.Seek(plan.GateCopy + ChunkHeader::Size, 0);
  file.Write(old.data(), static_cast<std::int64_t>(old.size()));
  writeGate(path.front());
  step(from, path.front());
  // Read no more: the head (the stream and base players check stay
  // acceptable byte by byte, the count never 0), the first entry's size and
  // duration, and the other slots.
  file.Seek(data, 0);
  file.Write(bytes.data(), HeadBytes);
  file.Seek(firstOffset + 8, 0);
  file.Write(bytes.data() + HeadBytes + 8, static_cast<std::int64_t>(bytes.size()) - HeadBytes - 8);
  file.SyncData();
  for (std::size_t i = 1; i < path.size(); ++i) {
    writeGate(path[i]);
    step(path[i - 1], path[i]);
  }
  // The switch: the first new standard index.
  step(path.back(), to);
}

// The first segment's idx1 where the plan puts it, the rest of the gap up to
// the next RIFF one JUNK chunk, and the main header's flag that says so.
void WriteIdx1(BackupFile& file, const ScanResult& scan, const InPlaceOdmlPlan& plan) {
  const Segment& first = scan.SegmentList.front();
  const std::int64_t next = scan.SegmentList[1].RiffPosition;
  if (plan.Idx1EndsMovi) {
    if (first.End & 1) WriteByteAt(file, first.End, 0);
    PatchListSize(file, first.MoviPosition, plan.Idx1At);
  }
  unsigned char header[ChunkHeader::Size];
  ChunkHeader{CodeIdx1, static_cast<std::uint32_t>(plan.Idx1Bytes - ChunkHeader::Size)}.Store(header);
  file.Seek(plan.Idx1At, 0);
  file.Write(header, sizeof header);
  // idx1 offsets count from "movi".
  WriteIdx1Entries(file, scan.Entries, static_cast<std::size_t>(plan.Indexes.FirstSegmentEntries),
                   first.MoviPosition + ChunkHeader::Size, {});
  const std::int64_t rest = plan.Idx1At + plan.Idx1Bytes;
  if (next - rest >= ChunkHeader::Size) {
    ChunkHeader{CodeJunk, static_cast<std::uint32_t>(next - rest - ChunkHeader::Size)}.Store(header);
    file.Seek(rest, 0);
    file.Write(header, sizeof header);
  }
  const AviHeaders& headers = scan.Headers;
  if (headers.FlagsPos >= 0 && (headers.Flags & AVIF_HASINDEX) == 0)
    PatchLe32(file, headers.FlagsPos, headers.Flags | AVIF_HASINDEX);
}

}  // namespace

std::optional<InPlaceOdmlPlan> PlanInPlaceOdml(BackupFile& file, const ScanResult& scan,
                                               const std::vector<unsigned char>& headerList) {
  if (!headerList.empty()) return std::nullopt;
  InPlaceOdmlPlan plan;
  plan.Indexes = PlanOdmlIndexes(scan);
  const Segments& segments = scan.SegmentList;
  const std::int64_t fileSize = file.SourceSize();
  for (std::size_t n = 0; n < plan.Indexes.Streams.size(); ++n) {
    std::size_t skip = 0;
    plan.Streams.push_back(PlanStream(file, scan, plan.Indexes, n, fileSize, plan.KeptChunks, skip));
    plan.Skip.push_back(skip);
  }
  std::sort(plan.KeptChunks.begin(), plan.KeptChunks.end());

  // A segment whose gap holds a kept chunk stays as the muxer laid it out.
  plan.GapKept.assign(segments.size(), false);
  std::int64_t keptEnd = 0;
  std::vector<std::pair<std::int64_t, std::int64_t>> keptSpans;
  for (const std::int64_t at : plan.KeptChunks) {
    unsigned char header[ChunkHeader::Size] = {};
    file.Peek(header, sizeof header, at);
    const std::uint32_t size = VEK::LoadLe32(header + 4);
    const std::int64_t chunkEnd = at + ChunkHeader::Size + size + (size & 1);
    keptSpans.emplace_back(at, chunkEnd);
    keptEnd = std::max(keptEnd, chunkEnd);
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
  // Reserves named together switch by the file's end, which must then be
  // theirs: an old tail longer than the new indexes stays, a JUNK chunk
  // before them.
  const auto renamed = std::count_if(plan.Streams.begin(), plan.Streams.end(), [](const InPlaceOdmlStream& s) {
    return s.How == InPlaceOdmlStream::Switch::Rename;
  });
  const bool anyRead =
      std::any_of(plan.Streams.begin(), plan.Streams.end(), [](const InPlaceOdmlStream& s) { return s.Read; });
  const bool together = renamed > 1 && !anyRead;
  if (together && !plan.GapKept.back() && fileSize > plan.End) {
    const std::int64_t dataEnd = last.End + (last.End & 1);
    const std::int64_t past = std::max(fileSize, dataEnd + ChunkHeader::Size);
    plan.TailJunk = dataEnd;
    plan.Tail = past + (past & 1);
    plan.End = plan.Tail + bytes;
  }
  if (plan.End - last.RiffPosition - ChunkHeader::Size > MaxField) Refuse(Msg::OdmlSegmentTooLarge);
  plan.Farthest = plan.End;
  if (together && fileSize <= plan.End) {
    plan.SwitchByte = plan.End;
    plan.Farthest = plan.End + 1;
  }
  std::uint32_t copied = 0;
  for (const InPlaceOdmlStream& s : plan.Streams)
    if (s.How == InPlaceOdmlStream::Switch::Gate) copied = std::max(copied, s.OldCount);
  if (copied > 0) {
    // The gates lie where the byte above the file's highest is one more
    // than the file's; the old super index's copy after all of them.
    const std::int64_t past = std::max({plan.End, fileSize, keptEnd});
    int byte = 0;
    while (byte < 7 && (past >> (8 * (byte + 1))) != 0) ++byte;
    unsigned value = ByteOf(static_cast<std::uint64_t>(past), byte) + 1;
    if (value > 0xFF) ++byte, value = 1;
    plan.GateByte = byte;
    plan.GateValue = value;
    plan.GateCopy = ((static_cast<std::int64_t>(value) + 1) << (8 * byte)) + GateSpan;
    plan.Farthest = plan.GateCopy + ChunkHeader::Size + HeadBytes + copied * SuperEntryBytes;
  }

  // The first segment's idx1: over the old one, or where its data ends as
  // the copy's writer puts it, wherever it overlaps no kept chunk; its rest
  // up to the next RIFF one JUNK chunk.
  const Segment& first = segments.front();
  const std::int64_t next = segments[1].RiffPosition;
  const std::int64_t entries = plan.Indexes.FirstSegmentEntries;
  plan.Idx1Bytes = ChunkHeader::Size + entries * Idx1Entry::Size;
  auto fits = [&](std::int64_t at) {
    const std::int64_t room = next - at;
    if (at < first.End || (room != plan.Idx1Bytes && room - plan.Idx1Bytes < ChunkHeader::Size)) return false;
    return std::none_of(keptSpans.begin(), keptSpans.end(),
                        [&](const auto& span) { return span.first < next && span.second > at; });
  };
  if (entries <= MaxField / Idx1Entry::Size) {
    const std::int64_t dataEnd = first.End + (first.End & 1);
    if (scan.OldIndexPosition >= 0 && (scan.OldIndexPosition & 1) == 0 && fits(scan.OldIndexPosition)) {
      plan.Idx1At = scan.OldIndexPosition;
    } else if (fits(dataEnd)) {
      plan.Idx1At = dataEnd;
      plan.Idx1EndsMovi = true;
    }
  }
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
  file.SyncData();

  // 2. What players do not read yet: the chunks' own sizes (until the
  //    switch a reader reaches the same data through the old index), each
  //    super index's new entries past its count, a reserve read as nothing
  //    renamed away and filled.
  changed = true;
  WriteChunkSizes(file, scan.SizeFixes);
  WriteLostRiffCodes(file, segments);
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
      std::vector<unsigned char> bytes = SuperIndexBytes(scan, indexes, n, superEntries[n]);
      if (plan.SwitchByte >= 0) VEK::StoreLe64(&bytes[BaseField], static_cast<std::uint64_t>(plan.SwitchByte));
      file.Seek(data, 0);
      file.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    }
  }
  file.SyncData();

  // 3. The switches, one byte each: the last letter of a name, or the lowest
  //    byte of a count; a super index whose entries change, written whole.
  for (std::size_t n = 0; n < plan.Streams.size(); ++n) {
    const InPlaceOdmlStream& s = plan.Streams[n];
    const OdmlStreamIndexes& stream = indexes.Streams[n];
    if (s.How == InPlaceOdmlStream::Switch::Rename) {
      PatchLe32(file, stream.ReservePos, CodeIndx);
    } else if (s.How == InPlaceOdmlStream::Switch::Count) {
      WriteByteAt(file, stream.ReservePos + ChunkHeader::Size + CountField,
                  static_cast<unsigned char>(s.NewCount & 0xFF));
    } else if (s.How == InPlaceOdmlStream::Switch::Gate) {
      LeadThroughGates(file, plan, stream.ReservePos + ChunkHeader::Size, s.OldCount,
                       SuperIndexBytes(scan, indexes, n, superEntries[n]));
    } else if (s.How == InPlaceOdmlStream::Switch::Rewrite) {
      const std::vector<unsigned char> bytes = SuperIndexBytes(scan, indexes, n, superEntries[n]);
      file.Seek(stream.ReservePos + ChunkHeader::Size, 0);
      file.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    }
  }
  file.SyncData();
  if (plan.SwitchByte >= 0) {
    // The file grows past the bases, and they go back to 0.
    WriteByteAt(file, plan.SwitchByte, 0);
    file.SyncData();
    const unsigned char zero[8] = {};
    for (std::size_t n = 0; n < plan.Streams.size(); ++n) {
      if (plan.Streams[n].How != InPlaceOdmlStream::Switch::Rename) continue;
      file.Seek(indexes.Streams[n].ReservePos + ChunkHeader::Size + BaseField, 0);
      file.Write(zero, sizeof zero);
    }
    file.SyncData();
  }

  // 4. The list and RIFF sizes, which players reading by the indexes do not
  //    use, and the counts. The gaps between segments keep what the muxer
  //    left there: old ix## chunks and an old idx1 are whole chunks a player
  //    going chunk by chunk skips, where a JUNK header written over one would
  //    for a moment send it into their entries, which hold chunk codes.
  //    The first segment's idx1 goes where the plan found room for it, and
  //    old index chunks inside the data that no index reads any more
  //    become JUNK.
  if (plan.Idx1At >= 0) WriteIdx1(file, scan, plan);
  for (const std::int64_t old : scan.OldIndexChunks) {
    const bool inside = std::any_of(segments.begin(), segments.end(), [old](const Segment& s) {
      return old >= s.MoviPosition + ListHeader::Size && s.End - old >= ChunkHeader::Size;
    });
    if (inside && !std::binary_search(plan.KeptChunks.begin(), plan.KeptChunks.end(), old))
      PatchLe32(file, old, CodeJunk);
  }
  for (std::size_t i = 0; i + 1 < segments.size(); ++i)
    PatchListSize(file, segments[i].RiffPosition, segments[i + 1].RiffPosition);
  if ((last.End & 1) != 0 && !plan.GapKept.back()) WriteByteAt(file, last.End, 0);
  if (plan.TailJunk >= 0) {
    unsigned char junk[ChunkHeader::Size];
    ChunkHeader{CodeJunk, static_cast<std::uint32_t>(plan.Tail - plan.TailJunk - ChunkHeader::Size)}.Store(junk);
    file.Seek(plan.TailJunk, 0);
    file.Write(junk, sizeof junk);
  }
  PatchListSize(file, last.MoviPosition, plan.End);
  PatchListSize(file, last.RiffPosition, plan.End);
  WriteOdmlFrameCount(file, scan, indexes);
  WriteHeaderCounts(file, scan, counts, plan.End);
  file.SyncData();
  file.Seek(plan.End, 0);
}

}  // namespace VEKRiff
