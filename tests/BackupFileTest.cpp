// The source/destination pair: which mode a pair of paths selects, what a
// mirror holds after reads, seeks and writes, the gap copy and its failure
// past the end of the source, and in-place modification.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "file/BackupFile.h"
#include "file/SystemCalls.h"
#include "lang/Language.h"
#include "support/TempDir.h"

namespace {

using ZantrelTest::Bytes;
using ZantrelTest::ReadFile;
using ZantrelTest::TempDir;

// Sums the bytes that reach one file (by path) by any road, and can make
// ftruncate fail.
class WatchingCalls : public VEKFile::SystemCalls {
 public:
  explicit WatchingCalls(std::string watched) : watched_(std::move(watched)) {}
  std::int64_t bytesIntoWatched = 0;
  bool failFTruncate = false;
  int kernelCopiesAllowed = -1;  // -1: all; then the kernel copy is refused (another file system)
  std::size_t kernelCopyLimit = 0;  // when set, each kernel copy moves at most this many bytes
  bool failWatchedWrites = false;

  int Open(const char* path, int flags, mode_t mode) override {
    const int fd = SystemCalls::Open(path, flags, mode);
    if (fd >= 0 && watched_ == path) watchedFd_ = fd;
    return fd;
  }
  ssize_t PWriteV(int fd, const struct iovec* iov, int iovcnt, off_t offset) override {
    if (fd == watchedFd_ && failWatchedWrites) {
      errno = ENOSPC;
      return -1;
    }
    const ssize_t n = SystemCalls::PWriteV(fd, iov, iovcnt, offset);
    if (fd == watchedFd_ && n > 0) bytesIntoWatched += n;
    return n;
  }
  ssize_t CopyFileRange(int fdIn, off_t* offIn, int fdOut, off_t* offOut, size_t count) override {
    if (kernelCopiesAllowed == 0) {
      errno = EXDEV;
      return -1;
    }
    if (kernelCopiesAllowed > 0) --kernelCopiesAllowed;
    if (kernelCopyLimit > 0) count = std::min(count, kernelCopyLimit);
    const ssize_t n = SystemCalls::CopyFileRange(fdIn, offIn, fdOut, offOut, count);
    if (fdOut == watchedFd_ && n > 0) bytesIntoWatched += n;
    return n;
  }
  int FTruncate(int fd, off_t length) override {
    if (failFTruncate) {
      errno = EIO;
      return -1;
    }
    return SystemCalls::FTruncate(fd, length);
  }

 private:
  std::string watched_;
  int watchedFd_ = -1;
};

class CallsGuard {
 public:
  explicit CallsGuard(VEKFile::SystemCalls& calls) { VEKFile::SetSystemCalls(&calls); }
  ~CallsGuard() { VEKFile::SetSystemCalls(nullptr); }
  CallsGuard(const CallsGuard&) = delete;
  CallsGuard& operator=(const CallsGuard&) = delete;
};

struct LanguageGuard {
  explicit LanguageGuard(std::int8_t language) { VEK::SetLanguage(language); }
  ~LanguageGuard() { VEK::SetLanguage(VEK::English); }
};

Bytes Pattern(std::size_t n, unsigned char seed = 0) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<unsigned char>(seed + i * 13 + i / 253);
  return b;
}

Bytes Slice(const Bytes& b, std::size_t from, std::size_t to) { return Bytes(b.begin() + from, b.begin() + to); }

// The message of a failure, with the kind of exception it came as.
std::string FailureOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const VEKFile::File::Exception& e) {
    return "file: " + e.Message();
  } catch (const VEK::Exception& e) {
    return "plain: " + e.Message();
  }
  return "(no exception)";
}

struct Fixture {
  TempDir dir;
  std::string source = dir / "movie.avi";
  std::string destination = dir / "Zantrel.movie.avi";
  Bytes content;
  explicit Fixture(std::size_t size) : content(Pattern(size, 3)) { ZantrelTest::WriteFile(source, content); }
};

// The mode is the caller's; a copy whose destination is its own source, by
// whatever name, is refused before a byte is written, and letter case alone
// never makes two names one file on Linux; on Windows, whose names are
// compared without regard to case, it does.
TEST(BackupFile, ACopyOntoItsOwnSourceIsRefusedAndCaseAloneNeverMakesOneFile) {
  const struct {
    const char* name;
    BackupFile::Mode mode;
    std::function<std::string(const Fixture&)> destination;
    bool expectRefused;
    bool expectDestinationCreated;
  } cases[] = {
      {"check only", BackupFile::Mode::Check, [](const Fixture& f) { return f.destination; }, false, false},
      {"in place", BackupFile::Mode::InPlace, [](const Fixture& f) { return f.source; }, false, false},
      {"another name", BackupFile::Mode::Copy, [](const Fixture& f) { return f.destination; }, false, true},
      {"the same text", BackupFile::Mode::Copy, [](const Fixture& f) { return f.source; }, true, false},
      {"another spelling", BackupFile::Mode::Copy, [](const Fixture& f) { return f.dir.Path() + "/./movie.avi"; },
       true, false},
      {"a hard link", BackupFile::Mode::Copy,
       [](const Fixture& f) {
         const std::string link = f.dir / "link.avi";
         EXPECT_EQ(::link(f.source.c_str(), link.c_str()), 0);
         return link;
       },
       true, false},
#ifndef _WIN32
// The Windows tests run under Wine, which makes no symbolic links.
      {"a symbolic link", BackupFile::Mode::Copy,
       [](const Fixture& f) {
         const std::string link = f.dir / "symlink.avi";
         EXPECT_EQ(::symlink(f.source.c_str(), link.c_str()), 0);
         return link;
       },
       true, false},
#endif
#ifdef _WIN32
      // Names there are compared without regard to letter case: one file.
      {"letter case only", BackupFile::Mode::Copy, [](const Fixture& f) { return f.dir / "MOVIE.AVI"; }, true, false},
#else
      {"letter case only", BackupFile::Mode::Copy, [](const Fixture& f) { return f.dir / "MOVIE.AVI"; }, false, true},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f(64);
    const std::string destination = c.destination(f);
    const bool existedBefore = ZantrelTest::Exists(destination);
    const bool writes = c.mode != BackupFile::Mode::Check;
    if (c.expectRefused) {
      EXPECT_EQ(FailureOf([&] { BackupFile file(c.mode, f.source, destination); }),
                "file: Could not create file \"" + destination + "\" (File exists).");
    } else {
      BackupFile file(c.mode, f.source, destination);
      EXPECT_EQ(file.InPlace(), c.mode == BackupFile::Mode::InPlace);
      EXPECT_EQ(file.SourceSize(), 64);
      unsigned char b[16];
      file.Read(b, 16);
      EXPECT_EQ(Bytes(b, b + 16), Slice(f.content, 0, 16));
      if (writes) {
        const Bytes mark = {0xEE};
        file.Seek(0, 0);
        file.Write(mark.data(), 1);
        file.Seek(64, 0);
        file.Truncate();
      }
    }
    EXPECT_EQ(ZantrelTest::Exists(destination) && !existedBefore, c.expectDestinationCreated);
    Bytes marked = f.content;
    marked[0] = 0xEE;
    const bool inPlace = c.mode == BackupFile::Mode::InPlace;
    EXPECT_EQ(ReadFile(f.source), inPlace ? marked : f.content) << "the source changes only in place";
    if (c.expectDestinationCreated) {
      EXPECT_EQ(ReadFile(destination), marked);
    }
  }
}

TEST(BackupFile, CheckOnlyReadsAndSeeksLeaveNoSecondFileAndNoChange) {
  Fixture f(200'000);
  {
    BackupFile file(BackupFile::Mode::Check, f.source, f.destination);
    EXPECT_FALSE(file.CopyMode());
    unsigned char b[12];
    file.Read(b, 12);
    EXPECT_EQ(file.Seek(150'000, 0), 150'000);
    EXPECT_EQ(file.ReadSome(b, 12), 12);
    EXPECT_EQ(Bytes(b, b + 12), Slice(f.content, 150'000, 150'012));
    EXPECT_EQ(file.Seek(-100, 1), 149'912);
    EXPECT_EQ(file.Position(), 149'912);
    EXPECT_EQ(file.Seek(300'000, 0), 300'000) << "no gap to copy when nothing is written";
    EXPECT_EQ(file.ReadSome(b, 12), 0);
  }
  EXPECT_FALSE(ZantrelTest::Exists(f.destination));
  EXPECT_EQ(ReadFile(f.source), f.content);
}

TEST(BackupFile, MirrorHoldsEverythingReadOrSkippedAtTheSameOffsets) {
  Fixture f(2000);
  {
    BackupFile file(BackupFile::Mode::Copy, f.source, f.destination);
    unsigned char b[12];
    file.Read(b, 12);
    EXPECT_EQ(file.HighWater(), 12);
    EXPECT_EQ(file.Seek(1000, 0), 1000);
    EXPECT_EQ(file.HighWater(), 1000);
    EXPECT_EQ(file.Position(), 1000);
    file.Read(b, 12);
    EXPECT_EQ(Bytes(b, b + 12), Slice(f.content, 1000, 1012)) << "the next read starts at the seek target";
    EXPECT_EQ(file.HighWater(), 1012);
    file.Truncate();
  }
  EXPECT_EQ(ReadFile(f.destination), Slice(f.content, 0, 1012));
  EXPECT_EQ(ReadFile(f.source), f.content);
}

TEST(BackupFile, MirrorPatchBelowTheHighWaterMarkIsKeptAndNothingIsCopiedTwice) {
  Fixture f(2000);
  WatchingCalls calls(f.destination);
  CallsGuard guard(calls);
  {
    BackupFile file(BackupFile::Mode::Copy, f.source, f.destination);
    unsigned char b[12];
    file.Read(b, 12);
    file.Seek(1000, 0);
    EXPECT_EQ(file.Seek(4, 0), 4);
    file.Read(b, 4);
    EXPECT_EQ(Bytes(b, b + 4), Slice(f.content, 4, 8)) << "reads come from the source";
    EXPECT_EQ(file.Seek(-4, 1), 4);
    const Bytes patch = {0xA0, 0xA1, 0xA2, 0xA3};
    file.Write(patch.data(), 4);
    EXPECT_EQ(file.Position(), 4) << "a write moves only the destination";
    EXPECT_EQ(file.Seek(1000, 0), 1000);
    EXPECT_EQ(file.HighWater(), 1000);
    file.Truncate();
  }
  Bytes expected = Slice(f.content, 0, 1000);
  expected[4] = 0xA0, expected[5] = 0xA1, expected[6] = 0xA2, expected[7] = 0xA3;
  EXPECT_EQ(ReadFile(f.destination), expected);
  EXPECT_EQ(ReadFile(f.source), f.content);
  EXPECT_EQ(calls.bytesIntoWatched, 1000 + 4) << "the 1,000 mirrored bytes and the patch, each once";
}

TEST(BackupFile, MirrorWritesLandAfterTheMirroredBytesAndWinOverThem) {
  // The engine's last steps: read the list header back, patch it, append an
  // index after the data and cut the destination there.
  Fixture f(300);
  {
    BackupFile file(BackupFile::Mode::Copy, f.source, f.destination);
    unsigned char b[100];
    file.Read(b, 100);
    file.Seek(250, 0);
    file.Seek(10, 0);
    file.Read(b, 8);
    file.Seek(10, 0);
    const Bytes header = {'L', 'I', 'S', 'T', 1, 2, 3, 4};
    file.Write(header.data(), 8);
    file.Seek(250, 0);
    const Bytes index(40, 0x77);
    file.Write(index.data(), 40);
    EXPECT_EQ(file.HighWater(), 290);
    file.Truncate();
  }
  Bytes expected = Slice(f.content, 0, 250);
  std::copy_n(Bytes{'L', 'I', 'S', 'T', 1, 2, 3, 4}.begin(), 8, expected.begin() + 10);
  expected.insert(expected.end(), 40, 0x77);
  EXPECT_EQ(ReadFile(f.destination), expected);
}

TEST(BackupFile, MirrorCopiesLongGapsWhole) {
  Fixture f(200'000);
  {
    BackupFile file(BackupFile::Mode::Copy, f.source, f.destination);
    unsigned char b[12];
    file.Read(b, 12);
    EXPECT_EQ(file.Seek(150'012, 0), 150'012);  // 65,536 + 65,536 + 18,928 beyond the mark
    EXPECT_EQ(file.HighWater(), 150'012);
    file.Truncate();
  }
  EXPECT_EQ(ReadFile(f.destination), Slice(f.content, 0, 150'012));
}

TEST(BackupFile, MirrorCopyIsTheSameWhenTheKernelCopyIsRefusedOrPartial) {
  const struct {
    const char* name;
    int kernelCopiesAllowed;
    std::size_t kernelCopyLimit;
  } cases[] = {
      {"refused from the start", 0, 0},
      {"partial, then refused", 3, 10'000},
      {"in small pieces", -1, 50'000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f(1'500'000);  // more than one block of the copy through memory
    WatchingCalls calls(f.destination);
    calls.kernelCopiesAllowed = c.kernelCopiesAllowed;
    calls.kernelCopyLimit = c.kernelCopyLimit;
    CallsGuard guard(calls);
    {
      BackupFile file(BackupFile::Mode::Copy, f.source, f.destination);
      unsigned char b[8];
      file.Read(b, 8);
      file.Seek(1'400'000, 0);
      const Bytes tail(33, 0x42);
      file.Write(tail.data(), 33);
      file.Truncate();
    }
    Bytes expected = Slice(f.content, 0, 1'400'000);
    expected.insert(expected.end(), 33, 0x42);
    EXPECT_EQ(ReadFile(f.destination), expected);
    EXPECT_EQ(calls.bytesIntoWatched, 1'400'000 + 33);
  }
}

TEST(BackupFile, MirrorCopyThatCannotBeWrittenIsAWriteError) {
  Fixture f(1000);
  WatchingCalls calls(f.destination);
  calls.kernelCopiesAllowed = 0;
  calls.failWatchedWrites = true;
  CallsGuard guard(calls);
  BackupFile file(BackupFile::Mode::Copy, f.source, f.destination);
  file.Seek(500, 0);
  EXPECT_EQ(FailureOf([&] { file.Truncate(); }), "file: File write error.");
}

TEST(BackupFile, MirrorSeekBeyondTheSourceFailsAndKeepsTheWholeBlocksBeforeIt) {
  const struct {
    const char* name;
    std::size_t sourceSize;
    std::int64_t readFirst;
    std::int64_t target;
    std::int64_t kept;  // destination size afterwards
  } cases[] = {
      {"two whole blocks, then a short one", 150'000, 12, 200'000, 12 + 2 * 65'536},
      {"the end of the source on a block boundary", 2 * 65'536, 0, 2 * 65'536 + 1, 2 * 65'536},
      {"a short gap past the end", 100, 10, 200, 10},
      {"one byte past the end", 100, 100, 101, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f(c.sourceSize);
    {
      BackupFile file(BackupFile::Mode::Copy, f.source, f.destination);
      Bytes b(static_cast<std::size_t>(c.readFirst) + 1);
      file.Read(b.data(), c.readFirst);
      // A file-layer failure, told in the current language.
      LanguageGuard french(VEK::French);
      EXPECT_EQ(FailureOf([&] { file.Seek(c.target, 0); }),
                "file: Impossible de lire le fichier \"" + f.source + "\" (il est plus court qu'à son ouverture).");
    }
    EXPECT_EQ(ReadFile(f.destination), Slice(f.content, 0, static_cast<std::size_t>(c.kept)));
    EXPECT_EQ(ReadFile(f.source), f.content);
  }
}

TEST(BackupFile, PadByteRaisesTheHighWaterMarkSoASeekToTheNewEndCopiesNothing) {
  // A source of odd length: the pad byte lies beyond its end, so copying
  // over it from the source would fail.
  Fixture f(101);
  {
    BackupFile file(BackupFile::Mode::Copy, f.source, f.destination);
    unsigned char b[101];
    file.Read(b, 101);
    file.WriteByte(0);
    EXPECT_EQ(file.HighWater(), 102);
    EXPECT_EQ(FailureOf([&] { EXPECT_EQ(file.Seek(102, 0), 102); }), "(no exception)");
    file.Truncate();
  }
  Bytes expected = f.content;
  expected.push_back(0);
  EXPECT_EQ(ReadFile(f.destination), expected);
}

TEST(BackupFile, ReadsPastTheEndFailOrCountInEveryMode) {
  for (const bool inPlace : {false, true}) {
    for (const bool copyMode : {false, true}) {
      if (inPlace && !copyMode) continue;
      SCOPED_TRACE(std::string(inPlace ? "in place" : copyMode ? "mirror" : "check only"));
      Fixture f(20);
      BackupFile file(inPlace    ? BackupFile::Mode::InPlace
                      : copyMode ? BackupFile::Mode::Copy
                                 : BackupFile::Mode::Check,
                      f.source, f.destination);
      unsigned char b[8];
      file.Seek(16, 0);
      EXPECT_EQ(FailureOf([&] { file.Read(b, 8); }), "file: Unexpected end of file.");
      {
        LanguageGuard french(VEK::French);
        file.Seek(16, 0);
        EXPECT_EQ(FailureOf([&] { file.Read(b, 8); }), "file: Fin de fichier inatendu.");
      }
      // The failed reads moved past the four bytes they did get, in every
      // mode alike, and the position reported is the one the next read uses.
      EXPECT_EQ(file.Position(), 20);
      EXPECT_EQ(file.Seek(0, 1), 20);
      file.Seek(16, 0);
      EXPECT_EQ(file.ReadSome(b, 8), 4);
      EXPECT_EQ(Bytes(b, b + 4), Slice(f.content, 16, 20));
      EXPECT_EQ(file.Position(), 20);
      EXPECT_EQ(file.ReadSome(b, 8), 0);
      EXPECT_EQ(file.Position(), 20);
      if (copyMode && !inPlace) {
        file.Truncate();
        EXPECT_EQ(ReadFile(f.destination), f.content) << "what the short reads got is mirrored";
      }
    }
  }
}

TEST(BackupFile, InPlaceSeekBackWriteSeekForwardAndTruncateModifyTheFileItself) {
  Fixture f(500);
  {
    BackupFile file(BackupFile::Mode::InPlace, f.source);
    ASSERT_TRUE(file.InPlace());
    unsigned char b[8];
    file.Seek(400, 0);
    file.Read(b, 8);
    EXPECT_EQ(file.Seek(-400, 1), 8);
    const Bytes patch = {1, 2, 3, 4};
    file.Write(patch.data(), 4);
    EXPECT_EQ(file.Position(), 12) << "in place the write moves the one position";
    file.Seek(8, 0);
    file.Read(b, 4);
    EXPECT_EQ(Bytes(b, b + 4), patch) << "reads see the queued write";
    EXPECT_EQ(file.Seek(300, 0), 300);
    file.WriteByte(0x55);
    file.Truncate();
    EXPECT_EQ(file.Position(), 301);
  }
  Bytes expected = Slice(f.content, 0, 301);
  std::copy_n(Bytes{1, 2, 3, 4}.begin(), 4, expected.begin() + 8);
  expected[300] = 0x55;
  EXPECT_EQ(ReadFile(f.source), expected);
  EXPECT_FALSE(ZantrelTest::Exists(f.destination));
}

TEST(BackupFile, AnExistingLongerDestinationEndsWhereTheTruncationLeavesIt) {
  Fixture f(100);
  ZantrelTest::WriteFile(f.destination, Bytes(5000, 0xCC));
  {
    BackupFile file(BackupFile::Mode::Copy, f.source, f.destination);
    unsigned char b[100];
    file.Read(b, 100);
    file.Truncate();
  }
  EXPECT_EQ(ReadFile(f.destination), f.content);
}

TEST(BackupFile, ConstructionFailuresComeBeforeAnyFileIsWritten) {
  const struct {
    const char* name;
    bool sourceExists;
    bool copyMode;
    std::function<std::string(const Fixture&)> destination;
    std::int8_t language;
    std::function<std::string(const Fixture&, const std::string&)> expected;
  } cases[] = {
      {"missing source, check only", false, false, [](const Fixture& f) { return f.destination; }, VEK::English,
       [](const Fixture& f, const std::string&) {
         return "file: Could not open file \"" + f.source + "\" (no such file or folder).";
       }},
      {"missing source, mirror", false, true, [](const Fixture& f) { return f.destination; }, VEK::French,
       [](const Fixture& f, const std::string&) {
         return "file: Impossible d'ouvrir le fichier \"" + f.source + "\" (fichier ou dossier introuvable).";
       }},
      {"missing source, in place", false, true, [](const Fixture& f) { return f.source; }, VEK::English,
       [](const Fixture& f, const std::string&) {
         return "file: Could not open file \"" + f.source + "\" (no such file or folder).";
       }},
      {"destination folder missing", true, true, [](const Fixture& f) { return f.dir / "gone/out.avi"; },
       VEK::English,
       [](const Fixture&, const std::string& d) {
         return "file: Could not create file \"" + d + "\" (no such file or folder).";
       }},
      {"source is a folder", true, true, [](const Fixture& f) { return f.destination; }, VEK::French,
       [](const Fixture& f, const std::string&) {
         return "file: Impossible d'ouvrir le fichier \"" + f.dir.Path() + "\" (un dossier porte ce nom).";
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f(10);
    if (!c.sourceExists) ::unlink(f.source.c_str());
    const std::string source = std::string(c.name) == "source is a folder" ? f.dir.Path() : f.source;
    const std::string destination = c.destination(f);
    LanguageGuard language(c.language);
    const BackupFile::Mode mode = !c.copyMode                ? BackupFile::Mode::Check
                                  : destination == f.source ? BackupFile::Mode::InPlace
                                                            : BackupFile::Mode::Copy;
    EXPECT_EQ(FailureOf([&] { BackupFile file(mode, source, destination); }), c.expected(f, destination));
    EXPECT_FALSE(ZantrelTest::Exists(f.destination)) << "no destination left behind";
  }
}

TEST(BackupFile, TruncationFailureIsReported) {
  Fixture f(10);
  WatchingCalls calls(f.destination);
  calls.failFTruncate = true;
  CallsGuard guard(calls);
  BackupFile file(BackupFile::Mode::Copy, f.source, f.destination);
  unsigned char b[10];
  file.Read(b, 10);
  EXPECT_EQ(FailureOf([&] { file.Truncate(); }), "file: Could not truncate file.");
}

// Past a few MiB the mirrored bytes are copied on another thread while the
// walk goes on; what lands must be what a single copy would have written,
// the engine's own writes included, and a source cut short still fails.
TEST(BackupFile, LargeMirrorsCopiedBesideTheWalkLandByteForByte) {
  TempDir dir;
  const std::int64_t size = 3 * BackupFile::BackgroundBatch + 12345;
  Bytes source(static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<unsigned char>((i * 2654435761u) >> 13);
  ZantrelTest::WriteFile(dir / "s.avi", source);
  {
    BackupFile file(BackupFile::Mode::Copy, dir / "s.avi", dir / "d.avi");
    unsigned char header[8];
    // Walk as the engine does: small reads and forward seeks to the end.
    for (std::int64_t pos = 0; pos + 8 <= size; pos += 4096 + 8) {
      file.Seek(pos, 0);
      file.Read(header, sizeof header);
    }
    file.Seek(100, 0);
    file.Write("PATCHED!", 8);
    file.Seek(size - 5, 0);
    file.Truncate();
  }
  Bytes expected(source.begin(), source.end() - 5);
  std::memcpy(&expected[100], "PATCHED!", 8);
  EXPECT_TRUE(ReadFile(dir / "d.avi") == expected);

  // The source loses its second half after the walk saw it: the copy fails.
  BackupFile file(BackupFile::Mode::Copy, dir / "s.avi", dir / "e.avi");
  file.Seek(size - 8, 0);
  ASSERT_EQ(::truncate((dir / "s.avi").c_str(), size / 2), 0);
  try {
    file.Seek(0, 0);
    file.Write("x", 1);
    ADD_FAILURE() << "the missing bytes went unnoticed";
  } catch (const VEK::Exception& e) {
    EXPECT_EQ(std::string(e.what()),
              "Could not read file \"" + (dir / "s.avi") + "\" (it is shorter than when it was opened).");
  }
}

}  // namespace
