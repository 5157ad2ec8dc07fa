// UTF-16 text, as the Windows registry holds strings and as its editor
// exports files, turned into the UTF-8 the rest of the program works in.
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

}  // namespace VEK
