// MPEG-4 Visual (XviD, DivX 4/5, FMP4 and kin): the coding type of the first
// VOP in the chunk. ffmpeg and mencoder put the VOS and VOL headers in front
// of each I-VOP; DivX-style packed B-frames put a P-VOP and a B-VOP in one
// chunk and leave an N-VOP (vop_coded 0) in the next, both judged by their
// first VOP, neither a key frame.
#include "codec/KeyFrame.h"
#include "codec/StartCode.h"

namespace VEKCodec {

namespace {
constexpr unsigned char VopStartCode = 0xB6;
constexpr std::size_t NotCodedVopMax = 8;
}  // namespace

Frame Mpeg4VisualFrame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize) {
  for (std::size_t at = NextStartCode(data, available, 0); at != 0; at = NextStartCode(data, available, at)) {
    if (at >= available) break;
    if (data[at] != VopStartCode) continue;
    if (at + 1 >= available) break;
    // vop_coding_type, the first two bits: 0 I, 1 P, 2 B, 3 S (sprite/GMC).
    if ((data[at + 1] >> 6) != 0) return Frame::Delta;
    // XviD also writes not-coded VOPs of type I. Whether a VOP is coded
    // follows a time field whose width only the VOL gives, but a not-coded
    // one is a header of at most 8 bytes, and a coded I-VOP is more: its
    // quantiser and at least one macroblock follow.
    return chunkSize - (at - 3) <= NotCodedVopMax ? Frame::Delta : Frame::Key;
  }
  // A tiny whole chunk without a single start code is a placeholder (XviD's
  // one-byte "delayed frame" stuffing), not a picture to seek to. A chunk of
  // headers only, or one whose VOP lies beyond what we were given, stays
  // undecided.
  if (chunkSize < 8 && available == chunkSize && NextStartCode(data, available, 0) == 0) return Frame::Delta;
  return Frame::Unknown;
}

}  // namespace VEKCodec
