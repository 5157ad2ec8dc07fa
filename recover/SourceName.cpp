#include "recover/SourceName.h"

namespace VEKRecover {

char SourceDrive(std::string_view source) {
  const auto slash = [](char c) { return c == '\\' || c == '/'; };
  if (source.size() == 6 && slash(source[0]) && slash(source[1]) && source[2] == '.' && slash(source[3]))
    source.remove_prefix(4);
  if (source.size() != 2 || source[1] != ':') return 0;
  const char letter = source[0];
  if (letter >= 'a' && letter <= 'z') return static_cast<char>(letter - 'a' + 'A');
  return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

}  // namespace VEKRecover
