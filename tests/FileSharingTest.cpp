// What one open of a file lets a second open of it do, by the modes the
// engine opens with. Linux has only advisory locks, which keep two runs of
// this program from writing one file at once and a check from reading a file
// rewritten in place; Windows has share modes, which the system enforces on
// every program, and which the modes name exactly.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "file/File.h"
#include "lang/Language.h"
#include "support/TempDir.h"

namespace {

using VEKFile::File;

constexpr int Check = VEKFile::ModeRead | VEKFile::ShareExclusive;
constexpr int CopySource = VEKFile::ModeRead | VEKFile::ShareDenyNone;
constexpr int CopyDestination = VEKFile::ModeWrite | VEKFile::ShareDenyWrite;
constexpr int InPlace = VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite;

TEST(FileSharing, ASecondOpenIsRefusedExactlyWhereTheFirstOnesModeDeniesIt) {
  VEK::SetLanguage(VEK::English);
  const struct {
    const char* name;
    int held, second;
    bool opensOnLinux, opensOnWindows;
  } cases[] = {
      {"two checks", Check, Check, true, false},
      {"a copy of a file being checked", Check, CopySource, true, false},
      {"a check of a file being copied", CopySource, Check, true, false},
      {"two copies of one source", CopySource, CopySource, true, true},
      {"a check of a file rebuilt in place", InPlace, Check, false, false},
      {"a copy of a file rebuilt in place", InPlace, CopySource, true, true},
      {"an in-place rebuild of a copy's source", CopySource, InPlace, true, true},
      {"two in-place rebuilds", InPlace, InPlace, false, false},
      {"two runs writing one copy", CopyDestination, CopyDestination, false, false},
      {"a copy of a copy being written", CopyDestination, CopySource, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ZantrelTest::TempDir dir;
    const std::string path = dir / "film.avi";
    ZantrelTest::WriteText(path, "RIFF");
    File held(path);
    held.Open(c.held, false);
    File second(path);
#ifdef _WIN32
    const bool opens = c.opensOnWindows;
#else
    const bool opens = c.opensOnLinux;
#endif
    if (opens) {
      EXPECT_NO_THROW(second.Open(c.second, false));
      continue;
    }
    try {
      second.Open(c.second, false);
      ADD_FAILURE() << "the second open was let in";
    } catch (const File::Exception& e) {
      EXPECT_EQ(e.SystemError, EWOULDBLOCK);
      EXPECT_EQ(std::string(e.what()), "Could not open file \"" + path + "\" (the file is in use by another program).");
    }
  }
}

}  // namespace
