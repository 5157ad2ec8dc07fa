// The indexes of a file with more than one RIFF (OpenDML): a legacy idx1 for
// the first segment where its file has room for it, one standard index chunk
// ('ix##') per stream and segment after the usable data of the last segment,
// each stream's super index ('indx') in the space its header reserved, and
// the sizes of every RIFF and movi list it changes and the dmlh frame count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/ScanResult.h"
#include "file/BackupFile.h"

namespace VEKRiff {

// One standard index chunk as the writer lays it out: its base (the movi
// list it indexes, as muxers write it), its entries and their bytes, and the
// code of its first entry.
struct OdmlStandardIndex {
  std::int64_t Base = 0;
  std::uint32_t Count = 0;
  VEKAvi::FourCC ChunkId = 0;
  std::uint64_t DataBytes = 0;
};

struct OdmlStreamIndexes {
  std::vector<OdmlStandardIndex> Indexes;  // in file order, one or more per segment it has chunks in
  std::int64_t Entries = 0;
  std::int64_t ReservePos = -1;  // the indx or JUNK chunk that takes the super index
  std::uint32_t ReserveSize = 0;
  bool ReserveIsIndx = false;
};

// Every index the writer will write, decided and checked before a byte is
// written, so that a copy and a rebuild in place refuse the same files.
struct OdmlIndexPlan {
  std::vector<OdmlStreamIndexes> Streams;
  std::int64_t FirstSegmentEntries = 0;  // the legacy idx1's entries
  std::int64_t StandardBytes = 0;        // all ix## chunks, headers included
  int FirstVideo = -1;
};

// Throws (ErrorException) the failure WriteOdmlIndexes would.
OdmlIndexPlan PlanOdmlIndexes(const ScanResult& scan);
std::int64_t StandardIndexBytes(std::uint32_t count);
// Writes the ix## chunks of the plan one after the other from `at` on, each
// stream's from its index skip[n] on (all when skip is empty), and returns
// every stream's super index entries for the chunks written. headersFirst:
// every chunk's header goes out before any chunk's entries, so that a reader
// that skips chunks by their sizes skips each one whole whatever of its
// entries is on disk yet.
std::vector<std::vector<unsigned char>> WriteStandardIndexes(BackupFile& file, const ScanResult& scan,
                                                             const OdmlIndexPlan& plan, std::int64_t at,
                                                             const std::vector<std::size_t>& skip, bool headersFirst,
                                                             const StopCheck& stop);
// The super index of stream n as it fills its reserve (the data after the
// chunk header): its head, the given entries, and zeros in the slots left.
std::vector<unsigned char> SuperIndexBytes(const ScanResult& scan, const OdmlIndexPlan& plan, std::size_t n,
                                           const std::vector<unsigned char>& entries);
// Makes ffmpeg's JUNK reserve for the odml list a LIST odml whose dmlh
// holds the film's frame count, or writes that count into the dmlh there is.
void WriteOdmlFrameCount(BackupFile& file, const ScanResult& scan, const OdmlIndexPlan& plan);

// What WriteOdmlIndexes will write past the last segment's end (so that room
// can be reserved for it first), after checking that it can; throws the
// failure WriteOdmlIndexes would.
std::int64_t OdmlIndexBytes(const ScanResult& scan);
// Fails (ErrorException) before anything is written when the reserved space
// cannot hold a super index. Leaves the position at the new end of the file,
// where the caller truncates. The scan's entries are in file order, each
// inside one segment's [movi data, End).
void WriteOdmlIndexes(BackupFile& file, const ScanResult& scan, const StopCheck& stop);

}  // namespace VEKRiff
