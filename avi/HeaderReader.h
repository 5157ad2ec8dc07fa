// Reads the 'hdrl' list of an AVI file: the main header's frame count, each
// stream's strh and strf (what the key-frame rules and the header-count
// correction need), the OpenDML super index or the JUNK reserved for it, and
// the dmlh frame count. Bounds-checked throughout: a damaged or cut header
// leaves fields at their defaults and its stream marked unreadable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "avi/AviChunk.h"
#include "avi/HeaderRecords.h"

namespace VEKAvi {

constexpr FourCC CodeVids = MakeFourCC("vids");
constexpr FourCC CodeAuds = MakeFourCC("auds");
// A stream whose format a header rebuild could not tell: players pass over
// data streams, where a wrong format would play as noise.
constexpr FourCC CodeDats = MakeFourCC("dats");

struct StreamHeader {
  FourCC Type = 0;               // strh fccType: 'vids', 'auds', 'txts', ...
  FourCC Handler = 0;            // strh fccHandler
  FourCC Compression = 0;        // video: strf BITMAPINFOHEADER biCompression
  std::int32_t Width = 0, Height = 0;  // video: biWidth, biHeight (negative for top-down RGB)
  std::uint16_t BitCount = 0;          // video: biBitCount
  std::uint16_t FormatTag = 0;   // audio: strf WAVEFORMATEX wFormatTag
  std::uint16_t BlockAlign = 0;  // audio: nBlockAlign
  std::uint32_t Scale = 0, Rate = 0, SampleSize = 0, Length = 0;  // strh fields
  std::int64_t LengthFieldPos = -1;  // absolute file position of strh dwLength
  std::int64_t IndxPos = -1;         // 'indx' chunk: absolute header position
  std::uint32_t IndxSize = 0;        //   and data size
  std::int64_t JunkPos = -1;         // JUNK chunk inside this strl (ffmpeg's reserve for indx)
  std::uint32_t JunkSize = 0;
  bool Readable = false;  // strh and strf were both read whole
  // The data of strh and strf as they stand, strf with its codec data: what
  // a new header list takes from a stream whose own header is sound, or
  // from a reference file's.
  std::vector<unsigned char> Strh, Strf;

  bool IsVideo() const { return Type == CodeVids; }
  bool IsAudio() const { return Type == CodeAuds; }
};

struct AviHeaders {
  std::int64_t FlagsPos = -1;        // avih dwFlags (AVIF_HASINDEX 0x10 and others): absolute position
  std::uint32_t Flags = 0;
  std::int64_t TotalFramesPos = -1;  // avih dwTotalFrames: absolute position
  std::uint32_t TotalFrames = 0;
  std::uint32_t StreamCount = 0;     // avih dwStreams
  std::uint32_t MicroSecPerFrame = 0;
  MainHeader Main;  // the whole avih record as read
  std::int64_t DmlhPos = -1;         // LIST odml / dmlh dwTotalFrames: absolute position
  std::uint32_t DmlhTotalFrames = 0;
  std::int64_t JunkPos = -1;  // first JUNK chunk straight in hdrl (ffmpeg's reserve for LIST odml)
  std::uint32_t JunkSize = 0;
  std::vector<StreamHeader> Streams;  // strl order: Streams[n] describes chunk ids "nn.."
};

// hdrl: the bytes of the 'LIST hdrl' chunk starting with its "LIST" header, n
// of them (may be cut short), at absolute file position `at`. Never throws
// for damaged input; damaged parts leave fields at their defaults and
// Readable false. When the walk through hdrl stops at damage, Streams is
// filled with unreadable entries up to avih's stream count, so that a stream
// number never lands on the wrong header.
AviHeaders ReadHeaders(const unsigned char* hdrl, std::size_t n, std::int64_t at);

// One 'LIST strl' on its own, from its "LIST" header, n bytes of it at
// absolute position at: what survives of a header list whose start is lost.
// Not Readable where the bytes are no whole stream list.
StreamHeader ReadStreamList(const unsigned char* strl, std::size_t n, std::int64_t at);

}  // namespace VEKAvi
