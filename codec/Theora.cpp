// Theora: the first bit of a packet tells a header (1) from a frame (0), the
// next one an inter frame (1) from an intra frame (0).
#include "codec/KeyFrame.h"

namespace VEKCodec {

Frame TheoraFrame(const unsigned char* data, std::size_t available, std::uint32_t) {
  if (available < 1 || (data[0] & 0x80) != 0) return Frame::Unknown;
  return (data[0] & 0x40) == 0 ? Frame::Key : Frame::Delta;
}

}  // namespace VEKCodec
