// The order in which a file of one RIFF takes its new idx1 in place, so that
// a run killed after any byte of any write leaves a file that players read
// as before (its old index, its old sizes, its data where the old index
// points) or one that is completely rebuilt.
//
// Players find the idx1 where the movi list's size says the list ends. The
// new index is written first past the old end of the file, where nothing
// reads it; then one byte of that size field makes the list end there (a
// single byte: a cut cannot leave a size that is neither). From then on the
// old index and the old tail are read by nobody: the index is written at its
// place, with the header counts and the RIFF size, and the same byte put back
// makes the list end there again, before the file is cut after the index.
// A file whose list ends at no idx1 has no index to keep: its index is
// written at its place, its chunk code last, so that no part of it reads as
// an index before it is whole, and the list's size is made to end there.
// A power failure may land any part of the writes made since the last flush
// and not the rest: a step's writes read well in any part, and one flush
// between two steps, no more, puts the first on disk before the second.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "engine/HeaderCounts.h"
#include "engine/ScanResult.h"
#include "engine/Timeline.h"
#include "file/BackupFile.h"

namespace VEKRiff {

struct InPlaceIdx1Plan {
  bool Hop = true;             // false: no index to keep, no far index
  std::int64_t SizeField = 0;  // the movi list's size field
  int Byte = 0;                // the one of its four bytes that switches
  unsigned char Old = 0;       // that byte now (and again at the end, unless the index stays far)
  unsigned char Far = 0;       // that byte while the list ends at the far index
  std::int64_t FarIndex = 0;   // where the index is written first: past every byte the file has now
  std::int64_t Index = 0;      // where it is in the rebuilt file (FarIndex: it stays there)
  std::int64_t Junk = -1;      // a JUNK chunk from here to Index closes the movi list; -1: none
  std::int64_t End = 0;        // the end of the rebuilt file
  std::int64_t IndexBytes = 0;  // the idx1 chunk, header included
  int EvenLow = -1;            // the size's low byte made even, which readers that round read alike; -1: none
  // Where the lost chunks' placeholders go, written with the far index and
  // right before it, which then stays there; -1: none.
  std::int64_t Placeholders = -1;
};

// The plan for a file of one RIFF with its movi list's header; none for the
// others (their header list is rewritten whole, or they have more RIFFs).
// Throws (ErrorException) before anything is written when the list ends at
// an idx1 and no single byte of its size can reach past the file.
// room: the placeholders of lost chunks the index will point at, where the
// scan has none laid out yet; a scan that has them right before the far
// index (laid out at a plan's Placeholders) gives the same plan again.
std::optional<InPlaceIdx1Plan> PlanInPlaceIdx1(BackupFile& file, const ScanResult& scan,
                                               const PlaceholderRoom& room = {});

// The scan an in-place rebuild writes: the lost chunks' placeholders where
// its plan puts them. A file that takes its index in one go has them right
// after the data, as a copy; one whose old index players read until the new
// one is whole, right before the new one, past the old end. An OpenDML
// film keeps none in place.
ScanResult PlacedInPlace(BackupFile& file, ScanResult scan, const Timeline& timeline);

// Writes the plan in its order, each step on disk before the next; changed
// is set before the first write that changes what players read (until then
// only the far index past the old end was written).
void WriteInPlaceIdx1(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts,
                      const std::vector<unsigned char>& headerList, const InPlaceIdx1Plan& plan, bool& changed);

}  // namespace VEKRiff
