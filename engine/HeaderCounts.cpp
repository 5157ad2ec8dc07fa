#include "engine/HeaderCounts.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "avi/AviChunk.h"
#include "avi/HeaderRecords.h"

namespace VEKRiff {

using namespace VEKAvi;

HeaderCounts CountsFromData(const ScanResult& scan) { return CountsFromData(scan, scan.Headers); }

HeaderCounts CountsFromData(const ScanResult& scan, const AviHeaders& headers) {
  const IndexEntries& entries = scan.Entries;
  HeaderCounts counts;
  // By stream number, whether or not its header could be read.
  constexpr std::size_t Numbers = 256;
  std::vector<std::int64_t> bytes(Numbers, 0), frames(Numbers, 0), firstSegmentFrames(Numbers, 0);
  std::vector<bool> video(Numbers, false);
  const std::int64_t firstEnd = scan.SegmentList.size() > 1 ? scan.SegmentList.front().End : INT64_MAX;
  for (const OldIndexEntry& e : entries) {
    const std::size_t s = static_cast<std::size_t>(StreamNumber(e.ChunkId, scan.Numbering));
    if (ChunkKind(e.ChunkId) == KindPalette || s >= Numbers) continue;
    ++frames[s];
    bytes[s] += e.Size;
    if (e.Position() < firstEnd) ++firstSegmentFrames[s];
    video[s] = video[s] || IsVideoKind(e.ChunkId);
  }
  counts.Streams.assign(headers.Streams.size(), 0);
  for (std::size_t s = 0; s < Numbers; ++s) {
    const StreamHeader* h = s < headers.Streams.size() && headers.Streams[s].Readable ? &headers.Streams[s] : nullptr;
    // Video counts frames; audio counts samples for a fixed sample size,
    // blocks (chunks) otherwise, as muxers write them.
    if (s < counts.Streams.size())
      counts.Streams[s] = h && h->IsAudio() && h->SampleSize > 0 ? bytes[s] / h->SampleSize : frames[s];
    if (h ? h->IsVideo() : video[s]) {
      counts.TotalFrames = std::max(counts.TotalFrames, firstSegmentFrames[s]);
      counts.AllFrames = std::max(counts.AllFrames, frames[s]);
    }
  }
  return counts;
}

std::int64_t SamplesOf(const StreamHeader& h, std::int64_t chunks, std::int64_t bytes) {
  if (!h.Readable || h.Rate == 0 || h.Scale == 0 || h.Strf.size() < WaveFormatEx::Needed) return chunks;
  const WaveFormatEx f = WaveFormatEx::Load(h.Strf.data(), static_cast<std::uint32_t>(h.Strf.size()));
  if (f.SamplesPerSec == 0) return chunks;
  const std::int64_t units = h.SampleSize > 0 ? bytes / h.SampleSize : chunks;
  // In 128 bits: a long film's units times a large scale and rate overflow 64.
  const __int128 samples = static_cast<__int128>(units) * h.Scale * f.SamplesPerSec;
  return static_cast<std::int64_t>((samples + h.Rate / 2) / h.Rate);
}

DataTotals TotalsFromData(const ScanResult& scan) { return TotalsFromData(scan, scan.Headers); }

DataTotals TotalsFromData(const ScanResult& scan, const AviHeaders& list) {
  constexpr std::size_t Numbers = 256;
  std::vector<std::int64_t> chunks(Numbers, 0), bytes(Numbers, 0);
  DataTotals totals;
  for (const OldIndexEntry& e : scan.Entries) {
    if (IsVideoKind(e.ChunkId)) ++totals.VideoFrames;
    if (ChunkKind(e.ChunkId) != KindAudio) continue;
    const std::size_t s = static_cast<std::size_t>(StreamNumber(e.ChunkId, scan.Numbering));
    if (s >= Numbers) continue;
    ++chunks[s];
    bytes[s] += e.Size;
  }
  const std::vector<StreamHeader>& headers = list.Streams;
  for (std::size_t s = 0; s < Numbers; ++s)
    if (chunks[s] > 0)
      totals.AudioSamples +=
          s < headers.size() && headers[s].IsAudio() ? SamplesOf(headers[s], chunks[s], bytes[s]) : chunks[s];
  return totals;
}

// GStreamer's avimux works an audio stream's length out from its duration, a
// unit or two off what the data holds; a length that close is no error (and
// is not rewritten). A cut download is off by far more.
bool StreamLengthAgrees(const ScanResult& scan, std::size_t stream, std::int64_t data) {
  const StreamHeader& h = scan.Headers.Streams[stream];
  const std::int64_t said = h.Length;
  if (!h.IsAudio()) return said == data;
  return std::abs(said - data) <= std::max<std::int64_t>(2, data / 1000);
}

bool MainHeaderFramesAgree(const ScanResult& scan, const HeaderCounts& counts) {
  // In an OpenDML file the main header counts the first RIFF's frames;
  // ffmpeg counts one more, the frame that opened the next RIFF. Readers
  // take the whole length from dmlh and the stream headers.
  const std::int64_t said = scan.Headers.TotalFrames;
  return said == counts.TotalFrames || (scan.SegmentList.size() > 1 && said == counts.TotalFrames + 1);
}

}  // namespace VEKRiff
