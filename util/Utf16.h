// UTF-16 text, as the Windows registry holds strings, as its editor exports
// files and as the Win32 calls take names, turned into the UTF-8 the rest of
// the program works in, and back.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace VEK {

enum class ByteOrder { LittleEndian, BigEndian };

// Appends the UTF-8 form of the UTF-16 bytes to out: surrogate pairs become
// one character, U+0000 a zero byte. Returns bytes.size() when every byte was
// read, else the offset of the first unit that is not UTF-16 (a lone
// surrogate, an odd last byte); what comes before it is appended.
std::size_t AppendUtf16AsUtf8(std::string_view bytes, ByteOrder order, std::string& out);

// The UTF-16 form of UTF-8 text. A byte that starts no valid sequence
// (a stray continuation byte, an overlong form, an encoded surrogate, a code
// point above U+10FFFF, a sequence cut short) becomes U+FFFD, and decoding
// goes on with the next byte.
std::u16string Utf8ToUtf16(std::string_view text);
// The UTF-8 form of UTF-16 units; a lone surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// The length of the valid UTF-8 sequence at text[at], 0 when there is none:
// no overlong form, no surrogate, nothing beyond U+10FFFF.
std::size_t Utf8Length(std::string_view text, std::size_t at);

}  // namespace VEK
