// The table from a video stream's four-character code to its key-frame rule
// and its codec family, and the idx1 flags that follow from a rule's answer.
// A new codec is one rule file and one row here. The codes are those ffmpeg's
// AVI reader maps to each codec.
#include <algorithm>

#include "codec/KeyFrame.h"
#include "codec/StreamFormat.h"

namespace VEKCodec {

namespace {

using VEKAvi::FourCC;
using enum VideoFamily;

// Rule nullptr: a code we know and leave unjudged whatever the handler says.
// Family: for the families the stream probes tell from the data.
struct Row {
  char Code[5];
  KeyFrameRule Rule;
  VideoFamily Family = Unknown;
};

// Lower case, as files write the same code in either case ("XVID", "xvid").
// clang-format off
constexpr Row Rows[] = {
    // MPEG-4 Visual
    {"xvid", Mpeg4VisualFrame, Mpeg4Visual}, {"divx", Mpeg4VisualFrame, Mpeg4Visual},
    {"dx50", Mpeg4VisualFrame, Mpeg4Visual}, {"fmp4", Mpeg4VisualFrame, Mpeg4Visual},
    {"mp4v", Mpeg4VisualFrame, Mpeg4Visual}, {"mp4s", Mpeg4VisualFrame, Mpeg4Visual},
    {"m4s2", Mpeg4VisualFrame, Mpeg4Visual}, {"div1", Mpeg4VisualFrame, Mpeg4Visual},
    {"blz0", Mpeg4VisualFrame, Mpeg4Visual}, {"ump4", Mpeg4VisualFrame, Mpeg4Visual},
    {"wv1f", Mpeg4VisualFrame, Mpeg4Visual}, {"sedg", Mpeg4VisualFrame, Mpeg4Visual},
    {"rmp4", Mpeg4VisualFrame, Mpeg4Visual}, {"3iv2", Mpeg4VisualFrame, Mpeg4Visual},
    {"wawv", Mpeg4VisualFrame, Mpeg4Visual}, {"ffds", Mpeg4VisualFrame, Mpeg4Visual},
    {"fvfw", Mpeg4VisualFrame, Mpeg4Visual}, {"dcod", Mpeg4VisualFrame, Mpeg4Visual},
    {"mvxm", Mpeg4VisualFrame, Mpeg4Visual}, {"pm4v", Mpeg4VisualFrame, Mpeg4Visual},
    {"smp4", Mpeg4VisualFrame, Mpeg4Visual}, {"dxgm", Mpeg4VisualFrame, Mpeg4Visual},
    {"vidm", Mpeg4VisualFrame, Mpeg4Visual}, {"m4t3", Mpeg4VisualFrame, Mpeg4Visual},
    {"geox", Mpeg4VisualFrame, Mpeg4Visual}, {"geov", Mpeg4VisualFrame, Mpeg4Visual},
    {"hdx4", Mpeg4VisualFrame, Mpeg4Visual}, {"dmk2", Mpeg4VisualFrame, Mpeg4Visual},
    {"digi", Mpeg4VisualFrame, Mpeg4Visual}, {"inmc", Mpeg4VisualFrame, Mpeg4Visual},
    {"ephv", Mpeg4VisualFrame, Mpeg4Visual}, {"em4a", Mpeg4VisualFrame, Mpeg4Visual},
    {"m4cc", Mpeg4VisualFrame, Mpeg4Visual}, {"sn40", Mpeg4VisualFrame, Mpeg4Visual},
    {"vspx", Mpeg4VisualFrame, Mpeg4Visual}, {"uldx", Mpeg4VisualFrame, Mpeg4Visual},
    {"sipp", Mpeg4VisualFrame, Mpeg4Visual}, {"xvix", Mpeg4VisualFrame, Mpeg4Visual},
    {"drex", Mpeg4VisualFrame, Mpeg4Visual},
    // H.264, Annex B
    {"h264", H264Frame, H264}, {"x264", H264Frame, H264}, {"davc", H264Frame, H264}, {"smv2", H264Frame, H264},
    {"vssh", H264Frame, H264}, {"q264", H264Frame, H264}, {"v264", H264Frame, H264},
    // H.264 and HEVC that may be length-prefixed, where a length field can
    // look like a start code
    {"avc1", nullptr, H264}, {"hvc1", nullptr, Hevc}, {"hev1", nullptr, Hevc},
    // HEVC, Annex B
    {"hevc", HevcFrame, Hevc}, {"h265", HevcFrame, Hevc}, {"x265", HevcFrame, Hevc},
    // MPEG-1 and MPEG-2 video
    {"mpg1", MpegVideoFrame, MpegVideo}, {"mpg2", MpegVideoFrame, MpegVideo}, {"mpeg", MpegVideoFrame, MpegVideo},
    {"pim1", MpegVideoFrame, MpegVideo}, {"pim2", MpegVideoFrame, MpegVideo}, {"vcr2", MpegVideoFrame, MpegVideo},
    {"dvr ", MpegVideoFrame, MpegVideo}, {"mmes", MpegVideoFrame, MpegVideo}, {"lmp2", MpegVideoFrame, MpegVideo},
    {"slif", MpegVideoFrame, MpegVideo}, {"em2v", MpegVideoFrame, MpegVideo}, {"mpgv", MpegVideoFrame, MpegVideo},
    {"m701", MpegVideoFrame, MpegVideo}, {"m702", MpegVideoFrame, MpegVideo}, {"m703", MpegVideoFrame, MpegVideo},
    {"m704", MpegVideoFrame, MpegVideo}, {"m705", MpegVideoFrame, MpegVideo},
    // MS-MPEG4 v2 and v3, WMV1; WMV2
    {"mp42", MsMpeg4Frame}, {"div2", MsMpeg4Frame}, {"mp43", MsMpeg4Frame},
    {"div3", MsMpeg4Frame}, {"mpg3", MsMpeg4Frame}, {"div4", MsMpeg4Frame},
    {"div5", MsMpeg4Frame}, {"div6", MsMpeg4Frame}, {"dvx3", MsMpeg4Frame},
    {"ap41", MsMpeg4Frame}, {"col0", MsMpeg4Frame}, {"col1", MsMpeg4Frame},
    {"wmv1", MsMpeg4Frame}, {"wmv2", Wmv2Frame},
    // H.263 and H.263+; Sorenson Spark
    {"h263", H263Frame}, {"x263", H263Frame}, {"t263", H263Frame}, {"l263", H263Frame},
    {"vx1k", H263Frame}, {"zygo", H263Frame}, {"m263", H263Frame}, {"u263", H263Frame},
    {"viv1", H263Frame}, {"flv1", SorensonFrame},
    // VP8, VP9
    {"vp80", Vp8Frame, Vp8}, {"vp90", Vp9Frame, Vp9},
    // FFV1, Snow
    {"ffv1", RangeCodedFrame}, {"snow", RangeCodedFrame},
    // Cinepak, Theora
    {"cvid", CinepakFrame, Cinepak}, {"theo", TheoraFrame},
    // Zip Motion Blocks Video
    {"zmbv", ZmbvFrame},
    // Motion JPEG, lossless JPEG, JPEG-LS
    {"mjpg", IntraOnlyFrame, Jpeg}, {"ljpg", IntraOnlyFrame, Jpeg}, {"dmb1", IntraOnlyFrame, Jpeg},
    {"mjpa", IntraOnlyFrame, Jpeg}, {"jpgl", IntraOnlyFrame, Jpeg}, {"mjls", IntraOnlyFrame, Jpeg},
    {"jpeg", IntraOnlyFrame, Jpeg}, {"ijpg", IntraOnlyFrame, Jpeg}, {"avrn", IntraOnlyFrame, Jpeg},
    {"acdv", IntraOnlyFrame, Jpeg}, {"qivg", IntraOnlyFrame, Jpeg}, {"slmj", IntraOnlyFrame, Jpeg},
    {"cjpg", IntraOnlyFrame, Jpeg}, {"ijlv", IntraOnlyFrame, Jpeg}, {"mvjp", IntraOnlyFrame, Jpeg},
    {"avi1", IntraOnlyFrame, Jpeg}, {"avi2", IntraOnlyFrame, Jpeg}, {"mtsj", IntraOnlyFrame, Jpeg},
    {"zjpg", IntraOnlyFrame, Jpeg}, {"mmjp", IntraOnlyFrame, Jpeg}, {"avdj", IntraOnlyFrame, Jpeg},
    // DV
    {"dvsd", IntraOnlyFrame, Dv}, {"dvhd", IntraOnlyFrame, Dv}, {"dvh1", IntraOnlyFrame, Dv},
    {"dvsl", IntraOnlyFrame, Dv}, {"dv25", IntraOnlyFrame, Dv}, {"dv50", IntraOnlyFrame, Dv},
    {"cdvc", IntraOnlyFrame, Dv}, {"cdvh", IntraOnlyFrame, Dv}, {"cdv5", IntraOnlyFrame, Dv},
    {"dvc ", IntraOnlyFrame, Dv}, {"dvcs", IntraOnlyFrame, Dv},
    // HuffYUV and ffmpeg's variant
    {"hfyu", IntraOnlyFrame}, {"ffvh", IntraOnlyFrame},
    // Uncompressed RGB and YUV
    {"rgb ", IntraOnlyFrame}, {"raw ", IntraOnlyFrame}, {"dib ", IntraOnlyFrame},
    {"i420", IntraOnlyFrame}, {"iyuv", IntraOnlyFrame}, {"yv12", IntraOnlyFrame},
    {"yv16", IntraOnlyFrame}, {"yv24", IntraOnlyFrame}, {"yuy2", IntraOnlyFrame},
    {"yuyv", IntraOnlyFrame}, {"yvyu", IntraOnlyFrame}, {"uyvy", IntraOnlyFrame},
    {"vyuy", IntraOnlyFrame}, {"y422", IntraOnlyFrame}, {"v422", IntraOnlyFrame},
    {"yunv", IntraOnlyFrame}, {"uynv", IntraOnlyFrame}, {"uyny", IntraOnlyFrame},
    {"uyv1", IntraOnlyFrame}, {"2vu1", IntraOnlyFrame}, {"2vuy", IntraOnlyFrame},
    {"yuvs", IntraOnlyFrame}, {"yuv2", IntraOnlyFrame}, {"p422", IntraOnlyFrame},
    {"y800", IntraOnlyFrame}, {"y8  ", IntraOnlyFrame}, {"grey", IntraOnlyFrame},
    {"hdyc", IntraOnlyFrame}, {"yvu9", IntraOnlyFrame}, {"yuv9", IntraOnlyFrame},
    {"y411", IntraOnlyFrame}, {"y41b", IntraOnlyFrame}, {"y42b", IntraOnlyFrame},
    {"y41p", IntraOnlyFrame}, {"nv12", IntraOnlyFrame}, {"nv21", IntraOnlyFrame},
    {"auv2", IntraOnlyFrame}, {"vdtz", IntraOnlyFrame}, {"v210", IntraOnlyFrame},
    {"v410", IntraOnlyFrame}, {"r210", IntraOnlyFrame}, {"r10k", IntraOnlyFrame},
    {"bgra", IntraOnlyFrame}, {"rgba", IntraOnlyFrame},
    // Lossless intra-only codecs: Ut Video, MagicYUV, Lagarith, Canopus
    // Lossless; PNG, JPEG 2000, DNxHD and ASUS V1/V2 pictures
    {"ulrg", IntraOnlyFrame}, {"ulra", IntraOnlyFrame}, {"uly0", IntraOnlyFrame},
    {"uly2", IntraOnlyFrame}, {"uly4", IntraOnlyFrame}, {"ulh0", IntraOnlyFrame},
    {"ulh2", IntraOnlyFrame}, {"ulh4", IntraOnlyFrame}, {"uqy2", IntraOnlyFrame},
    {"uqrg", IntraOnlyFrame}, {"uqra", IntraOnlyFrame}, {"magy", IntraOnlyFrame},
    {"m8rg", IntraOnlyFrame}, {"m8ra", IntraOnlyFrame}, {"m8g0", IntraOnlyFrame},
    {"m8y0", IntraOnlyFrame}, {"m8y2", IntraOnlyFrame}, {"m8y4", IntraOnlyFrame},
    {"m8ya", IntraOnlyFrame},
    {"lags", IntraOnlyFrame}, {"cllc", IntraOnlyFrame}, {"mpng", IntraOnlyFrame},
    {"png1", IntraOnlyFrame}, {"png ", IntraOnlyFrame}, {"mj2c", IntraOnlyFrame},
    {"mjp2", IntraOnlyFrame}, {"lj2c", IntraOnlyFrame}, {"lj2k", IntraOnlyFrame},
    {"avdn", IntraOnlyFrame}, {"asv1", IntraOnlyFrame}, {"asv2", IntraOnlyFrame},
};
// clang-format on

// Numeric codes that are not text: BI_RGB and BI_BITFIELDS (uncompressed), and
// the MPEG codes some capture programs write.
struct NumericRow {
  FourCC Code;
  KeyFrameRule Rule;
  VideoFamily Family = Unknown;
};
// clang-format off
constexpr NumericRow NumericRows[] = {
    {0x00000000, IntraOnlyFrame}, {0x00000003, IntraOnlyFrame}, {0x00000004, Mpeg4VisualFrame, Mpeg4Visual},
    {0x10000001, MpegVideoFrame, MpegVideo}, {0x10000002, MpegVideoFrame, MpegVideo},
    {0x10000004, Mpeg4VisualFrame, Mpeg4Visual},
};
// clang-format on

FourCC Lower(FourCC code) {
  FourCC out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    unsigned c = (code >> shift) & 0xFF;
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    out |= static_cast<FourCC>(c) << shift;
  }
  return out;
}

struct Known {
  bool Found = false;
  KeyFrameRule Rule = nullptr;
  VideoFamily Family = Unknown;
};

Known Lookup(FourCC code) {
  for (const NumericRow& row : NumericRows)
    if (row.Code == code) return {true, row.Rule, row.Family};
  const FourCC lower = Lower(code);
  for (const Row& row : Rows)
    if (VEKAvi::MakeFourCC(row.Code) == lower) return {true, row.Rule, row.Family};
  return {};
}

}  // namespace

KeyFrameRule RuleFor(const VEKAvi::StreamHeader& stream) {
  if (!stream.Readable || !stream.IsVideo()) return nullptr;
  // Decoders go by the strf compression code, and BI_RGB there means
  // uncompressed whatever the handler says. The strh handler is often the
  // same code, and the only one we know when the compression code is a
  // vendor's own (a tool's private code beside "XVID" or "DIVX").
  if (const Known known = Lookup(stream.Compression); known.Found) return known.Rule;
  return stream.Handler != 0 ? Lookup(stream.Handler).Rule : nullptr;
}

VideoFamily FamilyOf(FourCC compression) { return Lookup(compression).Family; }

std::uint32_t IndexFlags(KeyFrameRule rule, bool video, const unsigned char* data, std::size_t available,
                         std::uint32_t chunkSize) {
  if (chunkSize == 0) return 0;
  if (!video || rule == nullptr) return VEKAvi::AVIIF_KEYFRAME;
  available = std::min({available, ProbeBytes, static_cast<std::size_t>(chunkSize)});
  if (data == nullptr) available = 0;
  return rule(data, available, chunkSize) == Frame::Delta ? 0 : VEKAvi::AVIIF_KEYFRAME;
}

}  // namespace VEKCodec
