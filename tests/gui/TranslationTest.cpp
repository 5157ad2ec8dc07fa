// The windows in French: every text a user can read in them is looked up in
// the program's own French catalogue, which must not know it as an English
// text it translates, and a few are checked word for word. Qt's own texts
// come from Qt's catalogue where it is installed.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTranslator>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "QtPrinters.h"
#include "app/FormAbout.h"
#include "app/FormConfig.h"
#include "app/FormMain.h"
#include "app/FormUninstall.h"
#include "app/MessagesView.h"
#include "app/Translation.h"
#include "lang/Language.h"
#include "settings/RegistryStore.h"

namespace {

struct NoQuestions : ZantrelApp::Prompts {
  ZantrelApp::PromptAnswer Ask(const QString&, const QString& text, ZantrelApp::PromptButtons,
                               ZantrelApp::PromptIcon) override {
    ADD_FAILURE() << "unexpected question: " << text.toStdString();
    return ZantrelApp::PromptAnswer::Cancel;
  }
};

struct NoLinks : ZantrelDialogs::LinkOpener {
  void Open(const QUrl&) override {}
};

struct Shown {
  QString where;  // object name and property
  QString text;
};

// What a user can read in the window: captions, titles, hints, headers, tab
// names, placeholders and read-only text, of the window and its widgets and
// actions.
std::vector<Shown> VisibleTexts(QWidget& window) {
  std::vector<Shown> out;
  auto add = [&](const QObject* o, const char* property, const QString& text) {
    if (!text.isEmpty()) out.push_back({o->objectName() + "." + property, text});
  };
  QList<QWidget*> widgets = window.findChildren<QWidget*>();
  widgets.prepend(&window);
  for (const QWidget* w : widgets) {
    add(w, "windowTitle", w->windowTitle());
    add(w, "toolTip", w->toolTip());
    add(w, "statusTip", w->statusTip());
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) add(w, "text", b->text());
    if (auto* l = qobject_cast<const QLabel*>(w)) add(w, "text", l->text());
    if (auto* g = qobject_cast<const QGroupBox*>(w)) add(w, "title", g->title());
    if (auto* m = qobject_cast<const QMenu*>(w)) add(w, "title", m->title());
    if (auto* e = qobject_cast<const QLineEdit*>(w)) add(w, "placeholder", e->placeholderText());
    if (auto* e = qobject_cast<const QPlainTextEdit*>(w)) {
      add(w, "placeholder", e->placeholderText());
      if (e->isReadOnly()) add(w, "text", e->toPlainText());
    }
    if (auto* t = qobject_cast<const QTabWidget*>(w))
      for (int i = 0; i < t->count(); ++i) add(w, "tab", t->tabText(i));
    if (auto* t = qobject_cast<const QTreeWidget*>(w))
      for (int i = 0; i < t->columnCount(); ++i) add(w, "header", t->headerItem()->text(i));
  }
  for (const QAction* a : window.findChildren<QAction*>()) {
    add(a, "text", a->text());
    add(a, "toolTip", a->toolTip());
    add(a, "statusTip", a->statusTip());
  }
  return out;
}

struct EnglishAfterwards {
  ~EnglishAfterwards() { ZantrelApp::UseLanguage(VEK::English); }
};

TEST(Translation, WithFrenchChosenNoWindowShowsAnEnglishTextItsCatalogueTranslates) {
  EnglishAfterwards english;
  ZantrelApp::UseLanguage(VEK::English);
  // Made in English: the change of language must reach windows already open.
  NoQuestions prompts;
  VEKRegistry::MemoryStore store;
  TFrmMain main(prompts, &store);
  TFrmConfig config;
  NoLinks links;
  ZantrelDialogs::TFrmAbout about("Zantrel", QCoreApplication::applicationFilePath(), links);
  TFrmUninstall uninstall;
  ZantrelApp::UseLanguage(VEK::French);
  const QTranslator* catalogue = ZantrelApp::ProgramTranslator();
  ASSERT_NE(catalogue, nullptr) << "the French catalogue is built into the program";

  const struct {
    QWidget* window;
    std::vector<Shown> spotChecks;  // a few texts as they must read
  } windows[] = {
      {&main,
       {{"MnuFile.title", "&Fichier"},
        {"LblMessages.text", "Centre de messages :"},
        {"LblReady.text", "Pr\u00EAt"},
        {"LvwFiles.header", "Dossier"},
        {"ActActionFix.toolTip", "Reconstruire l'index"},
        {"ActReference.text", "Fichier de r\u00E9&f\u00E9rence..."}}},
      {&config,
       {{"PageControl1.tab", "Centre de messages"},
        {"ChkOverwritePrompt.text", "Demander avant d'\u00E9craser un fichier"},
        {"BtnCancel.text", "&Annuler"}}},
      {&about, {{".windowTitle", "\u00C0 propos"}, {"BtnClose.text", "Fermer"}}},
      {&uninstall, {{"FrmUninstall.windowTitle", "D\u00E9sinstallation"}}},
  };
  for (const auto& w : windows) {
    const char* context = w.window->metaObject()->className();
    const std::vector<Shown> texts = VisibleTexts(*w.window);
    for (const Shown& shown : texts) {
      const QString french = catalogue->translate(context, shown.text.toUtf8().constData());
      EXPECT_TRUE(french.isEmpty() || french == shown.text)
          << context << " " << shown.where.toStdString() << " shows \"" << shown.text.toStdString()
          << "\" instead of \"" << french.toStdString() << "\"";
    }
    for (const Shown& spot : w.spotChecks) {
      const bool found = std::any_of(texts.begin(), texts.end(),
                                     [&](const Shown& s) { return s.where == spot.where && s.text == spot.text; });
      EXPECT_TRUE(found) << context << " " << spot.where.toStdString() << " \"" << spot.text.toStdString() << "\"";
    }
  }

  // Qt's own menu of the Messages Center, where Qt's French catalogue is installed.
  const QString qtCatalogue = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_fr.qm";
  if (QFile::exists(qtCatalogue)) {
    std::unique_ptr<QMenu> menu(main.EdtLogs->CreateStandardContextMenu());
    const auto* selectAll = menu->findChild<QAction*>("select-all");
    ASSERT_NE(selectAll, nullptr);
    EXPECT_EQ(selectAll->text().section('\t', 0, 0).remove('&'), "Tout s\u00E9lectionner");
  } else {
    std::printf("Qt's French catalogue %s is not installed: its own texts stay English\n",
                qtCatalogue.toLocal8Bit().constData());
  }
}

}  // namespace
