// The AVI vocabulary: the stream-chunk test over every code it can meet, at
// any alignment, and the byte layout of the records read from and written to
// files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "avi/AviChunk.h"
#include "support/AviBuilder.h"
#include "util/Endian.h"

namespace {

using namespace VEKAvi;
using ZantrelTest::Bytes;

bool IsStream(const char (&code)[5]) { return IsStreamChunkId(reinterpret_cast<const unsigned char*>(code)); }

TEST(StreamChunkId, AcceptsHexStreamNumbersWithTheFourDataKinds) {
  const struct {
    const char code[5];
    bool expected;
  } cases[] = {
      {"00dc", true},  {"01wb", true},  {"0Adb", true},  {"fFpc", true},  {"99dc", true},  {"FFwb", true},
      {"a0db", true},  {"00DC", false}, {"00Dc", false}, {"00dC", false}, {"0gdc", false}, {"g0dc", false},
      {"0Gdc", false}, {" 0dc", false}, {"0 dc", false}, {"00tx", false}, {"00ix", false}, {"ix00", false},
      {"idx1", false}, {"JUNK", false}, {"LIST", false}, {"RIFF", false}, {"REC ", false}, {"rec ", false},
      {"movi", false}, {"dc00", false}, {"00cd", false}, {"00bw", false}, {"00wc", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsStream(c.code), c.expected) << c.code;
}

TEST(StreamChunkId, AcceptsExactly484StreamNumbersAndFourKinds) {
  // Every possible half, so a table entry set by mistake (a byte-order slip,
  // a neighbouring character) shows up as a wrong count.
  int numbers = 0, kinds = 0;
  unsigned char code[4];
  for (int half = 0; half < 65536; ++half) {
    code[0] = static_cast<unsigned char>(half), code[1] = static_cast<unsigned char>(half >> 8);
    code[2] = 'd', code[3] = 'c';
    numbers += IsStreamChunkId(code);
    code[0] = '0', code[1] = '1';
    code[2] = static_cast<unsigned char>(half), code[3] = static_cast<unsigned char>(half >> 8);
    kinds += IsStreamChunkId(code);
  }
  EXPECT_EQ(numbers, 22 * 22);
  EXPECT_EQ(kinds, 4);
}

TEST(StreamChunkId, GivesTheSameAnswerAtEveryAlignment) {
  const char* codes[] = {"00dc", "1Fwb", "00DC", "idx1", "0gdc"};
  for (const char* code : codes) {
    const bool aligned = IsStreamChunkId(reinterpret_cast<const unsigned char*>(code));
    for (std::size_t offset = 0; offset < 8; ++offset) {
      unsigned char buffer[16];
      std::memset(buffer, 'x', sizeof buffer);
      std::memcpy(buffer + offset, code, 4);
      EXPECT_EQ(IsStreamChunkId(buffer + offset), aligned) << code << " at offset " << offset;
    }
  }
}

TEST(AviChunk, RecordsUseTheRawLittleEndianLayoutOnDisk) {
  // Sizes with the top bit set must stay unsigned, field order must be kept.
  const unsigned char chunk[8] = {'0', '1', 'w', 'b', 0x04, 0x03, 0x02, 0x81};
  const ChunkHeader h = ChunkHeader::Load(chunk);
  EXPECT_EQ(h.Code, MakeFourCC("01wb"));
  EXPECT_EQ(h.DataSize, 0x81020304u);
  unsigned char stored[8];
  h.Store(stored);
  EXPECT_EQ(Bytes(stored, stored + 8), Bytes(chunk, chunk + 8));

  const unsigned char list[12] = {'L', 'I', 'S', 'T', 0xFF, 0xFF, 0xFF, 0xFF, 'm', 'o', 'v', 'i'};
  const ListHeader l = ListHeader::Load(list);
  EXPECT_EQ(l.Chunk.Code, CodeList);
  EXPECT_EQ(l.Chunk.DataSize, 0xFFFFFFFFu);
  EXPECT_EQ(l.ListType, CodeMovi);

  const Idx1Entry e{MakeFourCC("00dc"), AVIIF_KEYFRAME, 4, 0x12345};
  unsigned char entry[Idx1Entry::Size];
  e.Store(entry);
  const Bytes expected = {'0', '0', 'd', 'c', 0x10, 0, 0, 0, 4, 0, 0, 0, 0x45, 0x23, 0x01, 0};
  EXPECT_EQ(Bytes(entry, entry + 16), expected);
  const Idx1Entry back = Idx1Entry::Load(entry);
  EXPECT_EQ(back.ChunkId, e.ChunkId);
  EXPECT_EQ(back.Flags, e.Flags);
  EXPECT_EQ(back.Offset, e.Offset);
  EXPECT_EQ(back.ChunkSize, e.ChunkSize);

  EXPECT_EQ(ChunkKind(MakeFourCC("00wb")), KindAudio);
}

TEST(AviChunk, AnOddSizedChunkIsPaddedSoTheNextOneStartsEven) {
  // The test files are built by AviBuilder; the engine's tests rely on it
  // laying chunks out by the RIFF rule.
  ZantrelTest::AviBuilder builder;
  builder.StartMovi();
  // After the RIFF form, hdrl and the movi list header.
  const std::size_t first = static_cast<std::size_t>(builder.Size());
  ASSERT_EQ(first % 2, 0u);
  builder.Chunk("00dc", 7).Chunk("01wb", 2).EndMovi().Idx1();
  const Bytes file = builder.Build();
  EXPECT_EQ(ChunkHeader::Load(&file[first]).DataSize, 7u) << "the size field leaves the pad byte out";
  EXPECT_EQ(ChunkHeader::Load(&file[first + 16]).Code, MakeFourCC("01wb")) << "8 + 7 rounded up to even";
  const ChunkHeader idx1 = ChunkHeader::Load(&file[first + 26]);
  EXPECT_EQ(idx1.Code, CodeIdx1);
  EXPECT_EQ(idx1.DataSize, 2u * Idx1Entry::Size);
  EXPECT_EQ(file.size(), first + 26 + 8 + 32);

  ZantrelTest::AviBuilder empty;
  empty.StartMovi().EndMovi().Idx1();
  const Bytes noEntries = empty.Build();
  const ChunkHeader emptyIndex = ChunkHeader::Load(&noEntries[noEntries.size() - 8]);
  EXPECT_EQ(emptyIndex.Code, CodeIdx1);
  EXPECT_EQ(emptyIndex.DataSize, 0u) << "an index without entries is its 8-byte header alone";
}

}  // namespace
