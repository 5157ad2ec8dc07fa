#include "app/Translation.h"

#include <QCoreApplication>
#include <QEvent>
#include <QLibraryInfo>
#include <QTranslator>

#include "lang/Language.h"
#include "settings/ConfigChoices.h"

namespace ZantrelApp {

namespace {

// The program's catalogue is built into it; Qt's comes with Qt's own
// translations package, where the Qt installation keeps them.
constexpr char ProgramCatalogue[] = ":/translations/zantrel_fr.qm";

struct Translators {
  QTranslator* Program = nullptr;
  QTranslator* Qt = nullptr;
  bool French = false;
};

Translators& Installed() {
  static Translators translators;
  return translators;
}

}  // namespace

std::int8_t ChosenLanguage(std::optional<std::int32_t> stored, const QLocale& system) {
  return ::ChosenLanguage(stored, system.language() == QLocale::French ? VEK::French : VEK::English);
}

void UseLanguage(std::int8_t language) {
  VEK::SetLanguage(language);
  Translators& t = Installed();
  const bool french = VEK::LanguageIndex() == VEK::French;
  if (french == t.French) return;
  t.French = french;
  if (french) {
    // Owned by the application, so that they go before it does.
    t.Program = new QTranslator(QCoreApplication::instance());
    if (t.Program->load(QString::fromLatin1(ProgramCatalogue))) QCoreApplication::installTranslator(t.Program);
    t.Qt = new QTranslator(QCoreApplication::instance());
    if (t.Qt->load(QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
      QCoreApplication::installTranslator(t.Qt);
  } else {
    // A translator removed or deleted is taken out of the application's list.
    delete t.Program;
    delete t.Qt;
    t.Program = t.Qt = nullptr;
  }
  // The windows hear of the change through posted events; they are handed
  // over now, so that the caller finds every window in its new language.
  QCoreApplication::sendPostedEvents(nullptr, QEvent::LanguageChange);
}

QLocale NumberLocale() {
  const QLocale::Language spoken = VEK::LanguageIndex() == VEK::French ? QLocale::French : QLocale::English;
  const QLocale system;
  return system.language() == spoken ? system : QLocale(spoken);
}

const QTranslator* ProgramTranslator() {
  const Translators& t = Installed();
  return t.Program && !t.Program->isEmpty() ? t.Program : nullptr;
}

}  // namespace ZantrelApp
