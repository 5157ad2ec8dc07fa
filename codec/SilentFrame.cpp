#include "codec/SilentFrame.h"

#include <algorithm>
#include <array>

#include "codec/BitReader.h"

namespace VEKCodec {

namespace {

// Writes bit fields most significant bit first into a frame of zeros.
class BitWriter {
 public:
  explicit BitWriter(std::vector<unsigned char>& out) : out_(out) {}
  void Put(std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i, ++at_)
      if ((value >> i) & 1u) out_[at_ >> 3] |= static_cast<unsigned char>(0x80u >> (at_ & 7));
  }
  std::size_t Bits() const { return at_; }

 private:
  std::vector<unsigned char>& out_;
  std::size_t at_ = 0;
};

// CRC-16 with x^16 + x^15 + x^2 + 1, most significant bit first, from 0:
// the check AC-3 puts in its frames.
std::uint16_t Crc16(const unsigned char* data, std::size_t n) {
  std::uint32_t crc = 0;
  for (std::size_t i = 0; i < n; ++i) {
    crc ^= std::uint32_t{data[i]} << 8;
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? ((crc << 1) ^ 0x8005) : (crc << 1);
    crc &= 0xFFFF;
  }
  return static_cast<std::uint16_t>(crc);
}

// crc1 leads the bytes it checks: the value at data[0..1] that makes the
// CRC of data[0, n) zero. The CRC is linear in those two bytes (and
// invertible in them), so the images of the sixteen bits, reduced to one
// per leading bit, express the CRC the other bytes leave.
std::uint16_t LeadingCrc(std::vector<unsigned char> data) {
  data[0] = data[1] = 0;
  const std::uint16_t rest = Crc16(data.data(), data.size());
  // basis[b]: an image whose highest bit is b, with the bits it comes from above bit 16.
  std::array<std::uint32_t, 16> basis{};
  std::fill(data.begin(), data.end(), 0);
  for (int k = 0; k < 16; ++k) {
    data[0] = static_cast<unsigned char>((1u << k) >> 8);
    data[1] = static_cast<unsigned char>((1u << k) & 0xFF);
    std::uint32_t v = Crc16(data.data(), data.size()) | (1u << (16 + k));
    for (int bit = 15; bit >= 0; --bit) {
      if (((v >> bit) & 1u) == 0) continue;
      if (basis[static_cast<std::size_t>(bit)] == 0) {
        basis[static_cast<std::size_t>(bit)] = v;
        break;
      }
      v ^= basis[static_cast<std::size_t>(bit)];
    }
  }
  std::uint32_t v = rest;
  for (int bit = 15; bit >= 0; --bit)
    if ((v >> bit) & 1u) v ^= basis[static_cast<std::size_t>(bit)];
  return static_cast<std::uint16_t>(v >> 16);
}

constexpr std::uint16_t Ac3Kbps[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                       192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr int FullBandChannels[8] = {2, 1, 2, 3, 3, 4, 4, 5};  // by acmod; 0 is two mono channels

}  // namespace

std::vector<unsigned char> SilentAc3Frame(const unsigned char* header, std::size_t n) {
  if (header == nullptr || n < 8 || header[0] != 0x0B || header[1] != 0x77) return {};
  const unsigned fscod = header[4] >> 6, frmsizecod = header[4] & 0x3F;
  BitReader r(header + 5, n - 5);
  const unsigned bsid = r.Bits(5), bsmod = r.Bits(3), acmod = r.Bits(3);
  const unsigned cmixlev = (acmod & 1) != 0 && acmod != 1 ? r.Bits(2) : 0;
  const unsigned surmixlev = (acmod & 4) != 0 ? r.Bits(2) : 0;
  const unsigned dsurmod = acmod == 2 ? r.Bits(2) : 0;
  const bool lfe = r.Bit();
  const unsigned dialnorm = r.Bits(5);
  if (!r.Ok() || fscod == 3 || frmsizecod > 37 || bsid > 8) return {};
  const std::uint32_t kbps = Ac3Kbps[frmsizecod >> 1];
  const std::uint32_t words = fscod == 0 ? kbps * 2 : fscod == 1 ? kbps * 320 / 147 + (frmsizecod & 1) : kbps * 3;
  const std::size_t bytes = std::size_t{words} * 2;
  std::vector<unsigned char> frame(bytes, 0);
  BitWriter w(frame);
  w.Put(0x0B77, 16);
  w.Put(0, 16);  // crc1, below
  w.Put(fscod, 2);
  w.Put(frmsizecod, 6);
  // Bit stream information: the stream's own, with nothing optional.
  w.Put(bsid, 5);
  w.Put(bsmod, 3);
  w.Put(acmod, 3);
  if ((acmod & 1) != 0 && acmod != 1) w.Put(cmixlev, 2);
  if ((acmod & 4) != 0) w.Put(surmixlev, 2);
  if (acmod == 2) w.Put(dsurmod, 2);
  w.Put(lfe, 1);
  const int passes = acmod == 0 ? 2 : 1;  // 1+1: a second channel's dialnorm and flags
  for (int pass = 0; pass < passes; ++pass) {
    w.Put(dialnorm, 5);
    w.Put(0, 1);  // compre
    w.Put(0, 1);  // langcode
    w.Put(0, 1);  // audprodie
  }
  w.Put(0, 1);  // copyrightb
  w.Put(1, 1);  // origbs
  w.Put(0, 2);  // timecod1e, timecod2e (or xbsi1e, xbsi2e)
  w.Put(0, 1);  // addbsie
  // Six audio blocks. The first sets the strategies the others reuse:
  // exponents for the lowest band width, a bit allocation whose SNR offsets
  // are all zero, which gives every coefficient no bits; without dither,
  // each decodes as zero.
  const int channels = FullBandChannels[acmod];
  for (int block = 0; block < 6; ++block) {
    const bool first = block == 0;
    w.Put(0, channels);  // blksw
    w.Put(0, channels);  // dithflag
    w.Put(0, 1);         // dynrnge
    if (acmod == 0) w.Put(0, 1);  // dynrng2e
    w.Put(first, 1);              // cplstre
    if (first) w.Put(0, 1);       // cplinu
    if (acmod == 2) {
      w.Put(first, 1);             // rematstr
      if (first) w.Put(0, 4);      // rematflg, four bands
    }
    for (int ch = 0; ch < channels; ++ch) w.Put(first ? 3 : 0, 2);  // chexpstr: D45, then reuse
    if (lfe) w.Put(first, 1);                                        // lfeexpstr: D15, then reuse
    if (first) {
      for (int ch = 0; ch < channels; ++ch) w.Put(0, 6);  // chbwcod: 73 coefficients
      for (int ch = 0; ch < channels; ++ch) {
        w.Put(15, 4);  // the first exponent
        for (int group = 0; group < 6; ++group) w.Put(62, 7);  // three deltas of 0
        w.Put(0, 2);                                            // gainrng
      }
      if (lfe) {
        w.Put(15, 4);
        for (int group = 0; group < 2; ++group) w.Put(62, 7);
      }
    }
    w.Put(first, 1);  // baie
    if (first) {
      w.Put(2, 2);  // sdcycod
      w.Put(1, 2);  // fdcycod
      w.Put(1, 2);  // sgaincod
      w.Put(2, 2);  // dbpbcod
      w.Put(7, 3);  // floorcod
    }
    w.Put(first, 1);  // snroffste
    if (first) {
      w.Put(0, 6);  // csnroffst
      for (int ch = 0; ch < channels + (lfe ? 1 : 0); ++ch) {
        w.Put(0, 4);  // fsnroffst
        w.Put(4, 3);  // fgaincod
      }
    }
    w.Put(0, 1);  // deltbaie
    w.Put(0, 1);  // skiple
  }
  // The rest is auxiliary bits, zero, auxdatae 0 and crcrsv 0 included.
  if (w.Bits() + 18 > bytes * 8) return {};
  const std::size_t five8 = (std::size_t{words} / 2 + std::size_t{words} / 8) * 2;
  const std::uint16_t crc1 = LeadingCrc(std::vector<unsigned char>(frame.begin() + 2, frame.begin() + five8));
  frame[2] = static_cast<unsigned char>(crc1 >> 8);
  frame[3] = static_cast<unsigned char>(crc1 & 0xFF);
  const std::uint16_t crc2 = Crc16(frame.data() + five8, bytes - five8 - 2);
  frame[bytes - 2] = static_cast<unsigned char>(crc2 >> 8);
  frame[bytes - 1] = static_cast<unsigned char>(crc2 & 0xFF);
  return frame;
}

}  // namespace VEKCodec
