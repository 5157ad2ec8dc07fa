// Tells a stream's codec and sequence header from the first bytes of its
// first chunk. Each family is recognised by what its writers put in front of
// the first picture or audio frame (a DIF header block, a JPEG SOI, a VP8 or
// VP9 key frame, a Cinepak frame header and its first strip, the sequence
// header or parameter sets after a start code or a NAL length prefix, an MPEG
// audio or AC-3 frame header) and read as
// libavcodec reads it, so that the answer is what ffmpeg would say of the
// same data. Every size, count and length in the bytes is damage until it
// parses whole; the parsers give up rather than guess.
#include "codec/StreamFormat.h"

#include <algorithm>
#include <iterator>
#include <numeric>

#include "codec/BitReader.h"
#include "codec/Rbsp.h"
#include "codec/StartCode.h"

namespace VEKCodec {

namespace {

using VEKAvi::MakeFourCC;

// Larger pictures than this are damage: no AVI writer produces them.
constexpr std::uint64_t MaxSide = 16384;

std::uint32_t LoadBe16(const unsigned char* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }
std::uint32_t LoadBe32(const unsigned char* p) { return (LoadBe16(p) << 16) | LoadBe16(p + 2); }

VideoFormat Format(VideoFamily family, const char (&compression)[5]) {
  VideoFormat f;
  f.Family = family;
  f.Compression = MakeFourCC(compression);
  return f;
}

// The rate as a reduced fraction; left untold when either term is 0 or the
// fraction does not fit.
void SetRate(VideoFormat& f, std::uint64_t num, std::uint64_t den) {
  if (num == 0 || den == 0) return;
  const std::uint64_t g = std::gcd(num, den);
  num /= g;
  den /= g;
  if (num > UINT32_MAX || den > UINT32_MAX) return;
  f.RateNum = static_cast<std::uint32_t>(num);
  f.RateDen = static_cast<std::uint32_t>(den);
}

// ---- DV -------------------------------------------------------------------

// ffmpeg's DV profiles: the system from the DSF bit of the header DIF block,
// the kind of signal from the source pack of the first VAUX block, and the
// frame size each implies. An AVI chunk holds one frame.
struct DvProfile {
  unsigned Dsf;    // 0 525/60, 1 625/50
  unsigned Stype;  // VAUX source type
  std::uint32_t FrameSize;
  std::int32_t Width, Height;
  std::uint32_t RateNum, RateDen;
};
constexpr DvProfile DvProfiles[] = {
    {0, 0x00, 120000, 720, 480, 30000, 1001}, {1, 0x00, 144000, 720, 576, 25, 1},
    {1, 0x01, 144000, 720, 576, 25, 1},       {0, 0x04, 240000, 720, 480, 30000, 1001},    // DVCPRO50
    {1, 0x04, 288000, 720, 576, 25, 1},       {0, 0x14, 480000, 1280, 1080, 30000, 1001},  // DVCPRO HD
    {1, 0x14, 576000, 1440, 1080, 25, 1},     {0, 0x18, 240000, 960, 720, 60000, 1001},
    {1, 0x18, 288000, 960, 720, 50, 1},
};
constexpr std::size_t DvStypeAt = 80 * 5 + 48 + 3;

std::optional<VideoFormat> ProbeDv(const unsigned char* data, std::size_t n, std::uint32_t chunkSize) {
  // The header DIF block of sequence 0: section type 0, sequence 0, block 0,
  // then the DSF bit and reserved ones, as ffmpeg's raw DV probe expects.
  if (n < 4 || (LoadBe32(data) & 0xFFFFFF7F) != 0x1F07003F) return std::nullopt;
  const unsigned dsf = data[3] >> 7;
  const int stype = n > DvStypeAt ? data[DvStypeAt] & 0x1F : -1;
  const DvProfile* match = nullptr;
  bool sameGeometry = true;
  for (const DvProfile& p : DvProfiles) {
    if (p.Dsf != dsf || p.FrameSize != chunkSize) continue;
    if (static_cast<int>(p.Stype) == stype) {
      match = &p;
      sameGeometry = true;
      break;
    }
    // Without a known source type, the system and the frame size must name
    // one picture geometry (they do for DV25 in either system).
    if (match != nullptr && (match->Width != p.Width || match->Height != p.Height || match->RateNum != p.RateNum))
      sameGeometry = false;
    if (match == nullptr) match = &p;
  }
  if (match == nullptr || !sameGeometry) return std::nullopt;
  VideoFormat f = Format(VideoFamily::Dv, "dvsd");
  f.Width = match->Width;
  f.Height = match->Height;
  SetRate(f, match->RateNum, match->RateDen);
  return f;
}

// ---- JPEG -----------------------------------------------------------------

std::optional<VideoFormat> ProbeJpeg(const unsigned char* data, std::size_t n) {
  if (n < 4 || data[0] != 0xFF || data[1] != 0xD8) return std::nullopt;
  std::size_t at = 2;
  while (n - at >= 4) {
    if (data[at] != 0xFF) return std::nullopt;
    const unsigned marker = data[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {  // markers without a segment
      at += 2;
      continue;
    }
    // A scan or the end before a frame header: not a picture we can read.
    if (marker == 0xDA || marker == 0xD9 || marker == 0xD8) return std::nullopt;
    const std::uint32_t length = LoadBe16(data + at + 2);
    if (length < 2) return std::nullopt;
    VEKAvi::FourCC compression = 0;
    if (marker >= 0xC0 && marker <= 0xC2) compression = MakeFourCC("MJPG");
    if (marker == 0xC3) compression = MakeFourCC("LJPG");  // lossless
    if (marker == 0xF7) compression = MakeFourCC("MJLS");  // JPEG-LS
    if (compression != 0) {
      // precision (1), height (2), width (2), components (1)
      if (length < 8 || n - at < 10) return std::nullopt;
      VideoFormat f;
      f.Family = VideoFamily::Jpeg;
      f.Compression = compression;
      f.Height = static_cast<std::int32_t>(LoadBe16(data + at + 5));
      f.Width = static_cast<std::int32_t>(LoadBe16(data + at + 7));
      if (f.Width == 0) return std::nullopt;
      return f;  // a height of 0 is told later in the scan (DNL): left untold
    }
    // Hierarchical and arithmetic-coded frames: not what AVI writers use.
    if ((marker & 0xF0) == 0xC0 && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) return std::nullopt;
    at += 2 + length;  // APPn, DQT, DHT, DRI, COM and the rest, by their lengths
    if (at > n) return std::nullopt;
  }
  return std::nullopt;
}

// ---- VP8 and VP9 ----------------------------------------------------------

std::optional<VideoFormat> ProbeVp8(const unsigned char* data, std::size_t n, std::uint32_t chunkSize) {
  // A key frame: the 3-byte frame tag with bit 0 clear, the start code
  // 9d 01 2a, then 14-bit width and height each with 2 bits of scaling.
  if (n < 10 || (data[0] & 1) != 0 || data[3] != 0x9D || data[4] != 0x01 || data[5] != 0x2A) return std::nullopt;
  if (((data[0] >> 1) & 7) > 3) return std::nullopt;  // version
  const std::uint32_t firstPartition = (data[0] | (std::uint32_t{data[1]} << 8) | (std::uint32_t{data[2]} << 16)) >> 5;
  if (firstPartition > chunkSize - 10) return std::nullopt;
  VideoFormat f = Format(VideoFamily::Vp8, "VP80");
  f.Width = (data[6] | (data[7] << 8)) & 0x3FFF;
  f.Height = (data[8] | (data[9] << 8)) & 0x3FFF;
  if (f.Width == 0 || f.Height == 0) return std::nullopt;
  return f;
}

std::optional<VideoFormat> ProbeVp9(const unsigned char* data, std::size_t n) {
  BitReader r(data, n);
  if (r.Bits(2) != 2) return std::nullopt;  // frame_marker
  unsigned profile = r.Bits(1);
  profile |= r.Bits(1) << 1;
  if (profile == 3 && r.Bit()) return std::nullopt;  // reserved zero
  if (r.Bit()) return std::nullopt;                  // show_existing_frame: a repeat, no header
  if (r.Bit()) return std::nullopt;                  // not a key frame
  r.Skip(2);                                         // show_frame, error_resilient_mode
  if (r.Bits(24) != 0x498342) return std::nullopt;   // frame_sync_code
  if (profile >= 2) r.Skip(1);                       // ten_or_twelve_bit
  if (r.Bits(3) != 7) {                              // colour space other than RGB
    r.Skip(1);                                       // colour range
    if ((profile & 1) != 0) {
      r.Skip(2);  // subsampling
      if (r.Bit()) return std::nullopt;
    }
  } else {
    if ((profile & 1) == 0 || r.Bit()) return std::nullopt;  // RGB needs profile 1 or 3
  }
  VideoFormat f = Format(VideoFamily::Vp9, "VP90");
  f.Width = static_cast<std::int32_t>(r.Bits(16) + 1);
  f.Height = static_cast<std::int32_t>(r.Bits(16) + 1);
  if (!r.Ok()) return std::nullopt;
  return f;
}

// ---- Cinepak --------------------------------------------------------------

// A frame: flags (1), its length (3), width (2), height (2), strip count (2);
// then each strip: its id (0x10 intra, 0x11 inter), its length with its
// 12-byte header (3) and its rectangle (4 x 2); in a strip, chunks: an id
// (0x20 to 0x25 codebooks, 0x30 to 0x32 vectors) and a length with its 4-byte
// header (3). All big-endian. The frame's length is the chunk's, and the
// strips and chunks seen must fit in it: a chance match of a few bytes of
// other data does not get that far.
constexpr std::uint32_t CinepakMaxStrips = 32;  // libavcodec's bound

std::uint32_t LoadBe24(const unsigned char* p) { return (std::uint32_t{p[0]} << 16) | LoadBe16(p + 1); }

std::optional<VideoFormat> ProbeCinepak(const unsigned char* data, std::size_t n, std::uint32_t chunkSize) {
  constexpr std::size_t FrameHeader = 10, StripHeader = 12, ChunkHeader = 4;
  if (n < FrameHeader + StripHeader + ChunkHeader || data[0] > 1) return std::nullopt;
  const std::uint32_t length = LoadBe24(data + 1), strips = LoadBe16(data + 8);
  const std::uint32_t width = LoadBe16(data + 4), height = LoadBe16(data + 6);
  if (length != chunkSize || strips == 0 || strips > CinepakMaxStrips || width == 0 || height == 0 ||
      width > MaxSide || height > MaxSide || length < FrameHeader + strips * StripHeader)
    return std::nullopt;
  std::size_t at = FrameHeader;
  for (std::uint32_t i = 0; i < strips; ++i) {
    if (n - at < StripHeader) break;  // the strips further on lie past the bytes we have
    const std::uint32_t stripLength = LoadBe24(data + at + 1);
    if ((data[at] != 0x10 && data[at] != 0x11) || stripLength < StripHeader || stripLength > length - at)
      return std::nullopt;
    if (stripLength > StripHeader && n - at >= StripHeader + ChunkHeader) {
      const unsigned id = data[at + StripHeader];
      const std::uint32_t chunkLength = LoadBe24(data + at + StripHeader + 1);
      if (!((id >= 0x20 && id <= 0x25) || (id >= 0x30 && id <= 0x32)) || chunkLength < ChunkHeader ||
          chunkLength > stripLength - StripHeader)
        return std::nullopt;
    }
    at += stripLength;
    if (i + 1 == strips && at != length) return std::nullopt;  // the strips fill the frame
    if (at >= n) break;
  }
  VideoFormat f = Format(VideoFamily::Cinepak, "cvid");
  f.Width = static_cast<std::int32_t>(width);
  f.Height = static_cast<std::int32_t>(height);
  return f;
}

// ---- MPEG-1 and MPEG-2 video ----------------------------------------------

// frame_rate_code; 9 to 13 are the unofficial rates ffmpeg also reads.
constexpr std::uint32_t MpegRates[16][2] = {{0, 0},  {24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1},
                                            {50, 1}, {60000, 1001}, {60, 1}, {15, 1}, {5, 1},        {10, 1},
                                            {12, 1}, {15, 1},       {0, 0},  {0, 0}};

// at: just past the sequence header start code 00 00 01 b3.
std::optional<VideoFormat> ParseMpegSequence(const unsigned char* data, std::size_t n, std::size_t at) {
  BitReader r(data + at, n - at);
  std::uint32_t width = r.Bits(12), height = r.Bits(12);
  const std::uint32_t aspect = r.Bits(4), rateCode = r.Bits(4);
  r.Skip(18);  // bit_rate_value
  r.Marker();
  r.Skip(11);  // vbv_buffer_size_value, constrained_parameters_flag
  std::size_t bytes = 8;
  for (int matrix = 0; matrix < 2; ++matrix)
    if (r.Bit()) {
      r.Skip(64 * 8);
      bytes += 64;
    }
  if (!r.Ok() || width == 0 || height == 0 || aspect == 0) return std::nullopt;
  std::uint64_t rateNum = MpegRates[rateCode][0], rateDen = MpegRates[rateCode][1];

  // MPEG-2 puts a sequence extension straight after the header; MPEG-1 puts
  // anything else, or nothing, there.
  VideoFormat f = Format(VideoFamily::MpegVideo, "mpg1");
  const std::size_t next = NextStartCode(data, n, at + bytes);
  if (next == 0 || next + 1 >= n) {
    f.Compression = 0;  // the bytes end before they tell
  } else if (data[next] == 0xB5 && (data[next + 1] >> 4) == 1) {
    BitReader e(data + next + 1, n - next - 1);
    e.Skip(4 + 8 + 1 + 2);  // extension id, profile and level, progressive_sequence, chroma_format
    width |= e.Bits(2) << 12;
    height |= e.Bits(2) << 12;
    e.Skip(12);  // bit_rate_extension
    e.Marker();
    e.Skip(8 + 1);  // vbv_buffer_size_extension, low_delay
    const std::uint32_t extN = e.Bits(2), extD = e.Bits(5);
    if (!e.Ok()) return std::nullopt;
    rateNum *= extN + 1;
    rateDen *= extD + 1;
    f.Compression = MakeFourCC("mpg2");
  }
  f.Width = static_cast<std::int32_t>(width);
  f.Height = static_cast<std::int32_t>(height);
  SetRate(f, rateNum, rateDen);
  return f;
}

// ---- MPEG-4 Visual --------------------------------------------------------

// at: just past a video_object_layer start code 00 00 01 2x. Read as
// libavcodec's decode_vol_header reads it, up to the picture size.
std::optional<VideoFormat> ParseVol(const unsigned char* data, std::size_t n, std::size_t at) {
  BitReader r(data + at, n - at);
  r.Skip(1);  // random_accessible_vol
  const std::uint32_t objectType = r.Bits(8);
  if (objectType == 0x0E || objectType == 0x0F) return std::nullopt;  // studio profiles: another header
  std::uint32_t verid = 1;
  if (r.Bit()) {
    verid = r.Bits(4);
    r.Skip(3);  // priority
  }
  if (r.Bits(4) == 15) r.Skip(16);  // extended pixel aspect ratio
  if (r.Bit()) {                    // vol_control_parameters
    r.Skip(3);                      // chroma_format, low_delay
    if (r.Bit()) {                  // vbv_parameters
      for (const int bits : {15, 15, 15}) {
        r.Skip(bits);
        r.Marker();
      }
      r.Skip(3 + 11);
      r.Marker();
      r.Skip(15);
      r.Marker();
    }
  }
  const std::uint32_t shape = r.Bits(2);
  if (shape == 3 && verid != 1) r.Skip(4);  // grayscale shape extension
  r.Marker();
  const std::uint32_t resolution = r.Bits(16);
  r.Marker();
  if (!r.Ok() || resolution == 0) return std::nullopt;
  int incrementBits = 1;
  while ((std::uint32_t{1} << incrementBits) < resolution) ++incrementBits;
  // Without a fixed rate, one tick a frame: ffmpeg's encoder writes its time
  // base as the resolution, which is the frame rate but for the rates of
  // 1001 ticks a frame (a resolution of 24000, 30000 or 60000).
  std::uint32_t increment = resolution == 24000 || resolution == 30000 || resolution == 60000 ? 1001 : 1;
  if (r.Bit()) increment = r.Bits(incrementBits);
  VideoFormat f = Format(VideoFamily::Mpeg4Visual, "FMP4");
  if (shape == 0) {  // rectangular
    r.Marker();
    const std::uint32_t width = r.Bits(13);
    r.Marker();
    const std::uint32_t height = r.Bits(13);
    r.Marker();
    if (!r.Ok() || width == 0 || height == 0) return std::nullopt;
    f.Width = static_cast<std::int32_t>(width);
    f.Height = static_cast<std::int32_t>(height);
  }
  if (!r.Ok()) return std::nullopt;
  SetRate(f, resolution, increment);
  return f;
}

// ---- H.264 ----------------------------------------------------------------

// The profiles whose SPS carries chroma format, bit depths and scaling
// matrices, then the others libavcodec knows.
constexpr unsigned H264HighProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135, 144};
constexpr unsigned H264PlainProfiles[] = {66, 77, 88};

bool Contains(const unsigned* begin, const unsigned* end, unsigned value) {
  return std::find(begin, end, value) != end;
}

void SkipH264ScalingList(BitReader& r, int size) {
  std::int64_t last = 8, next = 8;
  for (int j = 0; j < size && r.Ok(); ++j) {
    if (next != 0) {
      const std::int64_t delta = r.Se();
      if (delta < -128 || delta > 127) r.Fail();
      next = ((last + delta) % 256 + 256) % 256;
    }
    if (next != 0) last = next;
  }
}

void ReadH264Timing(BitReader& r, VideoFormat& f) {
  if (r.Bit() && r.Bits(8) == 255) r.Skip(32);  // aspect_ratio_idc, Extended_SAR
  if (r.Bit()) r.Skip(1);                       // overscan
  if (r.Bit()) {                                // video signal type
    r.Skip(4);
    if (r.Bit()) r.Skip(24);  // colour description
  }
  if (r.Bit()) {  // chroma sample location
    r.Ue();
    r.Ue();
  }
  if (!r.Bit()) return;  // timing_info_present_flag
  const std::uint32_t units = r.Bits(32), scale = r.Bits(32);
  // Two ticks a frame: a tick is a field.
  if (r.Ok()) SetRate(f, scale, 2 * std::uint64_t{units});
}

// rbsp: the SPS after its NAL header byte.
std::optional<VideoFormat> ParseH264Sps(const unsigned char* rbsp, std::size_t size) {
  BitReader r(rbsp, size);
  const unsigned profile = r.Bits(8);
  r.Skip(16);  // constraint flags, level_idc
  const bool high = Contains(std::begin(H264HighProfiles), std::end(H264HighProfiles), profile);
  if (!high && !Contains(std::begin(H264PlainProfiles), std::end(H264PlainProfiles), profile)) return std::nullopt;
  if (r.Ue() > 31) return std::nullopt;  // seq_parameter_set_id
  std::uint32_t chroma = 1;
  bool separatePlanes = false;
  if (high) {
    chroma = r.Ue();
    if (chroma > 3) return std::nullopt;
    if (chroma == 3) separatePlanes = r.Bit();
    if (r.Ue() > 6 || r.Ue() > 6) return std::nullopt;  // bit depths beyond 14
    r.Skip(1);                                          // qpprime_y_zero_transform_bypass_flag
    if (r.Bit()) {
      const int lists = chroma != 3 ? 8 : 12;
      for (int i = 0; i < lists && r.Ok(); ++i)
        if (r.Bit()) SkipH264ScalingList(r, i < 6 ? 16 : 64);
    }
  }
  if (r.Ue() > 12) return std::nullopt;  // log2_max_frame_num_minus4
  const std::uint32_t pocType = r.Ue();
  if (pocType == 0) {
    if (r.Ue() > 12) return std::nullopt;
  } else if (pocType == 1) {
    r.Skip(1);
    r.Se();
    r.Se();
    const std::uint32_t cycle = r.Ue();
    if (cycle > 255) return std::nullopt;
    for (std::uint32_t i = 0; i < cycle && r.Ok(); ++i) r.Se();
  } else if (pocType != 2) {
    return std::nullopt;
  }
  if (r.Ue() > 16) return std::nullopt;  // max_num_ref_frames
  r.Skip(1);                             // gaps_in_frame_num_value_allowed_flag
  const std::uint64_t widthMbs = std::uint64_t{r.Ue()} + 1, heightUnits = std::uint64_t{r.Ue()} + 1;
  const bool frameMbsOnly = r.Bit();
  if (!frameMbsOnly) r.Skip(1);  // mb_adaptive_frame_field_flag
  r.Skip(1);                     // direct_8x8_inference_flag
  std::uint64_t left = 0, right = 0, top = 0, bottom = 0;
  if (r.Bit()) {
    left = r.Ue();
    right = r.Ue();
    top = r.Ue();
    bottom = r.Ue();
  }
  if (!r.Ok()) return std::nullopt;
  const std::uint64_t width = widthMbs * 16, height = heightUnits * 16 * (frameMbsOnly ? 1 : 2);
  if (width > MaxSide || height > MaxSide) return std::nullopt;
  const unsigned arrayType = separatePlanes ? 0 : chroma;
  const std::uint64_t unitX = arrayType == 1 || arrayType == 2 ? 2 : 1;
  const std::uint64_t unitY = (arrayType == 1 ? 2 : 1) * (frameMbsOnly ? 1 : 2);
  VideoFormat f = Format(VideoFamily::H264, "H264");
  f.Width = static_cast<std::int32_t>(width);
  f.Height = static_cast<std::int32_t>(height);
  // A window larger than the picture is ignored, as libavcodec does.
  if ((left + right) * unitX < width && (top + bottom) * unitY < height) {
    f.Width -= static_cast<std::int32_t>((left + right) * unitX);
    f.Height -= static_cast<std::int32_t>((top + bottom) * unitY);
  }
  if (r.Bit()) ReadH264Timing(r, f);  // vui_parameters_present_flag
  return f;
}

// ---- HEVC -----------------------------------------------------------------

void SkipHevcProfileTierLevel(BitReader& r, std::uint32_t subLayers) {
  r.Skip(88 + 8);  // general profile space to the constraint flags, general_level_idc
  bool profilePresent[8] = {}, levelPresent[8] = {};
  for (std::uint32_t i = 0; i + 1 < subLayers; ++i) {
    profilePresent[i] = r.Bit();
    levelPresent[i] = r.Bit();
  }
  if (subLayers > 1) r.Skip(2 * (8 - (subLayers - 1)));
  for (std::uint32_t i = 0; i + 1 < subLayers; ++i) {
    if (profilePresent[i]) r.Skip(88);
    if (levelPresent[i]) r.Skip(8);
  }
}

void SkipHevcScalingLists(BitReader& r) {
  for (int sizeId = 0; sizeId < 4; ++sizeId)
    for (int matrixId = 0; matrixId < 6 && r.Ok(); matrixId += sizeId == 3 ? 3 : 1) {
      if (!r.Bit()) {
        r.Ue();  // scaling_list_pred_matrix_id_delta
        continue;
      }
      const int coefficients = std::min(64, 1 << (4 + (sizeId << 1)));
      if (sizeId > 1) r.Se();  // dc coefficient
      for (int i = 0; i < coefficients && r.Ok(); ++i) r.Se();
    }
}

constexpr std::uint32_t HevcMaxRpsSets = 64;
constexpr std::uint32_t HevcMaxRefs = 16;

// st_ref_pic_set(index) of the SPS. deltaPocs holds each earlier set's count
// of pictures, which a predicted set's syntax depends on.
bool SkipHevcShortTermRps(BitReader& r, std::uint32_t index, std::uint8_t (&deltaPocs)[HevcMaxRpsSets]) {
  if (index != 0 && r.Bit()) {  // inter_ref_pic_set_prediction_flag
    r.Skip(1);                  // delta_rps_sign
    if (r.Ue() > 32767) return false;
    std::uint32_t count = 0;
    for (std::uint32_t j = 0; j <= deltaPocs[index - 1] && r.Ok(); ++j)
      if (r.Bit() || r.Bit()) ++count;  // used_by_curr_pic_flag, else use_delta_flag
    if (count > 2 * HevcMaxRefs) return false;
    deltaPocs[index] = static_cast<std::uint8_t>(count);
    return r.Ok();
  }
  const std::uint32_t negative = r.Ue(), positive = r.Ue();
  if (negative >= HevcMaxRefs || positive >= HevcMaxRefs) return false;
  for (std::uint32_t i = 0; i < negative + positive && r.Ok(); ++i) {
    r.Ue();     // delta_poc_sx_minus1
    r.Skip(1);  // used_by_curr_pic_sx_flag
  }
  deltaPocs[index] = static_cast<std::uint8_t>(negative + positive);
  return r.Ok();
}

void ReadHevcTiming(BitReader& r, VideoFormat& f) {
  if (r.Bit() && r.Bits(8) == 255) r.Skip(32);  // aspect_ratio_idc, sar
  if (r.Bit()) r.Skip(1);                       // overscan
  if (r.Bit()) {                                // video signal type
    r.Skip(4);
    if (r.Bit()) r.Skip(24);
  }
  if (r.Bit()) {  // chroma sample location
    r.Ue();
    r.Ue();
  }
  r.Skip(3);      // neutral_chroma_indication, field_seq, frame_field_info_present
  if (r.Bit()) {  // default display window: not applied, as libavcodec does by default
    for (int i = 0; i < 4; ++i) r.Ue();
  }
  if (!r.Bit()) return;  // vui_timing_info_present_flag
  const std::uint32_t units = r.Bits(32), scale = r.Bits(32);
  if (r.Ok()) SetRate(f, scale, units);
}

// rbsp: the SPS after its two-byte NAL header.
std::optional<VideoFormat> ParseHevcSps(const unsigned char* rbsp, std::size_t size) {
  BitReader r(rbsp, size);
  r.Skip(4);  // sps_video_parameter_set_id
  const std::uint32_t subLayers = r.Bits(3) + 1;
  if (subLayers > 7) return std::nullopt;
  r.Skip(1);  // temporal_id_nesting
  SkipHevcProfileTierLevel(r, subLayers);
  if (r.Ue() > 15) return std::nullopt;  // sps_seq_parameter_set_id
  const std::uint32_t chroma = r.Ue();
  if (chroma > 3) return std::nullopt;
  const bool separatePlanes = chroma == 3 ? r.Bit() : false;
  const std::uint64_t width = r.Ue(), height = r.Ue();
  std::uint64_t left = 0, right = 0, top = 0, bottom = 0;
  if (r.Bit()) {  // conformance_window_flag
    left = r.Ue();
    right = r.Ue();
    top = r.Ue();
    bottom = r.Ue();
  }
  if (r.Ue() > 8 || r.Ue() > 8) return std::nullopt;  // bit depths beyond 16
  const std::uint32_t pocLsbMinus4 = r.Ue();
  if (pocLsbMinus4 > 12) return std::nullopt;
  const bool orderingForEach = r.Bit();
  for (std::uint32_t i = orderingForEach ? 0 : subLayers - 1; i < subLayers; ++i) {
    r.Ue();  // max_dec_pic_buffering_minus1
    r.Ue();  // max_num_reorder_pics
    r.Ue();  // max_latency_increase_plus1
  }
  const std::uint32_t minCbMinus3 = r.Ue(), cbDiff = r.Ue();
  r.Ue();  // log2_min_luma_transform_block_size_minus2
  r.Ue();  // log2_diff_max_min_luma_transform_block_size
  // Coding tree blocks of 16 to 64, a picture a whole number of the least
  // coding blocks: what every writer and libavcodec hold to.
  if (!r.Ok() || minCbMinus3 > 3 || cbDiff > 3 || minCbMinus3 + 3 + cbDiff < 4 || minCbMinus3 + 3 + cbDiff > 6)
    return std::nullopt;
  const std::uint64_t minCb = std::uint64_t{1} << (minCbMinus3 + 3);
  if (width == 0 || height == 0 || width > MaxSide || height > MaxSide || width % minCb != 0 || height % minCb != 0)
    return std::nullopt;

  const unsigned arrayType = separatePlanes ? 0 : chroma;
  const std::uint64_t unitX = arrayType == 1 || arrayType == 2 ? 2 : 1, unitY = arrayType == 1 ? 2 : 1;
  VideoFormat f = Format(VideoFamily::Hevc, "HEVC");
  f.Width = static_cast<std::int32_t>(width);
  f.Height = static_cast<std::int32_t>(height);
  if ((left + right) * unitX < width && (top + bottom) * unitY < height) {
    f.Width -= static_cast<std::int32_t>((left + right) * unitX);
    f.Height -= static_cast<std::int32_t>((top + bottom) * unitY);
  }

  // The rest only leads to the frame rate in the VUI; a failure there leaves
  // the rate untold.
  r.Ue();                                           // max_transform_hierarchy_depth_inter
  r.Ue();                                           // max_transform_hierarchy_depth_intra
  if (r.Bit() && r.Bit()) SkipHevcScalingLists(r);  // scaling_list_enabled, sps_scaling_list_data_present
  r.Skip(2);                                        // amp, sample_adaptive_offset
  if (r.Bit()) {                                    // pcm
    r.Skip(8);
    r.Ue();
    r.Ue();
    r.Skip(1);
  }
  const std::uint32_t sets = r.Ue();
  if (sets > HevcMaxRpsSets) return f;
  std::uint8_t deltaPocs[HevcMaxRpsSets] = {};
  for (std::uint32_t i = 0; i < sets; ++i)
    if (!SkipHevcShortTermRps(r, i, deltaPocs)) return f;
  if (r.Bit()) {  // long_term_ref_pics_present_flag
    const std::uint32_t longTerm = r.Ue();
    if (longTerm > 32) return f;
    for (std::uint32_t i = 0; i < longTerm && r.Ok(); ++i) r.Skip(pocLsbMinus4 + 4 + 1);
  }
  r.Skip(2);                                    // temporal_mvp, strong_intra_smoothing
  if (r.Bit() && r.Ok()) ReadHevcTiming(r, f);  // vui_parameters_present_flag
  return f;
}

// ---- NAL units: H.264 or HEVC ---------------------------------------------

// Parameter sets are a few dozen bytes; scaling lists make them a few
// hundred. Their raw bytes are copied here to drop the emulation prevention.
constexpr std::size_t RbspBytes = 1024;

// Whether a NAL unit header is one an H.264 stream holds, and whether it
// starts a picture (a coded slice, IDR or not).
bool H264Header(unsigned b0, bool& slice) {
  if ((b0 & 0x80) != 0) return false;
  const unsigned type = b0 & 0x1F;
  slice = type == 1 || type == 5;
  return (type >= 1 && type <= 15) || (type >= 19 && type <= 21);
}

// The same for HEVC: base layer, a temporal id, a type in use.
bool HevcHeader(unsigned b0, unsigned b1, bool& slice) {
  if ((b0 & 0x81) != 0 || (b1 >> 3) != 0 || (b1 & 7) == 0) return false;
  const unsigned type = (b0 >> 1) & 0x3F;
  slice = type <= 9 || (type >= 16 && type <= 21);
  return slice || (type >= 32 && type <= 40);
}

// What the NAL units seen so far say: a parsed SPS of either family, else a
// family whose syntax every unit fits and one of whose slices was seen (the
// H.264 slice types have a bit set that HEVC's base layer keeps clear).
class NalScan {
 public:
  // A unit from begin, its bytes ending at end or at the next start code.
  void Look(const unsigned char* data, std::size_t begin, std::size_t end) {
    if (begin >= end) return;
    const unsigned b0 = data[begin];
    bool slice = false;
    if (!H264Header(b0, slice)) h264Fits_ = false;
    h264Slice_ |= slice;
    if ((b0 & 0x9F) == 7 && !h264Sps_) h264Sps_ = Parse(ParseH264Sps, data, begin + 1, end);
    if (end - begin < 2 || !HevcHeader(b0, data[begin + 1], slice)) {
      hevcFits_ = false;
      return;
    }
    hevcSlice_ |= slice;
    if (((b0 >> 1) & 0x3F) == 33 && !hevcSps_) hevcSps_ = Parse(ParseHevcSps, data, begin + 2, end);
  }

  std::optional<VideoFormat> Sps() const { return h264Sps_ ? h264Sps_ : hevcSps_; }

  std::optional<VideoFormat> Answer() const {
    if (auto f = Sps()) return f;
    if (h264Fits_ && h264Slice_) return Format(VideoFamily::H264, "H264");
    if (hevcFits_ && hevcSlice_) return Format(VideoFamily::Hevc, "HEVC");
    return std::nullopt;
  }

 private:
  using SpsParser = std::optional<VideoFormat> (*)(const unsigned char*, std::size_t);

  static std::optional<VideoFormat> Parse(SpsParser parser, const unsigned char* data, std::size_t at,
                                          std::size_t end) {
    unsigned char rbsp[RbspBytes];
    RbspReader reader(data, end, at);
    std::size_t size = 0;
    unsigned byte = 0;
    while (size < RbspBytes && reader.Next(byte)) rbsp[size++] = static_cast<unsigned char>(byte);
    return parser(rbsp, size);
  }

  bool h264Fits_ = true, hevcFits_ = true, h264Slice_ = false, hevcSlice_ = false;
  std::optional<VideoFormat> h264Sps_, hevcSps_;
};

enum class Framing { None, Open, Exact };

// NAL units behind 4-byte big-endian lengths (the avc1/hvc1 form, as ffmpeg
// and x264 write it): every length must land inside the chunk. Exact when
// the lengths add up to the chunk size; Open when a length lies beyond the
// bytes we have after at least two that fit, as one alone is too easily
// matched by chance (MPEG-4's 00 00 01 b0 reads as a length of 432).
Framing WalkLengthPrefixed(const unsigned char* data, std::size_t n, std::uint32_t chunkSize, NalScan& scan) {
  std::size_t at = 0;
  for (int units = 0;; ++units) {
    if (at == chunkSize) return Framing::Exact;
    if (chunkSize - at < 5) return Framing::None;  // no room for a length and a header
    if (at >= n || n - at < 4) return units >= 2 ? Framing::Open : Framing::None;
    const std::uint32_t length = LoadBe32(data + at);
    if (length == 0 || length > chunkSize - at - 4) return Framing::None;
    at += 4;
    if (at < n) scan.Look(data, at, std::min(n, at + length));
    at += length;
  }
}

VideoFormat AsLengthPrefixed(VideoFormat f) {
  f.LengthPrefixed = true;
  f.Compression = MakeFourCC(f.Family == VideoFamily::H264 ? "avc1" : "hvc1");
  return f;
}

// Data that starts with a start code (after zero stuffing): an MPEG-1/2
// sequence header, H.264 or HEVC parameter sets, an MPEG-4 VOL.
std::optional<VideoFormat> ProbeStartCodes(const unsigned char* data, std::size_t n) {
  const std::size_t first = NextStartCode(data, n, 0);
  if (first == 0 || first >= n) return std::nullopt;
  for (std::size_t i = 0; i + 3 < first; ++i)
    if (data[i] != 0) return std::nullopt;
  if (data[first] == 0xB3) return ParseMpegSequence(data, n, first + 1);

  NalScan scan;
  for (std::size_t at = first; at != 0 && at < n; at = NextStartCode(data, n, at)) scan.Look(data, at, n);
  if (auto f = scan.Sps()) return f;
  for (std::size_t at = first; at != 0 && at < n; at = NextStartCode(data, n, at))
    if (data[at] >= 0x20 && data[at] <= 0x2F)
      if (auto f = ParseVol(data, n, at + 1)) return f;
  return scan.Answer();
}

// ---- MPEG audio and AC-3 --------------------------------------------------

struct AudioFrame {
  AudioFormat Format;
  std::uint32_t Bytes = 0;  // the frame's length, where the next one starts
  std::uint32_t Same = 0;   // header bits every frame of the stream repeats
};

constexpr std::uint16_t MpegBitrates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
};
constexpr std::uint32_t MpegSampleRates[3] = {44100, 48000, 32000};

// The 4-byte header of an MPEG-1, MPEG-2 or MPEG-2.5 audio frame, layers I
// to III. Free-format frames (bitrate index 0) have no length to confirm
// them by and are not taken.
std::optional<AudioFrame> ReadMpegAudio(const unsigned char* p) {
  const std::uint32_t h = LoadBe32(p);
  if ((h >> 21) != 0x7FF) return std::nullopt;
  const unsigned version = (h >> 19) & 3, layerBits = (h >> 17) & 3;
  const unsigned bitrateIndex = (h >> 12) & 15, rateIndex = (h >> 10) & 3;
  if (version == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return std::nullopt;
  const unsigned layer = 4 - layerBits;
  const bool lsf = version != 3;  // MPEG-2 and 2.5: lower sampling frequencies
  AudioFrame frame;
  AudioFormat& a = frame.Format;
  a.FormatTag = layer == 3 ? 0x55 : 0x50;
  a.SampleRate = MpegSampleRates[rateIndex] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  a.Channels = ((h >> 6) & 3) == 3 ? 1 : 2;
  a.BitRate = std::uint32_t{MpegBitrates[lsf][layer - 1][bitrateIndex]} * 1000;
  const std::uint32_t padding = (h >> 9) & 1;
  if (layer == 1) {
    a.SamplesPerFrame = 384;
    frame.Bytes = (12 * a.BitRate / a.SampleRate + padding) * 4;
  } else {
    a.SamplesPerFrame = layer == 3 && lsf ? 576 : 1152;
    frame.Bytes = (layer == 3 && lsf ? 72 : 144) * a.BitRate / a.SampleRate + padding;
  }
  frame.Same = h & 0xFFFE0C00;  // sync, version, layer, sample rate, as ffmpeg's parser compares them
  return frame;
}

constexpr std::uint16_t Ac3Bitrates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                           192, 224, 256, 320, 384, 448, 512, 576, 640};
constexpr std::uint32_t Ac3SampleRates[3] = {48000, 44100, 32000};
constexpr std::uint16_t Ac3Channels[8] = {2, 1, 2, 3, 3, 4, 4, 5};  // by acmod; 0 is two mono channels

// An AC-3 sync frame header: the sync word, crc1, fscod and frmsizecod,
// bsid and bsmod, then acmod and what it implies up to lfeon. bsid above 10
// is E-AC-3, another syntax.
std::optional<AudioFrame> ReadAc3(const unsigned char* p) {
  if (p[0] != 0x0B || p[1] != 0x77) return std::nullopt;
  const unsigned fscod = p[4] >> 6, frmsizecod = p[4] & 0x3F, bsid = p[5] >> 3;
  if (fscod == 3 || frmsizecod > 37 || bsid > 10) return std::nullopt;
  BitReader r(p + 6, 2);
  const unsigned acmod = r.Bits(3);
  if ((acmod & 1) != 0 && acmod != 1) r.Skip(2);  // cmixlev
  if ((acmod & 4) != 0) r.Skip(2);                // surmixlev
  if (acmod == 2) r.Skip(2);                      // dsurmod
  const unsigned lfe = r.Bit();
  // bsid 9 and 10 halve and quarter the rates of the same frame sizes.
  const unsigned shift = bsid > 8 ? bsid - 8 : 0;
  const std::uint32_t kbps = Ac3Bitrates[frmsizecod >> 1];
  std::uint32_t words = kbps * 2;                               // 48 kHz
  if (fscod == 1) words = kbps * 320 / 147 + (frmsizecod & 1);  // 44.1 kHz
  if (fscod == 2) words = kbps * 3;                             // 32 kHz
  AudioFrame frame;
  AudioFormat& a = frame.Format;
  a.FormatTag = 0x2000;
  a.SampleRate = Ac3SampleRates[fscod] >> shift;
  a.Channels = static_cast<std::uint16_t>(Ac3Channels[acmod] + lfe);
  a.BitRate = kbps * 1000 >> shift;
  a.SamplesPerFrame = 1536;
  frame.Bytes = words * 2;
  frame.Same = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | (p[4] & 0xC0);
  return frame;
}

// Both readers look at this many bytes.
constexpr std::size_t AudioHeaderBytes = 8;

}  // namespace

std::optional<VideoFormat> ProbeVideo(const unsigned char* data, std::size_t n, std::uint32_t chunkSize) {
  if (data == nullptr || chunkSize == 0) return std::nullopt;
  n = std::min({n, FormatProbeBytes, static_cast<std::size_t>(chunkSize)});
  if (auto f = ProbeDv(data, n, chunkSize)) return f;
  if (auto f = ProbeJpeg(data, n)) return f;
  if (auto f = ProbeVp8(data, n, chunkSize)) return f;
  if (auto f = ProbeVp9(data, n)) return f;
  if (auto f = ProbeCinepak(data, n, chunkSize)) return f;
  // A length prefix of 256 to 511 reads as a start code: a walk of lengths
  // that ends exactly with the chunk is taken first, one cut short by the
  // probe's reach only when the start codes tell nothing.
  NalScan prefixed;
  const Framing framing = WalkLengthPrefixed(data, n, chunkSize, prefixed);
  if (framing == Framing::Exact)
    if (auto f = prefixed.Answer()) return AsLengthPrefixed(*f);
  if (auto f = ProbeStartCodes(data, n)) return f;
  if (framing == Framing::Open)
    if (auto f = prefixed.Answer()) return AsLengthPrefixed(*f);
  return std::nullopt;
}

// The first frame header that the next frame confirms (the same stream
// parameters where its length says). At the start of the chunk a header is
// taken alone when the next one lies beyond the bytes; further in it must be
// confirmed, as the bytes of a frame cut by the chunk may look like a header.
std::optional<AudioFormat> ProbeAudio(const unsigned char* data, std::size_t n) {
  if (data == nullptr) return std::nullopt;
  n = std::min(n, FormatProbeBytes);
  for (std::size_t at = 0; n >= AudioHeaderBytes && at <= n - AudioHeaderBytes; ++at) {
    // A frame starts on its sync byte, AC-3's or MPEG's: other bytes are
    // passed over at once, which keeps a probe of PCM cheap.
    if (data[at] != 0x0B && data[at] != 0xFF) continue;
    for (const auto read : {ReadAc3, ReadMpegAudio}) {
      const std::optional<AudioFrame> frame = read(data + at);
      if (!frame || frame->Bytes < AudioHeaderBytes) continue;
      if (n - at - AudioHeaderBytes < frame->Bytes) {
        if (at == 0) return frame->Format;
        continue;
      }
      const std::optional<AudioFrame> next = read(data + at + frame->Bytes);
      if (next && next->Same == frame->Same) return frame->Format;
    }
  }
  return std::nullopt;
}

}  // namespace VEKCodec
