// The repair engine over files built chunk by chunk: what a check reports,
// what a rebuild writes, and how each kind of damage is met.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <cstdio>
#include <cstring>

#include "engine/IndexRebuilder.h"
#include "file/SystemCalls.h"
#include "lang/Language.h"
#include "support/AviBuilder.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;
using VEKRiff::RebuildEvent;

// A clean file: hdrl, movi with interleaved video and audio, idx1.
AviBuilder SoundFile() {
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < 5; ++i) b.Chunk("00dc", 100 + i).Chunk("01wb", 40);
  b.EndMovi().Idx1();
  return b;
}

std::vector<ExpectedEntry> Strip(std::vector<ExpectedEntry> v) {
  for (auto& e : v) e.Position = -1;
  return v;
}

struct RepairEngine : ::testing::Test {
  TempDir dir;
  std::string Put(const std::string& name, const Bytes& bytes) {
    const std::string path = dir / name;
    WriteFile(path, bytes);
    return path;
  }
  WorkerRunResult Check(const std::vector<std::string>& files) { return RunWorker(files, {}); }
  WorkerRunResult Rebuild(const std::vector<std::string>& files, bool keepOriginal = true) {
    WorkerRunOptions o;
    o.CheckOnly = false;
    o.KeepOriginal = keepOriginal;
    return RunWorker(files, o);
  }
  std::string CopyOf(const std::string& name) { return dir / ("Zantrel." + name); }
};

// The movi size field and the index at the end, as a rebuild must leave them.
void ExpectRebuilt(const Bytes& source, const Bytes& output, std::int64_t moviOffset, std::int64_t end,
                   const std::vector<ExpectedEntry>& entries) {
  const std::int64_t e = end + (end & 1);
  ASSERT_EQ(output.size(), static_cast<std::size_t>(e + 8 + 16 * entries.size()));
  // Everything up to the end of the walk is the source's, but the RIFF size,
  // the list size and the frame count of the main header.
  for (std::int64_t i = 0; i < end; ++i) {
    if ((i >= 4 && i < 8) || (i >= moviOffset + 4 && i < moviOffset + 8) || (i >= 48 && i < 52)) continue;
    ASSERT_EQ(output[i], source[i]) << "byte " << i;
  }
  EXPECT_EQ(VEK::LoadLe32(&output[4]), output.size() - 8) << "the RIFF ends with the index";
  if (end & 1) EXPECT_EQ(output[end], 0);
  EXPECT_EQ(VEK::LoadLe32(&output[moviOffset + 4]), static_cast<std::uint32_t>(e - moviOffset - 8));
  const ParsedIndex index = ReadIdx1(output);
  ASSERT_TRUE(index.Found);
  EXPECT_EQ(index.Position, e);
  EXPECT_EQ(index.Entries, Strip(entries));
  for (std::uint32_t f : index.Flags) EXPECT_EQ(f, 0x10u) << "the builder's chunks have no codec to judge";
}

TEST_F(RepairEngine, CheckOfASoundFileCountsEveryChunkAndFindsNoError) {
  const auto b = SoundFile();
  const auto r = Check({Put("a.avi", b.Build())});
  EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileOk});
  EXPECT_EQ(r.Lines, (std::vector<std::string>{"Processing file \"a.avi\"", "Checking errors...",
                                               "Done. Found 0 errors, 5 video frames, 200 audio samples", ""}));
  EXPECT_TRUE(r.TerminateHandlerRan);
}

TEST_F(RepairEngine, RebuildOfASoundFileChangesOnlyTheListSizeAndReplacesTheIndex) {
  auto b = SoundFile();
  b.Junk(30);  // after the old index: not carried over
  const Bytes source = b.Build();
  const std::string path = Put("a.avi", source);
  const auto r = Rebuild({path});
  EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt});
  EXPECT_EQ(r.OutputNames, std::vector<std::string>{CopyOf("a.avi")});
  EXPECT_EQ(r.Lines[1], "Rebuilding index...");
  EXPECT_EQ(ReadFile(path), source) << "the source is never modified";
  const Bytes out = ReadFile(CopyOf("a.avi"));
  const std::int64_t end = b.StreamChunks().back().Position + 8 + 40;
  ExpectRebuilt(source, out, b.MoviOffset(), end, b.StreamChunks());
  EXPECT_EQ(ReadIdx1(out).Entries.front().Offset, 4u);
}

TEST_F(RepairEngine, InPlaceRebuildGivesTheSameBytesAsACopy) {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 33).Fill(50, 0xEE).Chunk("01wb", 7).Chunk("00dc", 10);
  const Bytes source = b.Build();
  const std::string copySource = Put("c.avi", source);
  const std::string inPlace = Put("p.avi", source);
  Rebuild({copySource});
  const auto r = Rebuild({inPlace}, false);
  EXPECT_EQ(r.OutputNames, std::vector<std::string>{inPlace});
  EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt});
  EXPECT_EQ(ReadFile(inPlace), ReadFile(CopyOf("c.avi")));
  EXPECT_FALSE(Exists(CopyOf("p.avi")));
}

// Chunk codes met inside movi, and what each does to counters and entries.
TEST_F(RepairEngine, ChunkKindsAreCountedIndexedOrSkippedByTheirRawCode) {
  AviBuilder b;
  b.StartMovi()
      .Chunk("00db", 10)
      .Chunk("0Adc", 11)
      .Chunk("fFpc", 4)  // palette: indexed, not counted
      .Chunk("aAwb", 6)
      .Junk(9)
      .Chunk("REC ", 5)
      .Chunk("ix00", 24)  // an OpenDML standard index: skipped, neither counted nor indexed
      .Chunk("01ix", 8)
      .Chunk("01wb", 2);
  const Bytes source = b.Build();
  const std::string path = Put("k.avi", source);
  const auto check = Check({path});
  // Stream 0xAA is past the streams the header list describes, with a gap.
  EXPECT_EQ(check.Lines[2], "Stream 170 has 1 chunks but no stream header (strl).");
  EXPECT_EQ(check.Lines[3], "The file has no index (idx1): players cannot seek in it.");
  EXPECT_EQ(check.Lines[4], "Done. Found 2 errors, 2 video frames, 3 audio samples");
  Rebuild({path});
  const ParsedIndex index = ReadIdx1(ReadFile(CopyOf("k.avi")));
  EXPECT_EQ(index.Entries, Strip(b.StreamChunks()));
  EXPECT_EQ(index.Entries.size(), 5u);
}

TEST_F(RepairEngine, UnknownCodesAreCorruptedSpotsThatTheSearchSkips) {
  // Upper-case kinds, other kinds and lower-case "rec " are not chunks here.
  for (const char* code : {"00DC", "iy00", "00tx", "rec ", "0gdc"}) {
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 20).Chunk(code, 16, 0x11).Chunk("01wb", 8);
    const std::int64_t spot = b.StreamChunks()[0].Position + 28;
    const std::string path = Put("u.avi", b.Build());
    const auto r = Check({path});
    ASSERT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileError}) << code;
    EXPECT_EQ(r.Lines[2], "Corrupted data found at file offset " + std::to_string(spot) + "; Video Frame 1") << code;
    EXPECT_EQ(r.Lines[3], "Resuming file scanning from offset " + std::to_string(b.StreamChunks()[1].Position))
        << code;
    EXPECT_EQ(r.Lines[4], "The file has no index (idx1): players cannot seek in it.") << code;
    EXPECT_EQ(r.Lines[5], "Done. Found 2 errors, 1 video frames, 8 audio samples") << code;
  }
}

// Damaged bytes that a file's own index skips are bytes players pass over,
// as a rebuild leaves them: the check names each stretch, counts no error
// for it, says once why, and the file is repaired. Damage the index does not
// account for stays an error.
TEST_F(RepairEngine, DamageTheFilesOwnIndexSkipsCountsNoError) {
  const std::string skips = "The file's own index skips every damaged stretch";
  auto film = [](int stretches) {
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 64).Chunk("01wb", 32);
    for (int i = 0; i < stretches; ++i) b.Fill(10, 0x07).Chunk("00dc", 48).Chunk("01wb", 32);
    return b.EndMovi().Idx1();
  };
  // The idx1 entry of the stream chunk k.
  auto entry = [](const Bytes& bytes, std::size_t k) { return ReadIdx1(bytes).Position + 8 + 16 * k; };
  const struct {
    const char* name;
    std::function<Bytes()> make;
    bool repaired;
    int errors;  // with the corrupted spots
  } rows[] = {
      {"one stretch between chunks", [&] { return film(1).Build(); }, true, 0},
      {"three stretches", [&] { return film(3).Build(); }, true, 0},
      {"the index lists a chunk whose header the damage overwrote",
       [&] {
         const AviBuilder b = film(1);
         Bytes bytes = b.Build();
         std::fill_n(&bytes[b.StreamChunks()[3].Position], 8, 0x07);
         return bytes;
       },
       false, 3},  // the stretch, the index's entry of the lost chunk, its stream's length
      {"the index lacks a chunk",
       [&] {
         Bytes bytes = film(1).Build();
         std::memcpy(&bytes[entry(bytes, 3)], "JUNK", 4);
         return bytes;
       },
       false, 2},
      {"no index",
       [&] {
         AviBuilder b;
         b.StartMovi().Chunk("00dc", 64).Fill(10, 0x07).Chunk("01wb", 32);
         return b.EndMovi().Build();
       },
       false, 2},
      {"a chunk whose size lies ends at the damage",
       [&] {
         const AviBuilder b = film(1);
         Bytes bytes = b.Build();
         bytes[b.StreamChunks()[1].Position + 4] ^= 0x04;  // 32 becomes 36: into the damage
         return bytes;
       },
       false, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    bool repaired = false;
    WorkerRunOptions o;
    o.OnEvent = [&](VEKRiff::IndexRebuilder& w) {
      if (w.Event() == VEKRiff::FileOk) repaired = w.Outcome() == VEKRiff::OutcomeKind::Repaired;
    };
    const auto r = RunWorker({Put("d.avi", row.make())}, o);
    EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{row.repaired ? VEKRiff::FileOk : VEKRiff::FileError});
    EXPECT_EQ(repaired, row.repaired);
    EXPECT_EQ(r.LastErrorCount, row.errors) << ::testing::PrintToString(r.Lines);
    EXPECT_GE(std::count_if(r.Lines.begin(), r.Lines.end(),
                            [](const std::string& l) { return l.rfind("Corrupted data found", 0) == 0; }),
              1)
        << "each stretch is still named";
    EXPECT_EQ(std::count_if(r.Lines.begin(), r.Lines.end(),
                            [&](const std::string& l) { return l.rfind(skips, 0) == 0; }),
              row.repaired ? 1 : 0);
  }
}

TEST_F(RepairEngine, RecordGroupsAreEnteredAndTheirChunksIndexed) {
  AviBuilder b;
  b.StartMovi();
  for (int g = 0; g < 3; ++g) b.StartRecList().Chunk("00dc", 30).Chunk("01wb", 12).EndRecList();
  const std::string path = Put("r.avi", b.EndMovi().Idx1().Build());
  const auto r = Check({path});
  EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileOk}) << "a valid grouping is no damage";
  EXPECT_EQ(r.Lines[r.Lines.size() - 2], "Done. Found 0 errors, 3 video frames, 36 audio samples");
  Rebuild({path});
  EXPECT_EQ(ReadIdx1(ReadFile(CopyOf("r.avi"))).Entries, Strip(b.StreamChunks()));
}

TEST_F(RepairEngine, AFileCutInsideItsLastChunkKeepsWhatThereIsOfIt) {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 50).Chunk("01wb", 20).Header("00dc", 1000).Fill(100, 0x33);
  const Bytes source = b.Build();
  const std::string path = Put("t.avi", source);
  const auto check = Check({path});
  const std::int64_t cut = b.StreamChunks().back().Position;
  EXPECT_EQ(check.Lines[2], "The file ends inside a chunk at file offset " + std::to_string(cut) + ": it was cut short.");
  EXPECT_EQ(check.Lines[3], "The file has no index (idx1): players cannot seek in it.");
  EXPECT_EQ(check.Lines[4], "Done. Found 2 errors, 2 video frames, 20 audio samples")
      << "the cut chunk is counted, and the header's 2 frames agree with the data";
  Rebuild({path});
  // Players show the 100 bytes that are there: they are indexed, and the
  // chunk's header says so.
  auto kept = b.StreamChunks();
  kept.back().Size = 100;
  Bytes resized = source;
  VEK::StoreLe32(&resized[cut + 4], 100);
  ExpectRebuilt(resized, ReadFile(CopyOf("t.avi")), b.MoviOffset(), b.Size(), kept);
}

TEST_F(RepairEngine, ALastChunkEndingExactlyAtTheEndOfTheFileKeepsItsEntry) {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 50).Chunk("01wb", 20);
  const Bytes source = b.Build();
  Rebuild({Put("e.avi", source)});
  ExpectRebuilt(source, ReadFile(CopyOf("e.avi")), b.MoviOffset(), b.Size(), b.StreamChunks());
}

TEST_F(RepairEngine, AWalkEndingOnAnOddPositionIsPaddedBeforeTheIndex) {
  AviBuilder b;
  // A stray byte puts the last two chunks on odd offsets; their even sizes
  // end the file on an odd position.
  b.StartMovi().Chunk("00dc", 10).Fill(1, 0x77).Chunk("01wb", 4).Chunk("00dc", 4);
  const Bytes source = b.Build();
  ASSERT_EQ(source.size() % 2, 1u);
  const std::string path = Put("o.avi", source);
  const auto check = Check({path});
  EXPECT_EQ(check.Lines[4], "Warning! Data blocks are misaligned.");
  EXPECT_EQ(check.Lines[5], "The file has no index (idx1): players cannot seek in it.");
  EXPECT_EQ(check.Lines[6], "Done. Found 2 errors, 2 video frames, 4 audio samples");
  Rebuild({path});
  ExpectRebuilt(source, ReadFile(CopyOf("o.avi")), b.MoviOffset(), b.Size(), b.StreamChunks());
}

TEST_F(RepairEngine, MisalignedChunksKeepOddStartsUntilAnEvenResynchronisation) {
  AviBuilder b;
  // On odd starts an odd size gains the pad byte and an even size does not,
  // which is exactly how these chunks were laid out; a second stray byte
  // brings the walk back to even starts.
  b.StartMovi().Chunk("00dc", 10).Fill(1, 0x77);
  const std::int64_t firstOdd = b.Size();
  b.Chunk("01wb", 6).Chunk("00dc", 7).Chunk("01wb", 3);
  const std::int64_t secondSpot = b.Size();
  b.Fill(1, 0x78);
  const std::int64_t evenAgain = b.Size();
  b.Chunk("00dc", 5).Chunk("01wb", 2);
  const std::string path = Put("m.avi", b.Build());
  const auto r = Check({path});
  EXPECT_EQ(r.Lines, (std::vector<std::string>{
                         "Processing file \"m.avi\"", "Checking errors...",
                         "Corrupted data found at file offset " + std::to_string(firstOdd - 1) + "; Video Frame 1",
                         "Resuming file scanning from offset " + std::to_string(firstOdd),
                         "Warning! Data blocks are misaligned.",
                         "Corrupted data found at file offset " + std::to_string(secondSpot) + "; Video Frame 2",
                         "Resuming file scanning from offset " + std::to_string(evenAgain), "The file has no index (idx1): players cannot seek in it.",
                         "Done. Found 3 errors, 3 video frames, 11 audio samples", ""}));
  Rebuild({path});
  EXPECT_EQ(ReadIdx1(ReadFile(CopyOf("m.avi"))).Entries, Strip(b.StreamChunks()));
}

TEST_F(RepairEngine, GarbageRightBeforeTheIndexIsNeitherLoggedNorCounted) {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 10).Fill(37, 0xFF).EndMovi().Idx1();
  const auto r = Check({Put("g.avi", b.Build())});
  EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileOk});
  EXPECT_EQ(r.Lines[2], "Done. Found 0 errors, 1 video frames, 0 audio samples");
}

TEST_F(RepairEngine, ACodeSplitAcrossTwoSearchBlocksIsFound) {
  // The garbage places the next chunk's code across the first block's end
  // (the search steps back 8 bytes between blocks).
  for (std::int64_t shift : {-10, -9, -8, -7, -6, -3, 0}) {
    AviBuilder b;
    b.StartMovi();
    const std::int64_t spot = b.Size();
    b.Fill(static_cast<std::size_t>(65536 - 9 + shift), 0x00).Chunk("01wb", 20).Chunk("00dc", 4);
    const std::string path = Put("s.avi", b.Build());
    const auto r = Check({path});
    ASSERT_GE(r.Lines.size(), 4u);
    EXPECT_EQ(r.Lines[2], "Corrupted data found at file offset " + std::to_string(spot) + "; Video Frame 0");
    EXPECT_EQ(r.Lines[3], "Resuming file scanning from offset " + std::to_string(b.StreamChunks()[0].Position))
        << "shift " << shift;
  }
}

TEST_F(RepairEngine, GarbageRunningToTheEndOfTheFileEndsTheWalkThereAndTheBatchGoesOn) {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 100).Chunk("01wb", 30);
  const std::int64_t spot = b.Size();
  b.Fill(200000, 0x00);  // a zero-filled tail, as a partial download leaves it
  const Bytes source = b.Build();
  const std::string damaged = Put("z.avi", source);
  const std::string next = Put("n.avi", SoundFile().Build());

  const auto check = Check({damaged, next});
  EXPECT_EQ(check.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileError, VEKRiff::FileOk}));
  EXPECT_EQ(check.Lines[2], "Corrupted data found at file offset " + std::to_string(spot) + "; Video Frame 1");
  EXPECT_EQ(check.Lines[3], "The file has no index (idx1): players cannot seek in it.");
  EXPECT_EQ(check.Lines[4], "The size fields of 1 RIFF and movi lists do not match the data they hold.")
      << "the movi list claims the zeros, which the rebuild cuts";
  EXPECT_EQ(check.Lines[5], "Done. Found 3 errors, 1 video frames, 30 audio samples");

  const auto rebuild = Rebuild({damaged, next});
  EXPECT_EQ(rebuild.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileRebuilt, VEKRiff::FileRebuilt}));
  ExpectRebuilt(source, ReadFile(CopyOf("z.avi")), b.MoviOffset(), spot, b.StreamChunks());
}

TEST_F(RepairEngine, HugeChunkSizesNeverMoveTheWalkBackwards) {
  for (std::uint32_t size : {0x80000000u, 0xFFFFFFFFu, 0xFFFFFFF8u}) {
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 10).Header("01wb", size).Fill(64, 0x12);
    const auto r = Check({Put("h.avi", b.Build())});
    EXPECT_EQ(r.Lines[r.Lines.size() - 2], "Done. Found 3 errors, 1 video frames, 64 audio samples")
        << size << ": the cut chunk, the missing index and the audio length its header claims";
  }
}

TEST_F(RepairEngine, AFileWithoutStreamChunksGetsAnEmptyIndex) {
  AviBuilder b;
  b.StartMovi().Junk(20).EndMovi();
  const Bytes source = b.Build();
  Rebuild({Put("j.avi", source)});
  ExpectRebuilt(source, ReadFile(CopyOf("j.avi")), b.MoviOffset(), b.Size(), {});
}

TEST_F(RepairEngine, FilesThatCannotBeProcessedFailAloneWithTheirMessage) {
  AviBuilder noMovi;  // hdrl only
  const std::vector<std::string> files = {Put("x.avi", Bytes(4096, 0x33)), Put("short.avi", Bytes(11, 'R')),
                                          Put("nm.avi", noMovi.Build()), Put("ok.avi", SoundFile().Build())};
  for (bool checkOnly : {true, false}) {
    WorkerRunOptions o;
    o.CheckOnly = checkOnly;
    const auto r = RunWorker(files, o);
    EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileError, VEKRiff::FileError, VEKRiff::FileError,
                                                       checkOnly ? VEKRiff::FileOk : VEKRiff::FileRebuilt}));
    EXPECT_EQ(r.Lines[1], "This is not an AVI File.");
    EXPECT_EQ(r.Lines[2], "");
    EXPECT_EQ(r.Lines[8], "Unable to locate the MOVI data blocks.");
    for (const char* name : {"x.avi", "short.avi", "nm.avi"})
      EXPECT_FALSE(Exists(CopyOf(name))) << "a failed copy is deleted: " << name;
  }
}

// A RIFF header overwritten: the data is found, the check says so, and a
// rebuild writes the twelve bytes again and changes nothing else there.
TEST_F(RepairEngine, ADamagedRiffHeaderIsFoundAndWrittenAgain) {
  const Bytes sound = SoundFile().Build();
  for (const std::size_t at : {0u, 11u}) {
    Bytes damaged = sound;
    damaged[at] = 'X';
    const std::string path = Put("d" + std::to_string(at) + ".avi", damaged);
    const auto check = Check({path});
    EXPECT_EQ(check.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileError}) << at;
    EXPECT_EQ(check.Lines[2].rfind("The start of the file is damaged: there is no RIFF header.", 0), 0u) << at;
    const auto rebuild = Rebuild({path});
    EXPECT_EQ(rebuild.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt}) << at;
    const Bytes copy = ReadFile(CopyOf("d" + std::to_string(at) + ".avi"));
    EXPECT_EQ(copy, sound) << at << ": the copy of a sound file with its RIFF header whole again";
  }
}

// A film whose one movi list lost its header: a copy finds the list by its
// chunks and writes the header again; in place the file is left as it was,
// since a new header written before the index would show players an empty
// list for as long as the index is not complete.
TEST_F(RepairEngine, AMoviListWhoseHeaderIsLostIsRebuiltAsACopyAndLeftAloneInPlace) {
  AviBuilder clean;
  clean.StartMovi();
  for (int i = 0; i < 5; ++i) clean.Chunk("00dc", 100 + i).Chunk("01wb", 40);
  clean.EndMovi().Idx1();
  Bytes damaged = clean.Build();
  std::fill_n(damaged.begin() + clean.MoviOffset(), 12, 0);
  const std::string path = Put("m.avi", damaged);
  WorkerRunOptions copy;
  copy.CheckOnly = false;
  const auto r = RunWorker({path}, copy);
  ASSERT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt}) << ::testing::PrintToString(r.Lines);
  EXPECT_EQ(ReadIdx1(ReadFile(CopyOf("m.avi"))).Entries, Strip(clean.StreamChunks()));
  WorkerRunOptions inPlace = copy;
  inPlace.KeepOriginal = false;
  const auto p = RunWorker({path}, inPlace);
  EXPECT_EQ(p.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileError});
  EXPECT_TRUE(std::any_of(p.Lines.begin(), p.Lines.end(), [](const std::string& l) {
    return l.rfind("The movi list's header is lost: a new one written in place", 0) == 0;
  })) << ::testing::PrintToString(p.Lines);
  EXPECT_EQ(ReadFile(path), damaged) << "the file rebuilt in place changed";
}

// A new header list that does not fit before the data: a copy moves the data
// along behind it; in place the file is left as it was, with the advice to
// make a copy. The oracle is the undamaged film: the copy's movi data and its
// index are the film's own, wherever they now lie.
TEST_F(RepairEngine, ACopyMovesItsDataAlongWhereANewHeaderListDoesNotFit) {
  AviBuilder clean;
  clean.StartMovi();
  for (int i = 0; i < 5; ++i) clean.Chunk("00dc", 100 + i).Chunk("01wb", 40);
  clean.EndMovi().Idx1();
  const Bytes film = clean.Build();
  const std::int64_t movi = clean.MoviOffset();
  const std::string reference = Put("reference.avi", film);
  // A stray byte before movi, in a copy of the film built with it.
  AviBuilder odd;
  odd.Fill(1, 0).StartMovi();
  for (int i = 0; i < 5; ++i) odd.Chunk("00dc", 100 + i).Chunk("01wb", 40);
  odd.EndMovi().Idx1();
  Bytes oddStart = odd.Build();
  std::fill(oddStart.begin() + 32, oddStart.begin() + 36, 0);  // avih's frame time
  const struct {
    const char* name;
    Bytes damaged;
    std::int64_t dataAt;  // where the film's movi list data starts in the damaged file
    bool useReference;
    std::string inPlaceRefusal;
  } rows[] = {
      {"a stray byte before movi, the frame time zeroed", oddStart, odd.MoviOffset() + 12, false,
       "The movi list starts on an odd position (file offset " + std::to_string(odd.MoviOffset()) +
           "): no new header list can end there. The file was left untouched. Rebuild a copy instead."},
      {"cut off up to the movi list", Bytes(film.begin() + movi, film.end()), 12, true,
       "A new header list does not fit before the first chunk kept (12 bytes there, "},
      {"cut off up to 20 bytes before the first chunk", Bytes(film.begin() + movi - 8, film.end()), 20, true,
       "A new header list does not fit before the first chunk kept (20 bytes there, "},
  };
  const std::int64_t dataEnd = static_cast<std::int64_t>(film.size()) - 8 - 16 * 10;  // up to idx1
  const Bytes data(film.begin() + movi + 12, film.begin() + dataEnd);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    WorkerRunOptions copy;
    copy.CheckOnly = false;
    if (row.useReference) copy.Reference = reference;
    const std::string path = Put("d.avi", row.damaged);
    std::remove(CopyOf("d.avi").c_str());
    const auto r = RunWorker({path}, copy);
    ASSERT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt}) << ::testing::PrintToString(r.Lines);
    EXPECT_TRUE(std::any_of(r.Lines.begin(), r.Lines.end(), [](const std::string& l) {
      return l.find("in the copy, the data was moved ") != std::string::npos;
    })) << ::testing::PrintToString(r.Lines);
    EXPECT_EQ(ReadFile(path), row.damaged) << "the source changed";
    const Bytes out = ReadFile(CopyOf("d.avi"));
    ASSERT_GE(out.size(), 24u);
    ASSERT_EQ(std::memcmp(&out[12], "LIST", 4), 0);
    const std::int64_t newMovi = 20 + VEK::LoadLe32(&out[16]);
    ASSERT_LE(newMovi + 12 + static_cast<std::int64_t>(data.size()), static_cast<std::int64_t>(out.size()));
    EXPECT_EQ(std::memcmp(&out[newMovi], "LIST", 4), 0);
    EXPECT_EQ(std::memcmp(&out[newMovi + 8], "movi", 4), 0);
    EXPECT_EQ(VEK::LoadLe32(&out[newMovi + 4]), data.size() + 4);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin() + newMovi + 12)) << "the movi data moved whole";
    EXPECT_EQ(ReadIdx1(out).Entries, Strip(clean.StreamChunks()));
    EXPECT_EQ(VEK::LoadLe32(&out[4]), out.size() - 8);
    // Moved along by as little as the list needs, on an even position.
    EXPECT_EQ(newMovi % 2, 0);
    EXPECT_GT(newMovi + 12, row.dataAt);

    WorkerRunOptions inPlace = copy;
    inPlace.KeepOriginal = false;
    const auto p = RunWorker({path}, inPlace);
    EXPECT_EQ(p.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileError});
    EXPECT_TRUE(std::any_of(p.Lines.begin(), p.Lines.end(), [&](const std::string& l) {
      return l.rfind(row.inPlaceRefusal, 0) == 0;
    })) << ::testing::PrintToString(p.Lines);
    EXPECT_EQ(ReadFile(path), row.damaged) << "the file rebuilt in place changed";
  }
}

// Zeros over the start that end inside the header list: the stream lists
// after them are read back, numbered from the last stream of the data, and
// only where each is of its stream's kind; a wrong one would play as noise.
TEST_F(RepairEngine, StreamListsThatOutliveALostStartAreReadBackWhereTheyFitTheData) {
  const Bytes film = SoundFile().Build();
  const unsigned char strl[] = {'s', 't', 'r', 'l'};
  const auto first = std::search(film.begin(), film.end(), std::begin(strl), std::end(strl));
  const auto second = std::search(first + 1, film.end(), std::begin(strl), std::end(strl));
  ASSERT_NE(second, film.end());
  const std::size_t audioList = static_cast<std::size_t>(second - film.begin()) - 8;
  const struct {
    const char* name;
    const char* audioType;  // what the surviving list claims
    bool taken;
  } rows[] = {{"an audio list for the audio chunks", "auds", true},
              {"a video list for the audio chunks", "vids", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Bytes damaged = film;
    std::fill(damaged.begin(), damaged.begin() + static_cast<std::ptrdiff_t>(audioList), 0);
    const auto strh = std::search(damaged.begin() + static_cast<std::ptrdiff_t>(audioList), damaged.end(),
                                  std::begin("strh"), std::begin("strh") + 4);
    std::memcpy(&*(strh + 8), row.audioType, 4);
    const auto r = Check({Put("s.avi", damaged)});
    const auto tells = [&](const char* stream) {
      return std::any_of(r.Lines.begin(), r.Lines.end(),
                         [&](const std::string& l) { return l.find(stream) != std::string::npos; });
    };
    EXPECT_TRUE(tells("tream 0 ")) << ::testing::PrintToString(r.Lines);
    EXPECT_EQ(tells("tream 1 "), !row.taken) << ::testing::PrintToString(r.Lines);
  }
}

// With SkipHealthy a rebuild leaves a file that checks healthy as it is, in
// either mode, and repairs the others as always.
TEST_F(RepairEngine, ARebuildThatSkipsHealthyFilesLeavesThemAlone) {
  const Bytes healthy = SoundFile().Build();
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 20).Fill(9, 0x01).Chunk("01wb", 8);
  const Bytes damaged = b.Build();
  for (const bool skip : {false, true})
    for (const bool inPlace : {false, true}) {
      SCOPED_TRACE(std::string(skip ? "skipping" : "not skipping") + (inPlace ? ", in place" : ", copies"));
      const std::string a = Put("h.avi", healthy), d = Put("d.avi", damaged);
      std::remove(CopyOf("h.avi").c_str());
      std::remove(CopyOf("d.avi").c_str());
      WorkerRunOptions o;
      o.CheckOnly = false;
      o.KeepOriginal = !inPlace;
      o.SkipHealthy = skip;
      const auto r = RunWorker({a, d}, o);
      EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{skip ? VEKRiff::FileSkipped : VEKRiff::FileRebuilt,
                                                         VEKRiff::FileRebuilt}));
      EXPECT_EQ(Exists(CopyOf("h.avi")), !skip && !inPlace);
      if (skip) {
        EXPECT_EQ(ReadFile(a), healthy);
        EXPECT_NE(std::find(r.Lines.begin(), r.Lines.end(), "The file needs no repair: it was left as it is."),
                  r.Lines.end());
      }
      EXPECT_NE(inPlace ? ReadFile(d) : ReadFile(CopyOf("d.avi")), damaged) << "the damaged file is rebuilt";
    }
}

TEST_F(RepairEngine, AMissingFileFailsAloneWithTheFileLayersMessage) {
  const auto r = Check({Put("a.avi", SoundFile().Build()), dir / "missing.avi", Put("b.avi", SoundFile().Build())});
  EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileOk, VEKRiff::FileError, VEKRiff::FileOk}));
  EXPECT_NE(std::find(r.Lines.begin(), r.Lines.end(),
                      "Could not open file \"" + (dir / "missing.avi") + "\" (no such file or folder)."),
            r.Lines.end());
  EXPECT_EQ(r.Lines.back(), "");
}

TEST_F(RepairEngine, FrenchMessagesAreBuiltWhenFrenchIsSelected) {
  VEK::SetLanguage(VEK::French);
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 20).Fill(9, 0x01).Chunk("01wb", 8);
  const auto r = Check({Put("f.avi", b.Build())});
  VEK::SetLanguage(VEK::English);
  EXPECT_EQ(r.Lines, (std::vector<std::string>{
                         "Traitement du fichier \"f.avi\"", "Vérification des erreurs...",
                         "Données corrompues trouvées à l'adresse " + std::to_string(b.StreamChunks()[0].Position + 28) +
                             "; Image vidéo 1",
                         "Reprise du balayage du fichier à partir de l'adresse " +
                             std::to_string(b.StreamChunks()[1].Position),
                         "Attention ! Des blocs de données sont mal alignés.",
                         "Le fichier n'a pas d'index (idx1) : les lecteurs ne peuvent pas s'y déplacer.",
                         "Terminé. 2 erreurs trouvées, 1 image vidéo, 8 échantillons audio", ""}));
}

// French counts 0 and 1 in the singular: the participle of the Done line
// agrees with the error count; the English line has one form.
TEST_F(RepairEngine, TheFrenchDoneLineAgreesWithItsCounts) {
  // spots corrupted stretches, each followed by a video and an audio chunk,
  // and no index unless indexed: every stretch is one error, the missing
  // index one more.
  auto file = [](int spots, bool indexed) {
    AviBuilder b;
    b.StartMovi();
    for (int i = 0; i < spots; ++i) b.Fill(10, 0x07).Chunk("00dc", 16).Chunk("01wb", 8);
    b.Chunk("01wb", 8).EndMovi();
    if (indexed) b.Idx1();
    return b.Build();
  };
  const struct {
    int spots;
    bool indexed;
    const char* english;
    const char* french;
  } cases[] = {
      {0, true, "Done. Found 0 errors, 0 video frames, 8 audio samples",
       "Terminé. 0 erreur trouvée, 0 image vidéo, 8 échantillons audio"},
      {0, false, "Done. Found 1 errors, 0 video frames, 8 audio samples",
       "Terminé. 1 erreur trouvée, 0 image vidéo, 8 échantillons audio"},
      {1, false, "Done. Found 2 errors, 1 video frames, 16 audio samples",
       "Terminé. 2 erreurs trouvées, 1 image vidéo, 16 échantillons audio"},
      {2, false, "Done. Found 3 errors, 2 video frames, 24 audio samples",
       "Terminé. 3 erreurs trouvées, 2 images vidéo, 24 échantillons audio"},
  };
  for (const auto& c : cases) {
    const std::string path =
        Put("e" + std::to_string(c.spots) + (c.indexed ? "i" : "") + ".avi", file(c.spots, c.indexed));
    for (std::int8_t language : {VEK::English, VEK::French}) {
      VEK::SetLanguage(language);
      const auto r = Check({path});
      VEK::SetLanguage(VEK::English);
      ASSERT_GE(r.Lines.size(), 2u);
      EXPECT_EQ(r.Lines[r.Lines.size() - 2], language == VEK::French ? c.french : c.english) << path;
    }
  }
}

TEST_F(RepairEngine, AnEmptyPrefixRewritesTheSourceInPlaceAndNeverDeletesIt) {
  Bytes notAvi = SoundFile().Build();
  std::fill(notAvi.begin(), notAvi.end(), 0x33);
  const std::string good = Put("g.avi", SoundFile().Build());
  const std::string bad = Put("b.avi", notAvi);
  WorkerRunOptions o;
  o.CheckOnly = false;
  o.Prefix = "";
  const auto r = RunWorker({good, bad}, o);
  EXPECT_EQ(r.OutputNames, (std::vector<std::string>{good, bad}));
  EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileRebuilt, VEKRiff::FileError}));
  EXPECT_TRUE(Exists(bad));
  EXPECT_EQ(ReadFile(bad), notAvi);
}

// Files of 4 GiB and more, made sparse so they cost no disk.
struct LargeFile : RepairEngine {
  // movi, one chunk, two fillers of 2 GiB each, then more chunks and garbage
  // beyond 4 GiB from movi. The holes read as zeros and are never read anyway.
  std::string MakeSparse(std::int64_t& garbageAt) {
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 16).Header("JUNK", 0x80000000u);
    const Bytes head = b.Build();
    const std::int64_t secondFiller = b.Size() + 0x80000000ll;
    unsigned char filler[8];
    std::memcpy(filler, "JUNK", 4);
    VEK::StoreLe32(filler + 4, 0x80000000u);
    const std::int64_t chunksAt = secondFiller + 8 + 0x80000000ll;
    Bytes tail;
    auto put = [&](const char* code, std::uint32_t size) {
      const std::size_t at = tail.size();
      tail.resize(at + 8 + size, 0x42);
      std::memcpy(&tail[at], code, 4);
      VEK::StoreLe32(&tail[at + 4], size);
    };
    put("00dc", 32);
    put("01wb", 16);
    garbageAt = chunksAt + static_cast<std::int64_t>(tail.size());
    tail.resize(tail.size() + 40, 0xEE);
    put("00dc", 8);
    const std::string path = dir / "big.avi";
    WriteFile(path, head);
    FILE* f = std::fopen(path.c_str(), "r+b");
    EXPECT_EQ(fseeko(f, secondFiller, SEEK_SET), 0);
    std::fwrite(filler, 1, 8, f);
    EXPECT_EQ(fseeko(f, chunksAt, SEEK_SET), 0);
    std::fwrite(tail.data(), 1, tail.size(), f);
    std::fclose(f);
    return path;
  }
};

TEST_F(LargeFile, ACheckPrintsPositionsBeyondFourGigabytesWhole) {
  std::int64_t garbageAt = 0;
  const std::string path = MakeSparse(garbageAt);
  const auto r = Check({path});
  EXPECT_EQ(r.Lines[2], "Corrupted data found at file offset " + std::to_string(garbageAt) + "; Video Frame 2");
  // The spot, the missing index, the list sizes, and the header list made
  // for the first chunk only: the main header's and stream 0's frame
  // counts, and no header for the audio stream.
  EXPECT_EQ(r.Lines[r.Lines.size() - 2], "Done. Found 6 errors, 3 video frames, 1 audio samples");
}

TEST_F(LargeFile, AnIndexThatCannotAddressTheDataFailsTheFileAndLeavesNothingBehind) {
  std::int64_t garbageAt = 0;
  const std::string path = MakeSparse(garbageAt);
  VEKFile::FileStatus before;
  ASSERT_EQ(VEKFile::Sys().Stat(path.c_str(), &before), 0);
  const std::string next = Put("n.avi", SoundFile().Build());
  for (bool keepOriginal : {true, false}) {
    const auto r = Rebuild({path, next}, keepOriginal);
    EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileError, VEKRiff::FileRebuilt}));
    EXPECT_TRUE(std::any_of(r.Lines.begin(), r.Lines.end(),
                            [](const std::string& line) { return line.find("4 GiB") != std::string::npos; }));
    EXPECT_FALSE(Exists(CopyOf("big.avi")));
    VEKFile::FileStatus after;
    ASSERT_EQ(VEKFile::Sys().Stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec) << "the source is not written";
  }
}

}  // namespace

namespace {

// Whatever an in-place rebuild writes into the RIFF and movi sizes, the
// check said was wrong: the two never disagree about a file.
TEST_F(RepairEngine, ListSizesARebuildCorrectsAreWhatTheCheckReports) {
  struct Row {
    const char* what;
    std::function<void(Bytes&, std::int64_t movi)> damage;
    int wrongLists;  // the count the check gives; 0: no line
  };
  auto riff = [](std::uint32_t v) { return [v](Bytes& b, std::int64_t) { VEK::StoreLe32(&b[4], v); }; };
  auto zeroTail = [](std::uint32_t claim) {
    return [claim](Bytes& b, std::int64_t movi) {
      b.resize(b.size() + 100000, 0);  // a download's preallocated, never written tail
      VEK::StoreLe32(&b[4], claim);
      VEK::StoreLe32(&b[movi + 4], claim - static_cast<std::uint32_t>(movi));
    };
  };
  const Row rows[] = {
      {"sound", [](Bytes&, std::int64_t) {}, 0},
      {"RIFF size 0", riff(0), 1},
      {"RIFF size 0xFFFFFFFF", riff(0xFFFFFFFFu), 1},
      {"RIFF size one past the end of the file", [](Bytes& b, std::int64_t) { VEK::StoreLe32(&b[4], static_cast<std::uint32_t>(b.size() - 7)); }, 1},
      {"movi size 0", [](Bytes& b, std::int64_t movi) { VEK::StoreLe32(&b[movi + 4], 0); }, 1},
      {"movi size 0xFFFFFFFF", [](Bytes& b, std::int64_t movi) { VEK::StoreLe32(&b[movi + 4], 0xFFFFFFFFu); }, 1},
      {"RIFF and movi claiming about 4 GiB over a zero-filled tail", zeroTail(0xFFFFFF00u), 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    AviBuilder b;
    b.StartMovi();
    for (int i = 0; i < 5; ++i) b.Chunk("00dc", 100 + i).Chunk("01wb", 40);
    b.EndMovi().Idx1();
    Bytes source = b.Build();
    row.damage(source, b.MoviOffset());
    const std::string path = Put("l.avi", source);
    const auto check = Check({path});
    const std::string line =
        "The size fields of " + std::to_string(row.wrongLists) + " RIFF and movi lists do not match the data they hold.";
    const bool reported = std::find(check.Lines.begin(), check.Lines.end(), line) != check.Lines.end();
    EXPECT_EQ(reported, row.wrongLists > 0);
    Rebuild({path}, false);
    const Bytes after = ReadFile(path);
    const bool rewritten = VEK::LoadLe32(&after[4]) != VEK::LoadLe32(&source[4]) ||
                           VEK::LoadLe32(&after[b.MoviOffset() + 4]) != VEK::LoadLe32(&source[b.MoviOffset() + 4]);
    EXPECT_EQ(rewritten, row.wrongLists > 0) << "the rebuild corrects what the check reports, nothing else";
    EXPECT_EQ(Check({path}).LastErrorCount, 0) << "nothing is left to mend";
  }
}

}  // namespace

namespace {

// The file's progress as each notification of a run saw it.
struct ProgressSeen {
  std::vector<std::pair<RebuildEvent, std::int32_t>> Seen;
  WorkerRunResult Run(const std::string& path, WorkerRunOptions options) {
    options.OnEvent = [this](VEKRiff::IndexRebuilder& w) { Seen.push_back({w.Event(), w.Progress()}); };
    return RunWorker({path}, options);
  }
};

}  // namespace

// The bar of a run reaches its end exactly with the file's outcome: never
// before it, and at it even when the walk stopped short of the file's last
// bytes (garbage at the end).
TEST_F(RepairEngine, TheFileProgressIsCompleteOnlyWithTheOutcome) {
  const struct {
    const char* name;
    bool checkOnly, keepOriginal;
    RebuildEvent outcome;
  } cases[] = {
      {"check", true, true, VEKRiff::FileError},
      {"copy", false, true, VEKRiff::FileRebuilt},
      {"in place", false, false, VEKRiff::FileRebuilt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AviBuilder b;
    b.StartMovi();
    for (int i = 0; i < 5; ++i) b.Chunk("00dc", 100 + i).Chunk("01wb", 40);
    b.Fill(24, 0x07);  // garbage at the end, reported once the walk has reached it
    ProgressSeen progress;
    WorkerRunOptions o;
    o.CheckOnly = c.checkOnly;
    o.KeepOriginal = c.keepOriginal;
    const auto r = progress.Run(Put(std::string(c.name) + ".avi", b.Build()), o);
    ASSERT_EQ(r.Outcomes(), std::vector<RebuildEvent>{c.outcome});
    bool ended = false;
    int before = 0;
    for (const auto& [event, percent] : progress.Seen) {
      if (event == c.outcome) {
        EXPECT_EQ(percent, 100) << "with the outcome";
        ended = true;
      } else if (!ended) {
        EXPECT_LT(percent, 100) << "notification " << before;
        ++before;
      }
    }
    EXPECT_TRUE(ended);
    EXPECT_GE(before, 4) << "lines came before the outcome";
  }
}

// A walk at its end is not the file's end: a copy still copies what the walk
// went past (most of a large copy's time), and every file still gets its
// indexes written and flushed. The bar shows the part behind, below its end
// until the outcome.
TEST_F(RepairEngine, TheFileProgressFollowsTheCopyAndEndsOnlyWhenTheFileIsDone) {
  const struct {
    const char* name;
    std::int32_t walk;
    std::int64_t copyTotal, copyDone;
    bool done;
    std::int32_t bar;
  } cases[] = {
      {"a check half way", 50, 0, 0, false, 50},
      {"a check whose walk is over", 100, 0, 0, false, 99},
      {"a copy behind the walk", 60, 1000, 200, false, 20},
      {"a copy whose walk is over", 100, 1000, 400, false, 40},
      {"a copy that is flushed", 100, 1000, 1000, false, 99},
      {"a copy with its index written", 100, 1000, 1016, false, 99},
      {"the outcome", 100, 1000, 1016, true, 100},
      {"an outcome before the walk's end", 37, 0, 0, true, 100},
  };
  for (const auto& c : cases) {
    VEKRiff::LiveCounts counts;
    counts.Progress = c.walk;
    counts.CopyTotal = c.copyTotal;
    counts.CopyDone = c.copyDone;
    counts.Done = c.done;
    EXPECT_EQ(counts.FileProgress(), c.bar) << c.name;
    counts.Reset();
    EXPECT_EQ(counts.FileProgress(), 0) << c.name << ", for the next file";
  }
}
