#include "util/TextFormat.h"

namespace VEK {

void FormatArg::AppendTo(std::string& out) const {
  if (isNumber_)
    out += std::to_string(number_);
  else
    out.append(text_);
}

std::string Format(std::string_view templ, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(templ.size() + 32);
  auto next = args.begin();
  for (std::size_t i = 0; i < templ.size(); ++i) {
    const char c = templ[i];
    if (c != '%' || i + 1 >= templ.size()) {
      out += c;
      continue;
    }
    const char spec = templ[i + 1];
    if (spec == '%') {
      out += '%';
      ++i;
    } else if ((spec == 's' || spec == 'd') && next != args.end()) {
      next->AppendTo(out);
      ++next;
      ++i;
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace VEK
