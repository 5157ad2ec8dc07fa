// A file's damage as a picture and its words show it, worked out once from
// the walk: each stretch no reader can use, across the file's bytes and,
// where the headers tell the rate, across the film: a lost start, the
// stretches the walk could not read, and the end of a film cut short.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/ScanResult.h"

namespace VEKRiff {

enum class LossKind : std::uint8_t {
  Start,   // the file's start: its header list, and whatever lay before the first chunk found
  Middle,  // a stretch the walk could not read as chunks
  End,     // a film cut short: what its headers promise past the end of the file
};

struct LostStretch {
  LossKind Kind = LossKind::Middle;
  // In the file's bytes; an End stretch lies past the file's size, up to
  // the Extent of its damage.
  std::int64_t From = 0;
  std::int64_t To = 0;
  // The film it held: the video frames before it and their time, and the
  // frames before the first one after it (the same where it held none).
  // None where the headers tell no rate, or nothing tells what it held.
  std::optional<FilmPosition> FilmFrom, FilmTo;
};

struct FileDamage {
  std::int64_t Size = 0;
  // What a picture of the file spans: its size, or the size it should have
  // had for a film cut short.
  std::int64_t Extent = 0;
  std::int64_t UsableEnd = 0;     // where its usable data ends
  std::int64_t Count = 0;         // all Middle stretches; Lost holds the first ones
  std::vector<LostStretch> Lost;  // in file order
  // A film cut short: where it ends now, and where its headers say it
  // should (with the End stretch).
  std::optional<FilmPosition> FilmEnd, FilmLength;
};

// The damage of a file of size bytes walked into scan, whose usable data
// ends at usableEnd. The frames a stretch held are those the header's
// length misses, spread over the stretches by their bytes; where the
// header tells no length, or the film is also cut short, the stretch's bytes
// at the data's own bytes per frame.
FileDamage DamageOf(const ScanResult& scan, std::int64_t size, std::int64_t usableEnd);

}  // namespace VEKRiff
