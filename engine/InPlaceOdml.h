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
//  - old ix## chunks that already list, one after the other, what the new
//    ones would (a segment the recording closed, or all of them where the
//    muxer drew the line between two indexes elsewhere, as mencoder does)
//    are kept, and so are the super index entries that point at them, and
//    the segments around them;
//  - a super index players read gets its new entries in the slots past its
//    count, and one byte of the count switches it; one whose reading gives
//    nothing is renamed away, filled, and renamed back, the last byte of
//    the name switching it;
//  - the list and RIFF sizes and the header counts come after every switch;
//    the gaps between segments keep the muxer's old ix## chunks, whole
//    chunks that a player reading chunk by chunk skips; the first segment's
//    new idx1 goes over its old one, or where its data ends when nothing
//    kept lies there.
// Where an order of single-byte switches is not possible, the rebuild goes
// on as the copy's writer does, and the moments listed here read worse:
//  - an index players read whose entries the rebuild changes (a muxer that
//    leaves audio chunks without the key-frame bit, a damaged entry), or
//    whose count one byte cannot switch: its super index is written whole
//    over the old one, in one write; a kill inside that write leaves it torn;
//  - two or more streams without an index players read: their names are
//    written one after the other with no flush between (a few bytes of the
//    same header list); a kill between two leaves a film that libavformat
//    reads as misplaced packets;
//  - a header list rewritten whole: the copy's writer in its own order;
//  - the first segment's idx1, written after the switches where it fits
//    beside what is kept; players that read it despite the super indexes
//    may meet it torn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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
    Rewrite, // a super index players read whose entries change: written whole
  };
  Switch How = Switch::None;
  bool KillFirst = false;         // Rename: the reserve is an indx (whose reading gives nothing) until renamed away
  std::uint32_t OldCount = 0;     // Count: entries in use now
  std::uint32_t Kept = 0;         // Count: the first entries kept as they are
  std::uint32_t NewCount = 0;     // Count: entries in use once switched
};

struct InPlaceOdmlPlan {
  OdmlIndexPlan Indexes;
  std::vector<InPlaceOdmlStream> Streams;
  std::vector<std::size_t> Skip;           // per stream: its standard indexes that stay where they are
  std::vector<std::int64_t> KeptChunks;    // positions of the old ix## chunks kept, sorted
  std::vector<bool> GapKept;               // per segment: its gap holds a kept chunk and is left as it is
  std::int64_t Tail = 0;                   // where the new ix## chunks start
  std::int64_t End = 0;                    // the end of the rebuilt file
  std::int64_t Idx1At = -1;                // where the first segment's idx1 goes (-1: nowhere)
  std::int64_t Idx1Bytes = 0;
  bool Idx1EndsMovi = false;               // it goes where the first movi list's data ends, which then ends there
};

// Decides the order, reading the old indexes as players read them; throws
// (ErrorException) before anything is written where the copy's writer would.
// An empty result: a header list rewritten whole, left to the copy's writer.
std::optional<InPlaceOdmlPlan> PlanInPlaceOdml(BackupFile& file, const ScanResult& scan,
                                const std::vector<unsigned char>& headerList);

// Writes the plan in its order, each step on disk before the next; changed
// is set before the first write that changes what players read. Leaves the
// position at plan.End.
void WriteInPlaceOdml(BackupFile& file, const ScanResult& scan, const HeaderCounts& counts,
                      const InPlaceOdmlPlan& plan, bool& changed);

}  // namespace VEKRiff
