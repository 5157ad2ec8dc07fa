#include "recover/CardFileSystem.h"

#include <memory>

#include "lang/Language.h"
#include "recover/ExFatTree.h"
#include "recover/FatTable.h"
#include "recover/RecoverMessages.h"
#include "recover/Source.h"

namespace VEKRecover {

namespace {

constexpr int SlotBytes = 32;
// A FAT directory holds at most 65,536 slots; deeper than this no camera
// or system nests folders. Both bound the walk over a damaged tree.
constexpr std::int64_t MaxDirectoryBytes = std::int64_t{65536} * SlotBytes;
constexpr int MaxDepth = 32;

struct Folder {
  std::uint32_t FirstCluster = 0;  // 0: the fixed root of FAT12 and FAT16
  std::string Path;
  int Depth = 0;
};

class TreeWalk {
 public:
  TreeWalk(const Source& source, const FatLayout& layout, FatTable& fat, CardFileSystem& out)
      : From(source), Layout(layout), Fat(fat), Out(out) {}

  void Run() {
    std::vector<Folder> pending;
    if (Layout.Type == FatType::Fat32)
      pending.push_back({Layout.RootCluster, "/", 0});
    else
      ReadFixedRoot(pending);
    while (!pending.empty()) {
      Folder folder = std::move(pending.back());
      pending.pop_back();
      ReadChainedFolder(folder, pending);
    }
  }

 private:
  void ReadFixedRoot(std::vector<Folder>& pending) {
    const std::int64_t bytes = std::int64_t{Layout.RootEntries} * SlotBytes;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[static_cast<std::size_t>(bytes)]);
    const std::int64_t got = From.ReadAt(buffer.get(), bytes, Layout.RootStart);
    DirectoryReader reader;
    TakeSlots(buffer.get(), got, Layout.RootStart, reader, {0, "/", 0}, pending);
  }

  // A folder's clusters in chain order. A cluster met before (a loop in the
  // FAT, or a chain crossing another) ends the folder, so the walk ends.
  void ReadChainedFolder(const Folder& folder, std::vector<Folder>& pending) {
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[static_cast<std::size_t>(Layout.ClusterBytes)]);
    DirectoryReader reader;
    std::int64_t read = 0;
    for (std::uint32_t cluster = folder.FirstCluster;
         Layout.IsDataCluster(cluster) && read < MaxDirectoryBytes && Out.InUse.Set(cluster);
         cluster = Fat.NextOf(Fat.Entry(cluster))) {
      const std::int64_t at = Layout.ClusterOffset(cluster);
      const std::int64_t got = From.ReadAt(buffer.get(), Layout.ClusterBytes, at);
      read += got;
      if (!TakeSlots(buffer.get(), got, at, reader, folder, pending)) break;
    }
  }

  // False when the folder's end slot was met.
  bool TakeSlots(const unsigned char* bytes, std::int64_t n, std::int64_t at, DirectoryReader& reader,
                 const Folder& folder, std::vector<Folder>& pending) {
    const bool fat32 = Layout.Type == FatType::Fat32;
    for (std::int64_t i = 0; n - i >= SlotBytes; i += SlotBytes) {
      DirEntry entry;
      const auto slot = reader.Read(bytes + i, at + i, fat32, entry);
      if (slot == DirectoryReader::Slot::End) return false;
      if (slot != DirectoryReader::Slot::Entry) continue;
      entry.Folder = folder.Path;
      if (!entry.Deleted && entry.Directory) {
        if (folder.Depth < MaxDepth && Layout.IsDataCluster(entry.FirstCluster))
          pending.push_back({entry.FirstCluster, ChildPath(folder.Path, entry.Name()), folder.Depth + 1});
      } else if (!entry.Deleted) {
        MarkFile(entry);
      }
      KeepEntry(Out, std::move(entry));
    }
    return true;
  }

  static std::string ChildPath(const std::string& parent, const std::string& name) {
    return parent == "/" ? "/" + name : parent + "/" + name;
  }

  // A live file's clusters, as many as its size needs. Its chain ends early
  // where the FAT says so, or at a cluster already taken: a loop, or a chain
  // crossing another's, which keeps its first owner.
  void MarkFile(const DirEntry& file) {
    const std::int64_t needed = (static_cast<std::int64_t>(file.Size) + Layout.ClusterBytes - 1) / Layout.ClusterBytes;
    std::uint32_t cluster = file.FirstCluster;
    for (std::int64_t i = 0; i < needed && Layout.IsDataCluster(cluster) && Out.InUse.Set(cluster); ++i)
      cluster = Fat.NextOf(Fat.Entry(cluster));
  }

  const Source& From;
  const FatLayout& Layout;
  FatTable& Fat;
  CardFileSystem& Out;
};

}  // namespace

CardFileSystem ReadCardFileSystem(const Source& source) {
  CardFileSystem result;
  LayoutFound found = FindFatLayout(source);
  result.Problem = found.Problem;
  result.Layout = found.Layout;
  result.ExFat = found.ExFat;
  if (!result.Layout) return result;
  const FatLayout& layout = *result.Layout;
  // The FAT in use where FAT32 names one, else the first that looks like
  // one; the others are its copies, kept for when it is damaged.
  for (std::uint32_t i = 0; i < layout.FatCount; ++i) {
    const std::uint32_t copy =
        layout.ActiveFat < 0 ? i : (static_cast<std::uint32_t>(layout.ActiveFat) + i) % layout.FatCount;
    FatTable fat(source, layout, copy);
    if (!fat.Sound()) continue;
    if (layout.Type == FatType::ExFat) {
      if (!ReadExFatTree(source, layout, fat, result)) continue;
    } else {
      result.InUse = ClusterMap(std::uint64_t{layout.ClusterCount} + 2);
      TreeWalk(source, layout, fat, result).Run();
    }
    result.Problem = FatProblem::None;
    return result;
  }
  result.Problem = FatProblem::TableUnreadable;
  return result;
}

std::string FileSystemText(const CardFileSystem& fs) {
  if (fs.ExFat) {
    switch (fs.Problem) {
      case FatProblem::None:
        return VEK::Text(Msg::ExFatFound, {fs.ClusterBytes(), static_cast<std::int64_t>(fs.Live.size()),
                                           static_cast<std::int64_t>(fs.Deleted.size())});
      case FatProblem::LargerThanSource: return VEK::Text(Msg::ExFatLargerThanSource);
      case FatProblem::TableUnreadable: return VEK::Text(Msg::ExFatTableUnreadable, {fs.ClusterBytes()});
      default: return VEK::Text(Msg::ExFatBadBootSector);
    }
  }
  switch (fs.Problem) {
    case FatProblem::None: {
      const int bits = fs.Layout->Type == FatType::Fat12 ? 12 : fs.Layout->Type == FatType::Fat16 ? 16 : 32;
      return VEK::Text(Msg::FileSystemFound, {bits, fs.ClusterBytes(), static_cast<std::int64_t>(fs.Live.size()),
                                              static_cast<std::int64_t>(fs.Deleted.size())});
    }
    case FatProblem::NoFileSystem: return VEK::Text(Msg::NoFileSystem);
    case FatProblem::OtherFileSystem: return VEK::Text(Msg::OtherFileSystem);
    case FatProblem::BadBootSector: return VEK::Text(Msg::BadBootSector);
    case FatProblem::LargerThanSource: return VEK::Text(Msg::LargerThanSource);
    case FatProblem::TableUnreadable: return VEK::Text(Msg::TableUnreadable, {fs.ClusterBytes()});
  }
  return {};
}

}  // namespace VEKRecover
