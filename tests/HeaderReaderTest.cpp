// The hdrl reader: on files made by ffmpeg, mencoder and GStreamer against
// ffprobe's view of the same file; on hand-made OpenDML headers for the indx,
// JUNK and dmlh positions; and on damaged headers, cut at every length,
// with sizes that overrun, zeroed lists and random byte changes, where it must
// never read out of bounds and never call a damaged stream readable.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "avi/HeaderReader.h"
#include "support/AviBuilder.h"
#include "support/Shell.h"
#include "support/TempDir.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;
using VEKAvi::AviHeaders;
using VEKAvi::MakeFourCC;
using VEKAvi::ReadHeaders;
using VEKAvi::StreamHeader;

std::uint32_t At32(const Bytes& file, std::int64_t pos) {
  EXPECT_TRUE(pos >= 0 && static_cast<std::size_t>(pos) + 4 <= file.size()) << pos;
  if (pos < 0 || static_cast<std::size_t>(pos) + 4 > file.size()) return 0xDEADBEEF;
  return VEK::LoadLe32(&file[static_cast<std::size_t>(pos)]);
}

// Every muxer here writes 'LIST hdrl' as the first chunk of the RIFF form.
Bytes HdrlOf(const Bytes& file) {
  if (file.size() < 24 || std::memcmp(&file[12], "LIST", 4) != 0 || std::memcmp(&file[20], "hdrl", 4) != 0) return {};
  const std::size_t size = VEK::LoadLe32(&file[16]);
  return Bytes(file.begin() + 12, file.begin() + 12 + std::min(size + 8, file.size() - 12));
}

bool SameStream(const StreamHeader& a, const StreamHeader& b) {
  return a.Type == b.Type && a.Handler == b.Handler && a.Compression == b.Compression && a.Width == b.Width &&
         a.Height == b.Height && a.BitCount == b.BitCount &&
         a.FormatTag == b.FormatTag && a.BlockAlign == b.BlockAlign && a.Scale == b.Scale && a.Rate == b.Rate &&
         a.SampleSize == b.SampleSize && a.Length == b.Length && a.LengthFieldPos == b.LengthFieldPos &&
         a.IndxPos == b.IndxPos && a.IndxSize == b.IndxSize && a.JunkPos == b.JunkPos && a.JunkSize == b.JunkSize &&
         a.Readable == b.Readable;
}

// ---- Files from the muxers, against ffprobe -------------------------------

struct MuxerRow {
  const char* Name;
  const char* Needs;
  const char* Command;  // makes OUT, may read Y4M and WAV
  bool StrlJunk;        // the muxer reserves room for an indx in each strl
  bool Dmlh;            // the muxer writes LIST odml / dmlh in every file
  bool OdmlJunk;        // the muxer reserves a JUNK in hdrl for LIST odml
};

void PrintTo(const MuxerRow& row, std::ostream* os) { *os << row.Name; }

const MuxerRow MuxerRows[] = {
    {"ffmpeg mpeg4 mp3", "ffmpeg -hide_banner -encoders | grep -qw libmp3lame",
     "ffmpeg -nostdin -v error -y -i Y4M -i WAV -c:v mpeg4 -vtag XVID -bf 2 -c:a libmp3lame OUT", true, false, true},
    {"ffmpeg x264 pcm", "ffmpeg -hide_banner -encoders | grep -qw libx264",
     "ffmpeg -nostdin -v error -y -i Y4M -i WAV -c:v libx264 -c:a pcm_s16le OUT", true, false, true},
    {"mencoder lavc mp3", "command -v mencoder",
     "mencoder -really-quiet Y4M -audiofile WAV -oac mp3lame -ovc lavc -lavcopts vcodec=mpeg4 -o OUT", false,
     false, false},
    {"gstreamer x264 mp3", "gst-inspect-1.0 x264enc && gst-inspect-1.0 lamemp3enc",
     "gst-launch-1.0 -q videotestsrc num-buffers=50 ! video/x-raw,width=176,height=144 ! x264enc ! avimux name=m "
     "! filesink location=OUT audiotestsrc num-buffers=20 ! lamemp3enc ! m.",
     true, true, false},
};

class MuxerHeaders : public ::testing::TestWithParam<MuxerRow> {};

TEST_P(MuxerHeaders, StreamsMatchFfprobeAndPositionsHoldTheirFields) {
  const MuxerRow& row = GetParam();
  if (!Succeeds("command -v ffmpeg && command -v ffprobe")) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
  if (!Succeeds(row.Needs)) GTEST_SKIP() << row.Name << ": the tool or its encoder is not installed";
  TempDir dir;
  const std::string y4m = dir / "src.y4m", wav = dir / "src.wav", out = dir / "clip.avi";
  ASSERT_TRUE(Succeeds("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=176x144:rate=25 -t 2 -pix_fmt yuv420p '" +
                       y4m + "'"));
  ASSERT_TRUE(Succeeds("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=330:sample_rate=22050 -t 2 '" + wav +
                       "'"));
  std::string command = row.Command;
  command = FilledIn(command, {{"Y4M", y4m}, {"WAV", wav}, {"OUT", out}});
  ASSERT_TRUE(Succeeds(command)) << command;

  const Bytes file = ReadFile(out);
  const Bytes hdrl = HdrlOf(file);
  ASSERT_FALSE(hdrl.empty());
  const AviHeaders h = ReadHeaders(hdrl.data(), hdrl.size(), 12);

  // One line per stream: codec_type,codec_tag,width,height,nb_frames (strh
  // dwLength); audio has no width and height.
  std::istringstream probe(Capture(
      "ffprobe -v error -show_entries stream=codec_type,codec_tag,width,height,nb_frames -of csv=p=0 '" + out + "'"));
  std::vector<std::string> lines;
  for (std::string line; std::getline(probe, line);)
    if (!line.empty()) lines.push_back(line);
  ASSERT_EQ(h.Streams.size(), lines.size());
  EXPECT_EQ(h.StreamCount, lines.size());
  std::uint32_t videoFrames = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    char type[16] = {};
    unsigned tag = 0, frames = 0;
    int width = 0, height = 0;
    const bool picture = std::sscanf(lines[i].c_str(), "%15[a-z],0x%x,%d,%d,%u", type, &tag, &width, &height,
                                     &frames) == 5;
    if (!picture) ASSERT_EQ(std::sscanf(lines[i].c_str(), "%15[a-z],0x%x,%u", type, &tag, &frames), 3) << lines[i];
    const StreamHeader& s = h.Streams[i];
    SCOPED_TRACE(lines[i]);
    EXPECT_TRUE(s.Readable);
    if (std::string(type) == "video") {
      EXPECT_EQ(s.Type, MakeFourCC("vids"));
      EXPECT_EQ(s.Compression, tag);
      EXPECT_TRUE(picture);
      EXPECT_EQ(s.Width, width);
      EXPECT_EQ(std::abs(s.Height), height);
      EXPECT_EQ(s.BitCount, 24);  // what all three muxers write for these codecs
      videoFrames = frames;
    } else {
      EXPECT_EQ(s.Type, MakeFourCC("auds"));
      EXPECT_EQ(s.FormatTag, tag);
      EXPECT_GT(s.BlockAlign, 0);
    }
    EXPECT_EQ(s.Length, frames);
    EXPECT_EQ(At32(file, s.LengthFieldPos), frames);
    EXPECT_GT(s.Scale, 0u);
    EXPECT_GT(s.Rate, 0u);
    EXPECT_EQ(s.IndxPos, -1);
    if (row.StrlJunk) {
      EXPECT_EQ(At32(file, s.JunkPos), MakeFourCC("JUNK"));
      EXPECT_EQ(At32(file, s.JunkPos + 4), s.JunkSize);
      EXPECT_GE(s.JunkSize, 24u);  // room for a super index header
    } else {
      EXPECT_EQ(s.JunkPos, -1);
    }
  }
  EXPECT_NE(h.Flags & 0x10, 0u);  // AVIF_HASINDEX: each muxer wrote an idx1
  EXPECT_EQ(At32(file, h.FlagsPos), h.Flags);
  EXPECT_EQ(h.TotalFrames, videoFrames);
  EXPECT_EQ(At32(file, h.TotalFramesPos), videoFrames);
  if (row.OdmlJunk) {
    EXPECT_EQ(At32(file, h.JunkPos), MakeFourCC("JUNK"));
    EXPECT_EQ(At32(file, h.JunkPos + 4), h.JunkSize);
    EXPECT_EQ(At32(file, h.JunkPos + 8), MakeFourCC("odml"));  // the list type already in place
  } else {
    EXPECT_EQ(h.JunkPos, -1);
  }
  if (row.Dmlh) {
    EXPECT_EQ(h.DmlhTotalFrames, videoFrames);
    EXPECT_EQ(At32(file, h.DmlhPos), videoFrames);
  } else {
    EXPECT_EQ(h.DmlhPos, -1);
  }
}

INSTANTIATE_TEST_SUITE_P(Muxers, MuxerHeaders, ::testing::ValuesIn(MuxerRows), [](const auto& info) {
  std::string name = info.param.Name;
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
});

// ---- Hand-made headers --------------------------------------------------

// Writes hdrl bytes and remembers where each part went.
class HdrlWriter {
 public:
  std::size_t Chunk(const char* code, const Bytes& data) {
    const std::size_t at = bytes_.size();
    Put(code);
    Put32(static_cast<std::uint32_t>(data.size()));
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    if (data.size() & 1) bytes_.push_back(0);
    return at;
  }
  std::size_t BeginList(const char* type) {
    const std::size_t at = bytes_.size();
    Put("LIST");
    Put32(0);
    Put(type);
    open_.push_back(at);
    return at;
  }
  std::size_t EndList() {
    const std::size_t at = open_.back();
    open_.pop_back();
    VEK::StoreLe32(&bytes_[at + 4], static_cast<std::uint32_t>(bytes_.size() - at - 8));
    return bytes_.size();
  }
  const Bytes& Get() const { return bytes_; }

 private:
  void Put(const char* four) { bytes_.insert(bytes_.end(), four, four + 4); }
  void Put32(std::uint32_t v) {
    unsigned char b[4];
    VEK::StoreLe32(b, v);
    bytes_.insert(bytes_.end(), b, b + 4);
  }
  Bytes bytes_;
  std::vector<std::size_t> open_;
};

Bytes Fields(std::initializer_list<std::uint32_t> values, std::size_t size) {
  Bytes b(size, 0);
  std::size_t at = 0;
  for (std::uint32_t v : values) {
    if (at + 4 <= size) VEK::StoreLe32(&b[at], v);
    at += 4;
  }
  return b;
}

Bytes Strh(VEKAvi::FourCC type, VEKAvi::FourCC handler, std::uint32_t length, std::uint32_t sampleSize) {
  // fccType, fccHandler, dwFlags, wPriority+wLanguage, dwInitialFrames,
  // dwScale, dwRate, dwStart, dwLength, dwSuggestedBufferSize, dwQuality,
  // dwSampleSize, rcFrame
  return Fields({type, handler, 0, 0, 0, 1, 25, 0, length, 0, 0, sampleSize}, 56);
}

// Where the parts of a hand-made two-stream header went, and what the
// reader should find in it.
struct Made {
  Bytes Hdrl;
  AviHeaders Expected;
  std::vector<std::size_t> StrlAt, StrlEnd;
  std::size_t StrnAt = 0;
};

enum class OdmlAt { None, AfterStreams, BeforeStreams, BareDmlh };

// avih, a video strl (strh, strf, indx, JUNK) and an audio strl (strh, strf,
// JUNK), with the OpenDML header where asked. at = 12 as in a file.
Made MakeHdrl(OdmlAt odml) {
  HdrlWriter w;
  Made m;
  AviHeaders& e = m.Expected;
  w.BeginList("hdrl");
  const std::size_t avih = w.Chunk("avih", Fields({40000, 0, 0, 0x10, 250, 0, 2}, 56));
  e.FlagsPos = 12 + avih + 8 + 12;
  e.Flags = 0x10;
  e.TotalFramesPos = 12 + avih + 8 + 16;
  e.TotalFrames = 250;
  e.StreamCount = 2;
  auto dmlh = [&] {
    const std::size_t at = w.Chunk("dmlh", Fields({777}, 248));
    e.DmlhPos = 12 + at + 8;
    e.DmlhTotalFrames = 777;
  };
  if (odml == OdmlAt::BeforeStreams) {
    w.BeginList("odml");
    dmlh();
    w.EndList();
  }

  StreamHeader v;
  m.StrlAt.push_back(w.BeginList("strl"));
  const std::size_t vstrh = w.Chunk("strh", Strh(MakeFourCC("vids"), MakeFourCC("xvid"), 250, 0));
  w.Chunk("strf", Fields({40, 176, 144, 0x00180001, MakeFourCC("XVID")}, 40));
  m.StrnAt = w.Chunk("strn", Bytes{'V', 'i', 'd', 'e', 'o', '1', 0});  // odd: a pad byte follows
  const std::size_t indx = w.Chunk("indx", Fields({4, 0, MakeFourCC("00dc")}, 24 + 16 * 4));
  const std::size_t vjunk = w.Chunk("JUNK", Bytes(100, 0));
  m.StrlEnd.push_back(w.EndList());
  v.Type = MakeFourCC("vids");
  v.Handler = MakeFourCC("xvid");
  v.Compression = MakeFourCC("XVID");
  v.Width = 176;
  v.Height = 144;
  v.BitCount = 24;
  v.Scale = 1;
  v.Rate = 25;
  v.Length = 250;
  v.LengthFieldPos = 12 + vstrh + 8 + 32;
  v.IndxPos = 12 + indx;
  v.IndxSize = 24 + 16 * 4;
  v.JunkPos = 12 + vjunk;
  v.JunkSize = 100;
  v.Readable = true;
  e.Streams.push_back(v);

  StreamHeader a;
  m.StrlAt.push_back(w.BeginList("strl"));
  const std::size_t astrh = w.Chunk("strh", Strh(MakeFourCC("auds"), 1, 88200, 4));
  // WAVEFORMATEX: wFormatTag, nChannels, nSamplesPerSec, nAvgBytesPerSec,
  // nBlockAlign, wBitsPerSample, cbSize
  Bytes wave(18, 0);
  VEK::StoreLe32(&wave[0], 0x00020001);
  VEK::StoreLe32(&wave[4], 22050);
  VEK::StoreLe32(&wave[8], 88200);
  VEK::StoreLe32(&wave[12], 0x00100004);
  w.Chunk("strf", wave);
  const std::size_t ajunk = w.Chunk("JUNK", Bytes(33, 0));  // odd: a pad byte follows
  m.StrlEnd.push_back(w.EndList());
  a.Type = MakeFourCC("auds");
  a.Handler = 1;
  a.FormatTag = 1;
  a.BlockAlign = 4;
  a.Scale = 1;
  a.Rate = 25;
  a.SampleSize = 4;
  a.Length = 88200;
  a.LengthFieldPos = 12 + astrh + 8 + 32;
  a.JunkPos = 12 + ajunk;
  a.JunkSize = 33;
  a.Readable = true;
  e.Streams.push_back(a);

  if (odml == OdmlAt::AfterStreams) {
    w.BeginList("odml");
    dmlh();
    w.EndList();
  } else if (odml == OdmlAt::BareDmlh) {
    dmlh();
  }
  const std::size_t junk = w.Chunk("JUNK", Bytes(20, 0));
  e.JunkPos = 12 + junk;
  e.JunkSize = 20;
  w.EndList();
  m.Hdrl = w.Get();
  return m;
}

void ExpectSame(const AviHeaders& got, const AviHeaders& expected) {
  EXPECT_EQ(got.FlagsPos, expected.FlagsPos);
  EXPECT_EQ(got.Flags, expected.Flags);
  EXPECT_EQ(got.TotalFramesPos, expected.TotalFramesPos);
  EXPECT_EQ(got.TotalFrames, expected.TotalFrames);
  EXPECT_EQ(got.StreamCount, expected.StreamCount);
  EXPECT_EQ(got.DmlhPos, expected.DmlhPos);
  EXPECT_EQ(got.DmlhTotalFrames, expected.DmlhTotalFrames);
  EXPECT_EQ(got.JunkPos, expected.JunkPos);
  EXPECT_EQ(got.JunkSize, expected.JunkSize);
  ASSERT_EQ(got.Streams.size(), expected.Streams.size());
  for (std::size_t i = 0; i < got.Streams.size(); ++i)
    EXPECT_TRUE(SameStream(got.Streams[i], expected.Streams[i])) << i;
}

TEST(HeaderReader, FindsTheOpenDmlHeaderWhereverMuxersPutItInHdrl) {
  for (const OdmlAt where : {OdmlAt::None, OdmlAt::AfterStreams, OdmlAt::BeforeStreams, OdmlAt::BareDmlh}) {
    SCOPED_TRACE(static_cast<int>(where));
    const Made m = MakeHdrl(where);
    ExpectSame(ReadHeaders(m.Hdrl.data(), m.Hdrl.size(), 12), m.Expected);
  }
}

// ---- Damage ---------------------------------------------------------------

// Cut at every length: nothing is read past the cut, a stream is readable
// exactly when its whole strl lies before it (a strl that runs past the end
// is damage), and what is read equals the whole header's values. Once avih is
// whole, every stream keeps its slot.
TEST(HeaderReader, AHeaderCutAtEveryLengthNeverReadsPastTheCut) {
  const Made m = MakeHdrl(OdmlAt::AfterStreams);
  const AviHeaders whole = ReadHeaders(m.Hdrl.data(), m.Hdrl.size(), 12);
  ExpectSame(whole, m.Expected);
  for (std::size_t n = 0; n <= m.Hdrl.size(); ++n) {
    SCOPED_TRACE(n);
    // A copy of exactly n bytes, so that AddressSanitizer sees any read past it.
    const std::vector<unsigned char> cut(m.Hdrl.begin(), m.Hdrl.begin() + static_cast<std::ptrdiff_t>(n));
    const AviHeaders h = ReadHeaders(cut.data(), n, 12);
    if (n >= 12 + 8 + 56) {
      ASSERT_EQ(h.Streams.size(), 2u);
    } else {
      EXPECT_TRUE(h.Streams.empty());
    }
    for (std::size_t i = 0; i < h.Streams.size(); ++i) {
      EXPECT_EQ(h.Streams[i].Readable, n >= m.StrlEnd[i]) << i;
      if (h.Streams[i].Readable) {
        EXPECT_TRUE(SameStream(h.Streams[i], whole.Streams[i])) << i;
      }
    }
    if (h.DmlhPos >= 0) {
      EXPECT_EQ(h.DmlhPos, whole.DmlhPos);
    }
  }
}

TEST(HeaderReader, DamagedStreamsAreUnreadableAndKeepTheirNumbers) {
  struct Case {
    const char* Name;
    std::function<void(Made&)> Damage;
    std::vector<bool> Readable;  // empty: no streams at all
  };
  auto size32 = [](Made& m, std::size_t at, std::uint32_t v) { VEK::StoreLe32(&m.Hdrl[at], v); };
  const Case cases[] = {
      {"intact", [](Made&) {}, {true, true}},
      {"strh size overruns its strl", [&](Made& m) { size32(m, m.StrlAt[0] + 12 + 4, 0xFFFFFFF0u); }, {false, true}},
      {"strf size overruns its strl", [&](Made& m) { size32(m, m.StrlAt[0] + 12 + 64 + 4, 5000); }, {false, true}},
      {"strl size overruns hdrl", [&](Made& m) { size32(m, m.StrlAt[0] + 4, 0x7FFFFFFF); }, {false, false}},
      {"hdrl claims more than there is", [&](Made& m) { size32(m, 4, 0xFFFFFFFFu); }, {true, true}},
      // The list after a zeroed one is read, numbered by the main header's count.
      {"zeroed strl",
       [](Made& m) { std::fill(m.Hdrl.begin() + m.StrlAt[0], m.Hdrl.begin() + m.StrlEnd[0], 0); },
       {false, true}},
      {"zeroed strl contents",
       [](Made& m) { std::fill(m.Hdrl.begin() + m.StrlAt[0] + 12, m.Hdrl.begin() + m.StrlEnd[0], 0); },
       {false, true}},
      {"strf shorter than a BITMAPINFOHEADER", [&](Made& m) { size32(m, m.StrlAt[0] + 12 + 64 + 4, 36); },
       {false, true}},
      {"strh shorter than its fields", [&](Made& m) { size32(m, m.StrlAt[1] + 12 + 4, 40); }, {true, false}},
      {"not a hdrl list", [](Made& m) { std::memcpy(&m.Hdrl[8], "movi", 4); }, {}},
      {"strn without its pad byte",
       [&](Made& m) {
         m.Hdrl.erase(m.Hdrl.begin() + static_cast<std::ptrdiff_t>(m.StrnAt + 8 + 7));
         size32(m, 4, VEK::LoadLe32(&m.Hdrl[4]) - 1);
         size32(m, m.StrlAt[0] + 4, VEK::LoadLe32(&m.Hdrl[m.StrlAt[0] + 4]) - 1);
         for (std::size_t i = 1; i < m.StrlAt.size(); ++i) m.StrlAt[i]--;
         m.Expected.Streams[0].IndxPos--;
         m.Expected.Streams[0].JunkPos--;
         for (std::size_t i = 1; i < m.Expected.Streams.size(); ++i) {
           m.Expected.Streams[i].LengthFieldPos--;
           m.Expected.Streams[i].JunkPos--;
         }
       },
       {true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Made m = MakeHdrl(OdmlAt::AfterStreams);
    c.Damage(m);
    const AviHeaders h = ReadHeaders(m.Hdrl.data(), m.Hdrl.size(), 12);
    ASSERT_EQ(h.Streams.size(), c.Readable.size());
    for (std::size_t i = 0; i < c.Readable.size(); ++i) {
      EXPECT_EQ(h.Streams[i].Readable, c.Readable[i]) << i;
      if (h.Streams[i].Readable) {
        EXPECT_TRUE(SameStream(h.Streams[i], m.Expected.Streams[i])) << i;
      }
    }
  }
}

// Random byte changes, kept reproducible: whatever is read stays inside the
// bytes given and the stream count stays within what chunk ids can number.
TEST(HeaderReader, RandomDamageStaysInsideTheBytesGiven) {
  const Made m = MakeHdrl(OdmlAt::AfterStreams);
  std::mt19937 random(20261208);
  const std::int64_t at = 12, end = at + static_cast<std::int64_t>(m.Hdrl.size());
  auto inside = [&](std::int64_t pos, std::int64_t bytes) { return pos == -1 || (pos >= at && pos + bytes <= end); };
  for (int round = 0; round < 3000; ++round) {
    Bytes damaged = m.Hdrl;
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int c = 0; c < changes; ++c) damaged[random() % damaged.size()] = static_cast<unsigned char>(random());
    const std::size_t n = round % 2 ? damaged.size() : random() % (damaged.size() + 1);
    const std::vector<unsigned char> given(damaged.begin(), damaged.begin() + static_cast<std::ptrdiff_t>(n));
    const AviHeaders h = ReadHeaders(given.data(), n, at);
    const std::int64_t givenEnd = at + static_cast<std::int64_t>(n);
    auto within = [&](std::int64_t pos, std::int64_t bytes) {
      return inside(pos, bytes) && (pos == -1 || pos + bytes <= givenEnd);
    };
    ASSERT_LE(h.Streams.size(), 256u);
    ASSERT_TRUE(within(h.TotalFramesPos, 4)) << round;
    ASSERT_TRUE(within(h.FlagsPos, 4)) << round;
    ASSERT_TRUE(within(h.DmlhPos, 4)) << round;
    ASSERT_TRUE(within(h.JunkPos, 8 + static_cast<std::int64_t>(h.JunkSize))) << round;
    for (const StreamHeader& s : h.Streams) {
      ASSERT_TRUE(within(s.LengthFieldPos, 4)) << round;
      ASSERT_TRUE(within(s.IndxPos, 8 + static_cast<std::int64_t>(s.IndxSize))) << round;
      ASSERT_TRUE(within(s.JunkPos, 8 + static_cast<std::int64_t>(s.JunkSize))) << round;
      if (s.Readable) {
        ASSERT_NE(s.LengthFieldPos, -1) << round;
      }
    }
  }
}

}  // namespace
