// Puts a film's pieces back in order, from its RIFF header on. Where its
// chain of chunks breaks, its piece ended at a cluster boundary somewhere
// between its last sound chunk header and the place the next one was due;
// the next piece is the nearest cluster, not kept by a live file nor taken
// by a film already followed, in which, at the offset the chunk sizes
// require, a chunk of the film's own streams begins, with a plausible size,
// and where the chunk that crossed the gap ends as its codec says (a JPEG
// frame on its end marker). A film whose next piece cannot be found ends
// at its last whole chunk.
#pragma once

#include <cstdint>
#include <vector>

#include "recover/ClusterMap.h"
#include "recover/FilmFinder.h"

namespace VEKRecover {

class Source;

struct FilmPieces {
  // Each piece as its first cluster (the grid's numbering, from 2) and
  // its count of clusters, in the film's order.
  struct Piece {
    std::uint64_t First = 0;
    std::uint64_t Count = 0;
  };
  std::vector<Piece> Pieces;
  bool Complete = false;        // the chain reached the film's index or its RIFF's end
  // A run without its header list starts this far into its first piece.
  std::int64_t Skip = 0;
  std::int64_t FilmBytes = 0;   // up to the end of its last whole chunk
  std::int64_t StreamChunks = 0;
  std::int64_t VideoChunks = 0;  // of them, the frames of its video streams
  // Gaps inside a chunk whose codec tells nothing of where the piece ended,
  // where the piece could have ended on another cluster boundary: the
  // earliest was taken, so a cluster or two of such a chunk may be another
  // file's.
  std::int64_t UnsureGaps = 0;
};

// Follows the film whose RIFF header lies at the start of a cluster of the
// grid, or the run of movi chunks that starts at start (its header list
// lost), up to where its chain ends. The clusters it takes are set in claimed (sized as the grid's
// InUse, or to the grid's cluster count when there is none), so that the
// next film followed leaves them.
FilmPieces FollowFilm(const Source& source, const ClusterGrid& grid, std::int64_t start, ClusterMap& claimed);

// The grid's clusters: numbered from 2 at its origin, as far as the source goes.
std::uint64_t GridClusters(const Source& source, const ClusterGrid& grid);

}  // namespace VEKRecover
