// What the walk learns about one file and hands on: the headers it read,
// the RIFFs and movi lists it went through, the entries of the new indexes,
// the old indexes it met and the chunks whose size fields it corrected. A new
// file gets a new value; the checks and the writers read it, none changes it.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "avi/HeaderReader.h"
#include "codec/KeyFrame.h"

namespace VEKRiff {

// One entry of the rebuilt indexes: the chunk's code and size as its header
// gives them, the absolute position of that header and the entry's idx1
// flags. Still 16 bytes, like the idx1 entry it becomes, so that a long
// film's index costs no more memory; the position is absolute (48 bits) so
// that the same entries can feed the OpenDML indexes of files beyond 4 GiB.
struct OldIndexEntry {
  std::uint32_t ChunkId = 0;
  std::uint32_t Size = 0;
  std::uint64_t PositionAndFlags = 0;  // bits 0-47: header position; bits 48-63: flags

  OldIndexEntry() = default;
  OldIndexEntry(std::uint32_t chunkId, std::uint32_t flags, std::int64_t position, std::uint32_t size)
      : ChunkId(chunkId),
        Size(size),
        PositionAndFlags((static_cast<std::uint64_t>(position) & PositionMask) |
                         (static_cast<std::uint64_t>(flags & 0xFFFF) << 48)) {}
  std::int64_t Position() const { return static_cast<std::int64_t>(PositionAndFlags & PositionMask); }
  std::uint32_t Flags() const { return static_cast<std::uint32_t>(PositionAndFlags >> 48); }

  static constexpr std::uint64_t PositionMask = (std::uint64_t{1} << 48) - 1;
};
static_assert(sizeof(OldIndexEntry) == 16);

// A deque grows without moving what it holds, so collecting the index of a
// long film never needs twice its memory.
using IndexEntries = std::deque<OldIndexEntry>;

// The first of the entries (in file order) at or after position.
inline std::size_t FirstEntryFrom(const IndexEntries& entries, std::int64_t position) {
  return static_cast<std::size_t>(
      std::lower_bound(entries.begin(), entries.end(), position,
                       [](const OldIndexEntry& e, std::int64_t p) { return e.Position() < p; }) -
      entries.begin());
}
// The entry with its header at position, or entries.size().
inline std::size_t FindEntry(const IndexEntries& entries, std::int64_t position) {
  const std::size_t at = FirstEntryFrom(entries, position);
  return at < entries.size() && entries[at].Position() == position ? at : entries.size();
}

// One RIFF of a file as the walk found it: the first ('AVI ') and, in an
// OpenDML file, each 'AVIX' after it.
struct Segment {
  std::int64_t RiffPosition = 0;  // its "RIFF" header
  std::int64_t MoviPosition = 0;  // the "LIST" header of its movi list
  std::int64_t End = 0;           // where its usable movi data ends (the walk's end in it)
  // Its RIFF header is damaged: the walk found the segment by its movi
  // list, and a rebuild writes the header's codes again.
  bool RiffLost = false;
};
using Segments = std::vector<Segment>;

// A stream chunk the walk kept although its header's size is wrong (it lies,
// or the file was cut inside the chunk), with the size of the data that is
// there; a rebuild writes that size into its header. A chunk found through
// the old index whose code is damaged gets the index's code too.
struct SizeFix {
  std::int64_t Position = 0;  // the chunk's header
  std::uint32_t Size = 0;
  std::uint32_t Code = 0;  // 0: the header's own code stays
};

// The first chunk of a stream whose bytes tell what the data is (a sequence
// header, a frame header), or else its first chunk with data; whatever the
// stream's header says.
struct FirstChunk {
  std::uint32_t ChunkId = 0;  // 0: the stream has no such chunk
  std::uint32_t Size = 0;
  std::vector<unsigned char> Bytes;  // up to FirstChunkBytes of its data
  bool Told = false;                 // these bytes tell
  int Tries = 0;                     // chunks looked at
};
constexpr std::uint32_t FirstChunkBytes = 4096;

// A stretch the walk could not read as chunks: from the corrupted spot to
// where it found chunks again, or the index, or the end of the file.
struct DamagedStretch {
  std::int64_t From = 0;
  std::int64_t To = 0;
};
// Enough for a picture of a file's damage; a file with more has its later
// stretches counted only.
constexpr std::size_t MaxDamagedStretches = 4096;

struct ScanResult {
  VEKAvi::AviHeaders Headers;
  // How the chunk codes number the streams, decided by the walk at the
  // first code the two numberings read apart; every check and writer reads
  // stream numbers through it.
  VEKAvi::StreamNumbering Numbering = VEKAvi::StreamNumbering::Decimal;
  // No RIFF header where the file starts: the walk found the movi data by
  // its list header or by its chunks.
  bool StartLost = false;
  // Nor a "LIST movi" header: MoviOffset is 12 bytes before the first chunk.
  bool MoviHeaderLost = false;
  // The file ends inside its last chunk: it was cut short.
  bool EndsInsideChunk = false;
  // By stream number.
  std::vector<FirstChunk> FirstChunks;
  // Each stream's key-frame rule, by stream number (null: no rule).
  std::vector<VEKCodec::KeyFrameRule> Rules;
  // The "LIST" header of the movi list the walk started in; the legacy
  // index's offsets count from it.
  std::int64_t MoviOffset = 0;
  // At least one; the last one's End is where the walk ended.
  Segments SegmentList;
  // In file order.
  IndexEntries Entries;
  // The legacy idx1 the walk met in the first segment (-1: none) and its size field.
  std::int64_t OldIndexPosition = -1;
  std::uint32_t OldIndexSize = 0;
  // The header positions of the old index chunks ('ix##', '##ix') the walk
  // skipped inside the usable data. They no longer describe it, so the
  // OpenDML writer renames them to JUNK.
  std::vector<std::int64_t> OldIndexChunks;
  std::vector<SizeFix> SizeFixes;
  // The header positions, in file order, of the stream chunks the walk kept
  // although nothing recognisable follows them where their size ends: a
  // chunk before damage, or one whose size the walk corrected. Every other
  // chunk's size is confirmed by what follows it.
  std::vector<std::int64_t> Unconfirmed;
  // In file order, up to MaxDamagedStretches of them; DamageCount counts all.
  std::vector<DamagedStretch> Damage;
  std::int64_t DamageCount = 0;
  // Bytes a rebuild writes at PlaceholdersAt before its index: the chunks
  // that the entries of lost chunks point at (see Timeline.h). Empty: none.
  std::int64_t PlaceholdersAt = -1;
  std::vector<unsigned char> Placeholders;
  // Bytes a rebuild writes at LeadAt, right after the movi list's header:
  // the placeholders of a lost start, or a JUNK chunk over their room.
  std::int64_t LeadAt = -1;
  std::vector<unsigned char> Lead;
  // An OpenDML copy's placeholders of the chunks lost in its later
  // segments: each segment's right after its data, inside its movi list.
  struct Block {
    std::int64_t At = 0;
    std::vector<unsigned char> Bytes;
  };
  std::vector<Block> SegmentPlaceholders;

  std::int64_t End() const { return SegmentList.back().End; }
  bool IsOpenDml() const { return SegmentList.size() > 1; }
};

// One thing the walk or a check found, as the line the log shows; an error
// counts towards the file's errors.
// Where in the film a damaged spot lies: the video frames before it, and
// their playing time by the video stream's rate.
struct FilmPosition {
  std::int64_t Frame = 0;
  std::int64_t Milliseconds = 0;
};

// What a finding is about, for a report read by scripts: the line says it
// to a person, in the chosen language.
enum class FindingKind : std::uint8_t {
  Note,           // said for information: an assumption, a stream left as data
  CorruptedData,  // bytes the walk could not read as chunks
  ResumedScan,    // where the walk found chunks again after corrupted data
  HeaderDamage,   // the header list or a list header is damaged or lost, or disagrees with the data
  IndexMismatch,  // an index lacks or misstates chunks, or is missing
  SizeMismatch,   // a list's size field disagrees with its contents
  LostData,       // data the file lost (cut short) or that no index describes
};

struct Finding {
  std::string Line;
  bool Error = true;
  std::optional<FilmPosition> At;  // a damaged spot's, where the headers tell the rate
  FindingKind Kind = FindingKind::Note;
  std::int64_t Offset = -1;  // where in the file, -1: not tied to one place
  int Stream = -1;           // which stream, -1: none in particular
};
using Findings = std::vector<Finding>;

// Whether a finding's line names its video frame itself, as the line of
// corrupted data does: a place in the film said beside it then adds only
// its time.
inline bool LineNamesFrame(const Finding& finding) { return finding.Kind == FindingKind::CorruptedData; }

// What a walk updates while it goes, read from other threads by the
// front-ends' progress displays.
struct LiveCounts {
  std::atomic<std::int32_t> Progress{0};
  std::atomic<std::int64_t> VideoFrames{0};
  std::atomic<std::int64_t> AudioSamples{0};
  std::atomic<std::int32_t> Errors{0};
  // The walk is only part of a file's work: a copy goes on copying the
  // source's bytes after it (CopyDone of CopyTotal; both 0 when nothing is
  // copied), and the indexes and the flush come last. Done: all of it is over.
  std::atomic<std::int64_t> CopyTotal{0};
  std::atomic<std::int64_t> CopyDone{0};
  std::atomic<bool> Done{false};

  // The file's work done, 0-100, for a bar: the walk, or for a copy the
  // walk or the copying, whichever is behind (the copying once the walk is
  // over: it takes most of the time); 100 only once Done.
  std::int32_t FileProgress() const {
    if (Done.load(std::memory_order_relaxed)) return 100;
    std::int64_t percent = Progress.load(std::memory_order_relaxed);
    const std::int64_t total = CopyTotal.load(std::memory_order_relaxed);
    if (total > 0)
      percent = std::min(percent, 100 * std::min(CopyDone.load(std::memory_order_relaxed), total) / total);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(percent, 0, 99));
  }

  void Reset() {
    Progress.store(0, std::memory_order_relaxed);
    CopyTotal.store(0, std::memory_order_relaxed);
    CopyDone.store(0, std::memory_order_relaxed);
    Done.store(false, std::memory_order_relaxed);
    VideoFrames.store(0, std::memory_order_relaxed);
    AudioSamples.store(0, std::memory_order_relaxed);
    Errors.store(0, std::memory_order_relaxed);
  }
};

// Called where long work may be stopped; throws to stop it. Empty where it
// may not (an in-place rebuild once its first byte is written).
using StopCheck = std::function<void()>;
inline void MayStop(const StopCheck& stop) {
  if (stop) stop();
}

}  // namespace VEKRiff
