#include "recover/FatLayout.h"

#include <cstring>

#include "recover/ExFatLayout.h"
#include "recover/Source.h"
#include "util/Endian.h"

namespace VEKRecover {

namespace {

constexpr int BootSectorBytes = 512;
// Fewer clusters than these make a FAT12, then a FAT16; the count, not the
// label in the boot sector, decides, as every reader of FAT does.
constexpr std::uint32_t Fat12Limit = 4085, Fat16Limit = 65525;
// FAT32 cluster numbers have 28 bits; the top values mark bad and last clusters.
constexpr std::uint32_t Fat32MaxClusters = 0x0FFFFFF5 - 2;

bool PowerOfTwo(std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

bool HasSignature(const unsigned char* sector) { return sector[510] == 0x55 && sector[511] == 0xAA; }

// A jump to the boot code opens every FAT boot sector: EB xx 90, or E9 xx xx.
bool OpensWithJump(const unsigned char* sector) {
  return (sector[0] == 0xEB && sector[2] == 0x90) || sector[0] == 0xE9;
}

}  // namespace

LayoutFound ReadBootSector(const unsigned char* s, std::int64_t volumeStart, std::int64_t sourceSize) {
  LayoutFound found;
  if (!HasSignature(s) || !OpensWithJump(s)) return found;
  // Their boot sectors open like FAT's, with the figures elsewhere: no FAT
  // figure in them is a damaged one. SDXC cards come as exFAT, read from
  // its whole boot region (ReadExFatBootRegion).
  if (std::memcmp(s + 3, "EXFAT   ", 8) == 0 || std::memcmp(s + 3, "NTFS    ", 8) == 0) {
    found.Problem = FatProblem::OtherFileSystem;
    return found;
  }
  found.Problem = FatProblem::BadBootSector;
  const std::uint32_t bytesPerSector = VEK::LoadLe16(s + 11);
  const std::uint32_t sectorsPerCluster = s[13];
  const std::uint32_t reserved = VEK::LoadLe16(s + 14);
  const std::uint32_t fats = s[16];
  const std::uint32_t rootEntries = VEK::LoadLe16(s + 17);
  const std::uint32_t totalSectors16 = VEK::LoadLe16(s + 19);
  const std::uint8_t media = s[21];
  const std::uint32_t fatSectors16 = VEK::LoadLe16(s + 22);
  const std::uint32_t totalSectors32 = VEK::LoadLe32(s + 32);
  const bool fat32 = fatSectors16 == 0;
  const std::uint32_t fatSectors = fat32 ? VEK::LoadLe32(s + 36) : fatSectors16;
  const std::uint32_t totalSectors = totalSectors16 != 0 ? totalSectors16 : totalSectors32;

  if (bytesPerSector < 512 || bytesPerSector > 4096 || !PowerOfTwo(bytesPerSector)) return found;
  if (!PowerOfTwo(sectorsPerCluster) || sectorsPerCluster > 128) return found;
  if (reserved == 0 || fats == 0 || fats > 4 || fatSectors == 0 || totalSectors == 0) return found;
  if (media != 0xF0 && media < 0xF8) return found;
  if (fat32 && rootEntries != 0) return found;
  // All in 64 bits: each factor is at most 32 bits, so no product overflows.
  const std::int64_t sector = bytesPerSector;
  const std::int64_t rootSectors = (std::int64_t{rootEntries} * 32 + sector - 1) / sector;
  const std::int64_t dataSector = std::int64_t{reserved} + std::int64_t{fats} * fatSectors + rootSectors;
  if (dataSector >= totalSectors) return found;
  const std::int64_t clusters = (totalSectors - dataSector) / sectorsPerCluster;
  if (clusters < 1 || clusters > Fat32MaxClusters) return found;

  FatLayout layout;
  layout.Type = fat32 ? FatType::Fat32 : clusters < Fat12Limit ? FatType::Fat12 : FatType::Fat16;
  // A FAT16 cannot number that many clusters, and a FAT must hold an entry
  // for each, plus the two reserved ones.
  if (!fat32 && clusters >= Fat16Limit) return found;
  const std::int64_t entries = clusters + 2;
  const std::int64_t needed = layout.Type == FatType::Fat12   ? (entries * 3 + 1) / 2
                              : layout.Type == FatType::Fat16 ? entries * 2
                                                              : entries * 4;
  if (std::int64_t{fatSectors} * sector < needed) return found;
  if (fat32) {
    layout.RootCluster = VEK::LoadLe32(s + 44) & 0x0FFFFFFF;
    if (layout.RootCluster < 2 || layout.RootCluster - 2 >= clusters) return found;
    const std::uint16_t extFlags = VEK::LoadLe16(s + 40);
    if ((extFlags & 0x80) != 0) {
      layout.ActiveFat = extFlags & 0x0F;
      if (static_cast<std::uint32_t>(layout.ActiveFat) >= fats) return found;
    }
  }
  layout.VolumeStart = volumeStart;
  layout.BytesPerSector = bytesPerSector;
  layout.SectorsPerCluster = sectorsPerCluster;
  layout.ClusterBytes = sector * sectorsPerCluster;
  layout.ReservedSectors = reserved;
  layout.FatCount = fats;
  layout.FatStart = volumeStart + std::int64_t{reserved} * sector;
  layout.FatBytes = std::int64_t{fatSectors} * sector;
  layout.RootEntries = rootEntries;
  layout.RootStart = layout.FatStart + std::int64_t{fats} * layout.FatBytes;
  layout.DataStart = volumeStart + dataSector * sector;
  layout.ClusterCount = static_cast<std::uint32_t>(clusters);
  layout.VolumeBytes = std::int64_t{totalSectors} * sector;
  layout.Media = media;
  // The clusters in use lie inside the volume; a volume that runs past the
  // source is another one's boot sector, or a cut image: either way its
  // figures cannot be trusted to place clusters.
  const std::int64_t dataEnd = dataSector * sector + clusters * layout.ClusterBytes;
  if (volumeStart > sourceSize || sourceSize - volumeStart < dataEnd) {
    found.Problem = FatProblem::LargerThanSource;
    return found;
  }
  found.Layout = layout;
  found.Problem = FatProblem::None;
  return found;
}

namespace {

LayoutFound LayoutAt(const Source& source, const unsigned char* sector, std::int64_t volumeStart) {
  if (IsExFatBootSector(sector)) return ReadExFatBootRegion(source, volumeStart);
  return ReadBootSector(sector, volumeStart, source.Size());
}

}  // namespace

LayoutFound FindFatLayout(const Source& source) {
  unsigned char sector[BootSectorBytes];
  if (!source.ReadExactly(sector, BootSectorBytes, 0)) return {};
  LayoutFound found = LayoutAt(source, sector, 0);
  if (found.Problem != FatProblem::NoFileSystem || !HasSignature(sector)) return found;
  // An MBR: four entries of 16 bytes from offset 446, each with its type at
  // 4 and its first sector (of 512 bytes) at 8.
  unsigned char partition[BootSectorBytes];
  for (int i = 0; i < 4; ++i) {
    const unsigned char* entry = sector + 446 + 16 * i;
    switch (entry[4]) {
      // FAT12, FAT16, FAT32; 0x07 for exFAT and NTFS, to say which it is.
      case 0x01: case 0x04: case 0x06: case 0x07: case 0x0B: case 0x0C: case 0x0E: break;
      default: continue;
    }
    const std::int64_t start = std::int64_t{VEK::LoadLe32(entry + 8)} * BootSectorBytes;
    if (start == 0 || !source.ReadExactly(partition, BootSectorBytes, start)) continue;
    LayoutFound inPartition = LayoutAt(source, partition, start);
    if (inPartition.Problem == FatProblem::None) return inPartition;
    if (found.Problem == FatProblem::NoFileSystem) found = inPartition;
  }
  return found;
}

}  // namespace VEKRecover
