// The three-byte start code 00 00 01 that MPEG-1/2, MPEG-4 Visual, H.264 and
// HEVC elementary streams put before every header and picture.
#pragma once

#include <cstddef>
#include <cstring>

namespace VEKCodec {

// The offset just past the first 00 00 01 at or after `from`, or 0 when there
// is none in data[0, available). A valid answer is always at least 3.
inline std::size_t NextStartCode(const unsigned char* data, std::size_t available, std::size_t from) {
  // memchr finds the candidate zeros many bytes at a time: most chunks hold
  // few zeros outside their start codes.
  for (std::size_t i = from; available >= 3 && i <= available - 3; ++i) {
    const void* zero = std::memchr(data + i, 0, available - 2 - i);
    if (zero == nullptr) return 0;
    i = static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - data);
    if (data[i + 1] == 0 && data[i + 2] == 1) return i + 3;
  }
  return 0;
}

}  // namespace VEKCodec
