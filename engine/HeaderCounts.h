// The frame and sample counts the headers should hold, worked out from the
// walk's entries, and the rules for when a header's count is close enough to
// be right. The check reports the counts that fail these rules and the
// rebuild writes exactly those.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ScanResult.h"

namespace VEKRiff {

struct HeaderCounts {
  std::int64_t TotalFrames = 0;       // video frames of the first segment (avih)
  std::int64_t AllFrames = 0;         // of the whole file (dmlh)
  std::vector<std::int64_t> Streams;  // each stream's length in its own units (strh)
};

HeaderCounts CountsFromData(const ScanResult& scan);
// The same under another header list than the one the walk read (a new one a
// rebuild writes): the units of each stream are those headers'.
HeaderCounts CountsFromData(const ScanResult& scan, const VEKAvi::AviHeaders& headers);
// What the Done line and the counters give, from the chunks the index gets:
// the video chunks, and the samples of the audio chunks where their stream's
// headers tell the rate (the chunks themselves where they do not).
struct DataTotals {
  std::int64_t VideoFrames = 0;
  std::int64_t AudioSamples = 0;
};
DataTotals TotalsFromData(const ScanResult& scan);
// The same under another header list (the one a rebuild would write).
DataTotals TotalsFromData(const ScanResult& scan, const VEKAvi::AviHeaders& headers);
// An audio stream's samples: its duration in strh units (bytes over the
// sample size, or chunks where that is 0) times the sample rate its format
// gives; the chunks themselves where the headers tell no rate.
std::int64_t SamplesOf(const VEKAvi::StreamHeader& h, std::int64_t chunks, std::int64_t bytes);
bool MainHeaderFramesAgree(const ScanResult& scan, const HeaderCounts& counts);
bool StreamLengthAgrees(const ScanResult& scan, std::size_t stream, std::int64_t data);

}  // namespace VEKRiff
