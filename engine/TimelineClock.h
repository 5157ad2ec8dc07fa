// What each lost stretch held where no index says it: the streams' own
// clocks do. Players place a chunk of sound by its stream's header (bytes
// over the block size for sound of constant rate, one chunk per frame for
// MP3 and AC-3 stored so), a frame by its count; muxers write chunks in time
// order, so on both sides of a stretch the streams meet at the same time,
// as they do everywhere else in the file. How far the sound's clock runs
// ahead of the picture's on each side tells how much more sound than
// picture the stretch took; its bytes, at the rate the streams take bytes
// around it, tell how much time it took. Where the header list's lengths
// count the whole film, they give the totals exactly and the estimates only
// share them out between the stretches.
//
// Every count is an estimate. None is made where a stream in the data has
// no such clock (a second picture, text, sound of variable rate), where a
// stretch has too few chunks around it to read the interleave from, or
// where the numbers contradict the stretch's bytes.
#pragma once

#include "engine/ScanResult.h"
#include "engine/Timeline.h"

namespace VEKRiff {

// The lost chunks of a walked file of one RIFF, from its streams' clocks.
// lengthsCount: nothing was cut from the data, so the headers' lengths
// count every chunk the film had.
Timeline TimelineFromClocks(const ScanResult& scan, bool lengthsCount);

}  // namespace VEKRiff
