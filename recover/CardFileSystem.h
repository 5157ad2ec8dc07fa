// What a card's file system tells a recovery, read only: the cluster size,
// which clusters live files and folders hold (never part of a deleted
// film), and the deleted entries with their first cluster, size and date.
// Where no file system can be read, the value says why, and the recovery
// searches the whole source instead; a sound boot sector over a blank FAT
// still gives the cluster size and where the clusters start.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "recover/ClusterMap.h"
#include "recover/FatDirectory.h"
#include "recover/FatLayout.h"

namespace VEKRecover {

class Source;

struct CardFileSystem {
  FatProblem Problem = FatProblem::NoFileSystem;
  // The layout, where the boot sector holds together (also when its FATs
  // do not: TableUnreadable).
  std::optional<FatLayout> Layout;
  // The boot sector is exFAT's, whether or not it holds together.
  bool ExFat = false;
  // Indexed by cluster number (0 to ClusterCount + 1); empty unless Readable.
  // On exFAT, what the allocation bitmap marks, with the bitmap's, the
  // up-case table's and the folders' clusters.
  ClusterMap InUse;
  std::vector<DirEntry> Live;
  std::vector<DirEntry> Deleted;
  // The walk stopped taking entries at the bound below; the map is whole.
  bool EntriesCut = false;

  bool Readable() const { return Problem == FatProblem::None; }
  // The cluster size where the layout gives it, else 0.
  std::int64_t ClusterBytes() const { return Layout ? Layout->ClusterBytes : 0; }
};

// The most entries kept, live and deleted together: enough for any camera's
// card, and a bound on what a damaged directory can make the walk hold.
constexpr std::size_t MaxEntries = 1 << 20;

// Keeps a directory entry with the live or the deleted ones, up to
// MaxEntries; past it the walk is told cut.
inline void KeepEntry(CardFileSystem& fileSystem, DirEntry&& entry) {
  if (fileSystem.Live.size() + fileSystem.Deleted.size() >= MaxEntries) {
    fileSystem.EntriesCut = true;
    return;
  }
  (entry.Deleted ? fileSystem.Deleted : fileSystem.Live).push_back(std::move(entry));
}

// Reads the source's FAT or exFAT file system. Throws the source's read failure.
CardFileSystem ReadCardFileSystem(const Source& source);

// The line that tells the user what was found, or why the whole source is
// searched, in the current language.
std::string FileSystemText(const CardFileSystem& fileSystem);

}  // namespace VEKRecover
