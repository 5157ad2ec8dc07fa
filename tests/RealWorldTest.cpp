// The conditions users' files come in: read-only files and folders, files
// that vanish before their turn, names with spaces, quotes and accents, long
// paths, a name at the file system's limit, the same file twice, and a copy's
// name already taken by a folder.
//
// Permissions: the superuser is not stopped by permission bits, and CI runs
// as root. The tests set real permission bits either way; when running as
// root, a system-call layer refuses what the kernel would refuse an ordinary
// owner of those bits (and only that), so the same outcomes are checked.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "engine/ExistingOutput.h"
#include "engine/IndexRebuilder.h"
#include "file/SystemCalls.h"
#include "support/AviBuilder.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"
#include "util/Paths.h"

namespace {

using namespace ZantrelTest;
using VEKRiff::RebuildEvent;

// Owner permission checks as the kernel makes them for anyone but root.
class OwnerPermissions : public VEKFile::SystemCalls {
 public:
  int Open(const char* path, int flags, mode_t mode) override {
    if (::geteuid() == 0) {
      struct stat st;
      if (::stat(path, &st) == 0) {
        const int access = flags & O_ACCMODE;
        if ((access != O_WRONLY && !(st.st_mode & S_IRUSR)) || (access != O_RDONLY && !(st.st_mode & S_IWUSR)))
          return Refuse();
      } else if ((flags & O_CREAT) && !Writable(VEK::ExtractFileDir(path))) {
        return Refuse();
      }
    }
    return SystemCalls::Open(path, flags, mode);
  }
  int Unlink(const char* path) override {
    if (::geteuid() == 0 && !Writable(VEK::ExtractFileDir(path))) return Refuse();
    return SystemCalls::Unlink(path);
  }

 private:
  static int Refuse() {
    errno = EACCES;
    return -1;
  }
  static bool Writable(const std::string& folder) {
    struct stat st;
    return ::stat(folder.empty() ? "." : folder.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) && (st.st_mode & S_IXUSR);
  }
};

Bytes Film() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 40).Chunk("01wb", 17).Chunk("00dc", 8);
  return b.EndMovi().Idx1().Build();
}

Bytes Rebuilt() {
  TempDir dir;
  WriteFile(dir / "f.avi", Film());
  WorkerRunOptions o;
  o.CheckOnly = false;
  o.KeepOriginal = false;
  RunWorker({dir / "f.avi"}, o);
  return ReadFile(dir / "f.avi");
}

enum class Mode { Check, Copy, InPlace };

WorkerRunResult Process(const std::vector<std::string>& files, Mode mode,
                    std::function<void(VEKRiff::IndexRebuilder&)> onEvent = nullptr) {
  OwnerPermissions permissions;
  VEKFile::SetSystemCalls(&permissions);
  WorkerRunOptions o;
  o.CheckOnly = mode == Mode::Check;
  o.KeepOriginal = mode != Mode::InPlace;
  o.OnEvent = std::move(onEvent);
  auto result = RunWorker(files, o);
  VEKFile::SetSystemCalls(nullptr);
  return result;
}

std::string SecondLast(const WorkerRunResult& r) { return r.Lines.size() >= 2 ? r.Lines[r.Lines.size() - 2] : ""; }

struct RealWorld : ::testing::Test {
  TempDir dir;
  std::string Put(const std::string& name, const Bytes& bytes = Film()) {
    WriteFile(dir / name, bytes);
    return dir / name;
  }
};

TEST_F(RealWorld, AReadOnlySourceIsCheckedAndCopiedButNotRewrittenInPlace) {
  const std::string path = Put("ro.avi");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  const std::string later = Put("later.avi");

  EXPECT_EQ(Process({path}, Mode::Check).Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileOk});

  const auto copy = Process({path}, Mode::Copy);
  EXPECT_EQ(copy.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt});
  EXPECT_EQ(ReadFile(dir / "Zantrel.ro.avi"), Rebuilt());

  const auto inPlace = Process({path, later}, Mode::InPlace);
  EXPECT_EQ(inPlace.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileError}) << "the batch ends";
  EXPECT_EQ(SecondLast(inPlace), "Could not open file \"" + path + "\".");
  EXPECT_EQ(ReadFile(path), Film());
  EXPECT_EQ(ReadFile(later), Film());
}

TEST_F(RealWorld, AFolderThatCannotBeWrittenRefusesTheCopyAndKeepsTheSource) {
  ASSERT_EQ(::mkdir((dir / "ro").c_str(), 0755), 0);
  const std::string path = Put("ro/a.avi");
  ASSERT_EQ(::chmod((dir / "ro").c_str(), 0555), 0);

  EXPECT_EQ(Process({path}, Mode::Check).Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileOk});
  const auto copy = Process({path, Put("b.avi")}, Mode::Copy);
  EXPECT_EQ(copy.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileError});
  EXPECT_EQ(SecondLast(copy), "Could not create file \"" + (dir / "ro/Zantrel.a.avi") + "\".");
  EXPECT_EQ(copy.Lines.back(), "");
  EXPECT_FALSE(Exists(dir / "ro/Zantrel.a.avi"));
  EXPECT_FALSE(Exists(dir / "Zantrel.b.avi")) << "the batch ends";
  EXPECT_EQ(ReadFile(path), Film());
}

TEST_F(RealWorld, ASourceDeletedBeforeItsTurnEndsTheBatchAtThatFile) {
  const std::vector<std::string> files = {Put("a.avi"), Put("gone.avi"), Put("c.avi")};
  for (Mode mode : {Mode::Check, Mode::Copy}) {
    WriteFile(files[1], Film());
    const auto r = Process(files, mode, [&](VEKRiff::IndexRebuilder& w) {
      if (w.Event() == VEKRiff::FileStarted && w.FileIndex() == 0) std::remove(files[1].c_str());
    });
    const RebuildEvent first = mode == Mode::Check ? VEKRiff::FileOk : VEKRiff::FileRebuilt;
    EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{first, VEKRiff::FileError}));
    EXPECT_EQ(SecondLast(r), "Could not retrieve file size.");
    EXPECT_EQ(r.Notices.back().FileIndex, 1) << "the third file is not started";
    EXPECT_FALSE(Exists(dir / "Zantrel.gone.avi"));
  }
}

TEST_F(RealWorld, NamesWithSpacesQuotesAccentsAndLongPathsAreKeptAsTheyAre) {
  std::string deep = dir.Path();
  for (int i = 0; i < 6; ++i) {
    deep += "/" + std::string(100, static_cast<char>('a' + i));
    ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0);
  }
  const std::string longest(NAME_MAX - 8, 'n');  // "Zantrel." fills the rest of the limit
  const struct {
    std::string folder, name;
  } cases[] = {
      {dir.Path(), "my holiday film.avi"},
      {dir.Path(), "the \"best\" 'cut'.avi"},
      {dir.Path(), "Fête à Zürich — été.avi"},
      {dir.Path(), "back\\slash;semi,comma.avi"},
      {deep, "deep.avi"},
      {dir.Path(), longest},
  };
  for (const auto& c : cases) {
    const std::string path = c.folder + "/" + c.name;
    WriteFile(path, Film());
    const auto r = Process({path}, Mode::Copy);
    EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt}) << c.name;
    ASSERT_FALSE(r.Lines.empty());
    EXPECT_EQ(r.Lines.front(), "Processing file \"" + c.name + "\"");
    EXPECT_EQ(ReadFile(c.folder + "/Zantrel." + c.name), Rebuilt()) << c.name;
    EXPECT_EQ(ReadFile(path), Film()) << c.name;
  }
}

TEST_F(RealWorld, ACopyNameBeyondTheFileSystemsLimitIsACreateFailure) {
  const std::string name(NAME_MAX - 4, 'n');
  const std::string path = Put(name);
  const auto r = Process({path}, Mode::Copy);
  EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileError});
  EXPECT_EQ(SecondLast(r), "Could not create file \"" + dir / ("Zantrel." + name) + "\".");
  EXPECT_EQ(ReadFile(path), Film());
}

TEST_F(RealWorld, RebuildingARebuiltFileAgainInTheSameRunChangesNothing) {
  const std::string path = Put("twice.avi");
  const auto r = Process({path, path}, Mode::InPlace);
  EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileRebuilt, VEKRiff::FileRebuilt}));
  EXPECT_EQ(ReadFile(path), Rebuilt());
  const auto check = Process({path, path}, Mode::Check);
  EXPECT_EQ(check.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileOk, VEKRiff::FileOk}));
}

TEST_F(RealWorld, ACopyWhoseNameIsAFolderFailsAndTheFolderStays) {
  const std::string path = Put("a.avi");
  ASSERT_EQ(::mkdir((dir / "Zantrel.a.avi").c_str(), 0755), 0);
  WriteFile(dir / "Zantrel.a.avi/keep.txt", {'k'});
  bool asked = false;
  const auto r = Process({path, Put("b.avi")}, Mode::Copy, [&](VEKRiff::IndexRebuilder& w) {
    if (w.Event() == VEKRiff::FileOpening) asked |= VEKRiff::OutputExists(w);
  });
  EXPECT_FALSE(asked) << "a folder is not an existing copy to overwrite";
  EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileError});
  EXPECT_EQ(SecondLast(r), "Could not create file \"" + (dir / "Zantrel.a.avi") + "\".");
  EXPECT_EQ(ReadFile(dir / "Zantrel.a.avi/keep.txt"), Bytes{'k'});
  EXPECT_EQ(ReadFile(path), Film());
}

}  // namespace
