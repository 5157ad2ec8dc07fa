// Zip Motion Blocks Video (DOSBox captures): bit 0 of the first byte marks an
// intra frame, which resets the zlib stream the following frames continue.
#include "codec/KeyFrame.h"

namespace VEKCodec {

Frame ZmbvFrame(const unsigned char* data, std::size_t available, std::uint32_t) {
  if (available < 1) return Frame::Unknown;
  return (data[0] & 1) ? Frame::Key : Frame::Delta;
}

}  // namespace VEKCodec
