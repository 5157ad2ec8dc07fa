// The first pass of a recovery: every film start (a "RIFF....AVI " header)
// and every run of movi chunks (stream chunks of plausible sizes, each
// ending where the next begins) that lies at or inside a cluster of the
// source, followed chunk to chunk until its chain breaks. A film on a card
// breaks where its first piece ends: the chunk whose claimed end lands on
// something that is no chunk crossed a cluster boundary into another
// file's data. What comes after is the reassembly's to find.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/ScanResult.h"
#include "recover/ClusterMap.h"

namespace VEKRecover {

class Source;

// How the source is cut into clusters: where cluster 2 starts and their
// size; with no readable file system, the 512-byte sectors from the start.
struct ClusterGrid {
  std::int64_t Origin = 0;
  std::int64_t Unit = 512;
  // Indexed by cluster number; clusters set here are a live file's, never
  // searched. Null or empty: every cluster is searched.
  const ClusterMap* InUse = nullptr;
  // Indexed by cluster number; clusters set here hold only zero bytes (the
  // search saw them so), which the search for a film's next piece need not
  // read again. Null: none are known.
  const ClusterMap* Blank = nullptr;

  std::int64_t BoundaryAtOrAfter(std::int64_t at) const;
  std::int64_t BoundaryAtOrBefore(std::int64_t at) const;
  // The number of the cluster that holds position at (at >= Origin).
  std::uint64_t ClusterOf(std::int64_t at) const { return 2 + static_cast<std::uint64_t>((at - Origin) / Unit); }
};

struct FilmCandidate {
  std::int64_t Start = 0;   // the RIFF header, or the run's first chunk
  bool HasHeader = false;   // a RIFF "AVI " header opens it
  std::int64_t Movi = -1;   // its "LIST movi" header, where it was met
  std::int64_t StreamChunks = 0;
  // The chain ran to the film's index or to its RIFF's end without a break.
  bool Whole = false;
  // Where the chain broke: the last chunk whose header was sound, and where
  // it claimed to end, on bytes that are no chunk.
  std::int64_t LastChunk = -1;
  std::int64_t BreakAt = -1;
  // The piece ends at a cluster boundary between these two (inclusive):
  // after the sound header, at or before the claimed end.
  std::int64_t EndsNoEarlierThan = -1;
  std::int64_t EndsNoLaterThan = -1;
  // Where the walk stopped: the break, the index, or the end of the RIFF.
  std::int64_t WalkedTo = 0;
};

// The fewest chunks in a row for a run without a header to count: fewer
// are met by chance in other data.
constexpr int RunChunks = 3;

// progress hears, after each block read, how far the search has read and
// how many films it has found. Where blank is given, it is made as big as
// the grid's clusters and the clusters found to hold only zeros (a sparse
// image's holes among them) are set in it.
using FindProgress = std::function<void(std::int64_t read, int films)>;

std::vector<FilmCandidate> FindFilms(const Source& source, const ClusterGrid& grid,
                                     const VEKRiff::StopCheck& stop = {}, const FindProgress& progress = {},
                                     ClusterMap* blank = nullptr);

}  // namespace VEKRecover
