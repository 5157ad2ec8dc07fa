// VP8 and VP9: the frame type bit of the first frame header in the chunk. A
// VP8 frame tag has it in bit 0 (0 a key frame); a VP9 uncompressed header
// has it after the frame marker, the profile and show_existing_frame.
#include "codec/KeyFrame.h"

namespace VEKCodec {

Frame Vp8Frame(const unsigned char* data, std::size_t available, std::uint32_t) {
  if (available < 3) return Frame::Unknown;
  return (data[0] & 1) == 0 ? Frame::Key : Frame::Delta;
}

Frame Vp9Frame(const unsigned char* data, std::size_t available, std::uint32_t) {
  if (available < 1) return Frame::Unknown;
  const unsigned b = data[0];
  if ((b >> 6) != 2) return Frame::Unknown;  // frame_marker
  const unsigned profile = ((b >> 5) & 1) | (((b >> 4) & 1) << 1);
  int bit = 3;  // the next bit, counted down from the most significant
  if (profile == 3) --bit;  // a reserved zero bit
  if ((b >> bit) & 1) return Frame::Delta;  // show_existing_frame: a repeat
  --bit;
  return ((b >> bit) & 1) == 0 ? Frame::Key : Frame::Delta;
}

}  // namespace VEKCodec
