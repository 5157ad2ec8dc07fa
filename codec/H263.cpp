// H.263 (H.263 baseline and H.263+) and Sorenson Spark (FLV1): the picture
// coding type in the picture header at the start of the chunk. The header
// starts on a byte boundary; the type is a few bits in, after fields of
// fixed width (or of widths the header itself gives).
#include "codec/KeyFrame.h"

namespace VEKCodec {

namespace {

// Most significant bit first, as both bitstreams are written.
class Bits {
 public:
  Bits(const unsigned char* data, std::size_t available) : data_(data), bits_(available * 8) {}
  bool Has(std::size_t count) const { return bits_ - at_ >= count; }
  // Call only after Has(count).
  unsigned Read(std::size_t count) {
    unsigned v = 0;
    for (std::size_t i = 0; i < count; ++i, ++at_) v = (v << 1) | ((data_[at_ >> 3] >> (7 - (at_ & 7))) & 1);
    return v;
  }

 private:
  const unsigned char* data_;
  std::size_t bits_;
  std::size_t at_ = 0;
};

}  // namespace

Frame H263Frame(const unsigned char* data, std::size_t available, std::uint32_t) {
  Bits b(data, available);
  // Picture start code (22 bits), temporal reference (8), PTYPE bits 1-2
  // ("10"), three flags, source format (3).
  if (!b.Has(38) || b.Read(22) != 0x20) return Frame::Unknown;
  b.Read(8);
  if (b.Read(2) != 2) return Frame::Unknown;
  b.Read(3);
  const unsigned format = b.Read(3);
  if (format != 6 && format != 7) {
    if (!b.Has(1)) return Frame::Unknown;
    return b.Read(1) == 0 ? Frame::Key : Frame::Delta;
  }
  // H.263+ PLUSPTYPE: UFEP (3), the 18-bit OPPTYPE when UFEP is 1, then the
  // picture type (3): 0 I, 1 P, 2 improved PB, 3 B, 4 EI, 5 EP.
  if (!b.Has(3)) return Frame::Unknown;
  const unsigned ufep = b.Read(3);
  if (ufep == 1) {
    if (!b.Has(18)) return Frame::Unknown;
    b.Read(18);
  } else if (ufep != 0) {
    return Frame::Unknown;
  }
  if (!b.Has(3)) return Frame::Unknown;
  const unsigned type = b.Read(3);
  if (type == 0) return Frame::Key;
  return type <= 5 ? Frame::Delta : Frame::Unknown;
}

Frame SorensonFrame(const unsigned char* data, std::size_t available, std::uint32_t) {
  Bits b(data, available);
  // Start code (17 bits, value 1), version (5), temporal reference (8), size
  // code (3) and, for codes 0 and 1, a width and a height of 8 or 16 bits.
  if (!b.Has(33) || b.Read(17) != 1) return Frame::Unknown;
  b.Read(5 + 8);
  const unsigned size = b.Read(3);
  const std::size_t dimensions = size == 0 ? 16 : size == 1 ? 32 : 0;
  if (!b.Has(dimensions + 2)) return Frame::Unknown;
  b.Read(dimensions);
  // 0 intra, 1 inter, 2 disposable inter.
  const unsigned type = b.Read(2);
  if (type == 0) return Frame::Key;
  return type <= 2 ? Frame::Delta : Frame::Unknown;
}

}  // namespace VEKCodec
