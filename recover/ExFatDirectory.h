// The entries of an exFAT directory, live and deleted, read from its
// 32-byte entries. A file or folder is a set: its File entry (attributes,
// times, how many entries follow, the set's checksum), its Stream Extension
// (first cluster, size, whether it has a FAT chain) and its File Name
// entries, 15 UTF-16 characters each. Deleting clears the top bit of every
// entry's type and nothing else, so a deleted set whose checksum still
// holds with those bits put back is whole. The root also lists the
// allocation bitmap and the up-case table.
#pragma once

#include <cstdint>

#include "recover/FatDirectory.h"

namespace VEKRecover {

// The bitmap's or up-case table's clusters.
struct ExFatSystemFile {
  std::uint32_t FirstCluster = 0;
  std::uint64_t Bytes = 0;
  int BitmapIndex = 0;  // the bitmap's: the FAT (0 or 1) it goes with
};

class ExFatDirectoryReader {
 public:
  enum class Slot { Entry, Bitmap, UpCase, Skipped, End };
  // Decodes the entry at p (32 bytes, found at offset in the source). Entry
  // fills entry where p ends a set whose checksum holds; Bitmap and UpCase
  // fill system; End at the entry that ends the directory (type 0);
  // Skipped for anything else (a set's first entries, a label, a set that
  // does not hold together).
  Slot Read(const unsigned char* p, std::int64_t offset, DirEntry& entry, ExFatSystemFile& system);

 private:
  static constexpr int MaxSetEntries = 19;  // the File entry and up to 18 more
  bool Finish(DirEntry& entry);
  unsigned char Set[MaxSetEntries * 32] = {};
  int Have = 0, Want = 0;  // entries gathered, and the set's (0: none open)
  bool SetDeleted = false;
  std::int64_t SetOffset = 0;
};

// The checksum of an entry set of count entries, leaving out the checksum
// itself in the File entry.
std::uint16_t ExFatSetChecksum(const unsigned char* set, int count);

}  // namespace VEKRecover
