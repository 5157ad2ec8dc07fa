// The OpenDML index layout: a stream's super index ('indx', an index of
// indexes) and the standard index chunks ('ix##') it lists, each entry of
// those naming one chunk. One set of fields for the reader (the check) and
// the writer (the rebuild), so that both mean the same bytes.
#pragma once

#include <cstdint>

#include "avi/AviChunk.h"
#include "util/Endian.h"

namespace VEKAvi {

constexpr FourCC CodeIndx = MakeFourCC("indx");
constexpr unsigned char AVI_INDEX_OF_INDEXES = 0;
constexpr unsigned char AVI_INDEX_OF_CHUNKS = 1;

// The fixed part after the chunk header shared by both kinds of index (the
// AVIMETAINDEX head): entry size in 32-bit words, kind, entry count and the
// chunk code the entries describe.
struct OdmlIndexHead {
  std::uint16_t LongsPerEntry = 0;
  unsigned char SubType = 0;
  unsigned char Type = 0;
  std::uint32_t EntriesInUse = 0;
  FourCC ChunkId = 0;

  static OdmlIndexHead Load(const unsigned char* p) {
    return {VEK::LoadLe16(p), p[2], p[3], VEK::LoadLe32(p + 4), VEK::LoadLe32(p + 8)};
  }
  void Store(unsigned char* p) const {
    VEK::StoreLe16(p, LongsPerEntry);
    p[2] = SubType;
    p[3] = Type;
    VEK::StoreLe32(p + 4, EntriesInUse);
    VEK::StoreLe32(p + 8, ChunkId);
  }
};

// A super index after its chunk header: the head and 12 reserved bytes,
// then its entries.
struct SuperIndexHeader {
  static constexpr int Size = 24;
  OdmlIndexHead Head;

  static SuperIndexHeader Load(const unsigned char* p) { return {OdmlIndexHead::Load(p)}; }
  void Store(unsigned char* p) const { Head.Store(p); }  // the reserved bytes stay as they are (zero)
};

// One entry of a super index: where a standard index chunk is (its header,
// absolute), its size with the header, and the duration it covers.
struct SuperIndexEntry {
  static constexpr int Size = 16;
  std::uint64_t Offset = 0;
  std::uint32_t ChunkSize = 0;
  std::uint32_t Duration = 0;

  static SuperIndexEntry Load(const unsigned char* p) {
    return {VEK::LoadLe64(p), VEK::LoadLe32(p + 8), VEK::LoadLe32(p + 12)};
  }
  void Store(unsigned char* p) const {
    VEK::StoreLe64(p, Offset);
    VEK::StoreLe32(p + 8, ChunkSize);
    VEK::StoreLe32(p + 12, Duration);
  }
};

// A standard index after its chunk header: the head, the base its entries'
// offsets count from, and 4 reserved bytes; then its entries.
struct StandardIndexHeader {
  static constexpr int Size = 24;
  OdmlIndexHead Head;
  std::uint64_t BaseOffset = 0;

  static StandardIndexHeader Load(const unsigned char* p) { return {OdmlIndexHead::Load(p), VEK::LoadLe64(p + 12)}; }
  void Store(unsigned char* p) const {
    Head.Store(p);
    VEK::StoreLe64(p + 12, BaseOffset);
  }
};

// One entry of a standard index: where a chunk's data starts, from the
// index's base, and its size; bit 31 of the size marks a frame that is not
// a key frame.
struct StandardIndexEntry {
  static constexpr int Size = 8;
  static constexpr std::uint32_t NotKeyFrame = 0x80000000u;
  std::uint32_t Offset = 0;
  std::uint32_t SizeAndFlag = 0;

  std::uint32_t DataSize() const { return SizeAndFlag & ~NotKeyFrame; }
  bool KeyFrame() const { return (SizeAndFlag & NotKeyFrame) == 0; }

  static StandardIndexEntry Load(const unsigned char* p) { return {VEK::LoadLe32(p), VEK::LoadLe32(p + 4)}; }
  void Store(unsigned char* p) const {
    VEK::StoreLe32(p, Offset);
    VEK::StoreLe32(p + 4, SizeAndFlag);
  }
};

}  // namespace VEKAvi
