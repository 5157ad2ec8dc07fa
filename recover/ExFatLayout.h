// Where an exFAT file system keeps its parts, read from its boot region:
// the sector and cluster sizes as powers of two, the FAT, the cluster heap
// (cluster 2 at its start, as on FAT) and the root directory's first
// cluster. Every field is a claim: the region's checksum must vouch for its
// eleven sectors, and figures that do not hold together, or that claim more
// than the source holds, are refused; the backup region, which follows the
// main one, is read where the main one fails.
#pragma once

#include <cstdint>

#include "recover/FatLayout.h"

namespace VEKRecover {

class Source;

// Whether the 512 bytes open an exFAT boot sector (its name at offset 3).
bool IsExFatBootSector(const unsigned char* sector);

// The layout of the exFAT volume whose boot region starts at volumeStart.
// Throws the source's read failure.
LayoutFound ReadExFatBootRegion(const Source& source, std::int64_t volumeStart);

// The boot region's checksum over its first eleven sectors (bytes), leaving
// out the flags and the share in use, which change without a new checksum.
std::uint32_t ExFatBootChecksum(const unsigned char* sectors, std::int64_t bytes);

}  // namespace VEKRecover
