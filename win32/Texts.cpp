#include "win32/Texts.h"

#include <cstring>

#include "lang/Language.h"

namespace ZantrelWin32 {

namespace {

struct Entry {
  const char* Context;
  const char* English;
  const char* French;
};

const Entry kTexts[] = {
#include "WindowTexts.inc"
};

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

}  // namespace

std::string Tr(const char* context, const char* source) {
  if (VEK::LanguageIndex() != VEK::French) return source;
  for (const Entry& e : kTexts)
    if (std::strcmp(e.Context, context) == 0 && std::strcmp(e.English, source) == 0) return e.French;
  return source;
}

std::string Tr(const char* context, const char* source, const std::string& a1, const std::string& a2) {
  std::string text = Tr(context, source);
  ReplaceAll(text, "%1", a1);
  ReplaceAll(text, "%2", a2);
  return text;
}

}  // namespace ZantrelWin32
