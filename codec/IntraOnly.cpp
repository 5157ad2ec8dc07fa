// Codecs whose every picture stands alone: MJPEG and its relatives, DV,
// uncompressed RGB and YUV, HuffYUV and FFVHUFF, Ut Video, MagicYUV,
// Lagarith, PNG, JPEG 2000, JPEG-LS, DNxHD and ASUS V1/V2. Every non-empty
// chunk is a key frame.
#include "codec/KeyFrame.h"

namespace VEKCodec {

Frame IntraOnlyFrame(const unsigned char*, std::size_t, std::uint32_t) { return Frame::Key; }

}  // namespace VEKCodec
