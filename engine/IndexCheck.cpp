// The checks of a walked file against its own index and headers.
#include "engine/IndexCheck.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "avi/AviChunk.h"
#include "avi/OdmlIndex.h"
#include "engine/EngineMessages.h"
#include "engine/OdmlIndexRead.h"
#include "util/Endian.h"

namespace VEKRiff {

using namespace VEKAvi;

namespace {

// Finds, for each entry of an index, the walk's entry of [0, limit) that it
// names, each at most once. Indexes list their chunks in file order, mostly:
// the entry after the last one matched is tried before a search.
class EntryMatcher {
 public:
  EntryMatcher(const IndexEntries& entries, std::size_t limit) : Entries(entries), Matched(limit, false) {}

  // The walk's entry with its header at position, whose code (or, with
  // streamOnly, its stream digits) and size agree; nullptr otherwise.
  const OldIndexEntry* Match(std::int64_t position, FourCC code, std::uint32_t size, bool streamOnly) {
    const std::size_t at =
        Next < Matched.size() && Entries[Next].Position() == position ? Next : FindEntry(Entries, position);
    const FourCC mask = streamOnly ? 0xFFFF : 0xFFFFFFFF;
    if (at >= Matched.size() || (Entries[at].ChunkId & mask) != (code & mask) || Entries[at].Size != size ||
        Matched[at])
      return nullptr;
    Matched[at] = true;
    Next = at + 1;
    return &Entries[at];
  }
  bool Matches(std::size_t i) const { return Matched[i]; }
  // Whether an entry that matched nothing names again a chunk an earlier
  // entry matched, with the same code (or stream digits) and size.
  bool Repeats(std::int64_t position, FourCC code, std::uint32_t size, bool streamOnly) const {
    const std::size_t at = FindEntry(Entries, position);
    const FourCC mask = streamOnly ? 0xFFFF : 0xFFFFFFFF;
    return at < Matched.size() && Matched[at] && (Entries[at].ChunkId & mask) == (code & mask) &&
           Entries[at].Size == size;
  }
  std::int64_t Unmatched() const { return std::count(Matched.begin(), Matched.end(), false); }

 private:
  const IndexEntries& Entries;
  std::vector<bool> Matched;
  std::size_t Next = 0;
};

bool KeyFlagJudged(const ScanResult& scan, const OldIndexEntry& entry) {
  // Only a codec rule's own answer can contradict an index's flag.
  const int stream = StreamNumber(entry.ChunkId, scan.Numbering);
  return IsVideoKind(entry.ChunkId) && stream >= 0 && static_cast<std::size_t>(stream) < scan.Rules.size() &&
         scan.Rules[static_cast<std::size_t>(stream)] && entry.Size > 0;
}

void AddRepeat(IndexFindings& out, std::size_t stream, std::uint32_t bytes) {
  if (out.Repeats.size() <= stream) out.Repeats.resize(stream + 1);
  ++out.Repeats[stream].first;
  out.Repeats[stream].second += bytes;
}

void Add(Findings& found, FindingKind kind, const VEK::MessagePair& text, std::initializer_list<VEK::FormatArg> args,
         int stream = -1) {
  found.push_back({VEK::Text(text, args), true, {}, kind, -1, stream});
}

}  // namespace

IndexFindings CheckIdx1(BackupFile& file, const ScanResult& scan, const StopCheck& stop) {
  IndexFindings out;
  Findings& found = out.Lines;
  const IndexEntries& entries = scan.Entries;
  // The entries the legacy index should hold: the first segment's.
  const std::int64_t firstEnd = scan.SegmentList.size() > 1 ? scan.SegmentList.front().End : INT64_MAX;
  const std::size_t expected = FirstEntryFrom(entries, firstEnd);
  if (scan.OldIndexPosition < 0) {
    // An OpenDML file may rely on its super indexes alone.
    bool superIndexes = false;
    for (const StreamHeader& s : scan.Headers.Streams) superIndexes |= s.IndxPos >= 0;
    if (!superIndexes && expected > 0) Add(found, FindingKind::IndexMismatch, Msg::NoIndex, {});
    return out;
  }
  const std::int64_t fileSize = file.SourceSize();
  const std::int64_t available = std::max<std::int64_t>(0, fileSize - scan.OldIndexPosition - ChunkHeader::Size);
  const std::int64_t count = std::min<std::int64_t>(scan.OldIndexSize, available) / Idx1Entry::Size;
  const std::int64_t moviData = scan.SegmentList.front().MoviPosition + ChunkHeader::Size;
  EntryMatcher matcher(entries, expected);
  std::int64_t wrong = 0, flagged = 0;
  int base = -1;  // 0: offsets from "movi"; 1: absolute
  constexpr std::int64_t PerBlock = 4096;
  std::vector<unsigned char> block(PerBlock * Idx1Entry::Size);
  for (std::int64_t first = 0; first < count; first += PerBlock) {
    MayStop(stop);
    const std::int64_t n = std::min(PerBlock, count - first);
    const std::int64_t want = n * Idx1Entry::Size;
    if (file.Peek(block.data(), want, scan.OldIndexPosition + ChunkHeader::Size + first * Idx1Entry::Size) != want)
      throw file.ReadFailure();
    for (std::int64_t k = 0; k < n; ++k) {
      const unsigned char* raw = &block[static_cast<std::size_t>(k * Idx1Entry::Size)];
      const Idx1Entry e = Idx1Entry::Load(raw);
      if (!IsStreamChunkId(raw)) continue;  // list and filler entries describe no data
      if (base < 0) {
        const std::size_t relative = FindEntry(entries, moviData + e.Offset);
        base = relative < expected && entries[relative].ChunkId == e.ChunkId ? 0 : 1;
      }
      const std::int64_t position = (base == 0 ? moviData : 0) + std::int64_t{e.Offset};
      const OldIndexEntry* walked = matcher.Match(position, e.ChunkId, e.ChunkSize, false);
      if (!walked) {
        if (matcher.Repeats(position, e.ChunkId, e.ChunkSize, false))
          AddRepeat(out, static_cast<std::size_t>(StreamNumber(e.ChunkId, scan.Numbering)), e.ChunkSize);
        else
          ++wrong;
        continue;
      }
      if (KeyFlagJudged(scan, *walked) && (e.Flags & AVIIF_KEYFRAME) != (walked->Flags() & AVIIF_KEYFRAME)) ++flagged;
    }
  }
  const std::int64_t missing = matcher.Unmatched();
  if (wrong > 0) Add(found, FindingKind::IndexMismatch, Msg::IndexWrongEntries, {wrong});
  if (missing > 0) Add(found, FindingKind::IndexMismatch, Msg::IndexMissingEntries, {missing});
  if (flagged > 0) Add(found, FindingKind::IndexMismatch, Msg::IndexWrongKeyFrames, {flagged});
  // An OpenDML file's idx1 holds its first RIFF's chunks only.
  out.ListsAll = wrong == 0 && missing == 0 && expected == entries.size();
  return out;
}

IndexFindings CheckOdmlIndexes(BackupFile& file, const ScanResult& scan, const StopCheck& stop) {
  IndexFindings out;
  Findings& found = out.Lines;
  const IndexEntries& entries = scan.Entries;
  // Each stream's super index lists its standard index chunks; every entry
  // of those names one chunk by the position of its data and its size, with
  // bit 31 of the size set for a frame that is not a key frame.
  EntryMatcher matcher(entries, entries.size());
  std::int64_t wrong = 0, flagged = 0;
  const std::vector<bool> indexed = ForEachStandardIndex(file, scan.Headers, stop, [&](const StandardIndexView& index) {
    if (!index.Readable) {
      ++wrong;
      return;
    }
    for (std::uint32_t i = 0; i < index.Count; ++i) {
      const StandardIndexEntry e = index.At(i);
      const std::int64_t position = index.Position(i);
      const OldIndexEntry* walked = matcher.Match(position, index.ChunkId, e.DataSize(), true);
      if (!walked) {
        if (matcher.Repeats(position, index.ChunkId, e.DataSize(), true))
          AddRepeat(out, index.Stream, e.DataSize());
        else
          ++wrong;
        continue;
      }
      if (KeyFlagJudged(scan, *walked) && e.KeyFrame() != ((walked->Flags() & AVIIF_KEYFRAME) != 0)) ++flagged;
    }
  });
  std::int64_t missing = 0;
  bool everyStream = std::find(indexed.begin(), indexed.end(), true) != indexed.end();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (ChunkKind(entries[i].ChunkId) == KindPalette) continue;
    const std::size_t s = static_cast<std::size_t>(StreamNumber(entries[i].ChunkId, scan.Numbering));
    const bool streamIndexed = s < indexed.size() && indexed[s];
    everyStream &= streamIndexed;
    missing += !matcher.Matches(i) && streamIndexed;
  }
  if (wrong > 0) Add(found, FindingKind::IndexMismatch, Msg::IndexWrongEntries, {wrong});
  if (missing > 0) Add(found, FindingKind::IndexMismatch, Msg::IndexMissingEntries, {missing});
  if (flagged > 0) Add(found, FindingKind::IndexMismatch, Msg::IndexWrongKeyFrames, {flagged});
  out.ListsAll = everyStream && wrong == 0 && missing == 0;
  return out;
}

bool DamageOutsideEntries(const ScanResult& scan) {
  // Every stretch must be known to be judged, and a chunk whose header the
  // rebuild would mend is damage a player meets.
  if (scan.DamageCount == 0 || scan.DamageCount > static_cast<std::int64_t>(scan.Damage.size()) ||
      !scan.SizeFixes.empty())
    return false;
  const IndexEntries& entries = scan.Entries;
  for (const DamagedStretch& d : scan.Damage) {
    const std::size_t after = FirstEntryFrom(entries, d.From);
    if (after < entries.size() && entries[after].Position() < std::max(d.To, d.From + 1)) return false;
    if (after > 0) {
      const OldIndexEntry& before = entries[after - 1];
      if (before.Position() + ChunkHeader::Size + std::int64_t{before.Size} > d.From) return false;
    }
  }
  return true;
}

Findings CheckListSizes(BackupFile& file, const ScanResult& scan) {
  Findings found;
  const IndexEntries& entries = scan.Entries;
  // What a rebuild writes into these fields, the check reports. A list is
  // wrong when it claims bytes past the data the walk found in it (a size of
  // 0xFFFFFFFF, a claim over a zero-filled tail or beyond the end of the
  // file), or leaves data it holds outside (a size of 0). A movi list that
  // ends early only over fillers, as some muxers leave it, is no damage.
  const std::int64_t fileSize = file.SourceSize();
  std::int64_t wrong = 0;
  std::size_t next = 0;  // the first entry of the segment
  auto field = [&](std::int64_t at) -> std::int64_t {
    unsigned char bytes[4];
    const std::int64_t got = file.Peek(bytes, sizeof bytes, at);
    if (got < 0) throw file.ReadFailure();  // a failed read is no damage of the file
    return got == sizeof bytes ? VEK::LoadLe32(bytes) : -1;
  };
  for (std::size_t i = 0; i < scan.SegmentList.size(); ++i) {
    const Segment& s = scan.SegmentList[i];
    const bool last = i + 1 == scan.SegmentList.size();
    std::int64_t dataEnd = s.MoviPosition + ListHeader::Size;  // where its last stream chunk ends
    for (; next < entries.size() && entries[next].Position() < s.End; ++next)
      dataEnd = std::max(dataEnd, entries[next].Position() + ChunkHeader::Size + entries[next].Size);
    const std::int64_t movi = field(s.MoviPosition + ListHeader::SizeField);
    const std::int64_t riff = field(s.RiffPosition + ListHeader::SizeField);
    if (movi >= 0) {
      const std::int64_t claimedEnd = s.MoviPosition + ChunkHeader::Size + movi;
      const std::int64_t end = s.End + ((s.End - s.MoviPosition) & 1);
      wrong += claimedEnd > end || claimedEnd < dataEnd;
    }
    if (riff >= 0) {
      const std::int64_t claimedEnd = s.RiffPosition + ChunkHeader::Size + riff;
      if (!last) {
        wrong += claimedEnd != scan.SegmentList[i + 1].RiffPosition;
      } else {
        // The one RIFF of a file also holds its legacy index, where it is whole.
        std::int64_t end = s.End;
        if (scan.SegmentList.size() == 1 && scan.OldIndexPosition >= 0 &&
            fileSize - scan.OldIndexPosition - ChunkHeader::Size >= std::int64_t{scan.OldIndexSize})
          end = std::max(end, scan.OldIndexPosition + ChunkHeader::Size + scan.OldIndexSize);
        wrong += claimedEnd > fileSize || claimedEnd < end;
      }
    }
  }
  if (wrong > 0) Add(found, FindingKind::SizeMismatch, Msg::ListSizes, {wrong});
  return found;
}

Findings CheckHeaderCounts(const ScanResult& scan, const HeaderCounts& counts) {
  Findings found;
  if (scan.Headers.TotalFramesPos >= 0 && !MainHeaderFramesAgree(scan, counts))
    Add(found, FindingKind::HeaderDamage, Msg::HeaderFrames,
        {static_cast<std::int64_t>(scan.Headers.TotalFrames), counts.TotalFrames});
  for (std::size_t s = 0; s < scan.Headers.Streams.size(); ++s) {
    const StreamHeader& h = scan.Headers.Streams[s];
    if (h.Readable && h.LengthFieldPos >= 0 && !StreamLengthAgrees(scan, s, counts.Streams[s]))
      Add(found, FindingKind::HeaderDamage, Msg::HeaderLength,
          {static_cast<std::int64_t>(s), static_cast<std::int64_t>(h.Length), counts.Streams[s]}, static_cast<int>(s));
  }
  // mencoder writes the first RIFF's frames into dmlh as well; readers count
  // the frames from the indexes, so that is no damage either.
  const std::int64_t dmlh = scan.Headers.DmlhTotalFrames;
  if (scan.Headers.DmlhPos >= 0 && dmlh != counts.AllFrames &&
      !(scan.SegmentList.size() > 1 && (dmlh == counts.TotalFrames || dmlh == counts.TotalFrames + 1)))
    Add(found, FindingKind::HeaderDamage, Msg::HeaderFrames,
        {static_cast<std::int64_t>(scan.Headers.DmlhTotalFrames), counts.AllFrames});
  return found;
}

FileCheck CheckFile(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts, const StopCheck& stop) {
  FileCheck out;
  IndexFindings idx1 = CheckIdx1(file, scan, stop);
  IndexFindings odml = CheckOdmlIndexes(file, scan, stop);
  out.IndexSkipsDamage = (idx1.ListsAll || odml.ListsAll) && DamageOutsideEntries(scan);
  if (out.IndexSkipsDamage) out.Lines.push_back({VEK::Text(Msg::IndexSkipsDamage, {scan.DamageCount}), false});
  // The headers count a chunk as often as the index names it: the streams
  // and dmlh as the indexes of the whole file do (an OpenDML file's own),
  // the main header as the first RIFF's idx1 does.
  HeaderCounts named = counts;
  const bool odmlFile = scan.IsOpenDml();
  const auto& whole = odmlFile ? odml.Repeats : idx1.Repeats;
  const auto firstVideo = std::find_if(scan.Headers.Streams.begin(), scan.Headers.Streams.end(),
                                       [](const StreamHeader& h) { return h.IsVideo(); }) -
                          scan.Headers.Streams.begin();
  for (std::size_t s = 0; s < named.Streams.size(); ++s) {
    const StreamHeader& h = scan.Headers.Streams[s];
    const std::pair<std::int64_t, std::int64_t> none{0, 0};
    const auto& all = s < whole.size() ? whole[s] : none;
    if (!h.Readable || all.first == 0) continue;
    named.Streams[s] += h.IsAudio() && h.SampleSize > 0 ? all.second / h.SampleSize : all.first;
    if (!h.IsVideo()) continue;
    named.AllFrames = std::max(named.AllFrames, named.Streams[s]);
    if (!odmlFile)
      named.TotalFrames = std::max(named.TotalFrames, named.Streams[s]);
    else if (static_cast<std::ptrdiff_t>(s) == firstVideo && s < idx1.Repeats.size())
      named.TotalFrames += idx1.Repeats[s].first;
  }
  for (Findings part :
       {std::move(idx1.Lines), std::move(odml.Lines), CheckListSizes(file, scan), CheckHeaderCounts(scan, named)})
    for (Finding& f : part) out.Lines.push_back(std::move(f));
  return out;
}

}  // namespace VEKRiff
