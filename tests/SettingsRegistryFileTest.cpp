// The registry file store: its text form, hand-edited input, bad files,
// failed writes and copies of the program writing at the same time.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "file/SystemCalls.h"
#include "lang/Language.h"
#include "settings/Registry.h"
#include "settings/RegistryStore.h"
#include "support/TempDir.h"

namespace {

using VEKRegistry::FileStore;
using VEKRegistry::Registry;
using VEKRegistry::Root;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    hadXdg_ = old != nullptr;
    if (old) oldXdg_ = old;
    ::setenv("XDG_CONFIG_HOME", dir_.Path().c_str(), 1);
    VEK::SetLanguage(VEK::English);
  }
  void TearDown() override {
    if (hadXdg_)
      ::setenv("XDG_CONFIG_HOME", oldXdg_.c_str(), 1);
    else
      ::unsetenv("XDG_CONFIG_HOME");
    VEK::SetLanguage(VEK::English);
    VEKFile::SetSystemCalls(nullptr);
  }
  std::string FileName() const { return dir_ / "zantrel/registry.reg"; }
  std::string Folder() const { return dir_ / "zantrel"; }

  ZantrelTest::TempDir dir_;
  bool hadXdg_ = false;
  std::string oldXdg_;
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
      {"Windows Registry Editor Version 5.00\n\n", 1, "the first line must be REGEDIT4"},
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

TEST_F(SettingsFile, NamesThatWouldBreakTheTextAreRefused) {
  FileStore store(FileName());
  Registry reg(store);
  EXPECT_THROW(reg.OpenKey("Software\\Bad\nKey", true), VEKRegistry::Exception);
  EXPECT_THROW(reg.OpenKey("Software\\\\Empty", true), VEKRegistry::Exception);
  ASSERT_TRUE(reg.OpenKey("Software\\Good", true));
  EXPECT_THROW(reg.WriteInteger("Bad\nName", 1), VEKRegistry::Exception);
  EXPECT_NO_THROW(FileStore(FileName()).Read());
}

}  // namespace
