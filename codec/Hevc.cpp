// HEVC in Annex B byte-stream form: a key frame is an IRAP picture (BLA, IDR or
// CRA, NAL unit types 16 to 23), as ffmpeg's HEVC parser says; any other
// coded slice (types 0 to 9) is not.
#include "codec/KeyFrame.h"
#include "codec/StartCode.h"

namespace VEKCodec {

Frame HevcFrame(const unsigned char* data, std::size_t available, std::uint32_t) {
  for (std::size_t at = NextStartCode(data, available, 0); at != 0; at = NextStartCode(data, available, at)) {
    if (at >= available) break;
    const int type = (data[at] >> 1) & 0x3F;
    if (type >= 16 && type <= 23) return Frame::Key;
    if (type <= 9) return Frame::Delta;
    // VPS, SPS, PPS, delimiters and SEI precede the first slice.
  }
  return Frame::Unknown;
}

}  // namespace VEKCodec
