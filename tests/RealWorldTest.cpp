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
#include <sys/file.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>

#include "batch/ExistingOutput.h"
#include "engine/IndexRebuilder.h"
#include "lang/Language.h"
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
  // Conditions no test can make for real (a read-only file system, say): a
  // non-zero result refuses the open with that errno.
  std::function<int(const char* path, int flags)> refuse;

  int Open(const char* path, int flags, mode_t mode) override {
    if (refuse) {
      if (const int error = refuse(path, flags)) {
        errno = error;
        return -1;
      }
    }
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
  // A folder that is not there, or is no folder, is the kernel's to refuse
  // (with its own reason).
  static bool Writable(const std::string& folder) {
    struct stat st;
    if (::stat(folder.empty() ? "." : folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return true;
    return (st.st_mode & S_IWUSR) && (st.st_mode & S_IXUSR);
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
                        std::function<void(VEKRiff::IndexRebuilder&)> onEvent = nullptr,
                        const std::string& prefix = VEKRiff::IndexRebuilder::DefaultPrefix,
                        std::function<int(const char*, int)> refuse = nullptr) {
  OwnerPermissions permissions;
  permissions.refuse = std::move(refuse);
  VEKFile::SetSystemCalls(&permissions);
  WorkerRunOptions o;
  o.CheckOnly = mode == Mode::Check;
  o.KeepOriginal = mode != Mode::InPlace;
  o.OnEvent = std::move(onEvent);
  o.Prefix = prefix;
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
  EXPECT_EQ(inPlace.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileError, VEKRiff::FileRebuilt}))
      << "the file fails alone";
  EXPECT_NE(std::find(inPlace.Lines.begin(), inPlace.Lines.end(),
                      "Could not open file \"" + path + "\" (permission denied)."),
            inPlace.Lines.end());
  EXPECT_EQ(ReadFile(path), Film());
  EXPECT_EQ(ReadFile(later), Rebuilt());
}

TEST_F(RealWorld, AFolderThatCannotBeWrittenRefusesTheCopyAndKeepsTheSource) {
  ASSERT_EQ(::mkdir((dir / "ro").c_str(), 0755), 0);
  const std::string path = Put("ro/a.avi");
  ASSERT_EQ(::chmod((dir / "ro").c_str(), 0555), 0);

  EXPECT_EQ(Process({path}, Mode::Check).Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileOk});
  const auto copy = Process({path, Put("b.avi")}, Mode::Copy);
  EXPECT_EQ(copy.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileError, VEKRiff::FileRebuilt}));
  EXPECT_NE(std::find(copy.Lines.begin(), copy.Lines.end(),
                      "Could not create file \"" + (dir / "ro/Zantrel.a.avi") + "\" (permission denied)."),
            copy.Lines.end());
  EXPECT_EQ(copy.Lines.back(), "");
  EXPECT_FALSE(Exists(dir / "ro/Zantrel.a.avi"));
  EXPECT_EQ(ReadFile(dir / "Zantrel.b.avi"), Rebuilt()) << "the batch goes on";
  EXPECT_EQ(ReadFile(path), Film());
}

TEST_F(RealWorld, ASourceDeletedBeforeItsTurnFailsAloneWithItsName) {
  const std::vector<std::string> files = {Put("a.avi"), Put("gone.avi"), Put("c.avi")};
  for (Mode mode : {Mode::Check, Mode::Copy}) {
    WriteFile(files[1], Film());
    const auto r = Process(files, mode, [&](VEKRiff::IndexRebuilder& w) {
      if (w.Event() == VEKRiff::FileStarted && w.FileIndex() == 0) std::remove(files[1].c_str());
    });
    const RebuildEvent first = mode == Mode::Check ? VEKRiff::FileOk : VEKRiff::FileRebuilt;
    EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{first, VEKRiff::FileError, first}));
    EXPECT_NE(std::find(r.Lines.begin(), r.Lines.end(),
                        "Could not open file \"" + files[1] + "\" (no such file or folder)."),
              r.Lines.end());
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
  EXPECT_EQ(SecondLast(r), "Could not create file \"" + dir / ("Zantrel." + name) + "\" (file name too long).");
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
  EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileError, VEKRiff::FileRebuilt}));
  ASSERT_GE(r.Lines.size(), 2u);
  EXPECT_EQ(r.Lines[1], "Could not create file \"" + (dir / "Zantrel.a.avi") + "\" (a folder has that name).");
  EXPECT_EQ(ReadFile(dir / "Zantrel.a.avi/keep.txt"), Bytes{'k'});
  EXPECT_EQ(ReadFile(path), Film());
}

// Every refused open or creation says why, in the user's language, in the
// form of the write failures: "Could not open file "x" (permission denied)."
// What the kernel refuses for real here is made for real; the rest (a
// read-only file system, a program being run, a full table of open files)
// is refused by the system-call layer with the kernel's errno.
TEST_F(RealWorld, AFileThatCannotBeOpenedOrCreatedSaysWhyInBothLanguages) {
  enum class Setup { None, LockedByAnotherRun, Unreadable, ReadOnlyFolder, FileInPrefix, LinkLoopInPrefix };
  const struct {
    const char* name;
    Mode mode;
    Setup setup;
    std::string prefix;
    int injected;  // refused for the source's open (0: nothing injected) ...
    bool injectCreate;  // ... or for the copy's creation
    bool create;   // the message is the creation's, for the copy's name
    std::string copyName;
    const char* english;
    const char* french;
  } cases[] = {
      {"locked by another run, in place", Mode::InPlace, Setup::LockedByAnotherRun, "Zantrel.", 0, false, false, "",
       "the file is in use by another program", "le fichier est utilisé par un autre programme"},
      {"locked by another run, check", Mode::Check, Setup::LockedByAnotherRun, "Zantrel.", 0, false, false, "",
       "the file is in use by another program", "le fichier est utilisé par un autre programme"},
      {"no read permission", Mode::Check, Setup::Unreadable, "Zantrel.", 0, false, false, "", "permission denied",
       "permission refusée"},
      {"read-only folder", Mode::Copy, Setup::ReadOnlyFolder, "Zantrel.", 0, false, true, "ro/Zantrel.a.avi",
       "permission denied", "permission refusée"},
      {"read-only file system, in place", Mode::InPlace, Setup::None, "Zantrel.", EROFS, false, false, "",
       "read-only file system", "système de fichiers en lecture seule"},
      {"read-only file system, copy", Mode::Copy, Setup::None, "Zantrel.", EROFS, true, true, "Zantrel.a.avi",
       "read-only file system", "système de fichiers en lecture seule"},
      {"missing prefix folder", Mode::Copy, Setup::None, "missing/", 0, false, true, "missing/a.avi",
       "no such file or folder", "fichier ou dossier introuvable"},
      {"prefix through a file", Mode::Copy, Setup::FileInPrefix, "notes.txt/", 0, false, true, "notes.txt/a.avi",
       "a part of the path is not a folder", "une partie du chemin n'est pas un dossier"},
      {"prefix through a loop of links", Mode::Copy, Setup::LinkLoopInPrefix, "loop/", 0, false, true, "loop/a.avi",
       "too many symbolic links in the path", "trop de liens symboliques dans le chemin"},
      {"a program being run", Mode::InPlace, Setup::None, "Zantrel.", ETXTBSY, false, false, "",
       "the file is a program being run", "le fichier est un programme en cours d'exécution"},
      {"too many open files", Mode::Check, Setup::None, "Zantrel.", EMFILE, false, false, "",
       "too many files open in this program", "trop de fichiers ouverts dans ce programme"},
  };
  for (const auto& c : cases) {
    for (std::int8_t language : {VEK::English, VEK::French}) {
      const std::string what = std::string(c.name) + (language == VEK::French ? ", French" : ", English");
      TempDir here;
      const std::string folder = c.setup == Setup::ReadOnlyFolder ? here / "ro" : here.Path();
      if (c.setup == Setup::ReadOnlyFolder) ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
      const std::string path = folder + "/a.avi";
      WriteFile(path, Film());
      int lock = -1;
      switch (c.setup) {
        case Setup::LockedByAnotherRun:
          lock = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
          ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0) << what;
          break;
        case Setup::Unreadable: ASSERT_EQ(::chmod(path.c_str(), 0), 0); break;
        case Setup::ReadOnlyFolder: ASSERT_EQ(::chmod(folder.c_str(), 0555), 0); break;
        case Setup::FileInPrefix: WriteFile(here / "notes.txt", {'n'}); break;
        case Setup::LinkLoopInPrefix: ASSERT_EQ(::symlink("loop", (here / "loop").c_str()), 0); break;
        case Setup::None: break;
      }
      std::function<int(const char*, int)> refuse;
      if (c.injected != 0)
        refuse = [&](const char* opened, int flags) {
          const bool creating = (flags & O_CREAT) != 0;
          return creating == c.injectCreate && (creating || path == opened) ? c.injected : 0;
        };
      VEK::SetLanguage(language);
      const auto r = Process({path, Put("later.avi")}, c.mode, nullptr, c.prefix, refuse);
      VEK::SetLanguage(VEK::English);
      if (lock >= 0) ::close(lock);
      const std::string named = c.create ? here / c.copyName : path;
      const std::string expected =
          language == VEK::French
              ? std::string(c.create ? "Impossible de créer le fichier \"" : "Impossible d'ouvrir le fichier \"") +
                    named + "\" (" + c.french + ")."
              : std::string(c.create ? "Could not create file \"" : "Could not open file \"") + named + "\" (" +
                    c.english + ").";
      // The file fails alone: the next one is done.
      ASSERT_EQ(r.Outcomes().size(), 2u) << what;
      EXPECT_EQ(r.Outcomes()[0], VEKRiff::FileError) << what;
      ASSERT_GE(r.Lines.size(), 3u) << what;
      EXPECT_EQ(r.Lines[1], expected) << what;
      EXPECT_EQ(r.Lines[2], "") << what;
      ::chmod(path.c_str(), 0644);
      EXPECT_EQ(ReadFile(path), Film()) << what;
      EXPECT_FALSE(Exists(named) && c.create) << what << ": a copy was left behind";
    }
  }
}

}  // namespace
