// Cinepak: a key frame starts afresh, with the frame flags' bit 0 clear (no
// codebooks carried over) and an intra strip (id 0x1000) first; inter frames
// set the bit and start with an inter strip (0x1100).
#include "codec/KeyFrame.h"

namespace VEKCodec {

Frame CinepakFrame(const unsigned char* data, std::size_t available, std::uint32_t) {
  // Frame header: flags (1), length (3), width (2), height (2), strip count
  // (2); then the first strip's id (2), big-endian.
  if (available < 12) return Frame::Unknown;
  const bool fresh = (data[0] & 1) == 0;
  const unsigned strip = (static_cast<unsigned>(data[10]) << 8) | data[11];
  if (fresh && strip == 0x1000) return Frame::Key;
  if (!fresh && strip == 0x1100) return Frame::Delta;
  return Frame::Unknown;
}

}  // namespace VEKCodec
