// An in-place rebuild killed after any byte of any write: through the
// system-call seam every write lands up to byte N and then nothing more does
// (no write, no cut), as after a kill. Each file left behind must read, the
// way players find an index (the movi list's size, the idx1 where the list
// ends), either as before (the same index at the same place, its chunks and
// the header fields as they were) or as the finished rebuild (its index, each
// entry on the finished rebuild's bytes, the entries those of the chunks the
// test's own writer wrote).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/Finish.h"
#include "engine/HeaderCounts.h"
#include "engine/MoviWalk.h"
#include "support/AviBuilder.h"
#include "support/FaultySystemCalls.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;

std::uint32_t Le32(const Bytes &b, std::int64_t at) {
  return VEK::LoadLe32(&b[static_cast<std::size_t>(at)]);
}

struct PlayersIndex {
  std::int64_t Movi = -1; // the movi list's header
  std::int64_t At = -1;   // the idx1 at the list's end; -1: none there
  Bytes Entries;          // as many whole entries as the file holds
};

// What ffmpeg, mplayer and GStreamer look at: the top-level chunks up to
// "LIST movi", its size (rounded up), and an idx1 right there.
PlayersIndex IndexPlayersRead(const Bytes &f) {
  PlayersIndex p;
  const auto size = static_cast<std::int64_t>(f.size());
  for (std::int64_t pos = 12; pos + 12 <= size;) {
    const std::uint32_t chunk = Le32(f, pos + 4);
    if (Le32(f, pos) == Code("LIST") && Le32(f, pos + 8) == Code("movi")) {
      p.Movi = pos;
      break;
    }
    pos += 8 + chunk + (chunk & 1);
  }
  if (p.Movi < 0)
    return p;
  const std::uint32_t list = Le32(f, p.Movi + 4);
  const std::int64_t end = p.Movi + 8 + list + (list & 1);
  if (end + 8 > size || Le32(f, end) != Code("idx1"))
    return p;
  p.At = end;
  const std::int64_t held =
      std::min<std::int64_t>(Le32(f, end + 4), size - end - 8) / 16 * 16;
  p.Entries.assign(f.begin() + end + 8, f.begin() + end + 8 + held);
  return p;
}

bool SameBytes(const Bytes &a, const Bytes &b, std::int64_t from,
               std::int64_t to) {
  if (to > static_cast<std::int64_t>(a.size()) ||
      to > static_cast<std::int64_t>(b.size()))
    return false;
  return std::equal(a.begin() + from, a.begin() + to, b.begin() + from);
}

// Each byte of [from, to) is a's or b's.
bool EachByteOneOf(const Bytes &f, const Bytes &a, const Bytes &b,
                   std::int64_t from, std::int64_t to) {
  for (std::int64_t i = from; i < to; ++i) {
    const auto at = static_cast<std::size_t>(i);
    if (at >= f.size() || ((at >= a.size() || f[at] != a[at]) &&
                           (at >= b.size() || f[at] != b[at])))
      return false;
  }
  return true;
}

// The chunks an index's entries name, each at its place in file: the bytes
// from its header to its end as in reference (an entry pointing past
// reference's end points at nothing there).
bool ChunksAsIn(const Bytes &file, const Bytes &reference,
                const PlayersIndex &index, bool headers = true) {
  for (std::size_t e = 0; e + 16 <= index.Entries.size(); e += 16) {
    const std::int64_t at =
        index.Movi + 8 + VEK::LoadLe32(&index.Entries[e + 8]);
    const std::int64_t end =
        std::min<std::int64_t>(at + 8 + VEK::LoadLe32(&index.Entries[e + 12]),
                               static_cast<std::int64_t>(reference.size()));
    if (at >= static_cast<std::int64_t>(reference.size()))
      continue;
    if (at < 0 || at >= end ||
        !SameBytes(file, reference, headers ? at : at + 8, end))
      return false;
  }
  return true;
}

enum class Reads { AsBefore, Rebuilt, Neither };

Reads Judge(const Bytes &f, const Bytes &source, const Bytes &rebuilt) {
  const PlayersIndex before = IndexPlayersRead(source),
                     after = IndexPlayersRead(rebuilt),
                     now = IndexPlayersRead(f);
  if (now.Movi != before.Movi)
    return Reads::Neither;
  // The header fields up to the movi list's size.
  const std::int64_t headers = before.Movi + 4;
  if (now.At == before.At && now.Entries == before.Entries &&
      SameBytes(f, source, 0, headers) && ChunksAsIn(f, source, before) &&
      EachByteOneOf(f, source, rebuilt, before.Movi,
                    std::min<std::int64_t>(after.At, source.size())))
    return Reads::AsBefore;
  if (now.At >= 0 && now.Entries == after.Entries &&
      ChunksAsIn(f, rebuilt, now) &&
      EachByteOneOf(f, source, rebuilt, 0, headers))
    return Reads::Rebuilt;
  return Reads::Neither;
}

using Step = FaultySystemCalls::Step;

void Apply(Bytes &f, const Step &step) {
  const auto at = static_cast<std::size_t>(step.Offset);
  if (step.What == Step::Truncate) {
    f.resize(at);
    return;
  }
  if (f.size() < at + step.Bytes.size())
    f.resize(at + step.Bytes.size(), 0);
  std::copy(step.Bytes.begin(), step.Bytes.end(), f.begin() + step.Offset);
}

// What a power failure may leave of a run whose writes, cuts and flushes the
// journal holds: everything before the last flush that returned, and of the
// writes and cuts after it any part (every part where they are few; else
// each alone and all but each), in the order made where they overlap. Each
// must read as before or rebuilt. Returns the number of flushes.
int ExpectEveryPowerCutReads(const std::vector<Step> &journal,
                             const Bytes &source, const Bytes &rebuilt,
                             const std::string &what) {
  std::vector<std::vector<const Step *>> between(1);
  for (const Step &step : journal) {
    EXPECT_EQ(step.Path, journal.front().Path) << what << ": another file";
    if (step.What == Step::Flush)
      between.emplace_back();
    else
      between.back().push_back(&step);
  }
  Bytes landed = source;
  for (std::size_t k = 0; k < between.size(); ++k) {
    const std::vector<const Step *> &steps = between[k];
    const std::size_t n = steps.size();
    std::vector<std::uint32_t> parts;
    if (n <= 12) {
      for (std::uint32_t part = 0; part < (1u << n); ++part)
        parts.push_back(part);
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        parts.push_back(1u << i);
        parts.push_back(~(1u << i));
      }
    }
    for (const std::uint32_t part : parts) {
      Bytes left = landed;
      for (std::size_t i = 0; i < n; ++i)
        if ((part >> i) & 1)
          Apply(left, *steps[i]);
      if (Judge(left, source, rebuilt) == Reads::Neither) {
        ADD_FAILURE() << what << ": after flush " << k << ", of the "
                      << n << " writes since, those of the mask " << part
                      << " landed";
        return static_cast<int>(between.size()) - 1;
      }
    }
    for (const Step *step : steps)
      Apply(landed, *step);
  }
  EXPECT_EQ(landed, rebuilt) << what << ": the journal is not the run";
  return static_cast<int>(between.size()) - 1;
}

// Damaged films, each with its builder (whose chunks the rebuilt index must
// list).
struct Case {
  const char *name;
  std::function<Bytes(AviBuilder &)> make;
  std::size_t salvaged; // chunks the walk keeps after the builder's, written raw
  // One flush per ordering point: with an old index, after the far index,
  // after the switch, after the index at its place and after the switch
  // back (an index that stays far, with the placeholders before it, has
  // no switch back); without, after the index, after its code and after the
  // list's size. The cut after the new end orders nothing.
  int flushes;
};

void Chunks(AviBuilder &b) {
  b.StartMovi()
      .Chunk("00dc", 64)
      .Chunk("01wb", 33)
      .Fill(6, 0x01)
      .Chunk("00dc", 10)
      .Chunk("01wb", 16);
  b.Chunk("00dc", 48).Chunk("01wb", 20);
}

const std::vector<Case> &Films() {
  static const std::vector<Case> cases = {
      {"an idx1 entry pointing into nothing, the list ending where it did",
       [](AviBuilder &b) {
         Chunks(b);
         Bytes f = b.EndMovi().Idx1().Junk(40).Build();
         const PlayersIndex old = IndexPlayersRead(f);
         VEK::StoreLe32(&f[static_cast<std::size_t>(old.At + 8 + 16 + 8)],
                        0x7000);
         return f;
       },
       0, 4},
      {"an old index longer than the new one, the list ending where it did",
       [](AviBuilder &b) {
         Chunks(b);
         b.EndMovi().Idx1();
         Bytes f = b.Build();
         const PlayersIndex old = IndexPlayersRead(f);
         // The index claims three entries more, copies of its first.
         VEK::StoreLe32(&f[static_cast<std::size_t>(old.At + 4)],
                        Le32(f, old.At + 4) + 48);
         for (int i = 0; i < 3; ++i)
           f.insert(f.end(), old.Entries.begin(), old.Entries.begin() + 16);
         VEK::StoreLe32(&f[4], static_cast<std::uint32_t>(f.size() - 8));
         return f;
       },
       0, 4},
      {"garbage closing the list",
       [](AviBuilder &b) {
         Chunks(b);
         return b.Fill(24, 0xEE).EndMovi().Idx1().Build();
       },
       0, 4},
      {"a chunk closing the list claiming more than the list holds",
       [](AviBuilder &b) {
         Chunks(b);
         b.Raw({'0', '0', 'd', 'c', 100, 0, 0, 0}).Fill(50, 0x33);
         return b.EndMovi().Idx1().Build();
       },
       1, 4},
      // The old index lists a frame whose bytes are lost: its place is kept
      // by an empty chunk written with the far index, which stays there.
      {"a frame the old index lists lost to zeros",
       [](AviBuilder &b) {
         Chunks(b);
         const std::int64_t lost = b.Size();
         b.Chunk("00dc", 40).Chunk("01wb", 20).Chunk("00dc", 30);
         Bytes f = b.EndMovi().Idx1().Build();
         std::fill(f.begin() + lost, f.begin() + lost + 48, 0);
         return f;
       },
       0, 3},
      {"no index, the list's size never written",
       [](AviBuilder &b) {
         Chunks(b);
         return b.Build();
       },
       0, 3},
      {"no index, the file cut where the list ends",
       [](AviBuilder &b) {
         Chunks(b);
         return b.EndMovi().Build();
       },
       0, 3},
  };
  return cases;
}

WorkerRunOptions InPlace() {
  WorkerRunOptions inPlace;
  inPlace.CheckOnly = false;
  inPlace.KeepOriginal = false;
  return inPlace;
}

TEST(InPlaceCut, AKillAfterAnyByteLeavesTheFileAsBeforeOrRebuilt) {
  const WorkerRunOptions inPlace = InPlace();
  for (const Case &c : Films()) {
    AviBuilder builder;
    const Bytes source = c.make(builder);
    TempDir dir;
    const std::string path = dir / "f.avi";
    WriteFile(path, source);
    FaultySystemCalls counting;
    {
      CallsGuard guard(counting);
      RunWorker({path}, inPlace);
    }
    const Bytes rebuilt = ReadFile(path);
    const std::int64_t total = counting.bytesWritten;
    // The finished rebuild lists the chunks the builder wrote, in order.
    const PlayersIndex index = IndexPlayersRead(rebuilt);
    ASSERT_GE(index.At, 0) << c.name;
    ASSERT_EQ(index.Entries.size(),
              (builder.StreamChunks().size() + c.salvaged) * 16)
        << c.name;
    for (std::size_t e = 0; e < builder.StreamChunks().size(); ++e) {
      const ExpectedEntry &want = builder.StreamChunks()[e];
      EXPECT_EQ(VEK::LoadLe32(&index.Entries[e * 16]), want.Code) << c.name;
      // A lost frame's place: an empty chunk of its stream, written for it.
      if (Le32(source, want.Position) == 0) {
        const std::int64_t at = index.Movi + 8 + VEK::LoadLe32(&index.Entries[e * 16 + 8]);
        EXPECT_EQ(VEK::LoadLe32(&index.Entries[e * 16 + 12]), 0u) << c.name;
        EXPECT_EQ(Le32(rebuilt, at), want.Code) << c.name;
        EXPECT_EQ(Le32(rebuilt, at + 4), 0u) << c.name;
        continue;
      }
      EXPECT_EQ(VEK::LoadLe32(&index.Entries[e * 16 + 8]), want.Offset)
          << c.name;
      EXPECT_EQ(VEK::LoadLe32(&index.Entries[e * 16 + 12]), want.Size)
          << c.name;
    }
    // Its data as it was (a header the walk corrected aside).
    ASSERT_TRUE(ChunksAsIn(rebuilt, source, index, false)) << c.name;

    int asBefore = 0, rebuiltCount = 0;
    for (std::int64_t cut = 0; cut <= total; ++cut) {
      WriteFile(path, source);
      FaultySystemCalls calls;
      calls.cutAfterBytes = cut;
      {
        CallsGuard guard(calls);
        RunWorker({path}, inPlace);
      }
      const Bytes left = ReadFile(path);
      const Reads reads = Judge(left, source, rebuilt);
      asBefore += reads == Reads::AsBefore;
      rebuiltCount += reads == Reads::Rebuilt;
      ASSERT_NE(reads, Reads::Neither)
          << c.name << ": killed after " << cut << " of " << total << " bytes";
    }
    // Both kinds of moment were met, the first cut before anything.
    EXPECT_GT(asBefore, 0) << c.name;
    EXPECT_GT(rebuiltCount, 0) << c.name;
  }
}

// A power failure lands some of the writes made since the last flush and
// not others; each flush costs milliseconds, so there is one per point where
// one step must be on disk before the next, and none elsewhere.
TEST(InPlaceCut, APowerFailureLeavesTheFileAsBeforeOrRebuiltWithOneFlushPerStep) {
  for (const Case &c : Films()) {
    AviBuilder builder;
    const Bytes source = c.make(builder);
    TempDir dir;
    const std::string path = dir / "f.avi";
    WriteFile(path, source);
    FaultySystemCalls calls;
    calls.keepJournal = true;
    {
      CallsGuard guard(calls);
      RunWorker({path}, InPlace());
    }
    const Bytes rebuilt = ReadFile(path);
    ASSERT_GE(IndexPlayersRead(rebuilt).At, 0) << c.name;
    ASSERT_FALSE(calls.journal.empty()) << c.name;
    EXPECT_EQ(ExpectEveryPowerCutReads(calls.journal, source, rebuilt, c.name),
              c.flushes)
        << c.name;
    // Every ordering point flushes the file's bytes and size, not its times.
    EXPECT_EQ(calls.fdatasyncCalls, calls.fsyncCalls) << c.name;
  }
}

// A walk that ended before the list's end (by more than a chunk header, or by
// less): the index goes after a JUNK chunk closing the list, or stays past the
// old end. The walk of these films reaches their list's end, so the test
// shortens its result by the last chunk, as a walk stopped there would.
TEST(InPlaceCut, AWalkEndingBeforeTheListsEndIsSwitchedToAsSafely) {
  const std::uint32_t lastPayloads[] = {
      30, 0}; // leaves 38 bytes, then 8, after the walk's end
  const std::int64_t shortBy[] = {
      38, 6}; // the second: inside the last chunk's header
  for (std::size_t k = 0; k < 2; ++k) {
    AviBuilder b;
    Chunks(b);
    b.Chunk("00dc", lastPayloads[k]);
    const Bytes source = b.EndMovi().Idx1().Build();
    TempDir dir;
    const std::string path = dir / "f.avi";
    auto rebuild = [&](FaultySystemCalls &calls) {
      WriteFile(path, source);
      CallsGuard guard(calls);
      VEKRiff::ScanResult scan;
      {
        BackupFile check(BackupFile::Mode::Check, path);
        scan =
            VEKRiff::Walk(check, {{}, [](const VEKRiff::Finding &) {}, nullptr},
                          VEKRiff::FindStart(check, {}));
      }
      scan.Entries.pop_back();
      scan.SegmentList.back().End -= shortBy[k];
      BackupFile file(BackupFile::Mode::InPlace, path);
      try {
        VEKRiff::FinishInPlace(file, scan, VEKRiff::CountsFromData(scan), {},
                               [](const std::string &) {}, {});
      } catch (const VEKFile::File::Exception &) {
      }
      return ReadFile(path);
    };
    FaultySystemCalls counting;
    counting.keepJournal = true;
    const Bytes rebuilt = rebuild(counting);
    const PlayersIndex index = IndexPlayersRead(rebuilt);
    ASSERT_EQ(index.Entries.size(), (b.StreamChunks().size() - 1) * 16) << k;
    ASSERT_TRUE(ChunksAsIn(rebuilt, source, index)) << k;
    // The index kept past the old end needs no switch back.
    EXPECT_EQ(ExpectEveryPowerCutReads(counting.journal, source, rebuilt,
                                       "walk short by " +
                                           std::to_string(shortBy[k])),
              k == 0 ? 4 : 3);
    // The first: the list closed by JUNK at the walk's end, the index where
    // the old one was; the second: the index past the old end.
    if (k == 0) {
      EXPECT_EQ(index.At, IndexPlayersRead(source).At);
      EXPECT_EQ(Le32(rebuilt, index.At - 38), Code("JUNK"));
    } else {
      EXPECT_GT(index.At, static_cast<std::int64_t>(source.size()));
    }
    int asBefore = 0, rebuiltCount = 0;
    for (std::int64_t cut = 0; cut <= counting.bytesWritten; ++cut) {
      FaultySystemCalls calls;
      calls.cutAfterBytes = cut;
      const Reads reads = Judge(rebuild(calls), source, rebuilt);
      asBefore += reads == Reads::AsBefore;
      rebuiltCount += reads == Reads::Rebuilt;
      ASSERT_NE(reads, Reads::Neither)
          << k << ": killed after " << cut << " of " << counting.bytesWritten;
    }
    EXPECT_GT(asBefore, 0) << k;
    EXPECT_GT(rebuiltCount, 0) << k;
  }
}

} // namespace
