// A new header list for a file whose own the check found damaged or lost:
// each part found sound is kept as it stands; a damaged part is taken from a
// reference file where one is given, else from what the data says (its
// bitstream headers, its chunks), else from what is left of the damaged
// headers, and what had to be assumed is told in a line.
#pragma once

#include <optional>
#include <vector>

#include "avi/HeaderReader.h"
#include "engine/HeaderCheck.h"
#include "engine/ScanResult.h"
#include "engine/Timeline.h"
#include "file/BackupFile.h"

namespace VEKRiff {

struct HeaderPlan {
  // Written from the start of the file: the RIFF header alone where only it
  // is lost, else everything up to the movi list (its header too where that
  // is lost).
  std::vector<unsigned char> Bytes;
  VEKAvi::AviHeaders Headers;  // the list in force after the rebuild, as the reader reads it
  Findings Lines;              // what was assumed or taken from the reference
  // In a copy, how far the data from the movi list on moves along to make
  // room for a list that does not fit before it.
  std::int64_t Shift = 0;
};

// Nothing when the verdict found the list sound. reference: the header list of
// a healthy file from the same camera or encoder, or null: its parts that do
// not describe the data are not used, each with a line. Throws ErrorException
// when the reference's streams are not laid out as the data's (one missing,
// or of another kind), or when in place no list fits before the first chunk
// kept.
// lead: in a copy whose movi list header is lost, the bytes kept free
// between the new one and the data (see LeadBytes in Timeline.h).
std::optional<HeaderPlan> PlanHeaderList(const ScanResult& scan, const HeaderVerdict& verdict,
                                         const VEKAvi::AviHeaders* reference, bool inPlace, std::int64_t lead = 0);

// The header list of a reference file. Throws ErrorException where it has none
// that can be read.
VEKAvi::AviHeaders ReadReferenceHeaders(const std::string& path);

// The scan with the headers a rebuild writes in place of those the walk read.
// A video stream whose codec the walk could not tell (its header lost, and
// its data told nothing: an H.264 film whose parameter sets went with its
// start, say) has its chunks' key frame flags judged again under the codec
// the new headers name (a reference's), as a check of the rebuilt file will
// judge them.
ScanResult WithHeaders(BackupFile& file, ScanResult scan, VEKAvi::AviHeaders headers, const StopCheck& stop);

// How far a copy moves each RIFF segment's bytes along, by segment: the
// first one's from its movi list on by shift (the room a new header list
// needs), each later one by as much, or by one byte more where it would
// otherwise start on an odd position: a reader goes from RIFF to RIFF by
// their sizes rounded up to even, so that a segment on an odd position is
// never reached. The byte goes into the gap before that segment. The second
// segment also moves as far as the first one's idx1 needs to fit in the gap
// before it (exactly, or with room for a JUNK chunk after it), where that
// gap lost the old one: a copy keeps the index that readers of the first
// RIFF alone use. rooms: by segment, what the placeholders after its data
// add (see CopyRooms in Timeline.h), which the segments after it make way
// for.
std::vector<std::int64_t> SegmentShifts(const ScanResult& scan, std::int64_t shift,
                                        const std::vector<PlaceholderRoom>& rooms = {});

// The scan of a copy whose segments lie as far along as shifts (one for
// each) say, from the first movi list on; the header list is the new one.
ScanResult WithDataMoved(ScanResult scan, const std::vector<std::int64_t>& shifts);

}  // namespace VEKRiff
