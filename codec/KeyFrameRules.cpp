// The table from a video stream's four-character code to its key-frame rule,
// and the idx1 flags that follow from a rule's answer. A new codec is one rule
// file and one row here. The codes are those ffmpeg's AVI reader maps to each
// codec.
#include <algorithm>
#include <iterator>

#include "codec/KeyFrame.h"

namespace VEKCodec {

namespace {

using VEKAvi::FourCC;

struct Row {
  char Code[5];
  KeyFrameRule Rule;
};

// Lower case, as files write the same code in either case ("XVID", "xvid").
constexpr Row Rows[] = {
    // MPEG-4 Visual
    {"xvid", Mpeg4VisualFrame}, {"divx", Mpeg4VisualFrame}, {"dx50", Mpeg4VisualFrame},
    {"fmp4", Mpeg4VisualFrame}, {"mp4v", Mpeg4VisualFrame}, {"mp4s", Mpeg4VisualFrame},
    {"m4s2", Mpeg4VisualFrame}, {"div1", Mpeg4VisualFrame}, {"blz0", Mpeg4VisualFrame},
    {"ump4", Mpeg4VisualFrame}, {"wv1f", Mpeg4VisualFrame}, {"sedg", Mpeg4VisualFrame},
    {"rmp4", Mpeg4VisualFrame}, {"3iv2", Mpeg4VisualFrame}, {"wawv", Mpeg4VisualFrame},
    {"ffds", Mpeg4VisualFrame}, {"fvfw", Mpeg4VisualFrame}, {"dcod", Mpeg4VisualFrame},
    {"mvxm", Mpeg4VisualFrame}, {"pm4v", Mpeg4VisualFrame}, {"smp4", Mpeg4VisualFrame},
    {"dxgm", Mpeg4VisualFrame}, {"vidm", Mpeg4VisualFrame}, {"m4t3", Mpeg4VisualFrame},
    {"geox", Mpeg4VisualFrame}, {"geov", Mpeg4VisualFrame}, {"hdx4", Mpeg4VisualFrame},
    {"dmk2", Mpeg4VisualFrame}, {"digi", Mpeg4VisualFrame}, {"inmc", Mpeg4VisualFrame},
    {"ephv", Mpeg4VisualFrame}, {"em4a", Mpeg4VisualFrame}, {"m4cc", Mpeg4VisualFrame},
    {"sn40", Mpeg4VisualFrame}, {"vspx", Mpeg4VisualFrame}, {"uldx", Mpeg4VisualFrame},
    {"sipp", Mpeg4VisualFrame}, {"xvix", Mpeg4VisualFrame}, {"drex", Mpeg4VisualFrame},
    // H.264, Annex B
    {"h264", H264Frame}, {"x264", H264Frame}, {"davc", H264Frame}, {"smv2", H264Frame},
    {"vssh", H264Frame}, {"q264", H264Frame}, {"v264", H264Frame},
    // HEVC, Annex B
    {"hevc", HevcFrame}, {"h265", HevcFrame}, {"x265", HevcFrame},
    // MPEG-1 and MPEG-2 video
    {"mpg1", MpegVideoFrame}, {"mpg2", MpegVideoFrame}, {"mpeg", MpegVideoFrame},
    {"pim1", MpegVideoFrame}, {"pim2", MpegVideoFrame}, {"vcr2", MpegVideoFrame},
    {"dvr ", MpegVideoFrame}, {"mmes", MpegVideoFrame}, {"lmp2", MpegVideoFrame},
    {"slif", MpegVideoFrame}, {"em2v", MpegVideoFrame}, {"mpgv", MpegVideoFrame},
    {"m701", MpegVideoFrame}, {"m702", MpegVideoFrame}, {"m703", MpegVideoFrame},
    {"m704", MpegVideoFrame}, {"m705", MpegVideoFrame},
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
    {"vp80", Vp8Frame}, {"vp90", Vp9Frame},
    // FFV1, Snow
    {"ffv1", RangeCodedFrame}, {"snow", RangeCodedFrame},
    // Cinepak, Theora
    {"cvid", CinepakFrame}, {"theo", TheoraFrame},
    // Zip Motion Blocks Video
    {"zmbv", ZmbvFrame},
    // Motion JPEG, lossless JPEG, JPEG-LS
    {"mjpg", IntraOnlyFrame}, {"ljpg", IntraOnlyFrame}, {"dmb1", IntraOnlyFrame},
    {"mjpa", IntraOnlyFrame}, {"jpgl", IntraOnlyFrame}, {"mjls", IntraOnlyFrame},
    {"jpeg", IntraOnlyFrame}, {"ijpg", IntraOnlyFrame}, {"avrn", IntraOnlyFrame},
    {"acdv", IntraOnlyFrame}, {"qivg", IntraOnlyFrame}, {"slmj", IntraOnlyFrame},
    {"cjpg", IntraOnlyFrame}, {"ijlv", IntraOnlyFrame}, {"mvjp", IntraOnlyFrame},
    {"avi1", IntraOnlyFrame}, {"avi2", IntraOnlyFrame}, {"mtsj", IntraOnlyFrame},
    {"zjpg", IntraOnlyFrame}, {"mmjp", IntraOnlyFrame}, {"avdj", IntraOnlyFrame},
    // DV
    {"dvsd", IntraOnlyFrame}, {"dvhd", IntraOnlyFrame}, {"dvh1", IntraOnlyFrame},
    {"dvsl", IntraOnlyFrame}, {"dv25", IntraOnlyFrame}, {"dv50", IntraOnlyFrame},
    {"cdvc", IntraOnlyFrame}, {"cdvh", IntraOnlyFrame}, {"cdv5", IntraOnlyFrame},
    {"dvc ", IntraOnlyFrame}, {"dvcs", IntraOnlyFrame},
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

// Numeric codes that are not text: BI_RGB and BI_BITFIELDS (uncompressed), and
// the MPEG codes some capture programs write.
struct NumericRow {
  FourCC Code;
  KeyFrameRule Rule;
};
constexpr NumericRow NumericRows[] = {
    {0x00000000, IntraOnlyFrame}, {0x00000003, IntraOnlyFrame},  {0x00000004, Mpeg4VisualFrame},
    {0x10000001, MpegVideoFrame}, {0x10000002, MpegVideoFrame}, {0x10000004, Mpeg4VisualFrame},
};

// Codes we know and leave unjudged whatever the handler says: their data may
// be length-prefixed, where a length field can look like a start code.
constexpr FourCC Unjudged[] = {VEKAvi::MakeFourCC("avc1"), VEKAvi::MakeFourCC("hvc1"), VEKAvi::MakeFourCC("hev1")};

FourCC Lower(FourCC code) {
  FourCC out = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    unsigned c = (code >> shift) & 0xFF;
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    out |= static_cast<FourCC>(c) << shift;
  }
  return out;
}

KeyFrameRule Lookup(FourCC code) {
  for (const NumericRow& row : NumericRows)
    if (row.Code == code) return row.Rule;
  const FourCC lower = Lower(code);
  for (const Row& row : Rows)
    if (VEKAvi::MakeFourCC(row.Code) == lower) return row.Rule;
  return nullptr;
}

}  // namespace

KeyFrameRule RuleFor(const VEKAvi::StreamHeader& stream) {
  if (!stream.Readable || !stream.IsVideo()) return nullptr;
  // Decoders go by the strf compression code, and BI_RGB there means
  // uncompressed whatever the handler says. The strh handler is often the
  // same code, and the only one we know when the compression code is a
  // vendor's own (a tool's private code beside "XVID" or "DIVX").
  if (KeyFrameRule rule = Lookup(stream.Compression)) return rule;
  if (std::find(std::begin(Unjudged), std::end(Unjudged), Lower(stream.Compression)) != std::end(Unjudged))
    return nullptr;
  return stream.Handler != 0 ? Lookup(stream.Handler) : nullptr;
}

std::uint32_t IndexFlags(KeyFrameRule rule, bool video, const unsigned char* data, std::size_t available,
                         std::uint32_t chunkSize) {
  if (chunkSize == 0) return 0;
  if (!video || rule == nullptr) return VEKAvi::AVIIF_KEYFRAME;
  available = std::min({available, ProbeBytes, static_cast<std::size_t>(chunkSize)});
  if (data == nullptr) available = 0;
  return rule(data, available, chunkSize) == Frame::Delta ? 0 : VEKAvi::AVIIF_KEYFRAME;
}

}  // namespace VEKCodec
