#include "recover/ExFatTree.h"

#include <algorithm>
#include <bit>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "recover/ExFatDirectory.h"
#include "recover/Source.h"

namespace VEKRecover {

namespace {

constexpr int EntryBytes = 32;
// An exFAT directory holds at most 256 MiB of entries; deeper than this no
// camera or system nests folders. Both bound the walk over a damaged tree.
constexpr std::int64_t MaxDirectoryBytes = std::int64_t{256} << 20;
constexpr int MaxDepth = 32;
// The up-case table maps at most every UTF-16 unit: 128 KiB.
constexpr std::uint64_t MaxUpCaseBytes = std::uint64_t{2} << 16;

struct Folder {
  std::uint32_t FirstCluster = 0;
  std::int64_t Bytes = -1;  // the root's size is its chain's
  bool NoFatChain = false;
  std::string Path;
  int Depth = 0;
};

class ExFatWalk {
 public:
  ExFatWalk(const Source& source, const FatLayout& layout, FatTable& fat, CardFileSystem& out)
      : From(source), Layout(layout), Fat(fat), Out(out), Seen(std::uint64_t{layout.ClusterCount} + 2) {}

  bool Run() {
    Out.InUse = ClusterMap(std::uint64_t{Layout.ClusterCount} + 2);
    std::vector<Folder> pending{{Layout.RootCluster, -1, false, "/", 0}};
    while (!pending.empty()) {
      Folder folder = std::move(pending.back());
      pending.pop_back();
      ReadFolder(folder, pending);
    }
    if (!Bitmap || !TakeBitmap(*Bitmap)) return false;
    if (UpCase && UpCase->Bytes <= MaxUpCaseBytes) MarkRun(*UpCase);
    return true;
  }

 private:
  // The clusters of a run of bytes that starts at first, one after another
  // where it has no FAT chain, else along its chain; each visits cluster
  // and the bytes it holds of the run, until visit says stop. A cluster met
  // before (a loop, or runs crossing) ends the run.
  template <typename Visit>
  void Clusters(std::uint32_t first, std::uint64_t bytes, bool noFatChain, Visit&& visit) {
    std::uint64_t done = 0;
    for (std::uint32_t cluster = first; done < bytes && Layout.IsDataCluster(cluster) && Seen.Set(cluster);) {
      const std::uint64_t take = std::min<std::uint64_t>(bytes - done, static_cast<std::uint64_t>(Layout.ClusterBytes));
      Out.InUse.Set(cluster);
      if (!visit(cluster, static_cast<std::int64_t>(take))) return;
      done += take;
      cluster = noFatChain ? cluster + 1 : Fat.NextOf(Fat.Entry(cluster));
    }
  }

  // The bitmap and up-case table have chains in the FAT; a formatter that
  // left them out wrote them in one run, where the FAT says the first
  // cluster is free.
  bool ChainedInFat(std::uint32_t first) { return Layout.IsDataCluster(first) && Fat.Entry(first) != 0; }

  void MarkRun(const ExFatSystemFile& file) {
    Clusters(file.FirstCluster, file.Bytes, !ChainedInFat(file.FirstCluster), [](std::uint32_t, std::int64_t) {
      return true;
    });
  }

  // Sets the clusters the bitmap marks in use; false where it is shorter
  // than the clusters, or its clusters cannot all be read.
  bool TakeBitmap(const ExFatSystemFile& bitmap) {
    const std::uint64_t needed = (std::uint64_t{Layout.ClusterCount} + 7) / 8;
    if (bitmap.Bytes < needed) return false;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[static_cast<std::size_t>(Layout.ClusterBytes)]);
    std::uint64_t read = 0;
    const auto take = [&](std::uint32_t cluster, std::int64_t n) {
      if (From.ReadAt(buffer.get(), n, Layout.ClusterOffset(cluster)) != n) return false;
      for (std::int64_t i = 0; i < n; ++i)
        for (unsigned bits = buffer[i]; bits != 0; bits &= bits - 1) {
          const std::uint64_t index =
              (read + static_cast<std::uint64_t>(i)) * 8 + static_cast<unsigned>(std::countr_zero(bits));
          if (index < Layout.ClusterCount) Out.InUse.Set(2 + index);
        }
      read += static_cast<std::uint64_t>(n);
      return true;
    };
    Clusters(bitmap.FirstCluster, needed, !ChainedInFat(bitmap.FirstCluster), take);
    return read == needed;
  }

  void ReadFolder(const Folder& folder, std::vector<Folder>& pending) {
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[static_cast<std::size_t>(Layout.ClusterBytes)]);
    ExFatDirectoryReader reader;
    const std::uint64_t bytes = static_cast<std::uint64_t>(
        folder.Bytes < 0 ? MaxDirectoryBytes : std::min(folder.Bytes, MaxDirectoryBytes));
    Clusters(folder.FirstCluster, bytes, folder.NoFatChain, [&](std::uint32_t cluster, std::int64_t n) {
      const std::int64_t at = Layout.ClusterOffset(cluster);
      const std::int64_t got = From.ReadAt(buffer.get(), n, at);
      return TakeEntries(buffer.get(), got, at, reader, folder, pending) && got == n;
    });
  }

  // False when the folder's end entry was met.
  bool TakeEntries(const unsigned char* bytes, std::int64_t n, std::int64_t at, ExFatDirectoryReader& reader,
                   const Folder& folder, std::vector<Folder>& pending) {
    for (std::int64_t i = 0; n - i >= EntryBytes; i += EntryBytes) {
      DirEntry entry;
      ExFatSystemFile system;
      switch (reader.Read(bytes + i, at + i, entry, system)) {
        case ExFatDirectoryReader::Slot::End: return false;
        case ExFatDirectoryReader::Slot::Skipped: continue;
        case ExFatDirectoryReader::Slot::Bitmap:
          // Only the root lists them; the one that goes with the FAT in use.
          if (folder.Depth == 0 && system.BitmapIndex == Layout.ActiveFat) Bitmap = system;
          continue;
        case ExFatDirectoryReader::Slot::UpCase:
          if (folder.Depth == 0) UpCase = system;
          continue;
        case ExFatDirectoryReader::Slot::Entry: break;
      }
      entry.Folder = folder.Path;
      if (!entry.Deleted && entry.Directory && folder.Depth < MaxDepth && Layout.IsDataCluster(entry.FirstCluster)) {
        const auto bytes = static_cast<std::int64_t>(std::min<std::uint64_t>(entry.Size, MaxDirectoryBytes));
        pending.push_back(
            {entry.FirstCluster, bytes, entry.NoFatChain, ChildPath(folder.Path, entry.Name()), folder.Depth + 1});
      }
      KeepEntry(Out, std::move(entry));
    }
    return true;
  }

  static std::string ChildPath(const std::string& parent, const std::string& name) {
    return parent == "/" ? "/" + name : parent + "/" + name;
  }

  const Source& From;
  const FatLayout& Layout;
  FatTable& Fat;
  CardFileSystem& Out;
  // Clusters read or marked once already, so that no loop runs for ever.
  ClusterMap Seen;
  std::optional<ExFatSystemFile> Bitmap, UpCase;
};

}  // namespace

bool ReadExFatTree(const Source& source, const FatLayout& layout, FatTable& fat, CardFileSystem& out) {
  if (ExFatWalk(source, layout, fat, out).Run()) return true;
  out.InUse = ClusterMap();
  out.Live.clear();
  out.Deleted.clear();
  out.EntriesCut = false;
  return false;
}

}  // namespace VEKRecover
