// The mode a start takes from its first argument, and a start on a settings
// file that cannot be read: where nobody can answer a box (the offscreen
// platform, as in a package script), the error goes to standard error and
// nothing waits.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDialog>
#include <QLocale>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/StartUp.h"
#include "app/Translation.h"
#include "lang/Language.h"
#include "settings/Registry.h"
#include "settings/RegistryStore.h"
#include "support/TempDir.h"

namespace {

using ZantrelApp::StartMode;

TEST(StartUp, TheFirstArgumentSelectsTheModeInAnyLetterCase) {
  const struct {
    QStringList args;
    StartMode mode;
  } cases[] = {
      {{"zantrel"}, StartMode::Normal},
      {{"zantrel", "/inst"}, StartMode::Install},
      {{"zantrel", "/INST", "x.avi"}, StartMode::Install},
      {{"zantrel", "/Uninst"}, StartMode::Uninstall},
      {{"zantrel", "/uninstall"}, StartMode::Normal},
      {{"zantrel", "/checkerrors", "/inst"}, StartMode::Normal},
      {{"zantrel", "inst"}, StartMode::Normal},
  };
  for (const auto& c : cases) EXPECT_EQ(ZantrelApp::ModeOf(c.args), c.mode) << c.args.join(' ').toStdString();
}

using ZantrelTest::ReadText;
using ZantrelTest::WriteText;

// The user's registry file in a folder of the test's own.
class StartUpSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_ / "zantrel");
  }
  void TearDown() override {
    ZantrelApp::UseLanguage(VEK::English);
    QLocale::setDefault(QLocale::system());
  }
  std::string FileName() const { return dir_ / "zantrel/registry.reg"; }

  // Runs the program with arguments and returns what it wrote to standard
  // error. A box left waiting is ended after five seconds, so that the fault
  // fails the test instead of hanging it.
  std::string Run(const QStringList& arguments) {
    const std::string errName = dir_ / "stderr.txt";
    std::fflush(stderr);
    const int saved = ::dup(2);
    const int err = ::open(errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ::dup2(err, 2);
    ::close(err);
    QTimer guard;
    QObject::connect(&guard, &QTimer::timeout, [] {
      if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        ADD_FAILURE() << "a box waited for an answer nobody can give";
        box->done(0);
      }
    });
    guard.start(5000);
    EXPECT_EQ(ZantrelApp::Run(arguments), 0);
    guard.stop();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    return ReadText(errName);
  }

  ZantrelTest::TempDir dir_;
  const ZantrelTest::ConfigHome home_{dir_.Path()};
};

std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out += std::string{c, '\0'};
  return out;
}

TEST_F(StartUpSettings, AFileThatCannotBeReadIsReportedOnStandardErrorAndNothingWaits) {
  const struct {
    const char* name;
    std::function<void(const std::string&)> make;
    const char* english;  // the reason, in the message of install mode and of an English system
    const char* french;   // and of a window's start on a French one
  } cases[] = {
      {"malformed UTF-16", [](const std::string& path) { WriteText(path, Utf16Le("REGEDIT4\r\n") + std::string("\x00\xDC", 2)); },
       "line 2: the UTF-16 text cannot be read", "ligne 2 : le texte UTF-16 est illisible"},
      {"CR-only garbage",
       [](const std::string& path) { WriteText(path, "REGEDIT4\r\r[HKEY_CURRENT_USER\\A]\rgarbage\r"); },
       "line 4: the line cannot be read", "ligne 4 : la ligne est illisible"},
      {"binary garbage",
       [](const std::string& path) {
         std::string bytes;
         for (int i = 0; i < 4096; ++i) bytes += static_cast<char>(i * 37 + 11);
         WriteText(path, bytes);
       },
       "line 1: the first line must be REGEDIT4", "ligne 1 : la première ligne doit être REGEDIT4"},
      {"over the size limit",
       [](const std::string& path) {
         WriteText(path, "REGEDIT4\n\n");
         std::filesystem::resize_file(path, (16 << 20) + 1);
       },
       "is too large", "est trop grand"},
      {"FIFO", [](const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); },
       "is a named pipe (FIFO), not a file", "est un tube nommé (FIFO), pas un fichier"},
      {"folder", [](const std::string& path) { std::filesystem::create_directory(path); },
       "is a folder, not a file", "est un dossier, pas un fichier"},
  };
  // The settings cannot tell the language: a start that shows a window
  // speaks the system's.
  const struct {
    QStringList arguments;
    const char* locale;
    bool french;
  } starts[] = {
      {{"zantrel", "/inst"}, "fr_FR", false},
      {{"zantrel", "/uninst"}, "en_US", false},
      {{"zantrel", "/uninst"}, "fr_FR", true},
      {{"zantrel"}, "fr_FR", true},
      {{"zantrel"}, "de_DE", false},
      {{"zantrel", "/checkerrors", "a.avi"}, "fr_CA", true},
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(FileName());
    c.make(FileName());
    const bool regular = std::filesystem::is_regular_file(FileName());
    const std::string before = regular ? ReadText(FileName()) : "";
    for (const auto& start : starts) {
      const std::string label =
          std::string(c.name) + ", " + start.arguments.join(' ').toStdString() + ", " + start.locale;
      ZantrelApp::UseLanguage(VEK::English);
      QLocale::setDefault(QLocale(QString::fromLatin1(start.locale)));
      const std::string err = Run(start.arguments);
      // One line, naming the file and why.
      EXPECT_EQ(err.rfind("zantrel: ", 0), 0u) << label << ": " << err;
      EXPECT_EQ(err.find('\n'), err.size() - 1) << label << ": " << err;
      EXPECT_NE(err.find(FileName()), std::string::npos) << label << ": " << err;
      EXPECT_NE(err.find(start.french ? c.french : c.english), std::string::npos) << label << ": " << err;
      EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << label;
      // Never written over, nor replaced.
      EXPECT_EQ(std::filesystem::is_regular_file(FileName()), regular) << label;
      if (regular) EXPECT_EQ(ReadText(FileName()), before) << label;
      if (std::filesystem::is_directory(FileName())) EXPECT_TRUE(std::filesystem::is_empty(FileName())) << label;
    }
  }
}

TEST_F(StartUpSettings, InstallOnAWindowsExportKeepsEveryKeyAndSaysNothing) {
  // As Windows' registry editor exports it, with an older value name that
  // the install migrates, so that the file is written back.
  const std::string exported =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Files]\r\n"
      "\"Prefix\"=\"Mine.\"\r\n"
      "\"BackupFiles\"=dword:00000000\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
      "\"Path\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\r\n"
      "\"Blob\"=hex:de,ad\r\n\r\n";
  WriteText(FileName(), Utf16Le(exported));
  EXPECT_EQ(Run({"zantrel", "/INST"}), "");
  const std::string after = ReadText(FileName());
  EXPECT_EQ(after.rfind("REGEDIT4\r\n", 0), 0u) << "written back in our own form";
  VEKRegistry::FileStore store(FileName());
  VEKRegistry::Registry reg(store);
  ASSERT_TRUE(reg.OpenKey("Software\\Zantrel\\0.2\\Files", false));
  EXPECT_EQ(reg.ReadString("Prefix"), "Mine.");
  EXPECT_FALSE(reg.ValueExists("BackupFiles"));
  EXPECT_EQ(reg.ReadInteger("KeepOriginal"), 0);
  ASSERT_TRUE(reg.OpenKey("Software\\Other", false));
  EXPECT_EQ(reg.ReadString("Path"), "%TEMP%");
  EXPECT_NE(after.find("\"Blob\"=hex:de,ad\r\n"), std::string::npos);
}

// A style sheet, even an empty one, restyles each window as it is made; the
// configuration dialog then fits itself to the sheet while being built.
TEST_F(StartUpSettings, ANormalStartUnderAStyleSheetOpensItsWindowsAndEndsWhenTheyClose) {
  const std::string empty = dir_ / "empty.qss";
  WriteText(empty, "");
  const struct {
    const char* name;
    QString sheet;  // as -stylesheet FILE sets it
  } cases[] = {
      {"an empty file", "file:///" + QString::fromStdString(empty)},
      {"a sheet", "QPushButton { padding: 4px 16px; font-size: 20px; } QCheckBox { spacing: 12px; }"},
  };
  for (const auto& c : cases) {
    qApp->setStyleSheet(c.sheet);
    bool seen = false;
    QTimer::singleShot(0, [&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() != "FrmConfig") continue;
        seen = true;
        EXPECT_EQ(w->minimumSize(), w->maximumSize()) << c.name << ": a fixed frame";
        EXPECT_GE(w->width(), 385) << c.name;
        EXPECT_GE(w->height(), 239) << c.name;
      }
      QApplication::closeAllWindows();
    });
    // A window that does not close fails the test instead of hanging it.
    QObject guard;
    QTimer::singleShot(10000, &guard, [&] {
      ADD_FAILURE() << c.name << ": the program did not end";
      QApplication::exit(0);
    });
    // Qt may warn about the offscreen platform; the program itself says nothing.
    const std::string err = Run({"zantrel"});
    EXPECT_EQ(err.find("zantrel: "), std::string::npos) << c.name << ": " << err;
    EXPECT_TRUE(seen) << c.name << ": the configuration dialog is made at start";
    qApp->setStyleSheet(QString());
  }
}

}  // namespace
