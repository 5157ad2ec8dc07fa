// Names as the program holds them (UTF-8) and as the system takes them: long
// paths past Windows' old 260-character limit, characters outside ASCII and
// outside the Basic Multilingual Plane, through every call of the file layer
// and the folder listing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <string>
#include <vector>

#include "file/File.h"
#include "file/NamesOnDisk.h"
#include "file/SafeOutput.h"
#include "file/SystemCalls.h"
#include "support/TempDir.h"
#include "util/FolderFiles.h"
#include "util/Paths.h"
#include "util/Utf16.h"

namespace {

using ZantrelTest::Bytes;

TEST(Utf16, TextGoesToUtf16AndBackUnitForUnit) {
  const struct {
    const char* name;
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"ASCII", "film.avi", u"film.avi"},
      {"two-byte", "\xC3\xA9t\xC3\xA9", {0x00E9, u't', 0x00E9}},
      {"three-byte", "\xE2\x82\xAC", {0x20AC}},
      {"four-byte, a surrogate pair", "\xF0\x9F\x98\x80", {0xD83D, 0xDE00}},
      {"the last code point", "\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF}},
      {"a zero byte inside", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VEK::Utf8ToUtf16(c.utf8), c.utf16) << c.name;
    EXPECT_EQ(VEK::Utf16ToUtf8(c.utf16), c.utf8) << c.name;
  }
}

TEST(Utf16, WhatIsNotUtf8BecomesAReplacementPerByte) {
  const std::u16string r(1, u'\uFFFD');
  const struct {
    const char* name;
    std::string utf8;
    std::u16string utf16;
  } cases[] = {
      {"a stray continuation byte", "a\x80z", u"a" + r + u"z"},   {"an overlong slash", "\xC0\xAF", r + r},
      {"an overlong three-byte form", "\xE0\x80\xAF", r + r + r}, {"an encoded surrogate", "\xED\xA0\x80", r + r + r},
      {"past U+10FFFF", "\xF4\x90\x80\x80", r + r + r + r},       {"cut short at the end", "ab\xE2\x82", u"ab" + r + r},
  };
  for (const auto& c : cases) EXPECT_EQ(VEK::Utf8ToUtf16(c.utf8), c.utf16) << c.name;
  EXPECT_EQ(VEK::Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx") << "a lone high surrogate";
  EXPECT_EQ(VEK::Utf16ToUtf8(std::u16string{0xDC00}), "\xEF\xBF\xBD") << "a lone low surrogate";
}

TEST(FileNames, LongAndForeignNamesReachTheirFilesThroughEveryCall) {
  const std::string longPart(120, 'n');
  const struct {
    const char* name;
    std::vector<std::string> folders;  // under the test's folder
    std::string file;
  } cases[] = {
      {"plain", {}, "film.avi"},
      {"accents and the euro", {"d\xC3\xA9j\xC3\xA0"}, "\xE2\x82\xAC film.avi"},
      {"outside the Basic Multilingual Plane", {"\xF0\x9F\x8E\xAC"}, "\xF0\x9F\x98\x80.avi"},
      {"a path of over 400 characters", {longPart, longPart, longPart}, longPart + ".avi"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ZantrelTest::TempDir dir;
    std::string folder = dir.Path();
    for (const std::string& part : c.folders) {
      folder = VEK::IncludeTrailingPathDelimiter(folder) + part;
      ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    }
    const std::string path = VEK::IncludeTrailingPathDelimiter(folder) + c.file;
    const Bytes content = {'R', 'I', 'F', 'F', 0xE9, 0x00, 0x7F, 0xFF};
    {
      VEKFile::File out(path);
      out.CreateNew();
      out.Write(content.data(), static_cast<std::int64_t>(content.size()));
      out.Sync();
    }
    EXPECT_TRUE(VEK::FileExists(path));
    EXPECT_TRUE(VEK::NameExists(path));
    VEKFile::File in(path);
    in.Open(VEKFile::ModeRead | VEKFile::ShareDenyNone, false);
    EXPECT_EQ(in.Size(), static_cast<std::int64_t>(content.size()));
    Bytes back(content.size());
    in.Read(back.data(), static_cast<std::int64_t>(back.size()));
    EXPECT_EQ(back, content);
    // Another spelling of the same name names the same file.
    EXPECT_TRUE(VEK::SameFile(path, VEK::ExtractFilePath(path) + "./" + VEK::ExtractFileName(path)));
    EXPECT_EQ(VEK::AviFilesIn(dir.Path()), std::vector<std::string>{path});

    // The safe copy's rename lands on a name as long, beside it.
    const std::string copy = VEK::ExtractFilePath(path) + "Zantrel." + c.file;
    VEKFile::SafeOutput output(copy);
    const int fd = output.CreateFile(0644);
    ASSERT_GE(fd, 0);
    const struct iovec piece { const_cast<char*>("copy"), 4 };
    EXPECT_EQ(VEKFile::Sys().PWriteV(fd, &piece, 1, 0), 4);
    EXPECT_EQ(VEKFile::Sys().Close(fd), 0);
    ASSERT_EQ(output.Commit(), 0);
    EXPECT_EQ(ZantrelTest::ReadText(copy), "copy");
    EXPECT_FALSE(VEK::SameFile(path, copy));
    EXPECT_TRUE(VEK::DeleteFile(copy));
    EXPECT_FALSE(VEK::NameExists(copy));
  }
}

}  // namespace
