// The language of the desktop program: Qt's translators for the windows'
// texts (the program's own and Qt's for its standard buttons and menus), and
// the engine's messages through VEK::SetLanguage, switched together.
#pragma once

#include <QLocale>
#include <cstdint>
#include <optional>

class QTranslator;

namespace ZantrelApp {

// The stored value when there is one (its low byte, as VEK::SetLanguage
// takes it), else French for a French-speaking system, in any country, and
// English for any other.
std::int8_t ChosenLanguage(std::optional<std::int32_t> stored, const QLocale& system);

// Makes language (VEK::English or VEK::French) that of the messages and of
// every window. The windows open retranslate themselves before this returns.
// Without Qt's own French catalogue its buttons and menus stay English.
void UseLanguage(std::int8_t language);

// The locale to write numbers in ("372,5 Mo/s" in French): the system's
// (QLocale()) when it speaks the language in use, else that language's usual one.
QLocale NumberLocale();

// The program's own French catalogue while French is in use, else null.
const QTranslator* ProgramTranslator();

}  // namespace ZantrelApp
