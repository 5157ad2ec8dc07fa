// The payload of one H.264 or HEVC NAL unit as its raw bytes: the
// emulation-prevention byte of every 00 00 03 dropped, ending at the next
// start code or at the end of what we have. Both the key-frame rules and the
// stream probes read parameter sets and SEI through it.
#pragma once

#include <cstddef>

namespace VEKCodec {

class RbspReader {
 public:
  RbspReader(const unsigned char* data, std::size_t available, std::size_t at)
      : data_(data), end_(available), at_(at) {}

  // False at the end of the NAL unit or of the data.
  bool Next(unsigned& byte) {
    if (at_ >= end_) return false;
    if (zeros_ >= 2 && data_[at_] == 3) {
      ++at_;
      zeros_ = 0;
      if (at_ >= end_) return false;
    }
    if (zeros_ >= 2 && data_[at_] <= 1) return false;  // the next start code
    byte = data_[at_++];
    zeros_ = byte == 0 ? zeros_ + 1 : 0;
    return true;
  }

 private:
  const unsigned char* data_;
  std::size_t end_;
  std::size_t at_;
  int zeros_ = 0;
};

}  // namespace VEKCodec
