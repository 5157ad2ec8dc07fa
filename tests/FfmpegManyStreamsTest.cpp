// A film ffmpeg makes with more than ten streams numbers them in decimal
// ("10wb" is stream 10). zantrel-cli checks it, rebuilds it (a copy, in
// place, and with its header list zeroed), and ffprobe and ffmpeg judge
// each rebuilt file against the film: every stream with its codec, duration,
// frame count and packets, bit for bit. Skipped when ffmpeg or ffprobe is
// not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;

constexpr int AudioStreams = 11;

ProgramRun RunCli(const std::vector<std::string>& args) {
  std::vector<std::string> all = {ZANTREL_CLI_PATH};
  all.insert(all.end(), args.begin(), args.end());
  return RunProgram(all);
}

// Each stream's type, codec, duration, frame count and packets read.
std::vector<std::string> Streams(const std::string& path) {
  return RunProgram({"ffprobe", "-v", "error", "-count_packets", "-show_entries",
                     "stream=index,codec_type,codec_name,duration,nb_frames,nb_read_packets", "-of", "compact=p=0",
                     path})
      .Lines();
}

// Every packet of every stream as stored: stream, times, size and MD5.
std::vector<std::string> Packets(const std::string& path) {
  std::vector<std::string> packets;
  for (const std::string& line :
       RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0", "-c", "copy", "-f", "framemd5", "-"})
           .Lines())
    if (!line.empty() && line[0] != '#') packets.push_back(line);
  return packets;
}

// The data of the header list set to zero: every stream list lost.
Bytes HeaderListZeroed(Bytes film) {
  const Bytes hdrl = {'h', 'd', 'r', 'l'};
  const auto at = std::search(film.begin(), film.end(), hdrl.begin(), hdrl.end());
  const std::size_t list = static_cast<std::size_t>(at - film.begin()) - 8;
  const std::uint32_t size = VEK::LoadLe32(&film[list + 4]);
  std::fill(film.begin() + static_cast<std::ptrdiff_t>(list + 12),
            film.begin() + static_cast<std::ptrdiff_t>(list + 8 + size), 0);
  return film;
}

struct ManyStreams : ::testing::Test {
  static void SetUpTestSuite() {
    if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe")) return;
    Folder = std::make_unique<TempDir>();
    std::vector<std::string> args = {"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                     "testsrc=size=64x48:rate=10", "-f", "lavfi", "-i",
                                     "sine=frequency=440:sample_rate=16000", "-t", "2", "-map", "0:v"};
    for (int s = 0; s < AudioStreams; ++s) args.insert(args.end(), {"-map", "1:a"});
    args.insert(args.end(), {"-c:v", "mpeg4", "-c:a", "mp2", "-b:a", "32k", *Folder / "film.avi"});
    const ProgramRun made = RunProgram(args);
    if (made.Status != 0) {
      Error = "ffmpeg could not make the film: " + made.Err;
      return;
    }
    Film = ReadFile(*Folder / "film.avi");
  }
  static void TearDownTestSuite() { Folder.reset(); }
  void SetUp() override {
    if (!Folder) GTEST_SKIP() << "ffmpeg or ffprobe is not installed";
    ASSERT_EQ(Error, "");
  }
  static std::unique_ptr<TempDir> Folder;
  static std::string Error;
  static Bytes Film;
};
std::unique_ptr<TempDir> ManyStreams::Folder;
std::string ManyStreams::Error;
Bytes ManyStreams::Film;

TEST_F(ManyStreams, AHealthyFfmpegFilmWithElevenAudioStreamsChecksClean) {
  TempDir dir;
  WriteFile(dir / "film.avi", Film);
  const ProgramRun r = RunCli({"check", dir / "film.avi"});
  EXPECT_EQ(r.Status, 0) << r.Out;
  EXPECT_NE(r.Out.find("Done. Found 0 errors"), std::string::npos) << r.Out;
}

TEST_F(ManyStreams, EveryRebuildKeepsEveryStreamWithItsDurationAndPackets) {
  const std::string original = *Folder / "film.avi";
  const std::vector<std::string> streams = Streams(original), packets = Packets(original);
  ASSERT_EQ(streams.size(), static_cast<std::size_t>(AudioStreams + 1));
  ASSERT_FALSE(packets.empty());
  const struct {
    const char* name;
    bool inPlace, headerListZeroed;
  } cases[] = {
      {"a copy", false, false},
      {"in place", true, false},
      {"a copy of the film with its header list zeroed", false, true},
  };
  for (const auto& c : cases) {
    TempDir dir;
    WriteFile(dir / "film.avi", c.headerListZeroed ? HeaderListZeroed(Film) : Film);
    std::vector<std::string> args = {"rebuild"};
    if (c.inPlace) args.push_back("--in-place");
    args.push_back(dir / "film.avi");
    const ProgramRun r = RunCli(args);
    const std::string rebuilt = dir / (c.inPlace ? "film.avi" : "Zantrel.film.avi");
    ASSERT_TRUE(Exists(rebuilt)) << c.name << ": " << r.Out << r.Err;
    EXPECT_EQ(Streams(rebuilt), streams) << c.name << ": " << r.Out;
    // Told as the first packet that differs: a film has hundreds.
    const std::vector<std::string> got = Packets(rebuilt);
    const auto differs = std::mismatch(got.begin(), got.end(), packets.begin(), packets.end());
    EXPECT_TRUE(differs.first == got.end() && differs.second == packets.end())
        << c.name << ": " << got.size() << " packets for " << packets.size() << ", the first that differs: \""
        << (differs.first == got.end() ? "none" : *differs.first) << "\" for \""
        << (differs.second == packets.end() ? "none" : *differs.second) << "\"";
  }
}

}  // namespace
