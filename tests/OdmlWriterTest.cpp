// The OpenDML index writer against files over 1 GiB that ffmpeg, mencoder
// and GStreamer wrote. The test reader (support/OdmlReader) follows each
// file's own indx → ix## indexes and idx1; the writer is given what they describe and
// must write indexes that describe exactly the same chunks, in a mirror copy
// and in place, which ffprobe counts and ffmpeg seeks in as it does the
// original. The files are made in a temporary folder, read with pread only
// (never loaded whole) and deleted. Rows whose muxer is missing are skipped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "avi/HeaderReader.h"
#include "engine/EngineMessages.h"
#include "engine/Failures.h"
#include "engine/OdmlWriter.h"
#include "support/OdmlReader.h"
#include "support/TempDir.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;
using VEKRiff::OldIndexEntry;

// The writer's input, as the walk would give it: the segments, with End where
// each movi list's chunk data ends, and one entry per chunk the muxer indexed,
// in file order, with the idx1 flags where the idx1 has them.
struct Input {
  VEKAvi::AviHeaders Headers;
  VEKRiff::Segments Segments;
  VEKRiff::IndexEntries Entries;
};

Input InputFrom(const OdmlReader& reader, const Parsed& p) {
  Input in;
  const auto hdrl = reader.At(p.HdrlPosition, p.HdrlSize + 8);
  in.Headers = VEKAvi::ReadHeaders(hdrl.data(), hdrl.size(), p.HdrlPosition);
  for (const RiffInfo& r : p.Riffs) in.Segments.push_back({r.Position, r.Movi, r.DataEnd});
  std::map<std::int64_t, std::uint32_t> idx1Flags;
  if (!p.Riffs.empty())
    for (const Idx1Row& row : p.Idx1) idx1Flags[row.Position + 8] = row.Flags;
  std::vector<Described> chunks(p.Chunks.begin(), p.Chunks.end());
  std::sort(chunks.begin(), chunks.end(),
            [](const Described& a, const Described& b) { return std::get<1>(a) < std::get<1>(b); });
  for (const Described& c : chunks) {
    const std::int64_t data = std::get<1>(c);
    const auto header = reader.At(data - 8, 8);
    const auto known = idx1Flags.find(data);
    const std::uint32_t flags = known != idx1Flags.end() ? known->second : p.KeyOf.at(data);
    in.Entries.emplace_back(VEK::LoadLe32(header.data()), flags, data - 8, std::get<2>(c));
  }
  return in;
}

std::string PacketCounts(const std::string& path) {
  return RunCommand("ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 '" + path +
                    "' 2>&1");
}

std::string DecodeErrors(const std::string& path, double at) {
  return RunCommand("ffmpeg -nostdin -v error -ss " + std::to_string(at) + " -i '" + path +
                    "' -frames:v 1 -f null - 2>&1 || echo failed");
}

struct MuxerRow {
  const char* Name;
  const char* Tool;
  const char* Command;  // %s: the output path
  // Before the in-place run the indx chunks are renamed JUNK, as ffmpeg's
  // reserve reads until the file grows past its first RIFF.
  bool InPlaceOnJunkReserve;
  bool HasNonKeyFrames;  // so that the key-frame bit is put to the test
};

// Each file is just over two segments' worth (or one and a bit), of large
// raw frames so that a few hundred chunks make a gigabyte quickly.
const MuxerRow Muxers[] = {
    {"ffmpeg", "ffmpeg",
     "ffmpeg -nostdin -v error -y -f lavfi -i color=c=gray:size=1280x720:rate=25 -f lavfi -i sine=sample_rate=8000 "
     "-t 33 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le '%s'",
     true, false},
    // Two seconds of noise at the highest quality, looped without encoding
    // again: key frames every ten.
    {"ffmpeg mpeg4", "ffmpeg",
     "ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=1280x720:rate=25,noise=alls=100:allf=t' -f lavfi -i "
     "sine=sample_rate=8000 -t 2 -c:v mpeg4 -q:v 1 -g 10 -c:a pcm_s16le '%s.src.avi' && ffmpeg -nostdin -v error -y "
     "-stream_loop 16 -i '%s.src.avi' -c copy '%s'; rm -f '%s.src.avi'",
     false, true},
    {"mencoder", "mencoder",
     "ffmpeg -nostdin -v error -y -f lavfi -i color=c=gray:size=1280x720:rate=25 -f lavfi -i sine=sample_rate=8000 "
     "-t 17 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le '%s.src.avi' && mencoder -really-quiet '%s.src.avi' -ovc copy "
     "-oac copy -o '%s' >/dev/null 2>&1; rm -f '%s.src.avi'",
     false, false},
    {"gstreamer", "gst-launch-1.0",
     "gst-launch-1.0 -q avimux name=m ! filesink location='%s' videotestsrc num-buffers=420 pattern=black ! "
     "video/x-raw,format=BGR,width=1280,height=720,framerate=25/1 ! m. audiotestsrc num-buffers=200 ! "
     "audio/x-raw,format=S16LE,rate=8000,channels=1 ! m. >/dev/null 2>&1",
     false, false},
};

std::string Expand(const char* templ, const std::string& path) {
  std::string out;
  for (const char* c = templ; *c; ++c) {
    if (c[0] == '%' && c[1] == 's') {
      out += path;
      ++c;
    } else {
      out += *c;
    }
  }
  return out;
}

VEKRiff::ScanResult ScanOf(const Input& in, const std::vector<std::int64_t>& oldIndexes = {}) {
  VEKRiff::ScanResult scan;
  scan.Headers = in.Headers;
  scan.SegmentList = in.Segments;
  scan.Entries = in.Entries;
  scan.OldIndexChunks = oldIndexes;
  return scan;
}

void Rewrite(const std::string& source, const std::string& destination, const Input& in,
             const std::vector<std::int64_t>& oldIndexes) {
  BackupFile file(source != destination ? BackupFile::Mode::Copy : BackupFile::Mode::InPlace, source, destination,
                  source != destination);
  // A mirror holds what has been read or skipped over: the walk has been
  // through the whole file by the time the indexes are written.
  if (!file.InPlace()) file.Seek(0, 2);
  const VEKRiff::ScanResult scan = ScanOf(in, oldIndexes);
  const std::int64_t expectedEnd = in.Segments.back().End + VEKRiff::OdmlIndexBytes(scan);
  VEKRiff::WriteOdmlIndexes(file, scan, {});
  EXPECT_EQ(file.Position(), expectedEnd);
  file.Truncate();
}

void CheckResult(const std::string& label, const std::string& path, const Parsed& original, const Input& in,
                 const std::string& packets, double seekAt) {
  SCOPED_TRACE(label);
  OdmlReader reader(path);
  const Parsed after = reader.Parse();
  EXPECT_TRUE(after.ChainReachesEnd);
  EXPECT_EQ(after.Problems, std::vector<std::string>{});
  ASSERT_EQ(after.Riffs.size(), original.Riffs.size());
  for (std::size_t i = 0; i < after.Riffs.size(); ++i) {
    EXPECT_EQ(after.Riffs[i].Position, original.Riffs[i].Position);
    // Every movi list ends at its data, except the last, which holds the new ix## after it.
    if (i + 1 < after.Riffs.size()) {
      EXPECT_EQ(after.Riffs[i].MoviEnd, in.Segments[i].End + (in.Segments[i].End & 1));
    }
    EXPECT_EQ(after.Riffs[i].DataEnd, original.Riffs[i].DataEnd);
  }
  EXPECT_EQ(after.IndexChunksInData, std::vector<std::int64_t>{});
  EXPECT_TRUE(after.Chunks == original.Chunks) << after.Chunks.size() << " chunks described, the muxer's "
                                               << original.Chunks.size();
  EXPECT_TRUE(after.Idx1 == original.Idx1) << after.Idx1.size() << " idx1 entries, the muxer's "
                                           << original.Idx1.size();
  EXPECT_FALSE(after.Idx1FromFileStart);
  EXPECT_NE(after.AvihFlags & 0x10, 0u);
  std::int64_t video = 0;
  for (const Described& c : original.Chunks)
    if (std::get<0>(c) == 0) ++video;
  EXPECT_EQ(after.Dmlh, video);
  EXPECT_EQ(after.Durations, original.Durations);
  EXPECT_EQ(PacketCounts(path), packets);
  EXPECT_EQ(DecodeErrors(path, seekAt), "");
}

TEST(OdmlWriter, RewritesTheIndexesEveryMuxerWroteOverOneGigabyte) {
  for (const MuxerRow& row : Muxers) {
    SCOPED_TRACE(row.Name);
    if (!HaveTool(row.Tool) || !HaveTool("ffprobe")) {
      std::printf("[  SKIPPED ] %s: %s is not installed\n", row.Name, row.Tool);
      continue;
    }
    TempDir dir;
    const std::string path = dir / (std::string(row.Name) + ".avi");
    ASSERT_EQ(std::system(Expand(row.Command, path).c_str()), 0) << row.Command;
    OdmlReader reader(path);
    const Parsed original = reader.Parse();
    // The oracle must be an OpenDML file the reader understands whole.
    ASSERT_TRUE(original.ChainReachesEnd);
    ASSERT_GE(original.Riffs.size(), 2u);
    ASSERT_EQ(original.Problems, std::vector<std::string>{});
    ASSERT_FALSE(original.Idx1.empty());
    ASSERT_FALSE(original.Chunks.empty());
    Input in = InputFrom(reader, original);
    ASSERT_EQ(in.Headers.Streams.size(), 2u);
    const std::string packets = PacketCounts(path);
    std::int64_t frames = 0;
    for (const Described& c : original.Chunks)
      if (std::get<0>(c) == 0) ++frames;
    const double seekAt = static_cast<double>(frames - 5) / 25.0;  // in the last segment
    if (row.HasNonKeyFrames) {
      ASSERT_TRUE(std::any_of(original.Chunks.begin(), original.Chunks.end(),
                              [](const Described& c) { return !std::get<3>(c); }));
    }

    const std::string copy = dir / "copy.avi";
    Rewrite(path, copy, in, original.IndexChunksInData);
    CheckResult("mirror copy", copy, original, in, packets, seekAt);
    std::remove(copy.c_str());

    if (row.InPlaceOnJunkReserve) {
      BackupFile patch(BackupFile::Mode::InPlace, path);
      for (const VEKAvi::StreamHeader& s : in.Headers.Streams) {
        ASSERT_GE(s.IndxPos, 0);
        patch.Seek(s.IndxPos, 0);
        patch.Write("JUNK", 4);
      }
    }
    OdmlReader patched(path);
    in.Headers = InputFrom(patched, patched.Parse()).Headers;
    Rewrite(path, path, in, original.IndexChunksInData);
    CheckResult("in place", path, original, in, packets, seekAt);
  }
}

// Files whose reserved header space cannot take the super index are refused
// before a byte is written.
TEST(OdmlWriter, RefusesBeforeWritingAnything) {
  using VEKRiff::Segment;
  struct Row {
    const char* Name;
    std::int64_t IndxPos, JunkPos;
    std::uint32_t ReserveSize;
    VEKRiff::Segments Segments;
    std::int64_t SecondEntry;
    const VEK::MessagePair& Message;
    std::int64_t Slots;  // what the message reports
  };
  const VEKRiff::Segments two = {{0, 600, 1000}, {1000, 1012, 1400}};
  const Row rows[] = {
      {"no reserve", -1, -1, 0, two, 1024, VEKRiff::Msg::OdmlNoIndexSpace, 0},
      {"indx with one slot for two", 100, -1, 24 + 16, two, 1024, VEKRiff::Msg::OdmlIndexSpaceTooSmall, 1},
      {"JUNK shorter than the super index header", -1, 100, 20, two, 1024, VEKRiff::Msg::OdmlIndexSpaceTooSmall, 0},
      {"segments overlap", 100, -1, 4120, {{0, 600, 1100}, {1000, 1012, 1400}}, 1024,
       VEKRiff::Msg::OdmlBadSegments, 0},
      {"entry outside every movi list", 100, -1, 4120, two, 1004, VEKRiff::Msg::OdmlBadSegments, 0},
  };
  TempDir dir;
  Bytes bytes(1600);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7 + 3);
  const std::string path = dir / "small.avi";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    WriteFile(path, bytes);
    VEKAvi::AviHeaders headers;
    headers.Streams.resize(1);
    headers.Streams[0].Type = VEKAvi::CodeVids;
    headers.Streams[0].IndxPos = row.IndxPos;
    headers.Streams[0].JunkPos = row.JunkPos;
    (row.IndxPos >= 0 ? headers.Streams[0].IndxSize : headers.Streams[0].JunkSize) = row.ReserveSize;
    headers.DmlhPos = 40;
    VEKRiff::IndexEntries entries;
    entries.emplace_back(VEKAvi::MakeFourCC("00dc"), VEKAvi::AVIIF_KEYFRAME, 612, 100);
    entries.emplace_back(VEKAvi::MakeFourCC("00dc"), 0, row.SecondEntry, 100);
    const std::string expected = VEK::Text(row.Message, {0, row.Slots, 2});
    try {
      VEKRiff::OdmlIndexBytes(ScanOf({headers, row.Segments, entries}));
      ADD_FAILURE() << "OdmlIndexBytes accepted it";
    } catch (const VEKRiff::ErrorException& e) {
      EXPECT_EQ(e.Message(), expected);
    }
    {
      BackupFile file(BackupFile::Mode::InPlace, path);
      try {
        VEKRiff::WriteOdmlIndexes(file, ScanOf({headers, row.Segments, entries}), {});
        ADD_FAILURE() << "WriteOdmlIndexes accepted it";
      } catch (const VEKRiff::ErrorException& e) {
        EXPECT_EQ(e.Message(), expected);
      }
    }
    EXPECT_TRUE(ReadFile(path) == bytes);
  }
}

// A small two-segment file made here, for what the muxers' files never show:
// an old ix## inside the data, a first segment ending on an odd byte, gaps
// before the second RIFF of every size around that of the new idx1, and the
// odml list still a JUNK reserve.
struct SmallFile {
  Bytes Data;
  std::int64_t OldIndex = 0;
  VEKRiff::Segments Segments;
  VEKRiff::IndexEntries Entries;
  std::set<Described> Chunks;
};

SmallFile MakeSmall(std::int64_t gap) {
  SmallFile f;
  Bytes& b = f.Data;
  const auto put = [&b](std::string_view text) { b.insert(b.end(), text.begin(), text.end()); };
  const auto put32 = [&b](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
  };
  const auto patch32 = [&b](std::size_t at, std::uint32_t v) { VEK::StoreLe32(&b[at], v); };
  const auto chunk = [&](std::string_view code, std::uint32_t size, unsigned char fill) {
    const auto at = static_cast<std::int64_t>(b.size());
    put(code);
    put32(size);
    b.insert(b.end(), size + (size & 1), fill);
    return at;
  };
  put("RIFF");
  put32(0);
  put("AVI LIST");
  put32(0);
  put("hdrlavih");
  put32(56);
  const std::size_t avih = b.size();
  b.insert(b.end(), 56, 0);
  patch32(avih + 12, 0x10);  // AVIF_HASINDEX
  patch32(avih + 24, 1);     // one stream
  put("LIST");
  put32(4 + 64 + 48 + 8 + 88);
  put("strlstrh");
  put32(56);
  const std::size_t strh = b.size();
  b.insert(b.end(), 56, 0);
  std::memcpy(&b[strh], "vidsDIB ", 8);
  patch32(strh + 20, 1);
  patch32(strh + 24, 25);
  put("strf");
  put32(40);
  const std::size_t strf = b.size();
  b.insert(b.end(), 40, 0);
  patch32(strf, 40);
  patch32(strf + 4, 4);
  patch32(strf + 8, 4);
  patch32(strf + 12, 1 | (24 << 16));
  chunk("JUNK", 24 + 4 * 16, 0);  // ffmpeg's reserve for the super index
  chunk("JUNK", 256, 0);          // and for the odml list
  patch32(16, static_cast<std::uint32_t>(b.size() - 20));
  const auto movi1 = static_cast<std::int64_t>(b.size());
  put("LIST");
  put32(0x7FFFFFF0);  // an old size running past the segment
  put("movi");
  const std::int64_t a = chunk("00dc", 100, 0x11);
  f.OldIndex = chunk("ix00", 24, 0x22);
  const std::int64_t c = chunk("00dc", 101, 0x33);
  const std::int64_t end1 = c + 8 + 101;  // odd: the pad byte is not data
  b.resize(static_cast<std::size_t>(end1 + 1 + gap), 0xEE);
  const auto riff2 = static_cast<std::int64_t>(b.size());
  put("RIFF");
  put32(0);
  put("AVIXLIST");
  put32(0);
  put("movi");
  const std::int64_t d = chunk("00dc", 50, 0x44);
  const auto end2 = static_cast<std::int64_t>(b.size());
  chunk("ix00", 40, 0x55);  // the old index of the last segment, beyond its data
  f.Segments = {{0, movi1, end1}, {riff2, riff2 + 12, end2}};
  f.Entries.emplace_back(VEKAvi::MakeFourCC("00dc"), VEKAvi::AVIIF_KEYFRAME, a, 100);
  f.Entries.emplace_back(VEKAvi::MakeFourCC("00dc"), 0, c, 101);
  f.Entries.emplace_back(VEKAvi::MakeFourCC("00dc"), VEKAvi::AVIIF_KEYFRAME, d, 50);
  f.Chunks = {{0, a + 8, 100, true}, {0, c + 8, 101, false}, {0, d + 8, 50, true}};
  return f;
}

TEST(OdmlWriter, FirstSegmentGapsOldIndexesAndReserves) {
  struct Row {
    std::int64_t Gap;  // bytes between the first segment's padded end and the next RIFF
    bool Idx1;         // whether a new idx1 of 2 entries (40 bytes) fits there
  };
  const Row rows[] = {{40, true}, {48, true}, {60, true}, {44, false}, {30, false}, {0, false}};
  TempDir dir;
  for (const Row& row : rows) {
    for (const bool inPlace : {false, true}) {
      SCOPED_TRACE("gap " + std::to_string(row.Gap) + (inPlace ? " in place" : " mirror"));
      const SmallFile f = MakeSmall(row.Gap);
      const std::string source = dir / "small.avi";
      const std::string result = inPlace ? source : dir / "copy.avi";
      std::remove(result.c_str());
      WriteFile(source, f.Data);
      Input in;
      in.Headers = VEKAvi::ReadHeaders(&f.Data[12], 8 + VEK::LoadLe32(&f.Data[16]), 12);
      in.Segments = f.Segments;
      in.Entries = f.Entries;
      Rewrite(source, result, in, {f.OldIndex});

      OdmlReader reader(result);
      const Parsed after = reader.Parse();
      EXPECT_TRUE(after.ChainReachesEnd);
      EXPECT_EQ(after.Problems, std::vector<std::string>{});
      ASSERT_EQ(after.Riffs.size(), 2u);
      EXPECT_TRUE(after.Chunks == f.Chunks);
      EXPECT_EQ(after.IndexChunksInData, std::vector<std::int64_t>{});
      EXPECT_EQ(after.Riffs[0].MoviEnd, f.Segments[0].End + 1);
      EXPECT_EQ(after.Dmlh, 3);
      EXPECT_EQ(after.Idx1.size(), row.Idx1 ? 2u : 0u);
      if (row.Idx1) {
        EXPECT_EQ(after.Idx1[1].Position, f.Entries[1].Position());
        EXPECT_EQ(after.Idx1[1].Flags, 0u);
      }
      EXPECT_EQ(after.AvihFlags & 0x10, row.Idx1 ? 0x10u : 0u);
      // Not one byte of the chunks' data changed.
      const Bytes out = ReadFile(result);
      for (const OldIndexEntry& e : f.Entries) {
        const auto from = static_cast<std::size_t>(e.Position());
        ASSERT_GE(out.size(), from + 8 + e.Size);
        EXPECT_TRUE(std::equal(&f.Data[from], &f.Data[from + 8 + e.Size], &out[from]));
      }
    }
  }
}

}  // namespace
