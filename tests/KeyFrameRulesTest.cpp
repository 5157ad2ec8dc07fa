// The key-frame rules against the muxers' own indexes. Each row makes a short
// clip with ffmpeg, mencoder or GStreamer and reads back the idx1 the muxer
// wrote from its encoder's own key-frame decisions; the rule applied to the
// first ProbeBytes of every chunk must give the same flags, entry for entry.
// The file is read here with a few lines of its own (not the library's header
// reader). A row whose tool or encoder is missing is skipped with a message.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "avi/HeaderReader.h"
#include "codec/KeyFrame.h"
#include "support/AviBuilder.h"
#include "support/Shell.h"
#include "support/TempDir.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;

// How a muxer spells the flags it does not take from the encoder.
enum class Convention {
  Plain,      // ffmpeg and mencoder: AVIIF_KEYFRAME or 0, empty chunks 0
  GstAvimux,  // GStreamer: every video entry also carries 0x02, audio entries are always 0
};

struct Row {
  const char* Name;
  const char* Needs;    // shell test that the tool and its encoder are there
  const char* Command;  // makes OUT (and may read Y4M and WAV)
  Convention Flags = Convention::Plain;
  bool Intra = false;   // every picture a key frame
};

// Test names and failure messages show the row by its name.
void PrintTo(const Row& row, std::ostream* os) { *os << row.Name; }

constexpr const char* Lavfi =
    "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=176x144:rate=25 -f lavfi -i "
    "sine=frequency=330:sample_rate=22050 -t 3 ";
#define FFMPEG_HAS(enc) "ffmpeg -hide_banner -encoders 2>/dev/null | grep -qw " enc
#define GST_HAS(el) "gst-inspect-1.0 " el

const Row Rows[] = {
    {"mpeg4", FFMPEG_HAS("mpeg4"), "-c:v mpeg4 -g 12 -c:a pcm_s16le"},
    {"mpeg4 XVID B-frames mp3", FFMPEG_HAS("mpeg4") " && " FFMPEG_HAS("libmp3lame"),
     "-c:v mpeg4 -g 12 -bf 2 -vtag XVID -c:a libmp3lame"},
    {"mpeg4 DIVX B-frames", FFMPEG_HAS("mpeg4"), "-c:v mpeg4 -g 12 -bf 2 -vtag DIVX -c:a pcm_s16le"},
    {"x264", FFMPEG_HAS("libx264"), "-pix_fmt yuv420p -c:v libx264 -g 12 -bf 0 -c:a pcm_s16le"},
    {"x264 B-frames mp3", FFMPEG_HAS("libx264") " && " FFMPEG_HAS("libmp3lame"),
     "-pix_fmt yuv420p -c:v libx264 -g 12 -c:a libmp3lame"},
    {"x264 open GOP", FFMPEG_HAS("libx264"),
     "-pix_fmt yuv420p -c:v libx264 -g 12 -x264-params open-gop=1 -c:a pcm_s16le"},
    {"x265", FFMPEG_HAS("libx265"), "-pix_fmt yuv420p -c:v libx265 -g 12 -tag:v HEVC -an"},
    {"mpeg2video", FFMPEG_HAS("mpeg2video"), "-c:v mpeg2video -g 12 -bf 2 -c:a pcm_s16le"},
    {"mpeg1video", FFMPEG_HAS("mpeg1video"), "-c:v mpeg1video -g 12 -bf 2 -c:a pcm_u8"},
    {"msmpeg4v2", FFMPEG_HAS("msmpeg4v2"), "-c:v msmpeg4v2 -g 12 -c:a pcm_s16le"},
    {"msmpeg4v3", FFMPEG_HAS("msmpeg4"), "-c:v msmpeg4 -g 12 -c:a pcm_s16le"},
    {"wmv1", FFMPEG_HAS("wmv1"), "-c:v wmv1 -g 12 -c:a pcm_s16le"},
    {"wmv2", FFMPEG_HAS("wmv2"), "-c:v wmv2 -g 12 -c:a pcm_s16le"},
    {"libxvid B-frames", FFMPEG_HAS("libxvid"), "-pix_fmt yuv420p -c:v libxvid -g 12 -bf 2 -c:a pcm_s16le"},
    {"h263", FFMPEG_HAS("h263"), "-pix_fmt yuv420p -c:v h263 -g 12 -c:a pcm_s16le"},
    {"h263p", FFMPEG_HAS("h263p"), "-pix_fmt yuv420p -c:v h263p -g 12 -c:a pcm_s16le"},
    {"flv1", FFMPEG_HAS("flv"), "-pix_fmt yuv420p -c:v flv -g 12 -c:a pcm_s16le"},
    {"vp8", FFMPEG_HAS("libvpx"), "-pix_fmt yuv420p -c:v libvpx -g 12 -c:a pcm_s16le"},
    {"vp9", FFMPEG_HAS("libvpx-vp9"), "-pix_fmt yuv420p -c:v libvpx-vp9 -g 12 -deadline realtime -c:a pcm_s16le"},
    {"ffv1", FFMPEG_HAS("ffv1"), "-c:v ffv1 -g 12 -c:a pcm_s16le"},
    {"snow", FFMPEG_HAS("snow"), "-pix_fmt yuv420p -c:v snow -g 12 -c:a pcm_s16le"},
    {"cinepak", FFMPEG_HAS("cinepak"), "-t 2 -c:v cinepak -g 12 -c:a pcm_s16le"},
    {"theora", FFMPEG_HAS("libtheora"), "-pix_fmt yuv420p -c:v libtheora -g 12 -c:a pcm_s16le"},
    {"zmbv", FFMPEG_HAS("zmbv"), "-pix_fmt bgr0 -c:v zmbv -g 12 -c:a pcm_s16le"},
    {"mjpeg", FFMPEG_HAS("mjpeg"), "-c:v mjpeg -q:v 5 -c:a pcm_s16le", Convention::Plain, true},
    {"utvideo", FFMPEG_HAS("utvideo"), "-t 1 -c:v utvideo -c:a pcm_s16le", Convention::Plain, true},
    {"magicyuv", FFMPEG_HAS("magicyuv"), "-t 1 -c:v magicyuv -c:a pcm_s16le", Convention::Plain, true},
    {"png", FFMPEG_HAS("png"), "-t 1 -c:v png -c:a pcm_s16le", Convention::Plain, true},
    {"jpeg2000", FFMPEG_HAS("jpeg2000"), "-t 1 -c:v jpeg2000 -c:a pcm_s16le", Convention::Plain, true},
    {"ljpeg", FFMPEG_HAS("ljpeg"), "-t 1 -pix_fmt bgr24 -c:v ljpeg -c:a pcm_s16le", Convention::Plain, true},
    {"jpegls", FFMPEG_HAS("jpegls"), "-t 1 -c:v jpegls -c:a pcm_s16le", Convention::Plain, true},
    {"asv2", FFMPEG_HAS("asv2"), "-t 1 -pix_fmt yuv420p -c:v asv2 -c:a pcm_s16le", Convention::Plain, true},
    {"v210", FFMPEG_HAS("v210"), "-t 1 -c:v v210 -c:a pcm_s16le", Convention::Plain, true},
    {"huffyuv", FFMPEG_HAS("huffyuv"), "-t 1 -pix_fmt yuv422p -c:v huffyuv -c:a pcm_s16le", Convention::Plain,
     true},
    {"ffvhuff", FFMPEG_HAS("ffvhuff"), "-t 1 -c:v ffvhuff -c:a pcm_s16le", Convention::Plain, true},
    {"rawvideo bgr24", FFMPEG_HAS("rawvideo"), "-t 1 -pix_fmt bgr24 -c:v rawvideo -an", Convention::Plain, true},
    {"rawvideo yuv420p", FFMPEG_HAS("rawvideo"), "-t 1 -pix_fmt yuv420p -c:v rawvideo -c:a pcm_s16le",
     Convention::Plain, true},
    {"dvvideo", FFMPEG_HAS("dvvideo"), "-t 1 -s 720x576 -pix_fmt yuv420p -r 25 -c:v dvvideo -c:a pcm_s16le",
     Convention::Plain, true},
    {"mencoder lavc mpeg4 B-frames", "command -v mencoder",
     "mencoder -really-quiet Y4M -audiofile WAV -oac pcm -ovc lavc "
     "-lavcopts vcodec=mpeg4:vmax_b_frames=2:keyint=12 -o OUT"},
    {"mencoder x264", "mencoder -ovc help 2>/dev/null | grep -qw x264",
     "mencoder -really-quiet Y4M -audiofile WAV -oac mp3lame -ovc x264 -x264encopts keyint=12:bframes=2 -o OUT"},
    {"mencoder xvid packed", "mencoder -ovc help 2>/dev/null | grep -qw xvid",
     "mencoder -really-quiet Y4M -audiofile WAV -oac mp3lame -ovc xvid "
     "-xvidencopts max_key_interval=12:max_bframes=2:bitrate=300:packed -o OUT"},
    {"gstreamer x264", "command -v gst-launch-1.0 && " GST_HAS("x264enc") " && " GST_HAS("lamemp3enc"),
     "gst-launch-1.0 -q videotestsrc num-buffers=60 ! video/x-raw,width=176,height=144 ! x264enc key-int-max=12 "
     "! avimux name=m ! filesink location=OUT audiotestsrc num-buffers=30 ! lamemp3enc ! m.",
     Convention::GstAvimux},
    {"gstreamer avenc_mpeg4", "command -v gst-launch-1.0 && " GST_HAS("avenc_mpeg4"),
     "gst-launch-1.0 -q videotestsrc num-buffers=60 ! video/x-raw,width=176,height=144 ! "
     "avenc_mpeg4 gop-size=12 max-bframes=2 ! avimux ! filesink location=OUT",
     Convention::GstAvimux},
};

// strh type and handler, strf compression of each strl, in order: the fields
// RuleFor looks at, read straight from the bytes of a clean file.
std::vector<VEKAvi::StreamHeader> StreamsOf(const Bytes& file) {
  std::vector<VEKAvi::StreamHeader> streams;
  for (std::size_t i = 12; i + 12 + 8 + 56 + 8 + 20 <= file.size(); ++i) {
    if (std::memcmp(&file[i], "movi", 4) == 0) break;
    if (std::memcmp(&file[i], "LIST", 4) != 0 || std::memcmp(&file[i + 8], "strl", 4) != 0) continue;
    const unsigned char* strh = &file[i + 12];
    const unsigned char* strf = strh + 8 + VEK::LoadLe32(strh + 4);
    EXPECT_EQ(std::memcmp(strh, "strh", 4), 0);
    EXPECT_EQ(std::memcmp(strf, "strf", 4), 0);
    VEKAvi::StreamHeader s;
    s.Type = VEK::LoadLe32(strh + 8);
    s.Handler = VEK::LoadLe32(strh + 12);
    if (s.Type == VEKAvi::MakeFourCC("vids")) s.Compression = VEK::LoadLe32(strf + 8 + 16);
    s.Readable = true;
    streams.push_back(s);
  }
  return streams;
}

std::size_t MoviFourCC(const Bytes& file) {
  for (std::size_t i = 12; i + 12 <= file.size(); ++i)
    if (std::memcmp(&file[i], "LIST", 4) == 0 && std::memcmp(&file[i + 8], "movi", 4) == 0) return i + 8;
  return 0;
}

std::string Hex(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", v);
  return text;
}

class MuxerIndex : public ::testing::TestWithParam<Row> {};

TEST_P(MuxerIndex, RulesGiveTheMuxersOwnFlagsForEveryEntry) {
  const Row& row = GetParam();
  if (!Succeeds(row.Needs)) GTEST_SKIP() << row.Name << ": the tool or its encoder is not installed";
  TempDir dir;
  const std::string out = dir / "clip.avi";
  std::string command = row.Command;
  if (command.rfind("mencoder", 0) == 0) {
    if (!Succeeds("command -v ffmpeg")) GTEST_SKIP() << row.Name << ": ffmpeg makes mencoder's source";
    ASSERT_TRUE(Succeeds("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=176x144:rate=25 -t 3 "
                         "-pix_fmt yuv420p '" + dir / "src.y4m" + "'"));
    ASSERT_TRUE(Succeeds("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=330:sample_rate=22050 -t 3 '" +
                         dir / "src.wav" + "'"));
    command = FilledIn(command, {{"Y4M", dir / "src.y4m"}, {"WAV", dir / "src.wav"}, {"OUT", out}});
  } else if (command.rfind("gst-launch", 0) == 0) {
    command = FilledIn(command, {{"OUT", out}});
  } else {
    command = Lavfi + command + " '" + out + "'";
  }
  ASSERT_TRUE(Succeeds(command)) << command;

  const Bytes file = ReadFile(out);
  const ParsedIndex index = ReadIdx1(file);
  ASSERT_TRUE(index.Found) << row.Name;
  const std::vector<VEKAvi::StreamHeader> streams = StreamsOf(file);
  ASSERT_FALSE(streams.empty());
  std::vector<VEKCodec::KeyFrameRule> rules;
  for (const auto& s : streams) {
    rules.push_back(VEKCodec::RuleFor(s));
    if (s.IsVideo()) {
      EXPECT_NE(rules.back(), nullptr) << row.Name << ": no rule for this video stream";
    }
  }

  const std::size_t movi = MoviFourCC(file);
  ASSERT_NE(movi, 0u);
  int keys = 0, deltas = 0, mismatches = 0;
  for (std::size_t e = 0; e < index.Entries.size(); ++e) {
    const ExpectedEntry& entry = index.Entries[e];
    const std::size_t n = std::stoul(std::string(reinterpret_cast<const char*>(&entry.Code), 2), nullptr, 16);
    ASSERT_LT(n, streams.size()) << row.Name << " entry " << e;
    // Offsets count from the "movi" code (ffmpeg, mencoder, GStreamer); some
    // writers store absolute positions.
    std::size_t at = movi + entry.Offset;
    if (at + 8 > file.size() || VEK::LoadLe32(&file[at]) != entry.Code) at = entry.Offset;
    ASSERT_TRUE(at + 8 <= file.size() && VEK::LoadLe32(&file[at]) == entry.Code) << row.Name << " entry " << e;
    ASSERT_LE(at + 8 + entry.Size, file.size());
    const std::size_t available = std::min<std::size_t>(entry.Size, VEKCodec::ProbeBytes);

    const bool video = streams[n].IsVideo();
    const std::uint32_t ours = VEKCodec::IndexFlags(rules[n], video, &file[at + 8], available, entry.Size);
    std::uint32_t expected = ours;
    if (row.Flags == Convention::GstAvimux) expected = video ? (ours | 0x02) : 0;
    const std::uint32_t theirs = index.Flags[e];
    if (theirs != expected && ++mismatches <= 10)
      ADD_FAILURE() << row.Name << ": entry " << e << " (" << std::string(reinterpret_cast<const char*>(&entry.Code), 4)
                    << ", " << entry.Size << " bytes) muxer " << Hex(theirs) << ", rule " << Hex(expected);
    if (video && entry.Size > 0) (theirs & VEKAvi::AVIIF_KEYFRAME ? keys : deltas)++;

    // Given less of the chunk, a rule answers the same or Unknown, never the
    // opposite; each prefix is an exact-size copy, so that AddressSanitizer
    // sees a read past it.
    if (video && rules[n] != nullptr) {
      const VEKCodec::Frame full = rules[n](&file[at + 8], available, entry.Size);
      for (std::size_t cut = 0; cut < available; cut += cut < 64 ? 1 : 37) {
        const std::vector<unsigned char> prefix(&file[at + 8], &file[at + 8] + cut);
        const VEKCodec::Frame answer = rules[n](prefix.data(), cut, entry.Size);
        if (answer != full && answer != VEKCodec::Frame::Unknown && ++mismatches <= 10)
          ADD_FAILURE() << row.Name << ": entry " << e << " judged otherwise from its first " << cut << " bytes";
      }
    }
  }
  EXPECT_EQ(mismatches, 0) << row.Name;
  // The clip must say something: several key frames, and for the inter
  // codecs pictures that are not.
  EXPECT_GE(keys, 2) << row.Name;
  if (!row.Intra) {
    EXPECT_GE(deltas, 10) << row.Name;
  }
}

INSTANTIATE_TEST_SUITE_P(Muxers, MuxerIndex, ::testing::ValuesIn(Rows), [](const auto& info) {
  std::string name = info.param.Name;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

}  // namespace

namespace {

// Which rule a stream gets: codes in either case, the strf compression code
// first and the strh handler when the compression code is not one we know,
// and none for what is not readable video.
TEST(KeyFrameRules, StreamsGetTheirRuleFromEitherCodeInEitherCase) {
  using VEKAvi::MakeFourCC;
  struct Case {
    VEKAvi::FourCC Type, Handler, Compression;
    bool Readable;
    VEKCodec::KeyFrameRule Expected;
  };
  const Case cases[] = {
      {MakeFourCC("vids"), MakeFourCC("xvid"), MakeFourCC("XVID"), true, VEKCodec::Mpeg4VisualFrame},
      {MakeFourCC("vids"), 0, MakeFourCC("xViD"), true, VEKCodec::Mpeg4VisualFrame},
      {MakeFourCC("vids"), MakeFourCC("DIVX"), MakeFourCC("ZZZZ"), true, VEKCodec::Mpeg4VisualFrame},
      {MakeFourCC("vids"), MakeFourCC("divx"), MakeFourCC("DIV3"), true, VEKCodec::MsMpeg4Frame},
      {MakeFourCC("vids"), MakeFourCC("h264"), MakeFourCC("H264"), true, VEKCodec::H264Frame},
      {MakeFourCC("vids"), MakeFourCC("h264"), MakeFourCC("AVC1"), true, nullptr},  // may be length-prefixed
      {MakeFourCC("vids"), MakeFourCC("XVID"), 0, true, VEKCodec::IntraOnlyFrame},  // BI_RGB: decoders take it as raw
      {MakeFourCC("vids"), 0, MakeFourCC("CRAM"), true, nullptr},  // MS Video 1: skipped blocks, no frame type
      {MakeFourCC("vids"), MakeFourCC("XVID"), MakeFourCC("XVID"), false, nullptr},
      {MakeFourCC("auds"), 0, 0, true, nullptr},
      {MakeFourCC("txts"), MakeFourCC("XVID"), 0, true, nullptr},
  };
  for (const Case& c : cases) {
    VEKAvi::StreamHeader s;
    s.Type = c.Type;
    s.Handler = c.Handler;
    s.Compression = c.Compression;
    s.Readable = c.Readable;
    EXPECT_EQ(VEKCodec::RuleFor(s), c.Expected) << std::hex << c.Type << " " << c.Handler << " " << c.Compression;
  }
}

}  // namespace

namespace {

// Every rule on random bytes rich in start codes and zero runs: a rule given a
// prefix of what it saw answers the same or Unknown, and reads nothing past
// the exact-size copy it is given (AddressSanitizer watches).
TEST(KeyFrameRules, ARuleGivenLessAnswersTheSameOrUnknownOnAnyBytes) {
  using namespace VEKCodec;
  const KeyFrameRule rules[] = {Mpeg4VisualFrame, H264Frame, HevcFrame, MpegVideoFrame, MsMpeg4Frame,
                                Wmv2Frame, H263Frame, SorensonFrame, Vp8Frame, Vp9Frame, RangeCodedFrame,
                                CinepakFrame, TheoraFrame, ZmbvFrame, IntraOnlyFrame};
  std::mt19937 random(511);
  const unsigned char alphabet[] = {0x00, 0x00, 0x00, 0x01, 0x03, 0xB6, 0xB0, 0x65, 0x41, 0x06, 0x05, 0x26, 0xFF, 0x80};
  int decided = 0;
  for (const KeyFrameRule rule : rules) {
    for (int round = 0; round < 200; ++round) {
      std::vector<unsigned char> bytes(random() % (ProbeBytes + 1));
      for (unsigned char& b : bytes)
        b = random() % 2 ? alphabet[random() % sizeof alphabet] : static_cast<unsigned char>(random());
      const auto size = static_cast<std::uint32_t>(bytes.size() + random() % 3 * 500);
      const Frame full = rule(bytes.data(), bytes.size(), size);
      decided += full != Frame::Unknown;
      for (std::size_t cut = 0; cut < bytes.size(); cut += 1 + cut / 8) {
        const std::vector<unsigned char> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        const Frame answer = rule(prefix.data(), cut, size);
        ASSERT_TRUE(answer == full || answer == Frame::Unknown) << "rule " << (&rule - rules) << " round " << round;
      }
    }
  }
  EXPECT_GT(decided, 1000);  // the bytes reach the rules' decisions, not only their early exits
}

}  // namespace
