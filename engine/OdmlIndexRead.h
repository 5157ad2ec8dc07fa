// A file's own OpenDML indexes read as a player reads them: each stream's
// super index ('indx' in its header), then each standard index chunk
// ('ix##') it lists. Every field is a claim: a super index that cannot be
// read is no stream's index, and a standard index whose header or entries
// lie outside the file, or that is no standard index chunk, is read as
// unreadable rather than trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "avi/HeaderReader.h"
#include "avi/OdmlIndex.h"
#include "engine/ScanResult.h"
#include "file/BackupFile.h"

namespace VEKRiff {

struct StandardIndexView {
  std::size_t Stream = 0;
  bool Readable = false;  // the rest holds nothing where it is not
  VEKAvi::FourCC ChunkId = 0;
  std::int64_t Base = 0;
  std::uint32_t Count = 0;
  const unsigned char* Entries = nullptr;
  VEKAvi::StandardIndexEntry At(std::uint32_t i) const {
    return VEKAvi::StandardIndexEntry::Load(Entries + std::size_t{VEKAvi::StandardIndexEntry::Size} * i);
  }
  // Where entry i's chunk header lies; -1 for a base no file reaches.
  std::int64_t Position(std::uint32_t i) const {
    constexpr std::int64_t MaxBase = std::int64_t{1} << 62;
    return Base < 0 || Base > MaxBase ? -1 : Base + std::int64_t{At(i).Offset} - VEKAvi::ChunkHeader::Size;
  }
};

// Calls each for every standard index every readable super index lists, in
// stream order and then in the super index's order. Returns, by stream,
// whether its super index could be read.
std::vector<bool> ForEachStandardIndex(BackupFile& file, const VEKAvi::AviHeaders& headers, const StopCheck& stop,
                                       const std::function<void(const StandardIndexView&)>& each);

}  // namespace VEKRiff
