// Reads served from the read-ahead window must always show the file as this
// object last left it: its own writes, a truncation, and a copy into it; and
// the blocks read ahead on another thread must join the window seamlessly
// whatever way the reads go through the file.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "file/File.h"
#include "support/TempDir.h"

namespace {

using namespace ZantrelTest;

TEST(ReadAhead, ReadsAfterThisFilesOwnChangesSeeTheChanges) {
  TempDir dir;
  Bytes data(100000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7);
  WriteFile(dir / "f.bin", data);
  WriteFile(dir / "g.bin", Bytes(64, 0xAB));
  VEKFile::File g(dir / "g.bin");
  g.Open(VEKFile::ModeRead | VEKFile::ShareDenyNone, false);

  VEKFile::File f(dir / "f.bin");
  f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, false);
  unsigned char b[8];
  f.Read(b, 8);  // the window now holds the start of the file
  EXPECT_EQ(b[1], 7);

  f.Seek(4, 0);
  f.Write("\x01\x02", 2);  // queued
  f.Seek(0, 0);
  f.Read(b, 8);
  EXPECT_EQ(b[4], 1);
  EXPECT_EQ(b[5], 2);

  std::vector<unsigned char> big(VEKFile::File::QueueLimit + 1, 0x33);  // written at once, past the queue
  f.Seek(0, 0);
  f.Write(big.data(), static_cast<std::int64_t>(big.size()));
  f.Seek(16, 0);
  f.Read(b, 8);
  EXPECT_EQ(b[0], 0x33);

  f.Seek(20, 0);
  f.CopyFrom(g, 0, 8);
  f.Seek(20, 0);
  f.Read(b, 8);
  EXPECT_EQ(b[7], 0xAB);

  f.Seek(24, 0);
  f.Truncate();
  f.Seek(20, 0);
  EXPECT_EQ(f.ReadSome(b, 8), 4) << "the truncated bytes are gone";

  // A window read short at the end of the file grows with the file's own writes.
  f.Seek(24, 0);
  f.Write("tail", 4);
  f.Seek(20, 0);
  EXPECT_EQ(f.ReadSome(b, 8), 8);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b + 4), 4), "tail");
}

TEST(ReadAhead, EveryWayThroughAFileReadsItsBytes) {
  TempDir dir;
  const std::int64_t window = VEKFile::File::ReadAheadSize, block = VEKFile::File::PrefetchSize;
  Bytes data(static_cast<std::size_t>(5 * block + 12345));
  std::mt19937 fill(7);
  for (auto& b : data) b = static_cast<unsigned char>(fill());
  const std::int64_t size = static_cast<std::int64_t>(data.size());

  // Each walk gives the next position and read length from the last ones.
  struct Step {
    std::int64_t position;
    std::int64_t length;
  };
  struct Walk {
    const char* name;
    std::function<Step(std::mt19937&, std::int64_t)> next;
  };
  const Walk walks[] = {
      {"headers a few KiB apart",
       [](std::mt19937& r, std::int64_t at) { return Step{at + 8 + static_cast<std::int64_t>(r() % 9000), 8}; }},
      {"reads that straddle every window's end",
       [&](std::mt19937& r, std::int64_t at) { return Step{at + window - 3, 1 + static_cast<std::int64_t>(r() % 64)}; }},
      {"skips just past the window",
       [&](std::mt19937&, std::int64_t at) { return Step{at + window + 5, 8}; }},
      {"jumps over whole blocks and back",
       [&](std::mt19937& r, std::int64_t at) {
         const std::int64_t jump = r() % 4 == 0 ? -2 * block : (r() % 3 == 0 ? block + 77 : 1000);
         return Step{std::max<std::int64_t>(0, at + jump), 12};
       }},
      {"reads as long as the window less one",
       [&](std::mt19937&, std::int64_t at) { return Step{at + window / 2, window - 1}; }},
  };
  for (const Walk& walk : walks) {
    SCOPED_TRACE(walk.name);
    WriteFile(dir / "f.bin", data);
    VEKFile::File f(dir / "f.bin");
    f.Open(VEKFile::ModeRead | VEKFile::ShareDenyNone, false);
    std::mt19937 r(11);
    Bytes got(static_cast<std::size_t>(window));
    int reads = 0, peeks = 0;
    for (Step s{0, 8}; s.position < size && reads < 20000; s = walk.next(r, s.position), ++reads) {
      f.Seek(s.position, 0);
      const std::int64_t expect = std::min(s.length, size - s.position);
      ASSERT_EQ(f.ReadSome(got.data(), s.length), expect) << "at " << s.position;
      ASSERT_TRUE(std::equal(got.begin(), got.begin() + expect, data.begin() + s.position)) << "at " << s.position;
      if (reads % 5 == 0 && s.position + 600 <= size) {  // a key frame's first bytes, as the walk peeks them
        ASSERT_EQ(f.PeekAt(got.data(), 512, s.position + 8), 512);
        ASSERT_TRUE(std::equal(got.begin(), got.begin() + 512, data.begin() + s.position + 8)) << "at " << s.position;
        ++peeks;
      }
    }
    EXPECT_GT(reads, 50);
    EXPECT_GT(peeks, 10);
  }
}

TEST(ReadAhead, WritesAndAGrowingFileAreSeenPastTheBlocksReadAhead) {
  TempDir dir;
  const std::int64_t block = VEKFile::File::PrefetchSize;
  const Bytes data(static_cast<std::size_t>(3 * block), 0x11);
  WriteFile(dir / "f.bin", data);
  VEKFile::File f(dir / "f.bin");
  f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, false);
  unsigned char b[8];
  for (std::int64_t at = 0; at < block; at += 4000) {  // a walk: the next block is being read ahead
    f.Seek(at, 0);
    f.Read(b, 8);
  }
  // This object's own write lands inside the block read ahead.
  f.Seek(block + 100, 0);
  f.Write("\x22\x22", 2);
  f.Seek(block + 96, 0);
  f.Read(b, 8);
  EXPECT_EQ(b[3], 0x11);
  EXPECT_EQ(b[4], 0x22);
  EXPECT_EQ(b[5], 0x22);

#ifndef _WIN32  // there the share mode (deny write) keeps other programs from appending
  // Another program appends while the walk nears the end.
  for (std::int64_t at = block; at < 3 * block - 16; at += 4000) {
    f.Seek(at, 0);
    f.Read(b, 8);
  }
  const int other = ::open((dir / "f.bin").c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::write(other, "appended", 8), 8);
  ::close(other);
  f.Seek(3 * block, 0);
  f.Read(b, 8);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b), 8), "appended");
#endif
}

}  // namespace
