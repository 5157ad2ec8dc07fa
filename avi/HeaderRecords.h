// The records of the header list: the main header (avih), a stream header
// (strh) and the two stream formats (strf) a player needs, BITMAPINFOHEADER
// for video and WAVEFORMATEX for audio. One set of fields for the reader and
// for the writer of a new header list, so that both mean the same bytes.
#pragma once

#include <cstdint>

#include "avi/AviChunk.h"
#include "util/Endian.h"

namespace VEKAvi {

constexpr FourCC CodeHdrl = MakeFourCC("hdrl");
constexpr FourCC CodeStrl = MakeFourCC("strl");
constexpr FourCC CodeOdml = MakeFourCC("odml");
constexpr FourCC CodeAvih = MakeFourCC("avih");
constexpr FourCC CodeStrh = MakeFourCC("strh");
constexpr FourCC CodeStrf = MakeFourCC("strf");
constexpr FourCC CodeDmlh = MakeFourCC("dmlh");
constexpr FourCC CodeIavs = MakeFourCC("iavs");  // strh type of DV in one interleaved stream

struct MainHeader {
  std::uint32_t MicroSecPerFrame = 0;
  std::uint32_t MaxBytesPerSec = 0;
  std::uint32_t PaddingGranularity = 0;
  std::uint32_t Flags = 0;
  std::uint32_t TotalFrames = 0;
  std::uint32_t InitialFrames = 0;
  std::uint32_t Streams = 0;
  std::uint32_t SuggestedBufferSize = 0;
  std::uint32_t Width = 0, Height = 0;

  static constexpr std::uint32_t Size = 56;    // with its four reserved fields
  static constexpr std::uint32_t Needed = 28;  // what old writers all write: up to dwStreams
  static constexpr std::uint32_t FlagsAt = 12, TotalFramesAt = 16;

  // p holds at least Needed bytes, n of them.
  static MainHeader Load(const unsigned char* p, std::uint32_t n) {
    MainHeader h;
    h.MicroSecPerFrame = VEK::LoadLe32(p);
    h.MaxBytesPerSec = VEK::LoadLe32(p + 4);
    h.PaddingGranularity = VEK::LoadLe32(p + 8);
    h.Flags = VEK::LoadLe32(p + 12);
    h.TotalFrames = VEK::LoadLe32(p + 16);
    h.InitialFrames = VEK::LoadLe32(p + 20);
    h.Streams = VEK::LoadLe32(p + 24);
    if (n >= 40) {
      h.SuggestedBufferSize = VEK::LoadLe32(p + 28);
      h.Width = VEK::LoadLe32(p + 32);
      h.Height = VEK::LoadLe32(p + 36);
    }
    return h;
  }
  // Writes Size bytes.
  void Store(unsigned char* p) const {
    const std::uint32_t fields[] = {MicroSecPerFrame, MaxBytesPerSec, PaddingGranularity,  Flags, TotalFrames,
                                    InitialFrames,    Streams,        SuggestedBufferSize, Width, Height};
    for (std::uint32_t i = 0; i < 14; ++i) VEK::StoreLe32(p + 4 * i, i < 10 ? fields[i] : 0);
  }
};

constexpr std::uint32_t AVIF_HASINDEX = 0x10;
constexpr std::uint32_t AVIF_ISINTERLEAVED = 0x100;

struct StreamHeaderRecord {
  FourCC Type = 0, Handler = 0;
  std::uint32_t Flags = 0;
  std::uint16_t Priority = 0, Language = 0;
  std::uint32_t InitialFrames = 0;
  std::uint32_t Scale = 0, Rate = 0;
  std::uint32_t Start = 0, Length = 0;
  std::uint32_t SuggestedBufferSize = 0;
  std::uint32_t Quality = 0;
  std::uint32_t SampleSize = 0;
  std::int16_t Frame[4] = {};  // rcFrame: left, top, right, bottom

  static constexpr std::uint32_t Size = 56;
  static constexpr std::uint32_t Needed = 48;  // old writers leave out rcFrame
  static constexpr std::uint32_t LengthAt = 32;

  // p holds at least Needed bytes, n of them.
  static StreamHeaderRecord Load(const unsigned char* p, std::uint32_t n) {
    StreamHeaderRecord h;
    h.Type = VEK::LoadLe32(p);
    h.Handler = VEK::LoadLe32(p + 4);
    h.Flags = VEK::LoadLe32(p + 8);
    h.Priority = VEK::LoadLe16(p + 12);
    h.Language = VEK::LoadLe16(p + 14);
    h.InitialFrames = VEK::LoadLe32(p + 16);
    h.Scale = VEK::LoadLe32(p + 20);
    h.Rate = VEK::LoadLe32(p + 24);
    h.Start = VEK::LoadLe32(p + 28);
    h.Length = VEK::LoadLe32(p + 32);
    h.SuggestedBufferSize = VEK::LoadLe32(p + 36);
    h.Quality = VEK::LoadLe32(p + 40);
    h.SampleSize = VEK::LoadLe32(p + 44);
    if (n >= Size)
      for (int i = 0; i < 4; ++i) h.Frame[i] = static_cast<std::int16_t>(VEK::LoadLe16(p + 48 + 2 * i));
    return h;
  }
  void Store(unsigned char* p) const {
    VEK::StoreLe32(p, Type);
    VEK::StoreLe32(p + 4, Handler);
    VEK::StoreLe32(p + 8, Flags);
    VEK::StoreLe16(p + 12, Priority);
    VEK::StoreLe16(p + 14, Language);
    const std::uint32_t rest[] = {InitialFrames, Scale, Rate, Start, Length, SuggestedBufferSize, Quality, SampleSize};
    for (int i = 0; i < 8; ++i) VEK::StoreLe32(p + 16 + 4 * i, rest[i]);
    for (int i = 0; i < 4; ++i) VEK::StoreLe16(p + 48 + 2 * i, static_cast<std::uint16_t>(Frame[i]));
  }
};

struct BitmapInfoHeader {
  std::int32_t Width = 0, Height = 0;  // a negative height: top-down RGB
  std::uint16_t Planes = 1, BitCount = 0;
  FourCC Compression = 0;
  std::uint32_t SizeImage = 0;

  static constexpr std::uint32_t Size = 40;

  static BitmapInfoHeader Load(const unsigned char* p) {
    BitmapInfoHeader h;
    h.Width = static_cast<std::int32_t>(VEK::LoadLe32(p + 4));
    h.Height = static_cast<std::int32_t>(VEK::LoadLe32(p + 8));
    h.Planes = VEK::LoadLe16(p + 12);
    h.BitCount = VEK::LoadLe16(p + 14);
    h.Compression = VEK::LoadLe32(p + 16);
    h.SizeImage = VEK::LoadLe32(p + 20);
    return h;
  }
  // Writes Size bytes; biSize counts them and what extra data follows.
  void Store(unsigned char* p, std::uint32_t extraBytes = 0) const {
    VEK::StoreLe32(p, Size + extraBytes);
    VEK::StoreLe32(p + 4, static_cast<std::uint32_t>(Width));
    VEK::StoreLe32(p + 8, static_cast<std::uint32_t>(Height));
    VEK::StoreLe16(p + 12, Planes);
    VEK::StoreLe16(p + 14, BitCount);
    VEK::StoreLe32(p + 16, Compression);
    VEK::StoreLe32(p + 20, SizeImage);
    for (int at = 24; at < 40; at += 4) VEK::StoreLe32(p + at, 0);
  }
};

struct WaveFormatEx {
  std::uint16_t FormatTag = 0, Channels = 0;
  std::uint32_t SamplesPerSec = 0, AvgBytesPerSec = 0;
  std::uint16_t BlockAlign = 0, BitsPerSample = 0;

  static constexpr std::uint32_t Size = 18;    // with cbSize
  static constexpr std::uint32_t Needed = 14;  // WAVEFORMAT, without wBitsPerSample
  static constexpr std::uint16_t TagPcm = 0x0001, TagMpeg = 0x0050, TagMp3 = 0x0055, TagAac = 0x00FF, TagAc3 = 0x2000;

  // p holds at least Needed bytes, n of them.
  static WaveFormatEx Load(const unsigned char* p, std::uint32_t n) {
    WaveFormatEx f;
    f.FormatTag = VEK::LoadLe16(p);
    f.Channels = VEK::LoadLe16(p + 2);
    f.SamplesPerSec = VEK::LoadLe32(p + 4);
    f.AvgBytesPerSec = VEK::LoadLe32(p + 8);
    f.BlockAlign = VEK::LoadLe16(p + 12);
    if (n >= 16) f.BitsPerSample = VEK::LoadLe16(p + 14);
    return f;
  }
  // Writes Size bytes; cbSize counts the extra data that follows.
  void Store(unsigned char* p, std::uint16_t extraBytes = 0) const {
    VEK::StoreLe16(p, FormatTag);
    VEK::StoreLe16(p + 2, Channels);
    VEK::StoreLe32(p + 4, SamplesPerSec);
    VEK::StoreLe32(p + 8, AvgBytesPerSec);
    VEK::StoreLe16(p + 12, BlockAlign);
    VEK::StoreLe16(p + 14, BitsPerSample);
    VEK::StoreLe16(p + 16, extraBytes);
  }
};

}  // namespace VEKAvi
