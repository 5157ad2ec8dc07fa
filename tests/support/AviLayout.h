// Where the parts of a healthy AVI file lie: the header list and its main
// header, each stream's list with its strh and strf, the movi list and the
// chunks its idx1 names. Tests read a clean film's own layout to damage
// exactly one part of it and to know which chunks the damage left whole.
#pragma once

#include <cstdint>
#include <vector>

#include "support/AviBuilder.h"

namespace ZantrelTest {

// A byte range [Begin, End) of the file; Begin -1 when the part is absent.
struct Span {
  std::int64_t Begin = -1, End = -1;
  bool Found() const { return Begin >= 0; }
  bool Overlaps(const Span& other) const { return Found() && other.Found() && Begin < other.End && other.Begin < End; }
};

struct StreamLayout {
  std::uint32_t Type = 0;     // strh fccType: 'vids', 'auds'
  std::uint32_t Handler = 0;  // strh fccHandler
  Span List;                  // the whole LIST strl, its header included
  Span Strh, StrfData;        // strh whole; strf's data without its header
};

struct LaidChunk {
  std::uint32_t Code = 0;
  std::uint32_t Flags = 0;  // idx1 flags: 0x10 a key frame
  std::uint32_t Size = 0;
  std::int64_t Position = 0;  // of the chunk header
  int Stream() const;         // from the two digits of the code; -1 when they are none
  Span Whole() const { return {Position, Position + 8 + Size + (Size & 1)}; }
};

struct AviLayout {
  Span Hdrl;      // the whole LIST hdrl, its header included
  Span AvihData;  // avih's data without its header
  Span Movi;      // the whole LIST movi
  std::vector<StreamLayout> Streams;
  std::vector<LaidChunk> Chunks;  // in idx1 order
  // The index of the first stream of that type, or -1.
  int StreamOfType(std::uint32_t type) const;
};

// Reads the layout of a file with one RIFF and an idx1. A part the file does
// not hold, or holds with a size running past its list, is left absent.
AviLayout ReadLayout(const Bytes& file);

}  // namespace ZantrelTest
