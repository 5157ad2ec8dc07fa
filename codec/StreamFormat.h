// What a stream's data is, told from the first bytes of its first chunk in
// movi: the codec family and what its sequence header says (picture size,
// frame rate; sample rate, channels, bit rate). A strf header can be checked
// against it, and a new header list written from it when a file's own is lost.
// Every field is read from the data alone; the values are those ffmpeg's AVI
// muxer would write for the same stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "avi/AviChunk.h"

namespace VEKCodec {

enum class VideoFamily { Unknown, Mpeg4Visual, H264, Hevc, MpegVideo, Jpeg, Vp8, Vp9, Dv, Cinepak };

struct VideoFormat {
  VideoFamily Family = VideoFamily::Unknown;
  // The biCompression ffmpeg's AVI muxer writes for it: FMP4, H264 (avc1 for
  // length-prefixed data), HEVC (hvc1 likewise), mpg1 or mpg2, MJPG (LJPG,
  // MJLS for lossless and JPEG-LS pictures), VP80, VP90, dvsd, cvid. 0 when the
  // bytes end before the data tells (MPEG-1 from MPEG-2).
  VEKAvi::FourCC Compression = 0;
  std::int32_t Width = 0, Height = 0;      // 0: not told
  std::uint32_t RateNum = 0, RateDen = 0;  // frames per second = RateNum / RateDen, reduced; 0 when not told
  std::uint16_t BitCount = 24;             // what ffmpeg writes in biBitCount for it
  bool LengthPrefixed = false;             // H.264/HEVC NAL units with length prefixes (needs strf extra data)
};

struct AudioFormat {
  std::uint16_t FormatTag = 0;  // 0x50 MPEG layer 1/2, 0x55 MPEG layer 3, 0x2000 AC-3
  std::uint32_t SampleRate = 0;
  std::uint16_t Channels = 0;
  std::uint32_t BitRate = 0;          // bits per second
  std::uint32_t SamplesPerFrame = 0;  // 384, 1152, 576, 1536
};

// A probe never looks further than this into a chunk.
constexpr std::size_t FormatProbeBytes = 4096;

// data: the first n bytes of the chunk's payload (n may be less than
// chunkSize; bytes past FormatProbeBytes are not looked at). Reads nothing
// past data + n and allocates nothing; nullopt when nothing is recognised.
std::optional<VideoFormat> ProbeVideo(const unsigned char* data, std::size_t n, std::uint32_t chunkSize);
std::optional<AudioFormat> ProbeAudio(const unsigned char* data, std::size_t n);

// The family of a strf biCompression or strh fccHandler, compared
// case-insensitively, with the codes real files use (the key-frame rules'
// table); Unknown for anything else.
VideoFamily FamilyOf(VEKAvi::FourCC compression);

}  // namespace VEKCodec
