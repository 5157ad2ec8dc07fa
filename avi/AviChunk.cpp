#include "avi/AviChunk.h"

namespace VEKAvi::detail {

namespace {
constexpr StreamChunkTables BuildTables() {
  StreamChunkTables t{};
  constexpr char digits[] = "0123456789abcdefABCDEF";
  for (int a = 0; a < 22; ++a)
    for (int b = 0; b < 22; ++b)
      t.StreamNumber[static_cast<unsigned char>(digits[a]) + 256 * static_cast<unsigned char>(digits[b])] = true;
  t.ChunkType[KindUncompressedVideo] = true;
  t.ChunkType[KindCompressedVideo] = true;
  t.ChunkType[KindPalette] = true;
  t.ChunkType[KindAudio] = true;
  return t;
}
}  // namespace

// Built by the compiler, so the tables exist before any code can run the test.
constinit const StreamChunkTables streamChunkTables = BuildTables();

}  // namespace VEKAvi::detail
