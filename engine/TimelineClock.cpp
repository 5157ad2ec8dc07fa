#include "engine/TimelineClock.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "avi/AviChunk.h"
#include "avi/HeaderRecords.h"

namespace VEKRiff {

using namespace VEKAvi;

namespace {

std::int64_t Padded(std::int64_t end) { return end + (end & 1); }

// How players count a stream's time: in units of Seconds each, a unit being
// a chunk (a frame, a sound frame) or UnitBytes bytes of sound.
struct Clock {
  bool Known = false;
  std::uint32_t UnitBytes = 0;  // 0: a unit is a chunk
  long double Seconds = 0;
  long double UnitsOf(std::uint32_t size) const {
    return UnitBytes > 0 ? static_cast<long double>(size) / UnitBytes : 1;
  }
};

Clock VideoClock(const StreamHeader& h) {
  Clock c;
  if (!h.Readable || !h.IsVideo() || h.Rate == 0 || h.Scale == 0) return c;
  c.Seconds = static_cast<long double>(h.Scale) / h.Rate;
  c.Known = true;
  return c;
}

Clock SoundClock(const StreamHeader& h) {
  Clock c;
  if (!h.Readable || !h.IsAudio() || h.Rate == 0 || h.Scale == 0 || h.Strf.size() < WaveFormatEx::Needed) return c;
  const WaveFormatEx f = WaveFormatEx::Load(h.Strf.data(), static_cast<std::uint32_t>(h.Strf.size()));
  c.Seconds = static_cast<long double>(h.Scale) / h.Rate;
  if (h.SampleSize > 0) {
    // Constant rate: a block each Scale / Rate seconds, at the bytes per
    // second the format says too. Players take the format's block where the
    // two sizes part: then the headers contradict each other.
    if (f.BlockAlign != h.SampleSize || f.AvgBytesPerSec == 0) return c;
    const long double perSecond = static_cast<long double>(h.SampleSize) / c.Seconds;
    if (std::fabs(perSecond - f.AvgBytesPerSec) > perSecond / 100) return c;
    c.UnitBytes = h.SampleSize;
  } else if (f.FormatTag != WaveFormatEx::TagMp3 && f.FormatTag != WaveFormatEx::TagMpeg &&
             f.FormatTag != WaveFormatEx::TagAc3) {
    // Only these are stored a frame to a chunk, as muxers write them;
    // other sound counted in chunks holds no known length each.
    return c;
  }
  c.Known = true;
  return c;
}

// Fewer chunks of a stream than this on either side of a stretch tell
// nothing of the interleave there.
constexpr std::int64_t MinChunks = 4;
// How many chunks on each side of a stretch are read: some seconds of film,
// a few key frames' worth of picture.
constexpr std::size_t Window = 256;

// One stream's chunks on one side of a stretch.
struct Side {
  std::int64_t Chunks = 0;
  long double Units = 0;
  std::int64_t FileBytes = 0;  // with their headers and pad bytes
  // How far each chunk's start runs ahead of the picture's clock.
  std::vector<long double> Leads;
  FourCC Code = 0;
  std::vector<std::uint32_t> Sizes;
};

// The chunks [from, to) of the walk, each stream's clock running from units.
void Gather(const ScanResult& s, const std::vector<Clock>& clocks, int video, std::size_t from, std::size_t to,
            std::vector<long double>& units, std::vector<Side>* sides) {
  for (std::size_t i = from; i < to; ++i) {
    const OldIndexEntry& e = s.Entries[i];
    if (ChunkKind(e.ChunkId) == KindPalette) continue;
    const std::size_t stream = static_cast<std::size_t>(StreamNumber(e.ChunkId, s.Numbering));
    const long double u = clocks[stream].UnitsOf(e.Size);
    if (sides) {
      Side& side = (*sides)[stream];
      ++side.Chunks;
      side.Units += u;
      side.FileBytes += ChunkHeader::Size + Padded(e.Size);
      // Sound written before the first frame (mencoder's half second ahead)
      // leads no picture yet.
      if (units[video] > 0)
        side.Leads.push_back(units[stream] * clocks[stream].Seconds - units[video] * clocks[video].Seconds);
      side.Code = e.ChunkId;
      side.Sizes.push_back(e.Size);
    }
    units[stream] += u;
  }
}

// The size most of the chunks have.
std::uint32_t Typical(std::vector<std::uint32_t> sizes) {
  std::sort(sizes.begin(), sizes.end());
  std::uint32_t best = 0;
  std::size_t bestRun = 0;
  for (std::size_t i = 0; i < sizes.size();) {
    std::size_t j = i;
    while (j < sizes.size() && sizes[j] == sizes[i]) ++j;
    if (j - i > bestRun) best = sizes[i], bestRun = j - i;
    i = j;
  }
  return best;
}

// How far a stream's chunks run ahead of the picture, as a muxer keeps them:
// the mean of the middle half, so that a chunk written late or early weighs
// nothing.
long double Lead(std::vector<long double> leads) {
  std::sort(leads.begin(), leads.end());
  const std::size_t from = leads.size() / 4, to = leads.size() - leads.size() / 4;
  long double sum = 0;
  for (std::size_t i = from; i < to; ++i) sum += leads[i];
  return sum / static_cast<long double>(to - from);
}

// What one stretch is estimated to have held.
struct Estimate {
  std::int64_t Offset = 0;
  std::size_t Before = 0;
  bool Placed = false;
  std::vector<long double> Seconds;  // by stream: its time lost; 0 for a stream with no chunk around
  std::vector<FourCC> Codes;
  std::vector<std::uint32_t> Sizes;  // a lost chunk's size: the typical one around the stretch
};

Estimate EstimateStretch(const std::vector<Clock>& clocks, int video, std::int64_t bytes, const std::vector<Side>& before,
                         const std::vector<Side>& after) {
  Estimate out;
  const std::size_t streams = clocks.size();
  out.Seconds.assign(streams, 0);
  out.Codes.assign(streams, 0);
  out.Sizes.assign(streams, 0);
  // Each stream's bytes in the file per second of its time, and how much
  // more time than the picture it lost: its lead over the picture's clock
  // before the stretch less its lead after.
  std::vector<long double> rate(streams, 0), ahead(streams, 0);
  long double rates = 0, aheadBytes = 0;
  for (std::size_t k = 0; k < streams; ++k) {
    const Side& b = before[k];
    const Side& a = after[k];
    if (b.Chunks + a.Chunks == 0) continue;
    if (b.Chunks < MinChunks || a.Chunks < MinChunks) return out;
    if (static_cast<int>(k) != video &&
        static_cast<std::int64_t>(std::min(b.Leads.size(), a.Leads.size())) < MinChunks)
      return out;
    const long double seconds = (b.Units + a.Units) * clocks[k].Seconds;
    if (seconds <= 0) return out;
    rate[k] = static_cast<long double>(b.FileBytes + a.FileBytes) / seconds;
    if (static_cast<int>(k) != video) ahead[k] = Lead(b.Leads) - Lead(a.Leads);
    rates += rate[k];
    aheadBytes += rate[k] * ahead[k];
    out.Codes[k] = b.Code;
    std::vector<std::uint32_t> sizes = b.Sizes;
    sizes.insert(sizes.end(), a.Sizes.begin(), a.Sizes.end());
    out.Sizes[k] = Typical(std::move(sizes));
    if (clocks[k].UnitBytes > 0) out.Sizes[k] = std::max(out.Sizes[k] / clocks[k].UnitBytes, 1u) * clocks[k].UnitBytes;
  }
  if (rate[static_cast<std::size_t>(video)] <= 0) return out;
  // The stretch's bytes are every stream's lost time at its rate.
  const long double picture = (static_cast<long double>(bytes) - aheadBytes) / rates;
  for (std::size_t k = 0; k < streams; ++k) {
    if (rate[k] <= 0) continue;
    const long double lost = picture + ahead[k];
    // More than a chunk's time below nothing: the interleave around the
    // stretch is no muxer's, or the clocks disagree with the bytes.
    const long double chunk = clocks[k].Seconds * clocks[k].UnitsOf(out.Sizes[k]);
    if (lost < -chunk) return out;
    out.Seconds[k] = std::max<long double>(0, lost);
  }
  out.Placed = true;
  return out;
}

// Shares total out over the weights, the largest remainders first, so that
// the shares add up to it.
std::vector<std::int64_t> Shares(std::int64_t total, const std::vector<long double>& weights) {
  std::vector<std::int64_t> shares(weights.size(), 0);
  long double sum = 0;
  for (long double w : weights) sum += w;
  if (total <= 0 || sum <= 0) return shares;
  std::vector<std::pair<long double, std::size_t>> remainders;
  std::int64_t given = 0;
  for (std::size_t i = 0; i < weights.size(); ++i) {
    const long double exact = static_cast<long double>(total) * weights[i] / sum;
    shares[i] = static_cast<std::int64_t>(exact);
    given += shares[i];
    remainders.emplace_back(exact - static_cast<long double>(shares[i]), i);
  }
  std::stable_sort(remainders.begin(), remainders.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (std::size_t k = 0; given < total && k < remainders.size(); ++k, ++given) ++shares[remainders[k].second];
  return shares;
}

}  // namespace

Timeline TimelineFromClocks(const ScanResult& s, bool lengthsCount) {
  Timeline out;
  const IndexEntries& walked = s.Entries;
  const std::vector<StreamHeader>& headers = s.Headers.Streams;
  if (s.IsOpenDml() || s.Damage.empty() || walked.empty()) return out;
  // The film's picture is its first video stream; every other stream in the
  // data must be sound on a clock.
  std::vector<Clock> clocks(headers.size());
  int video = -1;
  for (std::size_t k = 0; k < headers.size(); ++k) {
    if (headers[k].IsVideo() && video < 0) {
      clocks[k] = VideoClock(headers[k]);
      if (clocks[k].Known) video = static_cast<int>(k);
    } else if (headers[k].IsAudio()) {
      clocks[k] = SoundClock(headers[k]);
    }
  }
  if (video < 0) return out;
  std::vector<long double> found(headers.size(), 0);  // each stream's units in the data
  bool sound = false;
  for (const OldIndexEntry& e : walked) {
    if (ChunkKind(e.ChunkId) == KindPalette) continue;
    const int stream = StreamNumber(e.ChunkId, s.Numbering);
    if (stream < 0 || static_cast<std::size_t>(stream) >= headers.size() || !clocks[stream].Known) return out;
    sound = sound || stream != video;
    found[stream] += clocks[stream].UnitsOf(e.Size);
  }
  if (!sound) return out;

  // One estimate for each place in the walk's entries that damage lies
  // before, with kept chunks on both sides.
  std::vector<Estimate> estimates;
  std::vector<long double> units(headers.size(), 0);  // the clocks at the entry reached
  std::size_t reached = 0;
  bool allPlaced = s.DamageCount == static_cast<std::int64_t>(s.Damage.size());
  for (std::size_t d = 0; d < s.Damage.size();) {
    const std::size_t split = FirstEntryFrom(walked, s.Damage[d].From);
    const std::int64_t offset = s.Damage[d].From;
    while (d < s.Damage.size() && FirstEntryFrom(walked, s.Damage[d].From) == split) ++d;
    if (split == 0 || split >= walked.size()) {
      allPlaced = false;
      continue;
    }
    const std::size_t next = d < s.Damage.size() ? FirstEntryFrom(walked, s.Damage[d].From) : walked.size();
    const std::size_t from = std::max(reached, split > Window ? split - Window : 0);
    Gather(s, clocks, video, reached, from, units, nullptr);
    std::vector<Side> before(headers.size()), after(headers.size());
    Gather(s, clocks, video, from, split, units, &before);
    reached = split;
    std::vector<long double> ahead = units;
    Gather(s, clocks, video, split, std::min(next, split + Window), ahead, &after);
    const OldIndexEntry& last = walked[split - 1];
    const std::int64_t bytes =
        walked[split].Position() - Padded(last.Position() + ChunkHeader::Size + std::int64_t{last.Size});
    if (bytes < static_cast<std::int64_t>(ChunkHeader::Size)) {
      allPlaced = false;
      continue;
    }
    Estimate estimate = EstimateStretch(clocks, video, bytes, before, after);
    estimate.Offset = offset;
    estimate.Before = split;
    allPlaced = allPlaced && estimate.Placed;
    if (estimate.Placed) estimates.push_back(std::move(estimate));
  }
  if (estimates.empty()) return out;

  // Each stream's lost units in each stretch: the headers' lengths less
  // what the data holds, where they count the film and agree with the
  // estimates, shared out by them; otherwise the estimates themselves.
  std::vector<std::vector<std::int64_t>> lost(headers.size());
  for (std::size_t k = 0; k < headers.size(); ++k) {
    if (!clocks[k].Known) continue;
    std::vector<long double> weights;
    long double estimated = 0, chunk = 0;
    for (const Estimate& e : estimates) {
      weights.push_back(e.Seconds[k] / clocks[k].Seconds);
      estimated += weights.back();
      chunk = std::max(chunk, clocks[k].UnitsOf(e.Sizes[k]));
    }
    const std::int64_t missing = static_cast<std::int64_t>(headers[k].Length) - std::llround(found[k]);
    const bool counted = lengthsCount && allPlaced && headers[k].Length > 0 && missing >= 0 &&
                         std::fabs(static_cast<long double>(missing) - estimated) <= estimated / 4 + 2 * chunk;
    if (counted) {
      lost[k] = Shares(missing, weights);
    } else {
      for (long double w : weights) lost[k].push_back(std::llround(w));
    }
  }

  for (std::size_t g = 0; g < estimates.size() && out.Chunks.size() < MaxLostChunks; ++g) {
    const Estimate& e = estimates[g];
    StretchLoss stretch;
    stretch.Offset = e.Offset;
    stretch.Before = e.Before;
    stretch.First = out.Chunks.size();
    // Each stream's lost chunks, in time order across the streams, as a
    // muxer writes them.
    std::vector<std::int64_t> left(headers.size(), 0);  // units still to place
    std::vector<long double> at(headers.size(), 0);     // the next chunk's start
    for (std::size_t k = 0; k < headers.size(); ++k)
      if (!lost[k].empty() && e.Codes[k] != 0) left[k] = lost[k][g];
    while (out.Chunks.size() < MaxLostChunks) {
      std::size_t pick = headers.size();
      for (std::size_t k = 0; k < headers.size(); ++k)
        if (left[k] > 0 && (pick == headers.size() || at[k] < at[pick])) pick = k;
      if (pick == headers.size()) break;
      const Clock& c = clocks[pick];
      std::int64_t take = 1;
      std::uint32_t size = e.Sizes[pick];
      if (c.UnitBytes > 0) {
        take = std::min<std::int64_t>(left[pick], size / c.UnitBytes);
        size = static_cast<std::uint32_t>(take) * c.UnitBytes;
      }
      left[pick] -= take;
      at[pick] += static_cast<long double>(take) * c.Seconds;
      out.Chunks.push_back({e.Codes[pick], size});
      ++stretch.Count;
      if (stretch.Streams.size() <= pick) stretch.Streams.resize(pick + 1);
      ++stretch.Streams[pick].Chunks;
      stretch.Streams[pick].Bytes += size;
    }
    if (stretch.Count > 0) out.Stretches.push_back(std::move(stretch));
  }
  return out;
}

}  // namespace VEKRiff
