// The walk over a file's movi data: header check, the search for movi, the
// chunk by chunk walk, and the resynchronisation search that skips damage.
//
// Every size field is a claim. A chunk is taken at its word only when what
// follows it is recognisable (another chunk, an index, a list, the end of the
// file); otherwise the walk asks whether a chunk confirmed by the same test
// starts inside the claimed size: if one does, the size is what lies, and
// the chunks after it are kept.
#include <algorithm>
#include <functional>

#include "avi/AviChunk.h"
#include "engine/EngineMessages.h"
#include "engine/IndexRebuilder.h"
#include "util/Endian.h"

namespace VEKRiff {

using namespace VEKAvi;

namespace {

// Chunks the walk steps over by their size: stream data, fillers, and the
// OpenDML standard indexes inside movi (skipped, neither counted nor indexed:
// they describe the data, they are not data).
bool IsWalkableCode(const unsigned char* p) {
  const FourCC code = VEK::LoadLe32(p);
  return IsStreamChunkId(p) || code == CodeRec || code == CodeJunk || IsIndexChunkId(p);
}

bool IsList(const unsigned char* p, FourCC type) {
  return VEK::LoadLe32(p) == CodeList && VEK::LoadLe32(p + 8) == type;
}

bool IsSegmentStart(const unsigned char* p) { return VEK::LoadLe32(p) == CodeRiff && VEK::LoadLe32(p + 8) == CodeAvix; }

// The first position from `from` where `pattern` (12 bytes, with the size
// field at 4-7 ignored) starts, or -1: how a RIFF or a list is found again
// when the sizes that lead to it are damaged.
std::int64_t FindHeader(BackupFile& file, std::int64_t from, FourCC code, FourCC type, unsigned char* buffer,
                        std::int64_t block, const std::function<void()>& checkAbort) {
  file.Seek(from, 0);
  for (;;) {
    checkAbort();
    const std::int64_t base = file.Position();
    const std::int64_t n = file.ReadSome(buffer, block);
    if (n < 0) throw VEKFile::File::ReadFailure();
    if (n < ListHeader::Size) return -1;
    for (std::int64_t i = 0; i + ListHeader::Size <= n; ++i)
      if (VEK::LoadLe32(buffer + i) == code && VEK::LoadLe32(buffer + i + 8) == type) return base + i;
    file.Seek(base + n - (ListHeader::Size - 1), 0);
  }
}

// Where the chunk with a header at pos ends, its pad byte included: chunk
// starts keep the parity of the last resynchronisation, so after a
// misaligned resumption an odd end stays odd.
std::int64_t ChunkEnd(std::int64_t pos, std::uint32_t size, int parity) {
  std::int64_t next = pos + ChunkHeader::Size + size;  // 64-bit: never backwards
  return next + ((next & 1) ^ parity);
}

// Four printable characters: what every chunk code is.
bool IsPrintableCode(const unsigned char* p) {
  return std::all_of(p, p + 4, [](unsigned char c) { return c >= 0x20 && c < 0x7F; });
}

// Bytes that plainly start no chunk: a zero-filled stretch, as a download
// that was cut or a disk's unwritten blocks leave. No chunk code is zero.
bool AllZero(const unsigned char* p, std::int64_t n) {
  return std::all_of(p, p + n, [](unsigned char c) { return c == 0; });
}

// True when two sizes differ in one of their four bytes only.
bool OneByteApart(std::uint32_t a, std::uint32_t b) {
  const std::uint32_t diff = a ^ b;
  return diff == (diff & 0xFF) || diff == (diff & 0xFF00) || diff == (diff & 0xFF0000) ||
         diff == (diff & 0xFF000000u);
}

}  // namespace

void IndexRebuilder::CheckRiffHeader(BackupFile& file) {
  unsigned char header[ListHeader::Size];
  const std::int64_t n = file.ReadSome(header, sizeof header);
  if (n < 0) throw VEKFile::File::ReadFailure();
  const ListHeader riff = ListHeader::Load(header);
  if (n < ListHeader::Size || riff.Chunk.Code != CodeRiff || riff.ListType != CodeAvi)
    throw ErrorException(VEK::Text(Msg::NotAvi));
}

std::int64_t IndexRebuilder::LocateMovi(BackupFile& file) {
  Headers = {};
  if (file.Position() & 1) file.Seek(1, 1);
  const std::int64_t fileSize = file.SourceSize();
  for (;;) {
    CheckAbort();
    const std::int64_t headerPosition = file.Position();
    unsigned char header[ListHeader::Size];
    const std::int64_t n = file.ReadSome(header, sizeof header);
    if (n < 0) throw VEKFile::File::ReadFailure();
    if (n < ListHeader::Size) throw ErrorException(VEK::Text(Msg::NoMovi));
    const ListHeader list = ListHeader::Load(header);
    if (list.Chunk.Code == CodeList && list.ListType == CodeMovi) return headerPosition;
    if (IsList(header, MakeFourCC("hdrl"))) ReadStreamHeaders(file, headerPosition, list.Chunk.DataSize);
    // Skip the chunk or list whole: 'hdrl' and the like are not entered.
    std::int64_t next = headerPosition + ChunkHeader::Size + list.Chunk.DataSize;
    next += next & 1;
    // A size that runs past the end of the file, or that lands on bytes that
    // cannot start a chunk, breaks the chain that leads to movi: the movi
    // list is then searched for, and the damage is an error of this file.
    unsigned char code[4];
    if (next > fileSize - ListHeader::Size || file.Peek(code, 4, next) != 4 || !IsPrintableCode(code)) {
      if (!SearchBuffer) SearchBuffer.reset(new unsigned char[SearchBlock]);
      const std::int64_t movi = FindHeader(file, headerPosition + ChunkHeader::Size, CodeList, CodeMovi,
                                           SearchBuffer.get(), SearchBlock, [this] { CheckAbort(); });
      if (movi < 0) throw ErrorException(VEK::Text(Msg::NoMovi));
      AddMessage(VEK::Text(Msg::HeaderDamaged, {headerPosition}));
      ErrorCount_.store(ErrorCount() + 1, std::memory_order_relaxed);
      file.Seek(movi + ListHeader::Size, 0);
      return movi;
    }
    file.Seek(next, 0);
  }
}

void IndexRebuilder::ReadStreamHeaders(BackupFile& file, std::int64_t at, std::uint32_t dataSize) {
  // Headers are small; a bound keeps a damaged size from asking for gigabytes.
  constexpr std::int64_t Limit = 1 << 20;
  const std::int64_t want = std::min<std::int64_t>(ChunkHeader::Size + std::int64_t{dataSize}, Limit);
  std::vector<unsigned char> bytes(static_cast<std::size_t>(want));
  const std::int64_t got = file.Peek(bytes.data(), want, at);
  if (got > 0) Headers = ReadHeaders(bytes.data(), static_cast<std::size_t>(got), at);
}

bool IndexRebuilder::Confirmed(BackupFile& file, const unsigned char* block, std::int64_t base, std::int64_t n,
                               std::int64_t at) {
  const unsigned char* header = block + (at - base);
  const ChunkHeader chunk = ChunkHeader::Load(header);
  // An index is a whole number of 16-byte entries; it may be cut short.
  if (chunk.Code == CodeIdx1) return chunk.DataSize % Idx1Entry::Size == 0;
  const std::int64_t fileSize = file.SourceSize();
  const std::int64_t end = ChunkEnd(at, chunk.DataSize, static_cast<int>(at & 1));
  if (end > fileSize) return false;
  if (fileSize - end < ChunkHeader::Size) return true;  // the file ends with this chunk
  constexpr std::int64_t Look = 16;
  unsigned char after[Look];
  std::int64_t got;
  if (end >= base && end + Look <= base + n) {
    std::copy(block + (end - base), block + (end - base) + Look, after);
    got = Look;
  } else {
    got = file.Peek(after, std::min(Look, fileSize - end), end);
    if (got < 0) throw VEKFile::File::ReadFailure();
    if (got < ChunkHeader::Size) return true;  // the file is shorter now than when it was opened
  }
  return IsFollowCode(after) || AllZero(after, got);
}

IndexRebuilder::SearchHit IndexRebuilder::Resynchronise(BackupFile& file, std::int64_t from,
                                                        const unsigned char* alsoLike) {
  const float factor = ProgressFactor(file);
  if (!SearchBuffer) SearchBuffer.reset(new unsigned char[SearchBlock]);
  unsigned char* const buffer = SearchBuffer.get();
  SearchCandidate candidate;
  auto resumeAt = [&](SearchHit hit) {
    SetProgressAt(hit.Position, factor);
    file.Seek(hit.Position, 0);
    return hit;
  };
  file.Seek(from, 0);
  for (std::int64_t base = from;;) {
    CheckAbort();
    // A spot is mostly a few bytes long and lies in the read-ahead that
    // served the walk: those bytes are searched where they are, and a block
    // is read only past them. The blocks overlap alike either way.
    std::int64_t n = 0;
    const unsigned char* block = file.PeekHeld(base, n);
    n = std::min(n, SearchBlock);
    if (n <= 8) {
      file.Seek(base, 0);
      n = file.ReadSome(buffer, SearchBlock);
      if (n < 0) throw VEKFile::File::ReadFailure();
      if (n <= 8)
        return candidate.Position >= 0 ? resumeAt({HitKind::Chunk, candidate.Position})
                                       : SearchHit{HitKind::End, file.Position()};
      block = buffer;
    }
    // Progress moves once per block rather than at every byte: the display
    // polls it a few times a second, and a percent spans far more than a block.
    SetProgressAt(base, factor);
    if (const std::optional<SearchHit> hit = SearchIn(file, block, base, n, alsoLike, candidate))
      return resumeAt(*hit);
    // The next block starts 8 bytes back so that a code straddling two
    // blocks is still seen.
    base += n - 8;
  }
}

std::optional<IndexRebuilder::SearchHit> IndexRebuilder::SearchIn(BackupFile& file, const unsigned char* block,
                                                                  std::int64_t base, std::int64_t n,
                                                                  const unsigned char* alsoLike,
                                                                  SearchCandidate& candidate) {
  const std::size_t limit = static_cast<std::size_t>(n - 8);
  for (std::size_t i = FindResyncCode(block, limit); i < limit;
       i = i + 1 + FindResyncCode(block + i + 1, limit - i - 1)) {
    const std::int64_t found = base + static_cast<std::int64_t>(i);
    if (candidate.Position >= 0 && found >= candidate.End) return SearchHit{HitKind::Chunk, candidate.Position};
    // A few MiB of compressed or random data hold chunk-like codes by
    // chance; only one whose chunk ends on something recognisable is taken.
    if (Confirmed(file, block, base, n, found))
      return SearchHit{VEK::LoadLe32(block + i) == CodeIdx1 ? HitKind::Index : HitKind::Chunk, found};
    // A chunk followed by more damage cannot be confirmed that way. One
    // like those already walked (same code, no larger than twice the
    // largest of them) is taken when no confirmed chunk starts inside it:
    // a chance code in garbage almost never has both a known code and a
    // size that small. Nor is a record of an old index one: those are 16
    // bytes each and each starts with a chunk code.
    if (candidate.Position < 0 && LooksLikeWalkedChunk(block + i, alsoLike) && !IsIndexRecord(file, found)) {
      const ChunkHeader header = ChunkHeader::Load(block + i);
      const std::int64_t end = ChunkEnd(found, header.DataSize, static_cast<int>(found & 1));
      if (end <= file.SourceSize()) candidate = {found, end};
    }
  }
  if (candidate.Position >= 0 && base + static_cast<std::int64_t>(limit) >= candidate.End)
    return SearchHit{HitKind::Chunk, candidate.Position};
  return std::nullopt;
}

// True when the chunk code at position has another exactly one idx1 entry
// before or after it: a record of an old index table, not a chunk.
bool IndexRebuilder::IsIndexRecord(BackupFile& file, std::int64_t position) {
  for (const std::int64_t neighbour : {position - Idx1Entry::Size, position + Idx1Entry::Size}) {
    unsigned char code[4];
    if (neighbour >= 0 && file.Peek(code, sizeof code, neighbour) == sizeof code && IsStreamChunkId(code))
      return true;
  }
  return false;
}

bool IndexRebuilder::LooksLikeWalkedChunk(const unsigned char* header, const unsigned char* alsoLike) const {
  if (!IsStreamChunkId(header)) return false;
  const ChunkHeader chunk = ChunkHeader::Load(header);
  if (alsoLike) {
    const ChunkHeader like = ChunkHeader::Load(alsoLike);
    if (like.Code == chunk.Code && chunk.DataSize / 2 <= like.DataSize) return true;
  }
  for (const auto& [code, largest] : WalkedSizes)
    if (code == chunk.Code) return chunk.DataSize / 2 <= largest;
  return false;
}

void IndexRebuilder::CountChunk(const unsigned char* bytes) {
  if (!IsStreamChunkId(bytes)) return;
  const FourCC code = VEK::LoadLe32(bytes);
  if (IsVideoKind(code))
    VideoFrameCount_.store(VideoFrameCount() + 1, std::memory_order_relaxed);
  else if (ChunkKind(code) == KindAudio)
    AudioSampleCount_.store(AudioSampleCount() + 1, std::memory_order_relaxed);
}

std::uint32_t IndexRebuilder::ChunkFlags(BackupFile& file, std::int64_t position, const unsigned char* header) {
  const ChunkHeader chunk = ChunkHeader::Load(header);
  const std::size_t stream = static_cast<std::size_t>(StreamNumber(chunk.Code));
  const bool video = IsVideoKind(chunk.Code);
  const VEKCodec::KeyFrameRule rule = stream < Rules.size() ? Rules[stream] : nullptr;
  if (!video || rule == nullptr || chunk.DataSize == 0)
    return VEKCodec::IndexFlags(nullptr, video, nullptr, 0, chunk.DataSize);
  // The first bytes are in the read-ahead that served the header, mostly.
  const std::int64_t want = std::min<std::int64_t>(VEKCodec::ProbeBytes, chunk.DataSize);
  if (const unsigned char* view = file.PeekView(want, position + ChunkHeader::Size))
    return VEKCodec::IndexFlags(rule, true, view, static_cast<std::size_t>(want), chunk.DataSize);
  unsigned char probe[VEKCodec::ProbeBytes];
  const std::int64_t got = file.Peek(probe, want, position + ChunkHeader::Size);
  return VEKCodec::IndexFlags(rule, true, probe, got > 0 ? static_cast<std::size_t>(got) : 0, chunk.DataSize);
}

void IndexRebuilder::AcceptChunk(const WalkedChunk& chunk, IndexEntries& entries) {
  CountChunk(chunk.Bytes);
  if (!IsStreamChunkId(chunk.Bytes)) return;
  // A check collects the entries too: they are compared with the file's own index.
  const ChunkHeader header = ChunkHeader::Load(chunk.Bytes);
  auto seen = std::find_if(WalkedSizes.begin(), WalkedSizes.end(), [&](const auto& s) { return s.first == header.Code; });
  if (seen == WalkedSizes.end()) WalkedSizes.emplace_back(header.Code, header.DataSize);
  else seen->second = std::max(seen->second, header.DataSize);
  entries.emplace_back(header.Code, chunk.Flags, chunk.Position, header.DataSize);
}

std::uint32_t IndexRebuilder::TrueSize(BackupFile& file, const WalkedChunk& chunk, std::int64_t data) {
  // A damaged size moves no chunk, so the chunk found next lies an even
  // distance away (callers make sure), and an odd-sized chunk is followed by
  // its pad byte: a zero last byte and an odd size in the damaged field (a
  // flipped bit seldom hits bit 0) say the data is one byte shorter.
  const std::uint32_t claimed = ChunkHeader::Load(chunk.Bytes).DataSize;
  unsigned char last = 1;
  if (data > 0 && (data & 1) == 0 && (claimed & 1) == 1 &&
      file.Peek(&last, 1, chunk.Position + ChunkHeader::Size + data - 1) == 1 && last == 0)
    --data;
  return static_cast<std::uint32_t>(std::min<std::int64_t>(data, MaxIdx1Value));
}

void IndexRebuilder::KeepWithSize(WalkedChunk chunk, std::uint32_t size, IndexEntries& entries) {
  if (ChunkHeader::Load(chunk.Bytes).DataSize != size) {
    VEK::StoreLe32(chunk.Bytes + 4, size);
    SizeFixes.push_back({chunk.Position, size});
  }
  AcceptChunk(chunk, entries);
}

// Logs a corrupted spot and where the walk goes on; true when the walk goes on.
bool IndexRebuilder::ReportSpot(std::int64_t spot, const SearchHit& hit, int& parity) {
  AddMessage(VEK::Text(Msg::Corrupted, {spot, VideoFrameCount()}));
  ErrorCount_.store(ErrorCount() + 1, std::memory_order_relaxed);
  if (hit.Kind != HitKind::Chunk) return false;
  AddMessage(VEK::Text(Msg::Resuming, {hit.Position}));
  if (hit.Position & 1) AddMessage(VEK::Text(Msg::Misaligned));
  parity = static_cast<int>(hit.Position & 1);
  return true;
}

std::int64_t IndexRebuilder::NextSegmentAfterIndex(BackupFile& file, std::int64_t index, std::uint32_t size) {
  const std::int64_t fileSize = file.SourceSize();
  std::int64_t after = index + ChunkHeader::Size + size;
  after += after & 1;
  unsigned char header[ListHeader::Size];
  if (after <= fileSize - ListHeader::Size && file.Peek(header, sizeof header, after) == ListHeader::Size &&
      IsSegmentStart(header))
    return after;
  // An OpenDML file goes on after its legacy index even when that index's
  // size is damaged; a file without OpenDML headers ends there, as it always has.
  bool openDml = Headers.DmlhPos >= 0;
  for (const StreamHeader& s : Headers.Streams) openDml |= s.IndxPos >= 0;
  if (!openDml) return -1;
  if (!SearchBuffer) SearchBuffer.reset(new unsigned char[SearchBlock]);
  return FindHeader(file, index + ChunkHeader::Size, CodeRiff, CodeAvix, SearchBuffer.get(), SearchBlock,
                    [this] { CheckAbort(); });
}

void IndexRebuilder::ScanMovi(BackupFile& file, std::int64_t moviOffset, IndexEntries& entries) {
  const std::int64_t fileSize = file.SourceSize();
  const float factor = ProgressFactor(file);
  // Chunks start on the parity of their list: even in every sound file, odd
  // when a damaged header before movi left it on an odd position.
  int parity = static_cast<int>(moviOffset & 1);
  WalkedSizes.clear();
  OldIndexChunks.clear();
  SizeFixes.clear();
  OldIndexPosition = -1;
  OldIndexSize = 0;
  SegmentList = {Segment{0, moviOffset, 0}};
  Rules.clear();
  for (const StreamHeader& stream : Headers.Streams) Rules.push_back(VEKCodec::RuleFor(stream));
  // The last chunk walked, kept back until what follows it confirms its size.
  WalkedChunk pending;
  bool hasPending = false;
  auto acceptPending = [&] {
    if (hasPending) AcceptChunk(pending, entries);
    hasPending = false;
  };
  // The walk ends here: the usable data of the last segment ends at pos.
  auto endAt = [&](std::int64_t pos) {
    SegmentList.back().End = pos;
    file.Seek(pos, 0);
  };
  // The walk goes on into the RIFF 'AVIX' at pos, the data of the segment
  // before it having ended at end: its movi list follows its header.
  auto enterSegment = [&](std::int64_t pos, std::int64_t end) {
    parity = static_cast<int>(pos & 1);
    SegmentList.back().End = end;
    SegmentList.push_back({pos, pos + ListHeader::Size, 0});
    file.Seek(pos + ListHeader::Size, 0);
  };
  for (;;) {
    CheckAbort();
    const std::int64_t pos = file.Position();
    SetProgressAt(pos, factor);
    unsigned char bytes[ListHeader::Size];
    const std::int64_t n = file.ReadSome(bytes, sizeof bytes);
    if (n < 0) throw VEKFile::File::ReadFailure();
    const ChunkHeader header = ChunkHeader::Load(bytes);
    if (n < ChunkHeader::Size) {
      acceptPending();
      endAt(pos);
      return;
    }
    if (header.Code == CodeIdx1) {
      acceptPending();
      if (SegmentList.size() == 1 && OldIndexPosition < 0) {
        OldIndexPosition = pos;
        OldIndexSize = header.DataSize;
      }
      // The legacy index closes the first segment's data; an OpenDML file
      // goes on in the RIFF after it.
      const std::int64_t next = SegmentList.size() == 1 ? NextSegmentAfterIndex(file, pos, header.DataSize) : -1;
      if (next < 0) {
        endAt(pos);
        return;
      }
      enterSegment(next, pos);
      continue;
    }
    if (n == ListHeader::Size && IsSegmentStart(bytes)) {
      acceptPending();
      enterSegment(pos, pos);
      continue;
    }
    if (n == ListHeader::Size && (IsList(bytes, CodeRecList) || IsList(bytes, CodeMovi))) {
      // A group of chunks, or the movi list of a segment just entered: the
      // walk goes on inside it.
      acceptPending();
      if (IsList(bytes, CodeMovi)) SegmentList.back().MoviPosition = pos;
      file.Seek(pos + ListHeader::Size, 0);
      continue;
    }
    if (IsWalkableCode(bytes)) {
      if (IsIndexChunkId(bytes)) OldIndexChunks.push_back(pos);
      acceptPending();
      WalkedChunk chunk{pos, {}, 0};
      std::copy(bytes, bytes + ChunkHeader::Size, chunk.Bytes);
      if (IsStreamChunkId(bytes)) chunk.Flags = ChunkFlags(file, pos, bytes);
      const std::int64_t next = ChunkEnd(pos, header.DataSize, parity);
      if (next <= fileSize) {
        pending = chunk;
        hasPending = true;
        file.Seek(next, 0);
        continue;
      }
      // The chunk runs past the end of the file: the end of a download cut
      // inside its last chunk, unless recognisable chunks follow, in which
      // case its size field is what is damaged.
      const SearchHit hit = Resynchronise(file, pos + 1);
      if (hit.Kind == HitKind::End) {
        ReportProblem(Msg::FileCut, {pos});
        // Players show what there is of a cut frame: the bytes that are
        // there are indexed, and the rebuild gives the header their size.
        if (IsStreamChunkId(bytes) && fileSize - pos > ChunkHeader::Size) {
          KeepWithSize(chunk, fileSize - pos - ChunkHeader::Size, entries);
          endAt(fileSize);
        } else {
          // A bare header, or a cut filler: the new index goes over it.
          CountChunk(bytes);
          endAt(pos);
        }
        return;
      }
      const bool goesOn = ReportSpot(pos, hit, parity);
      // A flipped bit or a changed byte in the size: the chunk ends where the
      // next one was found, a size that differs from the claim in that one
      // byte. A size that differs more is not all that was damaged.
      const std::int64_t data = hit.Position - pos - ChunkHeader::Size;
      if (IsStreamChunkId(bytes) && data >= 0 && (data & 1) == 0) {
        const std::uint32_t size = TrueSize(file, chunk, data);
        if (OneByteApart(size, header.DataSize)) KeepWithSize(chunk, size, entries);
      }
      if (!goesOn) {
        endAt(hit.Position);  // the walk ends on the index the search found
        return;
      }
      continue;
    }
    // Unrecognisable bytes where a chunk should start. Either the previous
    // chunk's size lies (a confirmed chunk starts inside it) or the damage
    // starts here.
    std::int64_t spot = pos;
    SearchHit hit;
    if (hasPending) {
      hit = Resynchronise(file, pending.Position + 1, pending.Bytes);
      if (hit.Kind != HitKind::End && hit.Position < pos) {
        // The pending chunk's size lies; the search found where it really
        // ends. Its data is there, whole: it keeps its entry, with the size
        // from its header to that end.
        spot = pending.Position;
        hasPending = false;
        const std::int64_t data = hit.Position - pending.Position - ChunkHeader::Size;
        if (IsStreamChunkId(pending.Bytes) && data >= 0 && (data & 1) == 0) {
          // The walk goes on at the chunk or the index the search found.
          ReportSpot(spot, hit, parity);
          KeepWithSize(pending, TrueSize(file, pending, data), entries);
          continue;
        }
      } else {
        // A size that is too short cannot be told from a right one followed
        // by damage: both end in unrecognisable bytes before the next chunk.
        // The chunk keeps the size it claims; at worst a player misses its
        // last bytes.
        acceptPending();
      }
    } else {
      hit = Resynchronise(file, pos);
    }
    // Garbage just before idx1 is not an error; the walk goes on at the index.
    if (hit.Kind == HitKind::Index && spot == pos) continue;
    if (!ReportSpot(spot, hit, parity)) {
      if (hit.Kind == HitKind::Index) continue;  // the index decides where the walk goes on
      // Nothing recognisable up to the end of the file (a zero-filled tail
      // of a partial download, typically): the usable data ends at the spot.
      endAt(spot);
      return;
    }
  }
}

}  // namespace VEKRiff
