// What a check says about the file's own index and headers, beside the
// damage the walk met: the walk's entries are compared with the legacy idx1
// (offsets from "movi" or absolute, as muxers write both), and the frame
// counts of the headers with what the data holds. Each disagreement is one
// line with its count and one error: a file that needs a rebuild never checks
// clean.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "avi/AviChunk.h"
#include "engine/EngineMessages.h"
#include "engine/IndexRebuilder.h"
#include "util/Endian.h"

namespace VEKRiff {

using namespace VEKAvi;

namespace {

// The first of the walk's entries (in file order) at or after position.
std::size_t FirstFrom(const IndexEntries& entries, std::int64_t position) {
  return static_cast<std::size_t>(
      std::lower_bound(entries.begin(), entries.end(), position,
                       [](const OldIndexEntry& e, std::int64_t p) { return e.Position() < p; }) -
      entries.begin());
}

// The walk's entry at position, or entries.size().
std::size_t Find(const IndexEntries& entries, std::int64_t position) {
  const std::size_t at = FirstFrom(entries, position);
  return at < entries.size() && entries[at].Position() == position ? at : entries.size();
}

// Finds, for each entry of an index, the walk's entry of [0, limit) that it
// names, each at most once. Indexes list their chunks in file order, mostly:
// the entry after the last one matched is tried before a search.
class EntryMatcher {
 public:
  EntryMatcher(const IndexEntries& entries, std::size_t limit) : Entries(entries), Matched(limit, false) {}

  // The walk's entry with its header at position, whose code (or, with
  // streamOnly, its stream digits) and size agree; nullptr otherwise.
  const OldIndexEntry* Match(std::int64_t position, FourCC code, std::uint32_t size, bool streamOnly) {
    const std::size_t at = Next < Matched.size() && Entries[Next].Position() == position ? Next : Find(Entries, position);
    const FourCC mask = streamOnly ? 0xFFFF : 0xFFFFFFFF;
    if (at >= Matched.size() || (Entries[at].ChunkId & mask) != (code & mask) || Entries[at].Size != size ||
        Matched[at])
      return nullptr;
    Matched[at] = true;
    Next = at + 1;
    return &Entries[at];
  }
  bool Matches(std::size_t i) const { return Matched[i]; }
  std::int64_t Unmatched() const { return std::count(Matched.begin(), Matched.end(), false); }

 private:
  const IndexEntries& Entries;
  std::vector<bool> Matched;
  std::size_t Next = 0;
};

}  // namespace

bool IndexRebuilder::KeyFlagJudged(const OldIndexEntry& entry) const {
  // Only a codec rule's own answer can contradict an index's flag.
  const int stream = StreamNumber(entry.ChunkId);
  return IsVideoKind(entry.ChunkId) && stream >= 0 && static_cast<std::size_t>(stream) < Rules.size() &&
         Rules[static_cast<std::size_t>(stream)] && entry.Size > 0;
}

void IndexRebuilder::ReportProblem(const VEK::MessagePair& text, std::initializer_list<VEK::FormatArg> args) {
  AddMessage(VEK::Text(text, args));
  ErrorCount_.store(ErrorCount() + 1, std::memory_order_relaxed);
}

void IndexRebuilder::VerifyIndex(BackupFile& file, const IndexEntries& entries) {
  // The entries the legacy index should hold: the first segment's.
  const std::int64_t firstEnd = SegmentList.size() > 1 ? SegmentList.front().End : INT64_MAX;
  const std::size_t expected = FirstFrom(entries, firstEnd);
  if (OldIndexPosition < 0) {
    // An OpenDML file may rely on its super indexes alone.
    bool superIndexes = false;
    for (const StreamHeader& s : Headers.Streams) superIndexes |= s.IndxPos >= 0;
    if (!superIndexes && expected > 0) ReportProblem(Msg::NoIndex, {});
    return;
  }
  const std::int64_t fileSize = file.SourceSize();
  const std::int64_t available = std::max<std::int64_t>(0, fileSize - OldIndexPosition - ChunkHeader::Size);
  const std::int64_t count = std::min<std::int64_t>(OldIndexSize, available) / Idx1Entry::Size;
  const std::int64_t moviData = SegmentList.front().MoviPosition + ChunkHeader::Size;
  EntryMatcher matcher(entries, expected);
  std::int64_t wrong = 0, flagged = 0;
  int base = -1;  // 0: offsets from "movi"; 1: absolute
  constexpr std::int64_t PerBlock = 4096;
  std::vector<unsigned char> block(PerBlock * Idx1Entry::Size);
  for (std::int64_t first = 0; first < count; first += PerBlock) {
    CheckAbort();
    const std::int64_t n = std::min(PerBlock, count - first);
    const std::int64_t want = n * Idx1Entry::Size;
    if (file.Peek(block.data(), want, OldIndexPosition + ChunkHeader::Size + first * Idx1Entry::Size) != want)
      throw VEKFile::File::ReadFailure();
    for (std::int64_t k = 0; k < n; ++k) {
      const unsigned char* raw = &block[static_cast<std::size_t>(k * Idx1Entry::Size)];
      const Idx1Entry e = Idx1Entry::Load(raw);
      if (!IsStreamChunkId(raw)) continue;  // list and filler entries describe no data
      if (base < 0) {
        const std::size_t relative = Find(entries, moviData + e.Offset);
        base = relative < expected && entries[relative].ChunkId == e.ChunkId ? 0 : 1;
      }
      const OldIndexEntry* walked =
          matcher.Match((base == 0 ? moviData : 0) + std::int64_t{e.Offset}, e.ChunkId, e.ChunkSize, false);
      if (!walked) {
        ++wrong;
        continue;
      }
      if (KeyFlagJudged(*walked) && (e.Flags & AVIIF_KEYFRAME) != (walked->Flags() & AVIIF_KEYFRAME)) ++flagged;
    }
  }
  const std::int64_t missing = matcher.Unmatched();
  if (wrong > 0) ReportProblem(Msg::IndexWrongEntries, {wrong});
  if (missing > 0) ReportProblem(Msg::IndexMissingEntries, {missing});
  if (flagged > 0) ReportProblem(Msg::IndexWrongKeyFrames, {flagged});
}

void IndexRebuilder::VerifyOdmlIndexes(BackupFile& file, const IndexEntries& entries) {
  // Each stream's super index lists its standard index chunks; every entry
  // of those names one chunk by the position of its data and its size, with
  // bit 31 of the size set for a frame that is not a key frame.
  const std::int64_t fileSize = file.SourceSize();
  EntryMatcher matcher(entries, entries.size());
  std::vector<bool> indexed(Headers.Streams.size(), false);
  std::int64_t wrong = 0, flagged = 0;
  std::vector<unsigned char> block;
  auto read = [&](std::int64_t at, std::int64_t n) {
    block.resize(static_cast<std::size_t>(n));
    return at >= 0 && n >= 0 && at <= fileSize - n && file.Peek(block.data(), n, at) == n;
  };
  constexpr std::int64_t SuperHeader = 32, StandardHeader = 32;  // chunk header included
  for (std::size_t s = 0; s < Headers.Streams.size(); ++s) {
    const StreamHeader& stream = Headers.Streams[s];
    if (stream.IndxPos < 0 || !read(stream.IndxPos, SuperHeader)) continue;
    const std::uint32_t used = VEK::LoadLe32(&block[12]);
    const std::int64_t slots = std::min<std::int64_t>(used, (std::int64_t{stream.IndxSize} - 24) / 16);
    if (slots <= 0 || !read(stream.IndxPos + SuperHeader, slots * 16)) continue;
    indexed[s] = true;
    const std::vector<unsigned char> super = block;
    for (std::int64_t k = 0; k < slots; ++k) {
      CheckAbort();
      const std::int64_t chunk = static_cast<std::int64_t>(VEK::LoadLe64(&super[16 * k]));
      if (!read(chunk, StandardHeader) || !IsIndexChunkId(block.data())) {
        ++wrong;
        continue;
      }
      const std::uint32_t count = VEK::LoadLe32(&block[12]);
      const std::uint32_t chunkId = VEK::LoadLe32(&block[16]);
      const std::int64_t base = static_cast<std::int64_t>(VEK::LoadLe64(&block[20]));
      if (!read(chunk + StandardHeader, std::int64_t{count} * 8)) {
        ++wrong;
        continue;
      }
      for (std::uint32_t i = 0; i < count; ++i) {
        const std::int64_t position = base + VEK::LoadLe32(&block[8 * i]) - ChunkHeader::Size;
        const std::uint32_t size = VEK::LoadLe32(&block[8 * i + 4]);
        const OldIndexEntry* walked = matcher.Match(position, chunkId, size & 0x7FFFFFFFu, true);
        if (!walked) {
          ++wrong;
          continue;
        }
        if (KeyFlagJudged(*walked) && ((size & 0x80000000u) == 0) != ((walked->Flags() & AVIIF_KEYFRAME) != 0))
          ++flagged;
      }
    }
  }
  std::int64_t missing = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t s = static_cast<std::size_t>(StreamNumber(entries[i].ChunkId));
    missing += !matcher.Matches(i) && s < indexed.size() && indexed[s] && ChunkKind(entries[i].ChunkId) != KindPalette;
  }
  if (wrong > 0) ReportProblem(Msg::IndexWrongEntries, {wrong});
  if (missing > 0) ReportProblem(Msg::IndexMissingEntries, {missing});
  if (flagged > 0) ReportProblem(Msg::IndexWrongKeyFrames, {flagged});
}

void IndexRebuilder::VerifyListSizes(BackupFile& file, const IndexEntries& entries) {
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
    return file.Peek(bytes, sizeof bytes, at) == sizeof bytes ? VEK::LoadLe32(bytes) : -1;
  };
  for (std::size_t i = 0; i < SegmentList.size(); ++i) {
    const Segment& s = SegmentList[i];
    const bool last = i + 1 == SegmentList.size();
    std::int64_t dataEnd = s.MoviPosition + ListHeader::Size;  // where its last stream chunk ends
    for (; next < entries.size() && entries[next].Position() < s.End; ++next)
      dataEnd = std::max(dataEnd, entries[next].Position() + ChunkHeader::Size + entries[next].Size);
    const std::int64_t movi = field(s.MoviPosition + 4), riff = field(s.RiffPosition + 4);
    if (movi >= 0) {
      const std::int64_t claimedEnd = s.MoviPosition + ChunkHeader::Size + movi;
      const std::int64_t end = s.End + ((s.End - s.MoviPosition) & 1);
      wrong += claimedEnd > end || claimedEnd < dataEnd;
    }
    if (riff >= 0) {
      const std::int64_t claimedEnd = s.RiffPosition + ChunkHeader::Size + riff;
      if (!last) {
        wrong += claimedEnd != SegmentList[i + 1].RiffPosition;
      } else {
        // The one RIFF of a file also holds its legacy index, where it is whole.
        std::int64_t end = s.End;
        if (SegmentList.size() == 1 && OldIndexPosition >= 0 &&
            fileSize - OldIndexPosition - ChunkHeader::Size >= std::int64_t{OldIndexSize})
          end = std::max(end, OldIndexPosition + ChunkHeader::Size + OldIndexSize);
        wrong += claimedEnd > fileSize || claimedEnd < end;
      }
    }
  }
  if (wrong > 0) ReportProblem(Msg::ListSizes, {wrong});
}

IndexRebuilder::HeaderCounts IndexRebuilder::CountsFromData(const IndexEntries& entries) const {
  HeaderCounts counts;
  // By stream number, whether or not its header could be read.
  constexpr std::size_t Numbers = 256;
  std::vector<std::int64_t> bytes(Numbers, 0), frames(Numbers, 0), firstSegmentFrames(Numbers, 0);
  std::vector<bool> video(Numbers, false);
  const std::int64_t firstEnd = SegmentList.size() > 1 ? SegmentList.front().End : INT64_MAX;
  for (const OldIndexEntry& e : entries) {
    if (ChunkKind(e.ChunkId) == KindPalette) continue;
    const std::size_t s = static_cast<std::size_t>(StreamNumber(e.ChunkId));
    ++frames[s];
    bytes[s] += e.Size;
    if (e.Position() < firstEnd) ++firstSegmentFrames[s];
    video[s] = video[s] || IsVideoKind(e.ChunkId);
  }
  counts.Streams.assign(Headers.Streams.size(), 0);
  for (std::size_t s = 0; s < Numbers; ++s) {
    const StreamHeader* h = s < Headers.Streams.size() && Headers.Streams[s].Readable ? &Headers.Streams[s] : nullptr;
    // Video counts frames; audio counts samples for a fixed sample size,
    // blocks (chunks) otherwise, as muxers write them.
    if (s < counts.Streams.size())
      counts.Streams[s] = h && h->IsAudio() && h->SampleSize > 0 ? bytes[s] / h->SampleSize : frames[s];
    if (h ? h->IsVideo() : video[s]) {
      counts.TotalFrames = std::max(counts.TotalFrames, firstSegmentFrames[s]);
      counts.AllFrames = std::max(counts.AllFrames, frames[s]);
    }
  }
  return counts;
}

// GStreamer's avimux works an audio stream's length out from its duration, a
// unit or two off what the data holds; a length that close is no error (and
// is not rewritten). A cut download is off by far more.
bool IndexRebuilder::StreamLengthAgrees(std::size_t stream, std::int64_t data) const {
  const StreamHeader& h = Headers.Streams[stream];
  const std::int64_t said = h.Length;
  if (!h.IsAudio()) return said == data;
  return std::abs(said - data) <= std::max<std::int64_t>(2, data / 1000);
}

bool IndexRebuilder::MainHeaderFramesAgree(const HeaderCounts& counts) const {
  // In an OpenDML file the main header counts the first RIFF's frames;
  // ffmpeg counts one more, the frame that opened the next RIFF. Readers
  // take the whole length from dmlh and the stream headers.
  const std::int64_t said = Headers.TotalFrames;
  return said == counts.TotalFrames || (SegmentList.size() > 1 && said == counts.TotalFrames + 1);
}

IndexRebuilder::HeaderCounts IndexRebuilder::VerifyHeaderCounts(const IndexEntries& entries) {
  HeaderCounts counts = CountsFromData(entries);
  if (Headers.TotalFramesPos >= 0 && !MainHeaderFramesAgree(counts))
    ReportProblem(Msg::HeaderFrames, {static_cast<std::int64_t>(Headers.TotalFrames), counts.TotalFrames});
  for (std::size_t s = 0; s < Headers.Streams.size(); ++s) {
    const StreamHeader& h = Headers.Streams[s];
    if (h.Readable && h.LengthFieldPos >= 0 && !StreamLengthAgrees(s, counts.Streams[s]))
      ReportProblem(Msg::HeaderLength,
                    {static_cast<std::int64_t>(s), static_cast<std::int64_t>(h.Length), counts.Streams[s]});
  }
  // mencoder writes the first RIFF's frames into dmlh as well; readers count
  // the frames from the indexes, so that is no damage either.
  const std::int64_t dmlh = Headers.DmlhTotalFrames;
  if (Headers.DmlhPos >= 0 && dmlh != counts.AllFrames &&
      !(SegmentList.size() > 1 && (dmlh == counts.TotalFrames || dmlh == counts.TotalFrames + 1)))
    ReportProblem(Msg::HeaderFrames, {static_cast<std::int64_t>(Headers.DmlhTotalFrames), counts.AllFrames});
  return counts;
}

void IndexRebuilder::WriteChunkSizes(BackupFile& file) {
  unsigned char field[4];
  for (const SizeFix& fix : SizeFixes) {
    VEK::StoreLe32(field, fix.Size);
    file.Seek(fix.Position + 4, 0);
    file.Write(field, sizeof field);
  }
}

void IndexRebuilder::WriteHeaderCounts(BackupFile& file, const HeaderCounts& counts, std::int64_t fileEnd) {
  unsigned char field[4];
  // Only what is wrong is written; nothing else in the header moves.
  // A damaged header list may claim to cover the movi list: fields it seems
  // to hold there are not header fields, and are never written.
  const std::int64_t headersEnd = SegmentList.front().MoviPosition;
  auto patch = [&](std::int64_t position, std::uint32_t now, std::int64_t value) {
    if (position < 0 || position > headersEnd - 4 || value < 0 || value > MaxIdx1Value ||
        now == static_cast<std::uint32_t>(value))
      return;
    VEK::StoreLe32(field, static_cast<std::uint32_t>(value));
    file.Seek(position, 0);
    file.Write(field, sizeof field);
  };
  if (!MainHeaderFramesAgree(counts)) patch(Headers.TotalFramesPos, Headers.TotalFrames, counts.TotalFrames);
  for (std::size_t s = 0; s < Headers.Streams.size(); ++s) {
    const StreamHeader& h = Headers.Streams[s];
    if (h.Readable && !StreamLengthAgrees(s, counts.Streams[s])) patch(h.LengthFieldPos, h.Length, counts.Streams[s]);
  }
  if (SegmentList.size() == 1) {
    // (With more RIFFs the OpenDML writer writes dmlh with the indexes.)
    patch(Headers.DmlhPos, Headers.DmlhTotalFrames, counts.AllFrames);
    // The one RIFF now ends with the index.
    unsigned char riff[ChunkHeader::Size];
    if (file.Peek(riff, sizeof riff, 0) == sizeof riff)
      patch(4, VEK::LoadLe32(riff + 4), fileEnd - ChunkHeader::Size);
  }
  file.Seek(fileEnd, 0);
}

}  // namespace VEKRiff
