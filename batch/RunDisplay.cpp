#include "batch/RunDisplay.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace VEKRiff {

std::optional<FileRate> RateOf(std::int64_t fileBytes, int progress, std::int64_t elapsedMs) {
  if (elapsedMs < 2000 || progress <= 0 || fileBytes <= 0) return std::nullopt;
  const double seconds = elapsedMs / 1000.0;
  const double done = static_cast<double>(fileBytes) * progress / 100.0;
  return FileRate{done / seconds, std::llround(seconds * (100 - progress) / progress)};
}

std::string ClockText(std::int64_t seconds) {
  const long long h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  char text[32];
  if (h > 0)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", h, m, s);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", m, s);
  return text;
}

bool ShowsDamage(const FileDamage& damage) {
  return damage.Size > 0 && (damage.Count > 0 || damage.UsableEnd < damage.Size);
}

int StripX(const FileDamage& damage, std::int64_t position, int width) {
  if (damage.Size <= 0) return 0;
  const double share = static_cast<double>(std::clamp<std::int64_t>(position, 0, damage.Size)) / damage.Size;
  return static_cast<int>(share * width);
}

}  // namespace VEKRiff
