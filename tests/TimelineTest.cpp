// What each lost stretch held, from the file's own idx1. The oracle is the
// test's own writer: it knows which chunks it wrote where, so the chunks a
// zeroed stretch wiped out are known before the walk sees the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "engine/IndexSalvage.h"
#include "engine/MoviWalk.h"
#include "engine/Timeline.h"
#include "support/AviBuilder.h"
#include "support/TempDir.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;

struct Written {
  Bytes File;
  std::vector<ExpectedEntry> Chunks;
  std::int64_t Index = 0;  // the idx1's header
};

// Video and sound interleaved as muxers write them, with the muxer's idx1.
Written Film() {
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < 120; ++i)
    b.Chunk("00dc", 400u + static_cast<std::uint32_t>((i * 53) % 397), static_cast<unsigned char>(0x30 + i % 9))
        .Chunk("01wb", 200u + static_cast<std::uint32_t>(i % 2), 0x77);
  b.EndMovi();
  const std::int64_t index = b.Size();
  b.Idx1();
  return {b.Build(), b.StreamChunks(), index};
}

// What the expected timeline holds for a stretch: the chunks in it, and how
// many written chunks lie before it.
struct Expected {
  std::size_t Before = 0;
  std::int64_t Video = 0, VideoBytes = 0, Sound = 0, SoundBytes = 0;
};

struct TimelineCase {
  std::string Name;
  // Damages the file; returns the stretches whose chunks are lost, each as
  // the written chunks [first, last] wholly or partly overwritten.
  std::function<std::vector<std::pair<std::size_t, std::size_t>>(Written&)> Damage;
};

void Zero(Written& w, std::int64_t from, std::int64_t to) {
  std::fill(w.File.begin() + from, w.File.begin() + to, 0);
}

std::vector<TimelineCase> Cases() {
  // Chunks first to last zeroed from the middle of the first one's data to
  // the middle of the last one's: the walk keeps the first (its header is
  // whole), so the lost ones are those after it.
  auto zeroed = [](std::size_t first, std::size_t last) {
    return [=](Written& w) -> std::vector<std::pair<std::size_t, std::size_t>> {
      Zero(w, w.Chunks[first].Position + 12, w.Chunks[last].Position + 12);
      return {{first + 1, last}};
    };
  };
  return {
      {"a stretch over video and sound", zeroed(40, 51)},
      {"a stretch of one chunk", zeroed(100, 101)},
      {"two stretches", [](Written& w) -> std::vector<std::pair<std::size_t, std::size_t>> {
         Zero(w, w.Chunks[20].Position + 12, w.Chunks[25].Position + 12);
         Zero(w, w.Chunks[150].Position + 12, w.Chunks[171].Position + 12);
         return {{21, 25}, {151, 171}};
       }},
      // The start and the header list with it: the index still counts
      // from "movi", which is gone.
      {"a lost start", [](Written& w) -> std::vector<std::pair<std::size_t, std::size_t>> {
         Zero(w, 0, w.Chunks[7].Position + 12);
         return {{0, 7}};
       }},
      // An index whose entries for the stretch claim sizes running past it,
      // or past the file, is believed for none of them.
      {"entries that run past the stretch or the file", [](Written& w) -> std::vector<std::pair<std::size_t, std::size_t>> {
         Zero(w, w.Chunks[60].Position + 12, w.Chunks[64].Position + 12);
         for (std::size_t k : {61u, 62u, 63u, 64u})
           VEK::StoreLe32(&w.File[w.Index + 8 + 16 * k + 12], k == 61 ? 0x7FFFFFF0u : 5000u);
         return {};
       }},
      {"no damage", [](Written&) -> std::vector<std::pair<std::size_t, std::size_t>> { return {}; }},
  };
}

TEST(Timeline, EachLostStretchHoldsTheChunksTheWriterPutThere) {
  for (const TimelineCase& c : Cases()) {
    SCOPED_TRACE(c.Name);
    Written w = Film();
    const std::vector<std::pair<std::size_t, std::size_t>> lost = c.Damage(w);
    TempDir dir;
    WriteFile(dir / "a.avi", w.File);
    BackupFile file(BackupFile::Mode::Check, dir / "a.avi");
    const VEKRiff::WalkReport report{{}, {}, nullptr};
    const VEKRiff::ScanResult scan =
        VEKRiff::SalvageFromOldIndex(file, VEKRiff::Walk(file, report, VEKRiff::FindStart(file, {})), {}).Scan;
    const VEKRiff::Timeline timeline = VEKRiff::TimelineFromOldIndex(file, scan, {});

    ASSERT_EQ(timeline.Stretches.size(), lost.size());
    std::size_t lostBefore = 0;
    for (std::size_t s = 0; s < lost.size(); ++s) {
      const VEKRiff::StretchLoss& got = timeline.Stretches[s];
      Expected want;
      want.Before = lost[s].first - lostBefore;
      for (std::size_t k = lost[s].first; k <= lost[s].second; ++k) {
        const bool video = w.Chunks[k].Code == Code("00dc");
        (video ? want.Video : want.Sound) += 1;
        (video ? want.VideoBytes : want.SoundBytes) += w.Chunks[k].Size;
      }
      lostBefore += lost[s].second - lost[s].first + 1;
      EXPECT_EQ(got.Before, want.Before) << "stretch " << s;
      ASSERT_EQ(got.Count, lost[s].second - lost[s].first + 1) << "stretch " << s;
      // In the index's order, with their codes and sizes.
      for (std::size_t k = 0; k < got.Count; ++k) {
        EXPECT_EQ(timeline.Chunks[got.First + k].ChunkId, w.Chunks[lost[s].first + k].Code);
        EXPECT_EQ(timeline.Chunks[got.First + k].Size, w.Chunks[lost[s].first + k].Size);
      }
      ASSERT_GE(got.Streams.size(), 2u);
      EXPECT_EQ(got.Streams[0].Chunks, want.Video);
      EXPECT_EQ(got.Streams[0].Bytes, want.VideoBytes);
      EXPECT_EQ(got.Streams[1].Chunks, want.Sound);
      EXPECT_EQ(got.Streams[1].Bytes, want.SoundBytes);
    }

    // A copy's entries: every written chunk in the writer's order, the
    // lost ones as placeholders of their codes.
    // A copy's entries: every written chunk in the writer's order, a lost
    // frame empty, lost sound as silence of its size (8-bit PCM: 0x80).
    if (lost.empty()) continue;
    const VEKRiff::ScanResult copy = VEKRiff::WithPlaceholders(scan, timeline);
    if (lost.front().first == 0) {
      // A lost start keeps no place: ffmpeg reads nothing of a copy whose
      // index starts with placeholders.
      EXPECT_EQ(copy.Entries.size(), scan.Entries.size());
      EXPECT_TRUE(copy.Placeholders.empty());
      continue;
    }
    ASSERT_EQ(copy.Entries.size(), w.Chunks.size());
    std::size_t next = 0;
    for (std::size_t k = 0; k < w.Chunks.size(); ++k) {
      const VEKRiff::OldIndexEntry& e = copy.Entries[k];
      EXPECT_EQ(e.ChunkId, w.Chunks[k].Code) << k;
      const bool isLost = next < lost.size() && k >= lost[next].first && k <= lost[next].second;
      if (next < lost.size() && k == lost[next].second) ++next;
      if (!isLost) {
        EXPECT_EQ(e.Position(), w.Chunks[k].Position) << k;
        continue;
      }
      const bool video = e.ChunkId == Code("00dc");
      const std::int64_t at = e.Position() - copy.PlaceholdersAt;
      ASSERT_GE(at, 0) << k;
      ASSERT_LE(at + 8 + e.Size, static_cast<std::int64_t>(copy.Placeholders.size())) << k;
      EXPECT_EQ(VEK::LoadLe32(&copy.Placeholders[at]), e.ChunkId) << k;
      // Where the header list is lost, no format says what silence is.
      const bool pcm = scan.Headers.Streams.size() > 1 && scan.Headers.Streams[1].Readable;
      EXPECT_EQ(e.Size, video || !pcm ? 0u : w.Chunks[k].Size) << k;
      for (std::uint32_t b = 0; b < e.Size; ++b) ASSERT_EQ(copy.Placeholders[at + 8 + b], 0x80) << k;
    }
    EXPECT_EQ(copy.End(), copy.PlaceholdersAt + static_cast<std::int64_t>(copy.Placeholders.size()));
  }
}

// Without an index: the streams' clocks. The films keep picture and sound in
// step as muxers write them (8-bit PCM at 8000 Hz: 320 bytes are a frame's
// 40 ms) and have no idx1, as a download cut before it. The oracle is again
// the writer: every chunk a copy keeps must play at the time it was written
// for, a frame at its place among the frames, sound after as many bytes as
// the writer put before it.
struct ClockCase {
  std::string Name;
  int Ahead = 0;               // sound chunks written before the first frame, as mencoder's preload
  int SoundChunks = 1;         // sound chunks a frame
  std::vector<std::pair<std::size_t, std::size_t>> Zeroed;  // chunks [first, last] zeroed from first's data on
  std::size_t CutAt = 0;       // the file ends inside this chunk; 0: whole
  bool NoSoundClock = false;   // the sound's header claims blocks its format does not have
  bool PicturesOnly = false;
  std::size_t Stretches = 0;   // those the timeline places
  int Slack = 0;               // frames a kept chunk may be off: 0 where the headers' lengths count the film
};

Written ClockFilm(const ClockCase& c) {
  AviBuilder b;
  b.StartMovi();
  const std::uint32_t sound = 320u / static_cast<std::uint32_t>(c.SoundChunks);
  for (int i = 0; i < c.Ahead; ++i) b.Chunk("01wb", sound, 0x77);
  for (int i = 0; i < 160; ++i) {
    b.Chunk("00dc", 400u + static_cast<std::uint32_t>((i * 53) % 397), static_cast<unsigned char>(0x30 + i % 9));
    for (int k = 0; k < c.SoundChunks && !c.PicturesOnly; ++k) b.Chunk("01wb", sound, 0x77);
  }
  b.EndMovi();
  Written w{b.Build(), b.StreamChunks(), 0};
  if (c.NoSoundClock) {
    // strh dwSampleSize of the sound stream, 44 bytes into its data.
    for (std::size_t at = 12; at + 56 < w.File.size(); ++at)
      if (std::equal(w.File.begin() + at, w.File.begin() + at + 4, "strh") &&
          std::equal(w.File.begin() + at + 8, w.File.begin() + at + 12, "auds"))
        VEK::StoreLe32(&w.File[at + 8 + 44], 2);
  }
  return w;
}

TEST(Timeline, WithoutAnIndexEveryKeptChunkPlaysAtItsWrittenTime) {
  const std::vector<ClockCase> cases = {
      {"one stretch", 0, 1, {{60, 85}}, 0, false, false, 1, 0},
      {"one stretch beginning with sound", 0, 1, {{121, 170}}, 0, false, false, 1, 0},
      {"sound written ahead of the picture", 5, 1, {{100, 141}}, 0, false, false, 1, 0},
      {"two sound chunks a frame", 0, 2, {{90, 150}}, 0, false, false, 1, 0},
      {"two stretches", 0, 1, {{40, 53}, {200, 231}}, 0, false, false, 2, 1},
      {"sound written ahead at the start, as mencoder does, two stretches", 20, 1, {{50, 71}, {200, 281}}, 0, false, false, 2, 1},
      {"a film cut short too: the headers' lengths count more than the stretch held", 0, 1, {{60, 85}}, 300, false,
       false, 1, 1},
      {"sound whose header contradicts its format: no clock", 0, 1, {{60, 85}}, 0, true, false, 0, 0},
      {"pictures only: no clock", 0, 1, {{60, 75}}, 0, false, true, 0, 0},
  };
  for (const ClockCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Written w = ClockFilm(c);
    for (const auto& [first, last] : c.Zeroed) Zero(w, w.Chunks[first].Position + 12, w.Chunks[last].Position + 12);
    if (c.CutAt > 0) w.File.resize(static_cast<std::size_t>(w.Chunks[c.CutAt].Position + 20));
    TempDir dir;
    WriteFile(dir / "a.avi", w.File);
    BackupFile file(BackupFile::Mode::Check, dir / "a.avi");
    const VEKRiff::WalkReport report{{}, {}, nullptr};
    const VEKRiff::ScanResult scan =
        VEKRiff::SalvageFromOldIndex(file, VEKRiff::Walk(file, report, VEKRiff::FindStart(file, {})), {}).Scan;
    const VEKRiff::Timeline timeline = VEKRiff::TimelineOf(file, scan, {});
    ASSERT_EQ(timeline.Stretches.size(), c.Stretches);
    if (c.Stretches == 0) continue;
    const VEKRiff::ScanResult copy = VEKRiff::WithPlaceholders(scan, timeline);

    // Each written chunk's time: its place among its stream's frames, or
    // the sound's bytes before it.
    std::vector<std::int64_t> written(w.Chunks.size());
    std::int64_t frames = 0, sound = 0;
    for (std::size_t k = 0; k < w.Chunks.size(); ++k) {
      const bool video = w.Chunks[k].Code == Code("00dc");
      written[k] = video ? frames++ : sound;
      if (!video) sound += w.Chunks[k].Size;
    }
    frames = sound = 0;
    std::size_t kept = 0;
    for (const VEKRiff::OldIndexEntry& e : copy.Entries) {
      const bool video = e.ChunkId == Code("00dc");
      const std::int64_t time = video ? frames++ : sound;
      if (!video) sound += e.Size;
      if (e.Position() >= copy.PlaceholdersAt) continue;
      const auto k = static_cast<std::size_t>(
          std::find_if(w.Chunks.begin(), w.Chunks.end(), [&](const ExpectedEntry& x) { return x.Position == e.Position(); }) -
          w.Chunks.begin());
      ASSERT_LT(k, w.Chunks.size()) << "no chunk written at " << e.Position();
      ++kept;
      EXPECT_LE(std::abs(time - written[k]), c.Slack * (video ? 1 : 320)) << "chunk " << k;
    }
    EXPECT_EQ(kept, scan.Entries.size());
  }
}

}  // namespace
