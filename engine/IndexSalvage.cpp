#include "engine/IndexSalvage.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <vector>

#include "avi/AviChunk.h"
#include "codec/KeyFrame.h"
#include "util/Endian.h"

namespace VEKRiff {

using namespace VEKAvi;

namespace {

// An index that disagrees with the walk on most of the chunks both see is
// no witness for the ones only it sees.
constexpr int Votes = 64;
// Of the eight header bytes, at most this many may differ from what the
// index says: a chunk overwritten by other data has nothing in common.
constexpr int MostDamaged = 2;

int DifferingBytes(const unsigned char* header, FourCC code, std::uint32_t size) {
  unsigned char said[ChunkHeader::Size];
  ChunkHeader{code, size}.Store(said);
  int differ = 0;
  for (int i = 0; i < ChunkHeader::Size; ++i) differ += header[i] != said[i];
  return differ;
}

std::int64_t Padded(std::int64_t end) { return end + (end & 1); }

}  // namespace

Salvage SalvageFromOldIndex(BackupFile& file, ScanResult scan, const StopCheck& stop) {
  Salvage out{std::move(scan), 0};
  ScanResult& s = out.Scan;
  const IndexEntries& walked = s.Entries;
  if (s.OldIndexPosition < 0 || walked.empty()) return out;
  const std::int64_t fileSize = file.SourceSize();
  const std::int64_t available = std::max<std::int64_t>(0, fileSize - s.OldIndexPosition - ChunkHeader::Size);
  const std::int64_t count = std::min<std::int64_t>(s.OldIndexSize, available) / Idx1Entry::Size;
  if (count == 0) return out;
  const std::int64_t moviData = s.SegmentList.front().MoviPosition + ChunkHeader::Size;
  const std::int64_t firstChunk = s.SegmentList.front().MoviPosition + ListHeader::Size;
  const std::int64_t dataEnd = s.SegmentList.front().End;
  // The index is read a block at a time, in order: its size field is a claim
  // too, and a damaged one may claim gigabytes of a large file.
  constexpr std::int64_t PerBlock = 4096;
  std::vector<unsigned char> block(PerBlock * Idx1Entry::Size);
  std::int64_t blockFirst = -1;
  auto entryAt = [&](std::int64_t k) -> const unsigned char* {
    if (blockFirst < 0 || k < blockFirst || k >= blockFirst + PerBlock) {
      MayStop(stop);
      blockFirst = k;
      const std::int64_t want = std::min(PerBlock, count - k) * Idx1Entry::Size;
      if (file.Peek(block.data(), want, s.OldIndexPosition + ChunkHeader::Size + k * Idx1Entry::Size) != want)
        throw file.ReadFailure();
    }
    return &block[static_cast<std::size_t>((k - blockFirst) * Idx1Entry::Size)];
  };

  auto agrees = [&](const Idx1Entry& e, std::int64_t base) {
    const std::size_t w = FindEntry(walked, base + e.Offset);
    return w < walked.size() && walked[w].ChunkId == e.ChunkId && walked[w].Size == e.ChunkSize;
  };
  // Offsets count from "movi" in most files and from the file's start in a
  // few; the chunks both see decide which, and whether the index is to be
  // believed at all.
  std::array<int, 2> votes{0, 0};
  int voters = 0;
  std::vector<FourCC> codes;  // the stream codes the walk met
  for (const OldIndexEntry& e : walked)
    if (std::find(codes.begin(), codes.end(), e.ChunkId) == codes.end()) codes.push_back(e.ChunkId);
  for (std::int64_t k = 0; k < count && voters < Votes; ++k) {
    const unsigned char* entry = entryAt(k);
    const Idx1Entry e = Idx1Entry::Load(entry);
    if (!IsStreamChunkId(entry)) continue;
    ++voters;
    votes[0] += agrees(e, moviData);
    votes[1] += agrees(e, 0);
  }
  const std::int64_t base = votes[0] >= votes[1] ? moviData : 0;
  if (2 * std::max(votes[0], votes[1]) <= voters) return out;

  // What the walk confirmed, the index cannot change: a size that ends on
  // something recognisable, a code that names a stream the header list
  // describes (every code, where the list describes none). The index speaks
  // only for the rest, each chunk once however often it names it.
  const std::size_t described = s.Headers.Streams.size();
  auto codeConfirmed = [&](FourCC code) {
    return described == 0 || static_cast<std::size_t>(StreamNumber(code, s.Numbering)) < described;
  };
  const std::vector<std::int64_t>& unconfirmed = s.Unconfirmed;
  std::vector<bool> settled(unconfirmed.size(), false);
  // Chunks found at free places, in file order: each starts after the last
  // one ends, so there are never more of them than chunks fit in the data.
  std::vector<OldIndexEntry> found;
  std::vector<SizeFix> fixes;
  std::int64_t recoded = 0;
  std::int64_t freeFrom = 0;  // the end of the last chunk kept through the index
  std::size_t hint = 0;
  for (std::int64_t k = 0; k < count; ++k) {
    const unsigned char* entry = entryAt(k);
    const Idx1Entry e = Idx1Entry::Load(entry);
    if (!IsStreamChunkId(entry) || std::find(codes.begin(), codes.end(), e.ChunkId) == codes.end()) continue;
    const std::int64_t position = base + e.Offset;
    const std::int64_t end = position + ChunkHeader::Size + e.ChunkSize;
    if (position < firstChunk || end > dataEnd) continue;
    // Flagged as the walk flags its chunks, by the codec's rule where there
    // is one; else the index's own flag, the muxer's.
    auto flagsOf = [&] {
      const std::size_t stream = static_cast<std::size_t>(StreamNumber(e.ChunkId, s.Numbering));
      if (!IsVideoKind(e.ChunkId) || stream >= s.Rules.size() || !s.Rules[stream] || e.ChunkSize == 0)
        return e.Flags & AVIIF_KEYFRAME;
      unsigned char probe[VEKCodec::ProbeBytes];
      const std::int64_t got =
          file.Peek(probe, std::min<std::int64_t>(sizeof probe, e.ChunkSize), position + ChunkHeader::Size);
      return VEKCodec::IndexFlags(s.Rules[stream], true, probe, got > 0 ? static_cast<std::size_t>(got) : 0,
                                  e.ChunkSize);
    };
    // No chunk kept through the index may start inside another.
    auto foundInside = [&] {
      const auto f = std::upper_bound(found.begin(), found.end(), position,
                                      [](std::int64_t p, const OldIndexEntry& x) { return p < x.Position(); });
      return f != found.end() && f->Position() < Padded(end);
    };
    // An index lists its chunks in file order, mostly: the walked entry
    // after the last one looked at is tried before a search.
    auto next = walked.begin() + static_cast<std::ptrdiff_t>(std::min(hint, walked.size()));
    if (next == walked.end() || next->Position() != position)
      next = walked.begin() + static_cast<std::ptrdiff_t>(FirstEntryFrom(walked, position));
    hint = static_cast<std::size_t>(next - walked.begin()) + 1;
    if (next != walked.end() && next->Position() == position) {
      // A chunk the walk took under a code or a size that a damaged byte
      // changed (another stream's number, a size that ran into damage) gets
      // the index's back, where that size fits before the next chunk.
      const OldIndexEntry chunk = *next;
      const auto u = std::lower_bound(unconfirmed.begin(), unconfirmed.end(), position);
      const bool listed = u != unconfirmed.end() && *u == position;
      // The first entry that names the chunk speaks for it; another one
      // naming it again is a damaged index's.
      const bool sizeOpen = listed && !settled[static_cast<std::size_t>(u - unconfirmed.begin())];
      if (listed) settled[static_cast<std::size_t>(u - unconfirmed.begin())] = true;
      const bool codeOpen = !codeConfirmed(chunk.ChunkId);
      if ((!sizeOpen && e.ChunkSize != chunk.Size) || (!codeOpen && e.ChunkId != chunk.ChunkId) ||
          !codeConfirmed(e.ChunkId))
        continue;
      unsigned char header[ChunkHeader::Size];
      ChunkHeader{chunk.ChunkId, chunk.Size}.Store(header);
      const int differ = DifferingBytes(header, e.ChunkId, e.ChunkSize);
      const auto after = std::next(next);
      if (differ == 0 || differ > MostDamaged ||
          Padded(end) > (after == walked.end() ? dataEnd : after->Position()) || foundInside())
        continue;
      s.Entries[static_cast<std::size_t>(next - walked.begin())] =
          OldIndexEntry(e.ChunkId, flagsOf(), position, e.ChunkSize);
      ++recoded;
      const SizeFix fix{position, e.ChunkSize, chunk.ChunkId != e.ChunkId ? e.ChunkId : 0u};
      // A size the walk corrected is corrected once, to the index's.
      const auto walkFix = std::lower_bound(s.SizeFixes.begin(), s.SizeFixes.end(), position,
                                            [](const SizeFix& f, std::int64_t p) { return f.Position < p; });
      if (walkFix != s.SizeFixes.end() && walkFix->Position == position)
        *walkFix = fix;
      else
        fixes.push_back(fix);
      continue;
    }
    if (position < freeFrom) continue;
    // Its place must be free: the walked chunk before it ends before it,
    // the one after it starts after it.
    if (next != walked.end() && next->Position() < Padded(end)) continue;
    if (next != walked.begin()) {
      const OldIndexEntry& before = *std::prev(next);
      if (Padded(before.Position() + ChunkHeader::Size + before.Size) > position) continue;
    }
    unsigned char header[ChunkHeader::Size];
    if (file.Peek(header, sizeof header, position) != ChunkHeader::Size) throw file.ReadFailure();
    const int differ = DifferingBytes(header, e.ChunkId, e.ChunkSize);
    if (differ > MostDamaged) continue;
    const std::uint32_t flags = flagsOf();
    found.emplace_back(e.ChunkId, flags, position, e.ChunkSize);
    if (differ > 0)
      fixes.push_back({position, e.ChunkSize, ChunkHeader::Load(header).Code != e.ChunkId ? e.ChunkId : 0u});
    freeFrom = Padded(end);
  }
  s.SizeFixes.insert(s.SizeFixes.end(), fixes.begin(), fixes.end());
  out.Recoded = recoded;
  if (found.empty()) return out;
  // Merged as the walked entries are let go, so that the entries are never
  // held twice.
  IndexEntries merged;
  auto f = found.begin();
  while (!s.Entries.empty() || f != found.end()) {
    if (f != found.end() && (s.Entries.empty() || f->Position() < s.Entries.front().Position())) {
      merged.push_back(*f++);
    } else {
      merged.push_back(s.Entries.front());
      s.Entries.pop_front();
    }
  }
  s.Entries = std::move(merged);
  out.Kept = static_cast<std::int64_t>(found.size());
  return out;
}

}  // namespace VEKRiff
