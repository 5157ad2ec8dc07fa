// Microsoft's MPEG-4 variants and Windows Media Video 7/8. Their pictures have
// no start code: the picture type is in the chunk's first bits. MS-MPEG4 v2,
// v3 (DivX 3) and WMV1 code pict_type - 1 in two bits (0 I, 1 P); WMV2 codes
// it in one. Version 1 (MPG4) puts a 32-bit start code first and is left out.
#include "codec/KeyFrame.h"

namespace VEKCodec {

Frame MsMpeg4Frame(const unsigned char* data, std::size_t available, std::uint32_t) {
  if (available == 0) return Frame::Unknown;
  switch (data[0] >> 6) {
    case 0: return Frame::Key;
    case 1: return Frame::Delta;
    default: return Frame::Unknown;  // B and S do not exist in these codecs
  }
}

Frame Wmv2Frame(const unsigned char* data, std::size_t available, std::uint32_t) {
  if (available == 0) return Frame::Unknown;
  return (data[0] & 0x80) == 0 ? Frame::Key : Frame::Delta;
}

}  // namespace VEKCodec
