// What each stretch the walk could not read held, in the film's own time.
// An AVI has no timestamps: a frame's time is its place among its stream's
// index entries, a sound chunk's its place or the bytes before it. An index
// that lists only the chunks found plays everything after a lost stretch
// early, sound and picture by different amounts. The file's own idx1, where
// it survives, still says which chunks of which stream lay in each lost
// stretch (and before the first surviving chunk, where the start is lost)
// and how large they were: a rebuild keeps their places with placeholders.
//
// The old index is believed only where it agrees with the walk and only for
// what it can vouch for: an entry that points at a chunk the walk found, past
// the file, outside every damaged stretch, over another lost chunk or beyond
// its stretch's end is no lost chunk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ScanResult.h"
#include "file/BackupFile.h"

namespace VEKRiff {

// One chunk the old index lists in a lost stretch.
struct LostChunk {
  std::uint32_t ChunkId = 0;
  std::uint32_t Size = 0;
};

// What one stream lost in one stretch.
struct StreamLoss {
  std::int64_t Chunks = 0;
  std::int64_t Bytes = 0;
};

struct StretchLoss {
  std::int64_t Offset = 0;  // where in the file: the damaged stretch's start, or the first lost chunk's
  std::size_t Before = 0;   // how many of the walk's entries come before it: its place in the new index
  std::size_t First = 0;    // its chunks: Timeline::Chunks[First, First + Count), in the old index's order
  std::size_t Count = 0;
  std::vector<StreamLoss> Streams;  // by stream number, up to the highest that lost a chunk here
};

// The start of a frame of sound the walk kept (MPEG audio, or AC-3 with its
// bit stream information), of a size lost chunks of its stream hold one or
// several frames of: a silent frame of that size is made from it.
struct FrameHeader {
  std::uint32_t ChunkId = 0;
  std::uint32_t Size = 0;
  unsigned char Bytes[16] = {};
};

struct Timeline {
  std::vector<LostChunk> Chunks;
  std::vector<StretchLoss> Stretches;  // in file order
  std::vector<FrameHeader> FrameHeaders;
  bool Empty() const { return Stretches.empty(); }
};

// A bound on the lost chunks a timeline remembers (8 bytes each); stretches
// past it are left as the walk found them.
constexpr std::size_t MaxLostChunks = std::size_t{1} << 20;

// The lost chunks of the walked (and salvaged) scan, from the file's own
// idx1; empty where it has none or where it disagrees with the walk.
Timeline TimelineFromOldIndex(BackupFile& file, const ScanResult& scan, const StopCheck& stop);

// The lost chunks by the best witness the file has: its own idx1 where it
// has one, else its streams' clocks (see TimelineClock.h).
Timeline TimelineOf(BackupFile& file, const ScanResult& scan, const StopCheck& stop);

// One line per lost stretch: what it held and where in the film. They tell
// damage the walk already counted, so none counts as an error.
Findings TimelineFindings(const ScanResult& scan, const Timeline& timeline);

// The scan a copy writes: each lost chunk back at its place in the entries,
// as an empty video frame or a sound chunk of silence of its size (zero PCM
// samples, or an MPEG audio frame that holds no sound; an empty entry where
// no silence can be made), pointing at placeholder chunks written once each
// after the movi data (in an OpenDML file, after the data of the segment
// the stretch lay in); the data's end moves past them. A lost start's go
// right after the movi list's header, before the first kept chunk, where
// they have room: lead bytes the new header list left them (the movi list's
// header then moves back by as much), or the bytes the lost chunks took.
// Headers are the ones in force for the copy (a new header list's, where one
// is written). The scan's entries are moved, never held twice.
struct PlaceholderPlace {
  // Room a new header list left ahead of the data.
  std::int64_t Lead = 0;
  // Whether a lost start keeps its place. In place it does not: its
  // placeholders would go over the damaged bytes ahead of the data before
  // the new index is in place.
  bool KeepLead = true;
  // Where the others go, on a position even from the movi list's start,
  // the walk's end left as it is (in place, right before an index written
  // past the old end of the file); -1: right after the data, which then
  // ends after them.
  std::int64_t At = -1;
};
ScanResult WithPlaceholders(ScanResult scan, const Timeline& timeline, const PlaceholderPlace& place = {});

// What the placeholders of chunks lost after the first kept one add: their
// bytes (laid out on a position even from the movi list's start) and their
// entries. None where the lost chunks keep no place.
struct PlaceholderRoom {
  std::int64_t Bytes = 0;
  std::size_t Entries = 0;
};
PlaceholderRoom TrailingRoom(const ScanResult& scan, const Timeline& timeline);

// What a copy's placeholders add to each RIFF segment: the bytes after its
// data, and its entries (the first segment's idx1 also lists a lost
// start's, where they keep their place). lead: the room a new header list
// leaves ahead of the data. An OpenDML copy moves each later segment along
// by as much as those before it take, so that the placeholders (and the
// first segment's idx1) fit before it.
std::vector<PlaceholderRoom> CopyRooms(const ScanResult& scan, const Timeline& timeline, std::int64_t lead);

// The bytes a lost start's placeholders take under the copy's headers:
// the room a new header list leaves them ahead of the data.
std::int64_t LeadBytes(const ScanResult& scan, const VEKAvi::AviHeaders& headers, const Timeline& timeline);

}  // namespace VEKRiff
