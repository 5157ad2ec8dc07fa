// What a window shows of a run beside its lines, the same in every window:
// how fast the current file goes and how long it has left, and where a
// file's damage lies across a strip of a given width, and what it cost the
// film, in words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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
// The x of a file position across a strip width pixels wide, which spans
// the damage's Extent (past the file's end for a film cut short).
int StripX(const FileDamage& damage, std::int64_t position, int width);
// What the strip paints, in pixels across its width, in painting order.
enum class StripPart : std::uint8_t {
  Unusable,  // past the last usable chunk: bytes no reader can use
  Lost,      // a lost start or a stretch the walk could not read
  Missing,   // past the end of a film cut short: the film its headers promise
};
struct StripSpan {
  StripPart Part = StripPart::Lost;
  int From = 0, To = 0;  // each at least a pixel wide
};
std::vector<StripSpan> StripSpans(const FileDamage& damage, int width);
// The strip's words, in the current language: each lost stretch with the
// time of film it held ("00:00:11–00:00:12 lost (0.9 s)"), a damaged start,
// and where a film cut short ends ("the film ends at 00:00:29 instead of
// 00:00:30"), joined by "; " into a sentence.
std::string DamageText(const FileDamage& damage);
// The same, short, for a row's result: the film lost in its middle and
// where a film cut short now ends ("0.9 s lost at 00:11\u201300:12; plays to
// 00:29 of 00:30"); empty where the headers tell no time.
std::string FilmInWords(const FileDamage& damage);

}  // namespace VEKRiff
