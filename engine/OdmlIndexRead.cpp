#include "engine/OdmlIndexRead.h"

#include <algorithm>

#include "avi/AviChunk.h"

namespace VEKRiff {

using namespace VEKAvi;

std::vector<bool> ForEachStandardIndex(BackupFile& file, const AviHeaders& headers, const StopCheck& stop,
                                       const std::function<void(const StandardIndexView&)>& each) {
  const std::int64_t fileSize = file.SourceSize();
  std::vector<bool> indexed(headers.Streams.size(), false);
  std::vector<unsigned char> block;
  auto read = [&](std::int64_t at, std::int64_t n) {
    block.resize(static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
    if (at < 0 || n < 0 || at > fileSize - n) return false;
    const std::int64_t got = file.Peek(block.data(), n, at);
    if (got < 0) throw file.ReadFailure();  // a failed read is no damage of the file
    return got == n;
  };
  constexpr std::int64_t SuperHeader = ChunkHeader::Size + SuperIndexHeader::Size;
  constexpr std::int64_t StandardHeader = ChunkHeader::Size + StandardIndexHeader::Size;
  for (std::size_t s = 0; s < headers.Streams.size(); ++s) {
    const StreamHeader& stream = headers.Streams[s];
    if (stream.IndxPos < 0 || !read(stream.IndxPos, SuperHeader)) continue;
    const std::uint32_t used = SuperIndexHeader::Load(&block[ChunkHeader::Size]).Head.EntriesInUse;
    const std::int64_t slots =
        std::min<std::int64_t>(used, (std::int64_t{stream.IndxSize} - SuperIndexHeader::Size) / SuperIndexEntry::Size);
    if (slots <= 0 || !read(stream.IndxPos + SuperHeader, slots * SuperIndexEntry::Size)) continue;
    indexed[s] = true;
    const std::vector<unsigned char> super = block;
    for (std::int64_t k = 0; k < slots; ++k) {
      MayStop(stop);
      StandardIndexView view;
      view.Stream = s;
      const auto chunk = static_cast<std::int64_t>(SuperIndexEntry::Load(&super[SuperIndexEntry::Size * k]).Offset);
      if (read(chunk, StandardHeader) && IsIndexChunkId(block.data())) {
        const StandardIndexHeader header = StandardIndexHeader::Load(&block[ChunkHeader::Size]);
        view.ChunkId = header.Head.ChunkId;
        view.Base = static_cast<std::int64_t>(header.BaseOffset);
        view.Count = header.Head.EntriesInUse;
        view.Readable = read(chunk + StandardHeader, std::int64_t{view.Count} * StandardIndexEntry::Size);
        view.Entries = view.Readable ? block.data() : nullptr;
      }
      if (!view.Readable) view = StandardIndexView{s};
      each(view);
    }
  }
  return indexed;
}

}  // namespace VEKRiff
