#include "avi/AviChunk.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif
#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define VEK_RESYNC_AVX2 1
#endif

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

namespace VEKAvi {

namespace {

#ifdef VEK_RESYNC_AVX2
// The same filter as below, thirty-two places at a time, where the
// processor has AVX2: the search runs over every byte of a card.
__attribute__((target("avx2"))) std::size_t FindResyncCodeAvx2(const unsigned char* p, std::size_t count,
                                                               std::size_t& i) {
  const __m256i b = _mm256_set1_epi8('b'), c = _mm256_set1_epi8('c'), one = _mm256_set1_epi8('1'),
                blank = _mm256_set1_epi8(' '), k = _mm256_set1_epi8('K');
  for (; i + 32 <= count; i += 32) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 3));
    const __m256i hits = _mm256_or_si256(
        _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, b), _mm256_cmpeq_epi8(v, c)), _mm256_cmpeq_epi8(v, one)),
        _mm256_or_si256(_mm256_cmpeq_epi8(v, blank), _mm256_cmpeq_epi8(v, k)));
    for (unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(hits)); mask != 0; mask &= mask - 1) {
      const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
      if (IsResyncCode(p + at)) return at;
    }
  }
  return count;
}

// Asked once, before main; the processor model is read first, as a static
// initialiser may run before the library's own.
const bool HaveAvx2 = [] {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
}();
#endif

}  // namespace

std::size_t FindResyncCode(const unsigned char* p, std::size_t count) {
  std::size_t i = 0;
#ifdef VEK_RESYNC_AVX2
  if (HaveAvx2) {
    const std::size_t at = FindResyncCodeAvx2(p, count, i);
    if (at < count) return at;
  }
#endif
#ifdef __SSE2__
  // Every code the search accepts ends in 'b' or 'c' (the stream kinds), '1'
  // ("idx1"), ' ' ("REC ") or 'K' ("JUNK"). Sixteen fourth bytes are compared
  // at once and only their candidates get the full test; over garbage that
  // is most of the work, and zero-filled stretches pass without a candidate.
  const __m128i b = _mm_set1_epi8('b'), c = _mm_set1_epi8('c'), one = _mm_set1_epi8('1'),
                blank = _mm_set1_epi8(' '), k = _mm_set1_epi8('K');
  for (; i + 16 <= count; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i + 3));
    const __m128i hits = _mm_or_si128(
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, b), _mm_cmpeq_epi8(v, c)), _mm_cmpeq_epi8(v, one)),
        _mm_or_si128(_mm_cmpeq_epi8(v, blank), _mm_cmpeq_epi8(v, k)));
    for (unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(hits)); mask != 0; mask &= mask - 1) {
      const std::size_t at = i + static_cast<std::size_t>(__builtin_ctz(mask));
      if (IsResyncCode(p + at)) return at;
    }
  }
#endif
  for (; i < count; ++i)
    if (IsResyncCode(p + i)) return i;
  return count;
}

}  // namespace VEKAvi
