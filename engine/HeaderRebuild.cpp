#include "engine/HeaderRebuild.h"

#include <algorithm>
#include <cmath>

#include "avi/HeaderListWriter.h"
#include "codec/KeyFrame.h"
#include "engine/EngineMessages.h"
#include "engine/Failures.h"
#include "engine/HeaderCounts.h"
#include "file/BackupFile.h"

namespace VEKRiff {

using namespace VEKAvi;
using VEKCodec::VideoFamily;

namespace {

constexpr std::uint32_t AssumedRate = 25;

// What the data of each stream number holds, for the counts and buffer sizes.
struct StreamData {
  std::int64_t Chunks = 0, Bytes = 0;
  std::uint32_t Largest = 0;
};

std::vector<StreamData> DataOf(const ScanResult& scan, std::size_t n) {
  std::vector<StreamData> data(n);
  for (const OldIndexEntry& e : scan.Entries) {
    const std::size_t s = static_cast<std::size_t>(StreamNumber(e.ChunkId, scan.Numbering));
    if (s >= n || ChunkKind(e.ChunkId) == KindPalette) continue;
    ++data[s].Chunks;
    data[s].Bytes += e.Size;
    data[s].Largest = std::max(data[s].Largest, e.Size);
  }
  return data;
}

std::vector<unsigned char> BitmapFormat(const BitmapInfoHeader& b) {
  std::vector<unsigned char> f(BitmapInfoHeader::Size);
  b.Store(f.data());
  return f;
}

std::vector<unsigned char> WaveFormat(const WaveFormatEx& w) {
  std::vector<unsigned char> f(WaveFormatEx::Size);
  w.Store(f.data());
  return f;
}

// The records of a format, or empty ones where it is too short to hold them
// (a damaged reference's, say).
BitmapInfoHeader BitmapOf(const std::vector<unsigned char>& f) {
  return f.size() >= BitmapInfoHeader::Size ? BitmapInfoHeader::Load(f.data()) : BitmapInfoHeader{};
}
WaveFormatEx WaveOf(const std::vector<unsigned char>& f) {
  return f.size() >= WaveFormatEx::Needed ? WaveFormatEx::Load(f.data(), static_cast<std::uint32_t>(f.size()))
                                          : WaveFormatEx{};
}

bool Printable(FourCC code) { return CodeText(code).size() == 4; }

// What a rebuild may take from each stream of a reference file.
struct ReferenceUse {
  bool Header = false, Format = false;
};

// A line of the check, to follow a colon.
std::string Lowered(std::string line) {
  if (!line.empty() && line[0] >= 'A' && line[0] <= 'Z') line[0] = static_cast<char>(line[0] - 'A' + 'a');
  return line;
}

// Refuses a reference whose streams are not laid out as this file's: one the
// data holds that it lacks, or has of another kind. The others' strh and
// strf are judged as the check judges a file's own, against this file's
// data: a part that is damaged, implausible or says another codec or picture
// size than the bitstream is not used (the data wins), and a line says why.
// Only the streams the data holds take anything from it.
std::vector<ReferenceUse> JudgeReference(const HeaderVerdict& verdict, const AviHeaders& reference,
                                         const ScanResult& scan, Findings& lines) {
  std::vector<ReferenceUse> use(verdict.Streams.size());
  for (std::size_t s = 0; s < verdict.Streams.size(); ++s) {
    const StreamVerdict& v = verdict.Streams[s];
    if (!v.InData()) continue;
    if (s >= reference.Streams.size()) throw ErrorException(VEK::Text(Msg::ReferenceNoStream, {s}));
    const StreamHeader& r = reference.Streams[s];
    if (!r.Strh.empty() && ((v.Video && r.Type != CodeVids) || (v.Audio && r.Type != CodeAuds)))
      throw ErrorException(VEK::Text(Msg::ReferenceKind, {s, CodeText(r.Type), CodeText(v.Code)}));
    StreamVerdict judged = v;
    judged.HeaderSound = judged.FormatSound = true;
    Findings why;
    CheckStreamHeader(s, r, s < scan.FirstChunks.size() ? &scan.FirstChunks[s] : nullptr, judged, why);
    use[s].Format = judged.FormatSound;
    // A video stream's header times it whatever its format; an audio
    // stream's units are its format's, and go with it.
    use[s].Header = judged.HeaderSound && (v.Video || judged.FormatSound);
    std::string reasons;
    for (const Finding& f : why) reasons += (reasons.empty() ? Lowered(f.Line) : " " + f.Line);
    if (!use[s].Format)
      lines.push_back({VEK::Text(Msg::ReferenceFormatNotUsed, {s, reasons}), false, {}, FindingKind::Note, -1,
                       static_cast<int>(s)});
    else if (!use[s].Header)
      lines.push_back({VEK::Text(Msg::ReferenceHeaderNotUsed, {s, reasons}), false, {}, FindingKind::Note, -1,
                       static_cast<int>(s)});
  }
  return use;
}

class Planner {
 public:
  Planner(const ScanResult& scan, const HeaderVerdict& verdict, const AviHeaders* reference,
          std::vector<ReferenceUse> use)
      : Scan(scan),
        Verdict(verdict),
        Reference(reference),
        Use(std::move(use)),
        Data(DataOf(scan, verdict.Streams.size())) {}

  NewHeaderList Plan() {
    NewHeaderList list;
    // The numbers the list describes: its own, and those of the data that
    // follow them without a gap, or as many as the reference describes; but
    // none past the last the data holds. A stream count that is damage, or
    // a reference with other streams, adds no stream that holds nothing.
    std::size_t n = Scan.Headers.Streams.size();
    while (n < Verdict.Streams.size() && Verdict.Streams[n].InData()) ++n;
    if (Reference) n = std::max(n, Reference->Streams.size());
    std::size_t held = 0;
    for (std::size_t s = 0; s < Verdict.Streams.size(); ++s)
      if (Verdict.Streams[s].InData()) held = s + 1;
    n = std::min(n, held);
    for (std::size_t s = 0; s < n; ++s) list.Streams.push_back(Stream(s));
    // Placeholders at the end number no stream after them; one whose stream
    // has data keeps that data a stream players know to pass over.
    while (!list.Streams.empty() && list.Streams.back().Format.empty() && !Of(list.Streams.size() - 1).InData())
      list.Streams.pop_back();
    list.Main = Main(list);
    list.OpenDml = Scan.IsOpenDml();
    return list;
  }

  Findings Lines;

 private:
  const StreamHeader* Old(std::size_t s) const {
    return s < Scan.Headers.Streams.size() ? &Scan.Headers.Streams[s] : nullptr;
  }
  // The reference's strh and strf of a stream, where they may be used.
  const StreamHeader* RefHeader(std::size_t s) const {
    return Reference && s < Use.size() && Use[s].Header ? &Reference->Streams[s] : nullptr;
  }
  const StreamHeader* RefFormat(std::size_t s) const {
    return Reference && s < Use.size() && Use[s].Format ? &Reference->Streams[s] : nullptr;
  }
  const StreamVerdict& Of(std::size_t s) const {
    static const StreamVerdict none;
    return s < Verdict.Streams.size() ? Verdict.Streams[s] : none;
  }
  StreamData DataFor(std::size_t s) const { return s < Data.size() ? Data[s] : StreamData{}; }
  void Say(const VEK::MessagePair& text, std::initializer_list<VEK::FormatArg> args) {
    Lines.push_back({VEK::Text(text, args), false});
  }

  NewStream Stream(std::size_t s) {
    const StreamVerdict& v = Of(s);
    const StreamHeader* old = Old(s);
    const StreamHeader* refHeader = RefHeader(s);
    const StreamHeader* refFormat = RefFormat(s);
    NewStream out;
    const bool keepHeader = old && !old->Strh.empty() && v.HeaderSound;
    const bool keepFormat = old && !old->Strf.empty() && v.FormatSound;
    if (keepFormat) {
      out.Format = old->Strf;
    } else if (refFormat) {
      out.Format = refFormat->Strf;
    }
    if (keepHeader) {
      out.Header = StreamHeaderRecord::Load(old->Strh.data(), static_cast<std::uint32_t>(old->Strh.size()));
    } else if (refHeader) {
      out.Header = StreamHeaderRecord::Load(refHeader->Strh.data(), static_cast<std::uint32_t>(refHeader->Strh.size()));
    }
    if (refFormat && !keepFormat)
      Say(Msg::ReferenceUsed, {s});
    else if (refHeader && !keepHeader)
      Say(Msg::ReferenceHeaderUsed, {s});
    const bool haveHeader = keepHeader || refHeader, haveFormat = keepFormat || refFormat;
    if (v.Video) {
      FromVideoData(s, out, haveHeader, haveFormat);
      // The reference's header over a format it did not give: its codec and
      // frame are the format's.
      if (refHeader && !keepHeader && !haveFormat && out.Format.size() >= BitmapInfoHeader::Size) {
        const BitmapInfoHeader b = BitmapOf(out.Format);
        out.Header.Handler = b.Compression;
        out.Header.Frame[0] = out.Header.Frame[1] = 0;
        out.Header.Frame[2] = static_cast<std::int16_t>(b.Width);
        out.Header.Frame[3] = static_cast<std::int16_t>(b.Height < 0 ? -b.Height : b.Height);
      }
    } else if (v.Audio) {
      FromAudioData(s, out, haveHeader, haveFormat);
    } else if (!haveHeader) {
      Placeholder(out);
    }
    const StreamData data = DataFor(s);
    out.Header.SuggestedBufferSize = std::max(out.Header.SuggestedBufferSize, data.Largest);
    out.Header.Length = 0;  // counted once the list is laid out
    if (Scan.IsOpenDml()) {
      // Room for the super index the rebuild writes: as much as the old
      // header kept, or enough for one standard index per RIFF.
      const std::uint32_t kept = old ? std::max(old->IndxSize, old->JunkSize) : 0;
      out.IndexReserve =
          std::max<std::uint32_t>(kept, 24 + 16 * static_cast<std::uint32_t>(Scan.SegmentList.size() + 1));
    }
    return out;
  }

  // A stream whose format is not known keeps its number with a header that
  // claims nothing: players pass over a data stream, where a wrong picture
  // or sound format would play as noise or stop them. (Not a text stream:
  // ffmpeg probes those, and took MS-MPEG4 pictures for MP3 sound.)
  static void Placeholder(NewStream& out) {
    out.Header = StreamHeaderRecord{};
    out.Header.Type = CodeDats;
    out.Header.Scale = out.Header.Rate = 1;
    out.Format.clear();
  }

  void FromVideoData(std::size_t s, NewStream& out, bool haveHeader, bool haveFormat) {
    const StreamVerdict& v = Of(s);
    const StreamHeader* old = Old(s);
    const std::optional<VEKCodec::VideoFormat>& data = v.VideoData;
    BitmapInfoHeader b;
    if (haveFormat) {
      b = BitmapOf(out.Format);
    } else if (data && data->Family != VideoFamily::Unknown && data->Width > 0 && data->Height > 0) {
      b.Width = data->Width;
      b.Height = data->Height;
      b.BitCount = data->BitCount;
      b.Compression = data->Compression;
      b.SizeImage = static_cast<std::uint32_t>(b.Width) * static_cast<std::uint32_t>(b.Height) * 3;
      out.Format = BitmapFormat(b);
      if (data->LengthPrefixed) Say(Msg::CodecDataMissing, {s, DataName(v)});
    } else {
      // What is left of the damaged headers: the stream header's codec, the
      // main header's or the frame rectangle's picture size.
      const bool strhLeft = old && !old->Strh.empty();
      const StreamHeaderRecord h =
          strhLeft ? StreamHeaderRecord::Load(old->Strh.data(), static_cast<std::uint32_t>(old->Strh.size()))
                   : StreamHeaderRecord{};
      b.Compression = strhLeft && Printable(h.Handler) ? h.Handler : 0;
      b.Width = static_cast<std::int32_t>(Scan.Headers.Main.Width);
      b.Height = static_cast<std::int32_t>(Scan.Headers.Main.Height);
      if ((b.Width <= 0 || b.Height <= 0) && strhLeft && old->Strh.size() >= StreamHeaderRecord::Size) {
        b.Width = h.Frame[2] - h.Frame[0];
        b.Height = h.Frame[3] - h.Frame[1];
      }
      b.BitCount = 24;
      if (b.Width > 0 && b.Height > 0 && b.Compression == 0) {
        // Uncompressed pictures: the bits per pixel the chunk's size gives.
        const std::int64_t pixels = std::int64_t{b.Width} * b.Height;
        const std::int64_t bits = std::int64_t{DataFor(s).Largest} * 8;
        b.BitCount = bits % pixels == 0 ? static_cast<std::uint16_t>(bits / pixels) : 0;
      }
      b.SizeImage = b.Compression == 0 ? DataFor(s).Largest : 0;
      if (b.Width > 0 && b.Height > 0 &&
          (b.Compression != 0 || b.BitCount == 16 || b.BitCount == 24 || b.BitCount == 32 || b.BitCount == 8)) {
        Say(Msg::VideoFormatGuessed, {s, CodeText(b.Compression), b.Width, b.Height});
      } else {
        Say(Msg::VideoFormatUnknown, {s});
        // A sound stream header keeps the stream what it was, with the
        // format as it stands: nothing truer can be written in its place.
        if (haveHeader && old && !old->Strf.empty()) {
          out.Format = old->Strf;
          return;
        }
        Placeholder(out);
        return;
      }
      out.Format = BitmapFormat(b);
    }
    if (haveHeader) return;
    StreamHeaderRecord& h = out.Header;
    const StreamHeaderRecord left =
        old && !old->Strh.empty()
            ? StreamHeaderRecord::Load(old->Strh.data(), static_cast<std::uint32_t>(old->Strh.size()))
            : StreamHeaderRecord{};
    h.Type = CodeVids;
    h.Handler = b.Compression;
    h.Quality = 0xFFFFFFFF;
    if (data && data->RateNum > 0 && data->RateDen > 0) {
      h.Rate = data->RateNum;
      h.Scale = data->RateDen;
    } else if (left.Rate > 0 && left.Scale > 0) {
      h.Rate = left.Rate;
      h.Scale = left.Scale;
    } else if (Scan.Headers.MicroSecPerFrame > 0 && Scan.Headers.MicroSecPerFrame <= 100'000'000) {
      // The main header's rounded frame time: the rate it rounds, where it
      // rounds a whole one or an NTSC one (33333 µs: 30, 33367 µs: 30000/1001).
      const double fps = 1e6 / Scan.Headers.MicroSecPerFrame;
      const double whole = std::round(fps), ntsc = std::round(fps * 1.001);
      if (std::abs(fps - whole) < whole * 2e-4) {
        h.Rate = static_cast<std::uint32_t>(whole);
        h.Scale = 1;
      } else if (std::abs(fps * 1.001 - ntsc) < ntsc * 2e-4) {
        h.Rate = static_cast<std::uint32_t>(ntsc) * 1000;
        h.Scale = 1001;
      } else {
        h.Rate = 1'000'000;
        h.Scale = Scan.Headers.MicroSecPerFrame;
      }
    } else {
      h.Rate = AssumedRate;
      h.Scale = 1;
      Say(Msg::FrameRateAssumed, {});
    }
    h.Frame[2] = static_cast<std::int16_t>(b.Width);
    h.Frame[3] = static_cast<std::int16_t>(b.Height < 0 ? -b.Height : b.Height);
  }

  void FromAudioData(std::size_t s, NewStream& out, bool haveHeader, bool haveFormat) {
    const StreamVerdict& v = Of(s);
    const StreamHeader* old = Old(s);
    const std::optional<VEKCodec::AudioFormat>& data = v.AudioData;
    const StreamData chunks = DataFor(s);
    // Compressed audio in one frame per chunk is timed by chunks, as ffmpeg
    // writes it; in chunks of any length, by bytes at its bit rate.
    bool framePerChunk = false;
    WaveFormatEx w;
    if (haveFormat) {
      w = WaveOf(out.Format);
      if (old && !old->Strf.empty() && !v.FormatSound && v.AudioData == std::nullopt &&
          w.FormatTag == WaveFormatEx::TagAac)
        Say(Msg::CodecDataMissing, {s, "AAC"});
    } else if (data) {
      w.FormatTag = data->FormatTag;
      w.Channels = data->Channels;
      w.SamplesPerSec = data->SampleRate;
      w.AvgBytesPerSec = data->BitRate / 8;
      const std::int64_t frameBytes =
          data->SampleRate > 0 ? std::int64_t{data->BitRate} / 8 * data->SamplesPerFrame / data->SampleRate : 0;
      const std::int64_t average = chunks.Chunks > 0 ? chunks.Bytes / chunks.Chunks : 0;
      framePerChunk = frameBytes > 0 && average > frameBytes * 9 / 10 && average < frameBytes * 11 / 10 + 1;
      w.BlockAlign = framePerChunk ? static_cast<std::uint16_t>(data->SamplesPerFrame) : 1;
      out.Format = WaveFormat(w);
    } else {
      // PCM, the one format without headers of its own, where a surviving
      // stream header is timed as PCM is (a block a sample, its rate the
      // block rate): the rate and the block size it gives. Anything else is
      // not guessed at: a wrong format plays as noise.
      const StreamHeaderRecord left =
          old && !old->Strh.empty()
              ? StreamHeaderRecord::Load(old->Strh.data(), static_cast<std::uint32_t>(old->Strh.size()))
              : StreamHeaderRecord{};
      const bool pcm = left.SampleSize > 0 && left.SampleSize <= 8 && left.Scale == left.SampleSize && left.Rate > 0 &&
                       left.Rate % left.Scale == 0;
      if (pcm) {
        w.FormatTag = WaveFormatEx::TagPcm;
        w.BlockAlign = static_cast<std::uint16_t>(left.SampleSize);
        w.BitsPerSample = w.BlockAlign == 1 || w.BlockAlign == 3 ? 8 : 16;
        w.Channels = static_cast<std::uint16_t>(std::max(1, w.BlockAlign / (w.BitsPerSample / 8)));
        w.SamplesPerSec = left.Rate / left.Scale;
        w.AvgBytesPerSec = w.SamplesPerSec * w.BlockAlign;
        Say(Msg::AudioFormatAssumed, {s, w.SamplesPerSec, w.Channels, w.BitsPerSample});
        out.Format = WaveFormat(w);
      } else {
        Say(Msg::AudioFormatUnknown, {s});
        if (haveHeader && old && !old->Strf.empty()) {
          out.Format = old->Strf;
          return;
        }
        Placeholder(out);
        return;
      }
    }
    if (haveHeader) return;
    StreamHeaderRecord& h = out.Header;
    h.Type = CodeAuds;
    h.Quality = 0xFFFFFFFF;
    if (w.FormatTag == WaveFormatEx::TagPcm && w.BlockAlign > 0) {
      h.Scale = w.BlockAlign;
      h.Rate = w.SamplesPerSec * w.BlockAlign;
      h.SampleSize = w.BlockAlign;
    } else if (framePerChunk && data) {
      h.Scale = data->SamplesPerFrame;
      h.Rate = data->SampleRate;
      h.SampleSize = 0;
    } else if (w.AvgBytesPerSec > 0) {
      h.Scale = 1;
      h.Rate = w.AvgBytesPerSec;
      h.SampleSize = 1;
    } else {
      h.Scale = h.Rate = 1;  // an unknown format: timed by chunks
    }
  }

  MainHeader Main(const NewHeaderList& list) const {
    bool video = false;
    for (const StreamVerdict& v : Verdict.Streams) video |= v.Video;
    MainHeader m = Verdict.MainSound && Scan.Headers.TotalFramesPos >= 0 ? Scan.Headers.Main
                   : Reference && MainHeaderSound(*Reference, video)     ? Reference->Main
                                                                         : MainHeader{};
    m.Streams = static_cast<std::uint32_t>(list.Streams.size());
    if (!Verdict.MainSound || m.MicroSecPerFrame == 0) {
      m.Flags |= AVIF_HASINDEX | AVIF_ISINTERLEAVED;
      for (const NewStream& s : list.Streams) {
        if (s.Header.Type != CodeVids || s.Header.Rate == 0) continue;
        m.MicroSecPerFrame = static_cast<std::uint32_t>(std::uint64_t{1'000'000} * s.Header.Scale / s.Header.Rate);
        const BitmapInfoHeader b = BitmapOf(s.Format);
        m.Width = static_cast<std::uint32_t>(b.Width);
        m.Height = static_cast<std::uint32_t>(b.Height < 0 ? -b.Height : b.Height);
        break;
      }
    }
    for (const NewStream& s : list.Streams)
      m.SuggestedBufferSize = std::max(m.SuggestedBufferSize, s.Header.SuggestedBufferSize);
    return m;
  }

  const ScanResult& Scan;
  const HeaderVerdict& Verdict;
  const AviHeaders* Reference;
  std::vector<ReferenceUse> Use;
  std::vector<StreamData> Data;
};

// The first movi position from atLeast on where the list ends: right after
// it, or after a filler of at least a chunk header, which ends on an even
// position.
std::int64_t RoomFor(const NewHeaderList& list, std::int64_t atLeast) {
  const std::int64_t used = HeaderListSize(list);
  std::int64_t at = std::max(atLeast, used);
  if (at > used && at - used < ChunkHeader::Size) at = used + ChunkHeader::Size;
  if ((at - used) & 1) ++at;
  return at;
}

AviHeaders Reread(const std::vector<unsigned char>& bytes) {
  constexpr std::size_t At = ListHeader::Size;  // hdrl follows the RIFF header
  return ReadHeaders(bytes.data() + At, bytes.size() - At - ListHeader::Size, static_cast<std::int64_t>(At));
}

}  // namespace

std::optional<HeaderPlan> PlanHeaderList(const ScanResult& scan, const HeaderVerdict& verdict,
                                         const AviHeaders* reference, bool inPlace, std::int64_t lead) {
  // A sound list still gets its lost movi list header, written with it.
  if (verdict.Sound() && !scan.MoviHeaderLost) return std::nullopt;
  const std::int64_t movi = scan.SegmentList.front().MoviPosition;
  // A lost movi list header goes with the new list, before the index whose
  // end gives the list its size: a write that stopped between the two would
  // leave players a list of nothing where they find the chunks today.
  if (inPlace && scan.MoviHeaderLost && !scan.StartLost && !scan.IsOpenDml())
    throw ErrorException(VEK::Text(Msg::MoviHeaderLostInPlace));
  HeaderPlan plan;
  // Only the RIFF header is lost, and the header list right after it is
  // whole (its avih first, where every writer puts it): the twelve bytes are
  // all that is written.
  constexpr std::int64_t AvihFramesAt12 =
      ListHeader::Size + ListHeader::Size + ChunkHeader::Size + MainHeader::TotalFramesAt;
  if (verdict.ListSound() && !scan.MoviHeaderLost && scan.Headers.TotalFramesPos == AvihFramesAt12) {
    plan.Bytes.resize(ListHeader::Size);
    ListHeader{{CodeRiff, 0}, CodeAvi}.Store(plan.Bytes.data());
    plan.Headers = scan.Headers;
    return plan;
  }
  Findings referenceLines;
  std::vector<ReferenceUse> use;
  if (reference) use = JudgeReference(verdict, *reference, scan, referenceLines);
  Planner planner(scan, verdict, reference, std::move(use));
  planner.Lines = std::move(referenceLines);
  NewHeaderList list = planner.Plan();
  std::int64_t moviAt = movi - lead;  // where the new list puts the movi list
  std::vector<unsigned char> bytes = HeaderListBytes(list, moviAt, 0, 0);
  if (bytes.empty() && inPlace) {
    const std::int64_t needed = HeaderListSize(list) + ListHeader::Size;
    // Room enough, but a list ends on an even position and the data does not
    // start on one.
    if ((movi & 1) != 0 && needed + ChunkHeader::Size <= movi + ListHeader::Size)
      throw ErrorException(VEK::Text(Msg::HeaderOddStart, {movi}));
    throw ErrorException(VEK::Text(Msg::HeaderNoRoomInPlace, {movi + ListHeader::Size, needed}));
  }
  if (bytes.empty()) {
    // A copy is written anew: its data moves along as far as the list needs.
    moviAt = RoomFor(list, movi - lead);
    bytes = HeaderListBytes(list, moviAt, 0, 0);
    plan.Shift = moviAt + lead - movi;
  }
  // The counts in the units of the new headers, then the list again with them.
  const HeaderCounts counts = CountsFromData(scan, Reread(bytes));
  for (std::size_t s = 0; s < list.Streams.size() && s < counts.Streams.size(); ++s)
    list.Streams[s].Header.Length = static_cast<std::uint32_t>(std::min<std::int64_t>(counts.Streams[s], MaxField));
  list.Main.TotalFrames = static_cast<std::uint32_t>(std::min<std::int64_t>(counts.TotalFrames, MaxField));
  list.DmlhFrames = static_cast<std::uint32_t>(std::min<std::int64_t>(counts.AllFrames, MaxField));
  plan.Bytes = HeaderListBytes(list, moviAt, 0, 0);
  plan.Headers = Reread(plan.Bytes);
  // A movi list header that is there keeps its bytes until the index
  // writer gives it its size: up to then a reader reaches the data it did.
  if (!scan.MoviHeaderLost) plan.Bytes.resize(static_cast<std::size_t>(moviAt));
  plan.Lines = std::move(planner.Lines);
  return plan;
}

AviHeaders ReadReferenceHeaders(const std::string& path) {
  BackupFile file(BackupFile::Mode::Check, path);
  // The header list follows the RIFF header, after any chunk before it.
  constexpr std::int64_t Limit = 1 << 20;
  std::int64_t at = ListHeader::Size;
  unsigned char riff[ListHeader::Size];
  if (file.Peek(riff, sizeof riff, 0) == ListHeader::Size && ListHeader::Is(riff, CodeRiff, CodeAvi)) {
    while (at < Limit) {
      unsigned char header[ListHeader::Size];
      if (file.Peek(header, sizeof header, at) != ListHeader::Size) break;
      const std::uint32_t size = ChunkHeader::Load(header).DataSize;
      if (ListHeader::Is(header, CodeList, CodeHdrl)) {
        const std::int64_t want = std::min<std::int64_t>(ChunkHeader::Size + std::int64_t{size}, Limit);
        std::vector<unsigned char> bytes(static_cast<std::size_t>(want));
        const std::int64_t got = file.Peek(bytes.data(), want, at);
        AviHeaders headers = got > 0 ? ReadHeaders(bytes.data(), static_cast<std::size_t>(got), at) : AviHeaders{};
        if (!headers.Streams.empty()) return headers;
        break;
      }
      at += ChunkHeader::Size + std::int64_t{size} + (size & 1);
    }
  }
  throw ErrorException(VEK::Text(Msg::ReferenceUnreadable, {path}));
}

ScanResult WithHeaders(BackupFile& file, ScanResult scan, AviHeaders headers, const StopCheck& stop) {
  scan.Headers = std::move(headers);
  std::vector<VEKCodec::KeyFrameRule> learned(scan.Headers.Streams.size(), nullptr);
  bool any = false;
  for (std::size_t n = 0; n < learned.size(); ++n)
    if (n >= scan.Rules.size() || scan.Rules[n] == nullptr) {
      learned[n] = VEKCodec::RuleFor(scan.Headers.Streams[n]);
      any |= learned[n] != nullptr;
    }
  if (!any) return scan;
  if (scan.Rules.size() < learned.size()) scan.Rules.resize(learned.size(), nullptr);
  std::size_t looked = 0;
  for (OldIndexEntry& e : scan.Entries) {
    const int n = StreamNumber(e.ChunkId, scan.Numbering);
    if (n < 0 || static_cast<std::size_t>(n) >= learned.size() || !learned[static_cast<std::size_t>(n)] ||
        !IsVideoKind(e.ChunkId) || e.Size == 0)
      continue;
    if ((++looked & 0xFFF) == 0) MayStop(stop);
    unsigned char probe[VEKCodec::ProbeBytes];
    const std::int64_t got =
        file.Peek(probe, std::min<std::int64_t>(sizeof probe, e.Size), e.Position() + ChunkHeader::Size);
    e = OldIndexEntry(e.ChunkId,
                      VEKCodec::IndexFlags(learned[static_cast<std::size_t>(n)], true, probe,
                                           got > 0 ? static_cast<std::size_t>(got) : 0, e.Size),
                      e.Position(), e.Size);
  }
  for (std::size_t n = 0; n < learned.size(); ++n)
    if (learned[n]) scan.Rules[n] = learned[n];
  return scan;
}

std::vector<std::int64_t> SegmentShifts(const ScanResult& scan, std::int64_t shift,
                                        const std::vector<PlaceholderRoom>& rooms) {
  const Segments& segments = scan.SegmentList;
  std::vector<std::int64_t> shifts;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (i > 0 && ((segments[i].RiffPosition + shift) & 1) != 0) ++shift;
    if (i > 0) {
      // The gap as the OpenDML writer will find it: from the data of the
      // segment before and the placeholders after it, padded to even, to
      // this RIFF.
      const Segment& before = segments[i - 1];
      const PlaceholderRoom room = i - 1 < rooms.size() ? rooms[i - 1] : PlaceholderRoom{};
      std::int64_t end = before.End + shifts[i - 1];
      if (room.Bytes > 0) end += ((before.End - before.MoviPosition) & 1) + room.Bytes;
      end += end & 1;
      std::int64_t gap = segments[i].RiffPosition + shift - end;
      // Placeholders never reach into the next segment, nor leave a gap
      // too small for the JUNK chunk over it (both ends are even: the RIFF
      // stays so).
      if (room.Bytes > 0 && gap < 0) {
        shift -= gap;
        gap = 0;
      }
      if (i == 1) {
        // The first segment's idx1 goes into that gap.
        const auto entries = static_cast<std::int64_t>(FirstEntryFrom(scan.Entries, before.End) + room.Entries);
        const std::int64_t index = ChunkHeader::Size + entries * Idx1Entry::Size;
        if (entries <= static_cast<std::int64_t>(MaxField / Idx1Entry::Size) && gap >= 0 && gap != index &&
            gap - index < ChunkHeader::Size)
          shift += gap < index ? index - gap : ChunkHeader::Size - (gap - index);
      } else if (room.Bytes > 0 && gap > 0 && gap < ChunkHeader::Size) {
        shift += ChunkHeader::Size - gap;
      }
    }
    shifts.push_back(shift);
  }
  return shifts;
}

ScanResult WithDataMoved(ScanResult scan, const std::vector<std::int64_t>& shifts) {
  if (std::all_of(shifts.begin(), shifts.end(), [](std::int64_t s) { return s == 0; })) return scan;
  Segments& segments = scan.SegmentList;
  // What lies before the next segment's RIFF moves with the segment before it.
  auto shiftAt = [&](std::int64_t position) {
    std::size_t k = 0;
    while (k + 1 < segments.size() && position >= segments[k + 1].RiffPosition) ++k;
    return shifts[k];
  };
  scan.MoviOffset += shifts.front();
  for (OldIndexEntry& e : scan.Entries)
    e = OldIndexEntry(e.ChunkId, e.Flags(), e.Position() + shiftAt(e.Position()), e.Size);
  if (scan.OldIndexPosition >= 0) scan.OldIndexPosition += shiftAt(scan.OldIndexPosition);
  for (std::int64_t& chunk : scan.OldIndexChunks) chunk += shiftAt(chunk);
  for (SizeFix& fix : scan.SizeFixes) fix.Position += shiftAt(fix.Position);
  for (std::int64_t& chunk : scan.Unconfirmed) chunk += shiftAt(chunk);
  // The segments last: the positions above are found among their old ones.
  for (std::size_t i = 0; i < segments.size(); ++i) {
    Segment& s = segments[i];
    if (i > 0) s.RiffPosition += shifts[i];  // the first RIFF is the new one, at the start
    s.MoviPosition += shifts[i];
    s.End += shifts[i];
  }
  return scan;
}

}  // namespace VEKRiff
