// The walk, the checks and the idx1 writer called directly, without a worker
// thread: what the walk finds against what the builder wrote, what each check
// says of the same file with one thing changed, and the index written from
// the result.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "engine/HeaderCounts.h"
#include "engine/Idx1Writer.h"
#include "engine/IndexCheck.h"
#include "engine/MoviWalk.h"
#include "engine/SizePatcher.h"
#include "lang/Language.h"
#include "support/AviBuilder.h"
#include "support/TempDir.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;

struct Walked {
  VEKRiff::ScanResult Scan;
  std::vector<VEKRiff::Finding> Found;
  VEKRiff::Findings Checked;
};

Walked WalkAndCheck(const std::string& path) {
  BackupFile file(BackupFile::Mode::Check, path);
  Walked w;
  const VEKRiff::WalkReport report{{}, [&](const VEKRiff::Finding& f) { w.Found.push_back(f); }, nullptr};
  w.Scan = VEKRiff::Walk(file, report, VEKRiff::FindStart(file, {}));
  w.Checked = VEKRiff::CheckFile(file, w.Scan, VEKRiff::CountsFromData(w.Scan), {}).Lines;
  return w;
}

std::vector<ExpectedEntry> EntriesOf(const VEKRiff::ScanResult& scan) {
  std::vector<ExpectedEntry> out;
  for (const VEKRiff::OldIndexEntry& e : scan.Entries)
    out.push_back({e.ChunkId, static_cast<std::uint32_t>(e.Position() - scan.MoviOffset - 8), e.Size, e.Position()});
  return out;
}

int Errors(const std::vector<VEKRiff::Finding>& found) {
  int n = 0;
  for (const auto& f : found) n += f.Error;
  return n;
}

// Interleaved video and audio, movi closed, idx1 after it.
AviBuilder SoundFilm() {
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < 4; ++i) b.Chunk("00dc", 100 + i).Chunk("01wb", 40);
  b.EndMovi().Idx1();
  return b;
}

AviBuilder FilmWithoutIndex() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 10).Chunk("01wb", 12);
  b.EndMovi();
  return b;
}

void NoDamage(Bytes&, const AviBuilder&) {}

TEST(ScanAndCheck, TheWalkFindsWhatWasWrittenAndTheChecksSayWhatDiffers) {
  VEK::SetLanguage(VEK::English);
  struct Row {
    const char* Name;
    std::function<AviBuilder()> Make;
    std::function<void(Bytes&, const AviBuilder&)> Damage;
    int WalkErrors;                       // corrupted spots, cut chunks
    std::vector<std::string> CheckLines;  // what the checks report, in order
  };
  auto sound = SoundFilm;
  auto none = NoDamage;
  // The idx1 is the last 16 * 8 bytes of the sound file.
  auto idx1Entry = [](Bytes& f, int k) { return f.size() - 16 * (8 - k); };
  const Row rows[] = {
      {"a sound file", sound, none, 0, {}},
      {"no index", FilmWithoutIndex, none, 0, {"The file has no index (idx1): players cannot seek in it."}},
      {"an index entry moved",
       sound,
       [&](Bytes& f, const AviBuilder&) {
         const std::size_t at = idx1Entry(f, 3) + 8;
         VEK::StoreLe32(&f[at], VEK::LoadLe32(&f[at]) + 2);
       },
       0,
       {"The index has 1 entries that point at no chunk of the data.", "The index lacks 1 chunks of the data."}},
      {"the movi size claims 4 GiB",
       sound,
       [](Bytes& f, const AviBuilder& b) { VEK::StoreLe32(&f[b.MoviOffset() + 4], 0xFFFFFFF0u); },
       0,
       {"The size fields of 1 RIFF and movi lists do not match the data they hold."}},
      {"the main header's frame count off",
       sound,
       [](Bytes& f, const AviBuilder&) { VEK::StoreLe32(&f[48], 99); },
       0,
       {"The header says the file has 99 frames, the data holds 4."}},
      {"garbage between two chunks",
       [] {
         AviBuilder b;
         b.StartMovi().Chunk("00dc", 20).Fill(14, 0x07).Chunk("01wb", 8);
         b.EndMovi().Idx1();
         return b;
       },
       none,
       1,
       {"The file's own index skips every damaged stretch (1): players pass over them, so they count as no error."}},
  };
  TempDir dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    const AviBuilder b = row.Make();
    Bytes bytes = b.Build();
    row.Damage(bytes, b);
    const std::string path = dir / "f.avi";
    WriteFile(path, bytes);
    const Walked w = WalkAndCheck(path);
    EXPECT_EQ(EntriesOf(w.Scan), b.StreamChunks()) << "every chunk written, where it was written";
    EXPECT_EQ(w.Scan.MoviOffset, b.MoviOffset());
    EXPECT_FALSE(w.Scan.IsOpenDml());
    EXPECT_EQ(Errors(w.Found), row.WalkErrors);
    std::vector<std::string> lines;
    for (const auto& f : w.Checked) {
      // Every line an error but the one that says why the damage is none.
      EXPECT_EQ(f.Error, f.Line.rfind("The file's own index skips", 0) != 0) << f.Line;
      lines.push_back(f.Line);
    }
    EXPECT_EQ(lines, row.CheckLines);
  }
}

// The index written from a scan result, in a copy: the same entries as the
// builder's own idx1, the movi list ending where the walk ended.
TEST(ScanAndCheck, TheIdx1WrittenFromAScanNamesEveryChunkTheWalkFound) {
  for (const bool odd : {false, true}) {
    SCOPED_TRACE(odd ? "a walk ending on an odd position" : "even");
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 30).Chunk("01wb", 12);
    if (odd) b.Header("00dc", 1).Fill(1, 0x42);  // a last chunk of one byte, no pad
    TempDir dir;
    WriteFile(dir / "s.avi", b.Build());
    const Walked w = WalkAndCheck(dir / "s.avi");
    {
      BackupFile copy(BackupFile::Mode::Copy, dir / "s.avi", dir / "d.avi", true);
      copy.Seek(w.Scan.End(), 0);
      VEKRiff::WriteIdx1(copy, w.Scan, {});
      EXPECT_EQ(copy.Position(), w.Scan.End() + VEKRiff::Idx1Bytes(w.Scan));
      copy.Truncate();
    }
    const Bytes out = ReadFile(dir / "d.avi");
    const ParsedIndex index = ReadIdx1(out);
    ASSERT_TRUE(index.Found);
    std::vector<ExpectedEntry> expected = b.StreamChunks();
    for (auto& e : expected) e.Position = -1;
    EXPECT_EQ(index.Entries, expected);
    EXPECT_EQ(index.Position, w.Scan.End() + (odd ? 1 : 0));
    EXPECT_EQ(VEK::LoadLe32(&out[b.MoviOffset() + 4]), static_cast<std::uint32_t>(index.Position - b.MoviOffset() - 8));
  }
}

// What the writers correct, a second check no longer finds: the rebuilt copy
// of each damaged file walks and checks clean, with the same chunks.
TEST(ScanAndCheck, WhatTheWritersCorrectASecondCheckNoLongerFinds) {
  VEK::SetLanguage(VEK::English);
  struct Row {
    const char* Name;
    std::function<AviBuilder()> Make;
    std::function<void(Bytes&, const AviBuilder&)> Damage;
  };
  const Row rows[] = {
      {"the main header's frame count off", SoundFilm, [](Bytes& f, const AviBuilder&) { VEK::StoreLe32(&f[48], 99); }},
      {"the RIFF size zero", SoundFilm, [](Bytes& f, const AviBuilder&) { VEK::StoreLe32(&f[4], 0); }},
      {"a chunk size with one bit flipped", SoundFilm,
       [](Bytes& f, const AviBuilder& b) {
         const std::int64_t at = b.StreamChunks()[2].Position + 4;
         VEK::StoreLe32(&f[at], VEK::LoadLe32(&f[at]) ^ 0x100);  // a size that claims more than there is
       }},
      {"no index", FilmWithoutIndex, NoDamage},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    const AviBuilder b = row.Make();
    Bytes bytes = b.Build();
    row.Damage(bytes, b);
    TempDir dir;
    WriteFile(dir / "s.avi", bytes);
    const Walked before = WalkAndCheck(dir / "s.avi");
    ASSERT_GT(Errors(before.Found) + Errors(before.Checked), 0) << "the damage is seen";
    {
      BackupFile copy(BackupFile::Mode::Copy, dir / "s.avi", dir / "d.avi", true);
      copy.Seek(before.Scan.End(), 0);
      VEKRiff::WriteChunkSizes(copy, before.Scan.SizeFixes);
      VEKRiff::WriteIdx1(copy, before.Scan, {});
      VEKRiff::WriteHeaderCounts(copy, before.Scan, VEKRiff::CountsFromData(before.Scan), copy.Position());
      copy.Truncate();
    }
    const Walked after = WalkAndCheck(dir / "d.avi");
    EXPECT_EQ(Errors(after.Found), 0);
    EXPECT_EQ(after.Checked.size(), 0u) << (after.Checked.empty() ? "" : after.Checked[0].Line);
    EXPECT_EQ(EntriesOf(after.Scan), b.StreamChunks());
  }
}

}  // namespace
