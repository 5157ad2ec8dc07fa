// Configuration dialog: transfer to and from the settings record, the two
// enabling rules, the prefix length limit and Cancel. The modal loop is the
// real one; the actions of the user are queued to run once it is on screen.
#include <gtest/gtest.h>

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <tuple>

#include "QtPrinters.h"
#include "app/FormConfig.h"
#include "app/Translation.h"
#include "lang/Language.h"

namespace {

// Every field of the record, so that a test sees any field it did not expect
// to change, the window layout included.
auto Fields(const Config& c) {
  return std::make_tuple(c.Left, c.Top, c.Width, c.Height, c.StayOnTop, c.ShowWindow, c.AutoClear, c.SelectedFile,
                         c.ModifyOriginalPrompt, c.OverwritePrompt, c.StopPrompt, c.OverwriteBehavior, c.Prefix,
                         c.DisableAviHandler, c.KeepOriginal, c.SkipHealthy, c.FilesColumn0Width, c.FilesColumn1Width,
                         c.FilesWidth, c.Language);
}

template <class T>
T* Control(QWidget& dialog, const char* name) {
  T* control = dialog.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(control, nullptr) << name;
  return control;
}

QCheckBox* Check(QWidget& dialog, const char* name) { return Control<QCheckBox>(dialog, name); }
QLineEdit* Prefix(QWidget& dialog) { return Control<QLineEdit>(dialog, "EditPrefix"); }
QGroupBox* Group(QWidget& dialog) { return Control<QGroupBox>(dialog, "GrpOverwriteBehavior"); }
QButtonGroup* Items(QWidget& dialog) { return Control<QButtonGroup>(dialog, "GrpOverwriteBehaviorItems"); }
QPushButton* Button(QWidget& dialog, const char* name) { return Control<QPushButton>(dialog, name); }

// Runs the dialog's modal loop through edit and does act once the dialog is
// shown. A dialog left open is closed after five seconds so that a fault
// fails the test instead of hanging the run.
bool EditWhileShown(TFrmConfig& dialog, Config& settings, const std::function<void()>& act) {
  QObject guard;
  QTimer::singleShot(0, &guard, [&] {
    EXPECT_TRUE(dialog.isVisible());
    act();
  });
  QTimer::singleShot(5000, &guard, [&] {
    ADD_FAILURE() << "the dialog stayed open";
    dialog.done(QDialog::Rejected);
  });
  return dialog.EditConfig(settings);
}

void ClickOk(TFrmConfig& dialog) { QTest::mouseClick(Button(dialog, "BtnOk"), Qt::LeftButton); }

// The dialog's fields of a record, the others left at their constructor values.
Config Settings(bool autoClear, bool selectedFile, bool modifyPrompt, bool overwritePrompt, bool stopPrompt,
                int behavior, bool disableHandler, bool keepOriginal, std::string prefix, bool skipHealthy) {
  Config c;
  c.AutoClear = autoClear;
  c.SelectedFile = selectedFile;
  c.ModifyOriginalPrompt = modifyPrompt;
  c.OverwritePrompt = overwritePrompt;
  c.StopPrompt = stopPrompt;
  c.OverwriteBehavior = behavior;
  c.DisableAviHandler = disableHandler;
  c.KeepOriginal = keepOriginal;
  c.Prefix = std::move(prefix);
  c.SkipHealthy = skipHealthy;
  return c;
}

// Each row differs from its neighbours in every field, so a control filled
// from or read into the wrong field shows up.
const Config kTransferRows[] = {
    Config{},
    Settings(false, false, false, false, false, 1, true, false, "", true),
    Settings(true, false, true, false, true, 2, false, true, "fixed-", false),
    Settings(false, true, false, true, false, 0, true, true, "R\xC3\xA9par\xC3\xA9.", true),
    Settings(true, true, false, false, true, 1, false, false, "a b\\c", false),
};

struct Shown {
  bool autoClear, selectedFile, modifyPrompt, overwritePrompt, stopPrompt;
  int behavior;
  bool disableHandler, keepOriginal;
  QString prefix;
  bool skipHealthy;
};

Shown WhatTheDialogShows(TFrmConfig& d) {
  return {Check(d, "ChkMsgAutoClear")->isChecked(),
          Check(d, "ChkMsgSelectedFile")->isChecked(),
          Check(d, "ChkModifyOriginalPrompt")->isChecked(),
          Check(d, "ChkOverwritePrompt")->isChecked(),
          Check(d, "ChkStopPrompt")->isChecked(),
          Items(d)->checkedId(),
          Check(d, "ChkDisableAviHandler")->isChecked(),
          Check(d, "ChkKeepOriginal")->isChecked(),
          Prefix(d)->text(),
          Check(d, "ChkSkipHealthy")->isChecked()};
}

void SetControls(TFrmConfig& d, const Config& c) {
  Check(d, "ChkMsgAutoClear")->setChecked(c.AutoClear);
  Check(d, "ChkMsgSelectedFile")->setChecked(c.SelectedFile);
  Check(d, "ChkModifyOriginalPrompt")->setChecked(c.ModifyOriginalPrompt);
  Check(d, "ChkOverwritePrompt")->setChecked(c.OverwritePrompt);
  Check(d, "ChkStopPrompt")->setChecked(c.StopPrompt);
  Items(d)->button(c.OverwriteBehavior)->setChecked(true);
  Check(d, "ChkDisableAviHandler")->setChecked(c.DisableAviHandler);
  Check(d, "ChkKeepOriginal")->setChecked(c.KeepOriginal);
  Check(d, "ChkSkipHealthy")->setChecked(c.SkipHealthy);
  Prefix(d)->setText(QString::fromUtf8(c.Prefix.c_str()));
}

TEST(ConfigDialog, FillsEveryControlFromItsOwnField) {
  TFrmConfig dialog;
  for (const Config& row : kTransferRows) {
    Config settings = row;
    Shown shown{};
    EXPECT_FALSE(EditWhileShown(dialog, settings, [&] {
      shown = WhatTheDialogShows(dialog);
      dialog.reject();
    }));
    EXPECT_EQ(shown.autoClear, row.AutoClear);
    EXPECT_EQ(shown.selectedFile, row.SelectedFile);
    EXPECT_EQ(shown.modifyPrompt, row.ModifyOriginalPrompt);
    EXPECT_EQ(shown.overwritePrompt, row.OverwritePrompt);
    EXPECT_EQ(shown.stopPrompt, row.StopPrompt);
    EXPECT_EQ(shown.behavior, row.OverwriteBehavior);
    EXPECT_EQ(shown.disableHandler, row.DisableAviHandler);
    EXPECT_EQ(shown.keepOriginal, row.KeepOriginal);
    EXPECT_EQ(shown.prefix, QString::fromUtf8(row.Prefix.c_str()));
    EXPECT_EQ(shown.skipHealthy, row.SkipHealthy);
  }
}

TEST(ConfigDialog, OkReadsEveryControlIntoItsOwnFieldAndNothingElse) {
  TFrmConfig dialog;
  // Each row is edited in over the next one, so every control changes.
  const int rows = static_cast<int>(std::size(kTransferRows));
  for (int i = 0; i < rows; ++i) {
    const Config& wanted = kTransferRows[i];
    Config settings = kTransferRows[(i + 1) % rows];
    settings.Left = 17;
    settings.FilesWidth = 321;
    EXPECT_TRUE(EditWhileShown(dialog, settings, [&] {
      SetControls(dialog, wanted);
      ClickOk(dialog);
    }));
    Config expected = wanted;
    expected.Left = 17;
    expected.FilesWidth = 321;
    EXPECT_EQ(Fields(settings), Fields(expected)) << "row " << i;
  }
}

TEST(ConfigDialog, CancelEscapeAndTheCloseBoxLeaveTheRecordUntouched) {
  const std::pair<const char*, std::function<void(TFrmConfig&)>> ways[] = {
      {"Cancel button", [](TFrmConfig& d) { QTest::mouseClick(Button(d, "BtnCancel"), Qt::LeftButton); }},
      {"close box", [](TFrmConfig& d) { d.close(); }},
      {"Escape", [](TFrmConfig& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
  };
  for (const auto& [way, close] : ways) {
    TFrmConfig dialog;
    Config settings;
    const Config before = settings;
    EXPECT_FALSE(EditWhileShown(dialog, settings, [&] {
      SetControls(dialog, kTransferRows[1]);
      close(dialog);
    })) << way;
    EXPECT_FALSE(dialog.isVisible()) << way;
    EXPECT_EQ(Fields(settings), Fields(before)) << way;
  }
}

TEST(ConfigDialog, PrefixEditIsEnabledExactlyWhenTheOriginalIsKept) {
  TFrmConfig dialog;
  for (bool keep : {false, true, false}) {
    Config settings;
    settings.KeepOriginal = keep;
    settings.Prefix = "Kept.";
    EditWhileShown(dialog, settings, [&] {
      QLineEdit* prefix = Prefix(dialog);
      EXPECT_EQ(prefix->isEnabled(), keep);
      EXPECT_EQ(prefix->text(), QStringLiteral("Kept."));
      // The user's click changes it at once, both ways.
      QTest::mouseClick(Check(dialog, "ChkKeepOriginal"), Qt::LeftButton);
      EXPECT_EQ(prefix->isEnabled(), !keep);
      QTest::mouseClick(Check(dialog, "ChkKeepOriginal"), Qt::LeftButton);
      EXPECT_EQ(prefix->isEnabled(), keep);
      dialog.reject();
    });
  }
}

TEST(ConfigDialog, OverwriteChoicesAreEnabledExactlyWhenNoPromptIsAsked) {
  TFrmConfig dialog;
  for (bool prompt : {true, false, true}) {
    Config settings;
    settings.OverwritePrompt = prompt;
    settings.OverwriteBehavior = 1;
    EditWhileShown(dialog, settings, [&] {
      QGroupBox* group = Group(dialog);
      QCheckBox* box = Check(dialog, "ChkOverwritePrompt");
      EXPECT_EQ(group->isEnabled(), !prompt);
      EXPECT_EQ(Items(dialog)->checkedId(), 1) << "a disabled group still shows the stored choice";
      // The check box sits on the group's frame but must not be disabled with it.
      EXPECT_TRUE(box->isEnabled());
      QTest::mouseClick(box, Qt::LeftButton);
      EXPECT_EQ(group->isEnabled(), prompt);
      dialog.reject();
    });
  }
}

TEST(ConfigDialog, OverwriteBehaviorOutOfRangeIsShownAndStoredAsTheGroupShowsIt) {
  const struct {
    int stored, shown;
  } rows[] = {{7, 2}, {3, 2}, {2, 2}, {1, 1}, {0, 0}, {-1, -1}, {-3, -1}};
  TFrmConfig dialog;
  for (const auto& row : rows) {
    Config settings;
    settings.OverwriteBehavior = row.stored;
    int shown = -2;
    EXPECT_TRUE(EditWhileShown(dialog, settings, [&] {
      shown = Items(dialog)->checkedId();
      ClickOk(dialog);
    }));
    EXPECT_EQ(shown, row.shown) << row.stored;
    EXPECT_EQ(settings.OverwriteBehavior, row.shown) << row.stored;
  }
}

QString Chars(int n) {
  QString text;
  for (int i = 0; i < n; ++i) text += QChar(u'a' + i % 26);
  return text;
}

TEST(ConfigDialog, PrefixLongerThanFiftyCharactersCannotBeTyped) {
  TFrmConfig dialog;
  Config settings;
  settings.Prefix = "";
  EXPECT_TRUE(EditWhileShown(dialog, settings, [&] {
    QTest::keyClicks(Prefix(dialog), Chars(60));
    ClickOk(dialog);
  }));
  EXPECT_EQ(settings.Prefix, Chars(50).toStdString());
}

TEST(ConfigDialog, StoredLongPrefixIsShownWholeAndMayOnlyShrink) {
  const std::string stored = Chars(60).toStdString();
  struct Row {
    const char* what;
    std::function<void(QLineEdit*)> edit;
    std::string kept;
  };
  const Row rows[] = {
      {"unedited", [](QLineEdit*) {}, stored},
      {"typing at the end is refused", [](QLineEdit* e) { QTest::keyClicks(e, "xyz"); }, stored},
      {"a deletion is taken, typing after it still refused",
       [](QLineEdit* e) {
         QTest::keyClick(e, Qt::Key_Backspace);
         QTest::keyClicks(e, "x");
       },
       stored.substr(0, 59)},
      {"shortened to the limit, typing is refused",
       [](QLineEdit* e) {
         for (int i = 0; i < 10; ++i) QTest::keyClick(e, Qt::Key_Backspace);
         QTest::keyClicks(e, "x");
       },
       stored.substr(0, 50)},
      {"shortened below the limit, typing fills up to it",
       [](QLineEdit* e) {
         for (int i = 0; i < 12; ++i) QTest::keyClick(e, Qt::Key_Backspace);
         QTest::keyClicks(e, "xyz");
       },
       stored.substr(0, 48) + "xy"},
  };
  for (const Row& row : rows) {
    TFrmConfig dialog;
    Config settings;
    settings.Prefix = stored;
    QString shown;
    EXPECT_TRUE(EditWhileShown(dialog, settings, [&] {
      shown = Prefix(dialog)->text();
      Prefix(dialog)->setFocus();
      Prefix(dialog)->end(false);
      row.edit(Prefix(dialog));
      ClickOk(dialog);
    })) << row.what;
    EXPECT_EQ(shown.toStdString(), stored) << row.what;
    EXPECT_EQ(settings.Prefix, row.kept) << row.what;
  }
}

TEST(ConfigDialog, UneditedPrefixGoesBackByteForByte) {
  // Bytes that are no text in the code page must not come back as U+FFFD.
  TFrmConfig dialog;
  Config settings;
  settings.Prefix = "old\xE9\xFF.";
  EXPECT_TRUE(EditWhileShown(dialog, settings, [&] { ClickOk(dialog); }));
  EXPECT_EQ(settings.Prefix, "old\xE9\xFF.");
}

TEST(ConfigDialog, EmptyPrefixIsStoredEmpty) {
  TFrmConfig dialog;
  Config settings;  // "Zantrel."
  EXPECT_TRUE(EditWhileShown(dialog, settings, [&] {
    Prefix(dialog)->setFocus();
    Prefix(dialog)->selectAll();
    QTest::keyClick(Prefix(dialog), Qt::Key_Delete);
    ClickOk(dialog);
  }));
  EXPECT_EQ(settings.Prefix, "");
}

TEST(ConfigDialog, OpensOnTheFirstTabThenKeepsTheLastShownOne) {
  TFrmConfig dialog;
  auto* tabs = Control<QTabWidget>(dialog, "PageControl1");
  Config settings;
  int first = -1, second = -1, third = -1;
  EditWhileShown(dialog, settings, [&] {
    first = tabs->currentIndex();
    tabs->setCurrentIndex(2);
    dialog.reject();
  });
  EditWhileShown(dialog, settings, [&] {
    second = tabs->currentIndex();
    tabs->setCurrentIndex(1);
    ClickOk(dialog);
  });
  EditWhileShown(dialog, settings, [&] {
    third = tabs->currentIndex();
    dialog.reject();
  });
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 2);
  EXPECT_EQ(third, 1);
}

// The next control Tab goes to on its page: one that takes the keyboard and
// is not hidden.
QWidget* NextTabStop(QWidget* w) {
  do w = w->nextInFocusChain();
  while (!(w->focusPolicy() & Qt::TabFocus) || !w->isEnabled() || w->isHidden());
  return w;
}

// From the tabs, Tab goes to the first control a page shows and then down
// the page as the eye reads it, on every page.
TEST(ConfigDialog, TheKeyboardGoesDownEachPageFromItsFirstControl) {
  TFrmConfig dialog;
  auto* tabs = Control<QTabWidget>(dialog, "PageControl1");
  Config settings;
  EditWhileShown(dialog, settings, [&] {
    for (int tab = 0; tab < tabs->count(); ++tab) {
      SCOPED_TRACE("tab " + std::to_string(tab));
      tabs->setCurrentIndex(tab);
      QApplication::processEvents();
      std::vector<QWidget*> shown;
      for (QWidget* w : tabs->widget(tab)->findChildren<QWidget*>())
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisible()) shown.push_back(w);
      ASSERT_FALSE(shown.empty());
      auto top = [&](QWidget* w) { return w->mapTo(&dialog, QPoint(0, 0)).y(); };
      std::stable_sort(shown.begin(), shown.end(), [&](QWidget* a, QWidget* b) { return top(a) < top(b); });
      // As Tab goes on a dialog on screen: to the next control shown.
      auto next = [](QWidget* w) {
        do w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus) || !w->isEnabled() || !w->isVisible());
        return w;
      };
      std::vector<QWidget*> chain{next(tabs->findChild<QTabBar*>())};
      while (chain.size() < shown.size()) chain.push_back(next(chain.back()));
      auto names = [](const std::vector<QWidget*>& ws) {
        std::string out;
        for (QWidget* w : ws) out += w->objectName().toStdString() + " ";
        return out;
      };
      EXPECT_EQ(names(chain), names(shown));
    }
    dialog.reject();
  });
}

// The choice shows the stored language, else the system's; only a changed
// one is written into the record, as 0 or 1.
TEST(ConfigDialog, TheLanguageShownIsTheStoredOneElseTheSystemsAndOnlyAChangeIsKept) {
  const struct {
    std::optional<std::int32_t> stored;
    const char* locale;
    const char* shown;
    const char* chosen;
    std::optional<std::int32_t> kept;
  } cases[] = {
      {std::nullopt, "fr_FR", "Fran\u00E7ais", "Fran\u00E7ais", std::nullopt},
      {std::nullopt, "fr_BE", "Fran\u00E7ais", "English", 0},
      {std::nullopt, "en_GB", "English", "Fran\u00E7ais", 1},
      {std::nullopt, "de_DE", "English", "English", std::nullopt},
      {257, "en_US", "Fran\u00E7ais", "Fran\u00E7ais", 257},
      {0, "fr_FR", "English", "Fran\u00E7ais", 1},
      {1, "fr_FR", "Fran\u00E7ais", "English", 0},
  };
  TFrmConfig dialog;
  auto* choice = Control<QComboBox>(dialog, "CboLanguage");
  for (const auto& c : cases) {
    QLocale::setDefault(QLocale(QString::fromLatin1(c.locale)));
    Config settings;
    settings.Language = c.stored;
    QString shown;
    EXPECT_TRUE(EditWhileShown(dialog, settings, [&] {
      shown = choice->currentText();
      choice->setCurrentIndex(choice->findText(QString::fromUtf8(c.chosen)));
      ClickOk(dialog);
    }));
    EXPECT_EQ(shown, QString::fromUtf8(c.shown)) << c.locale;
    EXPECT_EQ(settings.Language, c.kept) << c.locale << " " << c.chosen;
  }
  QLocale::setDefault(QLocale::system());
  EXPECT_EQ(NextTabStop(Check(dialog, "ChkMsgSelectedFile")), choice) << "on its page, after the check boxes";
}

// Explorer exists on Windows only: elsewhere its choice is not offered, and
// the stored value, which a Windows copy sharing the settings applies, goes
// back as it came.
TEST(ConfigDialog, TheExplorerChoiceIsOfferedOnWindowsOnlyAndItsValueIsKept) {
  TFrmConfig dialog;
  QCheckBox* handler = Check(dialog, "ChkDisableAviHandler");
  for (bool stored : {true, false}) {
    Config settings;
    settings.DisableAviHandler = stored;
    bool shown = false;
    EXPECT_TRUE(EditWhileShown(dialog, settings, [&] {
      shown = handler->isVisible();
      ClickOk(dialog);
    }));
#ifdef Q_OS_WIN
    EXPECT_TRUE(shown);
#else
    EXPECT_FALSE(shown);
#endif
    EXPECT_EQ(settings.DisableAviHandler, stored);
  }
}

// Every caption and label is shown whole, in both languages: as wide and as
// tall as its text, and inside its page.
TEST(ConfigDialog, EveryCaptionShowsWholeAtAnyFontSizeInEitherLanguage) {
  for (std::int8_t language : {VEK::English, VEK::French}) {
    ZantrelApp::UseLanguage(language);
    for (int points : {9, 14, 20, 28}) {
      const std::string at = std::to_string(points) + (language == VEK::French ? " pt French: " : " pt English: ");
      TFrmConfig dialog;
      QFont font = dialog.font();
      font.setPointSize(points);
      dialog.setFont(font);
      auto* tabs = Control<QTabWidget>(dialog, "PageControl1");
      dialog.show();
      for (int tab = 0; tab < tabs->count(); ++tab) {
        tabs->setCurrentIndex(tab);
        QApplication::processEvents();
        QWidget* page = tabs->widget(tab);
        for (QAbstractButton* box : page->findChildren<QAbstractButton*>()) {
          if (!box->isVisible()) continue;
          // The caption's own width as the font measures it, beside the indicator.
          const int text = QFontMetrics(box->font()).horizontalAdvance(box->text().remove('&'));
          EXPECT_GE(box->width(), text) << at << box->objectName().toStdString();
          EXPECT_GE(box->width(), box->minimumSizeHint().width()) << at << box->objectName().toStdString();
          EXPECT_GE(box->height(), box->minimumSizeHint().height()) << at << box->objectName().toStdString();
        }
        for (QLabel* label : page->findChildren<QLabel*>()) {
          if (!label->isVisible()) continue;
          const QRect inside = label->contentsRect();
          const QRect needed = label->fontMetrics().boundingRect(inside, Qt::TextWordWrap | label->alignment(),
                                                                 label->text().remove('&'));
          EXPECT_LE(needed.height(), inside.height()) << at << label->objectName().toStdString();
          EXPECT_LE(needed.width(), inside.width()) << at << label->objectName().toStdString();
        }
        for (QWidget* w : page->findChildren<QWidget*>()) {
          if (!w->isVisible() || w->parentWidget() != page) continue;
          EXPECT_TRUE(page->rect().contains(w->geometry())) << at << w->objectName().toStdString() << " inside its page";
        }
      }
      EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "still a fixed frame";
    }
  }
  ZantrelApp::UseLanguage(VEK::English);
}

TEST(ConfigDialog, DesignedStates) {
  TFrmConfig dialog;
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Configuration"));
  EXPECT_EQ(dialog.minimumSize(), QSize(385, 239));
  EXPECT_EQ(dialog.maximumSize(), QSize(385, 239));
  auto* tabs = Control<QTabWidget>(dialog, "PageControl1");
  ASSERT_EQ(tabs->count(), 3);
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("Files"));
  EXPECT_EQ(tabs->tabText(1), QStringLiteral("Messages Center"));
  EXPECT_EQ(tabs->tabText(2), QStringLiteral("Prompts"));

  const struct {
    const char* name;
    int tab;
    const char* text;
    bool checked, enabled;
  } boxes[] = {
      {"ChkDisableAviHandler", 0, "Disable Explorer's AVI handler (Windows XP)", false, true},
      {"ChkKeepOriginal", 0, "Keep original file (create a new file)", true, true},
      {"ChkMsgAutoClear", 1, "&Clear messages before starting any operation", true, true},
      {"ChkMsgSelectedFile", 1, "&Display messages for the selected file only", true, true},
      {"ChkModifyOriginalPrompt", 2, "Prompt the user before modifying the original file", true, true},
      {"ChkStopPrompt", 2, "Prompt the user before stopping the current operation", true, true},
      {"ChkOverwritePrompt", 2, "Prompt the user before overwriting a file", true, true},
  };
  for (const auto& b : boxes) {
    QCheckBox* box = Check(dialog, b.name);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text(), QString::fromUtf8(b.text)) << b.name;
    EXPECT_EQ(box->isChecked(), b.checked) << b.name;
    EXPECT_EQ(box->isEnabled(), b.enabled) << b.name;
    EXPECT_TRUE(tabs->widget(b.tab)->isAncestorOf(box)) << b.name;
  }
  EXPECT_EQ(Control<QLabel>(dialog, "Label1")->text(), QStringLiteral("Prefix for new files :"));
  EXPECT_EQ(Prefix(dialog)->text(), QStringLiteral("Zantrel."));
  EXPECT_TRUE(Prefix(dialog)->isEnabled());

  QGroupBox* group = Group(dialog);
  EXPECT_TRUE(group->title().isEmpty());
  EXPECT_FALSE(group->isEnabled());
  ASSERT_EQ(Items(dialog)->buttons().size(), 3);
  EXPECT_EQ(Items(dialog)->button(0)->text(), QStringLiteral("Skip when file already exists"));
  EXPECT_EQ(Items(dialog)->button(1)->text(), QStringLiteral("Abort when file already exists"));
  EXPECT_EQ(Items(dialog)->button(2)->text(), QStringLiteral("Overwrite when file already exists"));
  EXPECT_EQ(Items(dialog)->checkedId(), 0);
  EXPECT_EQ(Button(dialog, "BtnOk")->text(), QStringLiteral("&Ok"));
  EXPECT_EQ(Button(dialog, "BtnCancel")->text(), QStringLiteral("&Cancel"));
}

// Shows the dialog on each tab, checks what a look at it would, and keeps a
// picture of each tab for people to look at.
TEST(ConfigDialog, LayoutOnScreen) {
  TFrmConfig dialog;
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  auto* tabs = Control<QTabWidget>(dialog, "PageControl1");

  const QPoint screenCentre = dialog.screen()->availableGeometry().center();
  EXPECT_LE((dialog.frameGeometry().center() - screenCentre).manhattanLength(), 2);
  EXPECT_EQ(dialog.size(), QSize(385, 239));

  // Ok and Cancel side by side at the bottom right, below the tabs.
  const QRect ok = Button(dialog, "BtnOk")->geometry();
  const QRect cancel = Button(dialog, "BtnCancel")->geometry();
  EXPECT_LT(ok.right(), cancel.left());
  EXPECT_GT(cancel.right(), dialog.width() * 3 / 4);
  EXPECT_GT(ok.top(), tabs->geometry().bottom());

  // The check box lies across the top edge of the group's frame.
  tabs->setCurrentIndex(2);
  QCheckBox* box = Check(dialog, "ChkOverwritePrompt");
  QGroupBox* group = Group(dialog);
  const QRect boxRect(box->mapTo(&dialog, QPoint(0, 0)), box->size());
  const int groupTop = group->mapTo(&dialog, QPoint(0, 0)).y();
  EXPECT_LT(boxRect.top(), groupTop);
  EXPECT_GT(boxRect.bottom(), groupTop);
  for (QAbstractButton* item : Items(dialog)->buttons())
    EXPECT_GT(item->mapTo(&dialog, QPoint(0, 0)).y(), boxRect.bottom()) << item->text().toStdString();

  const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots");
  ASSERT_TRUE(QDir().mkpath(folder));
  const char* const names[] = {"config-files.png", "config-messages-center.png", "config-prompts.png"};
  for (int tab = 0; tab < 3; ++tab) {
    tabs->setCurrentIndex(tab);
    EXPECT_TRUE(dialog.grab().save(folder + QLatin1Char('/') + QString::fromLatin1(names[tab])));
  }
  dialog.hide();
}

}  // namespace
