// The process-wide language of every message the program builds at run time.
// English is entry 0 of each pair, French entry 1. The index is set at
// start-up and again when the user picks another language in the window; a
// worker reads it for each line, so a file worked on meanwhile may have its
// lines in both.
#pragma once

#include <cstdint>
#include <string>

#include "util/TextFormat.h"

namespace VEK {

constexpr std::int8_t English = 0;
constexpr std::int8_t French = 1;

// One message in both languages; the placeholders are the same in both texts.
struct MessagePair {
  const char* Text[2];
};

// Stores 0 or 1; any other value selects English. Callers holding a wider
// integer pass its low 8 bits (257 selects French).
void SetLanguage(std::int8_t index);
std::int8_t LanguageIndex();

// The text of the pair in the current language, formatted with args.
std::string Text(const MessagePair& pair, std::initializer_list<FormatArg> args = {});

}  // namespace VEK
