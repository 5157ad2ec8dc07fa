// The safe output: a temporary name that is only ever created exclusively,
// a final name that a link at it cannot redirect, failures that leave no
// temporary behind, and names as long as the system allows.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "file/BackupFile.h"
#include "file/File.h"
#include "file/SafeOutput.h"
#include "support/FaultySystemCalls.h"
#include "support/TempDir.h"

namespace {

using VEKFile::SafeOutput;
using ZantrelTest::CallsGuard;
using ZantrelTest::FaultySystemCalls;
using ZantrelTest::TempDir;

using ZantrelTest::ReadText;
using ZantrelTest::WriteText;

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(ZantrelTest::NativePath(folder)))
    names.insert(ZantrelTest::Utf8(entry.path().filename()));
  return names;
}

bool IsPartial(const std::string& path) { return path.find(SafeOutput::PartialSuffix) != std::string::npos; }

// Writes text through a descriptor from CreateFile and closes it.
void WriteAndClose(int fd, const std::string& text) {
  ASSERT_GE(fd, 0) << std::strerror(-fd);
  const struct iovec piece{const_cast<char*>(text.data()), text.size()};
  ASSERT_EQ(VEKFile::Sys().PWriteV(fd, &piece, 1, 0), static_cast<ssize_t>(text.size()));
  ASSERT_EQ(VEKFile::Sys().Close(fd), 0);
}

enum class Plant { LinkToVictim, DanglingLink, LinkToFolder, OtherRunsFile };

TEST(SafeOutput, TakenTemporaryNamesAreNeverOverwrittenNorFollowed) {
  const struct {
    const char* name;
    std::vector<Plant> planted;  // at the first drawn names, in this order
    bool commit;
  } cases[] = {
      {"another run's unfinished file", {Plant::OtherRunsFile}, true},
#ifndef _WIN32
// The Windows tests run under Wine, which makes no symbolic links.
      {"a link to another file", {Plant::LinkToVictim}, true},
      {"a dangling link, which an open would create the target of", {Plant::DanglingLink}, true},
      {"a link to a folder", {Plant::LinkToFolder}, true},
      {"every kind, one after the other",
       {Plant::LinkToVictim, Plant::OtherRunsFile, Plant::DanglingLink, Plant::LinkToFolder},
       true},
      {"a link, and the output discarded", {Plant::LinkToVictim, Plant::OtherRunsFile}, false},
#endif
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string finalName = dir / "movie.avi";
    const std::string victim = dir / "victim";
    const std::string folder = dir / "folder";
    WriteText(finalName, "old");
    WriteText(victim, "victim");
    std::filesystem::create_directory(folder);

    std::vector<std::string> plantedAt;
    int draws = 0;
    FaultySystemCalls calls;
    calls.openFilter = [&](const char* path, int flags) {
      if (!(flags & O_CREAT) || !IsPartial(path)) return 0;
      ++draws;
      if (plantedAt.size() < c.planted.size()) {
        switch (c.planted[plantedAt.size()]) {
          case Plant::LinkToVictim: std::filesystem::create_symlink(victim, path); break;
          case Plant::DanglingLink: std::filesystem::create_symlink(dir / "nowhere", path); break;
          case Plant::LinkToFolder: std::filesystem::create_directory_symlink(folder, path); break;
          case Plant::OtherRunsFile: WriteText(path, "theirs"); break;
        }
        plantedAt.push_back(path);
      }
      return 0;  // the real open then finds the name taken
    };
    {
      CallsGuard guard(calls);
      SafeOutput output(finalName);
      WriteAndClose(output.CreateFile(0644), "new");
      EXPECT_EQ(draws, static_cast<int>(c.planted.size()) + 1) << c.name;
      for (const auto& taken : plantedAt) EXPECT_NE(output.TemporaryName(), taken) << c.name;
      if (c.commit) EXPECT_EQ(output.Commit(), 0) << c.name;
      else output.Discard();
    }
    EXPECT_EQ(ReadText(finalName), c.commit ? "new" : "old") << c.name;
    EXPECT_EQ(ReadText(victim), "victim") << c.name;
    EXPECT_FALSE(std::filesystem::exists(dir / "nowhere")) << c.name;
    EXPECT_TRUE(std::filesystem::is_empty(folder)) << c.name;
    std::set<std::string> expected = {"movie.avi", "victim", "folder"};
    for (std::size_t i = 0; i < plantedAt.size(); ++i) {
      expected.insert(ZantrelTest::Utf8(std::filesystem::path(plantedAt[i]).filename()));
      if (c.planted[i] == Plant::OtherRunsFile) EXPECT_EQ(ReadText(plantedAt[i]), "theirs") << c.name;
      else EXPECT_TRUE(std::filesystem::is_symlink(plantedAt[i])) << c.name;
    }
    EXPECT_EQ(Entries(dir.Path()), expected) << c.name;
  }
}

TEST(SafeOutput, CreateDrawsAgainOnlyForATakenName) {
  constexpr int Forever = -1;
  const struct {
    const char* name;
    std::vector<int> answers;  // of create, in order; Forever: EEXIST every time
    int result;
    int draws;
  } cases[] = {
      {"free at once", {0}, 0, 1},
      {"three names taken", {EEXIST, EEXIST, EEXIST, 0}, 0, 4},
      {"a refusal after a taken name", {EEXIST, EACCES}, EACCES, 2},
      {"a full disk", {ENOSPC}, ENOSPC, 1},
      {"every name taken", {Forever}, EEXIST, SafeOutput::MaxDraws},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string finalName = dir / "clip.avi";
    std::vector<std::string> names;
    std::string ours;
    {
      SafeOutput output(finalName);
      const int result = output.Create([&](const std::string& temporary) {
        names.push_back(temporary);
        const std::size_t i = names.size() - 1;
        const int answer = c.answers[0] == Forever ? EEXIST : c.answers.at(i);
        // What a refusing create leaves at the name is not this output's:
        // another run's file, say, that came in between.
        WriteText(temporary, answer == 0 ? "ours" : "theirs");
        if (answer == 0) ours = temporary;
        return answer;
      });
      EXPECT_EQ(result, c.result) << c.name;
      EXPECT_EQ(output.TemporaryName(), ours) << c.name;
    }
    EXPECT_EQ(static_cast<int>(names.size()), c.draws) << c.name;
    // Six letters from 36 seldom repeat: one repeat in a thousand draws
    // happens, two practically never; a name that stays the same is a fault.
    EXPECT_GE(static_cast<int>(std::set<std::string>(names.begin(), names.end()).size()), c.draws - 1) << c.name;
    for (const auto& name : names) {
      EXPECT_EQ(name.rfind(dir / ".clip.avi.", 0), 0u) << c.name << ": " << name;
      EXPECT_EQ(name.size(), (dir / ".clip.avi.").size() + 6 + std::strlen(SafeOutput::PartialSuffix)) << name;
      EXPECT_TRUE(name.ends_with(SafeOutput::PartialSuffix)) << name;
      if (name == ours) EXPECT_FALSE(std::filesystem::exists(name)) << c.name << ": ours is deleted";
      else EXPECT_EQ(ReadText(name), "theirs") << c.name << ": " << name;
    }
    EXPECT_FALSE(std::filesystem::exists(finalName)) << c.name;
  }
}

#ifndef _WIN32
// The Windows tests run under Wine, which makes no symbolic links.
TEST(SafeOutput, ALinkAtTheFinalNameIsReplacedNotFollowed) {
  const struct {
    const char* name;
    bool targetExists;
  } cases[] = {
      {"a link to a file", true},
      {"a dangling link", false},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string finalName = dir / "out.avi";
    const std::string target = dir / "target";
    if (c.targetExists) WriteText(target, "target");
    std::filesystem::create_symlink(target, finalName);
    SafeOutput output(finalName);
    WriteAndClose(output.CreateFile(0644), "new");
    ASSERT_EQ(output.Commit(), 0) << c.name;
    EXPECT_FALSE(std::filesystem::is_symlink(finalName)) << c.name;
    EXPECT_EQ(ReadText(finalName), "new") << c.name;
    EXPECT_EQ(std::filesystem::exists(target), c.targetExists) << c.name;
    if (c.targetExists) {
      EXPECT_EQ(ReadText(target), "target") << c.name;
    }
  }
}
#endif

TEST(SafeOutput, EveryEndLeavesOneFileUnderTheFinalNameAndNoTemporary) {
  const struct {
    const char* name;
    std::function<void(FaultySystemCalls&)> fault;
    bool discardFirst;  // Discard before Commit, as a failed write does
    bool commit;        // false: the output is dropped without Commit
    int create;         // errno of CreateFile
    int commitResult;
    int folderSync;
    const char* finalText;
  } cases[] = {
      {"committed", [](auto&) {}, false, true, 0, 0, 0, "new"},
      {"the temporary cannot be created",
       [](auto& c) { c.openFilter = [](const char* p, int) { return IsPartial(p) ? EDQUOT : 0; }; }, false, true,
       EDQUOT, ENOENT, 0, "old"},
      {"the rename is refused", [](auto& c) { c.renameErrno = EXDEV; }, false, true, 0, EXDEV, 0, "old"},
      {"discarded", [](auto&) {}, true, true, 0, ENOENT, 0, "old"},
      {"dropped without a commit", [](auto&) {}, false, false, 0, 0, 0, "old"},
      {"the folder cannot be opened",
       [](auto& c) { c.openFilter = [](const char*, int flags) { return flags & O_DIRECTORY ? EACCES : 0; }; },
       false, true, 0, 0, EACCES, "new"},
      {"the folder cannot be synced", [](auto& c) { c.fsyncErrno = EIO; }, false, true, 0, 0, EIO, "new"},
      {"the file system cannot sync a folder", [](auto& c) { c.fsyncErrno = EINVAL; }, false, true, 0, 0, 0, "new"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string finalName = dir / "out.avi";
    WriteText(finalName, "old");
    FaultySystemCalls calls;
    c.fault(calls);
    {
      CallsGuard guard(calls);
      SafeOutput output(finalName);
      const int fd = output.CreateFile(0644);
      EXPECT_EQ(fd < 0 ? -fd : 0, c.create) << c.name;
      if (fd >= 0) WriteAndClose(fd, "new");
      if (c.discardFirst) output.Discard();
      if (c.commit) {
        EXPECT_EQ(output.Commit(), c.commitResult) << c.name;
        EXPECT_EQ(output.Committed(), c.commitResult == 0) << c.name;
        // A temporary whose rename failed is still to be deleted.
        EXPECT_EQ(output.Pending(), c.commitResult != 0 && c.commitResult != ENOENT) << c.name;
        EXPECT_EQ(output.FolderSyncError(), c.folderSync) << c.name;
      }
    }
    EXPECT_EQ(ReadText(finalName), c.finalText) << c.name;
    EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"out.avi"}) << c.name;
  }
}

TEST(SafeOutput, FinalNamesUpToNameMaxGetATemporaryThatFits) {
  const std::string euro = "\xE2\x82\xAC";  // three bytes in UTF-8
  std::string euros;
  for (int i = 0; i < 84; ++i) euros += euro;
  std::string acutes;
  for (int i = 0; i < 127; ++i) acutes += "\xC3\xA9";
  const struct {
    const char* name;
    std::string finalName;
  } cases[] = {
      {"short", "a.avi"},
      {"NAME_MAX letters", std::string(NAME_MAX - 4, 'n') + ".avi"},
      {"two-byte characters", acutes + "a"},
      {"two-byte characters after one letter", "a" + acutes},
      {"three-byte characters after two letters", "ab" + euros},
  };
  for (const auto& c : cases) {
    ASSERT_LE(c.finalName.size(), static_cast<std::size_t>(NAME_MAX)) << c.name;
    TempDir dir;
    SafeOutput output(dir / c.finalName);
    const int fd = output.CreateFile(0644);
    WriteAndClose(fd, "new");
    const std::string temporary = ZantrelTest::Utf8(ZantrelTest::NativePath(output.TemporaryName()).filename());
    EXPECT_LE(temporary.size(), static_cast<std::size_t>(NAME_MAX)) << c.name;
    // "." + a cut of the final name + "." + six letters + the suffix.
    const std::size_t kept = temporary.size() - 1 - 7 - std::strlen(SafeOutput::PartialSuffix);
    EXPECT_EQ(c.finalName.compare(0, kept, temporary, 1, kept), 0) << c.name;
    const std::size_t room = NAME_MAX - 1 - 7 - std::strlen(SafeOutput::PartialSuffix);
    EXPECT_GE(kept, std::min(c.finalName.size(), room - 2)) << c.name;  // at most a character's other bytes go
    if (kept < c.finalName.size()) {
      EXPECT_NE(static_cast<unsigned char>(c.finalName[kept]) & 0xC0, 0x80) << c.name << ": half a character kept";
    }
    ASSERT_EQ(output.Commit(), 0) << c.name;
    EXPECT_EQ(ReadText(dir / c.finalName), "new") << c.name;
  }
}

TEST(SafeOutput, FinalNamesThatCannotTakeAFileAreRefusedBeforeAnythingIsCreated) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
#ifndef _WIN32
  std::filesystem::create_directory_symlink(dir / "folder", dir / "link");
#endif
  const struct {
    const char* name;
    std::string finalName;
    int error;
  } cases[] = {
      {"longer than NAME_MAX", dir / std::string(NAME_MAX + 1, 'n'), ENAMETOOLONG},
      {"a folder", dir / "folder", EISDIR},
#ifndef _WIN32
      {"a link to a folder", dir / "link", EISDIR},
#endif
      {"a folder's own path", dir / "folder/", EISDIR},
  };
  for (const auto& c : cases) {
    SafeOutput output(c.finalName);
    int creates = 0;
    EXPECT_EQ(output.Create([&](const std::string&) { ++creates;
      return 0;
    }), c.error) << c.name;
    EXPECT_EQ(creates, 0) << c.name;
    EXPECT_EQ(output.Commit(), ENOENT) << c.name;
  }
#ifdef _WIN32
  EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"folder"}));
#else
  EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"folder", "link"}));
#endif
  EXPECT_TRUE(std::filesystem::is_empty(ZantrelTest::NativePath(dir / "folder")));
}

// The engine's way to its copy: BackupFile creates the destination
// exclusively and throws; a failure of the temporary is an answer to
// Create, anything else (the source's own failure) goes through it.
void OpenCopy(SafeOutput& output, const std::string& source, VEK::AutoPtr<BackupFile>& file) {
  const int error = output.Create([&](const std::string& temporary) {
    try {
      file = std::make_unique<BackupFile>(BackupFile::Mode::Copy, source, temporary, true);
      return 0;
    } catch (const VEKFile::File::Exception& e) {
      if (e.Path != temporary) throw;
      return e.SystemError != 0 ? e.SystemError : EIO;
    }
  });
  if (error != 0) throw VEKFile::File::CreateFailure(output.FinalName(), error);
}

TEST(SafeOutput, ACopyThroughTheEnginesFileTakesItsNameOnlyWhenCommitted) {
  const struct {
    const char* name;
    bool sourceExists;
    int takenNames;       // links planted at the first drawn names
    bool commit;
  } cases[] = {
      {"a copy committed", true, 0, true},
      {"a copy after two taken names", true, 2, true},
      {"a copy given up", true, 1, false},
      {"a missing source", false, 0, false},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string source = dir / "in.avi";
    const std::string finalName = dir / "Fixed.in.avi";
    const std::string victim = dir / "victim";
    WriteText(victim, "victim");
    if (c.sourceExists) WriteText(source, "source bytes");
    int planted = 0;
    FaultySystemCalls calls;
    calls.openFilter = [&](const char* path, int flags) {
      if ((flags & O_CREAT) && IsPartial(path) && planted < c.takenNames) {
#ifdef _WIN32
        WriteText(path, "theirs");  // Wine makes no symbolic links: another run's file takes the name
#else
        std::filesystem::create_symlink(victim, path);
#endif
        ++planted;
      }
      return 0;
    };
    std::string failure;
    {
      CallsGuard guard(calls);
      SafeOutput output(finalName);
      VEK::AutoPtr<BackupFile> file;
      try {
        OpenCopy(output, source, file);
        char bytes[12];
        file->Read(bytes, sizeof bytes);
        file->Truncate();
        file->Sync();
        file.reset();
        if (c.commit) {
          EXPECT_EQ(output.Commit(), 0) << c.name;
        }
      } catch (const VEK::Exception& e) {
        failure = e.Message();
      }
      EXPECT_EQ(output.Pending(), !c.commit && c.sourceExists) << c.name;
    }
    EXPECT_EQ(failure.empty(), c.sourceExists) << c.name << ": " << failure;
    if (!c.sourceExists) {
      EXPECT_EQ(failure.find(finalName), std::string::npos) << c.name << ": the source's failure, not the copy's";
    }
    EXPECT_EQ(planted, c.takenNames) << c.name;
    EXPECT_EQ(ReadText(victim), "victim") << c.name;
    EXPECT_EQ(std::filesystem::exists(finalName), c.commit) << c.name;
    if (c.commit) {
      EXPECT_EQ(ReadText(finalName), "source bytes") << c.name;
    }
    std::size_t partial = 0;
    for (const auto& name : Entries(dir.Path())) partial += IsPartial(name);
    EXPECT_EQ(partial, static_cast<std::size_t>(c.takenNames)) << c.name << ": only the planted links";
  }
}

TEST(SafeOutput, ACopyThatCannotBeCreatedIsReportedUnderItsFinalName) {
  TempDir dir;
  const std::string source = dir / "in.avi";
  WriteText(source, "source bytes");
  FaultySystemCalls calls;
  calls.openFilter = [](const char* path, int) { return IsPartial(path) ? EDQUOT : 0; };
  CallsGuard guard(calls);
  SafeOutput output(dir / "Fixed.in.avi");
  VEK::AutoPtr<BackupFile> file;
  try {
    OpenCopy(output, source, file);
    ADD_FAILURE() << "a refused creation was taken for a copy";
  } catch (const VEKFile::File::Exception& e) {
    EXPECT_EQ(e.SystemError, EDQUOT);
    EXPECT_EQ(e.Path, dir / "Fixed.in.avi");
  }
  EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"in.avi"});
}

}  // namespace
