// The buffered file: the write queue and its 2 MiB limit, read-back of queued
// writes, seeks, open and create, short reads, truncation, and the failures a
// full disk or a broken device cause, injected through the system-call seam.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <numeric>
#include <string>

#include "file/File.h"
#include "file/SystemCalls.h"
#include "lang/Language.h"
#include "support/FaultySystemCalls.h"
#include "support/TempDir.h"

namespace {

using VEKFile::File;
using ZantrelTest::Bytes;
using ZantrelTest::TempDir;

using FaultyCalls = ZantrelTest::FaultySystemCalls;
using ZantrelTest::CallsGuard;

struct LanguageGuard {
  explicit LanguageGuard(std::int8_t language) { VEK::SetLanguage(language); }
  ~LanguageGuard() { VEK::SetLanguage(VEK::English); }
};

Bytes Pattern(std::size_t n, unsigned char seed = 0) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(seed + i * 7 + i / 251);
  return b;
}

std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const File::Exception& e) {
    return e.Message();
  }
  return "(no exception)";
}

TEST(File, QueueLimitFlushesBeforeAWriteThatWouldOverflowAndBypassesTheQueueAboveIt) {
  const struct {
    const char* name;
    std::int64_t queued;      // written first, all still queued
    std::int64_t write;       // the write under test
    int expectedPWriteV;      // system writes made by the write under test
    std::int64_t stillQueued;  // bytes left in the queue after it
  } cases[] = {
      {"overflow flushes first, then queues", 2'097'000, 200, 1, 200},
      {"exactly the limit into an empty queue is queued", 0, File::QueueLimit, 0, File::QueueLimit},
      {"filling the queue to the limit is queued", 2'097'000, File::QueueLimit - 2'097'000, 0, File::QueueLimit},
      {"above the limit flushes and writes directly", 10, File::QueueLimit + 1, 2, 0},
      {"above the limit into an empty queue writes directly", 0, File::QueueLimit + 1, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir / "q.bin";
    const Bytes first = Pattern(static_cast<std::size_t>(c.queued), 1);
    const Bytes second = Pattern(static_cast<std::size_t>(c.write), 2);
    {
      File f(path);
      f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, true);
      f.Write(first.data(), c.queued);
      ASSERT_EQ(f.QueuedBytes(), c.queued);
      FaultyCalls calls;
      {
        CallsGuard guard(calls);
        f.Write(second.data(), c.write);
      }
      EXPECT_EQ(calls.pwritevCalls, c.expectedPWriteV);
      EXPECT_EQ(f.QueuedBytes(), c.stillQueued);
      EXPECT_EQ(f.Position(), c.queued + c.write);
      EXPECT_EQ(f.Size(), c.queued + c.write - c.stillQueued) << "what reached the disk";
    }
    Bytes expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(ZantrelTest::ReadFile(path), expected);
  }
}

TEST(File, LaterOverlappingWritesWinAndReadsFollowTheFlushAtThePosition) {
  TempDir dir;
  const std::string path = dir / "o.bin";
  const Bytes original = Pattern(200, 9);
  ZantrelTest::WriteFile(path, original);
  const Bytes a = Pattern(100, 50), b = {0xB1, 0xB2, 0xB3, 0xB4}, c = {1, 2, 3, 4, 5, 6, 7, 8};
  Bytes expected = original;
  std::copy(a.begin(), a.end(), expected.begin());
  std::copy(b.begin(), b.end(), expected.begin() + 10);
  std::copy(c.begin(), c.end(), expected.begin() + 100);
  {
    File f(path);
    f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, false);
    f.Write(a.data(), 100);
    f.Seek(10, 0);
    f.Write(b.data(), 4);
    f.Seek(100, 0);
    f.Write(c.data(), 8);
    EXPECT_EQ(ZantrelTest::ReadFile(path), original) << "nothing written before a flush";

    unsigned char next[4];
    f.Read(next, 4);  // flushes, then reads where the last write ended
    EXPECT_EQ(Bytes(next, next + 4), Bytes(original.begin() + 108, original.begin() + 112));
    EXPECT_EQ(f.Position(), 112);
    EXPECT_EQ(ZantrelTest::ReadFile(path), expected);

    // Read-back of queued writes after a seek sees them.
    const Bytes d = {0xD0, 0xD1, 0xD2};
    f.Seek(2, 0);
    f.Write(d.data(), 3);
    std::copy(d.begin(), d.end(), expected.begin() + 2);
    f.Seek(4, 0);
    unsigned char got[8];
    f.Read(got, 8);
    EXPECT_EQ(Bytes(got, got + 8), Bytes(expected.begin() + 4, expected.begin() + 12));
  }
  EXPECT_EQ(ZantrelTest::ReadFile(path), expected);
}

TEST(File, ContiguousWritesGoDownInOneCallWithoutBreakingTheirOrder) {
  // A run gathered into one call must still let a later, overlapping write win.
  TempDir dir;
  const std::string path = dir / "g.bin";
  FaultyCalls calls;
  {
    File f(path);
    f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, true);
    const Bytes a(10, 'a'), b(10, 'b'), c(10, 'c');
    f.Write(a.data(), 10);
    f.Write(b.data(), 10);  // contiguous with a
    f.Seek(5, 0);
    f.Write(c.data(), 10);  // over the end of a and the start of b
    CallsGuard guard(calls);
    f.Flush();
  }
  EXPECT_EQ(calls.pwritevCalls, 2);
  const std::string expected = "aaaaaccccccccccbbbbb";
  EXPECT_EQ(ZantrelTest::ReadFile(path), Bytes(expected.begin(), expected.end()));
}

TEST(File, FlushOfAnEmptyQueueAndSeeksMakeNoSystemCall) {
  TempDir dir;
  const std::string path = dir / "e.bin";
  ZantrelTest::WriteFile(path, Pattern(64));
  File f(path);
  f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, false);
  const Bytes w(8, 1);
  f.Write(w.data(), 8);
  f.Flush();
  FaultyCalls calls;
  CallsGuard guard(calls);
  f.Flush();
  EXPECT_EQ(f.Seek(20, 0), 20);
  EXPECT_EQ(f.Seek(-5, 1), 15);
  f.Flush();
  EXPECT_EQ(calls.calls, 0);
}

TEST(File, SeekFailsOnlyBeforeTheStartOrOnAnUnknownOrigin) {
  TempDir dir;
  const std::string path = dir / "s.bin";
  ZantrelTest::WriteFile(path, Pattern(50));
  File f(path);
  f.Open(VEKFile::ModeRead | VEKFile::ShareDenyNone, false);
  f.Seek(10, 0);
  const struct {
    std::int64_t offset;
    int origin;
    std::int64_t expected;  // -1: fails
  } cases[] = {{0, 0, 0},   {1'000'000, 0, 1'000'000}, {-1, 0, -1}, {5, 1, 15}, {-11, 1, -1},
               {-10, 1, 0}, {0, 2, 50},               {-50, 2, 0}, {-51, 2, -1}, {7, 2, 57},
               {0, 3, -1},  {0, -1, -1},              {std::int64_t{5'000'000'000}, 0, 5'000'000'000}};
  for (const auto& c : cases) {
    SCOPED_TRACE("offset " + std::to_string(c.offset) + " origin " + std::to_string(c.origin));
    f.Seek(10, 0);
    if (c.expected >= 0) {
      EXPECT_EQ(f.Seek(c.offset, c.origin), c.expected);
      EXPECT_EQ(f.Position(), c.expected);
    } else {
      EXPECT_EQ(MessageOf([&] { f.Seek(c.offset, c.origin); }),
                "Seek error: Offset " + std::to_string(c.offset) + ", Origin " + std::to_string(c.origin));
      EXPECT_EQ(f.Position(), 10) << "a failed seek leaves the position";
    }
  }
  LanguageGuard french(VEK::French);
  EXPECT_EQ(MessageOf([&] { f.Seek(-3, 0); }),
            "Erreur de déplacement de pointeur de fichier: Offset -3, Origine 0");
}

TEST(File, OpenCreatesOnlyWhatIsMissingAndKeepsExistingContents) {
  TempDir dir;
  const std::string existing = dir / "existing.bin";
  ZantrelTest::WriteFile(existing, Pattern(33));
  {
    File f(existing);
    f.Open(VEKFile::ModeWrite | VEKFile::ShareDenyWrite, true);
  }
  EXPECT_EQ(ZantrelTest::ReadFile(existing), Pattern(33));

  const std::string missing = dir / "missing.bin";
  {
    File f(missing);
    f.Open(VEKFile::ModeWrite | VEKFile::ShareDenyWrite, true);
    EXPECT_EQ(f.Size(), 0);
  }
  ASSERT_TRUE(ZantrelTest::Exists(missing));
  EXPECT_TRUE(ZantrelTest::ReadFile(missing).empty());
}

TEST(File, OpenFailuresNameThePathInTheCurrentLanguage) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0700), 0);
#ifndef _WIN32
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
#endif
  const struct {
    std::string path;
    int mode;
    bool create;
    std::int8_t language;
    std::string expected;
  } cases[] = {
      {dir / "absent.avi", VEKFile::ModeRead | VEKFile::ShareExclusive, false, VEK::English,
       "Could not open file \"" + (dir / "absent.avi") + "\" (no such file or folder)."},
      {dir / "absent.avi", VEKFile::ModeRead | VEKFile::ShareExclusive, false, VEK::French,
       "Impossible d'ouvrir le fichier \"" + (dir / "absent.avi") + "\" (fichier ou dossier introuvable)."},
      {dir / "no such folder/out.avi", VEKFile::ModeWrite | VEKFile::ShareDenyWrite, true, VEK::English,
       "Could not create file \"" + (dir / "no such folder/out.avi") + "\" (no such file or folder)."},
      {dir / "no such folder/out.avi", VEKFile::ModeWrite | VEKFile::ShareDenyWrite, true, VEK::French,
       "Impossible de créer le fichier \"" + (dir / "no such folder/out.avi") + "\" (fichier ou dossier introuvable)."},
      // Not a regular file: neither a folder nor a pipe is opened (a pipe
      // would otherwise block the worker).
      {dir / "folder", VEKFile::ModeRead | VEKFile::ShareDenyNone, false, VEK::English,
       "Could not open file \"" + (dir / "folder") + "\" (a folder has that name)."},
      {dir / "folder", VEKFile::ModeWrite | VEKFile::ShareDenyWrite, true, VEK::English,
       "Could not create file \"" + (dir / "folder") + "\" (a folder has that name)."},
#ifndef _WIN32  // no FIFOs there
      {dir / "fifo", VEKFile::ModeRead | VEKFile::ShareDenyNone, false, VEK::English,
       "Could not open file \"" + (dir / "fifo") + "\" (not a regular file)."},
      {dir / "fifo", VEKFile::ModeRead | VEKFile::ShareDenyNone, false, VEK::French,
       "Impossible d'ouvrir le fichier \"" + (dir / "fifo") + "\" (pas un fichier ordinaire)."},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    LanguageGuard language(c.language);
    FaultyCalls calls;
    {
      File f(c.path);
      CallsGuard guard(calls);
      EXPECT_EQ(MessageOf([&] { f.Open(c.mode, c.create); }), c.expected);
    }
    EXPECT_FALSE(ZantrelTest::Exists(dir / "no such folder"));
  }
}

TEST(File, ASecondWriterOfAFileOpenForWritingIsRefusedButReadersAreNot) {
  TempDir dir;
  const std::string path = dir / "locked.avi";
  ZantrelTest::WriteFile(path, Pattern(16));
  File writer(path);
  writer.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, false);
  File second(path);
  EXPECT_EQ(MessageOf([&] { second.Open(VEKFile::ModeWrite | VEKFile::ShareDenyWrite, true); }),
            "Could not open file \"" + path + "\" (the file is in use by another program).");
  File reader(path);
  EXPECT_EQ(MessageOf([&] { reader.Open(VEKFile::ModeRead | VEKFile::ShareDenyNone, false); }), "(no exception)");
}

#ifndef _WIN32
// Real leases from the kernel (ext4 and tmpfs grant them; so does any local
// file system the tests run on): refused while another descriptor has the
// file open, broken by another open, which waits for it (O_NONBLOCK makes it
// fail instead). The break's signal must not end this process.
TEST(File, AWriteLeaseIsRefusedWhileTheFileIsOpenElsewhereAndBrokenByAnotherOpen) {
  TempDir dir;
  const std::string path = dir / "leased.avi";
  ZantrelTest::WriteFile(path, Pattern(64));
  File f(path);
  f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, false);
  for (int flags : {O_RDONLY, O_WRONLY}) {
    const int other = ::open(path.c_str(), flags | O_CLOEXEC);
    ASSERT_GE(other, 0);
    EXPECT_EQ(f.TakeLease(), EAGAIN) << "open elsewhere with flags " << flags;
    EXPECT_FALSE(f.LeaseHeld());
    ::close(other);
  }
  ASSERT_EQ(f.TakeLease(), 0) << "the file is open nowhere else";
  EXPECT_TRUE(f.LeaseHeld());
  // The holder's own writes, flushes and truncation leave the lease whole.
  f.Write("abcd", 4);
  f.Sync();
  f.Truncate();
  EXPECT_TRUE(f.LeaseHeld());
  errno = 0;
  const int opener = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  EXPECT_EQ(opener, -1) << "another program got in while the lease was held";
  EXPECT_EQ(errno, EWOULDBLOCK);
  EXPECT_FALSE(f.LeaseHeld()) << "the open did not break the lease";
  f.ReleaseLease();
  const int after = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  EXPECT_GE(after, 0) << "the lease was not let go";
  if (after >= 0) ::close(after);
}
#endif

TEST(File, ShortReadsThrowFromReadAndAreCountedByReadSome) {
  TempDir dir;
  const std::string path = dir / "r.bin";
  const Bytes content = Pattern(20);
  ZantrelTest::WriteFile(path, content);
  File f(path);
  f.Open(VEKFile::ModeRead | VEKFile::ShareExclusive, false);
  unsigned char buffer[8] = {};

  f.Seek(16, 0);
  EXPECT_EQ(MessageOf([&] { f.Read(buffer, 8); }), "Unexpected end of file.");
  {
    LanguageGuard french(VEK::French);
    f.Seek(16, 0);
    EXPECT_EQ(MessageOf([&] { f.Read(buffer, 8); }), "Fin de fichier inatendu.");
  }

  f.Seek(16, 0);
  EXPECT_EQ(f.ReadSome(buffer, 8), 4);
  EXPECT_EQ(Bytes(buffer, buffer + 4), Bytes(content.begin() + 16, content.end()));
  EXPECT_EQ(f.Position(), 20);
  EXPECT_EQ(f.ReadSome(buffer, 8), 0) << "at the end";
  f.Seek(100, 0);
  EXPECT_EQ(f.ReadSome(buffer, 8), 0) << "past the end";
  EXPECT_EQ(f.Position(), 100);

  FaultyCalls calls;
  calls.failPRead = true;
  CallsGuard guard(calls);
  f.Seek(2, 0);
  EXPECT_EQ(f.ReadSome(buffer, 8), -1);
  EXPECT_EQ(f.Position(), 2) << "a failed read does not move";
  EXPECT_EQ(MessageOf([&] { f.Read(buffer, 8); }), "Could not read file \"" + path + "\" (input/output error).")
      << "a failed read is no end of the file";
}

TEST(File, SizeComesFromThePathAndLeavesQueuedWritesOut) {
  TempDir dir;
  const std::string path = dir / "z.bin";
  ZantrelTest::WriteFile(path, Pattern(30));
  File f(path);
  f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, false);
  f.Seek(30, 0);
  const Bytes more(10, 3);
  f.Write(more.data(), 10);
  EXPECT_EQ(f.Size(), 30);
  f.Flush();
  EXPECT_EQ(f.Size(), 40);

  File absent(dir / "absent.bin");
  EXPECT_EQ(MessageOf([&] { absent.Size(); }), "Could not open file \"" + (dir / "absent.bin") + "\" (no such file or folder).");
  LanguageGuard french(VEK::French);
  EXPECT_EQ(MessageOf([&] { absent.Size(); }),
            "Impossible d'ouvrir le fichier \"" + (dir / "absent.bin") + "\" (fichier ou dossier introuvable).");
#ifndef _WIN32
  ASSERT_EQ(::symlink((dir / "absent.bin").c_str(), (dir / "dangling.bin").c_str()), 0);
  File dangling(dir / "dangling.bin");
  EXPECT_EQ(MessageOf([&] { dangling.Size(); }), "Impossible d'ouvrir le fichier \"" + (dir / "dangling.bin") +
                                                     "\" (un lien vers un fichier qui n'existe pas).");
#endif
}

TEST(File, TruncateAppliesTheQueueThenEndsTheFileAtThePosition) {
  TempDir dir;
  const std::string path = dir / "t.bin";
  ZantrelTest::WriteFile(path, Pattern(100));
  Bytes expected = Pattern(100);
  {
    File f(path);
    f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, false);
    const Bytes patch = {9, 9, 9};
    f.Seek(50, 0);
    f.Write(patch.data(), 3);  // ends inside what is kept
    f.Seek(90, 0);
    f.Write(patch.data(), 3);  // lies past the new end
    f.Seek(60, 0);
    f.Truncate();
    EXPECT_EQ(f.Size(), 60);
    EXPECT_EQ(f.Position(), 60);
  }
  std::fill(expected.begin() + 50, expected.begin() + 53, 9);
  expected.resize(60);
  EXPECT_EQ(ZantrelTest::ReadFile(path), expected);
}

TEST(File, AFailedFlushKeepsTheQueueForTheNextFlush) {
  const struct {
    const char* name;
    int failures;
    int zeroWrites;
  } cases[] = {{"pwritev fails", 1, 0}, {"pwritev writes nothing", 0, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir / "w.bin";
    const Bytes a = Pattern(40, 1), b = Pattern(40, 2);
    {
      File f(path);
      f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, true);
      f.Write(a.data(), 40);
      f.Seek(100, 0);
      f.Write(b.data(), 40);
      FaultyCalls calls;
      calls.failPWriteV = c.failures;
      calls.zeroPWriteV = c.zeroWrites;
      CallsGuard guard(calls);
      EXPECT_EQ(MessageOf([&] { f.Flush(); }), "File write error.");
      EXPECT_EQ(f.Position(), 140);
      EXPECT_EQ(MessageOf([&] { f.Flush(); }), "(no exception)");
      EXPECT_EQ(f.Size(), 140);
      const int callsAfterRetry = calls.pwritevCalls;
      f.Flush();
      EXPECT_EQ(calls.pwritevCalls, callsAfterRetry) << "the retry emptied the queue";
    }
    Bytes expected(140, 0);
    std::copy(a.begin(), a.end(), expected.begin());
    std::copy(b.begin(), b.end(), expected.begin() + 100);
    EXPECT_EQ(ZantrelTest::ReadFile(path), expected);
  }
}

TEST(File, ShortAndInterruptedWritesAreContinued) {
  const struct {
    const char* name;
    std::size_t shortWrites;
    int interruptions;
  } cases[] = {{"short writes", 7, 0}, {"interrupted writes", 0, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir / "p.bin";
    const Bytes a = Pattern(30, 4), b = Pattern(25, 5);
    {
      File f(path);
      f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, true);
      f.Write(a.data(), 30);
      f.Write(b.data(), 25);
      FaultyCalls calls;
      calls.shortPWriteV = c.shortWrites;
      calls.interruptPWriteV = c.interruptions;
      CallsGuard guard(calls);
      f.Flush();
    }
    Bytes expected = a;
    expected.insert(expected.end(), b.begin(), b.end());
    EXPECT_EQ(ZantrelTest::ReadFile(path), expected);
  }
}

TEST(File, ADirectWriteAboveTheLimitThatFailsIsAWriteError) {
  TempDir dir;
  File f(dir / "d.bin");
  f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, true);
  const Bytes big(static_cast<std::size_t>(File::QueueLimit + 1), 0x11);
  FaultyCalls calls;
  calls.failPWriteV = 1;
  CallsGuard guard(calls);
  LanguageGuard french(VEK::French);
  EXPECT_EQ(MessageOf([&] { f.Write(big.data(), File::QueueLimit + 1); }), "Erreur d'écriture de fichier.");
}

TEST(File, AFailingFinalFlushDoesNotEndTheProgramAndStillCloses) {
  TempDir dir;
  FaultyCalls calls;
  calls.failPWriteV = 1000;
  {
    CallsGuard guard(calls);  // outlives the file, so its destructor meets the failing calls
    File f(dir / "f.bin");
    f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, true);
    const Bytes w(16, 7);
    f.Write(w.data(), 16);
    // Destroyed while the failure of its own write is being handled, as the
    // engine does on a full disk.
    try {
      f.Flush();
      ADD_FAILURE() << "the flush should fail";
    } catch (const File::Exception&) {
    }
    calls.closeCalls = 0;
    calls.pwritevCalls = 0;
  }
  EXPECT_EQ(calls.pwritevCalls, 1) << "the destructor tried the queue again";
  EXPECT_EQ(calls.closeCalls, 1) << "and closed the file after its failure";
  EXPECT_EQ(ZantrelTest::ReadFile(dir / "f.bin").size(), 0u);
}

TEST(File, TruncateFailureIsReportedInTheCurrentLanguage) {
  TempDir dir;
  File f(dir / "tf.bin");
  f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, true);
  FaultyCalls calls;
  calls.failFTruncate = true;
  CallsGuard guard(calls);
  EXPECT_EQ(MessageOf([&] { f.Truncate(); }), "Could not truncate file.");
  LanguageGuard french(VEK::French);
  EXPECT_EQ(MessageOf([&] { f.Truncate(); }), "Impossible de tronquer le fichier.");
}

TEST(File, TruncateOfAFileNeverOpenedFailsInsteadOfSpinning) {
  // errno is whatever the last failed call left; an interrupted call before
  // must not make the truncation of a file without a handle retry forever.
  File never("/nonexistent/never-opened.bin");
  errno = EINTR;
  EXPECT_EQ(MessageOf([&] { never.Truncate(); }), "Could not truncate file.");
}

}  // namespace
