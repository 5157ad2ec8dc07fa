// H.264 in Annex B byte-stream form, as ffmpeg, mencoder and GStreamer store it
// in AVI. A key frame is what ffmpeg's own H.264 parser calls one: an IDR
// slice, or any slice after a recovery point SEI in the same access unit
// (open-GOP and intra-refresh streams).
#include "codec/KeyFrame.h"
#include "codec/Rbsp.h"
#include "codec/StartCode.h"

namespace VEKCodec {

namespace {

constexpr int NalSlice = 1;
constexpr int NalPartitionA = 2;
constexpr int NalIdr = 5;
constexpr int NalSei = 6;
constexpr int SeiRecoveryPoint = 6;

// The ff-coded numbers of an SEI message header (payload type, payload size).
bool ReadSeiNumber(RbspReader& r, std::uint32_t& value) {
  value = 0;
  unsigned byte = 0;
  while (r.Next(byte)) {
    value += byte;
    if (byte != 0xFF) return true;
    if (value > 0x10000) return false;  // damaged: no real SEI is that large
  }
  return false;
}

// True when the SEI NAL unit starting at `at` (after its header byte) holds a
// recovery point message.
bool HasRecoveryPoint(const unsigned char* data, std::size_t available, std::size_t at) {
  RbspReader r(data, available, at);
  for (;;) {
    std::uint32_t type = 0, size = 0;
    if (!ReadSeiNumber(r, type)) return false;
    if (type == SeiRecoveryPoint) return true;
    if (!ReadSeiNumber(r, size)) return false;
    unsigned byte = 0;
    for (std::uint32_t i = 0; i < size; ++i)
      if (!r.Next(byte)) return false;
  }
}

}  // namespace

Frame H264Frame(const unsigned char* data, std::size_t available, std::uint32_t) {
  bool recoveryPoint = false;
  for (std::size_t at = NextStartCode(data, available, 0); at != 0; at = NextStartCode(data, available, at)) {
    if (at >= available) break;
    const int type = data[at] & 0x1F;
    if (type == NalIdr) return Frame::Key;
    if (type == NalSlice || type == NalPartitionA) return recoveryPoint ? Frame::Key : Frame::Delta;
    if (type == NalSei && HasRecoveryPoint(data, available, at + 1)) recoveryPoint = true;
    // Delimiters, parameter sets, other SEI and filler come before the first
    // slice; x264's first frame carries a long version SEI, so the slice may
    // lie beyond the probe and the answer stay undecided.
  }
  return Frame::Unknown;
}

}  // namespace VEKCodec
