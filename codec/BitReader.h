// Reads the bit fields of codec headers, most significant bit first, from a
// byte range it never leaves. A read past the end yields zeros and marks the
// reader failed, so a parser may read a header straight through and ask Ok()
// where a decision depends on it; the bytes are untrusted, so are the counts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace VEKCodec {

class BitReader {
 public:
  BitReader(const unsigned char* data, std::size_t size) : data_(data), bits_(std::uint64_t{size} * 8) {}

  // count in [0, 32].
  std::uint32_t Bits(int count) {
    std::uint32_t value = 0;
    if (count < 0 || count > 32 || bits_ - at_ < static_cast<std::uint64_t>(count)) {
      ok_ = false;
      at_ = bits_;
      return 0;
    }
    for (int i = 0; i < count; ++i, ++at_) value = (value << 1) | ((data_[at_ >> 3] >> (7 - (at_ & 7))) & 1u);
    return value;
  }

  bool Bit() { return Bits(1) != 0; }

  void Skip(std::uint64_t count) {
    if (bits_ - at_ < count) {
      ok_ = false;
      at_ = bits_;
      return;
    }
    at_ += count;
  }

  // Unsigned Exp-Golomb. More than 31 leading zeros fits no field we read and
  // only comes from damage: the reader fails rather than overflow.
  std::uint32_t Ue() {
    int zeros = 0;
    while (ok_ && !Bit()) {
      if (++zeros > 31) {
        ok_ = false;
        return 0;
      }
    }
    if (!ok_) return 0;
    return ((std::uint32_t{1} << zeros) - 1) + Bits(zeros);
  }

  // Signed Exp-Golomb: 1, -1, 2, -2, ... for 1, 2, 3, 4, ...
  std::int64_t Se() {
    const std::uint32_t k = Ue();
    return (k & 1) ? static_cast<std::int64_t>(k / 2) + 1 : -static_cast<std::int64_t>(k / 2);
  }

  // A marker bit that must be 1; a 0 fails the reader.
  void Marker() {
    if (!Bit()) ok_ = false;
  }

  void Fail() { ok_ = false; }
  bool Ok() const { return ok_; }

 private:
  const unsigned char* data_;
  std::uint64_t bits_;
  std::uint64_t at_ = 0;
  bool ok_ = true;
};

}  // namespace VEKCodec
