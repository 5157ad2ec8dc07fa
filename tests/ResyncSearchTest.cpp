// The resynchronisation search's scan of a block against the plain
// byte-by-byte definition, over random and planted data.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "avi/AviChunk.h"

namespace {

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

}  // namespace
