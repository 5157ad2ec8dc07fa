// Chunks whose headers a disk or a download damaged, kept through the file's
// own intact idx1. The oracle is the undamaged film: where every damaged
// header is still close to what its writer put there, the rebuilt copy is
// that film again, byte for byte up to its index, and its index lists the
// same chunks; a header wholly overwritten is not guessed back.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "engine/IndexSalvage.h"
#include "engine/MoviWalk.h"
#include "support/AviBuilder.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;

// Interleaved video and 8-bit mono PCM of varied sizes, with the muxer's
// idx1; one large video chunk (a scene change) among them.
AviBuilder Film() {
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < 140; ++i)
    b.Chunk("00dc", (i == 70 ? 9000u : 300u) + static_cast<std::uint32_t>((i * 37) % 301),
            static_cast<unsigned char>(0x30 + i % 7))
        .Chunk("01wb", 64 + static_cast<std::uint32_t>(i % 3), 0x77);
  b.EndMovi().Idx1();
  return b;
}

struct SalvageCase {
  std::string name;
  // Damages the header at position in place; every 7th chunk gets it.
  std::function<void(Bytes&, std::int64_t)> damage;
  bool recoverable;  // the film comes back whole
};

// index: where the film's idx1 starts.
std::vector<SalvageCase> Cases(std::int64_t index) {
  return {
      {"a digit of the stream number", [](Bytes& f, std::int64_t h) { f[h + 1] = '7'; }, true},
      {"a letter of the kind", [](Bytes& f, std::int64_t h) { f[h + 2] ^= 0x20; }, true},
      {"the low byte of the size", [](Bytes& f, std::int64_t h) { f[h + 4] ^= 0x5A; }, true},
      {"the third byte of the size",
       [](Bytes& f, std::int64_t h) { f[h + 6] = static_cast<unsigned char>(f[h + 6] + 1); }, true},
      {"a code byte and a size byte", [](Bytes& f, std::int64_t h) { f[h] = 'x', f[h + 5] ^= 0x01; }, true},
      // The walk lands on an entry of the old index, which reads as a chunk.
      {"a size that leads into the old index",
       [index](Bytes& f, std::int64_t h) {
         VEK::StoreLe32(&f[h + 4], static_cast<std::uint32_t>(index + 8 + 16 * 40 - h - 8));
       },
       true},
      {"the whole header zeroed", [](Bytes& f, std::int64_t h) { std::fill(&f[h], &f[h + 8], 0); }, false},
  };
}

TEST(IndexSalvage, DamagedChunkHeadersComeBackThroughTheOldIndex) {
  const AviBuilder film = Film();
  const Bytes clean = film.Build();
  const std::vector<ExpectedEntry>& chunks = film.StreamChunks();
  const std::int64_t index = chunks.back().Position + 8 + chunks.back().Size + (chunks.back().Size & 1);
  std::int64_t videoChunks = 0, audioBytes = 0;
  for (const ExpectedEntry& e : chunks)
    if ((e.Code >> 16) == (Code("01wb") >> 16))
      audioBytes += e.Size;
    else
      ++videoChunks;
  for (const SalvageCase& c : Cases(index)) {
    SCOPED_TRACE(c.name);
    Bytes damaged = clean;
    std::vector<ExpectedEntry> kept;
    for (std::size_t i = 0; i < chunks.size(); ++i)
      if (i % 7 == 3)
        c.damage(damaged, chunks[i].Position);
      else
        kept.push_back(chunks[i]);
    TempDir dir;
    WriteFile(dir / "a.avi", damaged);
    WorkerRunOptions copy;
    copy.CheckOnly = false;
    const WorkerRunResult r = RunWorker({dir / "a.avi"}, copy);
    ASSERT_EQ(r.Outcomes(), std::vector<VEKRiff::RebuildEvent>{VEKRiff::FileRebuilt});
    const Bytes out = ReadFile(dir / "Zantrel.a.avi");
    const std::vector<ExpectedEntry> entries = ReadIdx1(out).Entries;
    std::vector<ExpectedEntry> written = chunks;
    if (c.recoverable) {
      ASSERT_GE(out.size(), static_cast<std::size_t>(index));
      // The header list's counts are rewritten; from movi on, the film.
      EXPECT_TRUE(
          std::equal(clean.begin() + film.MoviOffset(), clean.begin() + index, out.begin() + film.MoviOffset()));
      EXPECT_EQ(entries.size(), chunks.size());
      // Every chunk counted once: the video chunks, and a sample a byte.
      EXPECT_EQ(r.LastVideo, videoChunks);
      EXPECT_EQ(r.LastAudio, audioBytes);
    } else {
      written = kept;
      // Nothing vouches for a header with nothing left of it: its chunk's
      // bytes are not indexed. Its place in time is kept by a placeholder
      // after the movi data: an empty frame, or silence of its size.
      ASSERT_EQ(entries.size(), chunks.size());
      const std::int64_t movi = film.MoviOffset() + 8;
      for (std::size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(entries[i].Code, chunks[i].Code) << i;
        if (i % 7 != 3) {
          EXPECT_EQ(entries[i].Offset, chunks[i].Offset) << i;
          EXPECT_EQ(entries[i].Size, chunks[i].Size) << i;
          continue;
        }
        EXPECT_GE(movi + entries[i].Offset, index) << i;
        EXPECT_EQ(entries[i].Size, (chunks[i].Code >> 16) == (Code("01wb") >> 16) ? chunks[i].Size : 0u) << i;
      }
    }
    for (const ExpectedEntry& w : written)
      EXPECT_NE(std::find_if(entries.begin(), entries.end(),
                             [&](const ExpectedEntry& e) {
                               return e.Offset == w.Offset && e.Code == w.Code && e.Size == w.Size;
                             }),
                entries.end())
          << "lost: the chunk at " << w.Position;
  }
}

// An old index of a few genuine entries and a flood of duplicates, each
// naming a chunk of the film with one byte of its size changed (a size that
// would still fit): the salvage speaks for each chunk once, so that what it
// holds and counts is bounded by the chunks, never by the index's entries.
TEST(IndexSalvage, AnIndexOfDuplicatesCountsAndHoldsNoMoreThanTheChunks) {
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < 140; ++i)
    b.Chunk("00dc", 300u + static_cast<std::uint32_t>((i * 37) % 301), static_cast<unsigned char>(0x30 + i % 7))
        .Chunk("01wb", 64 + static_cast<std::uint32_t>(i % 3), 0x77);
  b.EndMovi();
  const std::vector<ExpectedEntry> chunks = b.StreamChunks();
  constexpr std::size_t Duplicates = 1 << 19;
  Bytes idx1(8 + 16 * (chunks.size() + Duplicates));
  VEK::StoreLe32(&idx1[0], Code("idx1"));
  VEK::StoreLe32(&idx1[4], static_cast<std::uint32_t>(idx1.size() - 8));
  auto entry = [&](std::size_t k, const ExpectedEntry& e, std::uint32_t size) {
    VEK::StoreLe32(&idx1[8 + 16 * k], e.Code);
    VEK::StoreLe32(&idx1[12 + 16 * k], 0x10);
    VEK::StoreLe32(&idx1[16 + 16 * k], e.Offset);
    VEK::StoreLe32(&idx1[20 + 16 * k], size);
  };
  for (std::size_t i = 0; i < chunks.size(); ++i) entry(i, chunks[i], chunks[i].Size);
  for (std::size_t d = 0; d < Duplicates; ++d) {
    const ExpectedEntry& e = chunks[d % chunks.size()];
    entry(chunks.size() + d, e, (e.Size & ~0xFFu) | ((e.Size & 0xFF) * (1 + d % 5) / 7));
  }
  b.Raw(idx1);
  Bytes film = b.Build();
  // One byte of every twentieth chunk's code: those come back through the
  // index, and the chunks before them end on damage, unconfirmed.
  std::size_t damaged = 0;
  for (std::size_t i = 3; i < chunks.size(); i += 20, ++damaged) film[chunks[i].Position] = 'x';
  TempDir dir;
  WriteFile(dir / "a.avi", film);

  const WorkerRunResult r = RunWorker({dir / "a.avi"}, {});
  EXPECT_EQ(std::count(r.Lines.begin(), r.Lines.end(),
                       "The old index leads to " + std::to_string(damaged) +
                           " chunks whose headers are damaged: a rebuild keeps them."),
            1);
  // What the salvage hands on: one entry per chunk, one header to correct
  // per damaged chunk.
  BackupFile file(BackupFile::Mode::Check, dir / "a.avi");
  const VEKRiff::WalkReport report{{}, {}, nullptr};
  const VEKRiff::Salvage salvage =
      VEKRiff::SalvageFromOldIndex(file, VEKRiff::Walk(file, report, VEKRiff::FindStart(file, {})), {});
  EXPECT_EQ(salvage.Kept + salvage.Recoded, static_cast<std::int64_t>(damaged));
  EXPECT_EQ(salvage.Scan.Entries.size(), chunks.size());
  EXPECT_EQ(salvage.Scan.SizeFixes.size(), damaged);
}

}  // namespace
