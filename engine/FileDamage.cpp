#include "engine/FileDamage.h"

#include <algorithm>
#include <cmath>

#include "avi/AviChunk.h"
#include "engine/MoviWalk.h"

namespace VEKRiff {

namespace {

// The film's length as its headers tell it, in video frames: the video
// stream's own, else the OpenDML total, else the main header's of a file of
// one RIFF. 0: they do not tell.
std::int64_t HeaderFrames(const ScanResult& scan) {
  const VEKAvi::AviHeaders& h = scan.Headers;
  for (const VEKAvi::StreamHeader& s : h.Streams)
    if (s.Readable && s.IsVideo() && s.Length > 0) return s.Length;
  if (h.DmlhPos >= 0 && h.DmlhTotalFrames > 0) return h.DmlhTotalFrames;
  if (h.TotalFramesPos >= 0 && !scan.IsOpenDml()) return h.TotalFrames;
  return 0;
}

// Shares total out over the weights, the largest remainders first, so that
// the shares add up to it.
std::vector<std::int64_t> Shares(std::int64_t total, const std::vector<std::int64_t>& weights) {
  std::vector<std::int64_t> shares(weights.size(), 0);
  long double sum = 0;
  for (std::int64_t w : weights) sum += static_cast<long double>(w);
  if (total <= 0 || sum <= 0) return shares;
  std::vector<std::pair<long double, std::size_t>> remainders;
  std::int64_t given = 0;
  for (std::size_t i = 0; i < weights.size(); ++i) {
    const long double exact = static_cast<long double>(total) * static_cast<long double>(weights[i]) / sum;
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

FileDamage DamageOf(const ScanResult& scan, std::int64_t size, std::int64_t usableEnd) {
  FileDamage damage;
  damage.Size = size;
  damage.Extent = size;
  damage.UsableEnd = std::min(usableEnd, size);
  damage.Count = scan.DamageCount;

  // The video frames the data holds, and its bytes per frame (every chunk's,
  // the sound's too: the bytes a stretch of film takes in the file).
  std::int64_t frames = 0, dataBytes = 0;
  for (const OldIndexEntry& e : scan.Entries) {
    frames += VEKAvi::IsVideoKind(e.ChunkId);
    dataBytes += VEKAvi::ChunkHeader::Size + std::int64_t{e.Size} + (e.Size & 1);
  }
  const double bytesPerFrame = frames > 0 ? static_cast<double>(dataBytes) / static_cast<double>(frames) : 0;
  auto framesIn = [&](std::int64_t bytes) -> std::int64_t {
    return bytesPerFrame > 0 ? std::llround(static_cast<double>(bytes) / bytesPerFrame) : 0;
  };
  auto at = [&](std::int64_t frame) { return FilmPositionOf(scan.Headers, frame); };

  // A header's length far beyond what the data holds is a damaged field, no film.
  std::int64_t claimed = HeaderFrames(scan);
  if (claimed > 1000 * (frames + 1)) claimed = 0;
  const std::int64_t missing = std::max<std::int64_t>(0, claimed - frames);
  // Cut short: the file ends inside a chunk; or, in a file of one RIFF
  // without damage, the walk ran to its end and no whole legacy index ends
  // it. Where the data has stretches that went, and nothing says the file
  // was cut, the frames the header misses are theirs.
  const bool indexWhole = scan.OldIndexPosition >= 0 &&
                          size - scan.OldIndexPosition - VEKAvi::ChunkHeader::Size >= std::int64_t{scan.OldIndexSize};
  const bool cut = scan.EndsInsideChunk || (scan.Damage.empty() && scan.DamageCount == 0 && !scan.IsOpenDml() &&
                                            scan.End() >= size - VEKAvi::ChunkHeader::Size && !indexWhole);

  // The frames each stretch held: those the header misses, spread by bytes;
  // where the file is also cut short, or not every stretch is known, by the
  // data's bytes per frame, no more than the header misses.
  std::vector<std::int64_t> bytes;
  for (const DamagedStretch& d : scan.Damage) bytes.push_back(d.To - d.From);
  std::vector<std::int64_t> held;
  const bool allKnown = scan.DamageCount == static_cast<std::int64_t>(scan.Damage.size());
  if (claimed > 0 && !cut && allKnown) {
    held = Shares(missing, bytes);
  } else {
    for (std::int64_t b : bytes) held.push_back(framesIn(b));
    if (claimed > 0) {
      std::int64_t left = missing;
      for (std::int64_t& h : held) left -= (h = std::min(h, left));
    }
  }

  if (scan.StartLost) {
    // Up to the first chunk found; what it held nothing tells.
    const std::int64_t first =
        scan.Entries.empty() ? scan.MoviOffset + VEKAvi::ListHeader::Size : scan.Entries.front().Position();
    damage.Lost.push_back({LossKind::Start, 0, std::clamp<std::int64_t>(first, 0, size), std::nullopt, std::nullopt});
  }
  // The frames before each stretch: the video chunks in file order before it,
  // and those the stretches before it held.
  std::size_t entry = 0;
  std::int64_t before = 0, lostBefore = 0;
  for (std::size_t i = 0; i < scan.Damage.size(); ++i) {
    const DamagedStretch& d = scan.Damage[i];
    for (; entry < scan.Entries.size() && scan.Entries[entry].Position() < d.From; ++entry)
      before += VEKAvi::IsVideoKind(scan.Entries[entry].ChunkId);
    const std::int64_t first = before + lostBefore;
    damage.Lost.push_back({LossKind::Middle, d.From, d.To, at(first), at(first + held[i])});
    lostBefore += held[i];
  }
  const std::int64_t tail = cut ? missing - lostBefore : 0;
  if (tail > 0) {
    damage.FilmEnd = at(claimed - tail);
    damage.FilmLength = at(claimed);
    damage.Extent = size + std::max<std::int64_t>(1, std::llround(static_cast<double>(tail) * bytesPerFrame));
    damage.Lost.push_back({LossKind::End, size, damage.Extent, damage.FilmEnd, damage.FilmLength});
  }
  return damage;
}

}  // namespace VEKRiff
