#include "recover/Recovery.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "avi/AviChunk.h"
#include "file/File.h"
#include "lang/Language.h"
#include "recover/CardFileSystem.h"
#include "recover/FilmFinder.h"
#include "recover/PieceChain.h"
#include "recover/RecoverMessages.h"
#include "recover/Source.h"
#include "util/Endian.h"

namespace VEKRecover {

namespace {

// More than the file layer queues (File::QueueLimit), so that a full
// buffer goes to the staged film without being copied again.
constexpr std::int64_t CopyBlock = 4 << 20;
static_assert(CopyBlock > VEKFile::File::QueueLimit);

// The grid the search walks: the file system's clusters where its boot
// sector gives them, with the live files' left out where its FAT is read;
// else the source's sectors.
ClusterGrid GridOf(const CardFileSystem& fs) {
  if (!fs.Layout) return {};
  return {fs.Layout->DataStart, fs.Layout->ClusterBytes, fs.Readable() ? &fs.InUse : nullptr};
}

// Writes a film's bytes into a new file at path, from the source's ranges
// in order, behind an optional head; the last range may be cut short by
// the film's end. The bytes gather in buffer (CopyBlock bytes, shared by
// the films of a run) and go out a full buffer at a time.
class StagedWriter {
 public:
  StagedWriter(const std::string& path, unsigned char* buffer) : Out(path), Buffer(buffer) { Out.CreateNew(); }

  void Put(const void* bytes, std::int64_t n) {
    const auto* from = static_cast<const unsigned char*>(bytes);
    while (n > 0) {
      if (Held == CopyBlock) Drain();
      const std::int64_t take = std::min(n, CopyBlock - Held);
      std::memcpy(Buffer + Held, from, static_cast<std::size_t>(take));
      Held += take;
      from += take;
      n -= take;
    }
  }
  void Copy(const Source& source, std::int64_t from, std::int64_t n, const VEKRiff::StopCheck& stop) {
    while (n > 0) {
      if (stop) VEKRiff::MayStop(stop);
      if (Held == CopyBlock) Drain();
      const std::int64_t take = std::min(n, CopyBlock - Held);
      const std::int64_t got = source.ReadAt(Buffer + Held, take, from);
      if (got <= 0) return;
      Held += got;
      from += got;
      n -= got;
    }
  }
  void Close() {
    Drain();
    Out.Flush();
  }

 private:
  void Drain() {
    Out.Write(Buffer, Held);
    Held = 0;
  }

  VEKFile::File Out;
  unsigned char* Buffer;
  std::int64_t Held = 0;
};

// The film's bytes from its pieces, in order, from Skip to FilmBytes.
void WritePieces(StagedWriter& writer, const Source& source, const ClusterGrid& grid, const FilmPieces& pieces,
                 const VEKRiff::StopCheck& stop) {
  std::int64_t film = 0;
  for (const FilmPieces::Piece& p : pieces.Pieces) {
    const std::int64_t at = grid.Origin + static_cast<std::int64_t>(p.First - 2) * grid.Unit;
    const std::int64_t length = static_cast<std::int64_t>(p.Count) * grid.Unit;
    const std::int64_t from = std::max(film, pieces.Skip), to = std::min(film + length, pieces.FilmBytes);
    if (to > from) writer.Copy(source, at + (from - film), to - from, stop);
    film += length;
  }
}

std::string Hex(std::int64_t offset) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(offset));
  return text;
}

const DirEntry* DeletedAt(const CardFileSystem& fs, std::int64_t start) {
  if (!fs.Layout) return nullptr;
  for (const DirEntry& e : fs.Deleted)
    if (!e.Directory && fs.Layout->IsDataCluster(e.FirstCluster) && fs.Layout->ClusterOffset(e.FirstCluster) == start)
      return &e;
  return nullptr;
}

// The frames' length in seconds by the main header's frame period, where
// the film's header list opens as a muxer writes it; else "?".
std::string Seconds(const Source& source, std::int64_t start, std::int64_t frames) {
  unsigned char h[36];
  if (!source.ReadExactly(h, sizeof h, start) || VEK::LoadLe32(h + 12) != VEKAvi::CodeList ||
      VEK::LoadLe32(h + 24) != VEKAvi::MakeFourCC("avih"))
    return "?";
  const std::uint32_t period = VEK::LoadLe32(h + 32);
  if (period == 0 || period > 10'000'000) return "?";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(frames) * period / 1e6);
  std::string seconds = text;
  if (VEK::LanguageIndex() == VEK::French) std::replace(seconds.begin(), seconds.end(), '.', ',');
  return seconds;
}

std::string DateText(const FatDate& d) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", d.Year, d.Month, d.Day, d.Hour, d.Minute,
                d.Second);
  return text;
}

}  // namespace

std::string FilmName(std::int64_t offset, const FatDate* written) {
  std::string name = "film-" + Hex(offset);
  if (written && written->Year > 0) {
    char date[32];
    std::snprintf(date, sizeof date, "-%04d%02d%02d-%02d%02d%02d", written->Year, written->Month, written->Day,
                  written->Hour, written->Minute, written->Second);
    name += date;
  }
  return name + ".avi";
}

std::vector<StagedFilm> StageFilms(const std::string& sourcePath, const std::string& staging,
                                   const RecoveryCallbacks& callbacks) {
  const Source source(sourcePath);
  const CardFileSystem fs = ReadCardFileSystem(source);
  if (callbacks.Say) callbacks.Say(FileSystemText(fs));
  ClusterGrid grid = GridOf(fs);

  RecoveryProgress progress{0, source.Size(), 0};
  ClusterMap blank;
  const std::vector<FilmCandidate> found = FindFilms(
      source, grid, callbacks.Stop,
      [&](std::int64_t read, int films) {
        progress.Read = read;
        progress.Films = films;
        if (callbacks.Progress) callbacks.Progress(progress);
      },
      &blank);
  // The search for pieces reads again only what the first pass saw holding data.
  grid.Blank = &blank;

  std::vector<StagedFilm> staged;
  const std::string folder = staging.empty() || staging.back() == '/' || staging.back() == '\\' ? staging
                                                                                                 : staging + "/";
  ClusterMap claimed;
  const std::unique_ptr<unsigned char[]> buffer(new unsigned char[static_cast<std::size_t>(CopyBlock)]);
  // Films with their header list first: they claim their pieces, which the
  // runs of chunks found inside them then leave.
  for (const FilmCandidate& film : found) {
    if (!film.HasHeader) continue;
    if (callbacks.Stop) VEKRiff::MayStop(callbacks.Stop);
    const FilmPieces pieces = FollowFilm(source, grid, film.Start, claimed);
    if (pieces.StreamChunks == 0) continue;
    const DirEntry* entry = DeletedAt(fs, film.Start);
    StagedFilm out;
    out.Path = folder + FilmName(film.Start, entry ? &entry->Written : nullptr);
    StagedWriter writer(out.Path, buffer.get());
    WritePieces(writer, source, grid, pieces, callbacks.Stop);
    writer.Close();
    out.Line = VEK::Text(pieces.Complete ? Msg::FilmWhole : Msg::FilmCut,
                         {Hex(film.Start), pieces.Pieces.size(), pieces.VideoChunks,
                          Seconds(source, film.Start, pieces.VideoChunks), pieces.FilmBytes});
    if (pieces.UnsureGaps > 0) out.Line += " " + VEK::Text(Msg::FilmUnsureGaps, {pieces.UnsureGaps});
    if (entry)
      out.Line += " " + VEK::Text(Msg::FilmEntry, {entry->Folder == "/" ? "/" + entry->Name()
                                                                          : entry->Folder + "/" + entry->Name(),
                                                    DateText(entry->Written)});
    if (callbacks.Say) callbacks.Say(out.Line);
    staged.push_back(std::move(out));
  }
  // Runs of chunks no followed film took: their header list is lost, so
  // the rebuild makes one from the data (or the reference).
  for (const FilmCandidate& run : found) {
    if (run.HasHeader) continue;
    const std::uint64_t cluster = grid.ClusterOf(run.Start);
    if (claimed.Test(cluster)) continue;
    if (callbacks.Stop) VEKRiff::MayStop(callbacks.Stop);
    const FilmPieces pieces = FollowFilm(source, grid, run.Start, claimed);
    if (pieces.StreamChunks < HeaderlessFilmChunks) continue;
    StagedFilm out;
    out.Path = folder + FilmName(run.Start, nullptr);
    StagedWriter writer(out.Path, buffer.get());
    const std::int64_t bytes = pieces.FilmBytes - pieces.Skip;
    // A run that opens on its movi list's header keeps it; the others get
    // one, so that the rebuild reads them as a film's data.
    if (run.Movi != run.Start) {
      unsigned char head[VEKAvi::ListHeader::Size];
      VEK::StoreLe32(head, VEKAvi::CodeList);
      VEK::StoreLe32(head + 4, static_cast<std::uint32_t>(std::min<std::int64_t>(bytes + 4, 0xFFFFFFFF)));
      VEK::StoreLe32(head + 8, VEKAvi::CodeMovi);
      writer.Put(head, sizeof head);
    }
    WritePieces(writer, source, grid, pieces, callbacks.Stop);
    writer.Close();
    out.Line = VEK::Text(Msg::FilmWithoutHeaders, {Hex(run.Start), pieces.Pieces.size(), pieces.VideoChunks, bytes});
    if (pieces.UnsureGaps > 0) out.Line += " " + VEK::Text(Msg::FilmUnsureGaps, {pieces.UnsureGaps});
    if (callbacks.Say) callbacks.Say(out.Line);
    staged.push_back(std::move(out));
  }
  progress.Read = progress.Total;
  progress.Films = static_cast<int>(staged.size());
  if (callbacks.Progress) callbacks.Progress(progress);
  return staged;
}

}  // namespace VEKRecover
