#include "util/Utf16.h"

#include <cstdint>

#include "util/Endian.h"

namespace VEK {

namespace {

std::uint16_t LoadUnit(const unsigned char* p, ByteOrder order) {
  return order == ByteOrder::LittleEndian ? LoadLe16(p) : static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

bool IsHighSurrogate(std::uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(std::uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

void AppendUtf8(std::uint32_t c, std::string& out) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::size_t AppendUtf16AsUtf8(std::string_view bytes, ByteOrder order, std::string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t size = bytes.size();
  out.reserve(out.size() + size / 2);
  std::size_t at = 0;
  while (size - at >= 2) {
    const std::uint32_t unit = LoadUnit(p + at, order);
    if (IsLowSurrogate(unit)) return at;
    if (!IsHighSurrogate(unit)) {
      AppendUtf8(unit, out);
      at += 2;
      continue;
    }
    if (size - at < 4) return at;
    const std::uint32_t low = LoadUnit(p + at + 2, order);
    if (!IsLowSurrogate(low)) return at;
    AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), out);
    at += 4;
  }
  return at;  // an odd last byte stays unread
}

}  // namespace VEK
