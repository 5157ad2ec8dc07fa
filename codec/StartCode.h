// The three-byte start code 00 00 01 that MPEG-1/2, MPEG-4 Part 2, H.264 and
// HEVC elementary streams put before every header and picture.
#pragma once

#include <cstddef>

namespace VEKCodec {

// The offset just past the first 00 00 01 at or after `from`, or 0 when there
// is none in data[0, available). A valid answer is always at least 3.
inline std::size_t NextStartCode(const unsigned char* data, std::size_t available, std::size_t from) {
  for (std::size_t i = from; available >= 3 && i <= available - 3; ++i) {
    if (data[i + 2] > 1) {
      i += 2;  // none of the three bytes ending here can start a code
    } else if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
      return i + 3;
    }
  }
  return 0;
}

}  // namespace VEKCodec
