// The AVI vocabulary: four-character codes, RIFF chunk and list headers, the
// 16-byte idx1 entry, the index flags and the stream-chunk test.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/Endian.h"

namespace VEKAvi {

// A four-character code as the 32-bit little-endian value of its bytes: the
// first character is the least significant byte. Compared as raw bytes.
using FourCC = std::uint32_t;

constexpr FourCC MakeFourCC(const char (&s)[5]) {
  return static_cast<FourCC>(static_cast<unsigned char>(s[0])) |
         (static_cast<FourCC>(static_cast<unsigned char>(s[1])) << 8) |
         (static_cast<FourCC>(static_cast<unsigned char>(s[2])) << 16) |
         (static_cast<FourCC>(static_cast<unsigned char>(s[3])) << 24);
}

constexpr FourCC CodeRiff = MakeFourCC("RIFF");
constexpr FourCC CodeAvi = MakeFourCC("AVI ");
constexpr FourCC CodeList = MakeFourCC("LIST");
constexpr FourCC CodeMovi = MakeFourCC("movi");
constexpr FourCC CodeIdx1 = MakeFourCC("idx1");
constexpr FourCC CodeJunk = MakeFourCC("JUNK");
constexpr FourCC CodeRecList = MakeFourCC("rec ");  // list type; not accepted inside movi
constexpr FourCC CodeRec = MakeFourCC("REC ");      // chunk code; skipped inside movi
constexpr FourCC CodeAvix = MakeFourCC("AVIX");     // form type of the RIFFs after the first (OpenDML)

static_assert(CodeRiff == 0x46464952 && CodeAvi == 0x20495641 && CodeList == 0x5453494c &&
              CodeMovi == 0x69766f6d && CodeIdx1 == 0x31786469 && CodeJunk == 0x4b4e554a &&
              CodeRecList == 0x20636572 && CodeRec == 0x20434552);

// Kinds of stream data, the 16-bit value of characters 3-4 of a chunk code.
constexpr std::uint16_t KindUncompressedVideo = 0x6264;  // "db"
constexpr std::uint16_t KindCompressedVideo = 0x6364;    // "dc"
constexpr std::uint16_t KindPalette = 0x6370;            // "pc"
constexpr std::uint16_t KindAudio = 0x6277;              // "wb"

constexpr std::uint16_t ChunkKind(FourCC code) { return static_cast<std::uint16_t>(code >> 16); }
constexpr bool IsVideoKind(FourCC code) {
  return ChunkKind(code) == KindCompressedVideo || ChunkKind(code) == KindUncompressedVideo;
}

constexpr int HexDigit(unsigned c) {
  return c >= '0' && c <= '9' ? static_cast<int>(c - '0')
         : c >= 'a' && c <= 'f' ? static_cast<int>(c - 'a' + 10)
         : c >= 'A' && c <= 'F' ? static_cast<int>(c - 'A' + 10)
                                : -1;
}

// How a file's chunk codes spell the numbers of its streams (the strl lists
// in order). Video for Windows reads the two leading characters as
// hexadecimal ("0a" is stream 10, "10" stream 16); ffmpeg and mplayer write
// and read them as decimal ("10" is stream 10) and take a letter for no
// stream. The two agree on 00-09, so they part only past ten streams, and
// each file is read by the one its chunks use (see DecideNumbering).
enum class StreamNumbering : std::uint8_t { Decimal, Hexadecimal };

// The stream a chunk code "nn.." belongs to under the file's numbering; -1
// when its two leading characters are not digits of it.
constexpr int StreamNumber(FourCC code, StreamNumbering numbering) {
  const int high = HexDigit(code & 0xFF), low = HexDigit((code >> 8) & 0xFF);
  if (high < 0 || low < 0) return -1;
  if (numbering == StreamNumbering::Hexadecimal) return high * 16 + low;
  return high > 9 || low > 9 ? -1 : high * 10 + low;
}

// True when the code names the same stream under both numberings (00-09),
// or none under either.
constexpr bool NumberedAlike(FourCC code) {
  return StreamNumber(code, StreamNumbering::Decimal) == StreamNumber(code, StreamNumbering::Hexadecimal);
}

// Index flags.
constexpr std::uint32_t AVIIF_LIST = 0x00000001;
constexpr std::uint32_t AVIIF_KEYFRAME = 0x00000010;
constexpr std::uint32_t AVIIF_FIRSTPART = 0x00000020;
constexpr std::uint32_t AVIIF_LASTPART = 0x00000040;
constexpr std::uint32_t AVIIF_NOTIME = 0x00000100;
constexpr std::uint32_t AVIIF_COMPUSE = 0x0FFF0000;

// The largest value a 32-bit size or count field holds.
constexpr std::uint32_t MaxField = 0xFFFFFFFFu;

// 8 bytes: code and the count of data bytes after the header (pad excluded).
struct ChunkHeader {
  static constexpr int Size = 8;
  static constexpr int SizeField = 4;  // where DataSize lies from the header's start
  FourCC Code = 0;
  std::uint32_t DataSize = 0;

  static ChunkHeader Load(const unsigned char* p) { return {VEK::LoadLe32(p), VEK::LoadLe32(p + SizeField)}; }
  void Store(unsigned char* p) const {
    VEK::StoreLe32(p, Code);
    StoreSize(p, DataSize);
  }
  // Writes the size field alone of the header at p.
  static void StoreSize(unsigned char* p, std::uint32_t dataSize) { VEK::StoreLe32(p + SizeField, dataSize); }
  // What the size field of a chunk or list with its header at start says
  // when its data ends at end (pad excluded); one writing it checks that it
  // fits (MaxField).
  static constexpr std::int64_t SizeFor(std::int64_t start, std::int64_t end) { return end - start - Size; }
};

// 12 bytes: a "RIFF" or "LIST" chunk header followed by its list type.
struct ListHeader {
  static constexpr int Size = 12;
  static constexpr int SizeField = ChunkHeader::SizeField;
  static constexpr int TypeField = ChunkHeader::Size;  // where ListType lies
  ChunkHeader Chunk;
  FourCC ListType = 0;

  static ListHeader Load(const unsigned char* p) { return {ChunkHeader::Load(p), VEK::LoadLe32(p + TypeField)}; }
  void Store(unsigned char* p) const {
    Chunk.Store(p);
    VEK::StoreLe32(p + TypeField, ListType);
  }
  // True when the twelve bytes at p open a list or RIFF of that code and
  // type, whatever its size field says.
  static bool Is(const unsigned char* p, FourCC code, FourCC type) {
    return VEK::LoadLe32(p) == code && VEK::LoadLe32(p + TypeField) == type;
  }
};

// One entry of an idx1 index (the AVI standard's AVIINDEXENTRY).
struct Idx1Entry {
  static constexpr int Size = 16;
  FourCC ChunkId = 0;
  std::uint32_t Flags = 0;
  std::uint32_t Offset = 0;  // chunk header position minus the position of "movi"
  std::uint32_t ChunkSize = 0;

  static Idx1Entry Load(const unsigned char* p) {
    return {VEK::LoadLe32(p), VEK::LoadLe32(p + 4), VEK::LoadLe32(p + 8), VEK::LoadLe32(p + 12)};
  }
  void Store(unsigned char* p) const {
    VEK::StoreLe32(p, ChunkId);
    VEK::StoreLe32(p + 4, Flags);
    VEK::StoreLe32(p + 8, Offset);
    VEK::StoreLe32(p + 12, ChunkSize);
  }
};

namespace detail {
struct StreamChunkTables {
  bool StreamNumber[65536];
  bool ChunkType[65536];
};
extern const StreamChunkTables streamChunkTables;
}  // namespace detail

// True when the four bytes at p (any alignment) are a stream data chunk code:
// two hexadecimal digits in either case, then "db", "dc", "pc" or "wb". Two
// table loads, no branching on character classes: it runs at every byte of a
// resynchronisation search.
inline bool IsStreamChunkId(const unsigned char* p) {
  return detail::streamChunkTables.ChunkType[VEK::LoadLe16(p + 2)] &
         detail::streamChunkTables.StreamNumber[VEK::LoadLe16(p)];
}

// A code the resynchronisation search stops at: a stream chunk id, "idx1",
// "REC " or "JUNK".
inline bool IsResyncCode(const unsigned char* p) {
  const FourCC code = VEK::LoadLe32(p);
  return IsStreamChunkId(p) || code == CodeIdx1 || code == CodeRec || code == CodeJunk;
}

// True for the code of an OpenDML standard index chunk: "ix" and two
// hexadecimal digits, or the digits first ("00ix"), as some writers have it.
inline bool IsIndexChunkId(const unsigned char* p) {
  const auto hex = [](unsigned char c) { return HexDigit(c) >= 0; };
  return (p[0] == 'i' && p[1] == 'x' && hex(p[2]) && hex(p[3])) ||
         (hex(p[0]) && hex(p[1]) && p[2] == 'i' && p[3] == 'x');
}

// True when the four bytes at p are something a walk may meet right after a
// chunk: a stream chunk, a filler, an index, a list or the next RIFF.
inline bool IsFollowCode(const unsigned char* p) {
  const FourCC code = VEK::LoadLe32(p);
  return IsResyncCode(p) || code == CodeList || code == CodeRiff || IsIndexChunkId(p);
}

// The first offset i below count where IsResyncCode(p + i) holds, or count
// when there is none. The bytes p[0, count + 3) must be readable.
std::size_t FindResyncCode(const unsigned char* p, std::size_t count);

}  // namespace VEKAvi
