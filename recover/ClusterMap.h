// One bit per cluster: which clusters of a file system are taken. A 256 GB
// card of 4 KiB clusters needs 8 MiB of it, the most the recovery keeps of
// a whole source.
#pragma once

#include <cstdint>
#include <vector>

namespace VEKRecover {

class ClusterMap {
 public:
  ClusterMap() = default;
  explicit ClusterMap(std::uint64_t clusters) : Count_(clusters), Words((clusters + 63) / 64, 0) {}

  std::uint64_t Size() const { return Count_; }
  bool Test(std::uint64_t cluster) const {
    return cluster < Count_ && (Words[cluster / 64] >> (cluster % 64) & 1) != 0;
  }
  // Sets the bit; false when it was set already (or lies outside the map).
  bool Set(std::uint64_t cluster) {
    if (cluster >= Count_) return false;
    const std::uint64_t bit = std::uint64_t{1} << (cluster % 64);
    if (Words[cluster / 64] & bit) return false;
    Words[cluster / 64] |= bit;
    return true;
  }
  std::uint64_t CountSet() const {
    std::uint64_t n = 0;
    for (std::uint64_t w : Words)
      for (; w != 0; w &= w - 1) ++n;
    return n;
  }

 private:
  std::uint64_t Count_ = 0;
  std::vector<std::uint64_t> Words;
};

}  // namespace VEKRecover
