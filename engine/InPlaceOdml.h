// The order in which an OpenDML film takes its new indexes in place, so that
// a run killed after any byte of any write leaves each stream read as before
// or as in the finished rebuild.
//
// A player reads a stream's OpenDML index through its super index (the indx
// chunk in the stream's header list) and the ix## chunks its first
// nEntriesInUse entries point at; the legacy idx1 only where no super index
// gives it anything. So:
//  - every new ix## chunk goes past the data (over the old last segment's
//    tail that nothing reads, or past the file's end), its header before any
//    of its entries, and is on disk before anything points at it;
//  - an old ix## chunk that already says what the new one would (a segment
//    the recording closed) is kept, and so is the super index entry that
//    points at it, and the segment around it;
//  - a super index players read gets its new entries in the slots past its
//    count, and one byte of the count switches it; one whose reading gives
//    nothing is renamed away, filled, and renamed back, the last byte of
//    the name switching it;
//  - the list and RIFF sizes and the header counts come after every switch;
//    the gaps between segments keep the muxer's old ix## chunks and idx1,
//    whole chunks that a player reading chunk by chunk skips.
// Where that is not possible (an index players read whose entries the
// rebuild changes, a count that one byte cannot switch, a header list
// rewritten whole, two streams without an index players read, which would
// get theirs one after the other) nothing is written and the rebuild says
// to make a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/HeaderCounts.h"
#include "engine/OdmlWriter.h"
#include "engine/ScanResult.h"
#include "file/BackupFile.h"

namespace VEKRiff {

struct InPlaceOdmlStream {
  enum class Switch : std::uint8_t {
    None,    // nothing of it changes
    Count,   // a super index players read: new entries past its count, then the count
    Rename,  // a reserve players do not read: filled, then named indx
  };
  Switch How = Switch::None;
  bool KillFirst = false;         // Rename: the reserve is an indx (whose reading gives nothing) until renamed away
  std::uint32_t OldCount = 0;     // Count: entries in use now
  std::uint32_t Kept = 0;         // Count: the first entries kept as they are
};

struct InPlaceOdmlPlan {
  OdmlIndexPlan Indexes;
  std::vector<InPlaceOdmlStream> Streams;
  std::vector<std::size_t> Skip;           // per stream: its standard indexes that stay where they are
  std::vector<std::int64_t> KeptChunks;    // positions of the old ix## chunks kept, sorted
  std::vector<bool> GapKept;               // per segment: its gap holds a kept chunk and is left as it is
  std::int64_t Tail = 0;                   // where the new ix## chunks start
  std::int64_t End = 0;                    // the end of the rebuilt file
};

// Decides the order, reading the old indexes as players read them; throws
// (ErrorException) before anything is written when no order is safe.
InPlaceOdmlPlan PlanInPlaceOdml(BackupFile& file, const ScanResult& scan,
                                const std::vector<unsigned char>& headerList);

// Writes the plan in its order, each step on disk before the next; changed
// is set before the first write that changes what players read. Leaves the
// position at plan.End.
void WriteInPlaceOdml(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts,
                      const InPlaceOdmlPlan& plan, bool& changed);

}  // namespace VEKRiff
