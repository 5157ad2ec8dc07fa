// What a window shows of a run beside its lines, the same in every window:
// how fast the current file goes and how long it has left, and where a
// file's damage lies across a strip of a given width.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "engine/IndexRebuilder.h"

namespace VEKRiff {

struct FileRate {
  double BytesPerSecond = 0;
  std::int64_t SecondsLeft = 0;
};

// Once a file has taken two seconds: before that the rate says little.
std::optional<FileRate> RateOf(std::int64_t fileBytes, int progress, std::int64_t elapsedMs);
// "1:02:03", or "2:03" under an hour.
std::string ClockText(std::int64_t seconds);

// Whether the file has anything for the strip to show.
bool ShowsDamage(const FileDamage& damage);
// The x of a file position across a strip width pixels wide.
int StripX(const FileDamage& damage, std::int64_t position, int width);

}  // namespace VEKRiff
