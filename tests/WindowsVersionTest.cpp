// The version text of a Windows program comes from its own VERSIONINFO
// resource, made from the project's version number. Windows only (under Wine
// in the test command).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ZantrelVersion.h"
#include "lang/AppVersion.h"
#include "support/TempDir.h"

namespace {

using namespace ZantrelTest;

TEST(WindowsVersion, TheProgramsResourceGivesTheProjectsVersionAndAnyOtherFileNone) {
  TempDir dir;
  WriteFile(dir / "notes.txt", Bytes(64, 'x'));
  const struct {
    std::string path;
    std::string expected;
  } cases[] = {
      {ZANTREL_CLI_PATH, ZANTREL_VERSION},
      {dir / "notes.txt", ""},
      {dir / "missing.exe", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(VEK::FileVersionText(c.path), c.expected) << c.path;
}

}  // namespace
