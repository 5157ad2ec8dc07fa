// One FAT of a file system, read through a small window: the next cluster
// of each cluster's chain. A FAT32 of a large card is hundreds of MiB; the
// chains are mostly runs of neighbours, so one window serves many lookups.
#pragma once

#include <cstdint>
#include <memory>

#include "recover/FatLayout.h"

namespace VEKRecover {

class Source;

class FatTable {
 public:
  // The copy-th FAT (0 the first) of the layout.
  FatTable(const Source& source, const FatLayout& layout, std::uint32_t copy);

  // Whether the table holds what a FAT always begins with: the media byte in
  // entry 0 with every other bit set (exFAT's: 0xF8), entry 1 not blank. A zeroed
  // or overwritten FAT fails.
  bool Sound();
  // The entry of cluster (0 to ClusterCount + 1): the next cluster, or a
  // free, bad or last mark (FAT32 entries without their top four bits;
  // exFAT's keep all 32).
  std::uint32_t Entry(std::uint32_t cluster);
  bool IsLast(std::uint32_t entry) const { return entry >= EndMark; }
  // Where the chain goes on from an entry: a data cluster of the volume, or
  // 0 when it ends (a last mark, a free or bad cluster, a number outside).
  std::uint32_t NextOf(std::uint32_t entry) const { return Layout.IsDataCluster(entry) && entry < BadMark ? entry : 0; }

 private:
  // The bytes [offset, offset + n) of the FAT, from the window.
  const unsigned char* Bytes(std::int64_t offset, std::int64_t n);

  static constexpr std::int64_t WindowBytes = 64 * 1024;
  const Source& From;
  const FatLayout& Layout;
  std::int64_t Start;
  std::uint32_t EndMark, BadMark, Mask;
  std::unique_ptr<unsigned char[]> Window;
  std::int64_t WindowStart = 0, WindowLength = 0;
};

}  // namespace VEKRecover
