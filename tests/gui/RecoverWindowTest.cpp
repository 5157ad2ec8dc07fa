// The window's Recover films command, run as the user gives it: a film laid
// among other bytes comes back into the folder decoding frame for frame as
// it was made, and whatever the run comes to, no staging folder is left.
#include <gtest/gtest.h>

#include <QAction>
#include <QLocale>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/FormMain.h"
#include "app/Prompts.h"
#include "app/Translation.h"
#include "lang/Language.h"
#include "settings/Registry.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace {

using ZantrelTest::DecodedVideo;
using ZantrelTest::RunProgram;
using ZantrelTest::TempDir;

// Answers every question as a user who goes ahead, and keeps its text.
struct Answers : ZantrelApp::Prompts {
  QStringList asked;
  ZantrelApp::PromptAnswer Ask(const QString&, const QString& text, ZantrelApp::PromptButtons buttons,
                               ZantrelApp::PromptIcon) override {
    asked << text;
    return buttons == ZantrelApp::PromptButtons::YesNo ? ZantrelApp::PromptAnswer::Yes : ZantrelApp::PromptAnswer::Ok;
  }
  void CloseOpenQuestions() override {}
};

std::string Noise(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(n, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

TEST(RecoverWindow, TheFilmsFoundAreRebuiltIntoTheFolderAndNoStagingFolderIsLeft) {
  if (!ZantrelTest::HaveProgram("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  ZantrelApp::UseLanguage(VEK::English);
  TempDir dir;
  const auto made = RunProgram({"ffmpeg", "-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                "testsrc=size=160x120:rate=25", "-t", "2", "-c:v", "mjpeg", "-q:v", "4",
                                dir / "film.avi"});
  ASSERT_EQ(made.Status, 0) << made.Err;
  const std::vector<std::string> original = DecodedVideo(dir / "film.avi");
  ASSERT_EQ(original.size(), 50u);
  std::string film;
  {
    std::ifstream in(dir / "film.avi", std::ios::binary);
    film.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::ofstream(dir / "card.img", std::ios::binary) << Noise(512 * 301, 1) << film << Noise(1 << 20, 2);
  std::ofstream(dir / "noise.img", std::ios::binary) << Noise(1 << 20, 3);
  std::ofstream(dir / "a-file", std::ios::binary) << "not a folder";

  const struct {
    const char* Name;
    std::string Source, Folder;
    bool StopAtOnce;
    int Films;              // written into the folder
    const char* Question;   // a part of the one question asked; null: none
  } rows[] = {
      {"a film among other bytes", dir / "card.img", dir / "films", false, 1, nullptr},
      {"no film in the source", dir / "noise.img", dir / "none", false, 0, nullptr},
      {"stopped as it starts", dir / "card.img", dir / "stopped", true, 0, "Abort current operation"},
      {"no image", "/dev/null", dir / "null", false, 0, "/dev/null"},
      {"the folder is a file", dir / "card.img", dir / "a-file", false, 0, "a-file"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    Answers prompts;
    VEKRegistry::MemoryStore settings;
    TFrmMain w(prompts, &settings);
    w.ChooseRecoverySource = [&] { return QString::fromStdString(row.Source); };
    w.ChooseRecoveryFolder = [&] { return QString::fromStdString(row.Folder); };
    w.ActRecover->trigger();
    if (row.StopAtOnce) {
      // The search has started: it is the run the Stop command stops.
      EXPECT_FALSE(w.ActRecover->isEnabled());
      EXPECT_TRUE(w.ActActionStop->isEnabled());
      w.StopOperation();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.Recovering(); }, 30000)) << "the recovery did not end";
    EXPECT_TRUE(w.ActRecover->isEnabled());

    if (row.Question) {
      ASSERT_EQ(prompts.asked.size(), 1) << prompts.asked.join("\n").toStdString();
      EXPECT_TRUE(prompts.asked[0].contains(row.Question)) << prompts.asked[0].toStdString();
    } else {
      EXPECT_EQ(prompts.asked.size(), 0) << prompts.asked.join("\n").toStdString();
    }
    std::vector<std::string> films;
    // A folder refused is left as it was: the file it is.
    if (std::filesystem::is_directory(row.Folder))
      for (const auto& e : std::filesystem::directory_iterator(row.Folder)) {
        const std::string name = e.path().filename().string();
        EXPECT_NE(name.rfind(".zantrel-recovery", 0), 0u) << "the staging folder is left: " << name;
        films.push_back(e.path().string());
      }
    ASSERT_EQ(static_cast<int>(films.size()), row.Films);
    for (const std::string& path : films) EXPECT_EQ(DecodedVideo(path), original) << path;
    // The list names the films written, each its own repair, and no file
    // that went with the staging folder.
    ASSERT_EQ(w.LvwFiles->topLevelItemCount(), row.Films);
    for (int r = 0; r < row.Films; ++r) {
      const std::string path = w.RowPath(r).toStdString();
      EXPECT_NE(std::find(films.begin(), films.end(), path), films.end()) << path;
      EXPECT_EQ(w.RowOutputPath(r).value_or(QString()).toStdString(), path);
    }
  }
}

}  // namespace
