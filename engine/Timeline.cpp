#include "engine/Timeline.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "avi/AviChunk.h"
#include "avi/HeaderRecords.h"
#include "codec/SilentFrame.h"
#include "engine/EngineMessages.h"
#include "engine/MoviWalk.h"
#include "engine/OdmlIndexRead.h"
#include "engine/TimelineClock.h"
#include "util/Endian.h"

namespace VEKRiff {

using namespace VEKAvi;

namespace {

std::int64_t Padded(std::int64_t end) { return end + (end & 1); }

// The old index read a block at a time, in order: its size field is a claim
// too, and a damaged one may claim gigabytes of a large file.
class OldIndexReader {
 public:
  OldIndexReader(BackupFile& file, const ScanResult& scan, const StopCheck& stop) : File(file), Stop(stop) {
    const std::int64_t available =
        std::max<std::int64_t>(0, file.SourceSize() - scan.OldIndexPosition - ChunkHeader::Size);
    Count = scan.OldIndexPosition < 0 ? 0 : std::min<std::int64_t>(scan.OldIndexSize, available) / Idx1Entry::Size;
    First = scan.OldIndexPosition + ChunkHeader::Size;
  }
  std::int64_t Size() const { return Count; }
  const unsigned char* At(std::int64_t k) {
    if (BlockFirst < 0 || k < BlockFirst || k >= BlockFirst + PerBlock) {
      MayStop(Stop);
      BlockFirst = k;
      const std::int64_t want = std::min(PerBlock, Count - k) * Idx1Entry::Size;
      if (File.Peek(Block.data(), want, First + k * Idx1Entry::Size) != want) throw File.ReadFailure();
    }
    return &Block[static_cast<std::size_t>((k - BlockFirst) * Idx1Entry::Size)];
  }

 private:
  static constexpr std::int64_t PerBlock = 4096;
  BackupFile& File;
  const StopCheck& Stop;
  std::int64_t Count = 0, First = 0, BlockFirst = -1;
  std::vector<unsigned char> Block = std::vector<unsigned char>(PerBlock * Idx1Entry::Size);
};

// How many of the index's entries a base is tried on, spread over the index.
constexpr int Voters = 64;
// How far into the index the first surviving chunk of a lost start is looked for.
constexpr std::int64_t StartSearch = std::int64_t{1} << 16;

// Where the index's offsets count from: "movi" in most files, the file's
// start in a few, and where the start is lost (and "movi" with it) wherever
// the first surviving chunk says. A base is the index's only when most of
// the entries it is tried on name chunks the walk found; -1: none is.
std::int64_t IndexBase(OldIndexReader& index, const ScanResult& s) {
  const IndexEntries& walked = s.Entries;
  std::vector<Idx1Entry> sample;
  for (int i = 0; i < Voters; ++i) {
    const std::int64_t k = index.Size() * i / Voters;
    if (!sample.empty() && k == 0) continue;
    const unsigned char* raw = index.At(k);
    if (IsStreamChunkId(raw)) sample.push_back(Idx1Entry::Load(raw));
  }
  if (sample.empty()) return -1;
  auto believed = [&](std::int64_t base) {
    std::size_t agree = 0;
    for (const Idx1Entry& e : sample) {
      const std::size_t w = FindEntry(walked, base + e.Offset);
      agree += w < walked.size() && walked[w].ChunkId == e.ChunkId && walked[w].Size == e.ChunkSize;
    }
    return 2 * agree > sample.size();
  };
  const std::int64_t moviData = s.SegmentList.front().MoviPosition + ChunkHeader::Size;
  if (believed(moviData)) return moviData;
  if (believed(0)) return 0;
  const OldIndexEntry& first = walked.front();
  const std::int64_t search = std::min(index.Size(), StartSearch);
  for (std::int64_t k = 0; k < search; ++k) {
    const Idx1Entry e = Idx1Entry::Load(index.At(k));
    const std::int64_t base = first.Position() - e.Offset;
    if (e.ChunkId == first.ChunkId && e.ChunkSize == first.Size && base != moviData && base != 0 && believed(base))
      return base;
  }
  return -1;
}

// The silence of a PCM stream: zero samples, 0x80 for unsigned 8-bit ones;
// -1 where the stream is no PCM.
int SilenceByte(const AviHeaders& headers, StreamNumbering numbering, FourCC code) {
  const std::size_t s = static_cast<std::size_t>(StreamNumber(code, numbering));
  if (s >= headers.Streams.size()) return -1;
  const StreamHeader& h = headers.Streams[s];
  if (!h.Readable || !h.IsAudio() || h.Strf.size() < WaveFormatEx::Needed) return -1;
  const WaveFormatEx f = WaveFormatEx::Load(h.Strf.data(), static_cast<std::uint32_t>(h.Strf.size()));
  constexpr std::uint16_t TagFloat = 0x0003, TagExtensible = 0xFFFE;
  if (f.FormatTag != WaveFormatEx::TagPcm && f.FormatTag != TagFloat && f.FormatTag != TagExtensible) return -1;
  if (f.FormatTag == TagExtensible && h.Strf.size() < 40) return -1;
  if (f.FormatTag == TagExtensible) {
    // The sub-format's first two bytes are the tag it stands for.
    const std::uint16_t sub = static_cast<std::uint16_t>(h.Strf[24] | (h.Strf[25] << 8));
    if (sub != WaveFormatEx::TagPcm && sub != TagFloat) return -1;
  }
  return f.BitsPerSample == 8 ? 0x80 : 0;
}

// Bytes of silence a copy writes at most; lost sound beyond them keeps
// its place as empty entries.
constexpr std::int64_t MaxSilenceBytes = std::int64_t{16} << 20;

// Whether players can place a stream's chunks in time: its header is whole,
// with a rate, and a sound stream's format is known. Where one cannot be
// placed, players that read the copy by its index's times may read nothing
// of it (ffmpeg's reader does so), so no placeholder is written at all.
bool Timed(const StreamHeader& h) {
  if (!h.Readable || h.Rate == 0 || h.Scale == 0) return false;
  if (h.IsVideo()) return true;
  if (!h.IsAudio() || h.Strf.size() < WaveFormatEx::Needed) return false;
  return WaveFormatEx::Load(h.Strf.data(), static_cast<std::uint32_t>(h.Strf.size())).FormatTag != 0;
}

// The bytes of the MPEG audio layer III frame the four bytes start; 0 where
// they start none.
std::uint32_t Layer3FrameBytes(const unsigned char* h) {
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || (h[1] & 0x06) != 0x02) return 0;
  const int version = (h[1] >> 3) & 3;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
  const int bitrate = h[2] >> 4, rate = (h[2] >> 2) & 3, padding = (h[2] >> 1) & 1;
  if (version == 1 || bitrate == 0 || bitrate == 15 || rate == 3) return 0;
  static constexpr int Mpeg1Kbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static constexpr int Mpeg2Kbps[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  static constexpr int Rates[3] = {44100, 48000, 32000};
  const int sampleRate = Rates[rate] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  return static_cast<std::uint32_t>(version == 3 ? 144000 * Mpeg1Kbps[bitrate] / sampleRate + padding
                                                 : 72000 * Mpeg2Kbps[bitrate] / sampleRate + padding);
}

// The bytes of the frame of sound (MPEG audio layer III, or AC-3 of a
// syntax a silent frame can be made in) that the n bytes start; 0: none.
std::uint32_t SoundFrameBytes(const unsigned char* h, std::size_t n) {
  if (n >= 4 && h[0] == 0xFF) return Layer3FrameBytes(h);
  if (n >= 8 && h[0] == 0x0B && h[1] == 0x77) return static_cast<std::uint32_t>(VEKCodec::SilentAc3Frame(h, n).size());
  return 0;
}

// Whether a sound stream may be MPEG audio or AC-3: its header says so, or
// it has none to say (a lost header list, whose new one reads the format
// from the data), and then its kept chunks' own frame headers tell.
bool MayBeFramedAudio(const ScanResult& scan, FourCC code) {
  const std::size_t s = static_cast<std::size_t>(StreamNumber(code, scan.Numbering));
  if (ChunkKind(code) != KindAudio) return false;
  if (s >= scan.Headers.Streams.size()) return true;
  const StreamHeader& h = scan.Headers.Streams[s];
  if (!h.Readable || h.Strf.size() < WaveFormatEx::Needed) return true;
  const std::uint16_t tag = WaveFormatEx::Load(h.Strf.data(), static_cast<std::uint32_t>(h.Strf.size())).FormatTag;
  return tag == WaveFormatEx::TagMp3 || tag == WaveFormatEx::TagMpeg || tag == WaveFormatEx::TagAc3;
}

// How many sizes of framed sound chunks get a silent frame, and how many
// kept chunks of a size are looked at for its header.
constexpr std::size_t MaxFrameSizes = 64;
constexpr int FrameTries = 16;
// How many kept chunks of a stream are looked at for the frames lost chunks
// of several frames are made of.
constexpr int SeveralTries = 64;
// The largest lost chunk made of several silent frames.
constexpr std::uint32_t MaxSeveralBytes = 1 << 16;

// The headers silent frames are made from, for the lost MPEG audio and AC-3
// chunks' sizes, from kept chunks of the same stream and size.
std::vector<FrameHeader> FrameHeadersFor(BackupFile& file, const ScanResult& s, const std::vector<LostChunk>& lost,
                                         const StopCheck& stop) {
  std::vector<FrameHeader> wanted;
  std::vector<int> tries;
  for (const LostChunk& c : lost) {
    if (wanted.size() >= MaxFrameSizes || !MayBeFramedAudio(s, c.ChunkId)) continue;
    if (std::none_of(wanted.begin(), wanted.end(),
                     [&](const FrameHeader& f) { return f.ChunkId == c.ChunkId && f.Size == c.Size; }))
      wanted.push_back({c.ChunkId, c.Size, {}});
  }
  tries.assign(wanted.size(), 0);
  std::vector<FrameHeader> found;
  std::size_t looked = 0;
  for (const OldIndexEntry& e : s.Entries) {
    if (found.size() == wanted.size()) break;
    if ((++looked & 0xFFFF) == 0) MayStop(stop);
    for (std::size_t w = 0; w < wanted.size(); ++w) {
      if (wanted[w].ChunkId != e.ChunkId || wanted[w].Size != e.Size || tries[w] >= FrameTries) continue;
      ++tries[w];
      unsigned char h[sizeof wanted[w].Bytes];
      const std::int64_t got = file.Peek(h, std::min<std::int64_t>(sizeof h, e.Size), e.Position() + ChunkHeader::Size);
      if (got >= 8 && SoundFrameBytes(h, static_cast<std::size_t>(got)) == e.Size) {
        std::copy(h, h + got, wanted[w].Bytes);
        found.push_back(wanted[w]);
        tries[w] = FrameTries;  // settled
      }
    }
  }
  // A muxer may put several frames in one chunk (GStreamer does, now and
  // then): a lost chunk of a size no one frame has becomes frames of the
  // sizes the stream's kept chunks start with, that add up to it.
  std::vector<FourCC> several;
  for (const FrameHeader& w : wanted)
    if (std::none_of(found.begin(), found.end(), [&](const FrameHeader& f) { return f.ChunkId == w.ChunkId && f.Size == w.Size; }) &&
        std::find(several.begin(), several.end(), w.ChunkId) == several.end())
      several.push_back(w.ChunkId);
  for (const FourCC code : several) {
    int peeks = 0;
    for (const OldIndexEntry& e : s.Entries) {
      if (peeks >= SeveralTries || found.size() >= 2 * MaxFrameSizes) break;
      if (e.ChunkId != code) continue;
      if ((++peeks & 0xFF) == 0) MayStop(stop);
      FrameHeader frame{code, 0, {}};
      const std::int64_t got =
          file.Peek(frame.Bytes, std::min<std::int64_t>(sizeof frame.Bytes, e.Size), e.Position() + ChunkHeader::Size);
      if (got < 8) continue;
      frame.Size = SoundFrameBytes(frame.Bytes, static_cast<std::size_t>(got));
      if (frame.Size == 0 || frame.Size > e.Size ||
          std::any_of(found.begin(), found.end(), [&](const FrameHeader& f) { return f.ChunkId == code && f.Size == frame.Size; }))
        continue;
      found.push_back(frame);
    }
  }
  return found;
}

}  // namespace

namespace {

// The damaged stretch that holds position: its number, or -1 where none does.
std::int64_t StretchAt(const std::vector<DamagedStretch>& damage, std::int64_t position) {
  const auto d = std::upper_bound(damage.begin(), damage.end(), position,
                                  [](std::int64_t p, const DamagedStretch& x) { return p < x.From; });
  return d == damage.begin() || position >= std::prev(d)->To ? -1 : std::prev(d) - damage.begin();
}

// The lost chunks old indexes name, taken in file order into the stretches
// they lay in.
class LostChunks {
 public:
  LostChunks(const ScanResult& s, Timeline& out) : Walked(s.Entries), Damage(s.Damage), Out(out) {
    FirstKept = Walked.empty() ? 0 : Walked.front().Position();
  }

  // A chunk an index names (its header's position), of a stream the film
  // has: kept where it is no chunk the walk found and lies wholly in a
  // damaged stretch (or before the first kept chunk), after the last one
  // taken and clear of it. An index lists its chunks in file order: one
  // going back, overlapping another or running past its stretch is a
  // damaged index's.
  void Take(std::int64_t position, FourCC code, std::uint32_t size, int stream) {
    const std::int64_t end = position + ChunkHeader::Size + size;
    if (Out.Chunks.size() >= MaxLostChunks || FindEntry(Walked, position) < Walked.size()) return;
    // Which stretch it lay in, and how far that stretch reaches.
    std::int64_t at = -1, from = 0, to = FirstKept;
    if (position >= FirstKept) {
      at = StretchAt(Damage, position);
      if (at < 0) return;
      from = Damage[static_cast<std::size_t>(at)].From;
      to = Damage[static_cast<std::size_t>(at)].To;
    }
    if (at < Region || (at == Region && position < FreeFrom) || Padded(end) > Padded(to)) return;
    const std::size_t before = at < 0 ? 0 : FirstEntryFrom(Walked, from);
    if (at != Region || Out.Stretches.back().Before != before) {
      StretchLoss stretch;
      stretch.Offset = at < 0 ? position : from;
      stretch.Before = before;
      stretch.First = Out.Chunks.size();
      Out.Stretches.push_back(std::move(stretch));
    }
    Region = at;
    FreeFrom = Padded(end);
    StretchLoss& stretch = Out.Stretches.back();
    ++stretch.Count;
    Out.Chunks.push_back({code, size});
    if (stretch.Streams.size() <= static_cast<std::size_t>(stream)) stretch.Streams.resize(stream + 1);
    ++stretch.Streams[stream].Chunks;
    stretch.Streams[stream].Bytes += size;
  }

 private:
  const IndexEntries& Walked;
  const std::vector<DamagedStretch>& Damage;
  Timeline& Out;
  std::int64_t FirstKept = 0;
  std::int64_t Region = -2;   // the current stretch's: -1 the lost start, else its damage number
  std::int64_t FreeFrom = 0;  // where the last lost chunk of the current stretch ends
};

// The lost chunks of an OpenDML film from `from` on (its later segments,
// which its idx1 does not list), from its own standard indexes. A standard
// index is believed only where it agrees with the walk: each of its entries
// outside the damaged stretches names a chunk the walk found.
void TakeFromOdmlIndexes(BackupFile& file, const ScanResult& s, std::int64_t from, LostChunks& lost,
                         const StopCheck& stop) {
  const std::int64_t fileSize = file.SourceSize();
  struct Named {
    std::int64_t Position;
    FourCC Code;
    std::uint32_t Size;
    int Stream;
  };
  std::vector<Named> named;
  ForEachStandardIndex(file, s.Headers, stop, [&](const StandardIndexView& index) {
    if (!index.Readable || StreamNumber(index.ChunkId, s.Numbering) != static_cast<int>(index.Stream) ||
        ChunkKind(index.ChunkId) == KindPalette)
      return;
    std::vector<Named> mine;
    for (std::uint32_t i = 0; i < index.Count; ++i) {
      const std::int64_t position = index.Position(i);
      const std::uint32_t size = index.At(i).DataSize();
      if (position < from || position > fileSize - ChunkHeader::Size - std::int64_t{size}) continue;
      const std::size_t w = FindEntry(s.Entries, position);
      if (w < s.Entries.size() && (s.Entries[w].ChunkId & 0xFFFF) == (index.ChunkId & 0xFFFF) &&
          s.Entries[w].Size == size)
        continue;
      if (StretchAt(s.Damage, position) < 0) return;  // an index that disagrees with the walk
      mine.push_back({position, index.ChunkId, size, static_cast<int>(index.Stream)});
    }
    named.insert(named.end(), mine.begin(), mine.end());
  });
  std::sort(named.begin(), named.end(), [](const Named& a, const Named& b) { return a.Position < b.Position; });
  for (const Named& n : named) lost.Take(n.Position, n.Code, n.Size, n.Stream);
}

}  // namespace

Timeline TimelineFromOldIndex(BackupFile& file, const ScanResult& s, const StopCheck& stop) {
  Timeline out;
  const IndexEntries& walked = s.Entries;
  if (walked.empty()) return out;
  LostChunks lost(s, out);
  OldIndexReader index(file, s, stop);
  const std::int64_t base = index.Size() == 0 ? -1 : IndexBase(index, s);
  const std::int64_t fileSize = file.SourceSize();
  const std::int64_t firstKept = walked.front().Position();
  // An OpenDML file's idx1 covers its first RIFF.
  const std::int64_t dataEnd = s.SegmentList.front().End;
  const std::size_t described = s.Headers.Streams.size();
  std::vector<FourCC> codes;  // the stream codes the walk met
  for (const OldIndexEntry& e : walked)
    if (std::find(codes.begin(), codes.end(), e.ChunkId) == codes.end()) codes.push_back(e.ChunkId);
  for (std::int64_t k = 0; base >= 0 && k < index.Size() && out.Chunks.size() < MaxLostChunks; ++k) {
    const unsigned char* raw = index.At(k);
    if (!IsStreamChunkId(raw)) continue;
    const Idx1Entry e = Idx1Entry::Load(raw);
    if (ChunkKind(e.ChunkId) == KindPalette) continue;  // a palette change holds no time
    const int stream = StreamNumber(e.ChunkId, s.Numbering);
    if (described > 0 ? static_cast<std::size_t>(stream) >= described
                      : std::find(codes.begin(), codes.end(), e.ChunkId) == codes.end())
      continue;
    const std::int64_t position = base + e.Offset;
    const std::int64_t end = position + ChunkHeader::Size + e.ChunkSize;
    if (position < 0 || end > fileSize || end > dataEnd) continue;
    // Without damage in the data only a lost start can have lost chunks, and
    // the index lists them before the first kept one: a film that lost
    // nothing has the rest of its index left unread.
    if (s.Damage.empty() && position >= firstKept) break;
    lost.Take(position, e.ChunkId, e.ChunkSize, stream);
  }
  // Where the idx1 cannot be believed, the standard indexes tell the first
  // segment's losses too.
  if (s.IsOpenDml() && !s.Damage.empty()) TakeFromOdmlIndexes(file, s, base >= 0 ? dataEnd : 0, lost, stop);
  out.FrameHeaders = FrameHeadersFor(file, s, out.Chunks, stop);
  return out;
}

Timeline TimelineOf(BackupFile& file, const ScanResult& s, const StopCheck& stop) {
  if (s.OldIndexPosition >= 0 || s.IsOpenDml() || s.Entries.empty()) return TimelineFromOldIndex(file, s, stop);
  // The headers' lengths count the film's chunks where its data ends where
  // its movi list says: nothing was cut from it.
  bool whole = false;
  unsigned char size[4];
  const std::int64_t movi = s.SegmentList.front().MoviPosition;
  if (!s.StartLost && !s.MoviHeaderLost && !s.EndsInsideChunk && file.Peek(size, sizeof size, movi + 4) == sizeof size)
    whole = Padded(movi + ChunkHeader::Size + std::int64_t{VEK::LoadLe32(size)}) <= Padded(s.End());
  Timeline out = TimelineFromClocks(s, whole);
  out.FrameHeaders = FrameHeadersFor(file, s, out.Chunks, stop);
  return out;
}

namespace {

// "0.96", in French "0,96": seconds to the hundredth.
std::string Hundredths(std::int64_t milliseconds) {
  const long long hundredths = (milliseconds + 5) / 10;
  char text[32];
  std::snprintf(text, sizeof text, "%lld%s%02lld", hundredths / 100, VEK::LanguageIndex() == VEK::French ? "," : ".",
                hundredths % 100);
  return text;
}

// "00:01:23".
std::string Clock(const FilmPosition& at) {
  const long long seconds = at.Milliseconds / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

// The playing time of an audio stream's lost chunks, by its header's rate;
// -1 where the header tells none.
std::int64_t SoundMilliseconds(const StreamHeader& h, const StreamLoss& loss) {
  if (!h.Readable || !h.IsAudio() || h.Rate == 0 || h.Scale == 0) return -1;
  const std::int64_t units = h.SampleSize > 0 ? loss.Bytes / h.SampleSize : loss.Chunks;
  return static_cast<std::int64_t>(static_cast<long double>(units) * h.Scale * 1000 / h.Rate);
}

}  // namespace

Findings TimelineFindings(const ScanResult& scan, const Timeline& timeline) {
  Findings found;
  const std::vector<StreamHeader>& headers = scan.Headers.Streams;
  // The film's frames are the first video stream's (any video where no
  // header says which).
  int video = -1;
  for (std::size_t s = 0; s < headers.size() && video < 0; ++s)
    if (headers[s].IsVideo()) video = static_cast<int>(s);
  auto isFilmFrame = [&](FourCC code) {
    return IsVideoKind(code) && (video < 0 || StreamNumber(code, scan.Numbering) == video);
  };
  std::int64_t frames = 0;  // the film's frames before the stretch, lost ones included
  std::size_t counted = 0;  // the walk's entries counted into them
  for (std::size_t i = 0; i < timeline.Stretches.size();) {
    const StretchLoss& first = timeline.Stretches[i];
    for (; counted < first.Before && counted < scan.Entries.size(); ++counted)
      frames += isFilmFrame(scan.Entries[counted].ChunkId);
    const std::optional<FilmPosition> when = FilmPositionOf(scan.Headers, frames);
    // One line for one damaged stretch, however many records it took.
    std::int64_t lostFrames = 0, soundMs = -1;
    for (; i < timeline.Stretches.size() && timeline.Stretches[i].Offset == first.Offset; ++i) {
      const StretchLoss& part = timeline.Stretches[i];
      for (std::size_t c = part.First; c < part.First + part.Count; ++c)
        lostFrames += isFilmFrame(timeline.Chunks[c].ChunkId);
      for (std::size_t s = 0; s < part.Streams.size() && s < headers.size(); ++s)
        if (part.Streams[s].Chunks > 0) soundMs = std::max(soundMs, SoundMilliseconds(headers[s], part.Streams[s]));
      if (i + 1 < timeline.Stretches.size() && timeline.Stretches[i + 1].Offset == first.Offset)
        for (; counted < timeline.Stretches[i + 1].Before && counted < scan.Entries.size(); ++counted)
          frames += isFilmFrame(scan.Entries[counted].ChunkId);
    }
    frames += lostFrames;
    if (lostFrames == 0 && soundMs < 0) continue;
    const std::string where = when ? VEK::Text(Msg::LostWhen, {Clock(*when), first.Offset})
                                   : VEK::Text(Msg::LostWhere, {first.Offset});
    std::string line;
    if (lostFrames > 0 && soundMs >= 0)
      line = VEK::Text(lostFrames == 1 ? Msg::LostFrameSound : Msg::LostFramesSound,
                       {lostFrames, Hundredths(soundMs), where});
    else if (lostFrames > 0)
      line = VEK::Text(lostFrames == 1 ? Msg::LostFrame : Msg::LostFrames, {lostFrames, where});
    else
      line = VEK::Text(Msg::LostSound, {Hundredths(soundMs), where});
    // The line names its place in the film itself: no place beside it.
    found.push_back({line, false, std::nullopt, FindingKind::LostData, first.Offset, -1});
  }
  return found;
}

namespace {

// Placeholder chunks laid out from a position, one for each code, size and
// fill however many lost chunks' entries point at it, under the headers in
// force for the copy.
class PlaceholderChunks {
 public:
  PlaceholderChunks(const AviHeaders& headers, StreamNumbering numbering, const Timeline& timeline, std::int64_t at,
                    std::size_t pad)
      : Headers(headers), Numbering(numbering), Lines(timeline), At(at) {
    Bytes.assign(pad, 0);
  }

  // The entry of a lost chunk: an empty video frame, a sound chunk of
  // silence of its size, or an empty entry where no silence can be made.
  OldIndexEntry EntryFor(const LostChunk& lost) {
    if (IsVideoKind(lost.ChunkId)) return OldIndexEntry(lost.ChunkId, 0, Chunk(lost.ChunkId, 0, 0), 0);
    const int fill = ChunkKind(lost.ChunkId) == KindAudio ? SilenceByte(Headers, Numbering, lost.ChunkId) : -1;
    const bool fresh = Written.find(std::make_tuple(lost.ChunkId, lost.Size, fill)) == Written.end();
    if (fill >= 0 && (!fresh || Silence + lost.Size <= MaxSilenceBytes)) {
      if (fresh) Silence += lost.Size;
      return OldIndexEntry(lost.ChunkId, AVIIF_KEYFRAME, Chunk(lost.ChunkId, lost.Size, fill), lost.Size);
    }
    const std::vector<const FrameHeader*>& frames = FramesOf(lost);
    if (!frames.empty())
      return OldIndexEntry(lost.ChunkId, AVIIF_KEYFRAME, Chunk(lost.ChunkId, lost.Size, 0, &frames), lost.Size);
    return OldIndexEntry(lost.ChunkId, AVIIF_KEYFRAME, Chunk(lost.ChunkId, 0, 0), 0);
  }

  std::vector<unsigned char> Bytes;

 private:
  // The silent frames a lost chunk of framed sound is made of, one after
  // the other: the one frame of its size, else the fewest frames that add
  // up to its size, of the sizes the stream's kept frames have, then of
  // those with the other padding, then (MPEG audio) at any bit rate, as a
  // variable rate stream has them; none where no silence can be made.
  const std::vector<const FrameHeader*>& FramesOf(const LostChunk& lost) {
    const auto key = std::make_pair(lost.ChunkId, lost.Size);
    const auto known = Splits.find(key);
    if (known != Splits.end()) return known->second;
    std::vector<const FrameHeader*> sizes;
    for (const FrameHeader& f : Lines.FrameHeaders)
      if (f.ChunkId == lost.ChunkId && f.Size > 0) sizes.push_back(&f);
    std::vector<const FrameHeader*> frames;
    const auto one = std::find_if(sizes.begin(), sizes.end(), [&](const FrameHeader* f) { return f->Size == lost.Size; });
    if (one != sizes.end()) frames.push_back(*one);
    const std::size_t own = sizes.size();
    for (int stage = 0; stage < 3 && frames.empty() && own > 0 && lost.Size <= MaxSeveralBytes; ++stage) {
      if (stage > 0) AddVariants(sizes, own, stage == 2);
      frames = Adding(sizes, lost.Size);
    }
    return Splits.emplace(key, std::move(frames)).first->second;
  }

  // MPEG audio frames like the first own ones of sizes: each with the other
  // padding, or at every bit rate, with and without.
  void AddVariants(std::vector<const FrameHeader*>& sizes, std::size_t own, bool everyRate) {
    for (std::size_t k = 0; k < own; ++k) {
      const FrameHeader& f = *sizes[k];
      if (f.Bytes[0] != 0xFF) continue;
      const int rate = f.Bytes[2] >> 4;
      for (int bitrate = everyRate ? 1 : rate; bitrate <= (everyRate ? 14 : rate); ++bitrate)
        for (int padding = 0; padding < 2; ++padding) {
          FrameHeader variant = f;
          variant.Bytes[2] = static_cast<unsigned char>((bitrate << 4) | (padding << 1) | (f.Bytes[2] & 0x0D));
          variant.Size = Layer3FrameBytes(variant.Bytes);
          if (variant.Size == 0 || std::any_of(sizes.begin(), sizes.end(), [&](const FrameHeader* g) {
                return g->Size == variant.Size;
              }))
            continue;
          Variants.push_back(variant);
          sizes.push_back(&Variants.back());
        }
    }
  }

  // The fewest frames of the given sizes that add up to size; none where
  // no such frames do.
  static std::vector<const FrameHeader*> Adding(const std::vector<const FrameHeader*>& sizes, std::uint32_t size) {
    constexpr std::uint32_t None = ~0u;
    // Fewest frames to each size up to the chunk's, and the last frame taken.
    std::vector<std::uint32_t> count(size + 1, None), last(size + 1, 0);
    count[0] = 0;
    for (std::uint32_t n = 1; n <= size; ++n)
      for (std::uint32_t k = 0; k < sizes.size(); ++k) {
        const std::uint32_t bytes = sizes[k]->Size;
        if (bytes <= n && count[n - bytes] != None && count[n - bytes] + 1 < count[n]) {
          count[n] = count[n - bytes] + 1;
          last[n] = k;
        }
      }
    std::vector<const FrameHeader*> frames;
    if (count[size] != None)
      for (std::uint32_t n = size; n > 0; n -= sizes[last[n]]->Size) frames.push_back(sizes[last[n]]);
    return frames;
  }

  // frames: the silent frames of sound its data is made of.
  std::int64_t Chunk(FourCC code, std::uint32_t size, int fill,
                     const std::vector<const FrameHeader*>* frames = nullptr) {
    const auto key = std::make_tuple(code, size, frames ? -2 : fill);
    const auto found = Written.find(key);
    if (found != Written.end()) return found->second;
    const std::int64_t position = At + static_cast<std::int64_t>(Bytes.size());
    unsigned char header[ChunkHeader::Size];
    ChunkHeader{code, size}.Store(header);
    Bytes.insert(Bytes.end(), header, header + sizeof header);
    std::size_t data = Bytes.size();
    Bytes.insert(Bytes.end(), Padded(size), static_cast<unsigned char>(fill));
    if (size & 1) Bytes.back() = 0;
    for (const FrameHeader* frame : frames ? *frames : std::vector<const FrameHeader*>{}) {
      if (frame->Bytes[0] == 0x0B) {
        const std::vector<unsigned char> silent = VEKCodec::SilentAc3Frame(frame->Bytes, sizeof frame->Bytes);
        std::copy(silent.begin(), silent.end(), Bytes.begin() + static_cast<std::ptrdiff_t>(data));
      } else {
        // No CRC: the side information and the data that follow are zeros,
        // a frame whose granules hold no sound.
        std::copy(frame->Bytes, frame->Bytes + 4, Bytes.begin() + static_cast<std::ptrdiff_t>(data));
        Bytes[data + 1] |= 0x01;
      }
      data += frame->Size;
    }
    Written.emplace(key, position);
    return position;
  }

  const AviHeaders& Headers;
  StreamNumbering Numbering;
  const Timeline& Lines;
  std::int64_t At;
  std::int64_t Silence = 0;
  std::map<std::tuple<FourCC, std::uint32_t, int>, std::int64_t> Written;
  std::map<std::pair<FourCC, std::uint32_t>, std::vector<const FrameHeader*>> Splits;
  std::deque<FrameHeader> Variants;  // where frames of other sizes than the kept ones live
};

// Whether a copy under these headers keeps the lost chunks' places at all.
bool KeepsPlaces(const AviHeaders& headers, const Timeline& timeline) {
  return !timeline.Empty() && std::all_of(headers.Streams.begin(), headers.Streams.end(), Timed);
}

// Whether a lost start's placeholders of bytes fill the room ahead of the
// first kept chunk: the JUNK chunk after them must end on that chunk as a
// reader rounds its size, so the rest is even, unless there is none.
bool LeadFits(std::int64_t room, std::int64_t bytes) {
  const std::int64_t rest = room - bytes;
  return rest == 0 || (rest >= ChunkHeader::Size && (rest & 1) == 0);
}

// A JUNK chunk's header that spans bytes, its own 8 included.
void AppendJunk(std::vector<unsigned char>& out, std::int64_t bytes) {
  unsigned char junk[ChunkHeader::Size];
  ChunkHeader{CodeJunk, static_cast<std::uint32_t>(bytes - ChunkHeader::Size)}.Store(junk);
  out.insert(out.end(), junk, junk + sizeof junk);
}

// The entries of a lost start, each pointing into the chunks laid out at at.
std::vector<OldIndexEntry> LeadEntries(PlaceholderChunks& chunks, const Timeline& timeline) {
  std::vector<OldIndexEntry> entries;
  for (const StretchLoss& stretch : timeline.Stretches) {
    if (stretch.Before != 0) break;
    for (std::size_t c = stretch.First; c < stretch.First + stretch.Count; ++c)
      entries.push_back(chunks.EntryFor(timeline.Chunks[c]));
  }
  return entries;
}

}  // namespace

std::int64_t LeadBytes(const ScanResult& scan, const AviHeaders& headers, const Timeline& timeline) {
  if (!KeepsPlaces(headers, timeline)) return 0;
  PlaceholderChunks chunks(headers, scan.Numbering, timeline, 0, 0);
  LeadEntries(chunks, timeline);
  return static_cast<std::int64_t>(chunks.Bytes.size());
}

namespace {

// The segment after whose data the placeholders of each stretch after the
// first kept chunk go: the one of the last chunk kept before it.
std::vector<std::size_t> StretchSegments(const ScanResult& scan, const Timeline& timeline) {
  std::vector<std::size_t> out;
  const Segments& segments = scan.SegmentList;
  for (const StretchLoss& stretch : timeline.Stretches) {
    std::size_t k = 0;
    if (stretch.Before > 0 && !scan.Entries.empty()) {
      const std::int64_t kept = scan.Entries[std::min(stretch.Before, scan.Entries.size()) - 1].Position();
      while (k + 1 < segments.size() && kept >= segments[k + 1].MoviPosition) ++k;
    }
    out.push_back(k);
  }
  return out;
}

// By segment: the bytes of the placeholders of the chunks lost after the
// first kept one, laid out from 0, and their entries.
std::vector<PlaceholderRoom> TrailingRooms(const ScanResult& scan, const Timeline& timeline) {
  std::vector<PlaceholderRoom> rooms(scan.SegmentList.size());
  if (!KeepsPlaces(scan.Headers, timeline)) return rooms;
  const std::vector<std::size_t> segmentOf = StretchSegments(scan, timeline);
  std::vector<std::unique_ptr<PlaceholderChunks>> chunks(rooms.size());
  for (std::size_t i = 0; i < timeline.Stretches.size(); ++i) {
    const StretchLoss& stretch = timeline.Stretches[i];
    if (stretch.Before == 0) continue;
    std::unique_ptr<PlaceholderChunks>& laid = chunks[segmentOf[i]];
    if (!laid) laid = std::make_unique<PlaceholderChunks>(scan.Headers, scan.Numbering, timeline, 0, 0);
    for (std::size_t c = stretch.First; c < stretch.First + stretch.Count; ++c) laid->EntryFor(timeline.Chunks[c]);
    rooms[segmentOf[i]].Entries += stretch.Count;
  }
  for (std::size_t k = 0; k < rooms.size(); ++k)
    if (chunks[k]) rooms[k].Bytes = static_cast<std::int64_t>(chunks[k]->Bytes.size());
  return rooms;
}

}  // namespace

PlaceholderRoom TrailingRoom(const ScanResult& scan, const Timeline& timeline) {
  PlaceholderRoom room;
  for (const PlaceholderRoom& r : TrailingRooms(scan, timeline)) {
    room.Bytes += r.Bytes;
    room.Entries += r.Entries;
  }
  return room;
}

std::vector<PlaceholderRoom> CopyRooms(const ScanResult& scan, const Timeline& timeline, std::int64_t lead) {
  std::vector<PlaceholderRoom> rooms = TrailingRooms(scan, timeline);
  if (!KeepsPlaces(scan.Headers, timeline) || scan.Entries.empty()) return rooms;
  PlaceholderChunks leading(scan.Headers, scan.Numbering, timeline, 0, 0);
  const std::size_t entries = LeadEntries(leading, timeline).size();
  const std::int64_t ahead = scan.Entries.front().Position() - (scan.MoviOffset - lead + ListHeader::Size);
  if (entries > 0 && LeadFits(ahead, static_cast<std::int64_t>(leading.Bytes.size()))) rooms.front().Entries += entries;
  return rooms;
}

ScanResult WithPlaceholders(ScanResult scan, const Timeline& timeline, const PlaceholderPlace& place) {
  const std::int64_t lead = place.Lead;
  // The movi list's header lies lead bytes ahead of the data, where the new
  // header list put it to leave the lost start's placeholders their room.
  if (lead > 0) {
    scan.MoviOffset -= lead;
    scan.SegmentList.front().MoviPosition -= lead;
  }
  const std::int64_t leadAt = scan.MoviOffset + ListHeader::Size;
  const std::int64_t room = scan.Entries.empty() ? 0 : scan.Entries.front().Position() - leadAt;
  const bool keeps = KeepsPlaces(scan.Headers, timeline);
  // A lost start's placeholders go first in the list as in the index:
  // ffmpeg's reader takes the first entry of an idx1 for the first chunk
  // of the list, and reads nothing where it is not. They fill their room,
  // or a JUNK chunk fills the rest of it; where they cannot, the lost start
  // keeps no place.
  std::vector<OldIndexEntry> leadEntries;
  if (keeps && place.KeepLead) {
    PlaceholderChunks leading(scan.Headers, scan.Numbering, timeline, leadAt, 0);
    leadEntries = LeadEntries(leading, timeline);
    const std::int64_t rest = room - static_cast<std::int64_t>(leading.Bytes.size());
    if (!leadEntries.empty() && LeadFits(room, static_cast<std::int64_t>(leading.Bytes.size()))) {
      scan.Lead = std::move(leading.Bytes);
      if (rest > 0) AppendJunk(scan.Lead, rest);
      scan.LeadAt = leadAt;
    } else {
      leadEntries.clear();
    }
  }
  // Room the new header list left that no placeholder took.
  if (leadEntries.empty() && lead >= ChunkHeader::Size) {
    AppendJunk(scan.Lead, lead);
    scan.LeadAt = leadAt;
  }
  if (!keeps) return scan;
  if (leadEntries.empty() && std::all_of(timeline.Stretches.begin(), timeline.Stretches.end(),
                                         [](const StretchLoss& stretch) { return stretch.Before == 0; }))
    return scan;
  // After the movi data (of the segment the stretch lay in), on a position
  // even from its list's start, as every chunk.
  Segments& segments = scan.SegmentList;
  const std::vector<std::size_t> segmentOf = StretchSegments(scan, timeline);
  std::vector<std::int64_t> at(segments.size()), pad(segments.size());
  for (std::size_t k = 0; k < segments.size(); ++k) {
    at[k] = k == 0 && place.At >= 0 ? place.At : segments[k].End;
    pad[k] = (at[k] - (k == 0 ? scan.MoviOffset : segments[k].MoviPosition)) & 1;
  }
  std::vector<std::unique_ptr<PlaceholderChunks>> trailing(segments.size());
  IndexEntries merged;
  for (const OldIndexEntry& e : leadEntries) merged.push_back(e);
  std::size_t taken = 0;
  for (std::size_t i = 0; i < timeline.Stretches.size(); ++i) {
    const StretchLoss& stretch = timeline.Stretches[i];
    if (stretch.Before == 0) continue;  // the lead's, above
    for (; taken < stretch.Before && !scan.Entries.empty(); ++taken) {
      merged.push_back(scan.Entries.front());
      scan.Entries.pop_front();
    }
    const std::size_t k = segmentOf[i];
    if (!trailing[k])
      trailing[k] = std::make_unique<PlaceholderChunks>(scan.Headers, scan.Numbering, timeline, at[k],
                                                        static_cast<std::size_t>(pad[k]));
    for (std::size_t c = stretch.First; c < stretch.First + stretch.Count; ++c)
      merged.push_back(trailing[k]->EntryFor(timeline.Chunks[c]));
  }
  while (!scan.Entries.empty()) {
    merged.push_back(scan.Entries.front());
    scan.Entries.pop_front();
  }
  scan.Entries = std::move(merged);
  for (std::size_t k = 0; k < segments.size(); ++k) {
    if (!trailing[k] || trailing[k]->Bytes.size() <= static_cast<std::size_t>(pad[k])) continue;
    const auto bytes = static_cast<std::int64_t>(trailing[k]->Bytes.size());
    if (k == 0) {
      scan.PlaceholdersAt = at[0];
      scan.Placeholders = std::move(trailing[0]->Bytes);
      if (place.At < 0) segments[0].End = at[0] + bytes;
    } else {
      scan.SegmentPlaceholders.push_back({at[k], std::move(trailing[k]->Bytes)});
      segments[k].End = at[k] + bytes;
    }
  }
  return scan;
}

}  // namespace VEKRiff
