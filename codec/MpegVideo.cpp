// MPEG-1 and MPEG-2 video: the picture_coding_type of the first picture
// header (start code 00 00 01 00). Sequence and GOP headers may come first.
#include "codec/KeyFrame.h"
#include "codec/StartCode.h"

namespace VEKCodec {

Frame MpegVideoFrame(const unsigned char* data, std::size_t available, std::uint32_t) {
  for (std::size_t at = NextStartCode(data, available, 0); at != 0; at = NextStartCode(data, available, at)) {
    if (at >= available) break;
    if (data[at] != 0x00) continue;
    if (at + 2 >= available) break;
    // 10 bits of temporal_reference, then 3 bits of coding type: 1 I, 2 P, 3 B, 4 D.
    const int type = (data[at + 2] >> 3) & 7;
    if (type == 1) return Frame::Key;
    if (type >= 2 && type <= 4) return Frame::Delta;
    return Frame::Unknown;
  }
  return Frame::Unknown;
}

}  // namespace VEKCodec
