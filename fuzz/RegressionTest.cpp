// Replays the seed inputs and every committed fuzz finding
// (fuzz/regressions/worker, fuzz/regressions/store) through the same property
// checks the fuzzers make, in the normal build, so a fixed fault stays fixed;
// and the findings of engine faults still open (fuzz/regressions/worker-open).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "Seeds.h"
#include "StoreProperties.h"
#include "WorkerProperties.h"
#include "support/TempDir.h"
#include "util/Endian.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> Inputs(const std::string& kind) {
  std::vector<fs::path> files;
  const fs::path folder = fs::path(ZANTREL_FUZZ_REGRESSIONS) / kind;
  if (fs::is_directory(folder))
    for (const auto& entry : fs::directory_iterator(folder))
      if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

std::string Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(FuzzRegressions, EverySeedAndCommittedWorkerFindingKeepsTheWorkersProperties) {
  std::vector<std::pair<std::string, ZantrelFuzz::Bytes>> inputs = ZantrelFuzz::WorkerSeeds();
  for (const fs::path& file : Inputs("worker")) {
    const std::string text = Contents(file);
    inputs.emplace_back(file.filename().string(), ZantrelFuzz::Bytes(text.begin(), text.end()));
  }
  ZantrelTest::TempDir dir;
  for (const auto& [name, bytes] : inputs)
    for (const std::string& broken :
         ZantrelFuzz::CheckWorkerRun(dir.Path(), ZantrelFuzz::DecodeCase(bytes.data(), bytes.size())))
      ADD_FAILURE() << name << ": " << broken;
}

// Findings that show a fault of the engine not fixed yet: each must still
// break a property (printed, not failed), so that its fix is noticed and the
// file moved to worker/, where it must then pass.
TEST(FuzzRegressions, EveryOpenWorkerFindingStillBreaksAPropertyUntilMoved) {
  ZantrelTest::TempDir dir;
  for (const fs::path& file : Inputs("worker-open")) {
    const std::string text = Contents(file);
    const auto broken = ZantrelFuzz::CheckWorkerRun(
        dir.Path(), ZantrelFuzz::DecodeCase(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
    EXPECT_FALSE(broken.empty()) << file.filename().string()
                                 << " keeps every property now: move it to fuzz/regressions/worker/";
    for (const std::string& b : broken) std::cout << "open: " << file.filename().string() << ": " << b << "\n";
  }
}

TEST(FuzzRegressions, EverySeedAndCommittedStoreFindingReadsBackAsWritten) {
  std::vector<std::pair<std::string, std::string>> inputs = ZantrelFuzz::StoreSeeds();
  for (const fs::path& file : Inputs("store")) inputs.emplace_back(file.filename().string(), Contents(file));
  for (const auto& [name, text] : inputs)
    for (const std::string& broken : ZantrelFuzz::CheckStoreRoundTrip(text)) ADD_FAILURE() << name << ": " << broken;
}

// The checker itself must see a damaged rebuild, or the fuzzer could pass
// everything.
TEST(FuzzRegressions, TheRebuildCheckRejectsWhatASoundRebuildIsNot) {
  ZantrelTest::AviBuilder b;
  b.StartMovi().Chunk("00dc", 9).Chunk("01wb", 4);
  const ZantrelFuzz::Bytes source = b.Build();
  ZantrelTest::TempDir dir;
  ASSERT_TRUE(ZantrelFuzz::CheckWorkerRun(dir.Path(), source, ZantrelFuzz::Mode::Copy).empty());
  const ZantrelFuzz::Bytes good = ZantrelTest::ReadFile(dir / "run/Zantrel.in.avi");
  ASSERT_EQ(ZantrelFuzz::CheckRebuild(source, good), "");

  const std::int64_t index = ZantrelTest::ReadIdx1(good).Position;
  const struct {
    const char* name;
    std::function<void(ZantrelFuzz::Bytes&)> spoil;
  } cases[] = {
      {"a data byte changed", [&](ZantrelFuzz::Bytes& f) { f[b.MoviOffset() + 14] ^= 1; }},
      {"the header list's size changed, so that it no longer ends at movi", [](ZantrelFuzz::Bytes& f) { f[16] ^= 2; }},
      {"an entry's size changed", [&](ZantrelFuzz::Bytes& f) { f[index + 8 + 12] ^= 1; }},
      {"an entry's offset moved", [&](ZantrelFuzz::Bytes& f) { f[index + 8 + 8] += 2; }},
      {"an entry's flags neither 0 nor key frame", [&](ZantrelFuzz::Bytes& f) { f[index + 8 + 4] = 0x11; }},
      {"a byte after the index", [](ZantrelFuzz::Bytes& f) { f.push_back(0); }},
      {"the last entry cut", [](ZantrelFuzz::Bytes& f) { f.resize(f.size() - 16); }},
      {"the movi size changed", [&](ZantrelFuzz::Bytes& f) { f[b.MoviOffset() + 4] += 2; }},
      // A whole index that leaves out a chunk a plain reader reaches.
      {"the last entry dropped", [&](ZantrelFuzz::Bytes& f) {
         f.resize(f.size() - 16);
         f[index + 4] -= 16;
       }},
      // In place, only a source whose data reaches a RIFF 'AVIX' there may
      // be left without an idx1.
      {"the index replaced by a segment header the source does not have", [&](ZantrelFuzz::Bytes& f) {
         VEK::StoreLe32(&f[index], ZantrelTest::Code("RIFF"));
         VEK::StoreLe32(&f[index + 4], static_cast<std::uint32_t>(f.size() - index - 8));
         VEK::StoreLe32(&f[index + 8], ZantrelTest::Code("AVIX"));
       }},
  };
  for (const auto& c : cases) {
    ZantrelFuzz::Bytes spoilt = good;
    c.spoil(spoilt);
    EXPECT_NE(ZantrelFuzz::CheckRebuild(source, spoilt), "") << c.name;
    EXPECT_NE(ZantrelFuzz::CheckRebuild(source, spoilt, true, true), "") << c.name << ", in place";
  }
}

// The layouts the writers choose must pass the checker too, or the fuzzer
// reports sound rebuilds: an in-place rebuild whose walk ended at an idx1
// inside the movi list keeps the list's end and closes the list there with
// a JUNK chunk; and that JUNK chunk is all it writes there.
TEST(FuzzRegressions, TheRebuildCheckAcceptsAnInPlaceListClosedByJunkAtTheWalksEnd) {
  ZantrelTest::AviBuilder b;
  b.StartMovi().Chunk("00dc", 9).Chunk("01wb", 4).Chunk("00dc", 6);
  const std::int64_t inner = b.Size();
  ZantrelFuzz::Bytes stale(8 + 16, 0);  // another film's index, inside the list
  VEK::StoreLe32(&stale[0], ZantrelTest::Code("idx1"));
  VEK::StoreLe32(&stale[4], 16);
  b.Raw(stale).Raw(ZantrelFuzz::Bytes(64, 0x01));
  const ZantrelFuzz::Bytes source = b.EndMovi().Idx1().Build();
  ZantrelTest::TempDir dir;
  EXPECT_EQ(ZantrelFuzz::CheckWorkerRun(dir.Path(), source, ZantrelFuzz::Mode::InPlace),
            std::vector<std::string>{});
  const ZantrelFuzz::Bytes rebuilt = ZantrelTest::ReadFile(dir / "run/in.avi");
  ASSERT_GE(rebuilt.size(), static_cast<std::size_t>(inner + 8));
  EXPECT_EQ(VEK::LoadLe32(&rebuilt[inner]), ZantrelTest::Code("JUNK"));
  // Any other byte changed there is still caught.
  ZantrelFuzz::Bytes spoilt = rebuilt;
  spoilt[inner + 8] ^= 1;
  EXPECT_NE(ZantrelFuzz::CheckRebuild(source, spoilt), "");
  spoilt = rebuilt;
  VEK::StoreLe32(&spoilt[inner + 4], VEK::LoadLe32(&spoilt[inner + 4]) - 2);  // a JUNK that ends before the index
  EXPECT_NE(ZantrelFuzz::CheckRebuild(source, spoilt), "");
}

// A copy keeps a lost frame's place with an empty chunk after the movi data;
// the checker takes it, and only it, among the chunks there.
TEST(FuzzRegressions, TheRebuildCheckTakesTheCopysPlaceholdersAfterTheDataAndNothingElse) {
  ZantrelTest::AviBuilder b;
  b.StartMovi().Chunk("00dc", 9).Chunk("01wb", 4);
  const std::int64_t lost = b.Size();
  b.Chunk("00dc", 30).Chunk("01wb", 4).Chunk("00dc", 6);
  ZantrelFuzz::Bytes source = b.EndMovi().Idx1().Build();
  std::fill(source.begin() + lost, source.begin() + lost + 8, 0);  // the lost frame's header
  ZantrelTest::TempDir dir;
  ASSERT_EQ(ZantrelFuzz::CheckWorkerRun(dir.Path(), source, ZantrelFuzz::Mode::Copy), std::vector<std::string>{});
  const ZantrelFuzz::Bytes good = ZantrelTest::ReadFile(dir / "run/Zantrel.in.avi");
  const ZantrelTest::ParsedIndex parsed = ZantrelTest::ReadIdx1(good);
  ASSERT_EQ(parsed.Entries.size(), 5u);
  const std::int64_t placeholder = b.MoviOffset() + 8 + parsed.Entries[2].Offset;
  ASSERT_EQ(parsed.Entries[2].Size, 0u) << "the lost frame's place is kept by an empty chunk";
  ASSERT_EQ(placeholder + 8, parsed.Position) << "after the movi data";
  const std::int64_t entry = parsed.Position + 8 + 2 * 16;
  const struct {
    const char* name;
    std::function<void(ZantrelFuzz::Bytes&)> spoil;
  } cases[] = {
      {"the placeholder's code changed", [&](ZantrelFuzz::Bytes& f) { f[placeholder + 1] = '1'; }},
      {"the entry names a kept chunk's place", [&](ZantrelFuzz::Bytes& f) { f[entry + 8] -= 8; }},
      {"the entry's size changed", [&](ZantrelFuzz::Bytes& f) { f[entry + 12] = 1; }},
  };
  for (const auto& c : cases) {
    ZantrelFuzz::Bytes spoilt = good;
    c.spoil(spoilt);
    EXPECT_NE(ZantrelFuzz::CheckRebuild(source, spoilt), "") << c.name;
  }
  // In place the old index stays readable until the new one is whole: the
  // new one, with the placeholder right before it, stays past the old end,
  // the list's rest up to them one JUNK chunk.
  ASSERT_EQ(ZantrelFuzz::CheckWorkerRun(dir.Path(), source, ZantrelFuzz::Mode::InPlace), std::vector<std::string>{});
  const ZantrelFuzz::Bytes rebuilt = ZantrelTest::ReadFile(dir / "run/in.avi");
  const ZantrelTest::ParsedIndex far = ZantrelTest::ReadIdx1(rebuilt);
  ASSERT_EQ(far.Entries.size(), 5u);
  const std::int64_t farPlaceholder = b.MoviOffset() + 8 + far.Entries[2].Offset;
  ASSERT_EQ(far.Entries[2].Size, 0u);
  ASSERT_EQ(farPlaceholder + 8, far.Position);
  ASSERT_GT(farPlaceholder, static_cast<std::int64_t>(source.size())) << "past the old end";
  ZantrelFuzz::Bytes spoilt = rebuilt;
  spoilt[farPlaceholder + 1] = '1';
  EXPECT_NE(ZantrelFuzz::CheckRebuild(source, spoilt, true, true), "") << "the placeholder's code changed";
  spoilt = rebuilt;
  const std::string_view junk = "JUNK";
  const auto junkAt = std::search(spoilt.begin() + b.MoviOffset(), spoilt.end(), junk.begin(), junk.end());
  ASSERT_NE(junkAt, spoilt.end());
  VEK::StoreLe32(&*(junkAt + 4), VEK::LoadLe32(&*(junkAt + 4)) - 2);
  EXPECT_NE(ZantrelFuzz::CheckRebuild(source, spoilt, true, true), "") << "the JUNK chunk ends before the placeholder";
}

// What an in-place run that did not complete may leave: the file as it was
// or fully indexed; half an index only after a write failed midway, and
// never with the data touched.
TEST(FuzzRegressions, TheUnfinishedInPlaceCheckAcceptsOnlyUntouchedOrIndexedFiles) {
  ZantrelTest::AviBuilder b;
  b.StartMovi().Chunk("00dc", 9).Chunk("01wb", 4).Chunk("00dc", 6);  // no index
  const ZantrelFuzz::Bytes source = [&] {
    ZantrelFuzz::Bytes bytes = b.Build();
    VEK::StoreLe32(&bytes[static_cast<std::size_t>(b.MoviOffset() + 4)], 0);  // the movi size not set
    return bytes;
  }();
  ZantrelTest::TempDir dir;
  ASSERT_TRUE(ZantrelFuzz::CheckWorkerRun(dir.Path(), source, ZantrelFuzz::Mode::Copy).empty());
  const ZantrelFuzz::Bytes rebuilt = ZantrelTest::ReadFile(dir / "run/Zantrel.in.avi");
  const std::size_t sizeField = static_cast<std::size_t>(b.MoviOffset() + 4);
  ZantrelFuzz::Bytes half = rebuilt;  // the index written, the movi size not
  std::copy(source.begin() + sizeField, source.begin() + sizeField + 4, half.begin() + sizeField);
  ZantrelFuzz::Bytes halfTouched = half;
  halfTouched[b.MoviOffset() + 12 + 8] ^= 0xFF;
  ZantrelFuzz::Bytes notCut = rebuilt;
  notCut.insert(notCut.end(), 10, 0x77);
  ZantrelFuzz::Bytes lastEntryDropped = rebuilt;
  lastEntryDropped.resize(lastEntryDropped.size() - 16);
  lastEntryDropped[ZantrelTest::ReadIdx1(rebuilt).Position + 4] -= 16;
  // The list's end moved by its size to an index written past the old end,
  // the writes after that cut short.
  ZantrelFuzz::Bytes far = source;
  far.resize(source.size() + 64, 0x33);
  const std::int64_t farAt = static_cast<std::int64_t>(far.size());
  far.insert(far.end(), rebuilt.begin() + ZantrelTest::ReadIdx1(rebuilt).Position, rebuilt.end());
  VEK::StoreLe32(&far[sizeField], static_cast<std::uint32_t>(farAt - b.MoviOffset() - 8));
  ZantrelFuzz::Bytes farShort = far;
  farShort.resize(farShort.size() - 16);
  farShort[farAt + 4] -= 16;
  ZantrelFuzz::Bytes farTouched = far;
  farTouched[b.MoviOffset() + 12 + 8] ^= 0xFF;
  const struct {
    const char* name;
    const ZantrelFuzz::Bytes& after;
    bool acceptedAfterAnyFailure, acceptedAfterAWriteFailedMidway;
  } cases[] = {
      {"untouched", source, true, true},
      {"fully indexed", rebuilt, true, true},
      {"fully indexed, not cut", notCut, true, true},
      {"index written, movi size not", half, false, true},
      {"index written, a data byte changed", halfTouched, false, false},
      {"a reachable chunk left out", lastEntryDropped, false, false},
      {"the list ending at an index past the old end", far, false, true},
      {"the list ending at an index past the old end that leaves a chunk out", farShort, false, false},
      {"the list ending at an index past the old end, a data byte changed", farTouched, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ZantrelFuzz::CheckUnfinishedInPlace(source, c.after, false).empty(), c.acceptedAfterAnyFailure)
        << c.name;
    EXPECT_EQ(ZantrelFuzz::CheckUnfinishedInPlace(source, c.after, true).empty(), c.acceptedAfterAWriteFailedMidway)
        << c.name;
  }
}

}  // namespace
