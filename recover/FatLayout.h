// Where a FAT12, FAT16, FAT32 or exFAT file system keeps its parts, read
// from its boot sector: sector and cluster sizes, the FATs, the root directory and
// the data area, as byte offsets in the source. Every field is a claim: a
// boot sector whose figures do not hold together, or that claims more than
// the source holds, is refused, and the recovery searches the whole source.
#pragma once

#include <cstdint>
#include <optional>

namespace VEKRecover {

class Source;

enum class FatType : std::uint8_t { Fat12, Fat16, Fat32, ExFat };

// Why no file system can be used; None when one can.
enum class FatProblem : std::uint8_t {
  None,
  NoFileSystem,      // no FAT boot sector at the start, nor in a partition the MBR lists
  OtherFileSystem,   // the boot sector of a file system not read here (NTFS)
  BadBootSector,     // a FAT boot sector whose figures do not hold together
  LargerThanSource,  // a FAT boot sector that claims more than the source holds
  TableUnreadable,   // a sound boot sector, but every FAT (on exFAT: or its bitmap) is blank or damaged
};

struct FatLayout {
  FatType Type = FatType::Fat16;
  std::int64_t VolumeStart = 0;  // the boot sector's offset in the source
  std::uint32_t BytesPerSector = 0;
  std::uint32_t SectorsPerCluster = 0;
  std::int64_t ClusterBytes = 0;
  std::uint32_t ReservedSectors = 0;
  std::uint32_t FatCount = 0;
  std::int64_t FatStart = 0;  // the first FAT's offset in the source
  std::int64_t FatBytes = 0;  // the size of one FAT
  std::uint32_t RootEntries = 0;  // FAT12 and FAT16: the root directory's slots
  std::int64_t RootStart = 0;     // FAT12 and FAT16: the root directory's offset
  std::uint32_t RootCluster = 0;  // FAT32 and exFAT: the root directory's first cluster
  std::int64_t DataStart = 0;     // the offset of cluster 2
  std::uint32_t ClusterCount = 0;  // data clusters, numbered 2 to ClusterCount + 1
  std::int64_t VolumeBytes = 0;
  std::uint8_t Media = 0;  // exFAT has none: its FAT opens as a hard disk's, 0xF8
  // FAT32 and exFAT may keep one FAT in use and leave the others stale: its number,
  // or -1 when every FAT mirrors the first.
  int ActiveFat = -1;

  bool IsDataCluster(std::uint32_t cluster) const {
    return cluster >= 2 && cluster - 2 < ClusterCount;
  }
  // The source offset of a data cluster (IsDataCluster).
  std::int64_t ClusterOffset(std::uint32_t cluster) const {
    return DataStart + std::int64_t{cluster - 2} * ClusterBytes;
  }
};

struct LayoutFound {
  std::optional<FatLayout> Layout;
  FatProblem Problem = FatProblem::NoFileSystem;
  // The boot sector names exFAT, whether or not its figures hold together.
  bool ExFat = false;
};

// The layout the 512 bytes of a FAT boot sector read at volumeStart
// describe, in a source of sourceSize bytes; an exFAT or NTFS one is
// OtherFileSystem here.
LayoutFound ReadBootSector(const unsigned char* sector, std::int64_t volumeStart, std::int64_t sourceSize);

// The file system at the start of the source, or else in the first FAT or
// exFAT partition its MBR lists (a whole card as the system shows it).
LayoutFound FindFatLayout(const Source& source);

}  // namespace VEKRecover
