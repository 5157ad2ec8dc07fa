// The registry file store: its text form, hand-edited input, bad files,
// failed writes and copies of the program writing at the same time.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <functional>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "file/SafeOutput.h"
#include "file/SystemCalls.h"
#include "lang/Language.h"
#include "settings/Config.h"
#include "settings/ExplorerAviHandler.h"
#include "settings/Registry.h"
#include "settings/RegistryStore.h"
#include "support/FaultySystemCalls.h"
#include "support/TempDir.h"

namespace {

using VEKRegistry::FileStore;
using VEKRegistry::Registry;
using VEKRegistry::Root;
using VEKRegistry::Tree;

using ZantrelTest::ReadText;

void WriteText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    VEK::SetLanguage(VEK::English);
  }
  void TearDown() override {
    VEK::SetLanguage(VEK::English);
    VEKFile::SetSystemCalls(nullptr);
  }
  std::string FileName() const { return dir_ / "zantrel/registry.reg"; }
  std::string Folder() const { return dir_ / "zantrel"; }

  ZantrelTest::TempDir dir_;
  const ZantrelTest::ConfigHome home_{dir_.Path()};
};

TEST_F(SettingsFile, LivesUnderXdgConfigHomeOrElseTheHomeConfigFolder) {
  EXPECT_EQ(VEKRegistry::DefaultRegistryFileName(), dir_.Path() + "/zantrel/registry.reg");
  const char* home = std::getenv("HOME");
  const std::string oldHome = home ? home : "";
  ::setenv("HOME", "/home/someone", 1);
  for (const char* ignored : {"", "relative/config"}) {
    ::setenv("XDG_CONFIG_HOME", ignored, 1);
    EXPECT_EQ(VEKRegistry::DefaultRegistryFileName(), "/home/someone/.config/zantrel/registry.reg") << ignored;
  }
  ::setenv("HOME", oldHome.c_str(), 1);
}

TEST_F(SettingsFile, WritesTheRegedit4TextAndCreatesTheFolderWithTheFirstKey) {
  FileStore store(FileName());
  Registry reg(store);
  EXPECT_FALSE(reg.OpenKey("Software\\Zantrel\\0.2\\Layout", false));
  EXPECT_FALSE(ZantrelTest::Exists(Folder())) << "opening without creation must not touch the disk";

  ASSERT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2\\Layout", true));
  reg.WriteInteger("Files.Column(0).Width", 250);
  reg.WriteInteger("Negative", -2);
  ASSERT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2\\Files", true));
  reg.WriteString("Prefix", "Zantrel.");
  reg.WriteString("Path", "C:\\a \"b\"");
  reg.WriteString("", "default");
  reg.SetRoot(Root::ClassesRoot);
  ASSERT_TRUE(reg.OpenKey("SystemFileAssociations\\.avi", true));

  EXPECT_EQ(ReadText(FileName()),
            "REGEDIT4\n\n"
            "[HKEY_CURRENT_USER\\Software]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Zantrel]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2]\n\n"
            "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Layout]\n"
            "\"Files.Column(0).Width\"=dword:000000fa\n"
            "\"Negative\"=dword:fffffffe\n\n"
            "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Files]\n"
            "\"Prefix\"=\"Zantrel.\"\n"
            "\"Path\"=\"C:\\\\a \\\"b\\\"\"\n"
            "@=\"default\"\n\n"
            "[HKEY_CLASSES_ROOT\\SystemFileAssociations]\n\n"
            "[HKEY_CLASSES_ROOT\\SystemFileAssociations\\.avi]\n\n");
  struct stat st;
  ASSERT_EQ(::stat(Folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(SettingsFile, ValuesReadBackAsWrittenThroughAFreshStore) {
  const std::int32_t integers[] = {0, 1, -1, 250, INT_MAX, INT_MIN};
  const std::string strings[] = {"", "Zantrel.", "back\\slash", "\"quoted\"", "two\nlines\r\n", "caf\xE9 \xC3\xA9",
                                 "trailing\\"};
  {
    FileStore store(FileName());
    Registry reg(store);
    ASSERT_TRUE(reg.OpenKey("Software\\Values", true));
    for (std::size_t i = 0; i < std::size(integers); ++i) reg.WriteInteger("I" + std::to_string(i), integers[i]);
    for (std::size_t i = 0; i < std::size(strings); ++i) reg.WriteString("S" + std::to_string(i), strings[i]);
    reg.WriteString("Cut", std::string("before\0after", 12));
  }
  FileStore store(FileName());
  Registry reg(store);
  ASSERT_TRUE(reg.OpenKey("software\\VALUES", false)) << "key names ignore letter case";
  for (std::size_t i = 0; i < std::size(integers); ++i) EXPECT_EQ(reg.ReadInteger("I" + std::to_string(i)), integers[i]);
  for (std::size_t i = 0; i < std::size(strings); ++i) EXPECT_EQ(reg.ReadString("s" + std::to_string(i)), strings[i]);
  EXPECT_EQ(reg.ReadString("Cut"), "before");
  // The text stays one value per line: the line breaks went out as bytes.
  EXPECT_NE(ReadText(FileName()).find("\"S4\"=hex(1):74,77,6f,0a,6c,69,6e,65,73,0d,0a,00\n"), std::string::npos);
}

TEST_F(SettingsFile, ReadsTheFormsOtherWritersUse) {
  WriteText(FileName(),
            "\xEF\xBB\xBFREGEDIT4\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Hand]\r\n"
            "\"Short\"=dword:FA\r\n"
            "\"Expand\"=hex(2):25,54,45,4d,50,25,00\r\n"
            "\"Sz\"=hex(1):61,62,00\r\n"
            "\"Dword4\"=hex(4):01,02,00,00\r\n"
            "\"Twice\"=dword:00000001\r\n"
            "\"twice\"=dword:00000002\r\n"
            "\"EmptyExpand\"=hex(2):\r\n"
            "  \"Spaced\" = \"x\"\r\n"
            "\"Long\"=hex(2):41,42,\\\r\n"
            "  43,00\r\n");
  FileStore store(FileName());
  Registry reg(store);
  ASSERT_TRUE(reg.OpenKey("Software\\Hand", false));
  EXPECT_EQ(reg.ReadInteger("Short"), 250);
  EXPECT_EQ(reg.ReadString("Expand"), "%TEMP%") << "taken unchanged, nothing expanded";
  EXPECT_EQ(reg.ReadString("Sz"), "ab");
  EXPECT_EQ(reg.ReadInteger("Dword4"), 0x201);
  EXPECT_EQ(reg.ReadInteger("TWICE"), 2) << "the later line wins, as in an import";
  EXPECT_EQ(reg.ReadString("EmptyExpand"), "");
  EXPECT_EQ(reg.ReadString("Spaced"), "x");
  EXPECT_EQ(reg.ReadString("Long"), "ABC");
}

// The text in another encoding, through the C library's converter.
std::string Encoded(const std::string& utf8, const char* encoding) {
  const iconv_t cd = ::iconv_open(encoding, "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1)) << encoding;
  std::string in = utf8, out(utf8.size() * 4 + 4, '\0');
  char* from = in.data();
  char* to = out.data();
  std::size_t left = in.size(), room = out.size();
  EXPECT_NE(::iconv(cd, &from, &left, &to, &room), static_cast<std::size_t>(-1)) << encoding;
  ::iconv_close(cd);
  out.resize(out.size() - room);
  return out;
}

// Every line ended by `end`, or, when end is empty, by LF, CR LF and CR in turn.
std::string WithLineEnds(const std::string& text, const std::string& end) {
  static const char* const mixed[] = {"\n", "\r\n", "\r"};
  std::string out;
  std::size_t n = 0;
  for (char c : text) {
    if (c != '\n')
      out += c;
    else
      out += end.empty() ? mixed[n++ % 3] : end;
  }
  return out;
}

// Everything a tree holds, lines written back included, one key a line.
std::string Dump(const Tree& tree) {
  std::string all;
  for (const auto& key : tree.Keys()) {
    all += "[" + key.Path + "]";
    for (const auto& v : key.Values) {
      all += " {" + v.Name + "|" + std::to_string(static_cast<int>(v.Kind)) + "|" + std::to_string(v.Number) + "|" +
             v.Text + "|";
      for (const auto& line : v.Lines) all += line + "/";
      all += "}";
    }
    all += "\n";
  }
  return all;
}

// One set of settings in our own form, and as Windows' registry editor
// exports it: the same values, with its text values (hex(1), hex(2),
// hex(7)) in UTF-16 LE, long ones wrapped as it wraps them.
const char OwnForm[] =
    "REGEDIT4\n\n"
    "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2]\n"
    "\"Language\"=dword:00000000\n\n"
    "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Files]\n"
    "\"Prefix\"=\"R\xC3\xA9par\xF0\x9F\x98\x80.\"\n"
    "\"KeepOriginal\"=dword:00000001\n"
    "\"DisableAviHandler\"=hex(4):01,00,00,00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Other\\\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87]\n"
    "; a comment\n"
    "@=\"d\xC3\xA9" "faut\"\n"
    "\"Path\"=hex(2):25,54,45,4d,50,25,5c,c3,a9,00\n"
    "\"Sz\"=hex(1):61,f0,9f,98,80,00\n"
    "\"Multi\"=hex(7):61,00,c3,a9,00,00\n"
    "\"Blob\"=hex:de,ad,be,ef\n"
    "\"Q\"=hex(b):01,00,00,00,00,00,00,00\n\n";
const char WindowsForm[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2]\n"
    "\"Language\"=dword:00000000\n\n"
    "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Files]\n"
    "\"Prefix\"=\"R\xC3\xA9par\xF0\x9F\x98\x80.\"\n"
    "\"KeepOriginal\"=dword:00000001\n"
    "\"DisableAviHandler\"=hex(4):01,00,00,00\n\n"
    "[HKEY_CURRENT_USER\\Software\\Other\\\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87]\n"
    "; a comment\n"
    "@=\"d\xC3\xA9" "faut\"\n"
    "\"Path\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,\\\n"
    "  5c,00,e9,00,00,00\n"
    "\"Sz\"=hex(1):61,00,3d,d8,00,de,00,00\n"
    "\"Multi\"=hex(7):61,00,00,00,e9,00,00,00,00,00\n"
    "\"Blob\"=hex:de,ad,be,ef\n"
    "\"Q\"=hex(b):01,00,00,00,00,00,00,00\n\n";

TEST_F(SettingsFile, ReadsWindowsExportsAndEveryLineEndAsTheSameSettingsInOurOwnForm) {
  const std::string own = OwnForm, windows = WindowsForm;
  const struct {
    const char* name;
    std::string text;
    const char* lineEnd;  // of the file written back
  } cases[] = {
      {"UTF-16 LE, REGEDIT4", "\xFF\xFE" + Encoded(WithLineEnds(own, "\r\n"), "UTF-16LE"), "\r\n"},
      {"UTF-16 LE, Version 5.00", "\xFF\xFE" + Encoded(WithLineEnds(windows, "\r\n"), "UTF-16LE"), "\r\n"},
      {"UTF-16 BE, Version 5.00", "\xFE\xFF" + Encoded(WithLineEnds(windows, "\r\n"), "UTF-16BE"), "\r\n"},
      {"UTF-16 LE, Version 5.00, CR", "\xFF\xFE" + Encoded(WithLineEnds(windows, "\r"), "UTF-16LE"), "\n"},
      {"UTF-8, Version 5.00", windows, "\n"},
      {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" + own, "\n"},
      {"CR", WithLineEnds(own, "\r"), "\n"},
      {"CR LF", WithLineEnds(own, "\r\n"), "\r\n"},
      {"LF, CR LF and CR mixed", WithLineEnds(own, ""), "\n"},
  };
  const std::string oracle = Dump(Tree::Parse(own, "oracle"));
  {
    // The oracle holds what the rows are meant to carry.
    WriteText(FileName(), own);
    FileStore store(FileName());
    Registry reg(store);
    ASSERT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2\\Files", false));
    EXPECT_EQ(reg.ReadString("Prefix"), "R\xC3\xA9par\xF0\x9F\x98\x80.");
    EXPECT_TRUE(reg.ReadBool("DisableAviHandler"));
    ASSERT_TRUE(reg.OpenKey("Software\\Other\\\xD0\x9A\xD0\xBB\xD1\x8E\xD1\x87", false));
    EXPECT_EQ(reg.ReadString("Path"), "%TEMP%\\\xC3\xA9");
    EXPECT_EQ(reg.ReadString("Sz"), "a\xF0\x9F\x98\x80");
    EXPECT_EQ(reg.ReadString(""), "d\xC3\xA9" "faut");
  }
  // What a write makes of the oracle.
  const std::string ownAfter = dir_ / "own.reg";
  WriteText(ownAfter, own);
  {
    FileStore store(ownAfter);
    Registry reg(store);
    ASSERT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2\\Placement", true));
    reg.WriteInteger("Left", 7);
  }
  const std::string oracleAfter = Dump(Tree::Parse(ReadText(ownAfter), "oracle"));
  for (const auto& c : cases) {
    WriteText(FileName(), c.text);
    EXPECT_EQ(Dump(FileStore(FileName()).Read()), oracle) << c.name;
    FileStore store(FileName());
    Registry reg(store);
    ASSERT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2\\Placement", true)) << c.name;
    reg.WriteInteger("Left", 7);
    // Written back in our own form, and read back as the oracle after the
    // same write: nothing was lost on the way.
    const std::string after = ReadText(FileName());
    const std::string start = std::string(c.text.substr(0, 3) == "\xEF\xBB\xBF" ? "\xEF\xBB\xBF" : "") + "REGEDIT4" +
                              c.lineEnd + c.lineEnd + "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2]" + c.lineEnd;
    EXPECT_EQ(after.substr(0, start.size()), start) << c.name;
    EXPECT_EQ(after.find('\0'), std::string::npos) << c.name;
    EXPECT_EQ(Dump(Tree::Parse(after, "after")), oracleAfter) << c.name;
  }
}

TEST_F(SettingsFile, KeepsWhatItDoesNotKnowWhenWritingAgain) {
  const std::string foreign =
      "REGEDIT4\n\n"
      "; kept by hand\n\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
      "\"Blob\"=hex:de,ad,be,ef\n\n"
      "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Files]\n"
      "; a note about the prefix\n"
      "\"Short\"=dword:fa\n"
      "\"Multi\"=hex(7):61,00,62,00,00,\\\n"
      "  00\n"
      "\"Qword\"=hex(b):01,00,00,00,00,00,00,00\n"
      "\"Gone\"=-\n\n";
  WriteText(FileName(), foreign);
  FileStore store(FileName());
  Registry reg(store);
  ASSERT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2\\Files", false));
  reg.WriteString("Prefix", "New.");
  EXPECT_EQ(ReadText(FileName()),
            "REGEDIT4\n\n"
            "; kept by hand\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
            "\"Blob\"=hex:de,ad,be,ef\n\n"
            "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Files]\n"
            "; a note about the prefix\n"
            "\"Short\"=dword:fa\n"
            "\"Multi\"=hex(7):61,00,62,00,00,\\\n"
            "  00\n"
            "\"Qword\"=hex(b):01,00,00,00,00,00,00,00\n"
            "\"Gone\"=-\n"
            "\"Prefix\"=\"New.\"\n\n");
}

TEST_F(SettingsFile, WrongTypesFailWithAnErrorNamingTheValueAndKey) {
  WriteText(FileName(),
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\T]\n\"Text\"=\"5\"\n\"Number\"=dword:00000005\n"
            "\"Binary\"=hex:05,00,00,00\n@=dword:00000001\n\n");
  FileStore store(FileName());
  Registry reg(store);
  ASSERT_TRUE(reg.OpenKey("Software\\T", false));
  const struct {
    std::function<void()> read;
    std::string english, french;
  } cases[] = {
      {[&] { reg.ReadInteger("Text"); },
       "Invalid data type for value \"Text\" in registry key \"HKEY_CURRENT_USER\\Software\\T\".",
       "Type de données invalide pour la valeur \"Text\" de la clé de registre \"HKEY_CURRENT_USER\\Software\\T\"."},
      {[&] { reg.ReadBool("Binary"); },
       "Invalid data type for value \"Binary\" in registry key \"HKEY_CURRENT_USER\\Software\\T\".", ""},
      {[&] { reg.ReadString("Number"); },
       "Invalid data type for value \"Number\" in registry key \"HKEY_CURRENT_USER\\Software\\T\".", ""},
      {[&] { reg.ReadString(""); },
       "Invalid data type for value \"(Default)\" in registry key \"HKEY_CURRENT_USER\\Software\\T\".",
       "Type de données invalide pour la valeur \"(par défaut)\" de la clé de registre "
       "\"HKEY_CURRENT_USER\\Software\\T\"."},
  };
  for (const auto& c : cases) {
    for (std::int8_t language : {VEK::English, VEK::French}) {
      const std::string& expected = language == VEK::English ? c.english : c.french;
      if (expected.empty()) continue;
      VEK::SetLanguage(language);
      try {
        c.read();
        ADD_FAILURE() << "no error for " << expected;
      } catch (const VEKRegistry::Exception& e) {
        EXPECT_EQ(e.Message(), expected);
      }
    }
  }
}

TEST_F(SettingsFile, MalformedFileIsReportedWithItsLineAndNeverWrittenOver) {
  const struct {
    std::string text;
    int line;
    const char* reason;
  } cases[] = {
      {"Windows Registry Editor Version 4.00\n\n", 1,
       "the first line must be REGEDIT4 or Windows Registry Editor Version 5.00"},
      {"REGEDIT4 \xFF\xFE\n", 1, "the first line must be REGEDIT4 or Windows Registry Editor Version 5.00"},
      // Lines that end in CR alone count as lines.
      {"REGEDIT4\r\r[HKEY_CURRENT_USER\\A]\rgarbage\r", 4, "the line cannot be read"},
      {"REGEDIT4\n\r\n\r[HKEY_CURRENT_USER\\A]\r\r\n\"L\"=hex:00,\\\r  zz\n", 5,
       "the hexadecimal bytes cannot be read"},
      // UTF-16 that is not: a lone low surrogate, an odd last byte, a high
      // surrogate without its low half (big-endian).
      {std::string("\xFF\xFER\0E\0G\0E\0D\0I\0T\0004\0\r\0\n\0\x00\xDC", 24), 2,
       "the UTF-16 text cannot be read"},
      {std::string("\xFF\xFER\0E\0G\0E\0D\0I\0T\0004\0\r", 19), 1, "the UTF-16 text cannot be read"},
      {std::string("\xFE\xFF\0R\0E\0G\0E\0D\0I\0T\0004\0\r\0\r\0\r\xD8\x3D\0A", 28), 4,
       "the UTF-16 text cannot be read"},
      // The text values of a Version 5.00 file hold UTF-16 LE.
      {"Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n\"S\"=hex(2):41,00,42\n", 4,
       "the value's UTF-16 text cannot be read"},
      {"Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A]\n\"M\"=hex(7):3d,d8,00,00\n", 4,
       "the value's UTF-16 text cannot be read"},
      {"REGEDIT4\n\n\"Early\"=dword:1\n", 3, "a value appears before any key"},
      {"REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\n", 3, "the key name is not closed by ']'"},
      {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"Width\"=dword:1234567890\n", 4, "a dword needs 1 to 8 hexadecimal digits"},
      {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"Width\"=dword:12z4\n", 4, "a dword needs 1 to 8 hexadecimal digits"},
      {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"Prefix\"=\"open\n\n", 4, "the string is not closed by '\"'"},
      {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"Name=\"x\"\n", 4, "'=' is missing after the value name"},
      {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"Name\"=hex(2):41,4g\n", 4, "the hexadecimal bytes cannot be read"},
      {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"X\"=1\n", 4, "the value's data cannot be read"},
      {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\ngarbage\n", 4, "the line cannot be read"},
      {"REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"L\"=hex:00,\\\n  zz\n\"Ok\"=dword:1\n", 3, "the hexadecimal bytes cannot be read"},
  };
  for (const auto& c : cases) {
    WriteText(FileName(), c.text);
    FileStore store(FileName());
    Registry reg(store);
    const std::string expected =
        "Registry file \"" + FileName() + "\", line " + std::to_string(c.line) + ": " + c.reason + ".";
    try {
      reg.OpenKey("Software\\Zantrel\\0.2", false);
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const VEKRegistry::Exception& e) {
      EXPECT_EQ(e.Message(), expected);
    }
    // A write must not replace what it could not read.
    EXPECT_THROW(reg.OpenKey("Software\\Zantrel\\0.2", true), VEKRegistry::Exception);
    EXPECT_THROW(reg.DeleteKey("Software"), VEKRegistry::Exception);
    EXPECT_EQ(ReadText(FileName()), c.text);
  }
  VEK::SetLanguage(VEK::French);
  try {
    FileStore store(FileName());
    store.Read();
    ADD_FAILURE();
  } catch (const VEKRegistry::Exception& e) {
    EXPECT_EQ(e.Message(),
              "Fichier de registre \"" + FileName() + "\", ligne 3 : les octets hexadécimaux sont illisibles.");
  }
}

// Counts the opens of one file, and can hide it from stat, as a file put
// there between the stat and the open would be.
class WatchedOpens : public VEKFile::SystemCalls {
 public:
  explicit WatchedOpens(std::string name) : name_(std::move(name)) {}
  int Open(const char* path, int flags, mode_t mode) override {
    if (name_ == path) ++opens;
    return SystemCalls::Open(path, flags, mode);
  }
  int Stat(const char* path, struct stat* st) override {
    if (hidden && name_ == path) {
      errno = ENOENT;
      return -1;
    }
    return SystemCalls::Stat(path, st);
  }
  int opens = 0;
  bool hidden = false;

 private:
  std::string name_;
};

TEST_F(SettingsFile, AFolderOrAFifoAtTheFileNameIsRefusedAtOnceAndLeftAsItIs) {
  const struct {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* english;
    const char* french;
  } cases[] = {
      {"folder", [](const std::string& path) { std::filesystem::create_directories(path); }, "is a folder, not a file",
       "est un dossier, pas un fichier"},
      {"FIFO", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
       "is a named pipe (FIFO), not a file", "est un tube nommé (FIFO), pas un fichier"},
  };
  for (const auto& c : cases) {
    for (bool hidden : {false, true}) {
      const std::string label = std::string(c.name) + (hidden ? ", put there after the stat" : "");
      std::filesystem::remove_all(FileName());
      std::filesystem::create_directories(Folder());
      c.make(FileName());
      WatchedOpens watch(FileName());
      watch.hidden = hidden;
      VEKFile::SetSystemCalls(&watch);
      for (auto language : {VEK::English, VEK::French}) {
        VEK::SetLanguage(language);
        try {
          FileStore(FileName()).Read();
          ADD_FAILURE() << label;
        } catch (const VEKRegistry::Exception& e) {
          EXPECT_EQ(e.Message(), language == VEK::English
                                     ? "Registry file \"" + FileName() + "\" " + c.english + "."
                                     : "Le fichier de registre \"" + FileName() + "\" " + c.french + ".")
              << label;
        }
      }
      VEK::SetLanguage(VEK::English);
      FileStore store(FileName());
      Config config;
      EXPECT_THROW(config.Load(store), VEKRegistry::Exception) << label;
      EXPECT_THROW(config.Save(store), VEKRegistry::Exception) << label;
      VEKFile::SetSystemCalls(nullptr);
      // Only a stat that missed it lets the open (without waiting) see it.
      EXPECT_EQ(watch.opens > 0, hidden) << label;
      struct stat st;
      ASSERT_EQ(::lstat(FileName().c_str(), &st), 0) << label;
      EXPECT_EQ(S_ISDIR(st.st_mode), std::string(c.name) == "folder") << label;
      EXPECT_EQ(S_ISFIFO(st.st_mode), std::string(c.name) == "FIFO") << label;
      if (S_ISDIR(st.st_mode)) EXPECT_TRUE(std::filesystem::is_empty(FileName())) << label;
    }
  }
}

TEST_F(SettingsFile, EmptyOrMissingFileIsAnEmptyRegistry) {
  FileStore store(FileName());
  EXPECT_TRUE(store.Read().Keys().empty());
  WriteText(FileName(), "");
  EXPECT_TRUE(store.Read().Keys().empty());
}

// A disk that fills up half-way through the new file.
class FullDisk : public VEKFile::SystemCalls {
 public:
  ssize_t PWriteV(int fd, const struct iovec* iov, int iovcnt, off_t offset) override {
    if (++calls == 1) {
      struct iovec half{iov[0].iov_base, iov[0].iov_len / 2};
      return SystemCalls::PWriteV(fd, &half, 1, offset);
    }
    (void)iovcnt;
    errno = ENOSPC;
    return -1;
  }
  int calls = 0;
};

TEST_F(SettingsFile, FailedWriteLeavesThePreviousFileWholeAndNoTemporaryBehind) {
  FileStore store(FileName());
  Registry reg(store);
  ASSERT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2\\Files", true));
  reg.WriteString("Prefix", "Old.");
  const std::string before = ReadText(FileName());

  FullDisk disk;
  VEKFile::SetSystemCalls(&disk);
  try {
    reg.WriteString("Prefix", std::string(5000, 'x'));
    ADD_FAILURE() << "a full disk was reported as success";
  } catch (const VEKRegistry::Exception& e) {
    EXPECT_EQ(e.Message(), "Could not write registry file \"" + FileName() + "\": " + std::strerror(ENOSPC) + ".");
  }
  VEKFile::SetSystemCalls(nullptr);
  EXPECT_EQ(disk.calls, 2);
  EXPECT_EQ(ReadText(FileName()), before);
  EXPECT_EQ(reg.ReadString("Prefix"), "Old.");
  for (const auto& entry : std::filesystem::directory_iterator(Folder()))
    EXPECT_TRUE(entry.path().filename() == "registry.reg" || entry.path().filename() == "registry.reg.lock")
        << entry.path();
}

TEST_F(SettingsFile, CopiesWritingAtTheSameTimeKeepEachOthersValues) {
  constexpr int Copies = 4;
  constexpr int ValuesEach = 25;
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int copy = 0; copy < Copies; ++copy) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(gate[1]);
      char go;
      (void)!::read(gate[0], &go, 1);  // returns at EOF, when the parent lets everyone go
      int status = 0;
      try {
        FileStore store(FileName());
        Registry reg(store);
        if (!reg.OpenKey("Software\\Zantrel\\0.2\\Race", true)) status = 2;
        for (int i = 0; i < ValuesEach && status == 0; ++i)
          reg.WriteInteger("Copy" + std::to_string(copy) + "." + std::to_string(i), copy * 1000 + i);
      } catch (...) {
        status = 3;
      }
      ::_exit(status);
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  }
  FileStore store(FileName());
  Registry reg(store);
  ASSERT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2\\Race", false));
  for (int copy = 0; copy < Copies; ++copy)
    for (int i = 0; i < ValuesEach; ++i) {
      const std::string name = "Copy" + std::to_string(copy) + "." + std::to_string(i);
      ASSERT_TRUE(reg.ValueExists(name)) << name << " was lost";
      EXPECT_EQ(reg.ReadInteger(name), copy * 1000 + i);
    }
}

TEST_F(SettingsFile, KeyDeletedByAnotherCopyIsNotBroughtBackByAWrite) {
  FileStore store(FileName());
  Registry first(store);
  ASSERT_TRUE(first.OpenKey("Software\\Zantrel\\0.2", true));
  Registry second(store);
  EXPECT_TRUE(second.DeleteKey("Software\\Zantrel\\0.2"));
  EXPECT_THROW(first.WriteString("CurrentInstance", ""), VEKRegistry::Exception);
  EXPECT_FALSE(second.KeyExists("Software\\Zantrel\\0.2"));
  EXPECT_TRUE(second.KeyExists("Software\\Zantrel"));
}

TEST_F(SettingsFile, DeleteKeyTakesEverySubkeyAndLeavesTheParent) {
  FileStore store(FileName());
  Registry reg(store);
  ASSERT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2\\Layout\\Deep\\Deeper", true));
  ASSERT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2", true));
  reg.WriteInteger("Language", 1);
  ASSERT_TRUE(reg.OpenKey("Software\\Zantrel-Backup\\0.2", true));
  EXPECT_TRUE(reg.DeleteKey("Software\\Zantrel\\0.2"));
  EXPECT_FALSE(reg.KeyExists("Software\\Zantrel\\0.2\\Layout\\Deep\\Deeper"));
  EXPECT_FALSE(reg.KeyExists("Software\\Zantrel\\0.2"));
  EXPECT_TRUE(reg.KeyExists("Software\\Zantrel"));
  EXPECT_TRUE(reg.KeyExists("Software\\Zantrel-Backup\\0.2")) << "a name prefix is not a subkey";
  EXPECT_FALSE(reg.DeleteKey("Software\\Zantrel\\0.2"));
  EXPECT_FALSE(reg.DeleteKey("")) << "the root itself is never deleted";
  EXPECT_TRUE(reg.KeyExists("Software"));
}

// A folder the user may read but not write to.
class ReadOnlyFolder : public VEKFile::SystemCalls {
 public:
  int Open(const char* path, int flags, mode_t mode) override {
    if (flags & O_CREAT) {
      errno = EACCES;
      return -1;
    }
    return SystemCalls::Open(path, flags, mode);
  }
};

TEST_F(SettingsFile, KeyThatCannotBeCreatedIsNotOpenedButARefusedValueWriteIsAnError) {
  FileStore store(FileName());
  Registry reg(store);
  ASSERT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2", true));
  ReadOnlyFolder readOnly;
  VEKFile::SetSystemCalls(&readOnly);
  EXPECT_FALSE(reg.OpenKey("Software\\Zantrel\\0.2\\Layout", true));
  EXPECT_FALSE(reg.HasOpenKey());
  EXPECT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2", true)) << "an existing key needs no write to open";
  EXPECT_THROW(reg.WriteInteger("Language", 1), VEKRegistry::AccessDenied);
  VEKFile::SetSystemCalls(nullptr);
  EXPECT_FALSE(reg.ValueExists("Language"));
}

TEST_F(SettingsFile, LinkedFileStaysALink) {
  const std::string real = dir_ / "dotfiles/registry.reg";
  WriteText(real, "REGEDIT4\n\n");
  std::filesystem::create_directories(Folder());
  std::filesystem::create_symlink(real, FileName());
  FileStore store(FileName());
  Registry reg(store);
  ASSERT_TRUE(reg.OpenKey("Software\\Zantrel", true));
  EXPECT_TRUE(std::filesystem::is_symlink(FileName()));
  EXPECT_NE(ReadText(real).find("[HKEY_CURRENT_USER\\Software\\Zantrel]"), std::string::npos);
}

// The new file is written beside the old one under a name that anybody who
// can write to the folder can take first. Whatever is there is left alone: a
// link there must not lead the settings into another file, and the link must
// not end up renamed over the settings file either.
TEST_F(SettingsFile, WhatIsAlreadyAtTheTemporaryNameIsNeitherFollowedNorOverwritten) {
  enum Planted { Link, OtherCopysFile };
  const struct {
    const char* name;
    Planted planted;
    bool atTheNameUsedBefore;  // else at the first name the store creates
  } cases[] = {
      {"a link at the first name created", Link, false},
      {"another copy's file at the first name created", OtherCopysFile, false},
      {"a link at the process-number name used before", Link, true},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(dir_ / "zantrel");
    const std::string victim = dir_ / "elsewhere/secret";
    WriteText(victim, "secret");
    WriteText(FileName(), "REGEDIT4\n\n");
    std::string plantedAt;
    auto plant = [&](const std::string& at) {
      plantedAt = at;
      if (c.planted == Link) std::filesystem::create_symlink(victim, at);
      else WriteText(at, "theirs");
    };
    if (c.atTheNameUsedBefore) plant(FileName() + "." + std::to_string(::getpid()) + ".tmp");
    ZantrelTest::FaultySystemCalls calls;
    calls.openFilter = [&](const char* path, int flags) {
      const std::string name = path;
      if ((flags & O_CREAT) && plantedAt.empty() && !name.ends_with(".lock")) plant(name);
      return 0;
    };
    {
      ZantrelTest::CallsGuard guard(calls);
      FileStore store(FileName());
      Registry reg(store);
      ASSERT_TRUE(reg.OpenKey("Software\\Zantrel", true)) << c.name;
    }
    ASSERT_FALSE(plantedAt.empty()) << c.name;
    EXPECT_EQ(ReadText(victim), "secret") << c.name;
    EXPECT_FALSE(std::filesystem::is_symlink(FileName())) << c.name;
    EXPECT_NE(ReadText(FileName()).find("[HKEY_CURRENT_USER\\Software\\Zantrel]"), std::string::npos) << c.name;
    if (c.planted == Link) EXPECT_TRUE(std::filesystem::is_symlink(plantedAt)) << c.name;
    else EXPECT_EQ(ReadText(plantedAt), "theirs") << c.name;
  }
}

TEST_F(SettingsFile, NamesThatWouldBreakTheTextAreRefused) {
  FileStore store(FileName());
  Registry reg(store);
  EXPECT_THROW(reg.OpenKey("Software\\Bad\nKey", true), VEKRegistry::Exception);
  EXPECT_THROW(reg.OpenKey("Software\\\\Empty", true), VEKRegistry::Exception);
  ASSERT_TRUE(reg.OpenKey("Software\\Good", true));
  EXPECT_THROW(reg.WriteInteger("Bad\nName", 1), VEKRegistry::Exception);
  EXPECT_NO_THROW(FileStore(FileName()).Read());
}

// Counts what reaches the disk: reads of the registry file, writer locks and
// new files, each of which a rename puts over the old one.
class CountingCalls : public VEKFile::SystemCalls {
 public:
  explicit CountingCalls(std::string fileName) : fileName_(std::move(fileName)) {}
  int Open(const char* path, int flags, mode_t mode) override {
    const std::string name = path;
    if ((flags & O_CREAT) && name.ends_with(VEKFile::SafeOutput::PartialSuffix)) ++replaces;
    if ((flags & O_ACCMODE) == O_RDONLY && name == fileName_) ++reads;
    return SystemCalls::Open(path, flags, mode);
  }
  int Flock(int fd, int operation) override {
    if (operation & LOCK_EX) ++locks;
    return SystemCalls::Flock(fd, operation);
  }
  int reads = 0, locks = 0, replaces = 0;

 private:
  std::string fileName_;
};

// The settings the program saves, as a hand-edited Windows file holds them:
// CR LF, a byte-order mark, comments, keys of other programs between its
// own, a value of a type it does not know.
std::string ForeignSettingsFile() {
  return "\xEF\xBB\xBFREGEDIT4\r\n\r\n; exported by hand\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Other]\r\n\"Blob\"=hex:de,ad,\\\r\n  be,ef\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2]\r\n\"Language\"=dword:00000000\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Layout]\r\n; widths in pixels\r\n"
         "\"Files.Column(0).Width\"=dword:000000fa\r\n\"Files.Column(1).Width\"=dword:0000015e\r\n"
         "\"Files.Width\"=dword:00000064\r\n\"Mine\"=hex(7):61,00,00\r\n"
         "\"Files.Column(3).Width\"=dword:000000fa\r\n\"Files.Column(3).Visible\"=dword:00000000\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Placement]\r\n\"Left\"=dword:0000000a\r\n"
         "\"Top\"=dword:00000014\r\n\"Width\"=dword:00000228\r\n\"Height\"=dword:00000190\r\n"
         "\"StayOnTop\"=dword:00000000\r\n\"ShowWindow\"=dword:00000001\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Messages]\r\n\"AutoClear\"=dword:00000001\r\n"
         "\"SelectedFile\"=dword:00000001\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Prompts]\r\n\"ModifyOriginalPrompt\"=dword:00000001\r\n"
         "\"OverwritePrompt\"=dword:00000001\r\n\"StopPrompt\"=dword:00000001\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Behaviors]\r\n\"OverwriteBehavior\"=dword:00000000\r\n\r\n"
         "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Files]\r\n\"Prefix\"=\"Zantrel.\"\r\n"
         "\"DisableAviHandler\"=dword:00000000\r\n\"SkipHealthy\"=dword:00000000\r\n"
         "\"KeepOriginal\"=dword:00000001\r\n\r\n"
         "[HKEY_LOCAL_MACHINE\\Software\\Last]\r\n@=\"x\"\r\n\r\n";
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST_F(SettingsFile, LoadReadsTheFileOnceAndSaveReplacesItOnceUnderTheLock) {
  const std::string foreign = ForeignSettingsFile();
  const std::string moved = Replaced(foreign, "\"Left\"=dword:0000000a", "\"Left\"=dword:0000002a");
  const std::string migrated = Replaced(
      Replaced(foreign, "\"KeepOriginal\"=dword:00000001\r\n", "\"BackupFiles\"=dword:00000000\r\n"),
      "\"StopPrompt\"=dword:00000001\r\n", "\"StopPrompt\"=dword:00000001\r\n\"BackupWarning\"=dword:00000000\r\n");
  const std::string handlerOn = foreign + "[HKEY_CLASSES_ROOT\\" + ExplorerAviHandlerKeys::Handler + "]\r\n@=\"{h}\"\r\n\r\n";
  const std::string empty = "REGEDIT4\n\n";
  const struct {
    const char* name;
    std::string before;
    bool viaLink;
    std::function<void(Config&, VEKRegistry::Store&)> run;
    int reads, locks, replaces;
    std::string after;  // empty: the file is not compared
  } cases[] = {
      {"load", foreign, false, [](Config& c, auto& s) { c.Load(s); }, 1, 0, 0, foreign},
      {"save of what was loaded", foreign, false, [](Config& c, auto& s) { c.Load(s), c.Save(s); }, 3, 1, 0, foreign},
      {"save of a moved window", foreign, false,
       [](Config& c, auto& s) { c.Load(s), c.Left = 42, c.Save(s); }, 3, 1, 1, moved},
      {"the same through a link", foreign, true,
       [](Config& c, auto& s) { c.Load(s), c.Left = 42, c.Save(s); }, 3, 1, 1, moved},
      {"load renaming two older values", migrated, false, [](Config& c, auto& s) { c.Load(s); }, 2, 1, 1,
       Replaced(Replaced(foreign, "\"KeepOriginal\"=dword:00000001", "\"KeepOriginal\"=dword:00000000"),
                "\"ModifyOriginalPrompt\"=dword:00000001", "\"ModifyOriginalPrompt\"=dword:00000000")},
      {"first save, every key made", empty, false, [](Config& c, auto& s) { c.Save(s); }, 2, 1, 1, ""},
      {"save switching the handler off", handlerOn, false,
       [](Config& c, auto& s) { c.Load(s), c.DisableAviHandler = true, c.Save(s); }, 3, 1, 1, ""},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(dir_.Path());
    std::filesystem::create_directories(dir_.Path());
    std::string written = FileName();
    if (c.viaLink) {
      written = dir_ / "dotfiles/registry.reg";
      std::filesystem::create_directories(Folder());
      std::filesystem::create_symlink(written, FileName());
    }
    WriteText(written, c.before);
    struct stat st;
    ASSERT_EQ(::stat(written.c_str(), &st), 0);
    const ino_t inode = st.st_ino;

    CountingCalls calls(FileName());
    VEKFile::SetSystemCalls(&calls);
    Config config;
    FileStore store(FileName());
    c.run(config, store);
    VEKFile::SetSystemCalls(nullptr);

    EXPECT_EQ(calls.reads, c.reads) << c.name;
    EXPECT_EQ(calls.locks, c.locks) << c.name;
    EXPECT_EQ(calls.replaces, c.replaces) << c.name;
    ASSERT_EQ(::stat(written.c_str(), &st), 0);
    EXPECT_EQ(st.st_ino != inode, c.replaces > 0) << c.name << ": a replace is a rename over the file";
    if (!c.after.empty()) {
      EXPECT_EQ(ReadText(FileName()), c.after) << c.name;
    }
    EXPECT_EQ(std::filesystem::is_symlink(FileName()), c.viaLink) << c.name;
    Config back;
    back.Load(store);
    EXPECT_EQ(back.Left, config.Left) << c.name;
    EXPECT_EQ(back.KeepOriginal, config.KeepOriginal) << c.name;
    EXPECT_EQ(back.DisableAviHandler, config.DisableAviHandler) << c.name;
  }
}

TEST_F(SettingsFile, LoadAndSaveLeaveAFileTheyCannotReadAsItIs) {
  for (const std::string& text : {std::string("REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\ngarbage\n"),
                                  ForeignSettingsFile() + "\"Orphan\"=dword:1\r\n[HKEY_CURRENT_USER\r\n"}) {
    WriteText(FileName(), text);
    FileStore store(FileName());
    Config config;
    EXPECT_THROW(config.Load(store), VEKRegistry::Exception);
    EXPECT_THROW(config.Save(store), VEKRegistry::Exception);
    EXPECT_EQ(ReadText(FileName()), text);
    for (const auto& entry : std::filesystem::directory_iterator(Folder()))
      EXPECT_TRUE(entry.path().filename() == "registry.reg" || entry.path().filename() == "registry.reg.lock")
          << entry.path();
  }
}

// What another copy of the program does between a batch's read and its
// commit: its values stay, and a key it deleted is not brought back.
TEST_F(SettingsFile, ABatchCommitsOnTopOfWhatOtherCopiesWroteMeanwhile) {
  const struct {
    const char* name;
    std::function<void(Registry&)> meanwhile;
    bool commits, theirs;
  } cases[] = {
      {"another value written", [](Registry& r) { r.WriteInteger("Theirs", 7); }, true, true},
      {"the same value written", [](Registry& r) { r.WriteInteger("Mine", 9); }, true, false},
      {"the key deleted", [](Registry& r) { r.DeleteKey("Software\\Zantrel\\0.2\\Files"); }, false, false},
  };
  for (const auto& c : cases) {
    WriteText(FileName(), "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Files]\n\"Old\"=dword:1\n\n");
    FileStore store(FileName());
    VEKRegistry::Batch batch(store);
    Registry mine(batch);
    ASSERT_TRUE(mine.OpenKey("Software\\Zantrel\\0.2\\Files", false));
    mine.WriteInteger("Mine", 1);
    EXPECT_TRUE(mine.DeleteValue("Old"));
    EXPECT_EQ(mine.ReadInteger("Mine"), 1) << "a batch reads its own changes";
    EXPECT_FALSE(mine.ValueExists("Old"));
    {
      FileStore other(FileName());
      Registry theirs(other);
      ASSERT_TRUE(theirs.OpenKey("Software\\Zantrel\\0.2\\Files", false));
      c.meanwhile(theirs);
    }
    const std::string before = ReadText(FileName());
    if (!c.commits) {
      EXPECT_THROW(batch.Commit(), VEKRegistry::Exception) << c.name;
      EXPECT_EQ(ReadText(FileName()), before) << c.name;
      continue;
    }
    batch.Commit();
    Registry after(store);
    ASSERT_TRUE(after.OpenKey("Software\\Zantrel\\0.2\\Files", false)) << c.name;
    EXPECT_EQ(after.ReadInteger("Mine"), 1) << c.name;
    EXPECT_FALSE(after.ValueExists("Old")) << c.name;
    EXPECT_EQ(after.ValueExists("Theirs"), c.theirs) << c.name;
  }
}

TEST_F(SettingsFile, CopiesSavingTheirSettingsAtTheSameTimeKeepEveryOtherValue) {
  constexpr int Copies = 4;
  constexpr int SavesEach = 10;
  {
    FileStore store(FileName());
    Config().Save(store);
  }
  int gate[2];
  ASSERT_EQ(::pipe(gate), 0);
  std::vector<pid_t> children;
  for (int copy = 0; copy < Copies; ++copy) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(gate[1]);
      char go;
      (void)!::read(gate[0], &go, 1);
      int status = 0;
      try {
        FileStore store(FileName());
        for (int i = 0; i < SavesEach; ++i) {
          Config config;
          config.Load(store);
          config.Left = copy * 100 + i;
          config.Save(store);
          Registry reg(store);
          if (!reg.OpenKey("Software\\Zantrel\\0.2\\Race", true)) status = 2;
          reg.WriteInteger("Copy" + std::to_string(copy) + "." + std::to_string(i), i);
        }
      } catch (...) {
        status = 3;
      }
      ::_exit(status);
    }
    children.push_back(pid);
  }
  ::close(gate[0]);
  ::close(gate[1]);
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  }
  FileStore store(FileName());
  Config config;
  config.Load(store);
  EXPECT_EQ(config.Left % 100, SavesEach - 1) << "the last save of one of the copies";
  Registry reg(store);
  ASSERT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2\\Race", false));
  for (int copy = 0; copy < Copies; ++copy)
    for (int i = 0; i < SavesEach; ++i)
      EXPECT_TRUE(reg.ValueExists("Copy" + std::to_string(copy) + "." + std::to_string(i)))
          << copy << "." << i << " lost to a save";
}

// The indexes against a plain list searched name by name, over a long run of
// changes: every lookup must agree, whatever was inserted or removed before.
TEST(RegistryTree, IndexedLookupsAgreeWithAScanAfterEveryChange) {
  const std::vector<std::string> paths = {
      "HKEY_CURRENT_USER\\A",          "HKEY_CURRENT_USER\\a\\B",   "HKEY_CURRENT_USER\\A\\b\\C",
      "HKEY_CURRENT_USER\\A-\\D",    "HKEY_CURRENT_USER\\Ab",      "HKEY_CLASSES_ROOT\\A",
      "HKEY_CURRENT_USER\\A\\\xC9t\xE9", "HKEY_CURRENT_USER\\a\\\xE9T\xE9"};
  const std::vector<std::string> names = {"", "x", "X", "Width", "wIDTH", "\xC9", "\xE9", "y"};
  // The plain list: key path and its values (name, number), compared as the
  // registry compares names, by scanning.
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::uint32_t>>>> model;
  const auto modelKey = [&](const std::string& path) {
    return std::find_if(model.begin(), model.end(), [&](const auto& k) { return VEKRegistry::SameName(k.first, path); });
  };
  const auto below = [](const std::string& path, const std::string& ancestor) {
    return path.size() > ancestor.size() + 1 && path[ancestor.size()] == '\\' &&
           VEKRegistry::SameName(path.substr(0, ancestor.size()), ancestor);
  };
  Tree tree;
  unsigned seed = 12345;
  const auto next = [&](std::size_t n) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<std::size_t>((seed >> 16) % n);
  };
  for (int step = 0; step < 3000; ++step) {
    const std::string& path = paths[next(paths.size())];
    const std::string& name = names[next(names.size())];
    switch (next(6)) {
      case 0:
      case 1:
      case 2: {
        VEKRegistry::Value value;
        value.Name = name;
        value.Kind = VEKRegistry::ValueKind::Integer;
        value.Number = static_cast<std::uint32_t>(step);
        tree.SetValue(path, value);
        // SetValue makes the key and those above it below the root.
        for (auto at = path.find('\\', path.find('\\') + 1);; at = path.find('\\', at + 1)) {
          const std::string prefix = path.substr(0, at);
          if (modelKey(prefix) == model.end()) model.push_back({prefix, {}});
          if (at == std::string::npos) break;
        }
        auto& values = modelKey(path)->second;
        const auto v = std::find_if(values.begin(), values.end(),
                                    [&](const auto& p) { return VEKRegistry::SameName(p.first, name); });
        if (v == values.end())
          values.push_back({name, static_cast<std::uint32_t>(step)});
        else
          v->second = static_cast<std::uint32_t>(step);
        break;
      }
      case 3: {
        const auto k = modelKey(path);
        bool existed = false;
        if (k != model.end())
          existed = std::erase_if(k->second, [&](const auto& p) { return VEKRegistry::SameName(p.first, name); }) > 0;
        EXPECT_EQ(tree.DeleteValue(path, name), existed) << step;
        break;
      }
      case 4:
        if (next(8) == 0) {
          const bool existed = std::erase_if(model, [&](const auto& k) {
                                 return VEKRegistry::SameName(k.first, path) || below(k.first, path);
                               }) > 0;
          EXPECT_EQ(tree.DeleteKey(path), existed) << step;
        }
        break;
      default:
        tree.CreateKey(path);
        for (auto at = path.find('\\', path.find('\\') + 1);; at = path.find('\\', at + 1)) {
          const std::string prefix = path.substr(0, at);
          if (modelKey(prefix) == model.end()) model.push_back({prefix, {}});
          if (at == std::string::npos) break;
        }
    }
    for (const std::string& p : paths) {
      const auto k = modelKey(p);
      const bool exists = k != model.end() || std::any_of(model.begin(), model.end(),
                                                          [&](const auto& m) { return below(m.first, p); });
      ASSERT_EQ(tree.KeyExists(p), exists) << step << " " << p;
      for (const std::string& n : names) {
        const VEKRegistry::Value* found = tree.FindValue(p, n);
        std::optional<std::uint32_t> expected;
        if (k != model.end())
          for (const auto& [vn, number] : k->second)
            if (VEKRegistry::SameName(vn, n)) expected = number;
        ASSERT_EQ(found != nullptr, expected.has_value()) << step << " " << p << " " << n;
        if (found) {
          ASSERT_EQ(found->Number, *expected) << step << " " << p << " " << n;
        }
      }
    }
  }
  // What the changes left reads back the same from its text.
  const Tree again = Tree::Parse(tree.Serialize(), "model.reg");
  ASSERT_EQ(again.Keys().size(), tree.Keys().size());
  for (const std::string& p : paths)
    for (const std::string& n : names) {
      const VEKRegistry::Value* a = tree.FindValue(p, n);
      const VEKRegistry::Value* b = again.FindValue(p, n);
      ASSERT_EQ(a != nullptr, b != nullptr) << p << " " << n;
      if (a) {
        EXPECT_EQ(a->Number, b->Number) << p << " " << n;
      }
    }
}

}  // namespace
