// What a window shows of a run beside its lines: the current file's rate and
// time left, and where its damage lies across the strip.
#include <gtest/gtest.h>

#include <algorithm>

#include "batch/RunDisplay.h"
#include "lang/Language.h"
#include "support/AviBuilder.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"

namespace {

TEST(RunDisplay, RateAndTimeLeftComeOnceAFileHasTakenAWhile) {
  const struct {
    std::int64_t bytes;
    int progress;
    std::int64_t ms;
    std::optional<double> mbPerSecond;
    const char* left;
  } rows[] = {
      {100'000'000, 50, 1999, std::nullopt, ""},   // too soon to say
      {100'000'000, 0, 10'000, std::nullopt, ""},  // nothing done yet
      {0, 50, 10'000, std::nullopt, ""},           // a file of no size
      {100'000'000, 50, 4000, 12.5, "0:04"},
      {100'000'000, 1, 2000, 0.5, "3:18"},
      {4'000'000'000, 10, 400'000, 1.0, "1:00:00"},
      {10'000'000'000'000, 1, 3'600'000, 27.78, "99:00:00"},
      {100'000'000, 100, 3000, 33.33, "0:00"},
  };
  for (const auto& row : rows) {
    const auto rate = VEKRiff::RateOf(row.bytes, row.progress, row.ms);
    ASSERT_EQ(rate.has_value(), row.mbPerSecond.has_value()) << row.bytes << " " << row.progress << " " << row.ms;
    if (!rate) continue;
    EXPECT_NEAR(rate->BytesPerSecond / 1e6, *row.mbPerSecond, 0.01);
    EXPECT_EQ(VEKRiff::ClockText(rate->SecondsLeft), row.left);
  }
}

TEST(RunDisplay, TheStripPlacesPositionsWithinItsWidth) {
  VEKRiff::FileDamage damage;
  damage.Size = 1000;
  damage.UsableEnd = 1000;
  EXPECT_FALSE(VEKRiff::ShowsDamage(damage)) << "a whole file without damage";
  damage.UsableEnd = 900;
  EXPECT_TRUE(VEKRiff::ShowsDamage(damage)) << "unusable bytes after the data";
  const struct {
    std::int64_t position;
    int x;
  } rows[] = {{-5, 0}, {0, 0}, {1, 0}, {500, 150}, {999, 299}, {1000, 300}, {5000, 300}};
  for (const auto& row : rows) EXPECT_EQ(VEKRiff::StripX(damage, row.position, 300), row.x) << row.position;
  EXPECT_EQ(VEKRiff::StripX(VEKRiff::FileDamage{}, 10, 300), 0) << "a file of no size";
  damage.Extent = 2000;  // a film cut short: the strip spans what it should have been
  EXPECT_EQ(VEKRiff::StripX(damage, 1000, 300), 150);
}

// The strip of each kind of damage a check reports, worked out by the engine
// as it walks a film the builder made: 30 seconds at 25 frames a second,
// each second 25 video chunks with their sound, and an idx1. The builder's
// chunk positions and the header's length are the oracle.
TEST(RunDisplay, EveryKindOfDamageTheCheckReportsIsShownWithItsTimes) {
  using ZantrelTest::AviBuilder;
  using ZantrelTest::Bytes;
  constexpr int Frames = 750, VideoBytes = 1000, AudioBytes = 320;
  auto film = [&](bool withIndex) {
    AviBuilder b;
    b.StartMovi();
    for (int i = 0; i < Frames; ++i) b.Chunk("00dc", VideoBytes).Chunk("01wb", AudioBytes);
    b.EndMovi();
    if (withIndex) b.Idx1();
    return b;
  };
  const AviBuilder whole = film(true), capture = film(false);
  const Bytes healthy = whole.Build();
  const auto videoAt = [&](int frame) { return whole.StreamChunks()[2 * frame].Position; };
  // Zeros over the chunks of frames 275 to 299: the twelfth second.
  Bytes hole = healthy;
  std::fill(hole.begin() + videoAt(275), hole.begin() + videoAt(300), 0);
  // A capture that stopped before its index, cut inside its second to last
  // second (frame 725): its headers still count 750 frames.
  const Bytes full = capture.Build();
  const Bytes cut(full.begin(), full.begin() + capture.StreamChunks()[2 * 725].Position + 500);
  // The same capture cut between two chunks, after frame 724's sound.
  const Bytes cutBetween(full.begin(), full.begin() + capture.StreamChunks()[2 * 725].Position);
  // Zeros over the header list, the first chunks and frame 2's picture.
  Bytes zeroed = healthy;
  std::fill(zeroed.begin(), zeroed.begin() + videoAt(2) + 100, 0);

  const struct {
    const char* name;
    const Bytes* bytes;
    bool shown;
    std::vector<std::pair<VEKRiff::StripPart, std::pair<std::int64_t, std::int64_t>>> spans;  // in bytes
    const char* english;
    const char* french;
    const char* result;  // the row's result's words, in English
  } rows[] = {
      {"healthy", &healthy, false, {}, "", "", ""},
      {"a hole in the middle",
       &hole,
       true,
       {{VEKRiff::StripPart::Lost, {videoAt(275), videoAt(300)}}},
       "00:00:11\u201300:00:12 lost (1.0 s)",
       "00:00:11\u201300:00:12 perdu (1,0 s)",
       "1.0 s lost at 00:11\u201300:12"},
      {"cut short",
       &cut,
       true,
       {{VEKRiff::StripPart::Missing, {static_cast<std::int64_t>(cut.size()), -1}}},
       "The film ends at 00:00:29 instead of 00:00:30",
       "Le film s'arr\u00eate \u00e0 00:00:29 au lieu de 00:00:30",
       "plays to 00:29 of 00:30"},
      {"cut between two chunks",
       &cutBetween,
       true,
       {{VEKRiff::StripPart::Missing, {static_cast<std::int64_t>(cutBetween.size()), -1}}},
       "The film ends at 00:00:29 instead of 00:00:30",
       "Le film s'arr\u00eate \u00e0 00:00:29 au lieu de 00:00:30",
       "plays to 00:29 of 00:30"},
      {"a zeroed start",
       &zeroed,
       true,
       {{VEKRiff::StripPart::Lost, {0, whole.StreamChunks()[2 * 2 + 1].Position}}},  // to frame 2's sound
       "The start of the file is damaged: the film plays from the first frame found",
       "Le d\u00e9but du fichier est endommag\u00e9 : le film se lit \u00e0 partir de la premi\u00e8re image "
       "trouv\u00e9e",
       ""},
  };
  ZantrelTest::TempDir dir;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir / "film.avi";
    ZantrelTest::WriteFile(path, *row.bytes);
    VEKRiff::FileDamage damage;
    ZantrelTest::WorkerRunOptions options;
    options.OnEvent = [&](VEKRiff::IndexRebuilder& worker) {
      if (worker.Event() == VEKRiff::FileOk || worker.Event() == VEKRiff::FileError) damage = worker.Damage();
    };
    const ZantrelTest::WorkerRunResult run = ZantrelTest::RunWorker({path}, options);
    ASSERT_EQ(run.Outcomes().size(), 1u);
    EXPECT_EQ(run.Outcomes()[0], row.shown ? VEKRiff::FileError : VEKRiff::FileOk)
        << "the check reports it damaged: " << ::testing::PrintToString(run.Lines);
    EXPECT_EQ(VEKRiff::ShowsDamage(damage), row.shown);
    // Across a strip as wide as the file is long, a pixel a byte.
    const int width = static_cast<int>(std::max(damage.Size, damage.Extent));
    std::vector<std::pair<VEKRiff::StripPart, std::pair<std::int64_t, std::int64_t>>> spans;
    for (const VEKRiff::StripSpan& span : VEKRiff::StripSpans(damage, width))
      spans.push_back({span.Part, {span.From, span.Part == VEKRiff::StripPart::Missing ? -1 : span.To}});
    EXPECT_EQ(spans, row.spans);
    if (!spans.empty() && spans.back().first == VEKRiff::StripPart::Missing) {
      // What the film misses, at the data's bytes per frame: 25 frames.
      const std::int64_t missing = damage.Extent - damage.Size;
      EXPECT_NEAR(static_cast<double>(missing), 25.0 * (VideoBytes + AudioBytes + 16), 2 * (VideoBytes + AudioBytes))
          << missing;
    }
    for (const bool french : {false, true}) {
      VEK::SetLanguage(french ? VEK::French : VEK::English);
      const std::string text = VEKRiff::DamageText(damage);
      VEK::SetLanguage(VEK::English);
      EXPECT_EQ(text, french ? row.french : row.english);
    }
    EXPECT_EQ(VEKRiff::FilmInWords(damage), row.result);
  }
}

// Many stretches: the words name the first few and count the rest; a
// stretch within one second of the clock is told by its length; bytes past
// the usable data that no stretch covers are named too.
TEST(RunDisplay, TheWordsNameTheFirstStretchesAndCountTheOthers) {
  VEKRiff::FileDamage damage;
  damage.Size = damage.Extent = damage.UsableEnd = 100000;
  const auto at = [](std::int64_t frame) { return VEKRiff::FilmPosition{frame, frame * 40}; };
  const std::string named =
      "0.2 s lost at 00:00:00; damaged data at 00:00:08, no frame lost; 20 damaged bytes at byte 300";
  const struct {
    std::int64_t count;
    std::int64_t usableEnd;
    std::string text;
  } rows[] = {
      {3, 100000, named},
      {4, 100000, named + "; and one more damaged stretch"},
      {9, 100000, named + "; and 6 more damaged stretches"},
      {3, 90000, named + "; bytes after the end of the film that no player reads"},
  };
  damage.Lost = {{VEKRiff::LossKind::Middle, 100, 110, at(20), at(24)},
                 {VEKRiff::LossKind::Middle, 200, 210, at(200), at(200)},
                 {VEKRiff::LossKind::Middle, 300, 320, std::nullopt, std::nullopt}};
  for (const auto& row : rows) {
    damage.Count = row.count;
    damage.UsableEnd = row.usableEnd;
    EXPECT_EQ(VEKRiff::DamageText(damage), row.text);
  }
  // The result's words sum the film lost where they can tell it.
  damage.Lost.push_back({VEKRiff::LossKind::Middle, 400, 500, at(100), at(150)});
  EXPECT_EQ(VEKRiff::FilmInWords(damage), "2.2 s lost in 2 places");
  damage.Lost.erase(damage.Lost.begin() + 1, damage.Lost.end() - 1);
  damage.Lost.erase(damage.Lost.begin());
  EXPECT_EQ(VEKRiff::FilmInWords(damage), "2.0 s lost at 00:04\u201300:06");
  damage.Lost = {{VEKRiff::LossKind::Middle, 100, 110, at(20), at(24)}};
  EXPECT_EQ(VEKRiff::FilmInWords(damage), "0.2 s lost at 00:00") << "within one second of the clock";
  damage.Lost = {{VEKRiff::LossKind::Middle, 100, 110, at(20), at(24)},
                 {VEKRiff::LossKind::Middle, 200, 210, at(200), at(200)},
                 {VEKRiff::LossKind::Middle, 300, 320, std::nullopt, std::nullopt}};
  damage.Lost.push_back({VEKRiff::LossKind::Middle, 90000, 100000, at(2000), at(2000)});
  damage.Count = 4;
  EXPECT_EQ(VEKRiff::DamageText(damage).find("no player reads"), std::string::npos)
      << "a stretch the walk met runs to the end";
}

}  // namespace
