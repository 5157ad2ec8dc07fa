#include "util/TextFormat.h"

#include <algorithm>

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
  // The text between placeholders goes over in runs: a walk over a badly
  // damaged file formats two lines per spot, hundreds of thousands of them.
  for (std::size_t i = 0; i < templ.size();) {
    const std::size_t percent = std::min(templ.find('%', i), templ.size());
    out.append(templ, i, percent - i);
    i = percent;
    if (i >= templ.size()) break;
    if (i + 1 >= templ.size()) {
      out += '%';
      break;
    }
    const char spec = templ[i + 1];
    if (spec == '%') {
      out += '%';
      i += 2;
    } else if ((spec == 's' || spec == 'd') && next != args.end()) {
      next->AppendTo(out);
      ++next;
      i += 2;
    } else {
      out += '%';
      ++i;
    }
  }
  return out;
}

}  // namespace VEK
