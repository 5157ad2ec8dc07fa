// FFV1 and Snow: the key-frame flag is the first bit of the frame's range
// coder, coded with the starting state 128. Right after initialisation the
// coder holds the first two bytes, big-endian, in `low` against a range of
// 0xFF00, so that bit is 1 exactly when those bytes are at least 0x7F80.
#include "codec/KeyFrame.h"

namespace VEKCodec {

Frame RangeCodedFrame(const unsigned char* data, std::size_t available, std::uint32_t) {
  if (available < 2) return Frame::Unknown;
  const unsigned low = (static_cast<unsigned>(data[0]) << 8) | data[1];
  return low >= 0x7F80 ? Frame::Key : Frame::Delta;
}

}  // namespace VEKCodec
