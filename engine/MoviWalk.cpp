// The walk: header check, the search for movi, the chunk by chunk walk, and
// the resynchronisation search that skips damage.
#include "engine/MoviWalk.h"

#include <algorithm>
#include <functional>

#include "avi/AviChunk.h"
#include "avi/StreamNumbering.h"
#include "codec/StreamFormat.h"
#include "engine/EngineMessages.h"
#include "engine/Failures.h"
#include "engine/HeaderCounts.h"
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

bool IsList(const unsigned char* p, FourCC type) { return ListHeader::Is(p, CodeList, type); }

bool IsSegmentStart(const unsigned char* p) { return ListHeader::Is(p, CodeRiff, CodeAvix); }

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
    if (n < 0) throw file.ReadFailure();
    if (n < ListHeader::Size) return -1;
    for (std::int64_t i = 0; i + ListHeader::Size <= n; ++i)
      if (ListHeader::Is(buffer + i, code, type)) return base + i;
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

bool ChunkRunAt(BackupFile& file, std::int64_t position);

// The first position in [from, to) where a stream chunk starts a run of
// chunks that lead from one to the next (ChunkRunAt), or -1: how data whose
// movi list header is lost is found by its chunks.
std::int64_t FindChunkRun(BackupFile& file, std::int64_t from, std::int64_t to, unsigned char* buffer,
                          std::int64_t block, const std::function<void()>& checkAbort) {
  for (std::int64_t base = from; to - base >= ChunkHeader::Size;) {
    checkAbort();
    const std::int64_t n = file.Peek(buffer, std::min(block, to - base + ChunkHeader::Size - 1), base);
    if (n < 0) throw file.ReadFailure();
    if (n < ChunkHeader::Size) return -1;
    for (std::int64_t i = 0; i + ChunkHeader::Size <= n && base + i < to; ++i)
      if (IsStreamChunkId(buffer + i) && ChunkRunAt(file, base + i)) return base + i;
    base += n - (ChunkHeader::Size - 1);
  }
  return -1;
}

// True when two sizes differ in one of their four bytes only.
bool OneByteApart(std::uint32_t a, std::uint32_t b) {
  const std::uint32_t diff = a ^ b;
  return diff == (diff & 0xFF) || diff == (diff & 0xFF00) || diff == (diff & 0xFF0000) || diff == (diff & 0xFF000000u);
}

}  // namespace

MoviWalk::MoviWalk(BackupFile& file, const WalkReport& report)
    : Source(file), Reporter(report), Counts(report.Counts ? report.Counts : &OwnCounts) {
  const std::int64_t size = file.SourceSize();
  ProgressFactor = size > 0 ? 100.0f / static_cast<float>(size) : 0.0f;
}

ScanResult MoviWalk::Run() {
  Scan.MoviOffset = LocateMovi();
  ScanMovi();
  FlagEarlierChunks();
  return std::move(Scan);
}

ScanResult MoviWalk::Run(const LostStart& start) {
  Scan.StartLost = true;
  Scan.MoviHeaderLost = !start.MoviFound;
  if (start.Hdrl >= 0) ReadStreamHeaders(start.Hdrl, start.HdrlSize);
  Scan.MoviOffset = start.Movi;
  Source.Seek(start.Movi + ListHeader::Size, 0);
  ScanMovi();
  FlagEarlierChunks();
  if (start.Hdrl < 0 && !start.Strls.empty()) TakeSurvivingStreams(start.Strls);
  return std::move(Scan);
}

void MoviWalk::TakeSurvivingStreams(const std::vector<std::int64_t>& strls) {
  // The lost bytes took the first stream lists: those that survive are the
  // last ones, numbered back from the streams the data holds. Each must be
  // of its stream's kind, or none is taken.
  std::vector<std::int64_t> video, audio;
  for (const OldIndexEntry& e : Scan.Entries) {
    const int number = StreamOf(e.ChunkId);
    if (number < 0) continue;
    const std::size_t stream = static_cast<std::size_t>(number);
    if (stream >= video.size()) video.resize(stream + 1), audio.resize(stream + 1);
    video[stream] += IsVideoKind(e.ChunkId);
    audio[stream] += ChunkKind(e.ChunkId) == KindAudio;
  }
  if (strls.size() > video.size()) return;
  std::vector<StreamHeader> streams(video.size());
  constexpr std::int64_t Limit = 1 << 20;  // a damaged size asks for no more
  for (std::size_t k = 0; k < strls.size(); ++k) {
    const std::size_t stream = video.size() - strls.size() + k;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(Limit));
    const std::int64_t got = Source.Peek(bytes.data(), Limit, strls[k]);
    if (got <= 0) return;
    StreamHeader h = ReadStreamList(bytes.data(), static_cast<std::size_t>(got), strls[k]);
    const bool isVideo = video[stream] > audio[stream], isAudio = audio[stream] > video[stream];
    if (!h.Readable || (isVideo && !h.IsVideo()) || (isAudio && !h.IsAudio()) || (!isVideo && !isAudio)) return;
    streams[stream] = std::move(h);
  }
  Scan.Headers.Streams = std::move(streams);
}

std::optional<FilmPosition> FilmPositionOf(const VEKAvi::AviHeaders& headers, std::int64_t frames) {
  // The first video stream's own rate; else the main header's frame time.
  long double ms = -1;
  for (const VEKAvi::StreamHeader& s : headers.Streams)
    if (s.IsVideo() && s.Readable && s.Scale > 0 && s.Rate > 0) {
      ms = static_cast<long double>(frames) * s.Scale * 1000 / s.Rate;
      break;
    }
  if (ms < 0 && headers.MicroSecPerFrame > 0) ms = static_cast<long double>(frames) * headers.MicroSecPerFrame / 1000;
  // A rate no film has (a damaged field) places nothing.
  if (ms < 0 || ms > static_cast<long double>(1000) * 3600 * 24 * 365) return std::nullopt;
  return FilmPosition{frames, static_cast<std::int64_t>(ms)};
}

void MoviWalk::Report(const Finding& finding) {
  if (Reporter.Found) Reporter.Found(finding);
}

void MoviWalk::SetProgressAt(std::int64_t position) {
  // Single precision, truncated toward zero; kept within 0-100 should the
  // file have grown since it was sized.
  const float percent = static_cast<float>(position) * ProgressFactor;
  const std::int32_t value = percent >= 100.0f ? 100 : percent > 0.0f ? static_cast<std::int32_t>(percent) : 0;
  if (Counts->Progress.load(std::memory_order_relaxed) != value)
    Counts->Progress.store(value, std::memory_order_relaxed);
}

unsigned char* MoviWalk::SearchBuffer() {
  if (!Buffer) Buffer.reset(new unsigned char[SearchBlock]);
  return Buffer.get();
}

namespace {

// True when a stream chunk starts at position and the two after it follow
// on from it, or the data ends on the way: a chance code in other bytes
// almost never has sizes that lead from one to the next.
bool ChunkRunAt(BackupFile& file, std::int64_t position) {
  const std::int64_t fileSize = file.SourceSize();
  for (int k = 0; k < 3; ++k) {
    unsigned char header[ChunkHeader::Size];
    if (position == fileSize) return k > 0;
    if (file.Peek(header, sizeof header, position) != ChunkHeader::Size) return false;
    if (k > 0 && (VEK::LoadLe32(header) == CodeIdx1 || VEK::LoadLe32(header) == CodeList)) return true;
    if (!IsStreamChunkId(header) && !(k > 0 && VEK::LoadLe32(header) == CodeJunk)) return false;
    const std::uint32_t size = ChunkHeader::Load(header).DataSize;
    position += ChunkHeader::Size + std::int64_t{size} + (size & 1);
    if (position > fileSize) return false;
  }
  return true;
}

}  // namespace

std::optional<LostStart> FindStart(BackupFile& file, const StopCheck& stop) {
  constexpr std::size_t MaxSurvivingStreams = 256;
  unsigned char header[ListHeader::Size];
  const std::int64_t got = file.ReadSome(header, sizeof header);
  if (got < 0) throw file.ReadFailure();
  const ListHeader riff = ListHeader::Load(header);
  if (got == ListHeader::Size && riff.Chunk.Code == CodeRiff && riff.ListType == CodeAvi) return std::nullopt;
  LostStart found;
  constexpr std::int64_t Block = MoviWalk::SearchBlock;
  std::vector<unsigned char> buffer(static_cast<std::size_t>(Block));
  const std::int64_t limit = std::min(file.SourceSize(), LostStartSearch);
  for (std::int64_t base = 0; base < limit;) {
    MayStop(stop);
    const std::int64_t n = file.Peek(buffer.data(), std::min(Block, limit - base), base);
    if (n < ListHeader::Size) break;
    for (std::int64_t i = 0; i + ListHeader::Size <= n; ++i) {
      const unsigned char* p = &buffer[static_cast<std::size_t>(i)];
      const std::int64_t at = base + i;
      if (IsList(p, CodeHdrl) && found.Hdrl < 0) {
        found.Hdrl = at;
        found.HdrlSize = ChunkHeader::Load(p).DataSize;
      } else if (IsList(p, CodeStrl) && found.Hdrl < 0) {
        if (found.Strls.size() < MaxSurvivingStreams) found.Strls.push_back(at);
      } else if (IsList(p, CodeMovi)) {
        found.Movi = at;
        found.MoviFound = true;
        return found;
      } else if (IsStreamChunkId(p) && at >= ListHeader::Size && ChunkRunAt(file, at)) {
        found.Movi = at - ListHeader::Size;
        return found;
      }
    }
    base += n - (ListHeader::Size - 1);
  }
  throw NotAviException(VEK::Text(Msg::NotAvi));
}

std::int64_t MoviWalk::LocateMovi() {
  if (Source.Position() & 1) Source.Seek(1, 1);
  const std::int64_t fileSize = Source.SourceSize();
  std::int64_t hdrl = -1;  // the header list met on the way
  std::int64_t previous = -1;  // the chunk whose size led here
  for (;;) {
    MayStop(Reporter.CheckStop);
    const std::int64_t headerPosition = Source.Position();
    unsigned char header[ListHeader::Size];
    const std::int64_t n = Source.ReadSome(header, sizeof header);
    if (n < 0) throw Source.ReadFailure();
    if (n < ListHeader::Size) throw ErrorException(VEK::Text(Msg::NoMovi));
    const ListHeader list = ListHeader::Load(header);
    if (list.Chunk.Code == CodeList && list.ListType == CodeMovi) return headerPosition;
    if (IsList(header, CodeHdrl)) {
      hdrl = headerPosition;
      ReadStreamHeaders(headerPosition, list.Chunk.DataSize);
    }
    // Skip the chunk or list whole: 'hdrl' and the like are not entered.
    std::int64_t next = headerPosition + ChunkHeader::Size + list.Chunk.DataSize;
    next += next & 1;
    // A size that runs past the end of the file, or that lands on bytes that
    // cannot start a chunk, breaks the chain that leads to movi: the movi
    // list is then searched for, and the damage is an error of this Source.
    unsigned char code[4];
    if (next > fileSize - ListHeader::Size || Source.Peek(code, 4, next) != 4 || !IsPrintableCode(code)) {
      // The size that is damaged may be the one that led here, past the
      // movi list: the search starts inside the chunk before.
      const std::int64_t from = (previous >= 0 ? previous : headerPosition) + ChunkHeader::Size;
      std::int64_t movi = FindHeader(Source, from, CodeList, CodeMovi,
                                     SearchBuffer(), SearchBlock, [this] { MayStop(Reporter.CheckStop); });
      if (movi < 0) {
        // The movi list's own header is what was lost: its chunks are
        // found by their codes.
        const std::int64_t first = FindChunkRun(Source, from, fileSize, SearchBuffer(), SearchBlock,
                                                [this] { MayStop(Reporter.CheckStop); });
        if (first < ListHeader::Size) throw ErrorException(VEK::Text(Msg::NoMovi));
        movi = first - ListHeader::Size;
        Scan.MoviHeaderLost = true;
      }
      // A movi list right after a RIFF 'AVIX' header is a later segment's:
      // the first segment's list header is what was lost, and its chunks,
      // found by their codes before that segment, come first.
      unsigned char before[ListHeader::Size];
      if (movi >= ListHeader::Size &&
          Source.Peek(before, sizeof before, movi - ListHeader::Size) == ListHeader::Size && IsSegmentStart(before)) {
        const std::int64_t first = FindChunkRun(Source, from, movi - ListHeader::Size, SearchBuffer(), SearchBlock,
                                                [this] { MayStop(Reporter.CheckStop); });
        if (first >= ListHeader::Size) {
          movi = first - ListHeader::Size;
          Scan.MoviHeaderLost = true;
        }
      }
      Report({VEK::Text(Msg::HeaderDamaged, {headerPosition}), true, {}, FindingKind::HeaderDamage, headerPosition,
              -1});
      // A header list whose own size is what is damaged is read up to movi.
      if (hdrl >= 0 && hdrl < movi && Scan.Headers.TotalFramesPos < 0)
        ReadStreamHeaders(hdrl, movi - hdrl - ChunkHeader::Size, true);
      Source.Seek(movi + ListHeader::Size, 0);
      return movi;
    }
    previous = headerPosition;
    Source.Seek(next, 0);
  }
}

void MoviWalk::ReadStreamHeaders(std::int64_t at, std::int64_t dataSize, bool sizeDamaged) {
  // Headers are small; a bound keeps a damaged size from asking for gigabytes.
  constexpr std::int64_t Limit = 1 << 20;
  const std::int64_t want = std::min<std::int64_t>(ChunkHeader::Size + dataSize, Limit);
  std::vector<unsigned char> bytes(static_cast<std::size_t>(want));
  const std::int64_t got = Source.Peek(bytes.data(), want, at);
  if (sizeDamaged && got >= ChunkHeader::Size)
    ChunkHeader::StoreSize(bytes.data(), static_cast<std::uint32_t>(got - ChunkHeader::Size));
  if (got > 0) Scan.Headers = ReadHeaders(bytes.data(), static_cast<std::size_t>(got), at);
}

const unsigned char* MoviWalk::LookAt(std::int64_t position, std::int64_t want, std::int64_t& got) {
  const std::int64_t held = LookStart + LookLength - position;
  if (position >= LookStart && held > 0 && (held >= want || LookReachesEnd)) {
    got = std::min(want, held);
    return LookBuffer.get() + (position - LookStart);
  }
  if (LooksAllowed <= 0) return nullptr;
  --LooksAllowed;
  if (!LookBuffer) LookBuffer.reset(new unsigned char[LookBlock]);
  const std::int64_t n = Source.Peek(LookBuffer.get(), LookBlock, position);
  // The walk writes nothing: a failed read fails the file, in place too.
  if (n < 0) throw Source.ReadFailure();
  LookStart = position;
  LookLength = n;
  LookReachesEnd = n < LookBlock;
  got = std::min(want, n);
  return LookBuffer.get();
}

bool MoviWalk::Confirmed(const unsigned char* block, std::int64_t base, std::int64_t n, std::int64_t at,
                         bool searching) {
  const unsigned char* header = block + (at - base);
  const ChunkHeader chunk = ChunkHeader::Load(header);
  // An index is a whole number of 16-byte entries; it may be cut short.
  if (chunk.Code == CodeIdx1) return chunk.DataSize % Idx1Entry::Size == 0;
  const std::int64_t fileSize = Source.SourceSize();
  const std::int64_t end = ChunkEnd(at, chunk.DataSize, static_cast<int>(at & 1));
  if (end > fileSize) return false;
  if (fileSize - end < ChunkHeader::Size) return true;  // the file ends with this chunk
  constexpr std::int64_t Look = 16;
  unsigned char after[Look];
  std::int64_t got;
  if (end >= base && end + Look <= base + n) {
    std::copy(block + (end - base), block + (end - base) + Look, after);
    got = Look;
  } else if (searching) {
    const unsigned char* seen = LookAt(end, std::min(Look, fileSize - end), got);
    if (seen == nullptr) return false;
    std::copy(seen, seen + got, after);
    if (got < ChunkHeader::Size) return true;  // the file is shorter now than when it was opened
  } else {
    got = Source.Peek(after, std::min(Look, fileSize - end), end);
    if (got < 0) throw Source.ReadFailure();
    if (got < ChunkHeader::Size) return true;  // the file is shorter now than when it was opened
  }
  return IsFollowCode(after) || AllZero(after, got);
}

MoviWalk::SearchHit MoviWalk::Resynchronise(std::int64_t from, const unsigned char* alsoLike) {
  unsigned char* const buffer = SearchBuffer();
  SearchCandidate candidate;
  auto resumeAt = [&](SearchHit hit) {
    // The first chunk of an OpenDML segment found past damage: the walk
    // goes on at the segment's RIFF header, and enters it as a segment
    // rather than reading its headers as more damage of the one before.
    constexpr std::int64_t Headers = 2 * ListHeader::Size;  // "RIFF....AVIX" and "LIST....movi"
    unsigned char before[Headers];
    if (hit.Kind == HitKind::Chunk && hit.Position - from >= Headers &&
        Source.Peek(before, Headers, hit.Position - Headers) == Headers && IsSegmentStart(before) &&
        IsList(before + ListHeader::Size, CodeMovi))
      hit.Position -= Headers;
    SetProgressAt(hit.Position);
    Source.Seek(hit.Position, 0);
    return hit;
  };
  Source.Seek(from, 0);
  // A spot is mostly a few bytes long: where nothing is held, the first block
  // read is small and the next ones grow, so that the bytes read stay in
  // step with the bytes searched.
  std::int64_t readSize = 4096;
  for (std::int64_t base = from;;) {
    MayStop(Reporter.CheckStop);
    // A spot mostly lies in the read-ahead that served the walk: those bytes
    // are searched where they are, and a block is read only past them. The
    // blocks overlap alike either way.
    std::int64_t n = 0;
    const unsigned char* block = Source.PeekHeld(base, n);
    n = std::min(n, SearchBlock);
    if (n <= ChunkHeader::Size) {
      Source.Seek(base, 0);
      n = Source.ReadSome(buffer, readSize);
      readSize = std::min(readSize * 4, SearchBlock);
      if (n < 0) throw Source.ReadFailure();
      if (n <= ChunkHeader::Size)
        return candidate.Position >= 0 ? resumeAt({HitKind::Chunk, candidate.Position})
                                       : SearchHit{HitKind::End, Source.Position()};
      block = buffer;
    }
    // Progress moves once per block rather than at every byte: the display
    // polls it a few times a second, and a percent spans far more than a block.
    SetProgressAt(base);
    LooksAllowed += n / LookEvery;
    if (const std::optional<SearchHit> hit = SearchIn(block, base, n, alsoLike, candidate)) return resumeAt(*hit);
    // The next block starts a chunk header back so that a code straddling two
    // blocks is still seen.
    base += n - ChunkHeader::Size;
  }
}

std::optional<MoviWalk::SearchHit> MoviWalk::SearchIn(const unsigned char* block, std::int64_t base, std::int64_t n,
                                                      const unsigned char* alsoLike, SearchCandidate& candidate) {
  const std::size_t limit = static_cast<std::size_t>(n - ChunkHeader::Size);
  for (std::size_t i = FindResyncCode(block, limit); i < limit;
       i = i + 1 + FindResyncCode(block + i + 1, limit - i - 1)) {
    const std::int64_t found = base + static_cast<std::int64_t>(i);
    if (candidate.Position >= 0 && found >= candidate.End) return SearchHit{HitKind::Chunk, candidate.Position};
    // A few MiB of compressed or random data hold chunk-like codes by
    // chance; only one whose chunk ends on something recognisable is taken.
    if (Confirmed(block, base, n, found, true))
      return SearchHit{VEK::LoadLe32(block + i) == CodeIdx1 ? HitKind::Index : HitKind::Chunk, found};
    // A chunk followed by more damage cannot be confirmed that way. One
    // like those already walked (same code, no larger than twice the
    // largest of them) is taken when no confirmed chunk starts inside it:
    // a chance code in garbage almost never has both a known code and a
    // size that small. Nor is a record of an old index one: those are 16
    // bytes each and each starts with a chunk code.
    if (candidate.Position < 0 && LooksLikeWalkedChunk(block + i, alsoLike) &&
        !IsIndexRecordIn(block, base, n, found)) {
      const ChunkHeader header = ChunkHeader::Load(block + i);
      const std::int64_t end = ChunkEnd(found, header.DataSize, static_cast<int>(found & 1));
      if (end <= Source.SourceSize()) candidate = {found, end};
    }
  }
  if (candidate.Position >= 0 && base + static_cast<std::int64_t>(limit) >= candidate.End)
    return SearchHit{HitKind::Chunk, candidate.Position};
  return std::nullopt;
}

// True when the chunk code at position has another exactly one idx1 entry
// before or after it: a record of an old index table, not a chunk.
bool MoviWalk::IsIndexRecord(std::int64_t position) {
  for (const std::int64_t neighbour : {position - Idx1Entry::Size, position + Idx1Entry::Size}) {
    unsigned char code[4];
    if (neighbour >= 0 && Source.Peek(code, sizeof code, neighbour) == sizeof code && IsStreamChunkId(code))
      return true;
  }
  return false;
}

bool MoviWalk::IsIndexRecordIn(const unsigned char* block, std::int64_t base, std::int64_t n, std::int64_t position) {
  for (const std::int64_t neighbour : {position - Idx1Entry::Size, position + Idx1Entry::Size}) {
    if (neighbour < 0) continue;
    const unsigned char* code = nullptr;
    std::int64_t got = 4;
    if (neighbour >= base && neighbour + 4 <= base + n)
      code = block + (neighbour - base);
    else if ((code = LookAt(neighbour, 4, got)) == nullptr)
      return true;
    if (got == 4 && IsStreamChunkId(code)) return true;
  }
  return false;
}

bool MoviWalk::LooksLikeWalkedChunk(const unsigned char* header, const unsigned char* alsoLike) const {
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

void MoviWalk::NoteFirstChunk(std::int64_t position, const unsigned char* header) {
  // The first chunks of a file whose start is lost are mostly frames that
  // carry no sequence header: the search goes on to the one that does, for
  // as many chunks as a group of pictures may run. Every chunk of a sound
  // with frame headers has them, so a few chunks tell it or nothing does
  // (PCM).
  constexpr int PictureTries = 300, SoundTries = 32;
  const ChunkHeader chunk = ChunkHeader::Load(header);
  const int number = StreamOf(chunk.Code);
  const std::size_t stream = static_cast<std::size_t>(number);
  const bool video = IsVideoKind(chunk.Code), audio = ChunkKind(chunk.Code) == KindAudio;
  if (number < 0 || chunk.DataSize == 0 || (!video && !audio)) return;
  if (stream >= Scan.FirstChunks.size()) Scan.FirstChunks.resize(stream + 1);
  FirstChunk& first = Scan.FirstChunks[stream];
  if (first.Told || first.Tries >= (video ? PictureTries : SoundTries)) return;
  ++first.Tries;
  std::vector<unsigned char> bytes(std::min(FirstChunkBytes, chunk.DataSize));
  const std::int64_t got =
      Source.Peek(bytes.data(), static_cast<std::int64_t>(bytes.size()), position + ChunkHeader::Size);
  bytes.resize(static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
  // A picture tells once it gives its size (a sequence header, not only a
  // slice); a sound, once two chunks agree on it, as a chance match in
  // other data does not repeat.
  std::optional<VEKCodec::VideoFormat> picture =
      video ? VEKCodec::ProbeVideo(bytes.data(), bytes.size(), chunk.DataSize) : std::nullopt;
  if (picture && (picture->Width <= 0 || picture->Height <= 0)) picture.reset();
  const std::optional<VEKCodec::AudioFormat> sound =
      audio ? VEKCodec::ProbeAudio(bytes.data(), bytes.size()) : std::nullopt;
  bool told = picture.has_value();
  if (sound && sound->SampleRate > 0 && sound->Channels > 0) {
    const std::optional<VEKCodec::AudioFormat> before =
        first.ChunkId != 0 ? VEKCodec::ProbeAudio(first.Bytes.data(), first.Bytes.size()) : std::nullopt;
    told = before && before->FormatTag == sound->FormatTag && before->SampleRate == sound->SampleRate &&
           before->Channels == sound->Channels;
    if (!told) first.ChunkId = 0;  // this one is the candidate now
  }
  if (first.ChunkId == 0 || (told && picture))
    first = {chunk.Code, chunk.DataSize, std::move(bytes), false, first.Tries};
  first.Told = told;
  // A stream whose header names no codec (lost, cut or zeroed) is judged by
  // the codec its data shows.
  const bool headerSilent = stream >= Scan.Headers.Streams.size() || !Scan.Headers.Streams[stream].Readable ||
                            Scan.Headers.Streams[stream].Compression == 0;
  if (picture && headerSilent && (stream >= Scan.Rules.size() || Scan.Rules[stream] == nullptr)) {
    StreamHeader named;
    named.Type = CodeVids;
    named.Compression = picture->Compression;
    named.Readable = true;
    if (stream >= Scan.Rules.size()) Scan.Rules.resize(stream + 1, nullptr);
    Scan.Rules[stream] = VEKCodec::RuleFor(named);
    if (Scan.Rules[stream]) {
      if (stream >= RuleLearnedAt.size()) RuleLearnedAt.resize(stream + 1, -1);
      RuleLearnedAt[stream] = position;
    }
  }
}

void MoviWalk::FlagEarlierChunks() {
  // A stream whose codec the walk learned from its data had its chunks
  // before that flagged without a rule, each as a key frame; once the codec
  // is known, its rule judges them all, as it judges the same chunks of a
  // file whose header names the codec. At most the chunks its search for a
  // telling chunk went through.
  for (std::size_t stream = 0; stream < RuleLearnedAt.size(); ++stream) {
    const std::int64_t learned = RuleLearnedAt[stream];
    if (learned < 0) continue;
    for (OldIndexEntry& e : Scan.Entries) {
      if (e.Position() >= learned) break;
      if (static_cast<std::size_t>(StreamNumber(e.ChunkId, Scan.Numbering)) != stream || !IsVideoKind(e.ChunkId) || e.Size == 0)
        continue;
      unsigned char header[ChunkHeader::Size];
      ChunkHeader{e.ChunkId, e.Size}.Store(header);
      e = OldIndexEntry(e.ChunkId, ChunkFlags(e.Position(), header), e.Position(), e.Size);
    }
  }
}

void MoviWalk::SettleNumbering(std::int64_t position, const unsigned char* header) {
  if (NumberingSettled || NumberedAlike(VEK::LoadLe32(header))) return;
  NumberingSettled = true;
  // Interleaved streams all show within their first few thousand chunks;
  // the chain is followed only while it holds, as damage ends what it can
  // tell.
  constexpr int LookAhead = 4096;
  const std::int64_t fileSize = Source.SourceSize();
  std::vector<std::uint16_t> prefixes{VEK::LoadLe16(header)};
  position = ChunkEnd(position, ChunkHeader::Load(header).DataSize, static_cast<int>(position & 1));
  for (int k = 0; k < LookAhead && fileSize - position >= ListHeader::Size; ++k) {
    unsigned char bytes[ListHeader::Size];
    if (Source.Peek(bytes, sizeof bytes, position) != ListHeader::Size) break;
    if (IsList(bytes, CodeRecList)) {
      position += ListHeader::Size;
      continue;
    }
    if (!IsWalkableCode(bytes)) break;
    if (IsStreamChunkId(bytes)) prefixes.push_back(VEK::LoadLe16(bytes));
    position = ChunkEnd(position, ChunkHeader::Load(bytes).DataSize, static_cast<int>(position & 1));
  }
  Scan.Numbering = DecideNumbering(prefixes, Scan.Headers.Streams.size());
}

void MoviWalk::CountChunk(const unsigned char* bytes) {
  if (!IsStreamChunkId(bytes)) return;
  const FourCC code = VEK::LoadLe32(bytes);
  if (IsVideoKind(code)) {
    Counts->VideoFrames.fetch_add(1, std::memory_order_relaxed);
  } else if (ChunkKind(code) == KindAudio) {
    // In samples as the Done line gives them, where the headers tell the rate.
    const std::size_t stream = static_cast<std::size_t>(StreamOf(code));  // none: past every header
    const std::vector<StreamHeader>& headers = Scan.Headers.Streams;
    if (stream >= headers.size() || !headers[stream].IsAudio()) {
      Counts->AudioSamples.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    if (AudioSeen.size() <= stream) AudioSeen.resize(stream + 1);
    auto& [chunks, size] = AudioSeen[stream];
    const std::int64_t before = SamplesOf(headers[stream], chunks, size);
    ++chunks;
    size += ChunkHeader::Load(bytes).DataSize;
    Counts->AudioSamples.fetch_add(SamplesOf(headers[stream], chunks, size) - before, std::memory_order_relaxed);
  }
}

std::uint32_t MoviWalk::ChunkFlags(std::int64_t position, const unsigned char* header) {
  const ChunkHeader chunk = ChunkHeader::Load(header);
  const std::size_t stream = static_cast<std::size_t>(StreamOf(chunk.Code));  // none: past every rule
  const bool video = IsVideoKind(chunk.Code);
  const VEKCodec::KeyFrameRule rule = stream < Scan.Rules.size() ? Scan.Rules[stream] : nullptr;
  if (!video || rule == nullptr || chunk.DataSize == 0)
    return VEKCodec::IndexFlags(nullptr, video, nullptr, 0, chunk.DataSize);
  // The first bytes are in the read-ahead that served the header, mostly.
  const std::int64_t want = std::min<std::int64_t>(VEKCodec::ProbeBytes, chunk.DataSize);
  if (const unsigned char* view = Source.PeekView(want, position + ChunkHeader::Size))
    return VEKCodec::IndexFlags(rule, true, view, static_cast<std::size_t>(want), chunk.DataSize);
  unsigned char probe[VEKCodec::ProbeBytes];
  const std::int64_t got = Source.Peek(probe, want, position + ChunkHeader::Size);
  return VEKCodec::IndexFlags(rule, true, probe, got > 0 ? static_cast<std::size_t>(got) : 0, chunk.DataSize);
}

void MoviWalk::AcceptChunk(const WalkedChunk& chunk, bool confirmed) {
  CountChunk(chunk.Bytes);
  if (!IsStreamChunkId(chunk.Bytes)) return;
  if (!confirmed) Scan.Unconfirmed.push_back(chunk.Position);
  // A check collects the entries too: they are compared with the file's own index.
  const ChunkHeader header = ChunkHeader::Load(chunk.Bytes);
  auto seen =
      std::find_if(WalkedSizes.begin(), WalkedSizes.end(), [&](const auto& s) { return s.first == header.Code; });
  if (seen == WalkedSizes.end())
    WalkedSizes.emplace_back(header.Code, header.DataSize);
  else
    seen->second = std::max(seen->second, header.DataSize);
  Scan.Entries.emplace_back(header.Code, chunk.Flags, chunk.Position, header.DataSize);
}

std::uint32_t MoviWalk::TrueSize(const WalkedChunk& chunk, std::int64_t data) {
  // A damaged size moves no chunk, so the chunk found next lies an even
  // distance away (callers make sure), and an odd-sized chunk is followed by
  // its pad byte: a zero last byte and an odd size in the damaged field (a
  // flipped bit seldom hits bit 0) say the data is one byte shorter.
  const std::uint32_t claimed = ChunkHeader::Load(chunk.Bytes).DataSize;
  unsigned char last = 1;
  if (data > 0 && (data & 1) == 0 && (claimed & 1) == 1 &&
      Source.Peek(&last, 1, chunk.Position + ChunkHeader::Size + data - 1) == 1 && last == 0)
    --data;
  return static_cast<std::uint32_t>(std::min<std::int64_t>(data, MaxField));
}

void MoviWalk::KeepWithSize(WalkedChunk chunk, std::uint32_t size) {
  if (ChunkHeader::Load(chunk.Bytes).DataSize != size) {
    ChunkHeader::StoreSize(chunk.Bytes, size);
    Scan.SizeFixes.push_back({chunk.Position, size});
  }
  AcceptChunk(chunk, false);
}

// Logs a corrupted spot and where the walk goes on; true when the walk goes on.
bool MoviWalk::ReportSpot(std::int64_t spot, const SearchHit& hit, int& parity) {
  Report({VEK::Text(Msg::Corrupted, {spot, VideoFrames()}), true, FilmPositionOf(Scan.Headers, VideoFrames()),
          FindingKind::CorruptedData, spot, -1});
  ++Scan.DamageCount;
  if (Scan.Damage.size() < MaxDamagedStretches) Scan.Damage.push_back({spot, std::max(spot, hit.Position)});
  if (hit.Kind != HitKind::Chunk) return false;
  Report({VEK::Text(Msg::Resuming, {hit.Position}), false, {}, FindingKind::ResumedScan, hit.Position, -1});
  if (hit.Position & 1) Report({VEK::Text(Msg::Misaligned), false, {}, FindingKind::ResumedScan, hit.Position, -1});
  parity = static_cast<int>(hit.Position & 1);
  return true;
}

std::int64_t MoviWalk::NextSegmentAfterIndex(std::int64_t index, std::uint32_t size, bool& riffLost) {
  riffLost = false;
  const std::int64_t fileSize = Source.SourceSize();
  // The next RIFF follows on the index's own parity: odd in a film carved
  // from a disk behind a stray byte, where every list and chunk is shifted
  // alike. The file's absolute parity is the writer's only where nothing
  // before the data was lost.
  const std::int64_t after = ChunkEnd(index, size, static_cast<int>(index & 1));
  unsigned char header[ListHeader::Size];
  if (after <= fileSize - ListHeader::Size && Source.Peek(header, sizeof header, after) == ListHeader::Size &&
      IsSegmentStart(header))
    return after;
  // An OpenDML file goes on after its legacy index even when that index's
  // size is damaged; a file without OpenDML headers ends there: what follows
  // an idx1 in it is no data of its own (another program's appended bytes).
  // Where no header list is left to tell, a segment after the index is
  // looked for as in an OpenDML file.
  if (!MayGoOnAfterIndex()) return -1;
  const std::int64_t next = FindHeader(Source, index + ChunkHeader::Size, CodeRiff, CodeAvix, SearchBuffer(),
                                       SearchBlock, [this] { MayStop(Reporter.CheckStop); });
  const std::int64_t lost = SegmentBefore(index, next);
  riffLost = lost >= 0;
  return riffLost ? lost : next;
}

// A segment whose RIFF header is damaged lies between the index and the
// segment found after it (or the end of the file, where none is). Its movi
// list, whole, tells where it starts: the RIFF header is the 12 bytes before
// it, and the walk goes on from there as in any segment, said as an error
// (players lose its frames until a rebuild writes the header again). A movi
// list with no room for that header after the index's own is left out,
// said, and an error where it holds frames.
std::int64_t MoviWalk::SegmentBefore(std::int64_t index, std::int64_t next) {
  const std::int64_t movi = FindHeader(Source, index + ChunkHeader::Size, CodeList, CodeMovi, SearchBuffer(),
                                       SearchBlock, [this] { MayStop(Reporter.CheckStop); });
  if (movi < 0 || (next >= 0 && movi >= next)) return -1;
  unsigned char first[ListHeader::Size];
  const std::int64_t got = Source.Peek(first, sizeof first, movi + ListHeader::Size);
  const bool frames = (got >= ChunkHeader::Size && IsStreamChunkId(first)) ||
                      (got == ListHeader::Size && IsList(first, CodeRecList));
  const std::int64_t riff = movi - ListHeader::Size;
  if (frames && riff >= index + ChunkHeader::Size) {
    Report({VEK::Text(Msg::SegmentRiffLost, {riff, movi}), true, {}, FindingKind::HeaderDamage, riff, -1});
    return riff;
  }
  // Where no segment follows, the line about the data after the index says it.
  if (next >= 0) Report({VEK::Text(Msg::SegmentLeftOut, {next - movi, next, movi}), frames});
  return -1;
}

bool MoviWalk::MoviListAt(std::int64_t position) {
  unsigned char list[ListHeader::Size];
  return Source.Peek(list, sizeof list, position) == ListHeader::Size && IsList(list, CodeMovi);
}

bool MoviWalk::MayGoOnAfterIndex() const {
  bool openDml = Scan.Headers.DmlhPos >= 0 || (Scan.StartLost && Scan.Headers.Streams.empty());
  for (const StreamHeader& s : Scan.Headers.Streams) openDml |= s.IndxPos >= 0;
  return openDml;
}

// What follows a healthy file's index is at most padding, junk or another
// program's appended bytes, none of it in a movi list, so nothing is said.
// A movi list after it is stream data the walk does not reach: an OpenDML
// segment whose RIFF header was lost, or a second film glued on. In a file
// whose headers say segments follow, those are frames of this film that no
// index will describe, an error; in any other file they are not this film's
// own data as far as its headers tell, and the line only says they are left.
void MoviWalk::ReportDataAfterIndex(std::int64_t index) {
  // From just past the index's header: its size field may be what is damaged.
  const std::int64_t movi = FindHeader(Source, index + ChunkHeader::Size, CodeList, CodeMovi, SearchBuffer(),
                                       SearchBlock, [this] { MayStop(Reporter.CheckStop); });
  if (movi < 0) return;
  const std::int64_t left = Source.SourceSize() - movi;
  Report({VEK::Text(Msg::DataAfterIndex, {left, movi}), MayGoOnAfterIndex(), {}, FindingKind::LostData, movi, -1});
}

void MoviWalk::ScanMovi() {
  const std::int64_t fileSize = Source.SourceSize();
  const std::int64_t moviOffset = Scan.MoviOffset;
  // Chunks start on the parity of their list: even in every sound file, odd
  // when a damaged header before movi left it on an odd position.
  int parity = static_cast<int>(moviOffset & 1);
  Scan.SegmentList = {Segment{0, moviOffset, 0}};
  for (const StreamHeader& stream : Scan.Headers.Streams) Scan.Rules.push_back(VEKCodec::RuleFor(stream));
  // The last chunk walked, kept back until what follows it confirms its size.
  WalkedChunk pending;
  bool hasPending = false;
  // confirmed: what follows it is recognisable.
  auto acceptPending = [&](bool confirmed = true) {
    if (hasPending) AcceptChunk(pending, confirmed);
    hasPending = false;
  };
  // The walk ends here: the usable data of the last segment ends at pos.
  auto endAt = [&](std::int64_t pos) {
    Scan.SegmentList.back().End = pos;
    Source.Seek(pos, 0);
  };
  // The walk goes on into the RIFF 'AVIX' at pos, the data of the segment
  // before it having ended at end: its movi list follows its header.
  auto enterSegment = [&](std::int64_t pos, std::int64_t end) {
    parity = static_cast<int>(pos & 1);
    Scan.SegmentList.back().End = end;
    Scan.SegmentList.push_back({pos, pos + ListHeader::Size, 0});
    Source.Seek(pos + ListHeader::Size, 0);
  };
  for (;;) {
    MayStop(Reporter.CheckStop);
    const std::int64_t pos = Source.Position();
    SetProgressAt(pos);
    unsigned char bytes[ListHeader::Size];
    const std::int64_t n = Source.ReadSome(bytes, sizeof bytes);
    if (n < 0) throw Source.ReadFailure();
    const ChunkHeader header = ChunkHeader::Load(bytes);
    if (n < ChunkHeader::Size) {
      // The exact end of the file confirms a size; a few stray bytes do not.
      acceptPending(n == 0);
      endAt(pos);
      return;
    }
    if (header.Code == CodeIdx1) {
      acceptPending();
      if (Scan.SegmentList.size() == 1 && Scan.OldIndexPosition < 0) {
        Scan.OldIndexPosition = pos;
        Scan.OldIndexSize = header.DataSize;
      }
      // The legacy index closes the first segment's data; an OpenDML file
      // goes on in the RIFF after it.
      bool riffLost = false;
      const std::int64_t next =
          Scan.SegmentList.size() == 1 ? NextSegmentAfterIndex(pos, header.DataSize, riffLost) : -1;
      if (next < 0) {
        if (Scan.SegmentList.size() == 1) ReportDataAfterIndex(pos);
        endAt(pos);
        return;
      }
      enterSegment(next, pos);
      Scan.SegmentList.back().RiffLost = riffLost;
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
      // Only an OpenDML segment's own movi list, before any of its chunks:
      // a movi list header met among chunks (a muxer's bug, or damage)
      // moves nothing, since the index counts from the list the data is in.
      const Segment& segment = Scan.SegmentList.back();
      if (IsList(bytes, CodeMovi) && Scan.SegmentList.size() > 1 &&
          (Scan.Entries.empty() || Scan.Entries.back().Position() < segment.RiffPosition))
        Scan.SegmentList.back().MoviPosition = pos;
      Source.Seek(pos + ListHeader::Size, 0);
      continue;
    }
    // A chunk whose size took the walk over data into an old index meets
    // its records, which read as chunks whose size is the entry's flags (0,
    // AVIIF_KEYFRAME and the like) and which do not end on a chunk as a
    // chunk would. What the walk met is then no chunk, and the search below
    // finds where the one before really ends.
    constexpr std::uint32_t IndexFlagBits = 0x111;  // list, key frame, no time
    const bool jumpedIntoIndex = hasPending && IsStreamChunkId(bytes) && (header.DataSize & ~IndexFlagBits) == 0 &&
                                 IsIndexRecord(pos) && !Confirmed(bytes, pos, n, pos);
    if (IsWalkableCode(bytes) && !jumpedIntoIndex) {
      if (IsIndexChunkId(bytes)) Scan.OldIndexChunks.push_back(pos);
      acceptPending();
      WalkedChunk chunk{pos, {}, 0};
      std::copy(bytes, bytes + ChunkHeader::Size, chunk.Bytes);
      if (IsStreamChunkId(bytes)) {
        SettleNumbering(pos, bytes);
        NoteFirstChunk(pos, bytes);
        chunk.Flags = ChunkFlags(pos, bytes);
      }
      const std::int64_t next = ChunkEnd(pos, header.DataSize, parity);
      if (next <= fileSize) {
        pending = chunk;
        hasPending = true;
        Source.Seek(next, 0);
        continue;
      }
      // The chunk runs past the end of the file: the end of a download cut
      // inside its last chunk, unless recognisable chunks follow, in which
      // case its size field is what is damaged.
      const SearchHit hit = Resynchronise(pos + 1);
      if (hit.Kind == HitKind::End) {
        Report({VEK::Text(Msg::FileCut, {pos}), true, {}, FindingKind::LostData, pos, -1});
        Scan.EndsInsideChunk = true;
        // Players show what there is of a cut frame: the bytes that are
        // there are indexed, and the rebuild gives the header their size.
        if (IsStreamChunkId(bytes) && fileSize - pos > ChunkHeader::Size) {
          KeepWithSize(chunk, fileSize - pos - ChunkHeader::Size);
          endAt(fileSize);
        } else {
          // A bare header, or a cut filler: the new index goes over it.
          CountChunk(bytes);
          endAt(pos);
        }
        return;
      }
      ReportSpot(pos, hit, parity);
      // A flipped bit or a changed byte in the size: the chunk ends where the
      // next one was found, a size that differs from the claim in that one
      // byte. A size that differs more is not all that was damaged.
      const std::int64_t data = hit.Position - pos - ChunkHeader::Size;
      if (IsStreamChunkId(bytes) && data >= 0 && (data & 1) == 0) {
        const std::uint32_t size = TrueSize(chunk, data);
        if (OneByteApart(size, header.DataSize)) KeepWithSize(chunk, size);
      }
      // The search found a chunk or the index (it seeked there): the index
      // is walked as any index met, so that it is known and, in an OpenDML
      // file, the walk goes on after it.
      continue;
    }
    // A later segment's RIFF header, damaged: its movi list follows where
    // the header's 12 bytes end. The walk enters it as any segment, and a
    // rebuild writes the header again.
    if (n == ListHeader::Size && Scan.SegmentList.size() > 1 && MoviListAt(pos + ListHeader::Size)) {
      acceptPending();
      Report({VEK::Text(Msg::SegmentRiffLost, {pos, pos + ListHeader::Size}), true, {}, FindingKind::HeaderDamage, pos,
              -1});
      enterSegment(pos, pos);
      Scan.SegmentList.back().RiffLost = true;
      continue;
    }
    // Unrecognisable bytes where a chunk should start. Either the previous
    // chunk's size lies (a confirmed chunk starts inside it) or the damage
    // starts here.
    std::int64_t spot = pos;
    SearchHit hit;
    if (hasPending) {
      hit = Resynchronise(pending.Position + 1, pending.Bytes);
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
          KeepWithSize(pending, TrueSize(pending, data));
          continue;
        }
      } else {
        // A size that is too short cannot be told from a right one followed
        // by damage: both end in unrecognisable bytes before the next chunk.
        // The chunk keeps the size it claims; at worst a player misses its
        // last bytes.
        acceptPending(false);
      }
    } else {
      hit = Resynchronise(pos);
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
