#include "recover/PieceChain.h"

#include <algorithm>
#include <limits>
#include <map>
#include <memory>

#include "avi/AviChunk.h"
#include "recover/Source.h"
#include "util/Endian.h"

namespace VEKRecover {

namespace {

using VEKAvi::ChunkHeader;
using VEKAvi::ListHeader;

constexpr std::uint32_t MaxChunkData = 32u << 20;
constexpr std::uint32_t MaxFirstChunk = 4u << 20;
constexpr std::int64_t Open = -1;
// The end of a run whose RIFF is lost: where its chain ends.
constexpr std::int64_t Endless = std::numeric_limits<std::int64_t>::max();
// Zero bytes in a row that compressed video other than JPEG never holds
// inside a frame, and the padding a writer may end a frame with.
constexpr std::int64_t SlackRun = 64;
constexpr std::int64_t PaddingBytes = 64;

// JPEG's segment lengths are big-endian.
std::int64_t JpegLength(const unsigned char* p) { return (std::int64_t{p[0]} << 8) | p[1]; }

// The film as its pieces lay it out: film offsets read through them.
class FilmView {
 public:
  struct Mapped {
    std::uint64_t First = 0;
    std::int64_t Units = Open;  // the last piece runs on
  };

  FilmView(const Source& source, const ClusterGrid& grid) : From(source), Grid(grid) {}

  std::vector<Mapped> Pieces;

  std::int64_t SourceOf(std::uint64_t cluster) const {
    return Grid.Origin + static_cast<std::int64_t>(cluster - 2) * Grid.Unit;
  }
  // The film offset where the last piece starts.
  std::int64_t LastStart() const {
    std::int64_t base = 0;
    for (std::size_t i = 0; i + 1 < Pieces.size(); ++i) base += Pieces[i].Units * Grid.Unit;
    return base;
  }
  bool Read(std::int64_t film, unsigned char* out, std::int64_t n) const {
    while (n > 0) {
      std::int64_t base = 0, at = -1, run = 0;
      for (const Mapped& p : Pieces) {
        const std::int64_t length = p.Units == Open ? std::numeric_limits<std::int64_t>::max() : p.Units * Grid.Unit;
        if (film - base < length) {
          at = SourceOf(p.First) + (film - base);
          run = length - (film - base);
          break;
        }
        base += length;
      }
      if (at < 0) return false;
      const std::int64_t take = std::min(n, run);
      if (!From.ReadExactly(out, take, at)) return false;
      out += take;
      film += take;
      n -= take;
    }
    return true;
  }

 private:
  const Source& From;
  const ClusterGrid& Grid;
};

// The search for a film's next piece reads a few bytes of cluster after
// cluster, outward from the break in both directions: one window of the
// source per direction turns those reads into one per window, so that a
// film whose next piece is nowhere costs a pass over the source, not a
// read per cluster of it.
class ProbeReader {
 public:
  explicit ProbeReader(const Source& source) : From(source) {}

  bool Read(unsigned char* out, std::int64_t n, std::int64_t offset, bool forward) {
    Window& w = Windows[forward ? 0 : 1];
    if (w.Start < 0 || offset < w.Start || offset - w.Start > w.Got - n) {
      // Left as allocated: only the bytes read are ever looked at.
      if (!w.Bytes) w.Bytes.reset(new unsigned char[static_cast<std::size_t>(WindowBytes)]);
      // Backward, the window ends at the offset: the next reads lie before it.
      w.Start = forward ? offset : std::max<std::int64_t>(0, offset + n - WindowBytes);
      w.Got = From.ReadAt(w.Bytes.get(), WindowBytes, w.Start);
      if (offset - w.Start > w.Got - n) return false;
    }
    std::copy_n(w.Bytes.get() + (offset - w.Start), n, out);
    return true;
  }

 private:
  static constexpr std::int64_t WindowBytes = 1 << 20;
  struct Window {
    std::int64_t Start = -1;
    std::int64_t Got = 0;
    std::unique_ptr<unsigned char[]> Bytes;
  };
  const Source& From;
  Window Windows[2];
};

class Follower {
 public:
  Follower(const Source& source, const ClusterGrid& grid, ClusterMap& claimed)
      : From(source), Grid(grid), View(source, grid), Claimed(claimed), Total(GridClusters(source, grid)) {}

  FilmPieces Run(std::int64_t start) {
    FilmPieces out;
    const std::uint64_t first = Grid.ClusterOf(start);
    View.Pieces.push_back({first, Open});
    unsigned char h[ListHeader::Size];
    if (!View.Read(0, h, ListHeader::Size)) return out;
    std::int64_t end, f;
    if (ListHeader::Is(h, VEKAvi::CodeRiff, VEKAvi::CodeAvi)) {
      end = ChunkHeader::Size + std::int64_t{ChunkHeader::Load(h).DataSize};
      f = ListHeader::Size;
    } else {
      // A run of movi chunks whose header list is lost: it ends where its
      // chain does.
      InMovi = true;
      end = Endless;
      f = out.Skip = start - View.SourceOf(first);
    }
    std::int64_t last = -1;
    while (true) {
      if (end - f < ChunkHeader::Size) {
        out.Complete = true;
        f = end;
        break;
      }
      if (!View.Read(f, h, ListHeader::Size)) break;
      const ChunkHeader chunk = ChunkHeader::Load(h);
      if (chunk.Code == VEKAvi::CodeIdx1 && InMovi) {
        // The index closes the film: take it whole, and what follows in the
        // RIFF; a run without its RIFF ends before it (its new list's
        // size is the chunks').
        out.Complete = true;
        if (end != Endless) f = end;
        break;
      }
      if (Acceptable(h)) {
        last = f;
        f = Advance(f, h, out);
        continue;
      }
      if (!FindNextPiece(f, last)) {
        // The chunk whose end is lost is left out, and not counted.
        f = std::max<std::int64_t>(last, out.Skip);
        out.StreamChunks -= LastCounted.first;
        out.VideoChunks -= LastCounted.second;
        break;
      }
    }
    out.FilmBytes = f;
    out.UnsureGaps = Unsure;
    // The last piece as far as the film's bytes reach.
    const std::int64_t inLast = f - View.LastStart();
    View.Pieces.back().Units = std::clamp<std::int64_t>((inLast + Grid.Unit - 1) / Grid.Unit, 1,
                                                         static_cast<std::int64_t>(Total));
    for (const auto& p : View.Pieces) {
      out.Pieces.push_back({p.First, static_cast<std::uint64_t>(p.Units)});
      for (std::int64_t i = 0; i < p.Units; ++i) Claimed.Set(p.First + static_cast<std::uint64_t>(i));
    }
    return out;
  }

 private:
  // A header the film may hold at this point.
  bool Acceptable(const unsigned char* h) const {
    const ChunkHeader chunk = ChunkHeader::Load(h);
    if (chunk.Code == VEKAvi::CodeList) {
      const VEKAvi::FourCC type = VEK::LoadLe32(h + ListHeader::TypeField);
      return type == VEKAvi::CodeMovi || type == VEKAvi::MakeFourCC("INFO") || type == VEKAvi::MakeFourCC("hdrl") ||
             type == VEKAvi::MakeFourCC("odml") || type == VEKAvi::CodeRecList;
    }
    if (chunk.Code == VEKAvi::CodeJunk) return chunk.DataSize <= MaxChunkData;
    if (!InMovi || !VEKAvi::IsStreamChunkId(h)) return false;
    const auto seen = Largest.find(chunk.Code);
    if (seen == Largest.end()) return chunk.DataSize <= MaxFirstChunk;
    return chunk.DataSize <= 2 * std::int64_t{seen->second} + 65536;
  }

  std::int64_t Advance(std::int64_t f, const unsigned char* h, FilmPieces& out) {
    const ChunkHeader chunk = ChunkHeader::Load(h);
    LastCounted = {0, 0};
    if (chunk.Code == VEKAvi::CodeList && VEK::LoadLe32(h + ListHeader::TypeField) == VEKAvi::CodeMovi) {
      InMovi = true;
      return f + ListHeader::Size;
    }
    if (VEKAvi::IsStreamChunkId(h)) {
      LastCounted = {1, VEKAvi::IsVideoKind(chunk.Code) ? 1 : 0};
      out.StreamChunks += LastCounted.first;
      out.VideoChunks += LastCounted.second;
      auto& largest = Largest[chunk.Code];
      largest = std::max(largest, chunk.DataSize);
      LastCode = chunk.Code;
    } else {
      LastCode = chunk.Code;
    }
    LastSize = chunk.DataSize;
    return f + ChunkHeader::Size + chunk.DataSize + (chunk.DataSize & 1);
  }

  bool Blank(std::uint64_t cluster) const { return Grid.Blank && Grid.Blank->Test(cluster); }

  bool Free(std::uint64_t cluster) const {
    if (cluster < 2 || cluster - 2 >= Total || Claimed.Test(cluster)) return false;
    if (Grid.InUse && Grid.InUse->Size() > 0 && Grid.InUse->Test(cluster)) return false;
    for (std::size_t i = 0; i + 1 < View.Pieces.size(); ++i) {
      const auto& p = View.Pieces[i];
      if (cluster >= p.First && cluster - p.First < static_cast<std::uint64_t>(p.Units)) return false;
    }
    return true;
  }

  // The chain broke at film offset f, after the sound header at last: finds
  // where the current piece ends and the next begins, and lays them in.
  bool FindNextPiece(std::int64_t f, std::int64_t last) {
    // Fits lays pieces in and takes them out again: the current one is
    // held by value.
    const FilmView::Mapped current = View.Pieces.back();
    const std::int64_t pieceFilm = View.LastStart();
    const std::int64_t pieceSource = View.SourceOf(current.First);
    const std::int64_t sound = (last < 0 ? 0 : last) + ChunkHeader::Size;
    // Boundaries as film offsets, from just after the sound header to the
    // last one before the due header's end.
    const std::int64_t earliest = Grid.BoundaryAtOrAfter(pieceSource + (sound - pieceFilm)) - pieceSource + pieceFilm;
    std::int64_t latest = Grid.BoundaryAtOrBefore(pieceSource + (f + ChunkHeader::Size - 1 - pieceFilm)) -
                          pieceSource + pieceFilm;
    latest = std::max(latest, earliest);
    // For a boundary b before the due header, the header lies f - b bytes
    // into the next piece: at the same offset within some cluster c,
    // whichever b it is. So each cluster is read once, there, and the
    // boundaries are tried only where a chunk code is found. A boundary
    // inside the header (after f) has it straddle the gap: its second part
    // opens the next piece.
    const std::int64_t within = ((f - earliest) % Grid.Unit + Grid.Unit) % Grid.Unit;
    const std::uint64_t origin =
        current.First + static_cast<std::uint64_t>(std::max<std::int64_t>(0, (earliest - pieceFilm) / Grid.Unit));
    unsigned char h[ListHeader::Size];
    for (std::uint64_t d = 0; d <= Total; ++d) {
      for (const bool forward : {true, false}) {
        if (!forward && (d == 0 || origin < d + 2)) continue;
        const std::uint64_t c = forward ? origin + d : origin - d;
        if (!Free(c)) continue;
        for (std::int64_t b = latest; b > f && b >= earliest; b -= Grid.Unit)
          if (Fits(f, last, b, (b - pieceFilm) / Grid.Unit, c)) return true;
        // A code lying in clusters the search saw blank reads as zeros,
        // which no chunk's code is: the read is spared.
        if (Blank(c) && (within + 4 <= Grid.Unit || Blank(c + 1))) continue;
        if (!Probes.Read(h, ListHeader::Size, View.SourceOf(c) + within, forward)) continue;
        const VEKAvi::FourCC code = VEK::LoadLe32(h);
        if (!VEKAvi::IsStreamChunkId(h) && code != VEKAvi::CodeList && code != VEKAvi::CodeJunk &&
            code != VEKAvi::CodeIdx1)
          continue;
        // Where the chunk that crosses the gap says nothing of where its
        // piece ended (no end marker to check), several boundaries fit the
        // same next piece: the earliest is taken, and the gap is told as
        // unsure, as a few of its clusters may be another file's.
        std::int64_t chosen = -1;
        for (std::int64_t b = earliest; b <= latest && b <= f; b += Grid.Unit) {
          const std::int64_t units = (b - pieceFilm) / Grid.Unit;
          const std::uint64_t into = static_cast<std::uint64_t>((f - b) / Grid.Unit);
          if (units <= 0 || c < into + 2 || !Fits(f, last, b, units, c - into, false)) continue;
          if (chosen >= 0) {
            ++Unsure;
            break;
          }
          chosen = b;
        }
        if (chosen >= 0)
          return Fits(f, last, chosen, (chosen - pieceFilm) / Grid.Unit,
                      c - static_cast<std::uint64_t>((f - chosen) / Grid.Unit));      }
    }
    return false;
  }

  // Whether the current piece ending after units clusters (at film offset
  // b) and the next starting at cluster k put the chain back together.
  // With keep false, the pieces are left as they were either way.
  bool Fits(std::int64_t f, std::int64_t last, std::int64_t b, std::int64_t units, std::uint64_t k,
            bool keep = true) {
    const FilmView::Mapped saved = View.Pieces.back();
    for (std::int64_t i = 0; i < units; ++i)
      if (Claimed.Test(saved.First + static_cast<std::uint64_t>(i)) ||
          (Grid.InUse && Grid.InUse->Size() > 0 && Grid.InUse->Test(saved.First + static_cast<std::uint64_t>(i))))
        return false;
    View.Pieces.back().Units = units;
    View.Pieces.push_back({k, Open});
    const auto undo = [&] {
      View.Pieces.pop_back();
      View.Pieces.back() = saved;
      return false;
    };
    // The clusters from k up to the due header's end must be free.
    const std::int64_t reach = f + ListHeader::Size - b;
    for (std::int64_t i = 0; i == 0 || i * Grid.Unit < reach; ++i)
      if (!Free(k + static_cast<std::uint64_t>(i))) return undo();
    bool fits = false;
    unsigned char h[ListHeader::Size];
    if (View.Read(f, h, ListHeader::Size) &&
        (Acceptable(h) || (InMovi && ChunkHeader::Load(h).Code == VEKAvi::CodeIdx1)) && EndsAsItsCodec(last)) {
      // Where the chunk after it lies in free clusters of the new piece, it
      // must be sound too.
      const ChunkHeader chunk = ChunkHeader::Load(h);
      const std::int64_t next = f + ChunkHeader::Size + chunk.DataSize + (chunk.DataSize & 1);
      fits = true;
      bool clear = true;
      for (std::int64_t i = 1; clear && i * Grid.Unit < next + ListHeader::Size - b; ++i)
        clear = Free(k + static_cast<std::uint64_t>(i));
      unsigned char n[ListHeader::Size];
      if (clear && chunk.Code != VEKAvi::CodeIdx1 && View.Read(next, n, ListHeader::Size))
        fits = Acceptable(n) || ChunkHeader::Load(n).Code == VEKAvi::CodeIdx1;
    }
    return keep ? fits || undo() : (undo(), fits);
  }

  // A JPEG frame that crossed the gap ends on its end marker, FF D9, where
  // its size says (some writers pad a frame with a few zero bytes), and its
  // coded data holds no marker a JPEG cannot have there: a cluster of
  // other data laid inside the frame shows as FF followed by anything but
  // 00 (a stuffed byte), FF (fill) or D0-D7 (a restart).
  //
  // Compressed video never holds a long run of zero bytes inside a frame:
  // in MPEG-4 and H.264 a start code is a few zeros and a one, and in a
  // JPEG scan 512 zero bits in a row would be hundreds of coefficients
  // coded as -1. Such a run is the slack at the end of another file's last
  // cluster, and a few random bytes before it rarely hold a marker.
  bool EndsAsItsCodec(std::int64_t last) const {
    if (last < 0 || !VEKAvi::IsVideoKind(LastCode) || LastSize < 4) return true;
    unsigned char start[2];
    if (!View.Read(last + ChunkHeader::Size, start, 2)) return true;
    if (start[0] != 0xFF || start[1] != 0xD8) {
      Frame.resize(LastSize);
      if (!View.Read(last + ChunkHeader::Size, Frame.data(), LastSize)) return false;
      // A frame may end on a little padding.
      std::int64_t run = 0;
      for (std::int64_t i = 0; i + PaddingBytes < LastSize; ++i)
        if ((run = Frame[i] == 0 ? run + 1 : 0) >= SlackRun) return false;
      return true;
    }
    Frame.resize(LastSize);
    if (!View.Read(last + ChunkHeader::Size, Frame.data(), LastSize)) return false;
    std::int64_t end = LastSize;
    while (end > 2 && Frame[end - 1] == 0 && LastSize - end < 16) --end;
    if (Frame[end - 2] != 0xFF || Frame[end - 1] != 0xD9) return false;
    // The segments up to the scan's (FF DA), each with its length.
    std::int64_t i = 2;
    while (true) {
      if (end - i < 4 || Frame[i] != 0xFF) return false;
      const unsigned char marker = Frame[i + 1];
      if (marker == 0xFF) {
        ++i;
        continue;
      }
      const std::int64_t length = JpegLength(&Frame[i + 2]);
      if (length < 2 || end - i - 2 < length) return false;
      i += 2 + length;
      if (marker == 0xDA) break;
    }
    std::int64_t zeros = 0;
    for (; i < end - 2; ++i) {
      if ((zeros = Frame[i] == 0 ? zeros + 1 : 0) >= SlackRun) return false;
      if (Frame[i] == 0xFF) {
        const unsigned char next = Frame[i + 1];
        if (next != 0x00 && next != 0xFF && (next < 0xD0 || next > 0xD7)) return false;
      }
    }
    return true;
  }

  const Source& From;
  const ClusterGrid& Grid;
  ProbeReader Probes{From};
  FilmView View;
  ClusterMap& Claimed;
  const std::uint64_t Total;
  bool InMovi = false;
  // Gaps where more than one boundary fits.
  std::int64_t Unsure = 0;
  // What the last chunk taken added to the counts: stream chunks, frames.
  std::pair<int, int> LastCounted{0, 0};
  std::map<VEKAvi::FourCC, std::uint32_t> Largest;
  VEKAvi::FourCC LastCode = 0;
  std::uint32_t LastSize = 0;
  mutable std::vector<unsigned char> Frame;
};

}  // namespace

std::uint64_t GridClusters(const Source& source, const ClusterGrid& grid) {
  if (grid.Unit <= 0 || source.Size() <= grid.Origin) return 0;
  return static_cast<std::uint64_t>((source.Size() - grid.Origin) / grid.Unit);
}

FilmPieces FollowFilm(const Source& source, const ClusterGrid& grid, std::int64_t start, ClusterMap& claimed) {
  const std::uint64_t clusters = GridClusters(source, grid) + 2;
  if (claimed.Size() < clusters) claimed = ClusterMap(clusters);
  return Follower(source, grid, claimed).Run(start);
}

}  // namespace VEKRecover
