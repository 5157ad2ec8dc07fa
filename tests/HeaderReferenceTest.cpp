// A rebuilt header list against ffprobe, where what it is built from lies:
// a reference file whose headers are damaged, implausible or describe other
// streams, a main header whose stream count is damage; a check's totals
// against the rebuild's; and Cinepak, whose frames tell codec and picture
// size. ffmpeg makes the films; hostile references are a healthy one with
// header bytes patched. Skipped when ffmpeg or ffprobe is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/AviBuilder.h"
#include "support/AviLayout.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;

constexpr std::uint32_t Vids = 0x73646976;  // 'vids'
constexpr std::uint32_t Auds = 0x73647561;  // 'auds'

ProgramRun RunCli(const std::vector<std::string>& args) {
  std::vector<std::string> all = {ZANTREL_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram(all);
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : " | ") + item;
  return text;
}

// Each stream as ffprobe reads it: "mpeg4,320,240", "mp3".
std::string ProbedStreams(const std::string& path) {
  const ProgramRun r =
      RunProgram({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name,width,height", "-of", "csv=p=0", path});
  return r.Status == 0 ? Joined(r.Lines()) : "ffprobe cannot read it: " + r.Err;
}

bool Make(const std::string& args, const std::string& path) {
  std::vector<std::string> all = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
  std::string word;
  for (const char c : args + " ") {
    if (c != ' ') {
      word += c;
    } else if (!word.empty()) {
      all.push_back(word);
      word.clear();
    }
  }
  all.push_back(path);
  return RunProgram(all).Status == 0;
}

struct Films {
  TempDir Dir;
  std::string Film, Reference, Cinepak;
  Bytes FilmBytes, ReferenceBytes, CinepakBytes;
  bool Made = false;
};
std::unique_ptr<Films> Made;

// MPEG-4 + MP3, as the film and as its reference (other pictures, another
// tone, another length); Cinepak alone.
void MakeFilms(Films& f) {
  f.Film = f.Dir / "film.avi";
  f.Reference = f.Dir / "reference.avi";
  f.Cinepak = f.Dir / "cinepak.avi";
  const std::string audio = " -ac 2 -c:a libmp3lame -b:a 96k";
  f.Made = Make("-f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 -t 3 "
                "-c:v mpeg4 -q:v 3 -g 12 -bf 0" + audio,
                f.Film) &&
           Make("-f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=frequency=660:sample_rate=44100 -t 2 "
                "-c:v mpeg4 -q:v 3 -g 12 -bf 0" + audio,
                f.Reference) &&
           Make("-f lavfi -i testsrc2=size=320x240:rate=30 -t 2 -c:v cinepak", f.Cinepak);
  if (!f.Made) return;
  f.FilmBytes = ReadFile(f.Film);
  f.ReferenceBytes = ReadFile(f.Reference);
  f.CinepakBytes = ReadFile(f.Cinepak);
}

struct HeaderReference : ::testing::Test {
  static void SetUpTestSuite() {
    if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe")) return;
    const ProgramRun encoders = RunProgram({"ffmpeg", "-hide_banner", "-encoders"});
    if (encoders.Out.find(" libmp3lame ") == std::string::npos || encoders.Out.find(" cinepak ") == std::string::npos)
      return;
    Made = std::make_unique<Films>();
    MakeFilms(*Made);
  }
  static void TearDownTestSuite() { Made.reset(); }
  void SetUp() override {
    if (!Made) GTEST_SKIP() << "ffmpeg, ffprobe, or their libmp3lame or cinepak encoder, is not installed";
    ASSERT_TRUE(Made->Made) << "ffmpeg could not make the films";
  }
};

// ---------------------------------------------------------------------------
// Patches of a healthy file's header bytes.

const StreamLayout& StreamOf(const AviLayout& layout, std::uint32_t type) {
  const int s = layout.StreamOfType(type);
  if (s < 0) throw std::runtime_error("no such stream");
  return layout.Streams[static_cast<std::size_t>(s)];
}

void Zero(Bytes& bytes, const Span& span) {
  std::fill(bytes.begin() + span.Begin, bytes.begin() + span.End, 0);
}

void StrfSize4(Bytes& b) {
  // The strf chunk then holds 4 bytes, and the strl walk stops after it.
  VEK::StoreLe32(&b[StreamOf(ReadLayout(b), Vids).StrfData.Begin - 4], 4);
}

void PictureIntMin(Bytes& b) {
  const std::int64_t at = StreamOf(ReadLayout(b), Vids).StrfData.Begin;
  VEK::StoreLe32(&b[at + 4], static_cast<std::uint32_t>(INT_MIN));
  VEK::StoreLe32(&b[at + 8], static_cast<std::uint32_t>(INT_MIN));
}

void CodecMjpg(Bytes& b) { VEK::StoreLe32(&b[StreamOf(ReadLayout(b), Vids).StrfData.Begin + 16], Code("MJPG")); }

// The audio stream list again and again, up to count streams, the main
// header counting them all.
void StreamsUpTo(Bytes& b, std::uint32_t count) {
  const AviLayout layout = ReadLayout(b);
  const Span audio = StreamOf(layout, Auds).List;
  const Bytes strl(b.begin() + audio.Begin, b.begin() + audio.End);
  Bytes more;
  for (std::size_t i = layout.Streams.size(); i < count; ++i) more.insert(more.end(), strl.begin(), strl.end());
  b.insert(b.begin() + layout.Hdrl.End, more.begin(), more.end());
  VEK::StoreLe32(&b[layout.Hdrl.Begin + 4], static_cast<std::uint32_t>(layout.Hdrl.End - layout.Hdrl.Begin - 8 +
                                                                        static_cast<std::int64_t>(more.size())));
  VEK::StoreLe32(&b[layout.AvihData.Begin + 24], count);
  VEK::StoreLe32(&b[4], static_cast<std::uint32_t>(b.size() - 8));
}

void VideoStrlZeroed(Bytes& b) { Zero(b, StreamOf(ReadLayout(b), Vids).List); }

void StreamCount10000(Bytes& b) {
  const AviLayout layout = ReadLayout(b);
  Zero(b, StreamOf(layout, Vids).List);
  VEK::StoreLe32(&b[layout.AvihData.Begin + 24], 10000);
}

// The film of clean bytes given the damage, as dir/film.avi; its path.
std::string PutDamaged(const TempDir& dir, Bytes film, const std::function<void(Bytes&)>& damage) {
  damage(film);
  const std::string path = dir / "film.avi";
  WriteFile(path, film);
  return path;
}

// A film whose video stream list is lost, rebuilt with a reference that
// lies, or without one where its own main header does: the copy holds the
// data's streams, as the data tells them, and no more.
TEST_F(HeaderReference, ARebuildTakesNoStreamOrFormatTheDataContradicts) {
  const struct {
    const char* Name;
    std::function<void(Bytes&)> Damage;     // of the film
    std::function<void(Bytes&)> Reference;  // null: no reference
    const char* Line;                       // a line of the run holds it
  } rows[] = {
      {"reference strf of 4 bytes", VideoStrlZeroed, StrfSize4,
       "The format of stream 0 in the reference file was not used: the format (strf) of stream 0 is missing or "
       "damaged."},
      {"reference picture INT_MIN x INT_MIN", VideoStrlZeroed, PictureIntMin,
       "The format of stream 0 in the reference file was not used"},
      {"reference strf says MJPG", VideoStrlZeroed, CodecMjpg,
       "The format of stream 0 in the reference file was not used: the format of stream 0 says \"MJPG\", but its "
       "data is MPEG-4 Visual."},
      {"reference of 100 streams", VideoStrlZeroed, [](Bytes& b) { StreamsUpTo(b, 100); },
       "The formats of stream 0 were taken from the reference file."},
      {"reference of 300 streams", VideoStrlZeroed, [](Bytes& b) { StreamsUpTo(b, 300); },
       "The formats of stream 0 were taken from the reference file."},
      {"avih counting 10000 streams", StreamCount10000, nullptr, "A new header list was written from the data."},
  };
  const std::string original = ProbedStreams(Made->Film);
  ASSERT_EQ(original, "mpeg4,320,240 | mp3");
  for (const auto& row : rows) {
    TempDir dir;
    const std::string film = PutDamaged(dir, Made->FilmBytes, row.Damage);
    std::vector<std::string> args = {"rebuild"};
    if (row.Reference) {
      Bytes reference = Made->ReferenceBytes;
      row.Reference(reference);
      WriteFile(dir / "reference.avi", reference);
      args.insert(args.end(), {"--reference", dir / "reference.avi"});
    }
    args.push_back(film);
    const ProgramRun r = RunCli(args);
    const std::vector<std::string> lines = r.Lines();
    EXPECT_EQ(r.Status, 0) << row.Name << ": " << Joined(lines);
    EXPECT_EQ(ProbedStreams(dir / "Zantrel.film.avi"), original) << row.Name << ": " << Joined(lines);
    EXPECT_NE(Joined(lines).find(row.Line), std::string::npos) << row.Name << ": " << Joined(lines);
  }

  // A healthy reference is still used, for the format the data also tells.
  TempDir dir;
  const ProgramRun r =
      RunCli({"rebuild", "--reference", Made->Reference, PutDamaged(dir, Made->FilmBytes, VideoStrlZeroed)});
  EXPECT_NE(Joined(r.Lines()).find("The formats of stream 0 were taken from the reference file."), std::string::npos)
      << Joined(r.Lines());
  EXPECT_EQ(ProbedStreams(dir / "Zantrel.film.avi"), original);
}

// "Done. Found 2 errors, 76 video frames, 133632 audio samples": the frames
// and samples.
std::string Totals(const std::vector<std::string>& lines) {
  static const std::regex done(R"(^Done\. Found \d+ errors?, (\d+ video frames?, \d+ audio samples?))");
  std::smatch m;
  for (const std::string& line : lines)
    if (std::regex_search(line, m, done)) return m[1];
  return "no Done line";
}

// Where the header list is damaged, the check counts the audio samples in
// the units of the format a rebuild reads in the data, as the rebuild does.
TEST_F(HeaderReference, ACheckCountsWhatARebuildWrites) {
  const struct {
    const char* Name;
    std::function<void(Bytes&)> Damage;
  } rows[] = {
      {"first 16 KiB zeroed", [](Bytes& b) { Zero(b, {0, 16384}); }},
      {"hdrl zeroed", [](Bytes& b) { Zero(b, ReadLayout(b).Hdrl); }},
      {"audio strl zeroed", [](Bytes& b) { Zero(b, StreamOf(ReadLayout(b), Auds).List); }},
  };
  for (const auto& row : rows) {
    TempDir dir;
    const std::string film = PutDamaged(dir, Made->FilmBytes, row.Damage);
    const ProgramRun check = RunCli({"check", film});
    const ProgramRun rebuild = RunCli({"rebuild", film});
    ASSERT_TRUE(Exists(dir / "Zantrel.film.avi")) << row.Name << ": " << Joined(rebuild.Lines());
    EXPECT_NE(Totals(rebuild.Lines()), "no Done line") << row.Name;
    EXPECT_EQ(Totals(check.Lines()), Totals(rebuild.Lines())) << row.Name;
  }
}

// A Cinepak film whose headers are lost gets its codec and picture size
// back from its frames; a healthy one checks healthy.
TEST_F(HeaderReference, CinepakTellsItsFormatFromItsFrames) {
  const struct {
    const char* Name;
    std::function<void(Bytes&)> Damage;
  } rows[] = {
      {"strh and strf zeroed",
       [](Bytes& b) {
         const AviLayout layout = ReadLayout(b);
         const StreamLayout& s = StreamOf(layout, Vids);
         Zero(b, {s.Strh.Begin + 8, s.Strh.End});
         Zero(b, s.StrfData);
       }},
      {"first 16 KiB zeroed", [](Bytes& b) { Zero(b, {0, 16384}); }},
  };
  const std::string original = ProbedStreams(Made->Cinepak);
  ASSERT_EQ(original, "cinepak,320,240");
  for (const auto& row : rows) {
    TempDir dir;
    const ProgramRun r = RunCli({"rebuild", PutDamaged(dir, Made->CinepakBytes, row.Damage)});
    EXPECT_EQ(ProbedStreams(dir / "Zantrel.film.avi"), original) << row.Name << ": " << Joined(r.Lines());
  }
  const ProgramRun healthy = RunCli({"check", Made->Cinepak});
  EXPECT_EQ(healthy.Status, 0) << Joined(healthy.Lines());
}

}  // namespace
