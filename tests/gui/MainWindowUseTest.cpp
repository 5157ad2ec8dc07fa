// The main window as a new user meets it: its first size and place, the
// list's columns and the splitter from one start to the next, the hint of an
// empty list, the help, the status bar after a clear, the two ways to save
// the messages and the files a later start hands over.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QAbstractButton>
#include <QSet>
#include <QTextLayout>
#include <QTimer>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

#include "QtPrinters.h"
#include "app/FormMain.h"
#include "app/MessagesView.h"
#include "app/Prompts.h"
#include "app/Translation.h"
#include "lang/Language.h"
#include "settings/Registry.h"
#include "support/AviBuilder.h"
#include "support/TempDir.h"

namespace {

using namespace ZantrelTest;
using ZantrelApp::PromptAnswer;

// None of these tests expects a question.
struct NoQuestions : ZantrelApp::Prompts {
  PromptAnswer Ask(const QString&, const QString& text, ZantrelApp::PromptButtons, ZantrelApp::PromptIcon) override {
    ADD_FAILURE() << "unexpected question: " << text.toStdString();
    return PromptAnswer::Cancel;
  }
  void CloseOpenQuestions() override {}
};

// A film whose check finds corrupted data at each of its spots.
Bytes Spotted(int spots) {
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < spots; ++i) b.Fill(10, 0x07).Chunk("00dc", 16).Chunk("01wb", 8);
  return b.Chunk("01wb", 8).EndMovi().Build();
}

constexpr int ResultColumn = 2;  // the logical columns: file, folder, result

struct WindowUse : ::testing::Test {
  TempDir dir;
  NoQuestions prompts;
  QFont original = QApplication::font();

  void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
  void TearDown() override {
    QApplication::setFont(original);
    ZantrelApp::UseLanguage(VEK::English);
    QLocale::setDefault(QLocale::system());
  }
  std::string Put(const std::string& name, const Bytes& bytes) {
    WriteFile(dir / name, bytes);
    return dir / name;
  }
  static void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    QTest::qWait(50);
    QApplication::processEvents();
  }
  static void RunToEnd(TFrmMain& w, bool checkOnly) {
    w.StartOperation(checkOnly);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.Session.Running(); }, 30000)) << "the operation did not end";
  }
  static void SetPoints(int points) {
    QFont font = QApplication::font();
    font.setPointSize(points);
    QApplication::setFont(font);
  }
};

// Whether a cell of the given width shows its whole text, as
// the style lays an item view's text out: a margin each side, elided past it.
::testing::AssertionResult ShowsWhole(const QWidget* view, const QString& text, int width) {
  const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
  const QString shown = view->fontMetrics().elidedText(text, Qt::ElideRight, width - 2 * margin);
  if (shown == text) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "\"" << text.toStdString() << "\" shows as \"" << shown.toStdString()
                                       << "\" in " << width << " px";
}

// A first start takes about two thirds of a 1920 x 1080 screen's free area,
// in its middle, and its list shows all three columns with their titles
// whole, at the usual font and at the font of a screen of 144 dots per inch.
TEST_F(WindowUse, AFirstStartTakesTwoThirdsOfTheScreenCentredWithEveryColumnInView) {
  const QRect area(0, 0, 1920, 1040);
  for (int points : {9, 14}) {
    SCOPED_TRACE(std::to_string(points) + " pt");
    SetPoints(points);
    VEKRegistry::MemoryStore fresh;
    TFrmMain w(prompts, &fresh);
    w.FormCreate({"zantrel"});
    const QRect screen = w.screen()->availableGeometry();
    EXPECT_LE((w.geometry().center() - screen.center()).manhattanLength(), 2) << "centred on this screen";
    EXPECT_EQ(w.size(), w.FirstRunSize(screen));

    w.LayOutFirstStart(area);
    EXPECT_NEAR(w.width(), area.width() * 2 / 3, area.width() / 20);
    EXPECT_NEAR(w.height(), area.height() * 2 / 3, area.height() / 20);
    EXPECT_LE((w.geometry().center() - area.center()).manhattanLength(), 2);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    Settle();
    QHeaderView* header = w.LvwFiles->header();
    const int visible = w.LvwFiles->viewport()->width();
    for (int column = 0; column < 3; ++column) {
      const QString title = w.LvwFiles->headerItem()->text(column);
      SCOPED_TRACE(title.toStdString());
      EXPECT_GE(header->sectionViewportPosition(column), 0);
      EXPECT_LE(header->sectionViewportPosition(column) + header->sectionSize(column), visible) << "in view";
      const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
      EXPECT_GE(header->sectionSize(column), header->fontMetrics().horizontalAdvance(title) + 2 * margin)
          << "the title whole";
    }
    EXPECT_GE(w.EdtLogs->width(), area.width() / 5) << "the Messages Center keeps room to read";
  }
}

// A result is read whole in its column at the designed width, in either
// language, at the usual font and at that of a screen of 144 dots per inch.
TEST_F(WindowUse, TheResultOfARowIsNeverCut) {
  const struct {
    std::int8_t language;
    int points;
  } cases[] = {{VEK::English, 9}, {VEK::French, 9}, {VEK::French, 14}};
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.points) + (c.language == VEK::French ? " pt French" : " pt English"));
    SetPoints(c.points);
    VEKRegistry::MemoryStore fresh;
    TFrmMain w(prompts, &fresh);
    w.FormCreate({"zantrel"});
    ZantrelApp::UseLanguage(c.language);
    w.AddFile(Put("clip" + std::to_string(++n) + ".avi", Spotted(6)));
    w.showMaximized();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    RunToEnd(w, false);
    Settle();
    const QString result = w.LvwFiles->topLevelItem(0)->text(ResultColumn);
    EXPECT_TRUE(result.startsWith(c.language == VEK::French ? "Reconstruit" : "Rebuilt")) << result.toStdString();
    EXPECT_TRUE(ShowsWhole(w.LvwFiles, result, w.LvwFiles->columnWidth(ResultColumn)));
    ZantrelApp::UseLanguage(VEK::English);
  }
}

// The border between the list and the Messages Center is where the user
// left it, start after start, for a window left maximised as for one that
// is not: a maximised window gets its size only once it is shown.
TEST_F(WindowUse, TheSplitterComesBackWhereItWasLeft) {
  for (bool maximised : {false, true}) {
    SCOPED_TRACE(maximised ? "maximised" : "normal");
    VEKRegistry::MemoryStore saved;
    int messages = 0;
    {
      TFrmMain w(prompts, &saved);
      w.FormCreate({"zantrel"});
      maximised ? w.showMaximized() : w.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
      Settle();
      const int total = w.Splitter1->width() - w.Splitter1->handleWidth();
      w.Splitter1->setSizes({total - 300, 300});
      Settle();
      messages = w.Splitter1->widget(1)->width();
      ASSERT_NEAR(messages, 300, 2);
      w.close();
      w.FormDestroy();
    }
    for (int start = 1; start <= 3; ++start) {
      SCOPED_TRACE("start " + std::to_string(start));
      TFrmMain w(prompts, &saved);
      w.FormCreate({"zantrel"});
      w.show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
      Settle();
      EXPECT_EQ(w.isMaximized(), maximised);
      EXPECT_NEAR(w.Splitter1->widget(1)->width(), messages, 2) << "the Messages Center's width";
      w.close();
      w.FormDestroy();
    }
  }
}

// An empty list says how to fill it, with the shortcut that really adds
// files, in the window's language; the hint goes with the first row and
// comes back with an empty list.
TEST_F(WindowUse, AnEmptyListShowsHowToAddFiles) {
  VEKRegistry::MemoryStore fresh;
  TFrmMain w(prompts, &fresh);
  w.FormCreate({"zantrel"});
  w.show();
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  QLabel* hint = w.LblDropHint;
  const QString keys = w.ActFileAdd->shortcut().toString(QKeySequence::NativeText);
  EXPECT_TRUE(hint->isVisible());
  EXPECT_EQ(hint->text(), "Drop AVI files or folders here, or press " + keys);
  EXPECT_TRUE(w.LvwFiles->viewport()->rect().contains(hint->geometry())) << "in the list";
  EXPECT_LE(hint->sizeHint().width(), hint->width() + 1) << "shown whole";

  const std::string a = Put("a.avi", Spotted(1));
  int chosen = 0;
  w.ChooseFiles = [&](const QString&) {
    ++chosen;
    return QStringList{QString::fromStdString(a)};
  };
  QTest::keySequence(&w, QKeySequence(keys, QKeySequence::NativeText));
  EXPECT_EQ(chosen, 1) << "the key the hint names adds files";
  ASSERT_EQ(w.LvwFiles->topLevelItemCount(), 1);
  EXPECT_FALSE(hint->isVisible());
  w.LvwFiles->topLevelItem(0)->setSelected(true);
  w.ActFileRemove->trigger();
  EXPECT_TRUE(hint->isVisible()) << "the last row removed";
  w.AddFile(a);
  w.ClearList();
  EXPECT_TRUE(hint->isVisible()) << "the list cleared";

  ZantrelApp::UseLanguage(VEK::French);
  EXPECT_EQ(hint->text(), QString::fromUtf8("D\u00E9posez ici des fichiers AVI ou des dossiers, ou appuyez sur ") + keys);
}

// F1 opens the help, which tells a new user what to do with the shortcuts
// the commands really have and the prefix in use, in the chosen language.
TEST_F(WindowUse, F1OpensTheHelpInTheChosenLanguage) {
  VEKRegistry::MemoryStore fresh;
  TFrmMain w(prompts, &fresh);
  w.FormCreate({"zantrel"});
  w.Settings.Prefix = "Fixed-";
  int shown = 0;
  w.ShowHelp = [&] { ++shown; };
  w.show();
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  QTest::keyClick(&w, Qt::Key_F1);
  EXPECT_EQ(shown, 1);
  EXPECT_TRUE(w.ActHelp->associatedObjects().contains(w.MnuHelp));

  QString english;
  for (std::int8_t language : {VEK::English, VEK::French}) {
    ZantrelApp::UseLanguage(language);
    const QString help = w.HelpText();
    for (QAction* a : {w.ActFileAdd, w.ActActionCheckErrors, w.ActActionFix, w.ActConfig})
      EXPECT_TRUE(help.contains(a->shortcut().toString(QKeySequence::NativeText).toHtmlEscaped()))
          << a->objectName().toStdString();
    EXPECT_TRUE(help.contains("Fixed-clip.avi")) << "where the copy goes";
    if (language == VEK::English) {
      english = help;
      EXPECT_TRUE(help.contains("Keep original file"));
    } else {
      EXPECT_NE(help, english) << "translated";
      EXPECT_TRUE(help.contains(QString::fromUtf8("Conserver le fichier original")));
    }
  }
}

// After Clear list the status bar says the window is ready again, not the
// summary of rows that are gone.
TEST_F(WindowUse, ClearListPutsTheStatusBarBackToReady) {
  VEKRegistry::MemoryStore fresh;
  TFrmMain w(prompts, &fresh);
  w.FormCreate({"zantrel"});
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  w.AddFile(Put("a.avi", Spotted(1)));
  w.AddFile(Put("b.avi", Spotted(2)));
  RunToEnd(w, true);
  ASSERT_FALSE(w.StatusBar1->currentMessage().isEmpty()) << "the batch's summary";
  w.UpdateActions();
  w.ActFileClear->trigger();
  ASSERT_EQ(w.LvwFiles->topLevelItemCount(), 0);
  EXPECT_EQ(w.StatusBar1->currentMessage(), QString());
  EXPECT_TRUE(w.LblReady->isVisible());
  EXPECT_EQ(w.LblReady->text(), "Ready");
}

// Save messages keeps what the Messages Center shows (the selected file's
// lines); Save all messages keeps every line of the list, in order.
TEST_F(WindowUse, TheSelectedFilesMessagesOrTheWholeListsAreSaved) {
  VEKRegistry::MemoryStore fresh;
  TFrmMain w(prompts, &fresh);
  w.FormCreate({"zantrel"});
  w.AddFile(Put("a.avi", Spotted(1)));
  w.AddFile(Put("b.avi", Spotted(2)));
  w.Settings.SelectedFile = true;
  RunToEnd(w, true);
  w.LvwFiles->clearSelection();
  w.LvwFiles->topLevelItem(1)->setSelected(true);
  const std::string saved = dir / "messages.txt";
  w.ChooseMessagesFile = [&] { return QString::fromStdString(saved); };
  auto savedLines = [&] {
    const Bytes bytes = ReadFile(saved);
    return QString::fromUtf8(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  };
  w.ActSaveMessages->trigger();
  EXPECT_EQ(savedLines(), w.RowMessages(1).join('\n') + '\n');
  w.ActSaveAllMessages->trigger();
  const QStringList all = w.AllMessages();
  ASSERT_GT(all.size(), w.RowMessages(0).size() + w.RowMessages(1).size() - 1);
  EXPECT_EQ(savedLines(), all.join('\n') + '\n');
  EXPECT_TRUE(w.ActSaveAllMessages->associatedObjects().contains(w.MnuFile));
}

// The files a later start hands over join the list at once when the window
// is idle, and after the run when one goes on.
TEST_F(WindowUse, HandedFilesJoinTheListWhenNoRunGoesOn) {
  VEKRegistry::MemoryStore fresh;
  TFrmMain w(prompts, &fresh);
  w.FormCreate({"zantrel"});
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  const QString a = QString::fromStdString(Put("a.avi", Spotted(1)));
  w.TakeHandedPaths({a});
  ASSERT_EQ(w.LvwFiles->topLevelItemCount(), 1);
  EXPECT_EQ(w.RowPath(0), a);

  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Fill(16, 0x01);
  const std::string longFile = Put("long.avi", b.Build());
  if (truncate(longFile.c_str(), 24ll << 30) != 0) GTEST_SKIP() << "no sparse file here";
  w.AddFile(longFile);
  w.Settings.StopPrompt = false;
  const QString c = QString::fromStdString(Put("c.avi", Spotted(1)));
  w.StartOperation(true);
  ASSERT_TRUE(w.Session.Running());
  w.TakeHandedPaths({c});
  QApplication::processEvents();
  EXPECT_EQ(w.LvwFiles->topLevelItemCount(), 2) << "not into a running list";
  w.StopOperation();
  ASSERT_FALSE(w.Session.Running());
  ASSERT_TRUE(QTest::qWaitFor([&] { return w.LvwFiles->topLevelItemCount() == 3; }, 5000));
  EXPECT_EQ(w.RowPath(2), c);
}

// The overwrite question, whatever the length of its names: French sets a
// space before its "?", and the "?" never goes alone to a line of its own;
// the five answers stand on one row.
TEST_F(WindowUse, TheOverwriteQuestionKeepsItsQuestionMarkOnItsLine) {
  VEK::SetLanguage(VEK::French);
  ZantrelApp::MessageBoxPrompts boxes;
  int alone = 0;
  for (int length = 1; length <= 60; ++length) {
    const QString folder = "/films/" + QString(length, QLatin1Char('d'));
    const QString text = QString::fromUtf8("Le fichier \"Zantrel.clip1.avi\" existe d\u00E9j\u00E0 dans le dossier \"%1\". "
                                           "\u00C9craser ?")
                             .arg(folder);
    QStringList lines;
    int rows = 0;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      auto* label = box->findChild<QLabel*>("qt_msgbox_label");
      ASSERT_NE(label, nullptr);
      // The lines as the label breaks them, at its width and in its font.
      QTextLayout layout(label->text(), label->font());
      QTextOption option;
      option.setWrapMode(QTextOption::WordWrap);
      layout.setTextOption(option);
      layout.beginLayout();
      for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(label->contentsRect().width());
        lines << label->text().mid(line.textStart(), line.textLength()).trimmed();
      }
      layout.endLayout();
      QSet<int> tops;
      for (QAbstractButton* b : box->buttons()) tops.insert(b->mapTo(box, QPoint(0, 0)).y());
      rows = int(tops.size());
      boxes.CloseOpenQuestions();
    });
    boxes.Ask(QString::fromUtf8("Le fichier existe d\u00E9j\u00E0."), text, ZantrelApp::PromptButtons::YesNoAllCancel,
              ZantrelApp::PromptIcon::Question);
    for (const QString& line : lines) alone += line.startsWith('?');
    EXPECT_EQ(rows, 1) << length;
  }
  EXPECT_EQ(alone, 0) << "lines that start with the question mark";
}

}  // namespace
