// Little-endian loads and stores for every on-disk field. RIFF is little-endian
// throughout; fields are read byte by byte so that no alignment or host byte
// order is assumed.
#pragma once

#include <cstdint>

namespace VEK {

inline std::uint16_t LoadLe16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t LoadLe32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::uint64_t LoadLe64(const unsigned char* p) {
  return LoadLe32(p) | (std::uint64_t{LoadLe32(p + 4)} << 32);
}

inline void StoreLe16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}

inline void StoreLe32(unsigned char* p, std::uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

inline void StoreLe64(unsigned char* p, std::uint64_t v) {
  StoreLe32(p, static_cast<std::uint32_t>(v));
  StoreLe32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

}  // namespace VEK
