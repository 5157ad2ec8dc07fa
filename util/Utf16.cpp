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

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t at = 0;
  while (at < size) {
    const std::uint32_t lead = p[at];
    std::size_t length = 0;
    std::uint32_t c = 0, least = 0;
    if (lead < 0x80) length = 1, c = lead;
    else if (lead >= 0xC2 && lead <= 0xDF) length = 2, c = lead & 0x1F, least = 0x80;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, c = lead & 0x0F, least = 0x800;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, c = lead & 0x07, least = 0x10000;
    bool valid = length > 0 && size - at >= length;
    for (std::size_t i = 1; valid && i < length; ++i) {
      valid = (p[at + i] & 0xC0) == 0x80;
      c = c << 6 | (p[at + i] & 0x3F);
    }
    if (valid && (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) valid = false;
    if (!valid) {
      out += u'\uFFFD';
      ++at;
      continue;
    }
    if (c < 0x10000) {
      out += static_cast<char16_t>(c);
    } else {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
    at += length;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::uint32_t unit = text[i];
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00), out);
      ++i;
    } else {
      AppendUtf8(IsHighSurrogate(unit) || IsLowSurrogate(unit) ? 0xFFFD : unit, out);
    }
  }
  return out;
}

std::size_t Utf8Length(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  return length;
}

}  // namespace VEK
