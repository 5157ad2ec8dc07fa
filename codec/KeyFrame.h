// Whether a video chunk starts a key frame, read from the chunk's first bytes.
// One small rule per codec family (like libavcodec's parsers, each says "key
// frame or not" behind one interface), a table from the stream's four-character
// codes to its rule, and the idx1 flags that follow from the answer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "avi/HeaderReader.h"

namespace VEKCodec {

enum class Frame { Key, Delta, Unknown };

// A rule never looks further than this into a chunk: the walk hands over what
// its read-ahead already holds, and every header we need fits well inside.
constexpr std::size_t ProbeBytes = 512;

// data: the first `available` bytes of the chunk's payload (available <=
// ProbeBytes, and may be less than chunkSize). A rule reads nothing past
// data + available, allocates nothing and keeps no state between chunks.
using KeyFrameRule = Frame (*)(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);

// The rule for this stream from its strf compression code (then its strh
// handler), compared case-insensitively as real files vary; nullptr when the
// stream is not video, its header could not be read, or we cannot judge its
// codec.
KeyFrameRule RuleFor(const VEKAvi::StreamHeader& stream);

// The idx1 flags of a chunk: 0 for an empty chunk, as ffmpeg writes its empty
// video and audio chunks; for video with a rule, AVIIF_KEYFRAME for Key and
// Unknown and 0 for Delta; AVIIF_KEYFRAME otherwise. `available` is clamped to
// ProbeBytes and chunkSize here, so the walk may pass all it has.
std::uint32_t IndexFlags(KeyFrameRule rule, bool video, const unsigned char* data, std::size_t available,
                         std::uint32_t chunkSize);

// The rules, one per codec family (one file each).
Frame Mpeg4VisualFrame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);
Frame H264Frame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);
Frame HevcFrame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);
Frame MpegVideoFrame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);
Frame MsMpeg4Frame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);
Frame Wmv2Frame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);
Frame H263Frame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);
Frame SorensonFrame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);
Frame Vp8Frame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);
Frame Vp9Frame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);
Frame RangeCodedFrame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);
Frame CinepakFrame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);
Frame TheoraFrame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);
Frame ZmbvFrame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);
Frame IntraOnlyFrame(const unsigned char* data, std::size_t available, std::uint32_t chunkSize);

}  // namespace VEKCodec
