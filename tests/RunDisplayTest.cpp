// What a window shows of a run beside its lines: the current file's rate and
// time left, and where its damage lies across the strip.
#include <gtest/gtest.h>

#include "batch/RunDisplay.h"

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
  EXPECT_TRUE(VEKRiff::ShowsDamage(damage)) << "a file cut short";
  const struct {
    std::int64_t position;
    int x;
  } rows[] = {{-5, 0}, {0, 0}, {1, 0}, {500, 150}, {999, 299}, {1000, 300}, {5000, 300}};
  for (const auto& row : rows) EXPECT_EQ(VEKRiff::StripX(damage, row.position, 300), row.x) << row.position;
  EXPECT_EQ(VEKRiff::StripX(VEKRiff::FileDamage{}, 10, 300), 0) << "a file of no size";
}

}  // namespace
