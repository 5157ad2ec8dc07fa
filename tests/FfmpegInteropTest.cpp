// Files that no one here wrote: AVI files made by ffmpeg, with their index
// removed or their data damaged the way downloads damage it. The rebuilt
// index must match ffmpeg's own entry for entry, and ffmpeg must decode the
// copy without a single error. Skipped when ffmpeg is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>

#include "support/AviBuilder.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;

bool HaveFfmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

int Shell(const std::string& command) { return std::system(command.c_str()); }

struct Interop : ::testing::Test {
  TempDir dir;
  void SetUp() override {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
  }

  // Makes an AVI with ffmpeg and returns its bytes and ffmpeg's own index.
  Bytes Make(const std::string& name, const std::string& codecs, ParsedIndex& index) {
    const std::string path = dir / name;
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i "
        "sine=frequency=330:sample_rate=22050 -t 3 " +
        codecs + " '" + path + "'";
    EXPECT_EQ(Shell(command), 0) << command;
    Bytes bytes = ReadFile(path);
    index = ReadIdx1(bytes);
    EXPECT_TRUE(index.Found) << name;
    return bytes;
  }

  static std::int64_t MoviOffset(const Bytes& bytes) {
    for (std::size_t i = 12; i + 12 <= bytes.size(); ++i)
      if (std::memcmp(&bytes[i], "LIST", 4) == 0 && std::memcmp(&bytes[i + 8], "movi", 4) == 0)
        return static_cast<std::int64_t>(i);
    return -1;
  }

  std::vector<ExpectedEntry> RebuildAndRead(const std::string& name, const Bytes& damaged) {
    const std::string path = dir / name;
    WriteFile(path, damaged);
    WorkerRunOptions o;
    o.CheckOnly = false;
    const auto r = RunWorker({path}, o);
    EXPECT_EQ(r.Outcomes(), std::vector<VEKRiff::RebuildEvent>{VEKRiff::FileRebuilt}) << name;
    const std::string copy = dir / ("Zantrel." + name);
    const std::string log = dir / (name + ".decode.log");
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i '" + copy + "' -f null - 2>'" + log + "'"), 0) << name;
    const Bytes errors = ReadFile(log);
    EXPECT_EQ(std::string(errors.begin(), errors.end()), "") << name << ": ffmpeg reported errors";
    return ReadIdx1(ReadFile(copy)).Entries;
  }
};

std::vector<ExpectedEntry> Prefix(const std::vector<ExpectedEntry>& v, std::size_t n) {
  return std::vector<ExpectedEntry>(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(n));
}

const char* const Codecs[] = {
    "-c:v mpeg4 -c:a pcm_s16le",
    "-c:v mjpeg -q:v 5 -c:a pcm_u8",
    "-c:v rawvideo -pix_fmt bgr24 -an",
    "-c:v libx264 -preset ultrafast -g 10 -c:a libmp3lame -b:a 64k",
};

TEST_F(Interop, ARemovedIndexIsRebuiltEntryForEntry) {
  int n = 0;
  for (const char* codecs : Codecs) {
    const std::string name = "strip" + std::to_string(n++) + ".avi";
    ParsedIndex original;
    Bytes bytes = Make(name, codecs, original);
    if (!original.Found) continue;
    bytes.resize(static_cast<std::size_t>(original.Position));
    EXPECT_EQ(RebuildAndRead(name, bytes), original.Entries) << codecs;
  }
}

TEST_F(Interop, APartialDownloadWithAZeroFilledTailKeepsEveryCompleteChunk) {
  ParsedIndex original;
  Bytes bytes = Make("tail.avi", Codecs[0], original);
  ASSERT_GT(original.Entries.size(), 20u);
  const std::int64_t movi = MoviOffset(bytes);
  // Cut the download at the start of a chunk two thirds of the way in; the
  // rest of the file's space is zeros.
  const std::size_t keep = original.Entries.size() * 2 / 3;
  const std::size_t cut = static_cast<std::size_t>(movi + 8 + original.Entries[keep].Offset);
  const std::size_t size = bytes.size();
  bytes.resize(cut);
  bytes.resize(size, 0);
  EXPECT_EQ(RebuildAndRead("tail.avi", bytes), Prefix(original.Entries, keep));
}

TEST_F(Interop, GarbageOverSomeChunksLosesOnlyThoseChunks) {
  ParsedIndex original;
  Bytes bytes = Make("garbage.avi", Codecs[0], original);
  const std::int64_t movi = MoviOffset(bytes);
  // Random bytes from the header of one chunk to the header of a later one.
  const std::size_t first = original.Entries.size() / 2, next = first + 3;
  const std::size_t from = static_cast<std::size_t>(movi + 8 + original.Entries[first].Offset);
  const std::size_t to = static_cast<std::size_t>(movi + 8 + original.Entries[next].Offset);
  std::mt19937 random(7);
  for (std::size_t i = from; i < to; ++i) bytes[i] = static_cast<unsigned char>(random() & 0x7F) | 0x80;
  bytes.resize(static_cast<std::size_t>(original.Position));
  // Every other chunk entry for entry; the lost ones keep their places as
  // placeholders after the data (the headers' lengths count them exactly).
  const std::vector<ExpectedEntry> copy = RebuildAndRead("garbage.avi", bytes);
  ASSERT_EQ(copy.size(), original.Entries.size());
  std::vector<std::uint32_t> lost, placed;
  for (std::size_t k = 0; k < copy.size(); ++k) {
    if (k < first || k >= next) {
      EXPECT_EQ(copy[k], original.Entries[k]) << k;
      continue;
    }
    lost.push_back(original.Entries[k].Code);
    placed.push_back(copy[k].Code);
    EXPECT_GE(movi + 8 + std::int64_t{copy[k].Offset}, original.Position) << k;
  }
  std::sort(lost.begin(), lost.end());
  std::sort(placed.begin(), placed.end());
  EXPECT_EQ(placed, lost);
}

}  // namespace
