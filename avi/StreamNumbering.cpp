#include "avi/StreamNumbering.h"

namespace VEKAvi {

StreamNumbering DecideNumbering(const std::vector<std::uint16_t>& prefixes, std::size_t streams) {
  auto named = [&](StreamNumbering numbering) {
    std::size_t count = 0;
    for (const std::uint16_t prefix : prefixes) {
      const int n = StreamNumber(prefix, numbering);
      count += n >= 0 && (streams == 0 || static_cast<std::size_t>(n) < streams);
    }
    return count;
  };
  const std::size_t decimal = named(StreamNumbering::Decimal), hexadecimal = named(StreamNumbering::Hexadecimal);
  if (decimal == prefixes.size()) return StreamNumbering::Decimal;
  if (hexadecimal == prefixes.size() || streams == 0) return StreamNumbering::Hexadecimal;
  return decimal >= hexadecimal ? StreamNumbering::Decimal : StreamNumbering::Hexadecimal;
}

}  // namespace VEKAvi
