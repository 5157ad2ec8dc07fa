// End to end through zantrel-cli on clean clips from ffmpeg, mencoder and
// GStreamer: with the index removed (the file cut at idx1, as a capture cut
// by power loss leaves it), the rebuilt idx1 must be the muxer's own, key-frame
// flags included; the check must pass every clean file and fail each kind of
// file that needs a rebuild; and a capture whose headers say 0 frames must get
// back its duration in ffprobe. A row whose tool or encoder is missing is
// skipped with a message.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "support/AviBuilder.h"
#include "support/Shell.h"
#include "support/TempDir.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;

struct Outcome {
  int Status = -1;
  std::string Out;
};

Outcome Capture(const std::string& command) {
  Outcome run;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.Out.append(buffer, n);
  const int status = pclose(pipe);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

Outcome Cli(const std::string& command, const std::string& file) {
  return Capture(std::string("'") + ZANTREL_CLI_PATH + "' " + command + " '" + file + "'");
}

struct Row {
  const char* Name;
  const char* Needs;    // shell test that the tool and its encoder are there
  const char* Command;  // ffmpeg codec options, or a whole command making OUT from Y4M and WAV
  bool Gstreamer = false;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.Name; }

#define FFMPEG_HAS(enc) "ffmpeg -hide_banner -encoders 2>/dev/null | grep -qw " enc
#define GST_HAS(el) "gst-inspect-1.0 " el

const Row Rows[] = {
    {"mpeg4 pcm", FFMPEG_HAS("mpeg4"), "-c:v mpeg4 -g 12 -c:a pcm_s16le"},
    {"mpeg4 XVID B-frames mp3", FFMPEG_HAS("mpeg4") " && " FFMPEG_HAS("libmp3lame"),
     "-c:v mpeg4 -g 12 -bf 2 -vtag XVID -c:a libmp3lame"},
    {"mpeg4 DIVX B-frames pcm", FFMPEG_HAS("mpeg4"), "-c:v mpeg4 -g 12 -bf 2 -vtag DIVX -c:a pcm_s16le"},
    {"x264 pcm", FFMPEG_HAS("libx264"), "-pix_fmt yuv420p -c:v libx264 -g 12 -bf 0 -c:a pcm_s16le"},
    {"x264 B-frames mp3", FFMPEG_HAS("libx264") " && " FFMPEG_HAS("libmp3lame"),
     "-pix_fmt yuv420p -c:v libx264 -g 12 -bf 3 -c:a libmp3lame"},
    {"mpeg2video mp3", FFMPEG_HAS("mpeg2video") " && " FFMPEG_HAS("libmp3lame"),
     "-c:v mpeg2video -g 12 -bf 2 -c:a libmp3lame"},
    {"msmpeg4v2 pcm", FFMPEG_HAS("msmpeg4v2"), "-c:v msmpeg4v2 -g 12 -c:a pcm_s16le"},
    {"msmpeg4v3 mp3", FFMPEG_HAS("msmpeg4") " && " FFMPEG_HAS("libmp3lame"), "-c:v msmpeg4 -g 12 -c:a libmp3lame"},
    {"wmv2 pcm", FFMPEG_HAS("wmv2"), "-c:v wmv2 -g 12 -c:a pcm_s16le"},
    {"mjpeg mp3", FFMPEG_HAS("mjpeg") " && " FFMPEG_HAS("libmp3lame"), "-c:v mjpeg -q:v 5 -c:a libmp3lame"},
    {"huffyuv pcm", FFMPEG_HAS("huffyuv"), "-pix_fmt yuv422p -c:v huffyuv -c:a pcm_s16le"},
    {"rawvideo pcm", FFMPEG_HAS("rawvideo"), "-pix_fmt bgr24 -c:v rawvideo -c:a pcm_s16le"},
    {"mencoder lavc mpeg4 pcm", "command -v mencoder",
     "mencoder -really-quiet Y4M -audiofile WAV -oac pcm -ovc lavc "
     "-lavcopts vcodec=mpeg4:vmax_b_frames=2:keyint=12 -o OUT"},
    {"mencoder x264 mp3", "mencoder -ovc help 2>/dev/null | grep -qw x264",
     "mencoder -really-quiet Y4M -audiofile WAV -oac mp3lame -ovc x264 -x264encopts keyint=12:bframes=2 -o OUT"},
    // avimux derives an audio stream's strh length from its duration (6528 for
    // 6530 bytes of MP3), and keeps a dmlh in a single RIFF.
    {"gstreamer x264 mp3", "command -v gst-launch-1.0 && " GST_HAS("x264enc") " && " GST_HAS("lamemp3enc"),
     "gst-launch-1.0 -q videotestsrc num-buffers=75 ! video/x-raw,width=176,height=144,framerate=25/1 ! "
     "x264enc key-int-max=12 ! avimux name=m ! filesink location=OUT audiotestsrc num-buffers=60 ! lamemp3enc ! m.",
     true},
};

std::size_t MoviFourCC(const Bytes& file) {
  for (std::size_t i = 12; i + 12 <= file.size(); ++i)
    if (std::memcmp(&file[i], "LIST", 4) == 0 && std::memcmp(&file[i + 8], "movi", 4) == 0) return i + 8;
  return 0;
}

Bytes Head(const Bytes& file, std::size_t size) { return Bytes(file.begin(), file.begin() + static_cast<long>(size)); }

// (id, absolute position, size, key bit of video) of each idx1 entry, offsets
// taken from "movi" or as absolute, whichever lands on the entry's own chunk.
using Described = std::tuple<std::string, std::size_t, std::uint32_t, bool>;
std::vector<Described> Describe(const Bytes& file, const ParsedIndex& index) {
  const std::size_t movi = MoviFourCC(file);
  std::vector<Described> out;
  for (std::size_t e = 0; e < index.Entries.size(); ++e) {
    const ExpectedEntry& entry = index.Entries[e];
    std::size_t at = movi + entry.Offset;
    if (at + 8 > file.size() || VEK::LoadLe32(&file[at]) != entry.Code) at = entry.Offset;
    const std::string id(reinterpret_cast<const char*>(&entry.Code), 4);
    out.emplace_back(id, at, entry.Size, id[2] == 'd' && (index.Flags[e] & 0x10) != 0);
  }
  return out;
}

double Duration(const std::string& file) {
  const Outcome r = Capture("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + file + "'");
  return r.Status == 0 ? std::atof(r.Out.c_str()) : -1;
}

class KeyFrameRebuild : public ::testing::TestWithParam<Row> {};

TEST_P(KeyFrameRebuild, ARemovedIndexComesBackAsTheMuxersOwnAndTheCheckTellsDamageFromHealth) {
  const Row& row = GetParam();
  if (!Succeeds("command -v ffmpeg && command -v ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
  if (!Succeeds(row.Needs)) GTEST_SKIP() << row.Name << ": the tool or its encoder is not installed";
  TempDir dir;
  const std::string clean = dir / "clean.avi";
  std::string command = row.Command;
  if (command.rfind("mencoder", 0) == 0) {
    ASSERT_TRUE(Succeeds("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=176x144:rate=25 -t 3 "
                         "-pix_fmt yuv420p '" + dir / "src.y4m" + "'"));
    ASSERT_TRUE(Succeeds("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=330:sample_rate=22050 -t 3 '" +
                         dir / "src.wav" + "'"));
  } else if (command.rfind("gst-launch", 0) != 0) {
    command = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=176x144:rate=25 -f lavfi -i "
              "sine=frequency=330:sample_rate=22050 -t 3 " + command + " OUT";
  }
  command = FilledIn(command, {{"Y4M", dir / "src.y4m"}, {"WAV", dir / "src.wav"}, {"OUT", clean}});
  ASSERT_TRUE(Succeeds(command)) << command;

  const Bytes file = ReadFile(clean);
  const ParsedIndex own = ReadIdx1(file);
  ASSERT_TRUE(own.Found) << row.Name;
  const auto idx1 = static_cast<std::size_t>(own.Position);
  const std::size_t idx1End = idx1 + 8 + VEK::LoadLe32(&file[idx1 + 4]);
  ASSERT_LE(idx1End, file.size());
  ASSERT_GT(own.Entries.size(), 20u);

  Outcome r = Cli("check", clean);
  EXPECT_EQ(r.Status, 0) << r.Out;
  EXPECT_NE(r.Out.find("Found 0 errors"), std::string::npos) << r.Out;

  // Rebuilt from the data alone.
  const Bytes noIndex = Head(file, idx1);
  WriteFile(dir / "noindex.avi", noIndex);
  r = Cli("rebuild", dir / "noindex.avi");
  ASSERT_EQ(r.Status, 0) << r.Out;
  const Bytes rebuilt = ReadFile(dir / "Zantrel.noindex.avi");
  const ParsedIndex ours = ReadIdx1(rebuilt);
  ASSERT_TRUE(ours.Found);
  EXPECT_EQ(ours.Position, own.Position);
  if (!row.Gstreamer) {
    const auto at = static_cast<std::size_t>(ours.Position);
    ASSERT_LE(at + (idx1End - idx1), rebuilt.size());
    EXPECT_TRUE(std::equal(file.begin() + static_cast<long>(idx1), file.begin() + static_cast<long>(idx1End),
                           rebuilt.begin() + static_cast<long>(at)))
        << row.Name << ": the rebuilt idx1 differs from the muxer's";
  } else {
    // avimux writes absolute offsets, adds 0x02 to every video entry and
    // leaves audio entries without the key bit, where a rebuild writes
    // offsets from "movi" and marks every audio chunk a key frame: the
    // entries must still name the same chunks with the same video key frames.
    EXPECT_EQ(Describe(rebuilt, ours), Describe(file, own)) << row.Name;
  }
  r = Cli("check", dir / "Zantrel.noindex.avi");
  EXPECT_EQ(r.Status, 0) << r.Out;
  EXPECT_NE(r.Out.find("Found 0 errors"), std::string::npos) << r.Out;

  // Files that need a rebuild, and the line that must say why.
  Bytes shifted = file, unflagged = file, zeroed = file;
  for (std::size_t e = idx1 + 8; e + 16 <= idx1End; e += 16) {
    VEK::StoreLe32(&shifted[e + 8], VEK::LoadLe32(&shifted[e + 8]) + 16);
    if (shifted[e + 2] == 'd') VEK::StoreLe32(&unflagged[e + 4], VEK::LoadLe32(&unflagged[e + 4]) & ~0x10u);
  }
  // A capture stopped before its headers were written: no frame counts.
  const std::size_t movi = MoviFourCC(file);
  ASSERT_EQ(std::memcmp(&file[24], "avih", 4), 0);
  VEK::StoreLe32(&zeroed[32 + 16], 0);
  for (std::size_t i = 12; i + 40 <= movi; ++i) {
    if (std::memcmp(&file[i], "strh", 4) == 0) VEK::StoreLe32(&zeroed[i + 8 + 32], 0);
    // ffmpeg keeps its dmlh inside a JUNK reserve until it opens a second
    // RIFF; only one inside LIST odml is a header.
    if (std::memcmp(&file[i], "dmlh", 4) == 0 && std::memcmp(&file[i - 4], "odml", 4) == 0 &&
        std::memcmp(&file[i - 12], "LIST", 4) == 0)
      VEK::StoreLe32(&zeroed[i + 8], 0);
  }
  struct Damage {
    const char* Name;
    Bytes Data;
    const char* Says;
  };
  const Damage damages[] = {
      {"noindex.avi", noIndex, "has no index"},
      {"cut.avi", Head(file, idx1 - 5), "ends inside a chunk"},
      {"shifted.avi", shifted, "point at no chunk"},
      {"unflagged.avi", unflagged, "as key frames or not"},
      {"zeroed.avi", zeroed, "The header"},
  };
  for (const Damage& d : damages) {
    WriteFile(dir / d.Name, d.Data);
    r = Cli("check", dir / d.Name);
    EXPECT_EQ(r.Status, 1) << row.Name << " " << d.Name << "\n" << r.Out;
    EXPECT_EQ(r.Out.find("Found 0 errors"), std::string::npos) << row.Name << " " << d.Name << "\n" << r.Out;
    EXPECT_NE(r.Out.find(d.Says), std::string::npos) << row.Name << " " << d.Name << "\n" << r.Out;
  }

  // The capture cut by power loss: no counts and no index.
  WriteFile(dir / "capture.avi", Head(zeroed, idx1));
  r = Cli("rebuild", dir / "capture.avi");
  ASSERT_EQ(r.Status, 0) << r.Out;
  r = Cli("check", dir / "Zantrel.capture.avi");
  EXPECT_EQ(r.Status, 0) << r.Out;
  const double expected = Duration(clean);
  ASSERT_GT(expected, 1.0) << row.Name;
  EXPECT_NEAR(Duration(dir / "Zantrel.capture.avi"), expected, 1.0 / 25) << row.Name;
}

// A film whose header list and first key frame are lost (zeroed up to the end
// of its first video chunk): the codec is learned from the data further on,
// and the frames walked before that are judged by its rule all the same, as
// the muxer flagged them; a stream whose format the data does not tell is
// kept as data, which needs no frame time, unless a reference names it: its
// rule then judges every frame. The copy checks healthy.
TEST(KeyFrameRebuildHeadless, TheFramesBeforeTheCodecIsKnownKeepTheMuxersFlagsAndTheCopyChecksHealthy) {
  if (!Succeeds("command -v ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const struct {
    Row row;
    bool judged;  // the data (or the reference) tells the video codec, whose rule judges every frame
    bool reference = false;  // the clean film given as the reference
  } rows[] = {
      {{"mpeg4 pcm", FFMPEG_HAS("mpeg4"),
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine -t 4 "
        "-c:v mpeg4 -g 12 -q:v 2 -c:a pcm_s16le OUT"},
       true},
      {{"gstreamer x264 mp3", "command -v gst-launch-1.0 && " GST_HAS("x264enc") " && " GST_HAS("lamemp3enc"),
        "gst-launch-1.0 -q videotestsrc num-buffers=100 ! video/x-raw,width=320,height=240,framerate=25/1 ! "
        "x264enc key-int-max=12 ! avimux name=m ! filesink location=OUT audiotestsrc num-buffers=80 ! "
        "lamemp3enc ! m.",
        true},
       true},
      // Neither format is in the data: both streams are kept as data.
      {{"msmpeg4v2 pcm", FFMPEG_HAS("msmpeg4v2"),
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine -t 4 "
        "-c:v msmpeg4v2 -g 12 -c:a pcm_s16le OUT"},
       false},
      {{"msmpeg4v2 pcm, with a reference", FFMPEG_HAS("msmpeg4v2"),
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine -t 4 "
        "-c:v msmpeg4v2 -g 12 -c:a pcm_s16le OUT"},
       true, true},
  };
  for (const auto& [row, judged, reference] : rows) {
    SCOPED_TRACE(row.Name);
    if (!Succeeds(row.Needs)) continue;
    TempDir dir;
    const std::string clean = dir / "clean.avi", headless = dir / "headless.avi";
    const std::string command = FilledIn(row.Command, {{"OUT", clean}});
    ASSERT_TRUE(Succeeds(command)) << command;
    const Bytes file = ReadFile(clean);
    const ParsedIndex own = ReadIdx1(file);
    ASSERT_TRUE(own.Found);
    const std::vector<Described> muxed = Describe(file, own);
    const auto first =
        std::find_if(muxed.begin(), muxed.end(), [](const Described& d) { return std::get<0>(d)[2] == 'd'; });
    ASSERT_NE(first, muxed.end());
    ASSERT_TRUE(std::get<3>(*first)) << "a film starts on a key frame";
    Bytes damaged = file;
    std::fill_n(damaged.begin(), std::get<1>(*first) + 8 + std::get<2>(*first), 0);
    WriteFile(headless, damaged);
    Outcome r = Cli(reference ? "rebuild --reference '" + clean + "'" : std::string("rebuild"), headless);
    ASSERT_EQ(r.Status, 0) << r.Out;
    r = Cli("check", dir / "Zantrel.headless.avi");
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_NE(r.Out.find("Found 0 errors"), std::string::npos) << r.Out;
    // The chunks the copy indexes are the muxer's last ones, in their order,
    // behind the placeholders that keep the lost ones' places where the
    // streams' formats are known: one for each lost chunk, of its stream.
    const Bytes copy = ReadFile(dir / "Zantrel.headless.avi");
    const std::vector<Described> ours = Describe(copy, ReadIdx1(copy));
    const std::size_t zeroed = std::get<1>(*first) + 8 + std::get<2>(*first);
    const auto lost = static_cast<std::size_t>(std::count_if(
        muxed.begin(), muxed.end(), [&](const Described& d) { return std::get<1>(d) + 8 + std::get<2>(d) <= zeroed; }));
    ASSERT_GT(ours.size(), 20u);
    ASSERT_LE(ours.size(), muxed.size());
    ASSERT_GE(ours.size(), muxed.size() - lost);
    const std::size_t placeholders = ours.size() - (muxed.size() - lost);
    EXPECT_TRUE(placeholders == 0 || placeholders == lost) << placeholders << " placeholders for " << lost;
    for (std::size_t i = 0; i < placeholders; ++i) {
      EXPECT_EQ(std::get<0>(ours[i]), std::get<0>(muxed[i])) << i;
    }
    int frames = 0;
    for (std::size_t i = placeholders; i < ours.size(); ++i) {
      const Described& m = muxed[muxed.size() - ours.size() + i];
      ASSERT_EQ(std::get<0>(ours[i]), std::get<0>(m)) << "entry " << i;
      ASSERT_EQ(std::get<2>(ours[i]), std::get<2>(m)) << "entry " << i;
      if (std::get<0>(m)[2] != 'd' || !judged) continue;
      ++frames;
      EXPECT_EQ(std::get<3>(ours[i]), std::get<3>(m)) << "video entry " << i << " of the copy";
    }
    if (judged) {
      EXPECT_GT(frames, 50);
    }
  }
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
  std::string name = info.param.Name;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Muxers, KeyFrameRebuild, ::testing::ValuesIn(Rows), RowName);

}  // namespace
