#include "engine/HeaderCheck.h"

#include <algorithm>
#include <cstdio>

#include "avi/AviChunk.h"
#include "engine/EngineMessages.h"

namespace VEKRiff {

using namespace VEKAvi;
using VEKCodec::VideoFamily;

namespace {

// A frame longer than this is no film's: 100 s.
constexpr std::uint32_t MaxMicroSecPerFrame = 100'000'000;

// A stream header's frame rectangle holds a picture's sides in 16 signed
// bits: a format claiming more is damage.
constexpr std::int64_t MaxPictureSide = 32767;

const char* FamilyName(VideoFamily family) {
  switch (family) {
    case VideoFamily::Mpeg4Visual:
      return "MPEG-4 Visual";
    case VideoFamily::H264:
      return "H.264";
    case VideoFamily::Hevc:
      return "HEVC";
    case VideoFamily::MpegVideo:
      return "MPEG-1/2 video";
    case VideoFamily::Jpeg:
      return "JPEG";
    case VideoFamily::Vp8:
      return "VP8";
    case VideoFamily::Vp9:
      return "VP9";
    case VideoFamily::Dv:
      return "DV";
    case VideoFamily::Cinepak:
      return "Cinepak";
    case VideoFamily::Unknown:
      break;
  }
  return "?";
}

bool IsMpegAudio(std::uint16_t tag) { return tag == WaveFormatEx::TagMpeg || tag == WaveFormatEx::TagMp3; }

int StreamOf(std::size_t s) { return static_cast<int>(s); }

// stream: the one the finding is about, -1 for the whole file.
void Add(Findings& lines, int stream, const VEK::MessagePair& text, std::initializer_list<VEK::FormatArg> args) {
  lines.push_back({VEK::Text(text, args), true, {}, FindingKind::HeaderDamage, -1, stream});
}

void CheckVideoFormat(std::size_t s, const StreamHeader& h, StreamVerdict& v, Findings& lines) {
  if (!v.VideoData) return;
  const VEKCodec::VideoFormat& data = *v.VideoData;
  // Decoders go by the format's code; the stream header's speaks for it only
  // where the format's is a code of no family we know (a vendor's own).
  const VideoFamily named = VEKCodec::FamilyOf(h.Compression) != VideoFamily::Unknown
                                ? VEKCodec::FamilyOf(h.Compression)
                                : VEKCodec::FamilyOf(h.Handler);
  if (data.Family != VideoFamily::Unknown && named != data.Family) {
    Add(lines, StreamOf(s), Msg::FormatCodecWrong, {s, CodeText(h.Compression), DataName(v)});
    v.FormatSound = false;
    return;
  }
  const std::int32_t height = h.Height < 0 ? -h.Height : h.Height;
  // A JPEG picture may hold one field of two: half the frame's height.
  const bool sameHeight = data.Height == height || (data.Family == VideoFamily::Jpeg && 2 * data.Height == height);
  if (data.Width > 0 && data.Height > 0 && (data.Width != h.Width || !sameHeight)) {
    Add(lines, StreamOf(s), Msg::FormatSizeWrong, {s, h.Width, height, data.Width, data.Height});
    v.FormatSound = false;
    return;
  }
  if (data.LengthPrefixed && h.Strf.size() <= BitmapInfoHeader::Size) {
    Add(lines, StreamOf(s), Msg::FormatNoCodecData, {s, DataName(v)});
    v.FormatSound = false;
  }
}

void CheckAudioFormat(std::size_t s, const StreamHeader& h, const FirstChunk* first, StreamVerdict& v,
                      Findings& lines) {
  const WaveFormatEx f = WaveFormatEx::Load(h.Strf.data(), static_cast<std::uint32_t>(h.Strf.size()));
  if (v.AudioData) {
    const VEKCodec::AudioFormat& data = *v.AudioData;
    if (!SameAudioCodec(f.FormatTag, data)) {
      Add(lines, StreamOf(s), Msg::FormatCodecWrong, {s, TagText(f.FormatTag), DataName(v)});
      v.FormatSound = false;
    } else if (f.SamplesPerSec != data.SampleRate || f.Channels != data.Channels) {
      Add(lines, StreamOf(s), Msg::FormatAudioWrong, {s, f.SamplesPerSec, f.Channels, data.SampleRate, data.Channels});
      v.FormatSound = false;
    }
    return;
  }
  // Raw AAC frames carry no header of their own: the decoder takes the
  // profile, rate and channels from the codec data. ADTS frames carry them.
  const bool adts = first && first->Bytes.size() >= 2 && first->Bytes[0] == 0xFF && (first->Bytes[1] & 0xF6) == 0xF0;
  if (f.FormatTag == WaveFormatEx::TagAac && h.Strf.size() <= WaveFormatEx::Size && !adts) {
    Add(lines, StreamOf(s), Msg::FormatNoCodecData, {s, "AAC"});
    v.FormatSound = false;
  }
}

}  // namespace

bool SameAudioCodec(std::uint16_t tag, const VEKCodec::AudioFormat& data) {
  if (IsMpegAudio(data.FormatTag)) return IsMpegAudio(tag);
  return tag == data.FormatTag;
}

std::string TagText(std::uint16_t tag) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", tag);
  return text;
}

std::string CodeText(FourCC code) {
  std::string text;
  for (int shift = 0; shift < 32; shift += 8) {
    const char c = static_cast<char>((code >> shift) & 0xFF);
    if (c < 0x20 || c > 0x7E) {
      char hex[12];
      std::snprintf(hex, sizeof hex, "0x%08X", code);
      return hex;
    }
    text += c;
  }
  return text;
}

std::string DataName(const StreamVerdict& stream) {
  if (stream.VideoData) return FamilyName(stream.VideoData->Family);
  if (stream.AudioData) {
    if (stream.AudioData->FormatTag == WaveFormatEx::TagAc3) return "AC-3";
    return stream.AudioData->FormatTag == WaveFormatEx::TagMp3 ? "MPEG audio layer 3" : "MPEG audio";
  }
  return "?";
}

bool MainHeaderSound(const AviHeaders& headers, bool video) {
  return headers.TotalFramesPos >= 0 &&
         (!video || (headers.MicroSecPerFrame > 0 && headers.MicroSecPerFrame <= MaxMicroSecPerFrame));
}

void CheckStreamHeader(std::size_t s, const StreamHeader& h, const FirstChunk* first, StreamVerdict& v,
                       Findings& lines) {
  if (h.Strh.empty()) {
    Add(lines, StreamOf(s), Msg::StreamHeaderDamaged, {s, v.Chunks});
    v.HeaderSound = false;
  } else if ((v.Video && h.Type != CodeVids && h.Type != CodeIavs) || (v.Audio && h.Type != CodeAuds)) {
    Add(lines, StreamOf(s), Msg::StreamTypeWrong, {s, CodeText(h.Type), v.Chunks, CodeText(v.Code)});
    v.HeaderSound = false;
  } else if (h.Rate == 0 || h.Scale == 0) {
    Add(lines, StreamOf(s), Msg::StreamRateZero, {s, h.Rate, h.Scale});
    v.HeaderSound = false;
  }
  // The format is read as the data's kind, whatever a damaged strh says.
  bool readable = !h.Strf.empty() && (v.Video   ? h.Strf.size() >= BitmapInfoHeader::Size
                                      : v.Audio ? h.Strf.size() >= WaveFormatEx::Needed
                                                : true);
  // A format whose picture or sound has no size is a zeroed one; a picture
  // larger than a stream header's frame rectangle can hold is no picture.
  if (readable && v.Video && h.Type != CodeIavs) {
    const BitmapInfoHeader b = BitmapInfoHeader::Load(h.Strf.data());
    const std::int64_t height = b.Height < 0 ? -std::int64_t{b.Height} : b.Height;
    readable = b.Width > 0 && b.Width <= MaxPictureSide && height > 0 && height <= MaxPictureSide;
  } else if (readable && v.Audio) {
    const WaveFormatEx w = WaveFormatEx::Load(h.Strf.data(), static_cast<std::uint32_t>(h.Strf.size()));
    readable = w.SamplesPerSec != 0 && w.Channels != 0;
  }
  if (!readable) {
    Add(lines, StreamOf(s), Msg::FormatDamaged, {s});
    v.FormatSound = false;
    return;
  }
  if (h.Type == CodeIavs) return;  // its strf is a DV header, not a bitmap
  StreamHeader asData = h;
  if (v.Video) {
    const BitmapInfoHeader b = BitmapInfoHeader::Load(h.Strf.data());
    asData.Width = b.Width;
    asData.Height = b.Height;
    asData.Compression = b.Compression;
    CheckVideoFormat(s, asData, v, lines);
  } else if (v.Audio) {
    CheckAudioFormat(s, asData, first, v, lines);
  }
}

HeaderVerdict CheckHeaderList(const ScanResult& scan) {
  HeaderVerdict verdict;
  const AviHeaders& headers = scan.Headers;
  Findings& lines = verdict.Lines;
  if (scan.StartLost) {
    verdict.StartLost = true;
    Add(lines, -1, Msg::StartLost, {scan.MoviOffset});
  }

  // What the data holds, by stream number.
  std::vector<StreamVerdict>& streams = verdict.Streams;
  streams.resize(std::max(headers.Streams.size(), scan.FirstChunks.size()));
  std::vector<FourCC> codes(streams.size(), 0), videoCodes(streams.size(), 0), audioCodes(streams.size(), 0);
  // A stream is of the kind most of its chunks are: a chunk whose code a
  // flipped byte made another kind's does not make it both.
  std::vector<std::int64_t> videoChunks(streams.size(), 0), audioChunks(streams.size(), 0);
  for (const OldIndexEntry& e : scan.Entries) {
    const int number = StreamNumber(e.ChunkId, scan.Numbering);
    if (ChunkKind(e.ChunkId) == KindPalette || number < 0) continue;
    const std::size_t s = static_cast<std::size_t>(number);
    if (s >= streams.size()) {
      streams.resize(s + 1);
      codes.resize(s + 1, 0);
      videoCodes.resize(s + 1, 0);
      audioCodes.resize(s + 1, 0);
      videoChunks.resize(s + 1, 0);
      audioChunks.resize(s + 1, 0);
    }
    ++streams[s].Chunks;
    videoChunks[s] += IsVideoKind(e.ChunkId);
    audioChunks[s] += ChunkKind(e.ChunkId) == KindAudio;
    FourCC& first = IsVideoKind(e.ChunkId)                ? videoCodes[s]
                    : ChunkKind(e.ChunkId) == KindAudio ? audioCodes[s]
                                                        : codes[s];
    if (first == 0) first = e.ChunkId;
  }
  for (std::size_t s = 0; s < streams.size(); ++s) {
    streams[s].Video = videoChunks[s] > audioChunks[s];
    streams[s].Audio = audioChunks[s] > 0 && !streams[s].Video;
    streams[s].Code = streams[s].Video ? videoCodes[s] : streams[s].Audio ? audioCodes[s] : codes[s];
  }
  // A header that keeps a stream as data, as a rebuild writes one whose
  // format it could not tell, has players pass over it: its chunks are
  // played by nobody and need no frame time.
  auto keptAsData = [&](std::size_t s) {
    return s < headers.Streams.size() && !headers.Streams[s].Strh.empty() && headers.Streams[s].Type == CodeDats;
  };
  bool video = false;
  for (std::size_t s = 0; s < streams.size(); ++s) {
    StreamVerdict& v = streams[s];
    video |= v.Video && !keptAsData(s);
    const FirstChunk* first =
        s < scan.FirstChunks.size() && scan.FirstChunks[s].ChunkId != 0 ? &scan.FirstChunks[s] : nullptr;
    if (first && v.Video) v.VideoData = VEKCodec::ProbeVideo(first->Bytes.data(), first->Bytes.size(), first->Size);
    if (first && v.Audio) v.AudioData = VEKCodec::ProbeAudio(first->Bytes.data(), first->Bytes.size());
  }

  if (headers.TotalFramesPos < 0) {
    Add(lines, -1, Msg::MainHeaderMissing, {});
    verdict.MainSound = false;
  } else if (!MainHeaderSound(headers, video)) {
    Add(lines, -1, Msg::MainHeaderFrameTime, {headers.MicroSecPerFrame});
    verdict.MainSound = false;
  }

  // Streams are numbered from 0 without gaps: a header can be written for a
  // stream after the last one described only up to the first number that
  // has no data. Chunks of a number past that gap (a chance code in damaged
  // data, mostly) are told, and stay in the index, but get no header.
  std::size_t describable = headers.Streams.size();
  while (describable < streams.size() && streams[describable].InData()) ++describable;
  for (std::size_t s = 0; s < streams.size(); ++s) {
    StreamVerdict& v = streams[s];
    if (!v.InData()) continue;  // a header without data is no player's trouble
    if (s >= headers.Streams.size()) {
      Add(lines, StreamOf(s), Msg::StreamWithoutHeader, {s, v.Chunks});
      if (s < describable) v.HeaderSound = v.FormatSound = false;
      continue;
    }
    if (keptAsData(s)) {
      lines.push_back({VEK::Text(Msg::StreamKeptAsData, {s, v.Chunks}), false, {}, FindingKind::Note, -1, StreamOf(s)});
      continue;
    }
    CheckStreamHeader(s, headers.Streams[s], s < scan.FirstChunks.size() ? &scan.FirstChunks[s] : nullptr, v,
                      lines);
  }
  return verdict;
}

}  // namespace VEKRiff
