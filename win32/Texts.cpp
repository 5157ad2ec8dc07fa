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

}  // namespace

std::string Tr(const char* context, const char* source) {
  if (VEK::LanguageIndex() != VEK::French) return source;
  for (const Entry& e : kTexts)
    if (std::strcmp(e.Context, context) == 0 && std::strcmp(e.English, source) == 0) return e.French;
  return source;
}

std::string Tr(const char* context, const char* source, const std::string& a1, const std::string& a2,
               const std::string& a3) {
  // In one pass, so that an argument holding "%2" stays as it is.
  const std::string text = Tr(context, source);
  const std::string* args[] = {&a1, &a2, &a3};
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] >= '1' && text[i + 1] <= '3') {
      out += *args[text[i + 1] - '1'];
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace ZantrelWin32
