#include "lang/Language.h"

#include <atomic>

namespace VEK {

namespace {
// Relaxed atomics: a plain byte in effect, but race-free for the tools.
std::atomic<std::int8_t> languageIndex{English};
}  // namespace

void SetLanguage(std::int8_t index) {
  languageIndex.store(index == French ? French : English, std::memory_order_relaxed);
}

std::int8_t LanguageIndex() { return languageIndex.load(std::memory_order_relaxed); }

std::string Text(const MessagePair& pair, std::initializer_list<FormatArg> args) {
  return Format(pair.Text[LanguageIndex()], args);
}

}  // namespace VEK
