// The console's recovery on sources that are no file system: a camera's film
// laid among other bytes, whole or with its end lost, judged by what ffmpeg
// decodes of the film before it was laid there.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace {

using ZantrelTest::DecodedVideo;
using ZantrelTest::RunProgram;
using ZantrelTest::TempDir;

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string Noise(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  return names;
}

class RecoverCli : public testing::Test {
 protected:
  void SetUp() override {
    if (!ZantrelTest::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    const auto made = RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                  "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i", "sine=sample_rate=22050",
                                  "-t", "4", "-c:v", "mjpeg", "-q:v", "4", "-c:a", "pcm_s16le", "-ac", "1",
                                  Dir / "film.avi"});
    ASSERT_EQ(made.Status, 0) << made.Err;
    Film = Contents(Dir / "film.avi");
  }

  TempDir Dir;
  std::string Film;
};

// The film starts on a sector of the source: whole, it comes back decoding
// frame for frame as it was; with its end overwritten, it comes back up to
// its last whole frame, and its line says its next piece was not found.
TEST_F(RecoverCli, AFilmAmongOtherBytesComesBackUpToItsLastWholeFrame) {
  const std::vector<std::string> original = DecodedVideo(Dir / "film.avi");
  ASSERT_EQ(original.size(), 100u);
  const struct {
    const char* Name;
    double Kept;  // of the film's bytes, the share laid in the source
  } rows[] = {{"whole", 1.0}, {"end overwritten", 0.6}, {"most overwritten", 0.2}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    const std::size_t kept = static_cast<std::size_t>(static_cast<double>(Film.size()) * row.Kept);
    const std::string source = Dir / "card.img";
    std::ofstream(source, std::ios::binary) << Noise(512 * 301, 1) << Film.substr(0, kept) << Noise(1 << 20, 2);
    const std::string folder = Dir / (std::string("films-") + row.Name);
    const auto run = RunProgram({ZANTREL_CLI_PATH, "recover", source, folder});
    ASSERT_EQ(run.Status, 0) << run.Out;
    const auto names = FilesIn(folder);
    ASSERT_EQ(names, std::vector<std::string>{"film-0x25a00.avi"}) << run.Out;
    const auto recovered = DecodedVideo(folder + "/" + names[0]);
    EXPECT_EQ(run.Out.find("its next piece was not found") != std::string::npos, row.Kept < 1.0) << run.Out;
    // The film's line counts the frames a player gets.
    const auto said = run.Out.find(" frames (");
    ASSERT_NE(said, std::string::npos) << run.Out;
    EXPECT_EQ(run.Out.substr(run.Out.rfind(", ", said) + 2, said - run.Out.rfind(", ", said) - 2),
              std::to_string(recovered.size()));
    ASSERT_LE(recovered.size(), original.size());
    EXPECT_TRUE(std::equal(recovered.begin(), recovered.end(), original.begin()));
    // Every frame whose chunk lies whole in the kept bytes: the frames are
    // about the same size, so no more than one short of their share.
    EXPECT_GE(recovered.size() + 2, static_cast<std::size_t>(row.Kept * 100)) << run.Out;
  }
}

// A film in two pieces, the gap inside a video frame, the second piece right
// after the last cluster of another file (a little data, then the zeros
// that fill the rest of its cluster), with no file system to tell where the
// pieces lie: the frame that crosses the gap is put back from the film's
// own sectors, so the film decodes as it was made.
TEST_F(RecoverCli, AFrameAcrossAGapIsNotFilledFromAnotherFilesLastCluster) {
  const struct {
    const char* Codec;
  } rows[] = {{"mpeg4"}, {"libx264"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Codec);
    const std::string path = Dir / (std::string(row.Codec) + ".avi");
    const auto made = RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                  "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i", "sine=sample_rate=44100",
                                  "-t", "2", "-c:v", row.Codec, "-g", "12", "-c:a", "libmp3lame", "-b:a", "64k", path});
    if (made.Status != 0) GTEST_SKIP() << row.Codec << ": " << made.Err;
    const std::string film = Contents(path);
    // The first video frame of 2 KiB or more past the film's first third:
    // the gap falls 512 bytes or more inside it, on a sector boundary.
    std::size_t at = film.find("movi") + 4, split = 0;
    while (at + 8 <= film.size() && split == 0) {
      const std::uint32_t size = static_cast<unsigned char>(film[at + 4]) |
                                 static_cast<unsigned char>(film[at + 5]) << 8 |
                                 static_cast<unsigned char>(film[at + 6]) << 16 |
                                 static_cast<std::uint32_t>(static_cast<unsigned char>(film[at + 7])) << 24;
      if (film.compare(at + 2, 2, "dc") == 0 && size >= 2048 && at > film.size() / 3)
        split = (at + 8 + 1023) / 512 * 512;
      at += 8 + size + (size & 1);
    }
    ASSERT_NE(split, 0u);
    std::string lastCluster = Noise(200, 3);
    lastCluster.resize(512, '\0');
    const std::string source = Dir / "card.img";
    std::ofstream(source, std::ios::binary) << Noise(512 * 10, 1) << film.substr(0, split) << Noise(512 * 4, 2)
                                            << lastCluster << film.substr(split) << Noise(1 << 16, 4);
    const std::string folder = Dir / (std::string("films-") + row.Codec);
    const auto run = RunProgram({ZANTREL_CLI_PATH, "recover", source, folder});
    ASSERT_EQ(run.Status, 0) << run.Out;
    const auto names = FilesIn(folder);
    ASSERT_EQ(names.size(), 1u) << run.Out;
    EXPECT_EQ(DecodedVideo(folder + "/" + names[0]), DecodedVideo(path)) << run.Out;
  }
}

// A stop during the search writes no film and leaves nothing in the folder.
TEST_F(RecoverCli, AStopDuringTheSearchWritesNothing) {
  const std::string source = Dir / "card.img";
  {
    std::ofstream out(source, std::ios::binary);
    out << Film;
  }
  // A large sparse source, so that the search is mostly still under way
  // when the stop comes; it passes over the holes quickly, so the stop may
  // also find the film being rebuilt, which then leaves nothing either.
  std::filesystem::resize_file(source, std::int64_t{8} << 30);
  const std::string folder = Dir / "films";
  const auto run = RunProgram({ZANTREL_CLI_PATH, "recover", source, folder}, "Searching");
  EXPECT_EQ(run.Status, 1) << run.Out;
  EXPECT_TRUE(run.Out.find("The search was stopped: no film was written.") != std::string::npos ||
              run.Out.find("Operation aborted.") != std::string::npos)
      << run.Out;
  EXPECT_TRUE(FilesIn(folder).empty());
}

}  // namespace
