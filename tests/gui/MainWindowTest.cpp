// The main window driven as a user would, on files made by the test writer:
// marks, row lists, the Messages Center, the questions and the commands'
// enabling. Questions are answered by a script instead of a message box.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <deque>

#include "QtPrinters.h"
#include "app/DamageStrip.h"
#include "app/FormConfig.h"
#include "app/FormMain.h"
#include "app/MessagesView.h"
#include "app/Translation.h"
#include "batch/ExistingOutput.h"
#include "lang/Language.h"
#include "settings/Registry.h"
#include "support/AviBuilder.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "util/Exception.h"

namespace {

using namespace ZantrelTest;
using ZantrelApp::PromptAnswer;

struct ScriptedPrompts : ZantrelApp::Prompts {
  struct Asked {
    QString caption, text;
    ZantrelApp::PromptButtons buttons;
  };
  std::vector<Asked> asked;
  std::deque<PromptAnswer> answers;
  std::function<void()> whileAsking;
  bool closedByWindow = false;  // CloseOpenQuestions came while a question was open
  int open = 0;
  PromptAnswer Ask(const QString& caption, const QString& text, ZantrelApp::PromptButtons buttons,
                   ZantrelApp::PromptIcon) override {
    asked.push_back({caption, text, buttons});
    closedByWindow = false;
    ++open;
    if (whileAsking) whileAsking();
    --open;
    if (closedByWindow) return buttons == ZantrelApp::PromptButtons::YesNo ? PromptAnswer::No : PromptAnswer::Cancel;
    if (answers.empty()) {
      ADD_FAILURE() << "unexpected question: " << text.toStdString();
      return PromptAnswer::Cancel;
    }
    const PromptAnswer a = answers.front();
    answers.pop_front();
    return a;
  }
  void CloseOpenQuestions() override {
    if (open > 0) closedByWindow = true;
  }
};

// A settings store on a full disk, once told so.
struct FullDiskStore : VEKRegistry::MemoryStore {
  bool full = false;
  void Update(const std::function<void(VEKRegistry::Tree&)>& change) override {
    if (full) throw VEK::Exception("No space left on device");
    MemoryStore::Update(change);
  }
};

Bytes Clean() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Chunk("01wb", 32).Chunk("00dc", 10);
  return b.EndMovi().Idx1().Build();
}

Bytes Damaged() {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Fill(10, 0x07).Chunk("01wb", 32);
  return b.Build();
}

// A file whose check reports two lines for each of its corrupted spots.
Bytes Spotted(int spots) {
  AviBuilder b;
  b.StartMovi();
  // The search resumes at two chunks in a row.
  for (int i = 0; i < spots; ++i) b.Fill(10, 0x07).Chunk("00dc", 16).Chunk("01wb", 8);
  return b.Chunk("01wb", 8).EndMovi().Build();
}

QStringList Lines(std::initializer_list<const char*> lines) {
  QStringList out;
  for (const char* l : lines) out << QString::fromUtf8(l);
  return out;
}

struct MainWindow : ::testing::Test {
  TempDir dir;
  VEKRegistry::MemoryStore store;
  ScriptedPrompts prompts;
  std::unique_ptr<TFrmMain> window;

  // The windows start in the system's language; the tests read English,
  // whatever the system running them speaks.
  void SetUp() override {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    window = std::make_unique<TFrmMain>(prompts, &store);
    window->FormCreate({"zantrel"});
  }
  void TearDown() override {
    window.reset();
    ZantrelApp::UseLanguage(VEK::English);
    QLocale::setDefault(QLocale::system());
  }
  std::string Put(const std::string& name, const Bytes& bytes) {
    WriteFile(dir / name, bytes);
    return dir / name;
  }
  // A file whose sparse zeros the search reads through until the run is
  // stopped; empty when it could not be made.
  std::string PutLongFile() {
    AviBuilder b;
    b.StartMovi().Chunk("00dc", 64).Fill(16, 0x01);
    const std::string path = Put("long.avi", b.Build());
    return truncate(path.c_str(), 24ll << 30) == 0 ? path : std::string();
  }
  void RunToEnd(bool checkOnly) {
    window->StartOperation(checkOnly);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Session.Running(); }, 30000)) << "the operation did not end";
  }
  QStringList MessagesCenter() const {
    const QString text = window->EdtLogs->Text();
    return text.isEmpty() ? QStringList() : text.split('\n');
  }
  std::vector<RowMark> Marks() const {
    std::vector<RowMark> m;
    for (int i = 0; i < window->LvwFiles->topLevelItemCount(); ++i) m.push_back(window->Mark(i));
    return m;
  }
};

TEST_F(MainWindow, ACheckMarksEachRowAndFillsItsListTheWholeLogAndTheMessagesCenter) {
  window->AddFile(Put("clean.avi", Clean()));
  window->AddFile(Put("damaged.avi", Damaged()));
  window->AddFile(Put("text.avi", Bytes(64, 'x')));
  window->AddFile(dir / "missing.avi");
  window->Settings.SelectedFile = false;
  RunToEnd(true);
  EXPECT_EQ(Marks(), (std::vector<RowMark>{MarkOk, MarkErrors, MarkNotAvi, MarkErrors}));
  const QStringList results = {window->LvwFiles->topLevelItem(0)->text(2), window->LvwFiles->topLevelItem(1)->text(2),
                               window->LvwFiles->topLevelItem(2)->text(2), window->LvwFiles->topLevelItem(3)->text(2)};
  EXPECT_EQ(results, (QStringList{"Healthy", "Damaged: 2 errors", "Not an AVI file",
                                  QString::fromStdString("Failed: Could not open file \"" + (dir / "missing.avi") +
                                                         "\" (no such file or folder)")}));
  EXPECT_EQ(window->RowMessages(0), Lines({"Processing file \"clean.avi\"", "Checking errors...",
                                           "Done. Found 0 errors, 2 video frames, 32 audio samples", ""}));
  EXPECT_EQ(window->RowMessages(2), Lines({"Processing file \"text.avi\"", "This is not an AVI File.", ""}));
  EXPECT_EQ(window->RowMessages(3),
            (QStringList{"Processing file \"missing.avi\"",
                         QString::fromStdString("Could not open file \"" + (dir / "missing.avi") +
                                                "\" (no such file or folder)."),
                         ""}));
  QStringList all;
  for (int i = 0; i < 4; ++i) all += window->RowMessages(i);
  all += "4 files checked: 1 healthy, 1 damaged, 1 not AVI, 1 failed, 0 skipped, 0 not done.";
  EXPECT_EQ(window->AllMessages(), all);
  EXPECT_EQ(MessagesCenter(), all);
  EXPECT_EQ(window->StatusBar1->currentMessage(), all.back());
  EXPECT_EQ(window->RowOutputPath(1), QString::fromStdString(dir / "damaged.avi"));
}

// A file whose own index skips its damage shares the healthy mark, but its
// mark in words (the tool tip, a screen reader's description) says Repaired,
// as its result does.
TEST_F(MainWindow, ARepairedRowIsSaidRepairedNotHealthy) {
  AviBuilder repaired;
  repaired.StartMovi().Chunk("00dc", 64).Fill(10, 0x07).Chunk("01wb", 32);
  window->AddFile(Put("clean.avi", Clean()));
  window->AddFile(Put("repaired.avi", repaired.EndMovi().Idx1().Build()));
  RunToEnd(true);
  ASSERT_EQ(Marks(), (std::vector<RowMark>{MarkOk, MarkOk}));
  const QString words[] = {"Healthy", "Repaired"};
  for (int i = 0; i < 2; ++i) {
    QTreeWidgetItem* item = window->LvwFiles->topLevelItem(i);
    EXPECT_EQ(item->text(2), words[i]);
    EXPECT_EQ(item->toolTip(0), window->RowPath(i) + '\n' + words[i]);
    EXPECT_EQ(item->data(0, Qt::AccessibleDescriptionRole).toString(), words[i]);
  }
  // A new run's mark says nothing of the last one's.
  window->SetMark(1, MarkOk);
  EXPECT_EQ(window->LvwFiles->topLevelItem(1)->toolTip(0), window->RowPath(1) + "\nHealthy");
}

TEST_F(MainWindow, WithSelectedFileTheMessagesCenterFollowsTheRowBeingProcessed) {
  window->AddFile(Put("a.avi", Clean()));
  window->AddFile(Put("b.avi", Damaged()));
  RunToEnd(true);
  // The selection moved along to the last row processed.
  EXPECT_FALSE(window->LvwFiles->topLevelItem(0)->isSelected());
  EXPECT_TRUE(window->LvwFiles->topLevelItem(1)->isSelected());
  EXPECT_EQ(MessagesCenter(), window->RowMessages(1));
  window->LvwFiles->clearSelection();
  window->LvwFiles->topLevelItem(0)->setSelected(true);
  EXPECT_EQ(MessagesCenter(), window->RowMessages(0));
}

// The toolbar's Check runs the whole list whatever is selected; the row
// menu's the selected rows, one or more; the marks land on the rows it ran.
TEST_F(MainWindow, TheToolbarRunsTheWholeListAndTheRowMenuTheSelectedRows) {
  const struct {
    const char* name;
    bool rowMenu;
    std::vector<int> selected;
    std::vector<RowMark> after;
  } rows[] = {
      {"toolbar, one row selected", false, {2}, {MarkOk, MarkErrors, MarkOk, MarkErrors}},
      {"row menu, one row selected", true, {2}, {MarkNone, MarkNone, MarkOk, MarkNone}},
      {"row menu, two rows selected", true, {1, 3}, {MarkNone, MarkErrors, MarkNone, MarkErrors}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    window->ClearList();
    for (int i = 0; i < 4; ++i)
      window->AddFile(Put("r" + std::to_string(i) + ".avi", i % 2 ? Damaged() : Clean()));
    window->LvwFiles->clearSelection();
    for (int i : row.selected) window->LvwFiles->topLevelItem(i)->setSelected(true);
    window->UpdateActions();
    ASSERT_TRUE(window->PmnFiles->actions().contains(window->ActCheckSelected));
    (row.rowMenu ? window->ActCheckSelected : window->ActActionCheckErrors)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Session.Running(); }, 30000));
    EXPECT_EQ(Marks(), row.after);
  }
}

// The keys the menus show, and the row menu's key, reach their commands.
TEST_F(MainWindow, TheKeyboardReachesItsCommands) {
  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  int configurations = 0;
  window->EditConfiguration = [&](Config&) {
    ++configurations;
    return false;
  };
  window->AddFile(Put("k.avi", Clean()));
  RunToEnd(true);
  QGuiApplication::clipboard()->clear();
  const struct {
    const char* name;
    QKeyCombination key;
    bool onList;  // the key goes to the file list, else to the window
    std::function<bool()> done;
  } rows[] = {
      {"Ctrl+, configures", Qt::CTRL | Qt::Key_Comma, false, [&] { return configurations == 1; }},
      {"Ctrl+Shift+C copies the messages", Qt::CTRL | Qt::SHIFT | Qt::Key_C, false,
       [&] { return QGuiApplication::clipboard()->text() == window->EdtLogs->Text(); }},
      {"Shift+F10 opens the row menu", Qt::SHIFT | Qt::Key_F10, true, [&] { return window->PmnFiles->isVisible(); }},
      {"Ctrl+L clears the list", Qt::CTRL | Qt::Key_L, false,
       [&] { return window->LvwFiles->topLevelItemCount() == 0; }},
      {"Ctrl+Q quits", Qt::CTRL | Qt::Key_Q, false, [&] { return !window->isVisible(); }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    window->PmnFiles->hide();
    window->LvwFiles->setFocus();
    if (row.onList) window->LvwFiles->setCurrentItem(window->LvwFiles->topLevelItem(0));
    QTest::keyClick(row.onList ? static_cast<QWidget*>(window->LvwFiles) : window.get(), row.key.key(),
                    row.key.keyboardModifiers());
    EXPECT_TRUE(QTest::qWaitFor(row.done, 2000));
  }
}

TEST_F(MainWindow, TheModifyOriginalWarningComesAfterTheMarkedRowsQuestion) {
  const Bytes damaged = Damaged();
  const std::string path = Put("a.avi", damaged);
  window->AddFile(path);
  RunToEnd(true);
  window->Settings.KeepOriginal = false;
  prompts.answers = {PromptAnswer::Yes, PromptAnswer::Cancel};
  window->StartOperation(false);
  ASSERT_EQ(prompts.asked.size(), 2u);
  EXPECT_EQ(prompts.asked[1].caption, "Rebuild Index");
  EXPECT_FALSE(window->Session.Running());
  EXPECT_EQ(window->Mark(0), MarkErrors) << "nothing ran: the mark stays";
  EXPECT_EQ(ReadFile(path), damaged);

  prompts.answers = {PromptAnswer::Yes, PromptAnswer::Ok};
  RunToEnd(false);
  EXPECT_EQ(window->Mark(0), MarkRebuilt);
  EXPECT_NE(ReadFile(path), damaged);
  EXPECT_FALSE(Exists(dir / "Zantrel.a.avi"));
}

// The marked-rows question is captioned by the command that asks it. The
// marks of earlier runs go only when a run starts, not when the in-place
// warning is cancelled; that warning takes Enter as Cancel.
TEST_F(MainWindow, TheMarkedRowsQuestionNamesItsCommandAndMarksGoOnlyWhenTheRunStarts) {
  const QString warning[] = {
      "You are about to modify 2 original files:\na.avi\nb.avi\n\nIt is strongly recommended to create backups "
      "first. Click OK to start modifying them or Cancel to abort the operation.",
      QString::fromUtf8("Vous êtes sur le point de modifier 2 fichiers originaux :\na.avi\nb.avi\n\nIl est "
                        "fortement recommandé d'en faire une sauvegarde avant. Cliquer sur OK pour commencer la "
                        "modification ou Annuler pour interrompre ce procédé.")};
  const QString check[] = {"Check Errors", QString::fromUtf8("Vérifier les erreurs")};
  const QString rebuild[] = {"Rebuild Index", "Reconstruire l'index"};
  using A = PromptAnswer;
  const std::vector<RowMark> before = {MarkErrors, MarkOk};
  struct Case {
    const char* name;
    std::int8_t language;
    bool checkOnly;
    std::deque<PromptAnswer> answers;
    QStringList captions;  // of the questions, in the order asked
    bool runs;
    std::vector<RowMark> marks;
  } cases[] = {
      {"check, Yes", VEK::English, true, {A::Yes}, {check[0]}, true, before},
      {"check, No", VEK::French, true, {A::No}, {check[1]}, false, before},
      {"rebuild, No", VEK::English, false, {A::No}, {rebuild[0]}, false, before},
      {"rebuild, Yes, Cancel", VEK::English, false, {A::Yes, A::Cancel}, {rebuild[0], rebuild[0]}, false, before},
      {"rebuild, Yes, Cancel", VEK::French, false, {A::Yes, A::Cancel}, {rebuild[1], rebuild[1]}, false, before},
      {"rebuild, Yes, OK",
       VEK::English,
       false,
       {A::Yes, A::Ok},
       {rebuild[0], rebuild[0]},
       true,
       {MarkRebuilt, MarkRebuilt}},
  };
  for (const Case& c : cases) {
    const std::string name = std::string(c.name) + (c.language == VEK::French ? ", French" : "");
    window->ClearList();
    window->AddFile(Put("a.avi", Damaged()));
    window->AddFile(Put("b.avi", Clean()));
    window->Settings.KeepOriginal = false;
    window->Settings.ModifyOriginalPrompt = true;
    RunToEnd(true);
    ASSERT_EQ(Marks(), before) << name;
    prompts.asked.clear();
    prompts.answers = c.answers;
    VEK::SetLanguage(c.language);
    window->StartOperation(c.checkOnly);
    VEK::SetLanguage(VEK::English);
    EXPECT_EQ(window->Session.Running(), c.runs) << name;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Session.Running(); }, 30000)) << name;
    QStringList captions;
    for (const auto& a : prompts.asked) captions << a.caption;
    EXPECT_EQ(captions, c.captions) << name;
    if (prompts.asked.size() > 1) {
      EXPECT_EQ(prompts.asked[1].text, warning[c.language]) << name;
      EXPECT_EQ(prompts.asked[1].buttons, ZantrelApp::PromptButtons::OkCancelDefaultCancel) << name;
    }
    EXPECT_EQ(Marks(), c.marks) << name;
  }
}

// An empty prefix names the original itself: the rebuild rewrites it in place
// after the existing-output question, and is warned about first. A prefix
// that names the source by another road is refused and writes nothing.
TEST_F(MainWindow, TheModifyOriginalWarningComesWheneverARebuildRewritesTheOriginal) {
  const QString warning = "Rebuild Index", exists = "File already exists";
  const struct {
    const char* name;
    bool keepOriginal;
    const char* prefix;
    bool prompt;
    std::deque<PromptAnswer> answers;
    QStringList asked;
    bool changed;
    RowMark mark;
  } cases[] = {
      {"in place, cancelled", false, "Zantrel.", true, {PromptAnswer::Cancel}, {warning}, false, MarkNone},
      {"empty prefix, cancelled", true, "", true, {PromptAnswer::Cancel}, {warning}, false, MarkNone},
      {"empty prefix, confirmed",
       true,
       "",
       true,
       {PromptAnswer::Ok, PromptAnswer::Yes},
       {warning, exists},
       true,
       MarkRebuilt},
      {"empty prefix, no warning asked for", true, "", false, {PromptAnswer::No}, {exists}, false, MarkSkipped},
      {"a copy", true, "Zantrel.", true, {}, {}, false, MarkRebuilt},
      // The worker refuses a copy that is its own source: nothing to ask first.
      {"a prefix that names the source", true, "./", true, {}, {}, false, MarkErrors},
  };
  const Bytes damaged = Damaged();
  for (const auto& c : cases) {
    window->Batch.ClearLines();
    window->ClearList();  // each case on a row of its own
    const std::string path = Put("a.avi", damaged);
    std::remove((dir / "Zantrel.a.avi").c_str());
    window->AddFile(path);
    window->Settings.KeepOriginal = c.keepOriginal;
    window->Settings.Prefix = c.prefix;
    window->Settings.ModifyOriginalPrompt = c.prompt;
    window->Settings.OverwritePrompt = true;
    prompts.asked.clear();
    prompts.answers = c.answers;
    RunToEnd(false);
    QStringList asked;
    for (const auto& a : prompts.asked) asked << a.caption;
    EXPECT_EQ(asked, c.asked) << c.name;
    EXPECT_TRUE(prompts.answers.empty()) << c.name;
    EXPECT_EQ(ReadFile(path) != damaged, c.changed) << c.name;
    EXPECT_EQ(window->Mark(0), c.mark) << c.name;
    EXPECT_EQ(Exists(dir / "Zantrel.a.avi"), c.keepOriginal && std::string(c.prefix) == "Zantrel.") << c.name;
  }
}

// The strip pictures the selected file's damage where the builder put it:
// its garbage stretches, where a file's usable data ends, and the film a
// capture cut short misses; its tool tip says it in time.
TEST_F(MainWindow, TheDamageStripShowsTheSelectedFilesDamagedStretches) {
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 100).Chunk("01wb", 40);
  const std::int64_t spot1 = b.Size();
  b.Fill(64, 0x01);
  const std::int64_t resume1 = b.Size();
  b.Chunk("00dc", 100);
  const std::int64_t spot2 = b.Size();
  b.Fill(300, 0x02);
  const std::int64_t resume2 = b.Size();
  b.Chunk("00dc", 100).Chunk("01wb", 40);
  const Bytes spots = b.Build();
  // A download whose tail is still zeros: one stretch, and no chunk past the
  // data.
  AviBuilder c;
  c.StartMovi().Chunk("00dc", 100).Chunk("01wb", 400);
  const std::int64_t dataEnd = c.Size();
  c.Fill(20000, 0);
  // A capture of two seconds cut inside its 46th frame: the headers count
  // 50 frames, the file holds 45 and a bit.
  AviBuilder d;
  d.StartMovi();
  for (int i = 0; i < 50; ++i) d.Chunk("00dc", 1000);
  const Bytes capture = d.Build();
  const Bytes cut(capture.begin(), capture.end() - 5500);
  window->AddFile(Put("spots.avi", spots));
  window->AddFile(Put("tail.avi", c.Build()));
  window->AddFile(Put("clean.avi", Clean()));
  window->AddFile(Put("cut.avi", cut));
  RunToEnd(true);
  const struct {
    int row;
    bool shown;
    std::vector<std::pair<std::int64_t, std::int64_t>> stretches;
    std::int64_t usableEnd;
    const char* tip;
  } rows[] = {
      {0, true, {{spot1, resume1}, {spot2, resume2}}, static_cast<std::int64_t>(spots.size()),
       "Damaged data at 00:00:00, no frame lost; damaged data at 00:00:00, no frame lost"},
      {1, true, {{dataEnd, dataEnd + 20000}}, dataEnd, "Damaged data at 00:00:00, no frame lost"},
      {2, false, {}, -1, ""},
      {3, true, {{static_cast<std::int64_t>(cut.size()), -1}}, static_cast<std::int64_t>(cut.size()),
       "The film ends at 00:00:01 instead of 00:00:02"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.row);
    window->LvwFiles->clearSelection();
    window->LvwFiles->topLevelItem(r.row)->setSelected(true);
    EXPECT_EQ(!window->StrDamage->isHidden(), r.shown);
    if (!r.shown) continue;
    std::vector<std::pair<std::int64_t, std::int64_t>> got;
    for (const auto& s : window->StrDamage->Damage().Lost)
      got.emplace_back(s.From, s.Kind == VEKRiff::LossKind::End ? -1 : s.To);
    EXPECT_EQ(got, r.stretches);
    EXPECT_LE(window->StrDamage->Damage().UsableEnd, r.usableEnd);
    EXPECT_GE(window->StrDamage->Damage().UsableEnd, r.usableEnd - 1);
    EXPECT_EQ(window->StrDamage->toolTip().toStdString(), r.tip);
  }
}

TEST_F(MainWindow, StopDuringALongScanAbortsTheRowDeletesTheCopyAndReturnsToIdle) {
  const std::string path = PutLongFile();
  ASSERT_FALSE(path.empty());
  window->AddFile(path);
  window->AddFile(Put("later.avi", Clean()));
  prompts.answers = {PromptAnswer::Yes};
  bool stopped = false;
  QTimer::singleShot(200, [&] {
    ASSERT_TRUE(window->Session.Running());
    window->ActActionStop->trigger();
    stopped = true;
    // The wait served the end of the worker before returning.
    EXPECT_FALSE(window->Session.Running());
  });
  RunToEnd(false);
  EXPECT_TRUE(stopped);
  EXPECT_EQ(prompts.asked[0].caption, "Stop");
  EXPECT_EQ(prompts.asked[0].text, "Abort current operation ?");
  EXPECT_EQ(Marks(), (std::vector<RowMark>{MarkAborted, MarkNone}));
  EXPECT_EQ(window->RowMessages(0).mid(window->RowMessages(0).size() - 2), Lines({"Operation aborted.", ""}));
  EXPECT_FALSE(Exists(dir / "Zantrel.long.avi"));
  EXPECT_TRUE(window->StatusBar1->isVisibleTo(window.get()));
  EXPECT_FALSE(window->StatusBar2->isVisibleTo(window.get()));
}

TEST_F(MainWindow, CommandsAreEnabledByStateAndSelection) {
  window->UpdateActions();
  EXPECT_FALSE(window->ActActionCheckErrors->isEnabled()) << "empty list";
  EXPECT_FALSE(window->ActFileRemove->isEnabled());
  window->AddFile(Put("a.avi", Damaged()));
  window->AddFile(Put("b.avi", Damaged()));
  window->UpdateActions();
  EXPECT_TRUE(window->ActActionFix->isEnabled());
  EXPECT_FALSE(window->ActOpenFile->isEnabled());
  EXPECT_FALSE(window->ActActionStop->isEnabled());
  window->LvwFiles->topLevelItem(0)->setSelected(true);
  window->UpdateActions();
  EXPECT_TRUE(window->ActOpenFile->isEnabled());
  EXPECT_TRUE(window->ActOpenContainingFolder->isEnabled());
  EXPECT_FALSE(window->ActOpenFixedFile->isEnabled());
  window->LvwFiles->topLevelItem(1)->setSelected(true);
  window->UpdateActions();
  EXPECT_FALSE(window->ActOpenFile->isEnabled()) << "two rows selected";
  EXPECT_TRUE(window->ActFileRemove->isEnabled());
  RunToEnd(false);
  window->LvwFiles->clearSelection();
  window->LvwFiles->topLevelItem(0)->setSelected(true);
  window->UpdateActions();
  EXPECT_TRUE(window->ActOpenFixedFile->isEnabled());
  QUrl opened;
  window->OpenUrl = [&](const QUrl& url) {
    opened = url;
    return true;
  };
  window->ActOpenFixedFile->trigger();
  EXPECT_EQ(opened.toLocalFile().toStdString(), dir / "Zantrel.a.avi");
  window->ActOpenContainingFolder->trigger();
  EXPECT_EQ(opened.toLocalFile().toStdString(), dir.Path());
}

// The Output column names the file that holds a row's repair once a run
// wrote or kept it, never a copy only planned; the row menu plays and shows
// the original and the copy as the row has them, and a double click plays
// the copy when there is one.
TEST_F(MainWindow, TheOutputColumnAndTheRowMenuOfferTheFileTheRunWrote) {
  enum Run { Check, Rebuild, InPlace };
  const struct {
    const char* name;
    Run run;
    bool oldCopy;        // a copy from an earlier rebuild is there, and skipped
    const char* output;  // the Output column; empty: nothing
    bool copy;           // Play the repaired copy and Show the copy in its folder
  } cases[] = {
      {"check", Check, false, "", false},
      {"check beside an old copy", Check, true, "", false},
      {"rebuild into a copy", Rebuild, false, "Zantrel.a.avi", true},
      {"copy there, skipped", Rebuild, true, "Zantrel.a.avi", true},
      {"rewritten in place", InPlace, false, "a.avi", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir files;
    WriteFile(files / "a.avi", Damaged());
    if (c.oldCopy) WriteFile(files / "Zantrel.a.avi", Clean());
    VEKRegistry::MemoryStore own;
    TFrmMain w(prompts, &own);
    w.FormCreate({"zantrel"});
    w.Settings.KeepOriginal = c.run != InPlace;
    w.Settings.ModifyOriginalPrompt = false;
    w.Settings.OverwritePrompt = false;
    w.Settings.OverwriteBehavior = VEKRiff::OverwriteSkip;
    w.AddFile(files / "a.avi");
    w.StartOperation(c.run == Check);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.Session.Running(); }, 30000));
    QTreeWidgetItem* row = w.LvwFiles->topLevelItem(0);
    EXPECT_EQ(row->text(3), QString::fromUtf8(c.output));
    EXPECT_EQ(row->toolTip(3), *c.output ? QString::fromStdString(files / c.output) : QString());
    EXPECT_EQ(w.LvwFiles->headerItem()->text(3), "Output");

    row->setSelected(true);
    w.UpdateActions();
    EXPECT_TRUE(w.ActOpenFile->isEnabled());
    EXPECT_TRUE(w.ActOpenContainingFolder->isEnabled());
    EXPECT_EQ(w.ActOpenFixedFile->isEnabled(), c.copy);
    EXPECT_EQ(w.ActShowCopyFolder->isEnabled(), c.copy);
    QList<QUrl> opened;
    w.OpenUrl = [&](const QUrl& url) {
      opened << url;
      return true;
    };
    const QUrl original = QUrl::fromLocalFile(QString::fromStdString(files / "a.avi"));
    const QUrl copy = QUrl::fromLocalFile(QString::fromStdString(files / "Zantrel.a.avi"));
    const QUrl folder = QUrl::fromLocalFile(QString::fromStdString(files.Path()));
    for (QAction* a : {w.ActOpenFile, w.ActOpenContainingFolder, w.ActOpenFixedFile, w.ActShowCopyFolder})
      if (a->isEnabled()) a->trigger();
    emit w.LvwFiles->itemActivated(row, 0);
    const QList<QUrl> expected = c.copy ? QList<QUrl>{original, folder, copy, folder, copy}
                                        : QList<QUrl>{original, folder, original};
    EXPECT_EQ(opened, expected);
    EXPECT_TRUE(prompts.asked.empty()) << prompts.asked.front().text.toStdString();
    if (c.run == Rebuild && !c.oldCopy) {
      // For a person to look at: the list with its Output column shown.
      w.SetFilesColumnShown(3, true);
      w.resize(1000, 300);
      const QString shot = QDir(QCoreApplication::applicationDirPath()).filePath("output-column.png");
      EXPECT_TRUE(w.grab().save(shot)) << shot.toStdString();
    }
  }
}

// The Output column is hidden until the user shows it, from the Options
// menu or the list's header; shown or not, and its width, come back at the
// next start.
TEST_F(MainWindow, TheOutputColumnIsShownAtTheUsersWordAndComesBackAsLeft) {
  EXPECT_TRUE(window->LvwFiles->isColumnHidden(3)) << "hidden on a first start";
  EXPECT_TRUE(window->MnuOptions->actions().contains(window->ActOutputColumn));
  EXPECT_TRUE(window->PmnColumns->actions().contains(window->ActOutputColumn));
  EXPECT_EQ(window->LvwFiles->header()->contextMenuPolicy(), Qt::CustomContextMenu);
  window->ActOutputColumn->trigger();
  EXPECT_FALSE(window->LvwFiles->isColumnHidden(3));
  EXPECT_GT(window->LvwFiles->columnWidth(3), 0);
  EXPECT_EQ(window->LvwFiles->header()->visualIndex(3), 2) << "beside the result, before the long folder";
  window->LvwFiles->setColumnWidth(3, 321);
  window->FormDestroy();
  for (bool shown : {true, false}) {
    SCOPED_TRACE(shown);
    TFrmMain again(prompts, &store);
    again.FormCreate({"zantrel"});
    EXPECT_EQ(again.LvwFiles->isColumnHidden(3), !shown);
    again.UpdateActions();
    EXPECT_EQ(again.ActOutputColumn->isChecked(), shown);
    EXPECT_EQ(again.FilesColumnWidth(3), 321) << "kept while hidden too";
    if (shown) again.ActOutputColumn->trigger();  // hidden, and saved so
  }
}

// Argument 1 is a switch or the first file; folders add their AVI files as
// the Add folder command does; every row shows an absolute path.
TEST_F(MainWindow, TheCommandLineListsItsFilesAndFoldersAfterAnySwitchAndMayStartAnOperation) {
  for (const char* sub : {"films", "films/.cache", "films/sub"}) ASSERT_EQ(mkdir((dir / sub).c_str(), 0755), 0);
  for (const char* name : {"a.avi", "b.avi", "films/clip10.avi", "films/clip2.avi", "films/.cache/x.avi",
                           "films/sub/c.avi", "films/notes.txt"})
    WriteFile(dir / name, Clean());
  auto at = [&](const char* name) { return QString::fromStdString(dir / name); };
  const QStringList films = {at("films/clip2.avi"), at("films/clip10.avi"), at("films/sub/c.avi")};
  struct Case {
    QStringList args;
    QStringList rows;
    bool checkTimer, rebuildTimer;
  } cases[] = {
      {{"zantrel"}, {}, false, false},
      {{"zantrel", at("a.avi")}, {at("a.avi")}, false, false},
      {{"zantrel", at("a.avi"), at("b.avi")}, {at("a.avi"), at("b.avi")}, false, false},
      {{"zantrel", "/CHECKERRORS"}, {}, true, false},
      {{"zantrel", "/checkerrors", at("b.avi")}, {at("b.avi")}, true, false},
      {{"zantrel", "/RebuildIndex", at("a.avi"), at("a.avi")}, {at("a.avi")}, false, true},
      {{"zantrel", "/checkerrors", at("films")}, films, true, false},
      {{"zantrel", at("films"), at("a.avi")}, films + QStringList{at("a.avi")}, false, false},
      {{"zantrel", "/Inst", at("a.avi")}, {at("a.avi")}, false, false},
      {{"zantrel", "/UNINST", at("a.avi")}, {at("a.avi")}, false, false},
      // No switch, so a file: the run says it cannot be opened.
      {{"zantrel", "/checkerror", at("a.avi")}, {"/checkerror", at("a.avi")}, false, false},
      // Relative to the folder the program starts in.
      {{"zantrel", "a.avi", "films/../b.avi"}, {at("a.avi"), at("b.avi")}, false, false},
      {{"zantrel", "/rebuildindex", "films"}, films, false, true},
  };
  const QString startedIn = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir.Path())));
  // Natural order without help from the locale's collation.
  QLocale::setDefault(QLocale::c());
  for (const Case& c : cases) {
    const std::string name = c.args.join(' ').toStdString();
    TFrmMain w(prompts, &store);
    w.FormCreate(c.args);
    QStringList rows;
    for (int i = 0; i < w.LvwFiles->topLevelItemCount(); ++i) {
      rows << w.RowPath(i);
      const QFileInfo path(w.RowPath(i));
      EXPECT_EQ(w.LvwFiles->topLevelItem(i)->text(0), path.fileName()) << name;
      EXPECT_EQ(w.LvwFiles->topLevelItem(i)->text(1), path.path()) << name;
    }
    EXPECT_EQ(rows, c.rows) << name;
    EXPECT_EQ(w.TmrCheckErrors->isActive(), c.checkTimer) << name;
    EXPECT_EQ(w.TmrRebuildIndex->isActive(), c.rebuildTimer) << name;
    w.TmrCheckErrors->stop();
    w.TmrRebuildIndex->stop();
  }
  QLocale::setDefault(QLocale::system());
  QDir::setCurrent(startedIn);
  VEK::SetLanguage(VEK::English);
}

TEST_F(MainWindow, AConfirmedConfigurationRefreshesTheViewAndIsSavedCancelledIsNot) {
  window->AddFile(Put("a.avi", Clean()));
  window->Settings.SelectedFile = false;
  RunToEnd(true);
  window->LvwFiles->clearSelection();
  const QStringList all = window->AllMessages();
  auto savedPrefix = [&] {
    VEKRegistry::Registry registry(store);
    return registry.OpenKey(SettingsKeys::Files, false) ? registry.ReadString("Prefix") : std::string();
  };
  window->EditConfiguration = [](Config&) { return false; };  // Cancel
  window->ActConfig->trigger();
  EXPECT_EQ(savedPrefix(), "");
  EXPECT_EQ(MessagesCenter(), all);

  window->EditConfiguration = [](Config& c) {
    c.SelectedFile = true;
    c.Prefix = "Edited.";
    return true;
  };
  window->ActConfig->trigger();
  EXPECT_EQ(savedPrefix(), "Edited.");
  EXPECT_EQ(MessagesCenter(), QStringList()) << "the selected-file view with no row selected";
}

TEST_F(MainWindow, TheAutoStartSwitchRunsTheOperationOnceTheLoopRuns) {
  const std::string a = Put("a.avi", Damaged());
  TFrmMain w(prompts, &store);
  w.FormCreate({"zantrel", "/rebuildindex", QString::fromStdString(a)});
  VEK::SetLanguage(VEK::English);
  EXPECT_EQ(w.Mark(0), MarkNone) << "nothing before the event loop runs";
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.Mark(0) == MarkRebuilt && !w.Session.Running(); }, 30000));
  EXPECT_FALSE(w.TmrRebuildIndex->isActive()) << "fires once";
  EXPECT_TRUE(Exists(dir / "Zantrel.a.avi"));
}

TEST_F(MainWindow, StayOnTopIsSavedAtOnce) {
  window->MnuStayOnTop->trigger();
  EXPECT_TRUE(window->Settings.StayOnTop);
  VEKRegistry::Registry registry(store);
  ASSERT_TRUE(registry.OpenKey(SettingsKeys::Placement, false));
  EXPECT_TRUE(registry.ReadBool("StayOnTop"));
}

TEST_F(MainWindow, DroppedFilesAreAddedInOrderExceptDuringAnOperation) {
  auto drop = [&](const std::vector<std::string>& paths) {
    QList<QUrl> urls;
    for (const auto& p : paths) urls << QUrl::fromLocalFile(QString::fromStdString(p));
    urls << QUrl("https://zantrel.org/not-a-file.avi");  // only local files are taken
    window->HandleDroppedFiles(urls);
  };
  const std::string a = Put("a.avi", Clean()), b = Put("b b.avi", Clean());
  drop({b, a, b});
  ASSERT_EQ(window->LvwFiles->topLevelItemCount(), 2) << "a file already listed is not added again";
  EXPECT_EQ(window->RowPath(0).toStdString(), b);
  EXPECT_EQ(window->RowPath(1).toStdString(), a);
  EXPECT_EQ(window->LvwFiles->topLevelItem(0)->text(0), "b b.avi");
  EXPECT_EQ(window->LvwFiles->topLevelItem(0)->text(1).toStdString(), dir.Path());
  // A file of another kind is refused, with a line that says why; an AVI
  // file named in capitals is one.
  drop({Put("photo.jpg", Clean()), Put("CLIP.AVI", Clean())});
  ASSERT_EQ(window->LvwFiles->topLevelItemCount(), 3);
  EXPECT_EQ(window->LvwFiles->topLevelItem(2)->text(0), "CLIP.AVI");
  EXPECT_EQ(MessagesCenter(), QStringList{"\"photo.jpg\" was not added: only AVI files (.avi) are checked and rebuilt."});
  // Nothing is added while a run goes on (here while it asks about an
  // existing copy).
  Put("Zantrel.a.avi", Clean());
  const std::string c = Put("c.avi", Clean());
  prompts.answers = {PromptAnswer::Cancel};
  prompts.whileAsking = [&] {
    ASSERT_TRUE(window->Session.Running());
    drop({c});
  };
  RunToEnd(false);
  EXPECT_EQ(window->LvwFiles->topLevelItemCount(), 3);
}

TEST_F(MainWindow, SettingsAreWrittenWhenTheWindowGoesAway) {
  window->Settings.Prefix = "Fixed.";
  window->FormDestroy();
  VEKRegistry::Registry registry(store);
  ASSERT_TRUE(registry.OpenKey(SettingsKeys::Files, false));
  EXPECT_EQ(registry.ReadString("Prefix"), "Fixed.");
  ASSERT_TRUE(registry.OpenKey(SettingsKeys::Layout, false));
  EXPECT_EQ(registry.ReadInteger("Files.Column(1).Width"), window->LvwFiles->columnWidth(1)) << "as the list shows it";
}

// The window and its messages speak the stored language, else the system's,
// which is then saved as the choice.
TEST_F(MainWindow, TheLanguageIsTheStoredOneElseTheSystemsAndIsSaved) {
  const std::int8_t en = VEK::English, fr = VEK::French;
  const struct {
    std::optional<std::int32_t> stored;
    const char* locale;
    std::int8_t expected;
  } cases[] = {
      {std::nullopt, "fr_FR", fr}, {std::nullopt, "fr_CA", fr}, {std::nullopt, "fr_CH", fr},
      {std::nullopt, "en_US", en}, {std::nullopt, "de_DE", en}, {std::nullopt, "C", en},
      {0, "fr_FR", en},            {1, "en_US", fr},            {257, "de_DE", fr},
  };
  const std::string path = Put("a.avi", Clean());
  for (const auto& c : cases) {
    const std::string name = std::string(c.locale) + (c.stored ? ", stored " + std::to_string(*c.stored) : "");
    VEKRegistry::MemoryStore own;
    if (c.stored) {
      VEKRegistry::Registry registry(own);
      ASSERT_TRUE(registry.OpenKey(SettingsKeys::Root, true));
      registry.WriteInteger("Language", *c.stored);
    }
    QLocale::setDefault(QLocale(QString::fromLatin1(c.locale)));
    ZantrelApp::UseLanguage(c.expected == fr ? en : fr);  // what the window must leave behind
    {
      TFrmMain w(prompts, &own);
      w.FormCreate({"zantrel"});
      const bool french = c.expected == fr;
      EXPECT_EQ(VEK::LanguageIndex(), c.expected) << name;
      EXPECT_EQ(w.MnuFile->title(), french ? "&Fichier" : "&File") << name;
      w.AddFile(path);
      w.StartOperation(true);
      ASSERT_TRUE(QTest::qWaitFor([&] { return !w.Session.Running(); }, 30000)) << name;
      EXPECT_EQ(w.RowMessages(0)[1], french ? "Vérification des erreurs..." : "Checking errors...") << name;
      w.FormDestroy();
    }
    EXPECT_EQ(StoredLanguage(own), c.stored ? *c.stored : c.expected) << name;
  }
  QLocale::setDefault(QLocale::system());
}

// Français chosen and confirmed: the window is French when the dialog has
// gone, before any further event, and the choice is saved; English back the same way.
TEST_F(MainWindow, ALanguageConfirmedInTheConfigurationRetranslatesTheWindowAtOnceAndIsSaved) {
  TFrmConfig config(window.get());
  window->EditConfiguration = [&](Config& settings) { return config.EditConfig(settings); };
  window->AddFile(Put("a.avi", Clean()));
  window->AddFile(Put("b.avi", Damaged()));
  window->show();
  RunToEnd(true);
  QApplication::processEvents();
  EXPECT_EQ(window->StatusBar1->currentMessage().left(7), "2 files");
  EXPECT_FALSE(window->LblReady->isVisible()) << "the summary hides \"Ready\", not drawn over it";
  const struct {
    const char* item;
    std::int8_t language;
    const char* fileMenu;
    const char* ready;
    const char* cancel;  // the dialog's own button, for its next showing
    const char* result;  // of the damaged row, from the run before
    const char* summary;
  } steps[] = {
      {"Fran\u00E7ais", VEK::French, "&Fichier", "Pr\u00EAt", "&Annuler", "Endommag\u00E9 : 2 erreurs",
       "2 fichiers v\u00E9rifi\u00E9s \u2014 sains : 1, endommag\u00E9s : 1, ignor\u00E9s : 0, non trait\u00E9s : 0."},
      {"English", VEK::English, "&File", "Ready", "&Cancel", "Damaged: 2 errors",
       "2 files checked: 1 healthy, 1 damaged, 0 skipped, 0 not done."},
  };
  for (const auto& step : steps) {
    QObject guard;
    QTimer::singleShot(0, &guard, [&] {
      auto* choice = config.findChild<QComboBox*>("CboLanguage");
      ASSERT_NE(choice, nullptr);
      choice->setCurrentIndex(choice->findText(QString::fromUtf8(step.item)));
      QTest::mouseClick(config.findChild<QPushButton*>("BtnOk"), Qt::LeftButton);
    });
    QTimer::singleShot(5000, &guard, [&] {
      ADD_FAILURE() << "the dialog stayed open";
      config.reject();
    });
    window->ActConfig->trigger();
    EXPECT_EQ(window->MnuFile->title(), QString::fromUtf8(step.fileMenu)) << step.item;
    EXPECT_EQ(window->findChild<QLabel*>("LblReady")->text(), QString::fromUtf8(step.ready)) << step.item;
    EXPECT_EQ(config.findChild<QPushButton*>("BtnCancel")->text(), QString::fromUtf8(step.cancel)) << step.item;
    EXPECT_EQ(window->LvwFiles->topLevelItem(1)->text(2), QString::fromUtf8(step.result)) << "the results follow";
    EXPECT_EQ(window->StatusBar1->currentMessage(), QString::fromUtf8(step.summary)) << "and the status bar";
    EXPECT_EQ(VEK::LanguageIndex(), step.language) << "the messages follow";
    EXPECT_EQ(StoredLanguage(store), step.language) << step.item;
  }
}

TEST_F(MainWindow, TheMessagesCenterTakesLinesInBatchesInOrderAndKeepsTheUsersScrollPosition) {
  // The user scrolls while the run waits at a question between two files;
  // the second file's lines then arrive behind the view.
  enum Scroll { ToTop, ToBottom };
  for (Scroll scroll : {ToTop, ToBottom}) {
    window->Batch.ClearLines();
    window->ClearList();  // each pass on rows of its own
    window->Settings.SelectedFile = false;
    window->resize(552, 501);
    window->show();
    window->AddFile(Put("first.avi", Spotted(300)));
    window->AddFile(Put("second.avi", Spotted(1000)));
    WriteFile(dir / "Zantrel.second.avi", {'o', 'l', 'd'});
    std::remove((dir / "Zantrel.first.avi").c_str());
    int changes = 0;
    auto counter = QObject::connect(window->EdtLogs, &MessagesView::Changed, [&] { ++changes; });
    QScrollBar* bar = window->EdtLogs->verticalScrollBar();
    QStringList shownAtQuestion;
    prompts.answers = {PromptAnswer::Yes};
    prompts.whileAsking = [&] {
      shownAtQuestion = MessagesCenter();
      bar->setValue(scroll == ToTop ? 0 : bar->maximum());
    };
    RunToEnd(false);
    QObject::disconnect(counter);
    prompts.whileAsking = nullptr;
    QApplication::processEvents();

    EXPECT_EQ(shownAtQuestion, window->RowMessages(0) + QStringList{"Processing file \"second.avi\""})
        << "the lines so far are in view when the question is asked";
    EXPECT_EQ(MessagesCenter(), window->AllMessages()) << "every line, in order";
    EXPECT_EQ(window->AllMessages().size(), window->RowMessages(0).size() + window->RowMessages(1).size() + 1)
        << "and the batch's summary";
    EXPECT_GE(window->RowMessages(1).size(), 2000);
    EXPECT_LT(changes, window->AllMessages().size() / 10) << "the view takes the lines in batches";
    if (scroll == ToTop) EXPECT_EQ(bar->value(), 0) << "the view stays where the user put it";
    else EXPECT_EQ(bar->value(), bar->maximum()) << "a view at the bottom follows the new lines";
  }
}

// Stop and a close both ask once; No leaves the run going (and the window
// open), Yes stops it, and then the asked close goes ahead.
TEST_F(MainWindow, AStopOrACloseAsksOnceAndOnlyYesEndsTheRun) {
  const std::string longFile = PutLongFile();
  if (longFile.empty()) GTEST_SKIP() << "no sparse file here";
  enum How { StopCommand, CloseWindow };
  for (How how : {StopCommand, CloseWindow}) {
    SCOPED_TRACE(how == StopCommand ? "Stop" : "close");
    window->ClearList();
    window->show();
    window->AddFile(longFile);
    window->StartOperation(true);
    ASSERT_TRUE(window->Session.Running());
    for (PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes}) {
      prompts.asked.clear();
      prompts.answers = {answer};
      bool closed = false;
      if (how == StopCommand) window->ActActionStop->trigger();
      else closed = window->close();
      ASSERT_EQ(prompts.asked.size(), 1u);
      EXPECT_EQ(prompts.asked[0].text, "Abort current operation ?");
      EXPECT_EQ(window->Session.Running(), answer == PromptAnswer::No);
      EXPECT_EQ(closed, how == CloseWindow && answer == PromptAnswer::Yes);
    }
    EXPECT_EQ(window->Mark(0), MarkAborted);
    EXPECT_EQ(window->isVisible(), how == StopCommand);
  }
}

TEST_F(MainWindow, ASettingsSaveThatFailsIsShownAndTheWindowGoesOn) {
  FullDiskStore disk;
  TFrmMain w(prompts, &disk);
  w.FormCreate({"zantrel"});
  VEK::SetLanguage(VEK::English);
  w.show();
  w.EditConfiguration = [](Config& c) {
    c.Prefix = "Edited.";
    return true;
  };
  struct Case {
    const char* action;
    std::function<void()> run;
  } cases[] = {
      {"Stay on top", [&] { w.MnuStayOnTop->trigger(); }},
      {"Configuration Ok", [&] { w.ActConfig->trigger(); }},
      {"the window going away", [&] { w.FormDestroy(); }},
  };
  disk.full = true;
  for (const Case& c : cases) {
    prompts.asked.clear();
    prompts.answers = {PromptAnswer::Ok};
    EXPECT_NO_THROW(c.run()) << c.action;
    ASSERT_EQ(prompts.asked.size(), 1u) << c.action;
    EXPECT_EQ(prompts.asked[0].caption, "Settings not saved") << c.action;
    EXPECT_EQ(prompts.asked[0].text, "No space left on device") << c.action;
    EXPECT_TRUE(w.isVisible()) << c.action;
  }
  EXPECT_TRUE(w.Settings.StayOnTop) << "the choice holds for this session";
  EXPECT_EQ(w.Settings.Prefix, "Edited.");
  disk.full = false;
  prompts.asked.clear();
  w.MnuStayOnTop->trigger();
  EXPECT_TRUE(prompts.asked.empty()) << "a save that works asks nothing";
}

TEST_F(MainWindow, QuestionBoxesSitOnTheWindowWithButtonsInTheMessagesLanguage) {
  using ZantrelApp::PromptButtons;
  struct Case {
    std::int8_t language;
    PromptButtons buttons;
    QStringList names;
    PromptAnswer whenClosed;
    bool enter;  // answered with Enter instead of closing the box
  } cases[] = {
      {VEK::English, PromptButtons::YesNo, {"&No", "&Yes"}, PromptAnswer::No, false},
      {VEK::French, PromptButtons::YesNo, {"&Non", "&Oui"}, PromptAnswer::No, false},
      {VEK::French, PromptButtons::YesNoCancel, {"&Non", "&Oui", "Annuler"}, PromptAnswer::Cancel, false},
      {VEK::French, PromptButtons::YesNoAllCancel, {"&Non", "&Oui", "Annuler", "Non pour t&ous", "Oui pour &tous"},
       PromptAnswer::Cancel, false},
      {VEK::English, PromptButtons::YesNoAllCancel, {"&No", "&Yes", "Cancel", "N&o to all", "Yes to &all"},
       PromptAnswer::Cancel, false},
      {VEK::English, PromptButtons::OkCancel, {"Cancel", "OK"}, PromptAnswer::Cancel, false},
      {VEK::French, PromptButtons::OkCancel, {"Annuler", "OK"}, PromptAnswer::Cancel, false},
      {VEK::English, PromptButtons::OkCancel, {"Cancel", "OK"}, PromptAnswer::Ok, true},
      {VEK::French, PromptButtons::OkCancelDefaultCancel, {"Annuler", "OK"}, PromptAnswer::Cancel, false},
      {VEK::English, PromptButtons::OkCancelDefaultCancel, {"Cancel", "OK"}, PromptAnswer::Cancel, true},
      {VEK::French, PromptButtons::Ok, {"OK"}, PromptAnswer::Ok, false},
  };
  window->show();
  ZantrelApp::MessageBoxPrompts boxes(window.get());
  for (const Case& c : cases) {
    VEK::SetLanguage(c.language);
    QStringList names;
    QWidget* parent = nullptr;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      parent = box->parentWidget();
      for (QAbstractButton* b : box->buttons()) names << b->text();
      if (c.enter)
        QTest::keyClick(box, Qt::Key_Return);
      else
        boxes.CloseOpenQuestions();
    });
    const PromptAnswer answer =
        boxes.Ask("Caption", "Text", c.buttons, ZantrelApp::PromptIcon::Question);
    names.sort();
    EXPECT_EQ(names, c.names);
    EXPECT_EQ(parent, window.get());
    EXPECT_EQ(answer, c.whenClosed);
  }
}

// Whether a label shows its whole text: the text's own width and height, as
// the font measures them, inside the label's contents.
::testing::AssertionResult ShowsWholeText(const QLabel* label) {
  const QFontMetrics fm(label->font());
  const QRect inside = label->contentsRect();
  const int width = fm.horizontalAdvance(label->text());
  if (width <= inside.width() && fm.height() <= inside.height()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << label->objectName().toStdString() << " \"" << label->text().toStdString()
                                       << "\" needs " << width << "x" << fm.height() << ", has " << inside.width()
                                       << "x" << inside.height();
}

TEST_F(MainWindow, StatusTextsAndCountersFitTheirTextInEitherLanguageAtAnyFontSize) {
  const std::string path = PutLongFile();
  ASSERT_FALSE(path.empty());
  window->AddFile(path);
  window->Settings.StopPrompt = false;
  window->show();
  struct Case {
    std::int8_t language;
    int points;
    int width;
  } cases[] = {
      {VEK::French, 9, 552},  {VEK::French, 9, 1200}, {VEK::English, 9, 552}, {VEK::French, 16, 800},
      {VEK::English, 16, 552}, {VEK::French, 28, 552}, {VEK::English, 28, 1200},
  };
  const QFont original = window->font();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.points) + " pt, " + std::to_string(c.width) + " px, " +
                 (c.language == VEK::French ? "French" : "English"));
    ZantrelApp::UseLanguage(c.language);
    QFont font = original;
    font.setPointSize(c.points);
    window->setFont(font);
    window->resize(c.width, 501);
    prompts.answers = {PromptAnswer::Yes};  // the marked row is checked again
    window->StartOperation(false);
    ASSERT_TRUE(window->Session.Running());
    window->ShowCounters(13613, 16900, 2147483647);
    const bool french = c.language == VEK::French;
    EXPECT_EQ(window->StatusBar2Panels[1]->text(),
              QString::fromUtf8(french ? "Images vidéo : 16900" : "Video Frames : 16900"));
    EXPECT_EQ(window->StatusBar2Panels[2]->text(),
              QString::fromUtf8(french ? "Échantillons audio : 2147483647" : "Audio Samples : 2147483647"));
    // A layout grows one level per pass of the event loop, up to the window.
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    EXPECT_TRUE(ShowsWholeText(window->PnlStatus));
    for (QLabel* panel : window->StatusBar2Panels) EXPECT_TRUE(ShowsWholeText(panel));
    EXPECT_TRUE(ShowsWholeText(window->LblMessages));
    window->StopOperation();
    QApplication::processEvents();
    EXPECT_EQ(window->PnlStatus->text(), c.language == VEK::French ? "Interruption..." : "Aborting...");
    const QStringList lines = window->RowMessages(0);
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines[lines.size() - 2], QString::fromUtf8(french ? "Procédé interrompu." : "Operation aborted."));
    window->PnlStats->show();  // as it was drawn while stopping
    QApplication::processEvents();
    EXPECT_TRUE(ShowsWholeText(window->PnlStatus));
    window->PnlStats->hide();
    QApplication::processEvents();
    EXPECT_TRUE(ShowsWholeText(window->findChild<QLabel*>("LblReady")));
    EXPECT_GE(window->width(), c.width) << "the window only ever grows to fit";
  }
  window->setFont(original);
}

TEST_F(MainWindow, KeyboardShortcutsAreShownInTheMenusAndWork) {
  const struct {
    QAction* action;
    QKeySequence key;
  } shortcuts[] = {
      {window->ActActionCheckErrors, QKeySequence(Qt::Key_F5)},
      {window->ActActionFix, QKeySequence(Qt::CTRL | Qt::Key_R)},
      {window->ActActionStop, QKeySequence(Qt::Key_Escape)},
      {window->ActFileRemove, QKeySequence(Qt::Key_Delete)},
      {window->ActFileAdd, QKeySequence(Qt::CTRL | Qt::Key_O)},
      {window->ActFileAddFolder, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_O)},
      {window->ActSaveMessages, QKeySequence(Qt::CTRL | Qt::Key_S)},
  };
  for (const auto& s : shortcuts) {
    EXPECT_EQ(s.action->shortcut(), s.key) << s.action->objectName().toStdString();  // the one a menu shows
    bool inMenu = false;
    for (QObject* o : s.action->associatedObjects()) inMenu |= qobject_cast<QMenu*>(o) != nullptr;
    EXPECT_TRUE(inMenu) << s.action->objectName().toStdString();
  }

  window->show();
  window->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
  const std::string a = Put("a.avi", Damaged());
  window->ChooseFiles = [&](const QString&) { return QStringList{QString::fromStdString(a)}; };
  QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
  ASSERT_EQ(window->LvwFiles->topLevelItemCount(), 1) << "Ctrl+O adds";
  window->UpdateActions();
  QTest::keyClick(window.get(), Qt::Key_F5);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window->Session.Running() && window->Mark(0) == MarkErrors; }, 30000))
      << "F5 checks";

  const std::string longFile = PutLongFile();
  ASSERT_FALSE(longFile.empty());
  window->AddFile(longFile);
  window->Settings.StopPrompt = false;
  prompts.answers = {PromptAnswer::No};  // only the unmarked row
  window->UpdateActions();
  QTest::keyClick(window.get(), Qt::Key_R, Qt::ControlModifier);
  ASSERT_TRUE(window->Session.Running()) << "Ctrl+R rebuilds";
  QTest::keyClick(window.get(), Qt::Key_Escape);
  EXPECT_FALSE(window->Session.Running()) << "Esc stops";
  EXPECT_EQ(window->Mark(1), MarkAborted);

  window->LvwFiles->setFocus();
  window->LvwFiles->clearSelection();
  window->LvwFiles->topLevelItem(0)->setSelected(true);
  window->UpdateActions();
  QTest::keyClick(window.get(), Qt::Key_Delete);
  ASSERT_EQ(window->LvwFiles->topLevelItemCount(), 1) << "Delete removes the selected row";
  EXPECT_EQ(window->RowPath(0).toStdString(), longFile);
}

TEST_F(MainWindow, FoldersAddTheirVisibleAviFilesInNaturalOrderAndNoFileIsListedTwice) {
  const std::string folder = dir / "films";
  for (const char* sub : {"films", "films/Extra", "films/empty", "films/Extra/deeper", "films/.thumbnails"})
    ASSERT_EQ(mkdir((dir / sub).c_str(), 0755), 0);
  for (const char* name : {"films/clip10.avi", "films/clip2.avi", "films/Extra/b.AVI", "films/Extra/deeper/a.avi",
                           "films/notes.txt", "films/Extra/cover.jpg", "films/.thumbnails/clip2.avi", "single.avi"})
    WriteFile(dir / name, Clean());
  // Natural order without help from the locale's collation.
  QLocale::setDefault(QLocale::c());
  auto q = [](const std::string& p) { return QString::fromStdString(p); };
  QStringList opened;  // where each Add dialog opened
  struct Case {
    const char* how;
    std::function<void()> add;
  } cases[] = {
      {"dropped",
       [&] {
         window->HandleDroppedFiles({QUrl::fromLocalFile(q(dir / "films/clip2.avi")), QUrl::fromLocalFile(q(folder)),
                                     QUrl::fromLocalFile(q(dir / "single.avi"))});
       }},
      {"chosen",
       [&] {
         window->ChooseFiles = [&](const QString& from) {
           opened.push_back(from);
           return QStringList{q(dir / "films/clip2.avi")};
         };
         window->ActFileAdd->trigger();
         window->ChooseFolder = [&](const QString& from) {
           opened.push_back(from);
           return q(folder);
         };
         window->ActFileAddFolder->trigger();
         window->ChooseFiles = [&](const QString& from) {
           opened.push_back(from);
           return QStringList{q(dir / "single.avi"), q(dir / "films/../single.avi")};
         };
         window->ActFileAdd->trigger();
       }},
  };
  for (const Case& c : cases) {
    window->ClearList();
    c.add();
    c.add();  // everything again: nothing new
    QStringList paths;
    for (int i = 0; i < window->LvwFiles->topLevelItemCount(); ++i) paths << window->RowPath(i);
    EXPECT_EQ(paths, (QStringList{q(dir / "films/clip2.avi"), q(dir / "films/clip10.avi"), q(dir / "films/Extra/b.AVI"),
                                  q(dir / "films/Extra/deeper/a.avi"), q(dir / "single.avi")}))
        << c.how << ": hidden folders are left out";
  }
  // Each Add dialog opens where the one before found its files.
  EXPECT_EQ(opened.mid(0, 4), (QStringList{QString(), q(folder), q(folder), q(dir.Path())}));
  QLocale::setDefault(QLocale::system());
}

TEST_F(MainWindow, RowsLineUpShowTheirPathAndOpenTheCopyOrTheFile) {
  window->show();
  const std::string a = Put("a.avi", Damaged()), b = Put("b.avi", Damaged());
  window->AddFile(a);
  window->AddFile(b);
  prompts.answers = {};
  RunToEnd(false);  // two copies written
  window->AddFile(Put("c.avi", Clean()));
  window->AddFile(dir / "gone.avi");
  const QSize markSize = window->LvwFiles->topLevelItem(0)->icon(0).actualSize(QSize(16, 16));
  for (int i = 0; i < 4; ++i) {
    QTreeWidgetItem* item = window->LvwFiles->topLevelItem(i);
    EXPECT_EQ(item->icon(0).actualSize(QSize(16, 16)), markSize) << "row " << i << " lines up";
    EXPECT_TRUE(item->toolTip(0).startsWith(window->RowPath(i)));
    EXPECT_EQ(item->toolTip(1), window->RowPath(i));
  }
  EXPECT_EQ(window->Mark(2), MarkNone);

  std::vector<QString> opened;
  bool canOpen = true;
  window->OpenUrl = [&](const QUrl& url) {
    opened.push_back(url.toLocalFile());
    return canOpen;
  };
  window->LvwFiles->setFocus();
  auto enterOn = [&](int row) {
    window->LvwFiles->setCurrentItem(window->LvwFiles->topLevelItem(row));
    QTest::keyClick(window->LvwFiles, Qt::Key_Return);
  };
  auto doubleClickOn = [&](int row) {
    // On the file's name: the row may reach past the view's right edge.
    const QRect r = window->LvwFiles->visualItemRect(window->LvwFiles->topLevelItem(row));
    const QPoint at(window->LvwFiles->columnViewportPosition(0) + 20, r.center().y());
    QTest::mouseClick(window->LvwFiles->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(window->LvwFiles->viewport(), Qt::LeftButton, {}, at);
  };
  enterOn(0);
  doubleClickOn(1);
  enterOn(2);
  EXPECT_EQ(opened, (std::vector<QString>{QString::fromStdString(dir / "Zantrel.a.avi"),
                                          QString::fromStdString(dir / "Zantrel.b.avi"),
                                          QString::fromStdString(dir / "c.avi")}));

  struct Failure {
    int row;
    bool canOpen;
    QString text;
  } failures[] = {
      {3, true, QString::fromStdString("\"" + dir / "gone.avi" + "\" does not exist.")},
      {2, false, QString::fromStdString("No program could open \"" + dir / "c.avi" + "\".")},
  };
  for (const Failure& f : failures) {
    canOpen = f.canOpen;
    prompts.asked.clear();
    prompts.answers = {PromptAnswer::Ok};
    window->LvwFiles->clearSelection();
    window->LvwFiles->topLevelItem(f.row)->setSelected(true);
    window->UpdateActions();
    window->ActOpenFile->trigger();
    ASSERT_EQ(prompts.asked.size(), 1u);
    EXPECT_EQ(prompts.asked[0].caption, "Open");
    EXPECT_EQ(prompts.asked[0].text, f.text);
  }
}

TEST_F(MainWindow, TheTitleAndTheBatchBarShowTheBatchAndTheListFollowsTheRow) {
  window->resize(552, 300);
  window->show();
  for (int i = 0; i < 40; ++i) window->AddFile(Put("clip" + std::to_string(i) + ".avi", Clean()));
  WriteFile(dir / "Zantrel.clip29.avi", {'o', 'l', 'd'});
  QString title, batchText;
  int batchValue = -1, batchMaximum = -1;
  bool rowInView = false;
  prompts.answers = {PromptAnswer::Yes};
  prompts.whileAsking = [&] {  // the question about file 30 of 40
    title = window->windowTitle();
    window->Session.Tick();
    batchText = window->ProgressBar2->text();
    batchValue = window->ProgressBar2->value();
    batchMaximum = window->ProgressBar2->maximum();
    const QRect row = window->LvwFiles->visualItemRect(window->LvwFiles->topLevelItem(29));
    rowInView = row.top() >= 0 && row.bottom() <= window->LvwFiles->viewport()->rect().bottom();
  };
  RunToEnd(false);
  const QString name = QApplication::applicationName();
  EXPECT_EQ(title, name + QString::fromUtf8(" \u2014 30/40 \u2014 clip29.avi"));
  EXPECT_EQ(batchText, "30/40");
  EXPECT_EQ(batchMaximum, 4000);
  EXPECT_GE(batchValue, 2900);
  EXPECT_LT(batchValue, 3000);
  EXPECT_TRUE(rowInView) << "the list follows the row being processed";
  EXPECT_LT(window->LvwFiles->visualItemRect(window->LvwFiles->topLevelItem(0)).top(), 0) << "the list did scroll";
  EXPECT_EQ(window->windowTitle(), name) << "the title is back at the end";
}

TEST_F(MainWindow, TheMessagesCenterCanBeSavedToATextFileAndCopied) {
  window->AddFile(Put("a.avi", Damaged()));
  window->Settings.SelectedFile = false;
  RunToEnd(true);
  const QStringList lines = window->AllMessages();
  ASSERT_GE(lines.size(), 5);
  const std::string saved = dir / "messages.txt";
  window->ChooseMessagesFile = [&] { return QString::fromStdString(saved); };
  window->ActSaveMessages->trigger();
  const Bytes bytes = ReadFile(saved);
  EXPECT_EQ(QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()), bytes.size()), lines.join('\n') + '\n');
  window->ActCopyMessages->trigger();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), lines.join('\n'));

  window->ChooseMessagesFile = [&] { return QString::fromStdString(dir / "no-such-folder/messages.txt"); };
  prompts.answers = {PromptAnswer::Ok};
  window->ActSaveMessages->trigger();
  ASSERT_EQ(prompts.asked.size(), 1u);
  EXPECT_EQ(prompts.asked[0].caption, "Messages not saved");
  EXPECT_TRUE(prompts.asked[0].text.startsWith(QString::fromStdString("Could not save the messages to \"" + dir /
                                                                      "no-such-folder/messages.txt\": ")));
}

// The report for scripts the window saves for its list is what zantrel-cli
// --json prints for the same files.
TEST_F(MainWindow, TheListsReportIsSavedAsTheConsolePrintsIt) {
  const std::string a = Put("a.avi", Damaged()), b = Put("b.avi", Clean());
  window->AddFile(a);
  window->AddFile(b);
  window->Settings.SelectedFile = false;
  RunToEnd(true);
  const ProgramRun console = RunProgram({ZANTREL_CLI_PATH, "check", "--json", a, b});
  ASSERT_NE(console.Out.find("\"corrupted-data\""), std::string::npos) << console.Out;
  const std::string saved = dir / "report.jsonl";
  window->ChooseReportFile = [&] { return QString::fromStdString(saved); };
  window->ActSaveReport->trigger();
  const Bytes bytes = ReadFile(saved);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), console.Out);

  window->ChooseReportFile = [&] { return QString::fromStdString(dir / "no-such-folder/report.jsonl"); };
  prompts.answers = {PromptAnswer::Ok};
  window->ActSaveReport->trigger();
  ASSERT_EQ(prompts.asked.size(), 1u);
  EXPECT_TRUE(prompts.asked[0].text.startsWith(QString::fromStdString("Could not save the report to \"" + dir /
                                                                      "no-such-folder/report.jsonl\": ")));
}

}  // namespace

// A rebuild takes a damaged header list from the reference file chosen in the
// Action menu, and from the data alone once the choice is cancelled.
TEST_F(MainWindow, TheReferenceFileChoiceReachesTheRebuild) {
  const std::string reference = Put("good.avi", Clean());
  Bytes broken = Clean();
  // Stream 0's strh says audio: its header is damaged (strl at 88, its strh's data at 108).
  std::copy_n("auds", 4, broken.begin() + 108);
  // Only its strh is damaged: the reference gives that, its own strf stays.
  const std::string taken = "The stream header of stream 0 was taken from the reference file.";
  const struct {
    QString chosen;
    bool used;
  } rows[] = {{QString::fromStdString(reference), true}, {QString(), false}};
  for (const auto& row : rows) {
    window->ChooseReference = [&] { return row.chosen; };
    window->ActReference->setChecked(false);
    window->UpdateActions();  // as the idle loop does
    window->ActReference->trigger();
    EXPECT_EQ(window->ActReference->isChecked(), row.used);
    window->Batch.ClearLines();
    window->AddFile(Put(row.used ? "with.avi" : "without.avi", broken));
    prompts.answers = {PromptAnswer::No};  // the row of the run before is not run again
    RunToEnd(false);
    EXPECT_EQ(window->AllMessages().contains(QString::fromStdString(taken)), row.used) << row.used;
    EXPECT_EQ(window->Mark(window->LvwFiles->topLevelItemCount() - 1), MarkRebuilt);
  }
}

// Yes to Stop: until the worker has ended the window keeps running its event
// loop for painting and timers, yet takes no second stop and no close.
TEST_F(MainWindow, TheWaitAfterStopKeepsTheWindowServedButTakesNoSecondStopNorAClose) {
  const std::string path = PutLongFile();
  ASSERT_FALSE(path.empty());
  window->AddFile(path);
  window->AddFile(Put("later.avi", Clean()));
  window->show();
  window->StartOperation(true);
  ASSERT_TRUE(window->Session.Running());

  bool inStop = false, fired = false, firedInStop = false, secondStop = true, closed = true, stopEnabled = true;
  QTimer::singleShot(0, window.get(), [&] {
    fired = true;
    firedInStop = inStop;
    secondStop = window->StopOperation();
    window->UpdateActions();
    stopEnabled = window->ActActionStop->isEnabled();
    closed = window->close();
  });
  prompts.answers = {PromptAnswer::Yes};
  inStop = true;
  EXPECT_TRUE(window->StopOperation());
  inStop = false;

  EXPECT_TRUE(fired);
  EXPECT_TRUE(firedInStop) << "the timer ran while the stop waited for the worker";
  EXPECT_FALSE(secondStop) << "a stop already waiting is the only one";
  EXPECT_FALSE(stopEnabled);
  EXPECT_FALSE(closed) << "no close in the middle of the wait";
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(prompts.asked.size(), 1u) << "one stop question";
  EXPECT_FALSE(window->Session.Running()) << "the wait served the end of the worker";
  EXPECT_TRUE(window->Session.Worker()->Finished());
  EXPECT_EQ(Marks(), (std::vector<RowMark>{MarkAborted, MarkNone}));
  EXPECT_EQ(window->RowMessages(0).mid(window->RowMessages(0).size() - 2), Lines({"Operation aborted.", ""}));
}

// The selection (and with it the Messages Center and the keyboard's current
// row) is taken to the file being worked on, wherever it was when the run
// started, and stays on the row a run ends or is aborted on.
TEST_F(MainWindow, TheMessagesCenterAndTheCurrentRowFollowTheWorkFromAnySelection) {
  enum Start { OnLastRow, OnNoRow };
  enum End { Completed, CancelledAtQuestion, Stopped };
  struct Case {
    const char* name;
    Start start;
    End end;
    int lastRow;           // the row the run ends or is aborted on
    const char* lastLine;  // that row's last line before the empty one
  } cases[] = {
      {"last row, completed", OnLastRow, Completed, 2, "Done. Found 0 errors, 2 video frames, 32 audio samples"},
      {"no row, completed", OnNoRow, Completed, 2, "Done. Found 0 errors, 2 video frames, 32 audio samples"},
      {"last row, cancelled", OnLastRow, CancelledAtQuestion, 1, "User choose to abort operation."},
      {"no row, cancelled", OnNoRow, CancelledAtQuestion, 1, "User choose to abort operation."},
      {"last row, stopped", OnLastRow, Stopped, 0, "Operation aborted."},
      {"no row, stopped", OnNoRow, Stopped, 0, "Operation aborted."},
  };
  window->Settings.StopPrompt = false;
  window->show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window->Batch.ClearLines();
    window->ClearList();  // each case on rows of its own
    if (c.end == Stopped) {
      const std::string path = PutLongFile();
      ASSERT_FALSE(path.empty());
      window->AddFile(path);
    } else {
      window->AddFile(Put("a.avi", Clean()));
    }
    window->AddFile(Put("b.avi", Clean()));
    window->AddFile(Put("c.avi", Clean()));
    std::remove((dir / "Zantrel.a.avi").c_str());
    std::remove((dir / "Zantrel.c.avi").c_str());
    WriteFile(dir / "Zantrel.b.avi", {'o', 'l', 'd'});  // the question on row 1
    window->LvwFiles->clearSelection();
    window->LvwFiles->setCurrentItem(nullptr, 0, QItemSelectionModel::NoUpdate);
    if (c.start == OnLastRow) window->LvwFiles->topLevelItem(2)->setSelected(true);
    window->EdtLogs->SetLines(QStringList{"left over"});

    QStringList shownAtQuestion;
    QTreeWidgetItem* currentAtQuestion = nullptr;
    prompts.asked.clear();
    prompts.answers = {c.end == CancelledAtQuestion ? PromptAnswer::Cancel : PromptAnswer::Yes};
    prompts.whileAsking = [&] {
      shownAtQuestion = MessagesCenter();
      currentAtQuestion = window->LvwFiles->currentItem();
    };
    if (c.end == Stopped) QTimer::singleShot(200, window.get(), [&] { window->ActActionStop->trigger(); });
    RunToEnd(false);
    prompts.whileAsking = nullptr;
    QApplication::processEvents();

    if (c.end != Stopped) {
      ASSERT_EQ(prompts.asked.size(), 1u);
      EXPECT_EQ(shownAtQuestion, Lines({"Processing file \"b.avi\""})) << "the row being worked on, in view";
      EXPECT_EQ(currentAtQuestion, window->LvwFiles->topLevelItem(1));
    }
    QTreeWidgetItem* last = window->LvwFiles->topLevelItem(c.lastRow);
    EXPECT_EQ(window->LvwFiles->selectedItems(), QList<QTreeWidgetItem*>{last});
    EXPECT_EQ(window->LvwFiles->currentItem(), last);
    const QStringList lines = window->RowMessages(c.lastRow);
    ASSERT_GE(lines.size(), 2);
    EXPECT_EQ(lines.mid(lines.size() - 2), Lines({c.lastLine, ""}));
    EXPECT_EQ(MessagesCenter(), lines) << "the Messages Center shows the row the run ended on, to its last line";
  }
}

// What a start saves is what the next start restores, start after start,
// however the window was left: on top of the others or not, maximised or
// not (a maximised one keeps its normal rectangle for un-maximising). A new
// native window made for the top-most flag used to be put back with its
// frame where its inside had been, a frame lower at every start.
TEST_F(MainWindow, ThePlacementComesBackAsItWasSavedStartAfterStart) {
  const struct {
    const char* name;
    bool stayOnTop, maximized;
  } cases[] = {
      {"normal", false, false},
      {"on top", true, false},
      {"maximised", false, true},
      {"maximised on top", true, true},
  };
  const QRect normal(200, 80, 700, 520);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VEKRegistry::MemoryStore saved;
    {
      VEKRegistry::Registry registry(saved);
      ASSERT_TRUE(registry.OpenKey(SettingsKeys::Placement, true));
      registry.WriteInteger("Left", normal.left());
      registry.WriteInteger("Top", normal.top());
      registry.WriteInteger("Width", normal.width());
      registry.WriteInteger("Height", normal.height());
      registry.WriteBool("StayOnTop", c.stayOnTop);
      registry.WriteInteger("ShowWindow", c.maximized ? SettingsWindow::ShowMaximized : SettingsWindow::ShowNormal);
    }
    for (int start = 1; start <= 3; ++start) {
      SCOPED_TRACE("start " + std::to_string(start));
      TFrmMain w(prompts, &saved);
      w.FormCreate({"zantrel"});
      w.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
      QApplication::processEvents();
      EXPECT_EQ(w.isMaximized(), c.maximized);
      EXPECT_EQ(bool(w.windowFlags() & Qt::WindowStaysOnTopHint), c.stayOnTop);
      if (!c.maximized) {
        EXPECT_EQ(w.geometry(), normal);
      }
      w.close();
      w.FormDestroy();
      VEKRegistry::Registry registry(saved);
      ASSERT_TRUE(registry.OpenKey(SettingsKeys::Placement, false));
      EXPECT_EQ(QRect(registry.ReadInteger("Left"), registry.ReadInteger("Top"), registry.ReadInteger("Width"),
                      registry.ReadInteger("Height")),
                normal);
      EXPECT_EQ(registry.ReadInteger("ShowWindow"),
                c.maximized ? SettingsWindow::ShowMaximized : SettingsWindow::ShowNormal);
    }
    if (c.maximized) {
      TFrmMain w(prompts, &saved);
      w.FormCreate({"zantrel"});
      w.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
      w.showNormal();
      QApplication::processEvents();
      EXPECT_EQ(w.geometry(), normal) << "un-maximised";
    }
  }
}

// At any font size the window a first start makes fits the screen with its
// counters, its pictures grow with the font, and a run that starts leaves
// the window's size alone, even when the window was made as small as it goes.
TEST_F(MainWindow, TheWindowFitsTheScreenAndKeepsItsSizeAtEveryFontSize) {
  const std::string longFile = PutLongFile();
  if (longFile.empty()) GTEST_SKIP() << "no sparse file here";
  const QFont original = QApplication::font();
  for (int points : {9, 12, 14}) {
    SCOPED_TRACE(std::to_string(points) + " pt");
    QFont font = original;
    font.setPointSize(points);
    QApplication::setFont(font);
    VEKRegistry::MemoryStore fresh;
    TFrmMain w(prompts, &fresh);
    w.FormCreate({"zantrel", QString::fromStdString(longFile)});
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const QRect screen = w.screen()->availableGeometry();
    EXPECT_LE(w.frameGeometry().width(), screen.width());
    EXPECT_LE(w.frameGeometry().height(), screen.height());
    const int textHeight = QFontMetrics(w.font()).height();
    EXPECT_GE(w.ToolBar1->iconSize().height(), textHeight * 3 / 4) << "pictures as tall as the text, about";
    EXPECT_GE(w.LvwFiles->iconSize().height(), textHeight * 3 / 4);
    for (bool smallest : {false, true}) {
      SCOPED_TRACE(smallest ? "made as small as it goes" : "as it started");
      if (smallest) w.resize(1, 1);
      for (int i = 0; i < 3; ++i) QApplication::processEvents();
      const QSize before = w.size();
      prompts.answers = {PromptAnswer::Yes, PromptAnswer::Yes};  // the aborted row again, then the stop
      if (!smallest) prompts.answers.pop_front();
      w.StartOperation(true);
      ASSERT_TRUE(w.Session.Running());
      for (int i = 0; i < 3; ++i) QApplication::processEvents();
      w.ShowCounters(13613, 16900, 2147483647);
      for (int i = 0; i < 3; ++i) QApplication::processEvents();
      EXPECT_EQ(w.size(), before) << "a run that starts does not resize the window";
      for (QLabel* panel : w.StatusBar2Panels) {
        const QRect inWindow(panel->mapTo(&w, QPoint(0, 0)), panel->size());
        EXPECT_TRUE(w.rect().contains(inWindow)) << panel->objectName().toStdString();
      }
      w.StopOperation();
    }
  }
  QApplication::setFont(original);
}

// A first start fits the screen it is on, with room for a frame, down to a
// screen of 1280 x 1000 at twice the density (640 x 500 for the window).
TEST_F(MainWindow, AFirstStartFitsScreensOfEverySize) {
  const QSize screens[] = {{640, 500}, {800, 600}, {1024, 700}, {1920, 1080}};
  const QFont original = QApplication::font();
  for (int points : {9, 11}) {
    QFont font = original;
    font.setPointSize(points);
    QApplication::setFont(font);
    TFrmMain w(prompts, &store);
    for (const QSize& screen : screens) {
      SCOPED_TRACE(std::to_string(points) + " pt on " + std::to_string(screen.width()) + "x" +
                   std::to_string(screen.height()));
      const QSize size = w.FirstRunSize(QRect(QPoint(0, 0), screen));
      EXPECT_LE(size.width() + 2, screen.width());
      EXPECT_LE(size.height() + 30, screen.height()) << "room for a title bar";
      EXPECT_GE(size.width(), w.minimumSizeHint().width());
      EXPECT_GE(size.height(), w.minimumSizeHint().height());
    }
  }
  QApplication::setFont(original);
}

// The file list and the Messages Center share a wider window as they shared
// the narrower one: the list does not stay as wide as it was.
TEST_F(MainWindow, TheFileListGrowsWithTheWindow) {
  window->resize(600, 500);
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  QApplication::processEvents();
  const double share = double(window->PnlFiles->width()) / window->Splitter1->width();
  for (int width : {1200, 800, 1600}) {
    SCOPED_TRACE(std::to_string(width) + " px");
    window->resize(width, 500);
    QApplication::processEvents();
    EXPECT_NEAR(double(window->PnlFiles->width()) / window->Splitter1->width(), share, 0.02);
  }
}

// A file that takes a while shows how fast it goes and how long it has left,
// in the window's language; its first seconds show nothing, the rate being
// no good yet.
TEST_F(MainWindow, ALongFileShowsItsSpeedAndTimeLeft) {
  const std::string longFile = PutLongFile();
  if (longFile.empty()) GTEST_SKIP() << "no sparse file here";
  window->AddFile(longFile);
  const struct {
    std::int8_t language;
    const char* pattern;
  } cases[] = {
      {VEK::English, R"(^\d[\d,]*\.\d MB/s, (\d+:)?\d+:\d\d left$)"},
      {VEK::French, R"(^\d[\d\x{a0}\x{202f}]*,\d Mo/s, reste (\d+:)?\d+:\d\d$)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.language == VEK::French ? "French" : "English");
    ZantrelApp::UseLanguage(c.language);  // numbers as the language writes them, whatever the system's locale
    if (window->Mark(0) != MarkNone) prompts.answers = {PromptAnswer::Yes};  // the aborted row again
    window->StartOperation(true);
    ASSERT_TRUE(window->Session.Running());
    window->Session.Tick();
    EXPECT_EQ(window->LblRate->text(), QString()) << "nothing in the first seconds";
    QTest::qWait(2100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->Session.Worker()->Progress() > 0; }, 20000));
    window->Session.Tick();
    const QString text = window->LblRate->text();
    EXPECT_TRUE(QRegularExpression(c.pattern).match(text).hasMatch()) << text.toStdString();
    EXPECT_TRUE(window->LblRate->isVisibleTo(window.get()));
    prompts.answers = {PromptAnswer::Yes};
    window->StopOperation();
    EXPECT_EQ(window->LblRate->text(), QString()) << "gone with the run";
  }
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}
