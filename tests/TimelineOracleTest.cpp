// A rebuilt copy plays every kept frame and sound packet at its own time
// across a lost stretch. The oracle is ffmpeg: it demuxes the undamaged film
// and the copy (framemd5, one line per packet), a packet is found again by
// its checksum, and its time in the copy must be its time in the film within
// one frame. Every packet whose chunk the damage left whole must be kept.
// Skipped when ffmpeg is not installed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/AviBuilder.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"

namespace {

using namespace ZantrelTest;

int Shell(const std::string& command) { return std::system(command.c_str()); }

struct Packet {
  int Stream = 0;
  double Seconds = 0;
  std::string Sum;
};

std::vector<Packet> Packets(const TempDir& dir, const std::string& path) {
  const std::string out = dir / "sums.txt";
  std::vector<Packet> packets;
  if (Shell("ffmpeg -nostdin -v quiet -threads 1 -i '" + path + "' -map 0 -c copy -copyinkf -f framemd5 - >'" + out + "'") != 0)
    return packets;
  const Bytes bytes = ReadFile(out);
  std::istringstream text(std::string(bytes.begin(), bytes.end()));
  std::map<int, double> timeBase;
  for (std::string line; std::getline(text, line);) {
    int stream = 0;
    long long num = 0, den = 0, dts = 0, pts = 0;
    char sum[64] = {};
    if (std::sscanf(line.c_str(), "#tb %d: %lld/%lld", &stream, &num, &den) == 3 && den > 0) {
      timeBase[stream] = static_cast<double>(num) / static_cast<double>(den);
    } else if (!line.empty() && line[0] != '#' &&
               std::sscanf(line.c_str(), "%d, %lld, %lld, %*d, %*d, %63s", &stream, &dts, &pts, sum) == 4) {
      packets.push_back({stream, static_cast<double>(pts) * timeBase[stream], sum});
    }
  }
  return packets;
}

struct OracleCase {
  std::string Name;
  std::string Codecs;
  // Where the zeroed stretch starts, as a share of the file, and its bytes.
  double From;
  std::int64_t Length;
  // The file cut where its idx1 began, as a download cut short: the
  // streams' clocks place what follows, an estimate held to a lower share.
  bool NoIndex = false;
  int Share = 99;
  // Rebuilt in place rather than as a copy: a file without an idx1 takes
  // its index in one go, the placeholders with it.
  bool InPlace = false;
  // The undamaged film given as the reference, as a healthy file from the
  // same camera: the formats a lost header list took are known.
  bool Reference = false;
};

// GStreamer's avimux, whose MP3 chunks are byte-timed and now and then
// hold several frames (its first does), in place of ffmpeg's codecs.
const char* const GStreamerNeeds =
    "command -v gst-launch-1.0 >/dev/null && gst-inspect-1.0 x264enc >/dev/null 2>&1 && "
    "gst-inspect-1.0 lamemp3enc >/dev/null 2>&1 && gst-inspect-1.0 avimux >/dev/null 2>&1";
const char* const GStreamerH264Mp3 =
    "gst-launch-1.0 -q videotestsrc num-buffers=150 pattern=ball "
    "! video/x-raw,width=320,height=240,framerate=25/1 ! x264enc ! avimux name=m "
    "! filesink location=FILM audiotestsrc num-buffers=260 wave=white-noise ! audio/x-raw,rate=44100,channels=2 "
    "! lamemp3enc target=bitrate bitrate=128 cbr=false ! m.";

TEST(TimelineOracle, KeptPacketsPlayAtTheirOwnTimeAfterALostStretch) {
  if (Shell("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  const std::vector<OracleCase> cases = {
      {"MPEG-4 and PCM, 64 KiB zeroed", "-c:v mpeg4 -c:a pcm_s16le", 0.5, 65536},
      {"MPEG-4 and MP3, 256 KiB zeroed", "-c:v mpeg4 -c:a libmp3lame", 0.4, 262144},
      {"MJPEG and PCM, 16 KiB zeroed", "-c:v mjpeg -c:a pcm_s16le", 0.5, 16384},
      {"MS-MPEG4 and AC-3, 64 KiB zeroed", "-c:v msmpeg4v3 -c:a ac3", 0.5, 65536},
      {"MPEG-4 and MP3, the first 16 KiB zeroed", "-c:v mpeg4 -c:a libmp3lame", 0, 16384},
      // Several frames and sound chunks lost with the header list: the
      // first kept ones play where they did only behind placeholders.
      {"MPEG-4 and MP3, the first 96 KiB zeroed", "-c:v mpeg4 -c:a libmp3lame", 0, 98304},
      {"MJPEG and MP3, the first 160 KiB zeroed", "-c:v mjpeg -c:a libmp3lame", 0, 163840},
      {"MPEG-4 and PCM without an index, 256 KiB zeroed", "-c:v mpeg4 -c:a pcm_s16le", 0.4, 262144, true, 95},
      {"MJPEG and PCM without an index, 64 KiB zeroed", "-c:v mjpeg -c:a pcm_s16le", 0.5, 65536, true, 95},
      {"MPEG-4 and MP3 without an index, 128 KiB zeroed", "-c:v mpeg4 -c:a libmp3lame", 0.6, 131072, true, 95},
      {"MS-MPEG4 and AC-3 without an index, 64 KiB zeroed", "-c:v msmpeg4v3 -c:a ac3", 0.4, 65536, true, 95},
      {"MPEG-4 and PCM without an index, 256 KiB zeroed, in place", "-c:v mpeg4 -c:a pcm_s16le", 0.4, 262144, true, 95,
       true},
      {"MPEG-4 and MP3 without an index, 128 KiB zeroed, in place", "-c:v mpeg4 -c:a libmp3lame", 0.6, 131072, true, 95,
       true},
      {"GStreamer H.264 and MP3 of several frames a chunk, the first 16 KiB zeroed, with a reference", GStreamerH264Mp3,
       0, 16384, false, 99, false, true},
  };
  for (const OracleCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    const std::string film = dir / "film.avi", damaged = dir / "damaged.avi";
    std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i anoisesrc=r=44100:seed=3 "
        "-t 6 -q:v 4 " + c.Codecs + " -f avi '" + film + "'";
    if (c.Codecs == GStreamerH264Mp3) {
      if (Shell(GStreamerNeeds) != 0) continue;  // GStreamer, or its x264enc or lamemp3enc, is not installed
      command = c.Codecs;
      command.replace(command.find("FILM"), 4, "'" + film + "'");
    }
    ASSERT_EQ(Shell(command), 0) << command;
    Bytes bytes = ReadFile(film);
    const ParsedIndex index = ReadIdx1(bytes);
    ASSERT_TRUE(index.Found);
    std::int64_t moviData = 0;
    for (std::size_t i = 12; i + 12 <= bytes.size() && moviData == 0; ++i)
      if (std::memcmp(&bytes[i], "LIST", 4) == 0 && std::memcmp(&bytes[i + 8], "movi", 4) == 0)
        moviData = static_cast<std::int64_t>(i) + 8;
    // ffmpeg's offsets count from "movi", GStreamer's from the file's start.
    ASSERT_FALSE(index.Entries.empty());
    const std::int64_t firstAt = index.Entries.front().Offset;
    const std::int64_t base =
        firstAt + 4 <= static_cast<std::int64_t>(bytes.size()) && VEK::LoadLe32(&bytes[firstAt]) == index.Entries.front().Code
            ? 0
            : moviData;
    const auto from = static_cast<std::int64_t>(static_cast<double>(bytes.size()) * c.From);
    const std::int64_t to = from + c.Length;
    std::fill(bytes.begin() + from, bytes.begin() + to, 0);
    if (c.NoIndex) bytes.resize(static_cast<std::size_t>(index.Position));
    WriteFile(damaged, bytes);
    // Whether each stream's chunks, in order, were left whole.
    std::map<int, std::vector<bool>> left;
    for (const ExpectedEntry& e : index.Entries) {
      const std::int64_t at = base + e.Offset;
      left[((e.Code & 0xFF) - '0') * 10 + (((e.Code >> 8) & 0xFF) - '0')].push_back(at + 8 + e.Size <= from ||
                                                                                     at >= to);
    }

    WorkerRunOptions rebuild;
    rebuild.CheckOnly = false;
    rebuild.KeepOriginal = !c.InPlace;
    if (c.Reference) rebuild.Reference = film;
    RunWorker({damaged}, rebuild);
    const std::vector<Packet> original = Packets(dir, film);
    const std::vector<Packet> copy = Packets(dir, c.InPlace ? damaged : dir / "Zantrel.damaged.avi");
    ASSERT_FALSE(original.empty());
    std::map<std::pair<int, std::string>, std::vector<double>> times;
    for (const Packet& p : original) times[{p.Stream, p.Sum}].push_back(p.Seconds);
    // The packets the damage left whole, by stream: ffmpeg gives a stream's
    // packets in its chunks' order. Only those found again by their sum count.
    std::map<int, int> whole, seen;
    for (const Packet& p : original) {
      const std::vector<bool>& chunks = left[p.Stream];
      const int k = seen[p.Stream]++;
      whole[p.Stream] += k < static_cast<int>(chunks.size()) && chunks[k] && times[{p.Stream, p.Sum}].size() == 1;
    }
    std::map<int, int> kept, onTime;
    for (const Packet& p : copy) {
      const auto t = times.find({p.Stream, p.Sum});
      if (t == times.end() || t->second.size() != 1) continue;  // a placeholder, or not one packet's
      ++kept[p.Stream];
      onTime[p.Stream] += std::abs(t->second.front() - p.Seconds) <= 0.04 + 1e-9;
    }
    for (const auto& [stream, count] : whole) {
      SCOPED_TRACE("stream " + std::to_string(stream));
      EXPECT_GE(kept[stream], count) << "packets the damage left whole are lost";
      EXPECT_GE(onTime[stream] * 100, kept[stream] * c.Share) << onTime[stream] << " of " << kept[stream] << " on time";
    }
  }
}

}  // namespace
