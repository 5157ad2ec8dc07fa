// The walk over one file: from its RIFF header through hdrl to the movi data,
// chunk by chunk, searching past damage, into each RIFF of an OpenDML file.
// It returns what it found as a ScanResult and tells each corrupted spot as
// it meets it, so that a front-end shows the lines while the walk goes on.
//
// Every size field is a claim. A chunk is taken at its word only when what
// follows it is recognisable (another chunk, an index, a list, the end of the
// file); otherwise the walk asks whether a chunk confirmed by the same test
// starts inside the claimed size: if one does, the size is what lies, and
// the chunks after it are kept.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "avi/AviChunk.h"
#include "engine/ScanResult.h"
#include "file/BackupFile.h"

namespace VEKRiff {

// What the walk tells the one who runs it while it goes.
struct WalkReport {
  StopCheck CheckStop;
  std::function<void(const Finding&)> Found;
  LiveCounts* Counts = nullptr;
};

// Where the data of a file whose start is lost lies: a surviving movi list,
// or else the first of a run of chunks that confirm one another, with a
// surviving header list on the way.
struct LostStart {
  std::int64_t Movi = -1;  // the movi list's header, or 12 bytes before the first chunk
  bool MoviFound = false;  // a "LIST movi" header is there
  std::int64_t Hdrl = -1;  // a "LIST hdrl" met before it
  std::uint32_t HdrlSize = 0;
  // Where no hdrl was: the "LIST strl" headers met before the data, the
  // stream lists that outlived the start of theirs.
  std::vector<std::int64_t> Strls;
};
constexpr std::int64_t LostStartSearch = std::int64_t{64} << 20;

// Where the walk of a file starts, read from position 0: nothing when the
// file starts with its RIFF header, else where its lost start's data was
// found. Throws ErrorException ("This is not an AVI File.") when the first
// LostStartSearch bytes hold neither a movi list nor a run of chunks.
std::optional<LostStart> FindStart(BackupFile& file, const StopCheck& stop);

// The place in the film after frames video frames, by the headers' rate;
// none when they tell no rate.
std::optional<FilmPosition> FilmPositionOf(const VEKAvi::AviHeaders& headers, std::int64_t frames);

class MoviWalk {
 public:
  static constexpr std::int64_t SearchBlock = 65536;

  // The file is read from its current position, just after its RIFF header.
  MoviWalk(BackupFile& file, const WalkReport& report);
  // Finds the movi list and walks it; leaves the position where the walk ended.
  ScanResult Run();
  // Walks a file whose start is lost from where its data was found.
  ScanResult Run(const LostStart& start);

 private:
  enum class HitKind { Chunk, Index, End };
  // Where a search stopped: on a confirmed chunk, on an index, or at the end
  // of the file.
  struct SearchHit {
    HitKind Kind = HitKind::End;
    std::int64_t Position = 0;
  };
  // A chunk header the walk has met.
  struct WalkedChunk {
    std::int64_t Position = 0;
    unsigned char Bytes[VEKAvi::ChunkHeader::Size] = {};
    std::uint32_t Flags = 0;  // its index flags, judged from its first bytes
  };
  // The first chunk a search found plausible but not confirmed, and where it ends.
  struct SearchCandidate {
    std::int64_t Position = -1;
    std::int64_t End = 0;
  };

  std::int64_t LocateMovi();
  // sizeDamaged: the list's size field is taken to be dataSize.
  void ReadStreamHeaders(std::int64_t at, std::int64_t dataSize, bool sizeDamaged = false);
  void TakeSurvivingStreams(const std::vector<std::int64_t>& strls);
  void ScanMovi();
  // Searches from the position for the next chunk to resume at. alsoLike: a
  // chunk header just walked but not yet accepted, which plausible chunks may
  // resemble too.
  SearchHit Resynchronise(std::int64_t from, const unsigned char* alsoLike = nullptr);
  // Searches the n bytes of block, the file's bytes from base on, at each
  // offset with more than 8 of them after it: a hit when the search ends
  // there, nothing when it goes on past them.
  std::optional<SearchHit> SearchIn(const unsigned char* block, std::int64_t base, std::int64_t n,
                                    const unsigned char* alsoLike, SearchCandidate& candidate);
  // searching: for the search, whose looks beyond the block are rationed
  // (see LookAt); a look refused leaves the chunk unconfirmed.
  bool Confirmed(const unsigned char* block, std::int64_t base, std::int64_t n, std::int64_t at,
                 bool searching = false);
  // Up to want bytes at position for the search's judgement of a code found
  // outside the block it searches, from a window of the file read LookBlock
  // bytes at a time; their count in got. Null when the ration of reads is
  // spent.
  const unsigned char* LookAt(std::int64_t position, std::int64_t want, std::int64_t& got);
  // Where the RIFF 'AVIX' after the first segment's idx1 (at index, of the
  // given size) starts, or -1 when the file has no more segments; riffLost
  // when that segment was found by its movi list, its RIFF header damaged.
  std::int64_t NextSegmentAfterIndex(std::int64_t index, std::uint32_t size, bool& riffLost);
  // The segment found after the index (at next) is not the one that follows
  // it when a movi list lies between them: the start of a segment whose RIFF
  // header is damaged, returned (the 12 bytes before that list) where it
  // holds frames; otherwise said as left out, and -1.
  std::int64_t SegmentBefore(std::int64_t index, std::int64_t next);
  // Whether the headers let the file go on after its legacy index.
  bool MoviListAt(std::int64_t position);
  bool MayGoOnAfterIndex() const;
  // Says so when the walk ends at the first segment's idx1 (at index) and a
  // movi list further on holds data it did not reach.
  void ReportDataAfterIndex(std::int64_t index);
  bool IsIndexRecord(std::int64_t position);
  // The same for a code in the block being searched: a neighbour that
  // cannot be looked at counts as a record.
  bool IsIndexRecordIn(const unsigned char* block, std::int64_t base, std::int64_t n, std::int64_t position);
  bool LooksLikeWalkedChunk(const unsigned char* header, const unsigned char* alsoLike) const;
  void CountChunk(const unsigned char* bytes);
  // Decides the file's numbering at the first stream chunk whose code the
  // two read apart, from the codes of the chunks that follow it there.
  void SettleNumbering(std::int64_t position, const unsigned char* header);
  int StreamOf(VEKAvi::FourCC code) const { return VEKAvi::StreamNumber(code, Scan.Numbering); }
  // Keeps the first bytes of a stream's first chunk with data.
  void NoteFirstChunk(std::int64_t position, const unsigned char* header);
  // Judges the chunks walked before their stream's rule was learned.
  void FlagEarlierChunks();
  // The index flags of the stream chunk with its header at position: whether
  // it starts a key frame, from its first bytes and its stream's codec.
  std::uint32_t ChunkFlags(std::int64_t position, const unsigned char* header);
  // confirmed: what follows the chunk where its size ends is recognisable.
  void AcceptChunk(const WalkedChunk& chunk, bool confirmed);
  // The size of a chunk's data that runs from its header for data bytes, up
  // to a confirmed chunk: less its pad byte where it has one.
  std::uint32_t TrueSize(const WalkedChunk& chunk, std::int64_t data);
  // Accepts the chunk with the given size, noting it for the rebuild when its
  // header says otherwise.
  void KeepWithSize(WalkedChunk chunk, std::uint32_t size);
  // Tells a corrupted spot and where the walk goes on; true when it goes on.
  bool ReportSpot(std::int64_t spot, const SearchHit& hit, int& parity);
  void Report(const Finding& finding);
  void SetProgressAt(std::int64_t position);
  unsigned char* SearchBuffer();
  std::int64_t VideoFrames() const { return Counts->VideoFrames.load(std::memory_order_relaxed); }

  BackupFile& Source;
  const WalkReport& Reporter;
  LiveCounts* Counts;
  LiveCounts OwnCounts;  // when the caller shows none
  // Percent per byte of the file as it was sized when opened, in single precision.
  float ProgressFactor = 0.0f;
  ScanResult Scan;
  bool NumberingSettled = false;
  // Each stream chunk code the walk has accepted, with its largest size.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> WalkedSizes;
  // The chunks and bytes of each audio stream so far, by stream number.
  std::vector<std::pair<std::int64_t, std::int64_t>> AudioSeen;
  // By stream: where the walk learned the stream's key-frame rule from its
  // data (-1: from its header, or not at all).
  std::vector<std::int64_t> RuleLearnedAt;
  std::unique_ptr<unsigned char[]> Buffer;
  // The search's window for what lies beyond its block, and its ration of
  // reads: codes whose chunks end near one another (a pattern repeated
  // over megabytes) share one read, and reads to scattered ends are allowed
  // in step with the bytes searched, one per LookEvery of them, so that no
  // input makes the search read or wait much more than it searches.
  static constexpr std::int64_t LookBlock = 4096, LookEvery = 2048, LooksAtFirst = 64;
  std::unique_ptr<unsigned char[]> LookBuffer;
  std::int64_t LookStart = 0, LookLength = 0;
  bool LookReachesEnd = false;
  std::int64_t LooksAllowed = LooksAtFirst;
};

// The walk of one file from where FindStart left it.
inline ScanResult Walk(BackupFile& file, const WalkReport& report, const std::optional<LostStart>& start) {
  return start ? MoviWalk(file, report).Run(*start) : MoviWalk(file, report).Run();
}

}  // namespace VEKRiff
