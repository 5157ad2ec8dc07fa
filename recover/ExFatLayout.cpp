#include "recover/ExFatLayout.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "recover/Source.h"
#include "util/Endian.h"

namespace VEKRecover {

namespace {

constexpr int ChecksummedSectors = 11;  // then the sector of checksums
constexpr int RegionSectors = 12;       // the main region; the backup follows
// Cluster numbers are 32 bits; the top ones mark bad and last clusters.
constexpr std::uint64_t MaxClusters = 0xFFFFFFF5;
// Sectors of 512 to 4096 bytes; clusters of at most 32 MiB.
constexpr int MinSectorShift = 9, MaxSectorShift = 12, MaxClusterShift = 25;
// No card comes near 2^48 sectors (128 PiB of 512 bytes); more is a damaged
// field, and the bound keeps the volume's size in bytes within 63 bits.
constexpr std::uint64_t MaxVolumeSectors = std::uint64_t{1} << 48;

bool AllZero(const unsigned char* p, int n) {
  return std::all_of(p, p + n, [](unsigned char c) { return c == 0; });
}

// The figures of one boot region (RegionSectors sectors of sectorBytes,
// checksum sector included) read at volumeStart.
LayoutFound ReadRegion(const unsigned char* s, std::int64_t sectorBytes, std::int64_t volumeStart,
                       std::int64_t sourceSize) {
  LayoutFound found;
  found.ExFat = true;
  found.Problem = FatProblem::BadBootSector;
  if (s[0] != 0xEB || s[1] != 0x76 || s[2] != 0x90 || s[510] != 0x55 || s[511] != 0xAA) return found;
  // Where FAT keeps its figures exFAT keeps zeros, so that no FAT reader
  // takes the volume for its own.
  if (!AllZero(s + 11, 53)) return found;
  const std::uint64_t volumeLength = VEK::LoadLe64(s + 72);
  const std::uint32_t fatOffset = VEK::LoadLe32(s + 80);
  const std::uint32_t fatLength = VEK::LoadLe32(s + 84);
  const std::uint32_t heapOffset = VEK::LoadLe32(s + 88);
  const std::uint32_t clusterCount = VEK::LoadLe32(s + 92);
  const std::uint32_t rootCluster = VEK::LoadLe32(s + 96);
  const std::uint8_t revisionMajor = s[105];
  const std::uint16_t volumeFlags = VEK::LoadLe16(s + 106);
  const int sectorShift = s[108];
  const int clusterShift = s[109];
  const std::uint32_t fats = s[110];
  if (sectorShift < MinSectorShift || sectorShift > MaxSectorShift || (std::int64_t{1} << sectorShift) != sectorBytes)
    return found;
  if (clusterShift > MaxClusterShift - sectorShift) return found;
  if (revisionMajor != 1 || (fats != 1 && fats != 2)) return found;
  const std::uint32_t activeFat = volumeFlags & 1;
  if (activeFat >= fats) return found;
  // The checksum vouches for the figures; past it each is still a claim.
  unsigned char expected[4];
  VEK::StoreLe32(expected, ExFatBootChecksum(s, ChecksummedSectors * sectorBytes));
  for (std::int64_t i = 0; i < sectorBytes; i += 4)
    if (std::memcmp(s + ChecksummedSectors * sectorBytes + i, expected, 4) != 0) return found;

  // All in 64 bits: every figure is at most 32 bits (the volume's length at
  // most 48) and the shifts at most 25, so no sum, product or shift overflows.
  if (volumeLength < (std::uint64_t{1} << 20 >> sectorShift) || volumeLength > MaxVolumeSectors) return found;
  if (clusterCount == 0 || clusterCount > MaxClusters) return found;
  if (fatOffset < 24 || fatLength == 0) return found;
  // A FAT holds an entry of four bytes for each cluster, and the two reserved.
  if ((std::uint64_t{fatLength} << sectorShift) < (std::uint64_t{clusterCount} + 2) * 4) return found;
  if (std::uint64_t{fatOffset} + std::uint64_t{fatLength} * fats > heapOffset) return found;
  const std::uint64_t heapEnd = std::uint64_t{heapOffset} + (std::uint64_t{clusterCount} << clusterShift);
  if (heapEnd > volumeLength) return found;
  if (rootCluster < 2 || rootCluster - 2 >= clusterCount) return found;

  FatLayout layout;
  layout.Type = FatType::ExFat;
  layout.VolumeStart = volumeStart;
  layout.BytesPerSector = static_cast<std::uint32_t>(sectorBytes);
  layout.SectorsPerCluster = std::uint32_t{1} << clusterShift;
  layout.ClusterBytes = sectorBytes << clusterShift;
  layout.ReservedSectors = fatOffset;
  layout.FatCount = fats;
  layout.FatStart = volumeStart + (std::int64_t{fatOffset} << sectorShift);
  layout.FatBytes = std::int64_t{fatLength} << sectorShift;
  layout.RootCluster = rootCluster;
  layout.DataStart = volumeStart + (std::int64_t{heapOffset} << sectorShift);
  layout.ClusterCount = clusterCount;
  layout.VolumeBytes = static_cast<std::int64_t>(volumeLength << sectorShift);
  layout.Media = 0xF8;
  layout.ActiveFat = static_cast<int>(activeFat);
  // As on FAT: the clusters must lie in the source for their figures to
  // place anything.
  if (volumeStart > sourceSize || static_cast<std::uint64_t>(sourceSize - volumeStart) < heapEnd << sectorShift) {
    found.Problem = FatProblem::LargerThanSource;
    return found;
  }
  found.Layout = layout;
  found.Problem = FatProblem::None;
  return found;
}

}  // namespace

bool IsExFatBootSector(const unsigned char* sector) { return std::memcmp(sector + 3, "EXFAT   ", 8) == 0; }

std::uint32_t ExFatBootChecksum(const unsigned char* sectors, std::int64_t bytes) {
  std::uint32_t sum = 0;
  for (std::int64_t i = 0; i < bytes; ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + sectors[i];
  }
  return sum;
}

LayoutFound ReadExFatBootRegion(const Source& source, std::int64_t volumeStart) {
  // The region at regionStart, whose sectors are of 2^shift bytes where its
  // first sector says so and that is the size wanted (any where -1).
  const auto regionAt = [&](std::int64_t regionStart, int wantShift) {
    LayoutFound found;
    found.ExFat = true;
    found.Problem = FatProblem::BadBootSector;
    unsigned char first[512];
    if (!source.ReadExactly(first, sizeof first, regionStart) || !IsExFatBootSector(first)) return found;
    const int shift = first[108];
    if (shift < MinSectorShift || shift > MaxSectorShift || (wantShift >= 0 && shift != wantShift)) return found;
    const std::int64_t sectorBytes = std::int64_t{1} << shift;
    std::unique_ptr<unsigned char[]> region(new unsigned char[static_cast<std::size_t>(RegionSectors * sectorBytes)]);
    if (!source.ReadExactly(region.get(), RegionSectors * sectorBytes, regionStart)) return found;
    return ReadRegion(region.get(), sectorBytes, volumeStart, source.Size());
  };
  const LayoutFound main = regionAt(volumeStart, -1);
  if (main.Problem == FatProblem::None) return main;
  // The backup follows the main region: twelve sectors on, whatever their
  // size, which the main region's damage may have hidden.
  for (int shift = MinSectorShift; shift <= MaxSectorShift; ++shift) {
    const LayoutFound backup = regionAt(volumeStart + (std::int64_t{RegionSectors} << shift), shift);
    if (backup.Problem == FatProblem::None) return backup;
  }
  return main;
}

}  // namespace VEKRecover
