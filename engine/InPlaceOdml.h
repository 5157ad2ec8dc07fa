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
//  - a super index players read whose entries change (a muxer that leaves
//    audio chunks without the key-frame bit, a damaged entry): its first
//    entry is moved, one byte of its offset at a time, through small gates
//    past the file's end. Each gate is an index of indexes whose first entry
//    leads to a copy of the old super index and whose second ends the
//    reading (it points at the RIFF header, which is no index), so that
//    players read the old entries and nothing after the first: the other
//    slots and the count then take their new values unread, and the last
//    byte of the offset, reaching the first new standard index, switches
//    the stream. libavformat follows an index of indexes to any depth;
//    the gates are cut away with the rest of the old end;
//  - two or more reserves to name where players read no super index at all
//    (each stream from the idx1): libavformat reads every super index or
//    none, since one that gives it entries makes it leave the idx1 alone. Each new super index is filled and named with a
//    base that is the file's end, which libavformat refuses as past the
//    end; one byte written at that end makes the file longer than it, and
//    all of them are read from then on; the bases then go back to 0, each
//    value on the way still inside the file. Where the old file reaches
//    past the new indexes' end (a tail beyond the usable data), they go
//    after it and it becomes a JUNK chunk;
//  - the list and RIFF sizes and the header counts come after every switch;
//    the gaps between segments keep the muxer's old ix## chunks, whole
//    chunks that a player reading chunk by chunk skips; the first segment's
//    new idx1 goes over its old one, or where its data ends when nothing
//    kept lies there.
// Where an order of single-byte switches is not possible, the rebuild goes
// on as the copy's writer does, and the moments listed here read worse (the
// run says so for the first two):
//  - an index players read whose entries change and that no gate can lead
//    (its count runs past its reserve, it indexes chunks rather
//    than indexes, its head changes more than its count): its super index
//    is written whole over the old one, in one write; a kill inside that
//    write leaves it torn;
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
    Gate,    // a super index players read whose entries change: its first entry led through gates
    Rewrite, // one no gate can lead: written whole
  };
  Switch How = Switch::None;
  bool Read = false;              // players read this super index now
  bool KillFirst = false;         // Rename: the reserve is an indx (whose reading gives nothing) until renamed away
  std::uint32_t OldCount = 0;     // Count, Gate: entries in use now
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
  std::int64_t TailJunk = -1;              // a JUNK chunk from here to Tail covers the old tail (-1: none)
  std::int64_t End = 0;                    // the end of the rebuilt file
  std::int64_t Idx1At = -1;                // where the first segment's idx1 goes (-1: nowhere)
  std::int64_t Idx1Bytes = 0;
  bool Idx1EndsMovi = false;               // it goes where the first movi list's data ends, which then ends there
  // Gates: past every byte the file has or will have, the positions whose
  // byte GateByte is GateValue (higher bytes 0), then the copy of the old
  // super index at GateCopy. Farthest: the end of all that is written.
  int GateByte = 0;
  unsigned GateValue = 0;
  std::int64_t GateCopy = 0;
  std::int64_t Farthest = 0;
  // Several reserves named while players read no super index (only the
  // idx1, for every stream): their heads' base is this position, which is
  // the file's end, until one byte written there makes the file longer
  // than it (-1: each named on its own).
  std::int64_t SwitchByte = -1;
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
