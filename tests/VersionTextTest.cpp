// The version text read back from program files: records built with the same
// builder the program uses, wrapped in small ELF files written here, and
// damaged files that must give the empty text rather than a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "lang/AppVersion.h"
#include "support/TempDir.h"

namespace {

using ZantrelTest::Bytes;
using ZantrelTest::TempDir;
using ZantrelTest::WriteFile;

constexpr std::uint32_t Translation(std::uint16_t language, std::uint16_t codePage) {
  return language | (std::uint32_t{codePage} << 16);
}

// The program's own record: 0.2.3.6, English (Canada) / 1252.
constexpr std::uint32_t kProgramTranslation[] = {Translation(0x1009, 0x04E4)};
constexpr VEK::VersionString kProgramStrings[] = {
    {"CompanyName", ""}, {"FileVersion", "0.2.3.6"}, {"InternalName", "Zantrel"}, {"ProductVersion", "0.0.0.0"}};
constexpr VEK::VersionFields::Table kProgramTables[] = {{"100904E4", kProgramStrings}};
constexpr VEK::VersionFields kProgram{
    VEK::ParseVersionNumber("0.2.3.6"), VEK::ParseVersionNumber("0.2.3.6"), kProgramTranslation, kProgramTables};

Bytes ProgramRecord() { return VEK::BuildVersionRecord(kProgram); }

// A minimal ELF file: header, the sections' bytes, the section-name table,
// then the section headers. Enough for a reader that only looks at sections.
struct ElfSection {
  std::string Name;
  Bytes Data;
  std::uint32_t Type = 1;  // PROGBITS
};

class ElfWriter {
 public:
  ElfWriter(bool wide, bool big) : wide_(wide), big_(big) {}

  Bytes Build(const std::vector<ElfSection>& sections) const {
    Bytes names(1, 0);
    std::vector<std::uint32_t> nameAt;
    auto addName = [&names](const std::string& n) {
      auto at = static_cast<std::uint32_t>(names.size());
      names.insert(names.end(), n.begin(), n.end());
      names.push_back(0);
      return at;
    };
    for (const auto& s : sections) nameAt.push_back(addName(s.Name));
    std::uint32_t shstrtabName = addName(".shstrtab");

    std::size_t headerSize = wide_ ? 64 : 52;
    Bytes out(headerSize, 0);
    std::vector<std::uint64_t> offsets;
    for (const auto& s : sections) {
      offsets.push_back(out.size());
      out.insert(out.end(), s.Data.begin(), s.Data.end());
    }
    std::uint64_t namesAt = out.size();
    out.insert(out.end(), names.begin(), names.end());
    while (out.size() % 8 != 0) out.push_back(0);
    std::uint64_t shoff = out.size();

    std::size_t entry = wide_ ? 64 : 40;
    std::size_t count = sections.size() + 2;  // null section first, names last
    out.resize(shoff + entry * count, 0);
    for (std::size_t i = 0; i < sections.size(); ++i)
      Header(out, shoff + entry * (i + 1), nameAt[i], sections[i].Type, offsets[i], sections[i].Data.size());
    Header(out, shoff + entry * (count - 1), shstrtabName, 3 /* STRTAB */, namesAt, names.size());

    out[0] = 0x7f, out[1] = 'E', out[2] = 'L', out[3] = 'F';
    out[4] = wide_ ? 2 : 1;
    out[5] = big_ ? 2 : 1;
    out[6] = 1;
    Store(out, 16, 2, 2);  // ET_EXEC
    Store(out, 18, 2, 62);
    if (wide_) {
      Store(out, 0x28, 8, shoff);
      Store(out, 0x34, 2, headerSize);
      Store(out, 0x3A, 2, entry);
      Store(out, 0x3C, 2, count);
      Store(out, 0x3E, 2, count - 1);
    } else {
      Store(out, 0x20, 4, shoff);
      Store(out, 0x28, 2, headerSize);
      Store(out, 0x2E, 2, entry);
      Store(out, 0x30, 2, count);
      Store(out, 0x32, 2, count - 1);
    }
    return out;
  }

  void Store(Bytes& b, std::size_t at, int n, std::uint64_t v) const {
    for (int i = 0; i < n; ++i) b[at + (big_ ? n - 1 - i : i)] = static_cast<unsigned char>(v >> (8 * i));
  }

 private:
  void Header(Bytes& b, std::size_t at, std::uint32_t name, std::uint32_t type, std::uint64_t offset,
              std::uint64_t size) const {
    Store(b, at, 4, name);
    Store(b, at + 4, 4, type);
    if (wide_) {
      Store(b, at + 24, 8, offset);
      Store(b, at + 32, 8, size);
    } else {
      Store(b, at + 16, 4, offset);
      Store(b, at + 20, 4, size);
    }
  }

  bool wide_, big_;
};

Bytes ElfWithRecord(const Bytes& record, bool wide = true, bool big = false) {
  return ElfWriter(wide, big).Build({{".text", Bytes(32, 0x90)}, {VEK::VersionSectionName, record}});
}

std::string VersionOfBytes(const Bytes& file) {
  TempDir dir;
  WriteFile(dir / "program", file);
  return VEK::FileVersionText(dir / "program");
}

TEST(VersionText, ProgramRecordIsFoundInEveryElfClassAndByteOrder) {
  for (bool wide : {true, false})
    for (bool big : {false, true})
      EXPECT_EQ(VersionOfBytes(ElfWithRecord(ProgramRecord(), wide, big)), "0.2.3.6")
          << (wide ? "64-bit" : "32-bit") << (big ? " big-endian" : " little-endian");
}

TEST(VersionText, FilesWithoutARecordGiveTheEmptyText) {
  TempDir dir;
  WriteFile(dir / "notes.txt", Bytes{'h', 'e', 'l', 'l', 'o', '\n'});
  WriteFile(dir / "no-section", ElfWriter(true, false).Build({{".text", Bytes(64, 0x90)}}));
  ElfSection bss{VEK::VersionSectionName, {}, 8 /* NOBITS: no bytes in the file */};
  WriteFile(dir / "nobits", ElfWriter(true, false).Build({bss}));
  // A similar name must not be taken for the section.
  WriteFile(dir / "longer-name", ElfWriter(true, false).Build({{".zantrel.versions", ProgramRecord()}}));

  // This test program is a real executable that carries no record.
  for (const std::string& path : {std::string("/proc/self/exe"), dir / "notes.txt", dir / "no-section", dir / "nobits",
                                 dir / "longer-name", dir / "missing", dir.Path(), std::string()})
    EXPECT_EQ(VEK::FileVersionText(path), "") << path;
}

TEST(VersionText, RecordAddedToARealExecutableByObjcopyIsRead) {
  TempDir dir;
  WriteFile(dir / "record.bin", ProgramRecord());
  std::string command = "objcopy --add-section " + std::string(VEK::VersionSectionName) + "=" + (dir / "record.bin") +
                        " /proc/" + std::to_string(::getpid()) + "/exe " + (dir / "copy") + " 2>/dev/null";
  if (std::system(command.c_str()) != 0) GTEST_SKIP() << "objcopy is not available";
  EXPECT_EQ(VEK::FileVersionText(dir / "copy"), "0.2.3.6");
}

TEST(VersionText, OnlyTheFirstTranslationNamesTheStringTable) {
  const VEK::VersionString us[] = {{"FileVersion", "4.3.2.1"}};
  const VEK::VersionString canada[] = {{"FileVersion", "0.2.3.6"}};
  const VEK::VersionString noVersion[] = {{"InternalName", "Zantrel"}, {"ProductVersion", "0.0.0.0"}};
  const VEK::VersionFields::Table both[] = {{"100904E4", canada}, {"040904B0", us}};
  const VEK::VersionFields::Table lower[] = {{"040904b0", us}};
  const VEK::VersionFields::Table withoutVersion[] = {{"040904B0", noVersion}, {"100904E4", canada}};
  const std::uint32_t usFirst[] = {Translation(0x0409, 0x04B0), Translation(0x1009, 0x04E4)};
  const std::uint32_t canadaOnly[] = {Translation(0x1009, 0x04E4)};
  const std::uint32_t french[] = {Translation(0x040C, 0x04E4)};
  const VEK::VersionNumber v{{1, 0, 0, 0}};

  const struct {
    const char* name;
    VEK::VersionFields fields;
    const char* expected;
  } cases[] = {
      {"first translation 0409/04B0 reads table 040904B0", {v, v, usFirst, both}, "4.3.2.1"},
      {"table names compare without letter case", {v, v, usFirst, lower}, "4.3.2.1"},
      {"first table lacks FileVersion, a later one has it", {v, v, usFirst, withoutVersion}, ""},
      {"translation names a table that does not exist", {v, v, french, both}, ""},
      {"empty translation list", {v, v, {}, both}, ""},
      {"no string tables at all", {v, v, canadaOnly, {}}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(VersionOfBytes(ElfWithRecord(VEK::BuildVersionRecord(c.fields))), c.expected) << c.name;
}

TEST(VersionText, RecordHoldsTheFixedVersionsAndEveryString) {
  Bytes record = ProgramRecord();
  auto fixed = VEK::QueryVersionValue(record, "\\");
  ASSERT_TRUE(fixed.has_value());
  ASSERT_EQ(fixed->size(), 52u);
  auto le32 = [&](std::size_t i) {
    const unsigned char* p = fixed->data() + 4 * i;
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
  };
  EXPECT_EQ(le32(0), 0xFEEF04BDu);
  EXPECT_EQ(le32(2), 0x00000002u);  // file version 0.2 | 3.6
  EXPECT_EQ(le32(3), 0x00030006u);
  EXPECT_EQ(le32(4), 0x00000002u);  // product version
  EXPECT_EQ(le32(5), 0x00030006u);

  auto text = [&](const char* path) {
    auto v = VEK::QueryVersionValue(record, path);
    return v ? std::string(reinterpret_cast<const char*>(v->data()), v->size()) : std::string("<missing>");
  };
  using namespace std::string_literals;
  EXPECT_EQ(text("\\StringFileInfo\\100904E4\\InternalName"), "Zantrel\0"s);
  EXPECT_EQ(text("\\stringfileinfo\\100904e4\\productversion"), "0.0.0.0\0"s);
  EXPECT_EQ(text("\\StringFileInfo\\100904E4\\CompanyName"), "\0"s);
  EXPECT_EQ(text("\\StringFileInfo\\100904E4\\Comments"), "<missing>");
  EXPECT_EQ(text("\\VarFileInfo\\Translation"), "\x09\x10\xE4\x04"s);
}

TEST(VersionText, EveryTruncationOfAProgramFileGivesTheEmptyText) {
  for (bool wide : {true, false}) {
    Bytes full = ElfWithRecord(ProgramRecord(), wide, false);
    ASSERT_EQ(VersionOfBytes(full), "0.2.3.6");
    TempDir dir;
    for (std::size_t n = 0; n < full.size(); ++n) {
      WriteFile(dir / "cut", Bytes(full.begin(), full.begin() + static_cast<long>(n)));
      ASSERT_EQ(VEK::FileVersionText(dir / "cut"), "") << "cut after " << n << " bytes";
    }
  }
}

TEST(VersionText, DamagedHeadersAndSectionsGiveTheEmptyText) {
  ElfWriter elf(true, false);
  const Bytes good = ElfWithRecord(ProgramRecord());
  const std::size_t shoff = 0x28, shentsize = 0x3A, shnum = 0x3C, shstrndx = 0x3E;
  std::uint64_t tableAt = 0;
  for (int i = 7; i >= 0; --i) tableAt = (tableAt << 8) | good[shoff + i];
  const std::size_t versionHeader = tableAt + 2 * 64;  // null, .text, then the record's section

  const struct {
    const char* name;
    std::size_t at;
    int width;
    std::uint64_t value;
  } damage[] = {
      {"bad class", 4, 1, 3},
      {"bad byte order", 5, 1, 0},
      {"no section table", shoff, 8, 0},
      {"section table past the end", shoff, 8, ~std::uint64_t{0} - 8},
      {"section entries too small", shentsize, 2, 16},
      {"section count far too large", shnum, 2, 0xFFF0},
      {"name table index out of range", shstrndx, 2, 9},
      {"huge count through section 0", shnum, 2, 0},
      {"name offset past the name table", versionHeader, 4, 0xFFFFFFF0},
      {"record offset past the end", versionHeader + 24, 8, ~std::uint64_t{0} - 4},
      {"record size past the end", versionHeader + 32, 8, 0x7FFFFFFFFFFFFFFF},
      {"record size zero", versionHeader + 32, 8, 0},
  };
  for (const auto& d : damage) {
    Bytes file = good;
    elf.Store(file, d.at, d.width, d.value);
    if (std::string(d.name) == "huge count through section 0") elf.Store(file, tableAt + 32, 8, ~std::uint64_t{0});
    EXPECT_EQ(VersionOfBytes(file), "") << d.name;
  }
}

TEST(VersionText, DamagedRecordsGiveTheEmptyText) {
  const Bytes good = ProgramRecord();
  const struct {
    const char* name;
    std::size_t at;
    unsigned char value;
  } damage[] = {
      {"root longer than the section", 1, 0xFF},
      {"root shorter than its header", 0, 2},
      {"root value longer than the root", 3, 0x7F},
      {"root key not the version block", 4, 'X'},
  };
  for (const auto& d : damage) {
    Bytes record = good;
    record[d.at] = d.value;
    if (d.at == 0) record[1] = 0;
    EXPECT_EQ(VersionOfBytes(ElfWithRecord(record)), "") << d.name;
  }

  // Every child length in turn made to overrun its parent.
  std::size_t damaged = 0;
  for (std::size_t at = 4; at + 4 <= good.size(); at += 4) {
    auto key = std::string(reinterpret_cast<const char*>(good.data() + at + 4), std::min<std::size_t>(11, good.size() - at - 4));
    if (key.rfind("StringFileI", 0) != 0 && key.rfind("100904E4", 0) != 0 && key.rfind("FileVersion", 0) != 0) continue;
    Bytes record = good;
    record[at] = 0xF0;
    record[at + 1] = 0x0F;
    EXPECT_EQ(VersionOfBytes(ElfWithRecord(record)), "") << "node at " << at;
    ++damaged;
  }
  EXPECT_EQ(damaged, 3u);
}

TEST(VersionText, RandomBytesAfterTheMagicNeverCrash) {
  std::mt19937 random(20240611);
  TempDir dir;
  const Bytes good = ElfWithRecord(ProgramRecord());
  for (int round = 0; round < 300; ++round) {
    Bytes file = good;
    // A handful of bytes overwritten anywhere, the ELF magic kept so that the
    // reader goes past its first check.
    for (int k = 0; k < 6; ++k) file[4 + random() % (file.size() - 4)] = static_cast<unsigned char>(random());
    WriteFile(dir / "noise", file);
    // Whatever comes back can only be bytes of the file itself.
    std::string got = VEK::FileVersionText(dir / "noise");
    Bytes text(got.begin(), got.end());
    EXPECT_NE(std::search(file.begin(), file.end(), text.begin(), text.end()), file.end()) << "round " << round;
  }
}

}  // namespace
