#include "recover/FilmFinder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "avi/AviChunk.h"
#include "recover/Source.h"
#include "util/Endian.h"

namespace VEKRecover {

namespace {

using VEKAvi::ChunkHeader;
using VEKAvi::ListHeader;

// The largest stream chunk taken at its word: a frame of an uncompressed
// 4K picture is 24 MiB, and no camera's compressed frame comes near.
constexpr std::uint32_t MaxChunkData = 32u << 20;
constexpr std::int64_t BlockBytes = 256 << 10;

// Follows the chain of chunks from position until a header is not one.
class ChainWalk {
 public:
  ChainWalk(const Source& source, const ClusterGrid& grid) : From(source), Grid(grid) {}

  // From inside a RIFF's list (just past its 12-byte header) or from the
  // first chunk of a run, up to end (the RIFF's claimed end, or the source's).
  void Run(FilmCandidate& film, std::int64_t position, std::int64_t end) {
    unsigned char h[ListHeader::Size];
    std::int64_t last = -1;
    film.WalkedTo = position;
    while (position <= end - ChunkHeader::Size && From.ReadAt(h, sizeof h, position) >= ChunkHeader::Size) {
      const ChunkHeader chunk = ChunkHeader::Load(h);
      const std::int64_t remaining = From.Size() - position - ChunkHeader::Size;
      film.WalkedTo = position;
      if (chunk.Code == VEKAvi::CodeIdx1) {
        film.Whole = true;
        return;
      }
      if (chunk.Code == VEKAvi::CodeList && VEK::LoadLe32(h + ListHeader::TypeField) == VEKAvi::CodeMovi) {
        film.Movi = position;  // into the list: its chunks are the film
        last = position;
        position += ListHeader::Size;
        continue;
      }
      const bool listOrFiller = chunk.Code == VEKAvi::CodeList || chunk.Code == VEKAvi::CodeJunk;
      const bool stream = VEKAvi::IsStreamChunkId(h) && chunk.DataSize <= MaxChunkData;
      if (!(listOrFiller || stream) || remaining < chunk.DataSize) break;
      if (stream) ++film.StreamChunks;
      last = position;
      position += ChunkHeader::Size + chunk.DataSize + (chunk.DataSize & 1);
    }
    film.WalkedTo = position;
    if (position >= end) {
      film.Whole = film.HasHeader;
      return;
    }
    film.LastChunk = last;
    film.BreakAt = position;
    // The sound header's 8 bytes are the film's: the piece ends after them.
    film.EndsNoEarlierThan = Grid.BoundaryAtOrAfter((last < 0 ? film.Start : last) + ChunkHeader::Size);
    film.EndsNoLaterThan = std::max(film.EndsNoEarlierThan, Grid.BoundaryAtOrBefore(position));
  }

 private:
  const Source& From;
  const ClusterGrid& Grid;
};

// The first of count places from p where a movi list's header starts, or
// -1. Its type is searched for, as few bytes of any data hold it.
std::int64_t FindMoviList(const unsigned char* p, std::int64_t count) {
  if (count <= 0) return -1;
  const std::string_view types(reinterpret_cast<const char*>(p + ListHeader::TypeField),
                               static_cast<std::size_t>(count + 3));
  for (std::size_t i = types.find("movi"); i != std::string_view::npos; i = types.find("movi", i + 1))
    if (ListHeader::Is(p + i, VEKAvi::CodeList, VEKAvi::CodeMovi)) return static_cast<std::int64_t>(i);
  return -1;
}

// Whether n bytes (n > 0) are all zero: the first is, and each equals the
// next, which the library's compare tells at its own speed.
bool AllZero(const unsigned char* p, std::int64_t n) {
  return p[0] == 0 && std::memcmp(p, p + 1, static_cast<std::size_t>(n - 1)) == 0;
}

// The clusters that lie whole in [from, to) of the source, set in blank.
void MarkBlank(ClusterMap* blank, const ClusterGrid& grid, std::int64_t from, std::int64_t to) {
  if (!blank) return;
  for (std::int64_t unit = grid.BoundaryAtOrAfter(from); to - unit >= grid.Unit; unit += grid.Unit)
    blank->Set(grid.ClusterOf(unit));
}

}  // namespace

std::int64_t ClusterGrid::BoundaryAtOrAfter(std::int64_t at) const {
  if (at <= Origin) return Origin;
  return Origin + (at - Origin + Unit - 1) / Unit * Unit;
}

std::int64_t ClusterGrid::BoundaryAtOrBefore(std::int64_t at) const {
  if (at <= Origin) return Origin;
  return Origin + (at - Origin) / Unit * Unit;
}

std::vector<FilmCandidate> FindFilms(const Source& source, const ClusterGrid& grid, const VEKRiff::StopCheck& stop,
                                     const FindProgress& progress, ClusterMap* blank) {
  std::vector<FilmCandidate> found;
  if (grid.Unit <= 0 || grid.Origin < 0) return found;
  if (blank) {
    const std::int64_t span = std::max<std::int64_t>(0, source.Size() - grid.Origin);
    *blank = ClusterMap(2 + static_cast<std::uint64_t>(span / grid.Unit));
  }
  const bool mapped = grid.InUse && grid.InUse->Size() > 0;
  // The blocks hold whole units, and a little more so that a header at a
  // unit's end can be read whole.
  const std::int64_t unitsPerBlock = std::max<std::int64_t>(1, BlockBytes / grid.Unit);
  const std::int64_t block = unitsPerBlock * grid.Unit;
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[static_cast<std::size_t>(block + ListHeader::Size)]);
  ChainWalk walk(source, grid);
  // Clusters up to here belong to a piece already walked.
  std::int64_t walkedTo = grid.Origin;
  int films = 0;
  for (std::int64_t at = grid.Origin; source.Size() - at >= ListHeader::Size; at += block) {
    if (stop) VEKRiff::MayStop(stop);
    // A sparse image's holes start no film: the search goes on at its data.
    if (const std::int64_t data = source.DataFrom(at); data > at) {
      MarkBlank(blank, grid, at, data);
      at = std::max(at, grid.BoundaryAtOrBefore(data));
      if (source.Size() - at < ListHeader::Size) break;
    }
    const std::int64_t got = source.ReadAt(buffer.get(), block + ListHeader::Size, at);
    for (std::int64_t u = 0; u < block && got - u >= ListHeader::Size; u += grid.Unit) {
      const std::int64_t unit = at + u;
      const bool zeros = got - u >= grid.Unit && AllZero(buffer.get() + u, grid.Unit);
      if (zeros && blank) blank->Set(grid.ClusterOf(unit));
      if (unit < walkedTo) continue;
      if (mapped && grid.InUse->Test(grid.ClusterOf(unit))) continue;
      // Every code a film or a run opens with starts with a printable
      // byte: none starts in a unit of zeros (a card's unwritten space).
      if (zeros) continue;
      const unsigned char* p = buffer.get() + u;
      FilmCandidate film;
      if (ListHeader::Is(p, VEKAvi::CodeRiff, VEKAvi::CodeAvi)) {
        film.Start = unit;
        film.HasHeader = true;
        const std::int64_t claimed = ChunkHeader::Size + std::int64_t{ChunkHeader::Load(p).DataSize};
        walk.Run(film, unit + ListHeader::Size, std::min(source.Size(), unit + claimed));
      } else {
        // A run of chunks starting in this unit: a movi list's header (a
        // film whose header list is lost, its first frames perhaps few
        // before its piece ends), else the first stream chunk header in it
        // whose chain holds for RunChunks chunks.
        const std::int64_t inUnit = std::min(grid.Unit, got - u - ChunkHeader::Size);
        if (const std::int64_t i = FindMoviList(p, std::min(inUnit, got - u - ListHeader::Size + 1)); i >= 0) {
          FilmCandidate run;
          run.Start = unit + i;
          walk.Run(run, run.Start, source.Size());
          if (run.StreamChunks > 0) film = run;
        }
        for (std::int64_t i = 0; i < inUnit && film.StreamChunks == 0;) {
          i += static_cast<std::int64_t>(VEKAvi::FindResyncCode(p + i, static_cast<std::size_t>(inUnit - i)));
          if (i >= inUnit) break;
          FilmCandidate run;
          run.Start = unit + i;
          if (VEKAvi::IsStreamChunkId(p + i)) {
            walk.Run(run, run.Start, source.Size());
            if (run.StreamChunks >= RunChunks) {
              film = run;
              break;
            }
          }
          ++i;
        }
        if (film.StreamChunks < RunChunks && film.Movi < 0) continue;
      }
      walkedTo = film.BreakAt >= 0 ? film.EndsNoEarlierThan : grid.BoundaryAtOrAfter(film.WalkedTo);
      found.push_back(film);
      if (film.HasHeader) ++films;
    }
    if (progress) progress(std::min(source.Size(), at + block), films);
  }
  return found;
}

}  // namespace VEKRecover
