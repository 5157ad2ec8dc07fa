// The resynchronisation search's scan of a block against the plain
// byte-by-byte definition, over random and planted data; and the search of
// a walk, which takes the bytes the read-ahead holds before it reads blocks,
// with its hits on either side of the read-ahead's end.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "avi/AviChunk.h"
#include "file/File.h"
#include "support/AviBuilder.h"
#include "support/FaultySystemCalls.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"

namespace {

using namespace ZantrelTest;

std::size_t Naive(const unsigned char* p, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    if (VEKAvi::IsResyncCode(p + i)) return i;
  return count;
}

TEST(ResyncSearch, FindsTheFirstCodeExactlyWhereAByteByByteScanWould) {
  std::mt19937 random(42);
  const char* planted[] = {"00dc", "01wb", "7Fpc", "aAdb", "idx1", "REC ", "JUNK"};
  const char* nearMisses[] = {"00DC", "0gdc", "00tx", "rec ", "idx2", "JUNk", "ix00", "LIST"};
  for (int round = 0; round < 3000; ++round) {
    std::vector<unsigned char> block(4 + random() % 200);
    // Mostly bytes that the fourth-byte filter lets through, so that the
    // full test decides.
    for (auto& byte : block) byte = "bc1 K0aAdpw"[random() % 11];
    for (int m = random() % 4; m > 0; --m) {
      const char* code = nearMisses[random() % 8];
      const std::size_t at = random() % (block.size() - 3);
      std::memcpy(&block[at], code, 4);
    }
    if (random() % 2) {
      const std::size_t at = random() % (block.size() - 3);
      std::memcpy(&block[at], planted[random() % 7], 4);
    }
    const std::size_t count = block.size() - 3;
    ASSERT_EQ(VEKAvi::FindResyncCode(block.data(), count), Naive(block.data(), count)) << "round " << round;
  }
}

TEST(ResyncSearch, ReadsNothingBeyondTheLastExaminedCode) {
  // A code whose last byte would lie past the readable range is not seen.
  std::vector<unsigned char> block(40, 0);
  std::memcpy(&block[36], "00dc", 4);
  EXPECT_EQ(VEKAvi::FindResyncCode(block.data(), 36), 36u);
  EXPECT_EQ(VEKAvi::FindResyncCode(block.data(), 37), 36u);
  std::memcpy(&block[17], "JUNK", 4);
  EXPECT_EQ(VEKAvi::FindResyncCode(block.data(), 37), 17u);
}

// The read-ahead of the files a walk opens: Window bytes from the first
// read on, and nothing read ahead of it, so that the walk up to the damage
// reads from [0, Window) and the search starts in it.
struct WindowSizes {
  WindowSizes(std::int64_t window, std::int64_t block) {
    VEKFile::File::ReadAheadSize = window;
    VEKFile::File::PrefetchSize = block;
  }
  ~WindowSizes() {
    VEKFile::File::ReadAheadSize = savedWindow;
    VEKFile::File::PrefetchSize = savedBlock;
  }
  std::int64_t savedWindow = VEKFile::File::ReadAheadSize, savedBlock = VEKFile::File::PrefetchSize;
};

TEST(ResyncSearch, AWalkResumesOnTheSameChunkWhereverItLiesAgainstTheReadAhead) {
  constexpr std::int64_t Window = 4096;
  struct Row {
    const char* what;
    std::int64_t hit;        // where the chunk to resume at starts, from the end of the read-ahead
    std::uint32_t size;      // its size
    // The bytes of damage before it; never a power of two, which would
    // read as a size short by one flipped bit.
    std::int64_t garbage;
    bool damageAfter;        // more damage after it: it is taken unconfirmed, as a chunk like those walked
  };
  const Row rows[] = {
      {"well inside", -1000, 100, 66, false},
      {"its chunk and the bytes after it inside", -44, 20, 66, false},
      {"the 16 bytes that confirm it straddle the end", -36, 20, 66, false},
      {"its end beyond, confirmed by a peek", -200, 300, 66, false},
      {"on the last offset searched inside", -10, 100, 66, false},
      {"on the first offset of the block read after", -8, 100, 66, false},
      {"its code straddling the end", -2, 100, 66, false},
      {"beyond, the damage straddling the end", 500, 100, 700, false},
      {"far beyond, after a whole block of damage", 70000, 100, 70200, false},
      {"unconfirmed, ending just inside", -60, 40, 66, true},
      {"unconfirmed, ending beyond", -30, 40, 66, true},
      {"unconfirmed, beyond", 300, 40, 500, true},
  };
  TempDir dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::int64_t hit = Window + row.hit, spot = hit - row.garbage;
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 50).Chunk("01wb", 30);
    // A chunk that fills the movi up to the damage.
    const std::int64_t filler = spot - b.Size() - 8;
    ASSERT_GE(filler, 0);
    ASSERT_EQ(filler % 2, 0);
    b.Chunk("00dc", static_cast<std::uint32_t>(filler));
    b.Fill(static_cast<std::size_t>(row.garbage), 0xEE);
    ASSERT_EQ(b.Size(), hit);
    b.Chunk("00dc", row.size);
    const std::int64_t secondSpot = b.Size();
    if (row.damageAfter) b.Fill(30, 0xEE);
    const std::int64_t next = b.Size();
    b.Chunk("00dc", 40).Chunk("01wb", 20).EndMovi().Idx1();
    const std::string path = dir / "a.avi";
    WriteFile(path, b.Build());

    // What the builder knows: the damage and the chunk after it.
    std::vector<std::string> expected = {
        "Corrupted data found at file offset " + std::to_string(spot) + "; Video Frame 2",
        "Resuming file scanning from offset " + std::to_string(hit)};
    if (row.damageAfter) {
      expected.push_back("Corrupted data found at file offset " + std::to_string(secondSpot) + "; Video Frame 3");
      expected.push_back("Resuming file scanning from offset " + std::to_string(next));
    }
    auto spotLines = [](const WorkerRunResult& r) {
      std::vector<std::string> lines;
      for (const std::string& line : r.Lines)
        if (line.rfind("Corrupted", 0) == 0 || line.rfind("Resuming", 0) == 0) lines.push_back(line);
      return lines;
    };
    WorkerRunResult held, blocks;
    {
      const WindowSizes sizes(Window, 0);
      held = RunWorker({path}, {});
      WorkerRunOptions rebuild;
      rebuild.CheckOnly = false;
      RunWorker({path}, rebuild);
    }
    EXPECT_EQ(spotLines(held), expected);
    // The film's own idx1 lists every chunk: the stretches are ones it skips.
    EXPECT_EQ(held.LastErrorCount, 0);
    EXPECT_EQ(held.LastVideo, 4);
    EXPECT_EQ(held.LastAudio, 30 + 20);  // 8-bit mono PCM: a sample a byte
    // Every chunk is in the rebuilt index.
    std::vector<ExpectedEntry> entries = b.StreamChunks();
    for (auto& e : entries) e.Position = -1;
    const ParsedIndex index = ReadIdx1(ReadFile(dir / "Zantrel.a.avi"));
    ASSERT_TRUE(index.Found);
    EXPECT_EQ(index.Entries, entries);
    // And the walk says what it says when every search reads its blocks.
    {
      const WindowSizes sizes(0, 0);
      blocks = RunWorker({path}, {});
    }
    EXPECT_EQ(held.Lines, blocks.Lines);
    ::unlink((dir / "Zantrel.a.avi").c_str());
  }
}

// Damage that holds a chunk code every 8 bytes, over megabytes: the search
// judges each code by what follows where its chunk would end, and by the
// codes 16 bytes around it (an old index's records). However the sizes
// fall, it reads and waits no more than a few times what it reads for
// random bytes: codes whose chunks end near one another share a read, and
// reads to scattered ends are rationed by the bytes searched. Counted as
// the system calls and bytes read, never timed.
TEST(ResyncSearch, CodesEveryFewBytesCostTheSearchNoMoreThanAFewTimesRandomBytes) {
  constexpr std::size_t Damage = 2 << 20;
  struct Row {
    const char* what;
    int pattern;  // 0: random bytes; 1: one size throughout; 2: sizes that vary
    std::uint32_t size;
  };
  const Row rows[] = {
      {"random bytes", 0, 0},
      {"one size, ends inside the block", 1, 1004},
      {"one size, ends beyond the block", 1, 100004},
      {"sizes that vary", 2, 0},
  };
  TempDir dir;
  long long plainCalls = 0, plainBytes = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::mt19937 random(7);
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 60000).Chunk("01wb", 30).Chunk("00dc", 50000);
    Bytes damage(Damage);
    for (std::size_t i = 0; i < Damage; ++i) damage[i] = static_cast<unsigned char>(random());
    if (row.pattern != 0)
      for (std::size_t i = 0; i + 8 <= Damage; i += 8) {
        std::memcpy(&damage[i], "00dc", 4);
        // Ends on a size field, never on a code: nothing is confirmed.
        const std::uint32_t size = row.pattern == 1 ? row.size : (random() % (Damage / 8)) * 8 + 4;
        VEK::StoreLe32(&damage[i + 4], size);
      }
    b.Raw(damage).Chunk("00dc", 40).Chunk("01wb", 20).EndMovi().Idx1();
    const std::string path = dir / "a.avi";
    WriteFile(path, b.Build());
    FaultySystemCalls calls;
    WorkerRunResult r;
    {
      CallsGuard guard(calls);
      r = RunWorker({path}, {});
    }
    // The chunks after the damage are found: the search went through it.
    EXPECT_GE(r.LastVideo, 3);
    if (row.pattern == 0) {
      plainCalls = calls.preadCalls;
      plainBytes = calls.preadBytes;
      continue;
    }
    EXPECT_LE(calls.preadBytes, 3 * plainBytes) << calls.preadBytes << " bytes read, " << plainBytes << " for random bytes";
    EXPECT_LE(calls.preadCalls, 40 * plainCalls) << calls.preadCalls << " reads, " << plainCalls << " for random bytes";
  }
}

}  // namespace
