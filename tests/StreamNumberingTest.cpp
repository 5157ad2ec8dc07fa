// Stream numbers past ten: ffmpeg spells them in decimal ("10wb" is stream
// 10), Video for Windows in hexadecimal ("0awb" is stream 10, "10wb" stream
// 16). Each file is read in the numbering its chunks use, and a healthy
// file of either kind checks clean and rebuilds to a file that checks clean.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "avi/StreamNumbering.h"
#include "engine/MoviWalk.h"
#include "lang/Language.h"
#include "support/AviBuilder.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"

namespace {

using namespace ZantrelTest;
using VEKAvi::StreamNumbering;

constexpr StreamNumbering Dec = StreamNumbering::Decimal, Hex = StreamNumbering::Hexadecimal;

std::uint16_t Prefix(const std::string& digits) { return static_cast<std::uint16_t>(Code(digits + "wb")); }

TEST(StreamNumbering, ACodeNamesItsStreamUnderEachNumbering) {
  const struct {
    const char* code;
    int decimal, hexadecimal;
  } cases[] = {
      {"00dc", 0, 0}, {"09wb", 9, 9}, {"10wb", 10, 16}, {"11wb", 11, 17},
      {"99wb", 99, 153}, {"0awb", -1, 10}, {"0Bwb", -1, 11}, {"fFwb", -1, 255}, {"x0wb", -1, -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VEKAvi::StreamNumber(Code(c.code), Dec), c.decimal) << c.code;
    EXPECT_EQ(VEKAvi::StreamNumber(Code(c.code), Hex), c.hexadecimal) << c.code;
  }
}

TEST(StreamNumbering, TheNumberingIsTheOneUnderWhichTheCodesNameTheStreamsTheHeadersDescribe) {
  std::vector<std::uint16_t> decimal12, hex12, hex17;
  for (const char* d : {"00", "01", "02", "03", "04", "05", "06", "07", "08", "09"})
    decimal12.push_back(Prefix(d)), hex12.push_back(Prefix(d)), hex17.push_back(Prefix(d));
  for (const char* d : {"10", "11"}) decimal12.push_back(Prefix(d));
  for (const char* d : {"0a", "0b"}) hex12.push_back(Prefix(d));
  for (const char* d : {"0a", "0b", "0c", "0d", "0e", "0f", "10"}) hex17.push_back(Prefix(d));
  const struct {
    const char* name;
    std::vector<std::uint16_t> prefixes;
    std::size_t streams;
    StreamNumbering expected;
  } cases[] = {
      {"ffmpeg's twelve streams", decimal12, 12, Dec},
      {"twelve streams in hexadecimal", hex12, 12, Hex},
      {"seventeen streams in hexadecimal, 10 being stream 16", hex17, 17, Hex},
      {"ten streams or fewer: both agree", {Prefix("00"), Prefix("01")}, 2, Dec},
      {"10 fits both seventeen streams: decimal", {Prefix("00"), Prefix("10")}, 17, Dec},
      {"a header list cut short after ten streams", decimal12, 10, Dec},
      {"a stray code beside hexadecimal streams", {Prefix("0a"), Prefix("0b"), Prefix("0c"), Prefix("99")}, 13, Hex},
      {"no header list, digits only", decimal12, 0, Dec},
      {"no header list, a letter", hex12, 0, Hex},
  };
  for (const auto& c : cases) EXPECT_EQ(VEKAvi::DecideNumbering(c.prefixes, c.streams), c.expected) << c.name;
}

// One video stream and audio streams after it, interleaved as a muxer writes
// them, spelled in the given numbering; closed by an idx1.
AviBuilder ManyStreams(StreamDigits digits, int audioStreams) {
  AviBuilder b(digits, 4096);
  b.StartMovi();
  for (int i = 0; i < 6; ++i) {
    b.Chunk("00dc", 300 + static_cast<std::uint32_t>(i * 7), static_cast<unsigned char>(0x30 + i));
    for (int s = 1; s <= audioStreams; ++s) {
      const int base = digits == StreamDigits::Decimal ? 10 : 16;
      const std::string code = {"0123456789abcdef"[s / base], "0123456789abcdef"[s % base], 'w', 'b'};
      b.Chunk(code, 40 + static_cast<std::uint32_t>(s), static_cast<unsigned char>(s));
    }
  }
  b.EndMovi().Idx1();
  return b;
}

TEST(StreamNumbering, AHealthyFilmOfEitherNumberingChecksCleanAndRebuildsToOneThatDoes) {
  VEK::SetLanguage(VEK::English);
  const struct {
    const char* name;
    StreamDigits digits;
    int audioStreams;
    StreamNumbering expected;
  } cases[] = {
      {"ffmpeg's 1 video and 11 audio streams", StreamDigits::Decimal, 11, Dec},
      {"1 video and 25 audio streams in decimal", StreamDigits::Decimal, 25, Dec},
      {"1 video and 11 audio streams in hexadecimal", StreamDigits::Hexadecimal, 11, Hex},
      {"1 video and 16 audio streams in hexadecimal (0a-0f, 10)", StreamDigits::Hexadecimal, 16, Hex},
      {"1 video and 2 audio streams", StreamDigits::Decimal, 2, Dec},
  };
  for (const auto& c : cases) {
    const AviBuilder film = ManyStreams(c.digits, c.audioStreams);
    TempDir dir;
    WriteFile(dir / "a.avi", film.Build());
    {
      BackupFile file(BackupFile::Mode::Check, dir / "a.avi");
      const VEKRiff::ScanResult scan = VEKRiff::Walk(file, {}, VEKRiff::FindStart(file, {}));
      EXPECT_EQ(scan.Numbering, c.expected) << c.name;
      EXPECT_EQ(scan.Headers.Streams.size(), static_cast<std::size_t>(c.audioStreams + 1)) << c.name;
    }
    for (bool inPlace : {false, true}) {
      const std::string what = std::string(c.name) + (inPlace ? ", in place" : ", copy");
      TempDir out;
      WriteFile(out / "a.avi", film.Build());
      WorkerRunOptions rebuild;
      rebuild.CheckOnly = false;
      rebuild.KeepOriginal = !inPlace;
      const WorkerRunResult before = RunWorker({out / "a.avi"}, {});
      EXPECT_EQ(before.LastErrorCount, 0) << what << ": " << ::testing::PrintToString(before.Lines);
      RunWorker({out / "a.avi"}, rebuild);
      const std::string rebuilt = out / (inPlace ? "a.avi" : "Zantrel.a.avi");
      ASSERT_TRUE(Exists(rebuilt)) << what;
      // A length the rebuild wrote wrong, or a stream it lost, is an error
      // of the rebuilt file's own check.
      const WorkerRunResult after = RunWorker({rebuilt}, {});
      EXPECT_EQ(after.LastErrorCount, 0) << what << ": " << ::testing::PrintToString(after.Lines);
      const ParsedIndex index = ReadIdx1(ReadFile(rebuilt));
      ASSERT_TRUE(index.Found) << what;
      ASSERT_EQ(index.Entries.size(), film.StreamChunks().size()) << what;
      for (std::size_t i = 0; i < index.Entries.size(); ++i)
        EXPECT_EQ(index.Entries[i].Code, film.StreamChunks()[i].Code) << what << ", entry " << i;
    }
  }
}

}  // namespace
