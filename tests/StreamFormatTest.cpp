// The stream probes against ffprobe. One short film made by ffmpeg holds a
// stream of each codec and variant in the table (a second one, made as MP4
// and copied into AVI, the length-prefixed H.264 and HEVC); the first chunk
// of every stream is taken from its movi list (read here with a few lines of
// its own), probed, and the answer compared with what ffprobe says of the
// stream: codec and code, picture size, frame rate, sample rate, channels,
// bit rate, samples a frame. Every prefix of those chunks, and random bytes
// after the headers the probes look for, must give nothing or a sane answer
// without a read out of bounds (AddressSanitizer watches exact-size copies).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "codec/StreamFormat.h"
#include "support/AviBuilder.h"
#include "support/Shell.h"
#include "support/TempDir.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;
using VEKCodec::AudioFormat;
using VEKCodec::VideoFamily;
using VEKCodec::VideoFormat;

// One stream of a test film, with its own source. In Options, S stands for
// the stream's index in the film.
struct StreamRow {
  const char* Name;
  const char* Encoder;
  const char* Source;  // a lavfi source
  const char* Options;
  bool DefaultTag = true;  // the AVI carries the code ffmpeg's muxer writes by itself for the codec
  bool RateInData = true;  // the codec's headers carry the frame rate
  // Audio: the bit rate asked of the encoder where ffprobe estimates it from
  // the file's length instead of the frame headers (MP3 in AVI); 0 to ask
  // ffprobe.
  std::uint32_t BitRate = 0;
};

// All in one AVI film, one process each for ffmpeg and ffprobe.
const StreamRow FilmStreams[] = {
    {"mpeg4", "mpeg4", "testsrc=size=176x144:rate=25", "-c:S mpeg4"},
    {"mpeg4 at 29.97 with B-frames", "mpeg4", "testsrc=size=320x240:rate=30000/1001", "-c:S mpeg4 -bf:S 2"},
    {"xvid at 29.97, a fixed rate", "libxvid", "testsrc=size=200x150:rate=30000/1001",
     "-c:S libxvid -pix_fmt:S yuv420p", false},
    {"x264 4:4:4", "libx264", "testsrc=size=320x240:rate=30", "-c:S libx264 -preset:S ultrafast"},
    {"x264 cropped, scaling matrices", "libx264", "testsrc=size=200x150:rate=25",
     "-c:S libx264 -pix_fmt:S yuv420p -x264-params:S cqm=jvt"},
    {"x264 interlaced at 29.97", "libx264", "testsrc=size=320x240:rate=30000/1001",
     "-c:S libx264 -pix_fmt:S yuv420p -flags:S +ildct+ilme -x264-params:S tff=1"},
    {"x265", "libx265", "testsrc=size=192x128:rate=24",
     "-c:S libx265 -preset:S ultrafast -x265-params:S log-level=error -tag:S HEVC"},
    {"x265 cropped 10 bit at 29.97", "libx265", "testsrc=size=200x150:rate=30000/1001",
     "-c:S libx265 -pix_fmt:S yuv420p10le -x265-params:S log-level=error -tag:S HEVC"},
    {"mpeg2video", "mpeg2video", "testsrc=size=352x288:rate=25", "-c:S mpeg2video"},
    {"mpeg2video interlaced at 29.97", "mpeg2video", "testsrc=size=720x480:rate=30000/1001",
     "-c:S mpeg2video -flags:S +ildct+ilme"},
    {"mpeg1video at 23.976", "mpeg1video", "testsrc=size=352x240:rate=24000/1001", "-c:S mpeg1video"},
    {"mjpeg", "mjpeg", "testsrc=size=199x151:rate=25", "-c:S mjpeg", true, false},
    {"ljpeg", "ljpeg", "testsrc=size=160x120:rate=25", "-c:S ljpeg -pix_fmt:S bgr24", true, false},
    {"jpegls", "jpegls", "testsrc=size=160x120:rate=25", "-c:S jpegls", true, false},
    {"vp8", "libvpx", "testsrc=size=199x151:rate=25", "-c:S libvpx", true, false},
    {"vp9 profile 0", "libvpx-vp9", "testsrc=size=160x120:rate=25",
     "-c:S libvpx-vp9 -pix_fmt:S yuv420p -deadline:S realtime", true, false},
    {"vp9 profile 1 RGB", "libvpx-vp9", "testsrc=size=160x120:rate=25", "-c:S libvpx-vp9 -deadline:S realtime", true,
     false},
    {"vp9 profile 2", "libvpx-vp9", "testsrc=size=160x120:rate=25",
     "-c:S libvpx-vp9 -pix_fmt:S yuv420p10le -deadline:S realtime", true, false},
    {"dv 625/50", "dvvideo", "testsrc=size=720x576:rate=25", "-c:S dvvideo -pix_fmt:S yuv420p"},
    {"dv 525/60", "dvvideo", "testsrc=size=720x480:rate=30000/1001", "-c:S dvvideo -pix_fmt:S yuv411p"},
    {"dvcpro50", "dvvideo", "testsrc=size=720x576:rate=25", "-c:S dvvideo -pix_fmt:S yuv422p"},
    {"dvcpro hd 1080i50", "dvvideo", "testsrc=size=1440x1080:rate=25", "-c:S dvvideo -pix_fmt:S yuv422p"},
    {"cinepak", "cinepak", "testsrc=size=160x120:rate=25", "-c:S cinepak", true, false},
    {"mp3 44100 stereo", "libmp3lame", "sine=frequency=330:sample_rate=44100", "-c:S libmp3lame -ac:S 2 -b:S 128k",
     true, true, 128000},
    {"mp3 22050 mono", "libmp3lame", "sine=frequency=330:sample_rate=22050", "-c:S libmp3lame -ac:S 1 -b:S 40k", true,
     true, 40000},
    {"mp2 48000 mono", "mp2", "sine=frequency=330:sample_rate=48000", "-c:S mp2 -ac:S 1"},
    {"mp2 24000 stereo", "mp2", "sine=frequency=330:sample_rate=24000", "-c:S mp2 -ac:S 2 -b:S 64k"},
    {"ac3 48000 5.1", "ac3", "sine=frequency=330:sample_rate=48000", "-c:S ac3 -ac:S 6"},
    {"ac3 48000 stereo", "ac3", "sine=frequency=330:sample_rate=48000", "-c:S ac3 -ac:S 2"},
    {"ac3 44100 mono", "ac3", "sine=frequency=330:sample_rate=44100", "-c:S ac3 -ac:S 1"},
    {"ac3 32000 stereo", "ac3", "sine=frequency=330:sample_rate=32000", "-c:S ac3 -ac:S 2 -b:S 96k"},
};

// Made as MP4, then copied into AVI: H.264 and HEVC with length prefixes,
// their parameter sets in the first chunk as well.
const StreamRow RemuxedStreams[] = {
    {"x264 length-prefixed", "libx264", "testsrc=size=200x150:rate=24000/1001",
     "-c:S libx264 -pix_fmt:S yuv420p -flags:S -global_header"},
    {"x265 length-prefixed", "libx265", "testsrc=size=200x150:rate=25",
     "-c:S libx265 -pix_fmt:S yuv420p -x265-params:S log-level=error:repeat-headers=1 -tag:S hvc1"},
};

// One stream as ffprobe sees it, from its flat output.
struct Probed {
  std::map<std::string, std::string> Fields;
  std::string operator[](const std::string& key) const {
    const auto it = Fields.find(key);
    return it == Fields.end() ? "" : it->second;
  }
  long Number(const std::string& key) const { return std::atol((*this)[key].c_str()); }
};

// streams.stream.N.key="value" and frames.frame.M.key=value lines; the
// samples of each stream's first decoded frame go in as "nb_samples".
std::vector<Probed> Ffprobe(const std::string& file) {
  std::vector<Probed> streams;
  std::istringstream lines(
      Capture("ffprobe -v error -show_entries "
              "stream=codec_type,codec_name,codec_tag,width,height,r_frame_rate,sample_rate,channels,bit_rate "
              "-of flat '" +
              file +
              "' && ffprobe -v error -select_streams a -read_intervals %+#40 -show_entries "
              "frame=stream_index,nb_samples -of flat '" +
              file + "'"));
  std::map<unsigned, std::string> samples;
  unsigned frameStream = 0;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    unsigned index = 0;
    char name[64] = {};
    if (std::sscanf(key.c_str(), "streams.stream.%u.%63s", &index, name) == 2) {
      if (streams.size() <= index) streams.resize(index + 1);
      streams[index].Fields[name] = value;
    } else if (std::sscanf(key.c_str(), "frames.frame.%u.%63s", &index, name) == 2) {
      if (std::strcmp(name, "stream_index") == 0) frameStream = static_cast<unsigned>(std::atoi(value.c_str()));
      if (std::strcmp(name, "nb_samples") == 0) samples.emplace(frameStream, value);
    }
  }
  for (const auto& [stream, count] : samples)
    if (stream < streams.size()) streams[stream].Fields["nb_samples"] = count;
  return streams;
}

struct FirstChunk {
  std::uint32_t Size = 0;
  Bytes Data;  // up to FormatProbeBytes
};

// The first non-empty chunk of each stream in the first movi list.
std::map<unsigned, FirstChunk> FirstChunks(const Bytes& file) {
  std::map<unsigned, FirstChunk> chunks;
  std::size_t at = 0;
  for (std::size_t i = 12; i + 12 <= file.size(); ++i)
    if (std::memcmp(&file[i], "LIST", 4) == 0 && std::memcmp(&file[i + 8], "movi", 4) == 0) {
      at = i + 12;
      break;
    }
  while (at != 0 && file.size() - at >= 8) {
    const std::uint32_t size = VEK::LoadLe32(&file[at + 4]);
    if (std::memcmp(&file[at], "LIST", 4) == 0) {  // rec lists: step into
      at += 12;
      continue;
    }
    if (std::memcmp(&file[at], "idx1", 4) == 0 || std::memcmp(&file[at], "ix", 2) == 0) break;
    const unsigned stream = (file[at] - '0') * 10u + (file[at + 1] - '0');
    if (size > 0 && stream < 100 && chunks.count(stream) == 0 && file.size() - at - 8 >= size) {
      const std::size_t n = std::min<std::size_t>(size, VEKCodec::FormatProbeBytes);
      chunks[stream] = {size, Bytes(file.begin() + at + 8, file.begin() + at + 8 + n)};
    }
    at += 8 + size + (size & 1);
  }
  return chunks;
}

VideoFamily FamilyOfCodec(const std::string& name) {
  const std::map<std::string, VideoFamily> families = {{"mpeg4", VideoFamily::Mpeg4Visual},
                                                       {"h264", VideoFamily::H264},
                                                       {"hevc", VideoFamily::Hevc},
                                                       {"mpeg1video", VideoFamily::MpegVideo},
                                                       {"mpeg2video", VideoFamily::MpegVideo},
                                                       {"mjpeg", VideoFamily::Jpeg},
                                                       {"ljpeg", VideoFamily::Jpeg},
                                                       {"jpegls", VideoFamily::Jpeg},
                                                       {"vp8", VideoFamily::Vp8},
                                                       {"vp9", VideoFamily::Vp9},
                                                       {"dvvideo", VideoFamily::Dv},
                                                       {"cinepak", VideoFamily::Cinepak}};
  const auto it = families.find(name);
  return it == families.end() ? VideoFamily::Unknown : it->second;
}

std::uint16_t FormatTagOfCodec(const std::string& name) {
  if (name == "mp3") return 0x55;
  if (name == "mp2" || name == "mp1") return 0x50;
  if (name == "ac3") return 0x2000;
  return 0;
}

std::uint32_t SwapCase(std::uint32_t code) {
  std::uint32_t out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    unsigned c = (code >> shift) & 0xFF;
    if (c >= 'a' && c <= 'z')
      c -= 'a' - 'A';
    else if (c >= 'A' && c <= 'Z')
      c += 'a' - 'A';
    out |= static_cast<std::uint32_t>(c) << shift;
  }
  return out;
}

// What a probe given fewer bytes may say: nothing, or the same with some
// fields untold.
void ExpectSameOrLess(const std::optional<VideoFormat>& part, const VideoFormat& whole, const std::string& what) {
  if (!part) return;
  EXPECT_EQ(part->Family, whole.Family) << what;
  EXPECT_EQ(part->LengthPrefixed, whole.LengthPrefixed) << what;
  for (const auto& [mine, full] : {std::pair<std::int64_t, std::int64_t>{part->Width, whole.Width},
                                   {part->Height, whole.Height},
                                   {part->RateNum, whole.RateNum},
                                   {part->RateDen, whole.RateDen},
                                   {part->Compression, whole.Compression}})
    EXPECT_TRUE(mine == full || mine == 0) << what << ": " << mine << " where all the bytes say " << full;
}

std::string Replace(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

// ffmpeg's command for a film of these streams, in their order.
std::string FilmCommand(const std::vector<const StreamRow*>& rows, const std::string& out) {
  std::string command = "ffmpeg -nostdin -v error -y";
  for (const StreamRow* row : rows) command += std::string(" -f lavfi -i ") + row->Source;
  command += " -t 0.2";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string index = std::to_string(i);
    command += " -map " + index + ":0 " + Replace(rows[i]->Options, ":S", ":" + index);
  }
  return command + " '" + out + "'";
}

void ExpectVideo(const StreamRow& row, const Probed& s, const FirstChunk& chunk, bool lengthPrefixed) {
  const std::string what = row.Name;
  const Bytes& data = chunk.Data;
  const std::optional<VideoFormat> f = VEKCodec::ProbeVideo(data.data(), data.size(), chunk.Size);
  ASSERT_TRUE(f.has_value()) << what;
  const VideoFamily family = FamilyOfCodec(s["codec_name"]);
  ASSERT_NE(family, VideoFamily::Unknown) << what << ": " << s["codec_name"];
  EXPECT_EQ(f->Family, family) << what;
  const auto tag = static_cast<std::uint32_t>(std::strtoul(s["codec_tag"].c_str(), nullptr, 16));
  EXPECT_EQ(VEKCodec::FamilyOf(tag), family) << what;
  EXPECT_EQ(VEKCodec::FamilyOf(SwapCase(tag)), family) << what;
  if (row.DefaultTag) {
    EXPECT_EQ(f->Compression, tag) << what << ": " << s["codec_tag"];
  }
  EXPECT_EQ(f->LengthPrefixed, lengthPrefixed) << what;
  EXPECT_EQ(f->Width, s.Number("width")) << what;
  EXPECT_EQ(f->Height, s.Number("height")) << what;
  const std::string rate = std::to_string(f->RateNum) + "/" + std::to_string(f->RateDen);
  EXPECT_EQ(rate, row.RateInData ? s["r_frame_rate"] : "0/0") << what;
  EXPECT_EQ(f->BitCount, 24) << what;
  for (std::size_t cut = 0; cut < data.size() && cut <= 1024; ++cut) {
    const Bytes part(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(cut));
    ExpectSameOrLess(VEKCodec::ProbeVideo(part.data(), cut, chunk.Size), *f, what + " cut at " + std::to_string(cut));
  }
}

void ExpectAudio(const StreamRow& row, const Probed& s, const FirstChunk& chunk) {
  const std::string what = row.Name;
  const Bytes& data = chunk.Data;
  const std::optional<AudioFormat> a = VEKCodec::ProbeAudio(data.data(), data.size());
  ASSERT_TRUE(a.has_value()) << what;
  EXPECT_EQ(a->FormatTag, FormatTagOfCodec(s["codec_name"])) << what;
  EXPECT_EQ(a->SampleRate, s.Number("sample_rate")) << what;
  EXPECT_EQ(a->Channels, s.Number("channels")) << what;
  EXPECT_EQ(a->BitRate, row.BitRate ? row.BitRate : s.Number("bit_rate")) << what;
  EXPECT_EQ(a->SamplesPerFrame, s.Number("nb_samples")) << what;
  for (std::size_t cut = 0; cut < data.size() && cut <= 1024; ++cut) {
    const Bytes part(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(cut));
    const std::optional<AudioFormat> p = VEKCodec::ProbeAudio(part.data(), cut);
    if (!p) continue;
    EXPECT_TRUE(p->FormatTag == a->FormatTag && p->SampleRate == a->SampleRate && p->Channels == a->Channels &&
                p->BitRate == a->BitRate && p->SamplesPerFrame == a->SamplesPerFrame)
        << what << " cut at " << cut;
  }
}

TEST(StreamFormat, FirstChunksTellWhatFfprobeSaysOfTheFilm) {
  if (!Succeeds("command -v ffmpeg && command -v ffprobe")) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
  const std::string encoders = Capture("ffmpeg -hide_banner -encoders 2>/dev/null");
  TempDir dir;
  for (const bool remux : {false, true}) {
    std::vector<const StreamRow*> rows;
    for (const StreamRow& row :
         remux ? std::span<const StreamRow>(RemuxedStreams) : std::span<const StreamRow>(FilmStreams)) {
      if (encoders.find(std::string(" ") + row.Encoder + " ") != std::string::npos)
        rows.push_back(&row);
      else
        std::printf("StreamFormat: ffmpeg has no %s encoder; %s is left out\n", row.Encoder, row.Name);
    }
    if (rows.empty()) continue;
    const std::string out = dir / "film.avi", mp4 = dir / "film.mp4";
    std::string command = FilmCommand(rows, remux ? mp4 : out);
    if (remux) command += " && ffmpeg -nostdin -v error -y -i '" + mp4 + "' -map 0 -c copy '" + out + "'";
    ASSERT_TRUE(Succeeds(command)) << command;

    const std::vector<Probed> streams = Ffprobe(out);
    const std::map<unsigned, FirstChunk> chunks = FirstChunks(ReadFile(out));
    ASSERT_EQ(streams.size(), rows.size()) << command;
    for (unsigned index = 0; index < rows.size(); ++index) {
      ASSERT_EQ(chunks.count(index), 1u) << rows[index]->Name;
      if (streams[index]["codec_type"] == "video")
        ExpectVideo(*rows[index], streams[index], chunks.at(index), remux);
      else
        ExpectAudio(*rows[index], streams[index], chunks.at(index));
    }
  }
}

// The codes real files carry, in the case they are found in, and codes of
// other codecs the table must not claim.
TEST(StreamFormat, FamilyOfKnowsTheCodesRealFilesUse) {
  const std::pair<const char*, VideoFamily> codes[] = {
      {"XVID", VideoFamily::Mpeg4Visual}, {"DIVX", VideoFamily::Mpeg4Visual}, {"DX50", VideoFamily::Mpeg4Visual},
      {"FMP4", VideoFamily::Mpeg4Visual}, {"MP4V", VideoFamily::Mpeg4Visual}, {"M4S2", VideoFamily::Mpeg4Visual},
      {"xvid", VideoFamily::Mpeg4Visual}, {"H264", VideoFamily::H264},        {"X264", VideoFamily::H264},
      {"AVC1", VideoFamily::H264},        {"avc1", VideoFamily::H264},        {"DAVC", VideoFamily::H264},
      {"HEVC", VideoFamily::Hevc},        {"H265", VideoFamily::Hevc},        {"HVC1", VideoFamily::Hevc},
      {"hev1", VideoFamily::Hevc},        {"mpg1", VideoFamily::MpegVideo},   {"mpg2", VideoFamily::MpegVideo},
      {"MPEG", VideoFamily::MpegVideo},   {"MPG2", VideoFamily::MpegVideo},   {"PIM1", VideoFamily::MpegVideo},
      {"MJPG", VideoFamily::Jpeg},        {"AVRN", VideoFamily::Jpeg},        {"MJPA", VideoFamily::Jpeg},
      {"dmb1", VideoFamily::Jpeg},        {"JPGL", VideoFamily::Jpeg},        {"VP80", VideoFamily::Vp8},
      {"VP90", VideoFamily::Vp9},         {"dvsd", VideoFamily::Dv},          {"dv25", VideoFamily::Dv},
      {"dvhd", VideoFamily::Dv},          {"dv50", VideoFamily::Dv},          {"CDVC", VideoFamily::Dv},
      {"CDVH", VideoFamily::Dv},          {"cvid", VideoFamily::Cinepak},     {"DIV3", VideoFamily::Unknown},
      {"MP42", VideoFamily::Unknown},     {"WMV2", VideoFamily::Unknown},     {"CRAM", VideoFamily::Unknown},
      {"HFYU", VideoFamily::Unknown},     {"VP70", VideoFamily::Unknown},     {"\0\0\0\0", VideoFamily::Unknown},
  };
  for (const auto& [text, family] : codes) {
    EXPECT_EQ(VEKCodec::FamilyOf(VEK::LoadLe32(reinterpret_cast<const unsigned char*>(text))), family) << text;
  }
}

// Headers the probes look for, each followed by random bytes, and random
// bytes alone, at random lengths: every answer is sane, and random bytes
// alone are almost never taken for a stream.
TEST(StreamFormat, RandomBytesAfterAHeaderGiveNothingOrASaneAnswer) {
  struct Start {
    const char* Name;
    Bytes Head;
    std::uint32_t ChunkSize;  // 0: the length of the bytes
  };
  const Start starts[] = {
      {"random", {}, 0},
      {"MPEG-1/2 sequence header", {0, 0, 1, 0xB3}, 0},
      {"MPEG-4 VOL", {0, 0, 1, 0x20}, 0},
      {"H.264 SPS", {0, 0, 0, 1, 0x67, 100}, 0},
      {"HEVC SPS", {0, 0, 1, 0x42, 0x01, 0x01}, 0},
      {"length-prefixed SPS", {0, 0, 0, 40, 0x67, 66}, 0},
      {"JPEG", {0xFF, 0xD8, 0xFF, 0xC0, 0, 17}, 0},
      {"VP8", {0x50, 0x3A, 0, 0x9D, 0x01, 0x2A}, 0},
      {"VP9", {0x82, 0x49, 0x83, 0x42}, 0},
      {"DV 625/50", {0x1F, 0x07, 0x00, 0xBF}, 144000},
      {"DV 525/60", {0x1F, 0x07, 0x00, 0x3F}, 120000},
      // A frame of 400 bytes, 160x120, one strip of 390 bytes holding a codebook.
      {"Cinepak", {0x00, 0x00, 0x01, 0x90, 0x00, 0xA0, 0x00, 0x78, 0x00, 0x01, 0x10, 0x00, 0x01, 0x86, 0, 0, 0, 0,
                   0x00, 0x78, 0x00, 0xA0, 0x20, 0x00, 0x01, 0x00}, 400},
      {"MPEG audio", {0xFF, 0xFB, 0x90}, 0},
      {"AC-3", {0x0B, 0x77}, 0},
  };
  std::mt19937 random(4099);
  const unsigned char alphabet[] = {0x00, 0x00, 0x00, 0x01, 0x03, 0xFF, 0x80, 0x0B, 0x77, 0x67, 0x42, 0xB3, 0x20};
  for (const Start& start : starts) {
    int found = 0;
    const int rounds = 400;
    for (int round = 0; round < rounds; ++round) {
      Bytes bytes = start.Head;
      bytes.resize(bytes.size() + random() % VEKCodec::FormatProbeBytes);
      for (std::size_t i = start.Head.size(); i < bytes.size(); ++i)
        bytes[i] = random() % 4 == 0 ? alphabet[random() % sizeof alphabet] : static_cast<unsigned char>(random());
      const std::uint32_t size = start.ChunkSize ? start.ChunkSize : static_cast<std::uint32_t>(bytes.size());
      const std::string what = std::string(start.Name) + " round " + std::to_string(round);
      if (const auto f = VEKCodec::ProbeVideo(bytes.data(), bytes.size(), size)) {
        ++found;
        EXPECT_NE(f->Family, VideoFamily::Unknown) << what;
        EXPECT_TRUE(f->Width >= 0 && f->Width <= 65535 && f->Height >= 0 && f->Height <= 65535) << what;
        EXPECT_EQ(f->RateNum == 0, f->RateDen == 0) << what;
        EXPECT_TRUE(!f->LengthPrefixed || f->Family == VideoFamily::H264 || f->Family == VideoFamily::Hevc) << what;
      }
      if (const auto a = VEKCodec::ProbeAudio(bytes.data(), bytes.size())) {
        ++found;
        EXPECT_TRUE(a->FormatTag == 0x50 || a->FormatTag == 0x55 || a->FormatTag == 0x2000) << what;
        EXPECT_TRUE(a->SampleRate >= 8000 && a->SampleRate <= 48000) << what;
        EXPECT_TRUE(a->Channels >= 1 && a->Channels <= 6) << what;
        EXPECT_TRUE(a->BitRate >= 8000 && a->BitRate <= 640000) << what;
        EXPECT_TRUE(a->SamplesPerFrame == 384 || a->SamplesPerFrame == 576 || a->SamplesPerFrame == 1152 ||
                    a->SamplesPerFrame == 1536)
            << what;
      }
    }
    if (start.Head.empty()) {
      EXPECT_LT(found, rounds / 100) << "random bytes taken for a stream";
    }
  }
  // Nothing at all, and a chunk said to be empty.
  const unsigned char none[1] = {0};
  EXPECT_FALSE(VEKCodec::ProbeVideo(none, 0, 100));
  EXPECT_FALSE(VEKCodec::ProbeVideo(none, 1, 0));
  EXPECT_FALSE(VEKCodec::ProbeVideo(nullptr, 100, 100));
  EXPECT_FALSE(VEKCodec::ProbeAudio(none, 0));
  EXPECT_FALSE(VEKCodec::ProbeAudio(nullptr, 100));
}

}  // namespace
