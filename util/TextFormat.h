// Formatting of message templates. Only the two placeholders the messages use
// exist: %s (text) and %d (signed decimal, 64 bits wide so that positions in
// large files print whole). %% gives a percent sign; anything else is copied.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

namespace VEK {

class FormatArg {
 public:
  FormatArg(std::string_view text) : text_(text), isNumber_(false) {}
  FormatArg(const std::string& text) : text_(text), isNumber_(false) {}
  FormatArg(const char* text) : text_(text), isNumber_(false) {}
  template <typename T, typename = std::enable_if_t<std::is_integral_v<T>>>
  FormatArg(T number) : number_(static_cast<std::int64_t>(number)), isNumber_(true) {}

  void AppendTo(std::string& out) const;

 private:
  std::string_view text_;
  std::int64_t number_ = 0;
  bool isNumber_;
};

// Arguments are consumed in order; a placeholder without an argument is kept
// as written, so a wrong template shows up in the text instead of crashing.
std::string Format(std::string_view templ, std::initializer_list<FormatArg> args);

}  // namespace VEK
