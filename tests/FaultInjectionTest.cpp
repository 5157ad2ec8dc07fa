// A failing disk, a broken read and a file that changes while it is walked,
// made through the system-call seam: each ends the file the way the worker
// promises (message in the user's language, notification, batch going on or
// not), a half-written copy never survives, the source of a copy is never
// touched, and no failure in a destructor ends the program. Also the
// settings store: a write that fails leaves the previous file whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "engine/IndexRebuilder.h"
#include "file/File.h"
#include "lang/Language.h"
#include "lang/SystemReason.h"
#include "settings/Registry.h"
#include "settings/RegistryStore.h"
#include "support/AviBuilder.h"
#include "support/FaultySystemCalls.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"
#include "util/Paths.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;
using VEKRiff::RebuildEvent;

enum class Mode { Check, Copy, InPlace };

const char* Name(Mode m) { return m == Mode::Check ? "check" : m == Mode::Copy ? "copy" : "in place"; }

Bytes Film() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Chunk("01wb", 33).Fill(5, 0x01).Chunk("00dc", 10).Chunk("01wb", 16);
  return b.EndMovi().Idx1().Junk(40).Build();
}

WorkerRunOptions For(Mode mode) {
  WorkerRunOptions o;
  o.CheckOnly = mode == Mode::Check;
  o.KeepOriginal = mode != Mode::InPlace;
  return o;
}

// The rebuild of Film() made with nothing failing: what a fault that is
// overcome must still produce.
Bytes SoundRebuild() {
  TempDir dir;
  WriteFile(dir / "f.avi", Film());
  RunWorker({dir / "f.avi"}, For(Mode::InPlace));
  return ReadFile(dir / "f.avi");
}

struct LanguageGuard {
  explicit LanguageGuard(std::int8_t language) { VEK::SetLanguage(language); }
  ~LanguageGuard() { VEK::SetLanguage(VEK::English); }
};

struct Outcome {
  WorkerRunResult run;
  Bytes first, second;  // the two sources afterwards
  bool firstCopy, secondCopy;
};

// Faults are placed at numbered reads, so every read goes to the file here
// instead of being served from a window read ahead.
struct NoReadAhead {
  NoReadAhead() { VEKFile::File::ReadAheadSize = 0; }
  ~NoReadAhead() { VEKFile::File::ReadAheadSize = saved; }
  std::int64_t saved = VEKFile::File::ReadAheadSize;
};

// Two films in one run, the faults in force for the whole run.
Outcome RunTwo(const TempDir& dir, Mode mode, FaultySystemCalls& calls) {
  NoReadAhead exact;
  WriteFile(dir / "a.avi", Film());
  WriteFile(dir / "b.avi", Film());
  std::remove((dir / "Zantrel.a.avi").c_str());
  std::remove((dir / "Zantrel.b.avi").c_str());
  Outcome o;
  {
    CallsGuard guard(calls);
    o.run = RunWorker({dir / "a.avi", dir / "b.avi"}, For(mode));
  }
  o.first = ReadFile(dir / "a.avi");
  o.second = ReadFile(dir / "b.avi");
  o.firstCopy = Exists(dir / "Zantrel.a.avi");
  o.secondCopy = Exists(dir / "Zantrel.b.avi");
  return o;
}

std::string CopyFailed(const std::string& reason) {
  return "The copy could not be written (" + reason + "). The source was not changed and the unfinished copy was deleted.";
}
std::string InPlaceFailed(const std::string& reason) {
  return "The new index could not be written completely (" + reason +
         "). The file was changed: rebuild it again once the cause is fixed.";
}

int PartialFiles(const TempDir& dir) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    count += entry.path().filename().string().find(".zantrel-partial") != std::string::npos;
  return count;
}

// A full disk ends the batch: the failing file gets
// FileError with the message and the empty line, the second is never
// started, a copy is gone and the source of a copy is as it was.
void ExpectBatchEndedBy(const Outcome& o, Mode mode, const std::string& message, const std::string& what,
                        bool sourceAsItWas = true) {
  EXPECT_EQ(o.run.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileError}) << what;
  ASSERT_GE(o.run.Lines.size(), 2u) << what;
  EXPECT_EQ(o.run.Lines[o.run.Lines.size() - 2], message) << what;
  EXPECT_EQ(o.run.Lines.back(), "") << what;
  for (const Notice& n : o.run.Notices) EXPECT_EQ(n.FileIndex, 0) << what << ": the next file was started";
  EXPECT_TRUE(o.run.TerminateHandlerRan) << what;
  EXPECT_FALSE(o.firstCopy) << what << ": a half-written copy was left behind";
  if (mode != Mode::InPlace && sourceAsItWas) EXPECT_EQ(o.first, Film()) << what << ": the source was touched";
  EXPECT_EQ(o.second, Film()) << what;
}

// A full disk ends the batch (every file after it would fail alike); a
// write that fails for a reason of its own fails that file alone. Either way
// the line says why and whether the file was changed, and no copy is left.
TEST(FaultInjection, AFailingWriteFailsItsFileAFullDiskEndsTheBatchAndNeitherEndsTheProgram) {
  const struct {
    const char* name;
    Mode mode;
    std::function<void(FaultySystemCalls&)> fault;
    std::string message;
    bool originalUntouched;  // in place: the failure came before the first write
    bool endsBatch;
  } cases[] = {
      {"no space at the first write of the index", Mode::Copy, [](auto& c) { c.failPWriteVAt = 1, c.pwritevErrno = ENOSPC; },
       CopyFailed("no space left on the device"), true, true},
      {"no room to reserve for the index", Mode::InPlace, [](auto& c) { c.reserveErrno = ENOSPC; },
       "The new index could not be written (no space left on the device). The file was not changed.", true, true},
      {"no space at the first write in place", Mode::InPlace, [](auto& c) { c.failPWriteVAt = 1, c.pwritevErrno = ENOSPC; },
       "The new index could not be written (no space left on the device). The file was not changed.", true, true},
      {"no space at the second write", Mode::InPlace, [](auto& c) { c.failPWriteVAt = 2, c.pwritevErrno = ENOSPC; },
       InPlaceFailed("no space left on the device"), false, true},
      {"a write that writes nothing", Mode::Copy, [](auto& c) { c.failPWriteVAt = 1, c.pwritevErrno = 0; },
       CopyFailed("no space left on the device"), true, true},
#ifndef _WIN32  // Windows reports no quota of its own: a full quota is a full disk there
      {"quota exceeded", Mode::Copy, [](auto& c) { c.failPWriteVAt = 1, c.pwritevErrno = EDQUOT; },
       CopyFailed(VEK::SystemReason(EDQUOT)), true, true},
#endif
      {"an I/O error while copying through memory", Mode::Copy,
       [](auto& c) { c.failCopyFileRange = true, c.copyErrno = EXDEV, c.failPWriteVAt = 1, c.pwritevErrno = EIO; },
       CopyFailed("input/output error"), true, false},
      {"truncation refused", Mode::Copy, [](auto& c) { c.failFTruncate = true; }, CopyFailed("input/output error"), true,
       false},
      {"truncation refused in place", Mode::InPlace, [](auto& c) { c.failFTruncate = true; },
       InPlaceFailed("input/output error"), false, false},
      {"the finished copy cannot take its name", Mode::Copy, [](auto& c) { c.renameErrno = EIO; },
       CopyFailed("input/output error"), true, false},
  };
  TempDir dir;
  for (const auto& c : cases) {
    FaultySystemCalls calls;
    c.fault(calls);
    const Outcome o = RunTwo(dir, c.mode, calls);
    if (c.endsBatch) {
      ExpectBatchEndedBy(o, c.mode, c.message, c.name);
    } else {
      // These faults hold for every later call: the second file, worked on
      // all the same, fails alike.
      EXPECT_EQ(o.run.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileError, VEKRiff::FileError})) << c.name;
      EXPECT_EQ(std::count(o.run.Lines.begin(), o.run.Lines.end(), c.message), 2) << c.name;
      EXPECT_FALSE(o.firstCopy || o.secondCopy) << c.name << ": a half-written copy was left behind";
    }
    if (c.originalUntouched) EXPECT_EQ(o.first, Film()) << c.name << ": the message says the file was not changed";
    else EXPECT_NE(o.first, Film()) << c.name << ": the message says the file was changed";
    EXPECT_EQ(PartialFiles(dir), 0) << c.name << ": an unfinished copy was left under its temporary name";
  }
  // The process is still here, and the next run works.
  const Outcome after = [&] {
    FaultySystemCalls none;
    return RunTwo(dir, Mode::Copy, none);
  }();
  EXPECT_EQ(after.run.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileRebuilt, VEKRiff::FileRebuilt}));
}

// A header chunk whose size runs past the end breaks the chain that leads to
// movi: movi is searched for instead of skipping there, and a file without
// one fails alone, whether or not the file's size can be had again.
TEST(FaultInjection, AHeaderSizePastTheEndEndsInTheSearchForMovi) {
  AviBuilder b;
  b.Header("JUNK", 100000).Fill(4, 0);  // before movi, running past the end
  TempDir dir;
  WriteFile(dir / "a.avi", b.Build());
  for (bool fstatFails : {false, true}) {
    FaultySystemCalls calls;
    if (fstatFails) calls.failFStatAfter = 2;  // the two opens' own checks pass
    WorkerRunResult r;
    {
      CallsGuard guard(calls);
      r = RunWorker({dir / "a.avi"}, For(Mode::Copy));
    }
    EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileError});
    ASSERT_GE(r.Lines.size(), 2u);
    EXPECT_EQ(r.Lines[r.Lines.size() - 2], "Unable to locate the MOVI data blocks.");
    EXPECT_FALSE(Exists(dir / "Zantrel.a.avi"));
  }
}

TEST(FaultInjection, AFailedWriteIsReportedInTheUsersLanguage) {
  LanguageGuard french(VEK::French);
  TempDir dir;
  FaultySystemCalls calls;
  calls.failPWriteVAt = 1;
  calls.pwritevErrno = ENOSPC;
  ExpectBatchEndedBy(RunTwo(dir, Mode::Copy, calls), Mode::Copy,
                     "La copie n'a pas pu être écrite (plus d'espace libre sur le périphérique). La source n'a pas "
                     "été modifiée et la copie inachevée a été supprimée.",
                     "French");
}

// A read of the second of three films fails outright (a bad sector, a disk
// pulled out) at its first read, in the search for movi, in the walk, or at
// its last read. Wherever it happens it must not pass for "not an AVI file",
// for the end of the walk (and cut the film there) or for damage: that film
// fails with its name and the system's reason, nothing of it is written
// where the failure comes before the writing, and the batch goes on with the
// third. In place, the last read comes after the first write: it is told as
// the unfinished write it is.
TEST(FaultInjection, AFailingReadFailsThatFileAloneWhereverItHappens) {
#ifdef _WIN32
  GTEST_SKIP() << "the failing reads are picked by the file's name as the POSIX calls see it";
#endif
  NoReadAhead exact;
  const Bytes sound = SoundRebuild();
  TempDir dir;
  const std::vector<std::string> files = {dir / "a.avi", dir / "b.avi", dir / "c.avi"};
  const auto run = [&](Mode mode, FaultySystemCalls& calls) {
    for (const std::string& f : files) {
      WriteFile(f, Film());
      std::remove((dir / ("Zantrel." + VEK::ExtractFileName(f))).c_str());
    }
    calls.failReadSuffix = "/b.avi";
    CallsGuard guard(calls);
    return RunWorker(files, For(mode));
  };
  for (Mode mode : {Mode::Check, Mode::Copy, Mode::InPlace}) {
    // How many reads the second film takes when none fails.
    FaultySystemCalls counting;
    counting.fileReadFailAt = INT_MAX;
    run(mode, counting);
    const int reads = counting.fileReads;
    ASSERT_GT(reads, 5) << Name(mode);
    const struct {
      const char* name;
      int failAt;
    } cases[] = {{"the RIFF header", 1}, {"the search for movi", 2}, {"the walk", 5}, {"its last read", reads}};
    const RebuildEvent done = mode == Mode::Check ? VEKRiff::FileOk : VEKRiff::FileRebuilt;
    for (const auto& c : cases) {
      const std::string what = std::string(Name(mode)) + ", " + c.name;
      FaultySystemCalls calls;
      calls.fileReadFailAt = c.failAt;
      const WorkerRunResult r = run(mode, calls);
      // In place the last read comes after the first write: a failure there
      // must not end the rewrite half done, which goes on to the end.
      if (mode == Mode::InPlace && c.failAt == reads) {
        EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{done, done, done})) << what;
        // Its RIFF size too, which that read was to confirm.
        EXPECT_EQ(ReadFile(files[1]), sound) << what;
        continue;
      }
      EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{done, VEKRiff::FileError, done})) << what;
      const std::string line = "Could not read file \"" + files[1] + "\" (input/output error).";
      const auto failure = std::find(r.Lines.begin(), r.Lines.end(), line);
      ASSERT_NE(failure, r.Lines.end()) << what << ": " << ::testing::PrintToString(r.Lines);
      EXPECT_EQ(*std::next(failure), "") << what << ": the failure ends the file";
      EXPECT_EQ(*std::next(failure, 2), "Processing file \"c.avi\"") << what;
      EXPECT_EQ(ReadFile(files[1]), Film()) << what << ": nothing is written before the walk ends";
      EXPECT_FALSE(Exists(dir / "Zantrel.b.avi")) << what << ": a half-written copy was left behind";
      EXPECT_EQ(PartialFiles(dir), 0) << what;
      for (const std::string name : {"a.avi", "c.avi"}) {
        const Bytes expected = mode == Mode::Check ? Film() : sound;
        EXPECT_EQ(ReadFile(dir / (mode == Mode::Copy ? "Zantrel." + name : name)), expected) << what << ", " << name;
      }
    }
  }
  // Said in the user's language.
  LanguageGuard french(VEK::French);
  FaultySystemCalls calls;
  calls.fileReadFailAt = 5;
  const WorkerRunResult r = run(Mode::Check, calls);
  EXPECT_EQ(std::count(r.Lines.begin(), r.Lines.end(),
                       "Impossible de lire le fichier \"" + files[1] + "\" (" + VEK::SystemReason(EIO) + ")."),
            1);
}

// Faults a careful file layer overcomes: the result is the same bytes.
TEST(FaultInjection, ShortWritesAndARefusedKernelCopyStillGiveTheSoundRebuild) {
  const struct {
    const char* name;
    std::function<void(FaultySystemCalls&)> fault;
  } cases[] = {
      {"writes of three bytes at a time", [](auto& c) { c.shortPWriteV = 3; }},
      {"interrupted writes", [](auto& c) { c.interruptPWriteV = 3; }},
      {"kernel copy across file systems", [](auto& c) { c.failCopyFileRange = true, c.copyErrno = EXDEV; }},
      {"kernel copy failing with an I/O error", [](auto& c) { c.failCopyFileRange = true, c.copyErrno = EIO; }},
  };
  const Bytes sound = SoundRebuild();
  TempDir dir;
  for (const auto& c : cases) {
    for (Mode mode : {Mode::Copy, Mode::InPlace}) {
      FaultySystemCalls calls;
      c.fault(calls);
      const Outcome o = RunTwo(dir, mode, calls);
      EXPECT_EQ(o.run.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileRebuilt, VEKRiff::FileRebuilt}))
          << c.name << ", " << Name(mode);
      EXPECT_EQ(ReadFile(dir / (mode == Mode::Copy ? "Zantrel.a.avi" : "a.avi")), sound) << c.name << ", " << Name(mode);
      if (mode == Mode::Copy) EXPECT_EQ(o.first, Film()) << c.name;
    }
  }
}

std::string SourceChangedLine() {
  return "The file changed while it was being read (another program is writing to it). It was left as it was; "
         "rebuild it once that program has finished.";
}

std::string CopySourceChangedLine(const std::string& path) {
  return "The file \"" + path +
         "\" changed while it was being copied (another program wrote to it or cut it short). The unfinished copy was "
         "deleted and the file was left as it is; rebuild it once that program has finished.";
}

// Another program cuts or extends the file while it is walked. The header
// reads are 1 (RIFF), 2 ('hdrl'), 3 ('movi'); the walk starts at read 4.
TEST(FaultInjection, ASourceThatShrinksDuringTheWalkIsNeverReportedAsRebuilt) {
  TempDir dir;
  const std::int64_t cut = [] {
    AviBuilder b;
    b.StartMovi();
    return b.Size() + 20;  // inside the first chunk
  }();
#ifdef _WIN32
  // A check and an in-place rebuild hold the file with a share mode that
  // keeps other programs from changing it there: only a copy's source
  // (deny none) can change under the walk.
  for (Mode mode : {Mode::Copy}) {
#else
  for (Mode mode : {Mode::Check, Mode::Copy, Mode::InPlace}) {
#endif
    FaultySystemCalls calls;
    calls.hookPReadAt = 4;
    calls.beforePRead = [&] { ASSERT_EQ(::truncate((dir / "a.avi").c_str(), cut), 0); };
    const Outcome o = RunTwo(dir, mode, calls);
    if (mode == Mode::Check) {
      // A check only reads: it reports what is left (its index now names
      // chunks that are gone) and goes on to the second film, whose corrupted
      // spot its index skips.
      EXPECT_EQ(o.run.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileError, VEKRiff::FileOk}));
      continue;
    }
    // The data the walk indexed is gone: a rebuild would index what is not
    // there (in place, a gap the write fills with zeros). A copy cannot be
    // completed and is deleted; in place the file is left as the other
    // program made it. Either way the line says so, and the batch goes on.
    EXPECT_EQ(o.run.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileError, VEKRiff::FileRebuilt})) << Name(mode);
    const std::string line = mode == Mode::Copy ? CopySourceChangedLine(dir / "a.avi") : SourceChangedLine();
    EXPECT_EQ(std::count(o.run.Lines.begin(), o.run.Lines.end(), line), 1) << Name(mode);
    EXPECT_FALSE(o.firstCopy) << Name(mode);
    EXPECT_EQ(PartialFiles(dir), 0) << Name(mode);
    EXPECT_EQ(static_cast<std::int64_t>(o.first.size()), cut) << Name(mode) << ": the file was written after all";
  }
}

// A copy's source is guarded as a file rebuilt in place is: its size and
// date when it was opened are compared before the copy takes its name.
TEST(FaultInjection, ASourceThatGrowsDuringTheWalkIsLeftAloneInPlaceAndNotCopied) {
  const Bytes sound = SoundRebuild();
  TempDir dir;
#ifdef _WIN32
  // A check and an in-place rebuild hold the file with a share mode that
  // keeps other programs from changing it there: only a copy's source
  // (deny none) can change under the walk.
  for (Mode mode : {Mode::Copy}) {
#else
  for (Mode mode : {Mode::Check, Mode::Copy, Mode::InPlace}) {
#endif
    FaultySystemCalls calls;
    calls.hookPReadAt = 5;
    calls.beforePRead = [&] {
      std::ofstream(dir / "a.avi", std::ios::binary | std::ios::app) << std::string(70000, 'x');
    };
    const Outcome o = RunTwo(dir, mode, calls);
    if (mode == Mode::InPlace) {
      // A download still being written: rewriting it now would cut off what
      // arrives next. It is left alone, and the batch goes on.
      EXPECT_EQ(o.run.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileError, VEKRiff::FileRebuilt}));
      EXPECT_EQ(std::count(o.run.Lines.begin(), o.run.Lines.end(), SourceChangedLine()), 1);
      Bytes grown = Film();
      grown.insert(grown.end(), 70000, 'x');
      EXPECT_EQ(o.first, grown);
      continue;
    }
    if (mode == Mode::Copy) {
      // What was appended may have overwritten what was read as well: the
      // size and date cannot tell. The copy is not made.
      EXPECT_EQ(o.run.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileError, VEKRiff::FileRebuilt}));
      EXPECT_EQ(std::count(o.run.Lines.begin(), o.run.Lines.end(), CopySourceChangedLine(dir / "a.avi")), 1);
      EXPECT_FALSE(o.firstCopy);
      EXPECT_EQ(ReadFile(dir / "Zantrel.b.avi"), sound);
      continue;
    }
    // Checked, the film's corrupted spot is one its index skips.
    EXPECT_EQ(o.run.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileOk, VEKRiff::FileOk}));
  }
}

#ifndef _WIN32
// Another program overwrites the copy's source in place while it is read:
// same size, a new date. At whichever read it happens, the copy is deleted,
// the source is left as the other program made it, a line names it, and the
// batch goes on.
TEST(FaultInjection, ACopysSourceOverwrittenWhileItIsReadIsNeverCopied) {
  const Bytes sound = SoundRebuild();
  TempDir dir;
  for (int at : {1, 3, 4, 5, 6}) {
    FaultySystemCalls calls;
    calls.hookPReadAt = at;
    calls.beforePRead = [&] {
      // Bytes of the first chunk's data, overwritten without changing the size.
      const int fd = ::open((dir / "a.avi").c_str(), O_WRONLY | O_CLOEXEC);
      ASSERT_GE(fd, 0);
      const char junk[8] = {'o', 'v', 'e', 'r', 'w', 'r', 'i', 't'};
      ASSERT_EQ(::pwrite(fd, junk, sizeof junk, static_cast<off_t>(Film().size() / 2)), 8);
      // A date the file cannot have had when it was opened, whatever the
      // clock's steps.
      const struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
      ASSERT_EQ(::futimens(fd, times), 0);
      ::close(fd);
    };
    const Outcome o = RunTwo(dir, Mode::Copy, calls);
    EXPECT_EQ(o.run.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileError, VEKRiff::FileRebuilt})) << at;
    EXPECT_EQ(std::count(o.run.Lines.begin(), o.run.Lines.end(), CopySourceChangedLine(dir / "a.avi")), 1) << at;
    EXPECT_FALSE(o.firstCopy) << at;
    EXPECT_EQ(PartialFiles(dir), 0) << at;
    EXPECT_EQ(o.first.size(), Film().size()) << at;
    EXPECT_NE(o.first, Film()) << at << ": the other program's write stays";
    EXPECT_EQ(ReadFile(dir / "Zantrel.b.avi"), sound) << at;
  }
}
#endif

std::string NoLeaseLine(const std::string& reason) {
  return "Other programs cannot be kept away from the file while its new index is written (" + reason +
         "); one that writes to it meanwhile is noticed only by the change in the file's size or date.";
}

// In place, the file is leased before the test of its size and date and the
// first write, and the lease is let go on every road. Where none is granted
// the line that starts the writing says why and the test still guards the
// file; a lease broken by another program's open leaves the file uncut.
TEST(FaultInjection, TheLeaseOnAFileRebuiltInPlaceDecidesWhatTheRebuildMayDo) {
  enum class Expect { Rebuilt, ChangedBeforeWriting, NotCut, BatchEnds };
  const auto grows = [](const TempDir& dir) {
    return [&dir] { std::ofstream(dir / "a.avi", std::ios::binary | std::ios::app) << std::string(70000, 'x'); };
  };
  const struct {
    const char* name;
    int leaseErrno;
    bool breakLease;
    bool grow;       // another program appends to the first film during its walk
    int failWriteAt;  // 0: the writes succeed
    std::string noLeaseReason;  // empty: no line about the lease
    Expect expect;
  } cases[] = {
      {"granted", 0, false, false, 0, "", Expect::Rebuilt},
      {"refused: another program has the file open", EAGAIN, false, false, 0, "the file is in use by another program",
       Expect::Rebuilt},
      {"refused: a file system without leases", EINVAL, false, false, 0, "not supported by the file system",
       Expect::Rebuilt},
      {"refused: leases unknown to the kernel", ENOSYS, false, false, 0, "not supported by the file system",
       Expect::Rebuilt},
      {"refused: another user's file", EACCES, false, false, 0, "the file belongs to another user", Expect::Rebuilt},
#ifndef _WIN32  // there the share mode keeps other programs from changing the file
      {"refused, and the file grew: the size test still guards it", EAGAIN, false, true, 0,
       "the file is in use by another program", Expect::ChangedBeforeWriting},
      {"granted after the file grew", 0, false, true, 0, "", Expect::ChangedBeforeWriting},
#endif
      {"broken before the cut", 0, true, false, 0, "", Expect::NotCut},
      {"granted, then a write fails", 0, false, false, 2, "", Expect::BatchEnds},
  };
  const Bytes sound = SoundRebuild();
  ASSERT_LT(sound.size(), Film().size()) << "the rebuild must cut something for an uncut file to show";
  TempDir dir;
  for (const auto& c : cases) {
    FaultySystemCalls calls;
    calls.leaseErrno = c.leaseErrno;
    calls.breakLease = c.breakLease;
    if (c.grow) calls.hookPReadAt = 5, calls.beforePRead = grows(dir);
    if (c.failWriteAt > 0) calls.failPWriteVAt = c.failWriteAt, calls.pwritevErrno = ENOSPC;
    const Outcome o = RunTwo(dir, Mode::InPlace, calls);
    const int noLeaseLines = static_cast<int>(
        std::count(o.run.Lines.begin(), o.run.Lines.end(), NoLeaseLine(c.noLeaseReason)));
    const int files = c.expect == Expect::BatchEnds ? 1 : 2;
    EXPECT_EQ(calls.leaseCalls, files) << c.name << ": every file is leased before its first write";
    EXPECT_EQ(calls.releaseCalls, c.leaseErrno == 0 ? files : 0) << c.name << ": a lease was not let go";
    EXPECT_EQ(noLeaseLines, c.noLeaseReason.empty() ? 0 : files) << c.name;
    switch (c.expect) {
      case Expect::Rebuilt:
        EXPECT_EQ(o.run.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileRebuilt, VEKRiff::FileRebuilt}))
            << c.name;
        EXPECT_EQ(o.first, sound) << c.name;
        break;
      case Expect::ChangedBeforeWriting: {
        EXPECT_EQ(o.run.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileError, VEKRiff::FileRebuilt}))
            << c.name;
        EXPECT_EQ(std::count(o.run.Lines.begin(), o.run.Lines.end(), SourceChangedLine()), 1) << c.name;
        Bytes grown = Film();
        grown.insert(grown.end(), 70000, 'x');
        EXPECT_EQ(o.first, grown) << c.name;
        break;
      }
      case Expect::NotCut: {
        EXPECT_EQ(o.run.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileError, VEKRiff::FileError})) << c.name;
        EXPECT_EQ(std::count(o.run.Lines.begin(), o.run.Lines.end(),
                             "Another program opened the file while its new index was being written. The index was "
                             "written but the file was not cut after it; rebuild it again once that program has "
                             "finished."),
                  2)
            << c.name;
        // The whole rebuilt file, then the old tail as a JUNK chunk, up to
        // the end (this film's list ends at no index) or to the copy of the
        // index written first past the old end.
        ASSERT_GE(o.first.size(), sound.size() + 8) << c.name;
        EXPECT_TRUE(std::equal(sound.begin(), sound.end(), o.first.begin())) << c.name;
        EXPECT_EQ(VEK::LoadLe32(&o.first[sound.size()]), Code("JUNK")) << c.name;
        const std::size_t junkEnd = sound.size() + 8 + VEK::LoadLe32(&o.first[sound.size() + 4]);
        ASSERT_LE(junkEnd, o.first.size()) << c.name;
        const std::size_t indexBytes = o.first.size() - junkEnd;
        ASSERT_LT(indexBytes, sound.size()) << c.name;
        EXPECT_TRUE(std::equal(o.first.begin() + static_cast<std::ptrdiff_t>(junkEnd), o.first.end(),
                               sound.end() - static_cast<std::ptrdiff_t>(indexBytes)))
            << c.name;
        break;
      }
      case Expect::BatchEnds:
        ExpectBatchEndedBy(o, Mode::InPlace, InPlaceFailed("no space left on the device"), c.name);
        break;
    }
  }
}

TEST(FaultInjection, ALeaseThatCannotBeHadIsSaidInTheUsersLanguage) {
  LanguageGuard french(VEK::French);
  TempDir dir;
  FaultySystemCalls calls;
  calls.leaseErrno = EAGAIN;
  const Outcome o = RunTwo(dir, Mode::InPlace, calls);
  EXPECT_EQ(std::count(o.run.Lines.begin(), o.run.Lines.end(),
                       "Les autres programmes ne peuvent pas être tenus à l'écart du fichier pendant l'écriture de "
                       "son nouvel index (le fichier est utilisé par un autre programme) ; celui qui y écrit "
                       "entre-temps n'est remarqué que par le changement de taille ou de date du fichier."),
            2);
}

// The settings store writes a new file beside the old one and renames it
// over; whatever fails on the way, the old file stays whole and the
// temporary file goes.
class StoreFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_CONFIG_HOME", dir_.Path().c_str(), 1);
    VEK::SetLanguage(VEK::English);
  }
  void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }
  std::string FileName() const { return dir_ / "zantrel/registry.reg"; }
  std::string Text() const {
    std::ifstream in(FileName(), std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
  }
  TempDir dir_;
};

TEST_F(StoreFaults, AWriteThatFailsLeavesThePreviousFileWhole) {
  const struct {
    const char* name;
    std::function<void(FaultySystemCalls&)> fault;
    std::string message;
  } cases[] = {
      {"the new file cannot be created", [](auto& c) { c.failOpenSuffix = ".zantrel-partial", c.openErrno = EDQUOT; },
       "Could not write registry file \"%s\": " + std::string(std::strerror(EDQUOT)) + "."},
      {"the new file cannot be put on disk", [](auto& c) { c.fsyncErrno = EIO; },
       "Could not write registry file \"%s\": " + std::string(std::strerror(EIO)) + "."},
      {"the rename is refused", [](auto& c) { c.renameErrno = EXDEV; },
       "Could not write registry file \"%s\": " + std::string(std::strerror(EXDEV)) + "."},
      {"the disk takes nothing", [](auto& c) { c.failPWriteVAt = 1, c.pwritevErrno = 0; },
       "Could not write registry file \"%s\": " + std::string(std::strerror(ENOSPC)) + "."},
      {"an I/O error after a short write", [](auto& c) { c.shortPWriteV = 10, c.failPWriteVAt = 2, c.pwritevErrno = EIO; },
       "Could not write registry file \"%s\": " + std::string(std::strerror(EIO)) + "."},
      {"closing reports a lost write", [](auto& c) { c.failClose = true; },
       "Could not write registry file \"%s\": " + std::string(std::strerror(EIO)) + "."},
      {"the old file cannot be read", [](auto& c) { c.failPRead = true; },
       "Could not read registry file \"%s\": " + std::string(std::strerror(EIO)) + "."},
  };
  for (const auto& c : cases) {
    VEKRegistry::FileStore store(FileName());
    VEKRegistry::Registry reg(store);
    ASSERT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2\\Files", true));
    reg.WriteString("Prefix", "Old.");
    const std::string before = Text();
    std::string message;
    {
      FaultySystemCalls calls;
      c.fault(calls);
      CallsGuard guard(calls);
      try {
        reg.WriteString("Prefix", std::string(300, 'n'));
      } catch (const VEKRegistry::Exception& e) {
        message = e.Message();
      }
    }
    std::string expected = c.message;
    expected.replace(expected.find("%s"), 2, FileName());
    EXPECT_EQ(message, expected) << c.name;
    EXPECT_EQ(Text(), before) << c.name;
    EXPECT_EQ(reg.ReadString("Prefix"), "Old.") << c.name;
    for (const auto& entry : std::filesystem::directory_iterator(dir_ / "zantrel"))
      EXPECT_EQ(entry.path().extension(), entry.path().filename() == "registry.reg" ? ".reg" : ".lock")
          << c.name << ": " << entry.path();
  }
}

}  // namespace
