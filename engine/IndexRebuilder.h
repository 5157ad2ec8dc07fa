// The repair engine: a worker thread that checks a list of AVI files or
// rebuilds their idx1 index, reporting every step to its owner through
// synchronous notifications.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "avi/HeaderReader.h"
#include "codec/KeyFrame.h"
#include "file/BackupFile.h"
#include "lang/Language.h"
#include "util/Exception.h"
#include "util/SmartPointers.h"
#include "util/Thread.h"

namespace VEKRiff {

// Notification codes; the values are part of the protocol with front-ends.
enum RebuildEvent : std::uint8_t {
  FileStarted = 0,
  FileOpening = 1,
  FileOk = 2,
  FileError = 3,
  FileRebuilt = 4,
  Aborted = 5,
  MessageAdded = 6,
  FileSkipped = 7,
};

// One entry of the rebuilt indexes: the chunk's code and size as its header
// gives them, the absolute position of that header and the entry's idx1
// flags. Still 16 bytes, like the idx1 entry it becomes, so that a long
// film's index costs no more memory; the position is absolute (48 bits) so
// that the same entries can feed the OpenDML indexes of files beyond 4 GiB.
struct OldIndexEntry {
  std::uint32_t ChunkId = 0;
  std::uint32_t Size = 0;
  std::uint64_t PositionAndFlags = 0;  // bits 0-47: header position; bits 48-63: flags

  OldIndexEntry() = default;
  OldIndexEntry(std::uint32_t chunkId, std::uint32_t flags, std::int64_t position, std::uint32_t size)
      : ChunkId(chunkId),
        Size(size),
        PositionAndFlags((static_cast<std::uint64_t>(position) & PositionMask) |
                         (static_cast<std::uint64_t>(flags & 0xFFFF) << 48)) {}
  std::int64_t Position() const { return static_cast<std::int64_t>(PositionAndFlags & PositionMask); }
  std::uint32_t Flags() const { return static_cast<std::uint32_t>(PositionAndFlags >> 48); }

  static constexpr std::uint64_t PositionMask = (std::uint64_t{1} << 48) - 1;
};
static_assert(sizeof(OldIndexEntry) == 16);

// A deque grows without moving what it holds, so collecting the index of a
// long film never needs twice its memory.
using IndexEntries = std::deque<OldIndexEntry>;

using FileList = std::vector<std::string>;

// One RIFF of a file as the walk found it: the first ('AVI ') and, in an
// OpenDML file, each 'AVIX' after it.
struct Segment {
  std::int64_t RiffPosition = 0;  // its "RIFF" header
  std::int64_t MoviPosition = 0;  // the "LIST" header of its movi list
  std::int64_t End = 0;           // where its usable movi data ends (the walk's end in it)
};
using Segments = std::vector<Segment>;

class IndexRebuilder : public VEK::Thread {
 public:
  class Exception : public VEK::Exception {
   public:
    using VEK::Exception::Exception;
  };
  // This file cannot be processed; the batch goes on.
  class ErrorException : public Exception {
   public:
    using Exception::Exception;
  };
  // This file is skipped; the batch goes on.
  class SkipException : public Exception {
   public:
    using Exception::Exception;
  };
  // The whole batch ends.
  class AbortException : public Exception {
   public:
    using Exception::Exception;
  };

  static constexpr const char* DefaultPrefix = "Zantrel.";
  static constexpr std::int64_t SearchBlock = 65536;

  using EventHandler = std::function<void(IndexRebuilder& sender)>;

  explicit IndexRebuilder(VEK::HandOverQueue& owner);
  ~IndexRebuilder() override;

  // Owner's thread. Assign before Start.
  EventHandler OnEvent;
  // The handler is called on the worker's own thread instead of being handed
  // over to the owner's, still before the worker goes on: for a front-end
  // whose handler guards what it shares with its own thread (the console's,
  // which prints each line). A hand-over costs two thread wake-ups, which a
  // file with hundreds of thousands of lines pays for each of them.
  bool EventsOnWorkerThread = false;
  std::string Prefix = DefaultPrefix;
  // An empty Prefix names the source itself: the window's in-place rewrite,
  // after its existing-output question. A front-end that keeps in place
  // behind a switch of its own clears this; an empty prefix then names a
  // copy that is its own source, and is refused like any other.
  bool EmptyPrefixInPlace = true;

  void Start(VEK::RefCount<FileList> files, bool checkOnly, bool keepOriginal);
  // The outcome text replaces the exception's own message in the log.
  void Abort(const std::string& outcomeText);
  // Meaningful only while the worker waits in FileOpening.
  void Skip(const std::string& outcomeText);
  // From the worker, and from the owner inside a notification.
  void AddMessage(const std::string& text);

  // Readable inside OnEvent.
  RebuildEvent Event() const { return Event_; }
  std::string Message() const { return Message_; }
  const std::string& OutputFileName() const { return OutputFileName_; }
  int FileIndex() const { return FileIndex_; }
  bool CheckOnly() const { return CheckOnly_; }
  bool KeepOriginal() const { return KeepOriginal_; }

  // Readable at any time; they belong to the current file.
  std::int32_t Progress() const { return Progress_.load(std::memory_order_relaxed); }
  std::int32_t ErrorCount() const { return ErrorCount_.load(std::memory_order_relaxed); }
  std::int32_t VideoFrameCount() const { return VideoFrameCount_.load(std::memory_order_relaxed); }
  std::int32_t AudioSampleCount() const { return AudioSampleCount_.load(std::memory_order_relaxed); }

  // The steps of one file, in the order ProcessFile runs them, on a
  // BackupFile opened at position 0.
  void CheckRiffHeader(BackupFile& file);
  std::int64_t LocateMovi(BackupFile& file);
  void ScanMovi(BackupFile& file, std::int64_t moviOffset, IndexEntries& entries);
  // Writes the index at the current position, then the movi list's size;
  // leaves the position at the end of the index.
  void WriteIndex(BackupFile& file, const IndexEntries& entries, std::int64_t moviOffset);
  // The indexes of a file with more than one RIFF (OpenDML): a legacy idx1
  // for the first segment where its file has room for it, one standard index
  // chunk ('ix##') per stream and segment after the usable data of the last
  // segment, each stream's super index ('indx') in the space its header
  // reserved, and the sizes of every RIFF and movi list it changes and the
  // dmlh frame count. Fails before anything is written when the reserved
  // space cannot hold a super index. Leaves the position at the new end of
  // the file, where the caller truncates. entries: in file order, each inside
  // one segment's [movi data, End).
  void WriteOdmlIndexes(BackupFile& file, const VEKAvi::AviHeaders& headers, const Segments& segments,
                        const IndexEntries& entries);
  // What WriteOdmlIndexes will write past the last segment's end (so that
  // room can be reserved for it first), after checking that it can; throws
  // the failure WriteOdmlIndexes would.
  std::int64_t OdmlIndexBytes(const VEKAvi::AviHeaders& headers, const Segments& segments,
                              const IndexEntries& entries);
  // Per file: the header positions of the old index chunks ('ix##', '##ix')
  // the walk skipped inside the usable data. They no longer describe it, so
  // WriteOdmlIndexes renames them to JUNK.
  std::vector<std::int64_t> OldIndexChunks;
  // Per file: stream chunks the walk kept although their header's size is
  // wrong (it lies, or the file was cut inside the chunk), with the size of
  // the data that is there; the rebuild writes that size into their headers.
  struct SizeFix {
    std::int64_t Position = 0;  // the chunk's header
    std::uint32_t Size = 0;
  };
  std::vector<SizeFix> SizeFixes;
  // Per file: the stream headers read from hdrl, and the RIFFs the walk went through.
  VEKAvi::AviHeaders Headers;
  // Per file: each stream's key-frame rule, by stream number (null: no rule).
  std::vector<VEKCodec::KeyFrameRule> Rules;
  Segments SegmentList;
  // Per file: the legacy idx1 the walk met (-1: none) and its size field.
  std::int64_t OldIndexPosition = -1;
  std::uint32_t OldIndexSize = 0;
  // Fails the file when an idx1 cannot address the data up to end.
  void CheckIndexFits(std::int64_t end, const IndexEntries& entries, std::int64_t moviOffset);
  // How many bytes WriteIndex writes from a walk that ended at end.
  static std::int64_t IndexBytes(std::int64_t end, const IndexEntries& entries, std::int64_t moviOffset);
  static std::int64_t IndexPad(std::int64_t end, std::int64_t moviOffset);

 protected:
  void Execute() override;

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
    unsigned char Bytes[8] = {};
    std::uint32_t Flags = 0;  // its index flags, judged from its first bytes
  };

  static constexpr std::uint32_t MaxIdx1Value = 0xFFFFFFFFu;
  // Percent per byte of the file as it was sized when opened, in single precision.
  static float ProgressFactor(const BackupFile& file) {
    const std::int64_t size = file.SourceSize();
    return size > 0 ? 100.0f / static_cast<float>(size) : 0.0f;
  }

  // Searches from the position for the next chunk to resume at. alsoLike: a
  // chunk header just walked but not yet accepted, which plausible chunks may
  // resemble too.
  SearchHit Resynchronise(BackupFile& file, std::int64_t from, const unsigned char* alsoLike = nullptr);
  // The first chunk a search found plausible but not confirmed, and where it ends.
  struct SearchCandidate {
    std::int64_t Position = -1;
    std::int64_t End = 0;
  };
  // Searches the n bytes of block, the file's bytes from base on, at each
  // offset with more than 8 of them after it: a hit when the search ends
  // there, nothing when it goes on past them.
  std::optional<SearchHit> SearchIn(BackupFile& file, const unsigned char* block, std::int64_t base, std::int64_t n,
                                    const unsigned char* alsoLike, SearchCandidate& candidate);
  bool Confirmed(BackupFile& file, const unsigned char* block, std::int64_t base, std::int64_t n, std::int64_t at);
  // Where the RIFF 'AVIX' after the first segment's idx1 (at index, of the
  // given size) starts, or -1 when the file has no more segments.
  std::int64_t NextSegmentAfterIndex(BackupFile& file, std::int64_t index, std::uint32_t size);
  void ReadStreamHeaders(BackupFile& file, std::int64_t at, std::uint32_t dataSize);
  bool IsIndexRecord(BackupFile& file, std::int64_t position);
  // The check of the file's own index and header counts against the walk.
  struct HeaderCounts {
    std::int64_t TotalFrames = 0;  // video frames of the first segment (avih)
    std::int64_t AllFrames = 0;    // of the whole file (dmlh)
    std::vector<std::int64_t> Streams;  // each stream's length in its own units (strh)
  };
  HeaderCounts CountsFromData(const IndexEntries& entries) const;
  bool MainHeaderFramesAgree(const HeaderCounts& counts) const;
  bool StreamLengthAgrees(std::size_t stream, std::int64_t data) const;
  bool KeyFlagJudged(const OldIndexEntry& entry) const;
  void ReportProblem(const VEK::MessagePair& text, std::initializer_list<VEK::FormatArg> args);
  void VerifyIndex(BackupFile& file, const IndexEntries& entries);
  void VerifyOdmlIndexes(BackupFile& file, const IndexEntries& entries);
  // Reports the RIFF and movi list sizes that disagree with the data.
  void VerifyListSizes(BackupFile& file, const IndexEntries& entries);
  // Reports the header counts that contradict the data, and returns the
  // data's counts for the rebuild to write.
  HeaderCounts VerifyHeaderCounts(const IndexEntries& entries);
  // Writes the header counts that differ from the data's, and the RIFF size
  // of a single-RIFF file ending at fileEnd; leaves the position at fileEnd.
  void WriteHeaderCounts(BackupFile& file, const HeaderCounts& counts, std::int64_t fileEnd);
  // Gives the chunks the walk kept with another size than their header's that size.
  void WriteChunkSizes(BackupFile& file);
  bool LooksLikeWalkedChunk(const unsigned char* header, const unsigned char* alsoLike) const;
  void CountChunk(const unsigned char* bytes);
  // The index flags of the stream chunk with its header at position: whether
  // it starts a key frame, from its first bytes and its stream's codec.
  std::uint32_t ChunkFlags(BackupFile& file, std::int64_t position, const unsigned char* header);
  void AcceptChunk(const WalkedChunk& chunk, IndexEntries& entries);
  // The size of a chunk's data that runs from its header for data bytes, up
  // to a confirmed chunk: less its pad byte where it has one.
  std::uint32_t TrueSize(BackupFile& file, const WalkedChunk& chunk, std::int64_t data);
  // Accepts the chunk with the given size, noting it for the rebuild when its
  // header says otherwise.
  void KeepWithSize(WalkedChunk chunk, std::uint32_t size, IndexEntries& entries);
  bool ReportSpot(std::int64_t spot, const SearchHit& hit, int& parity);
  void ProcessFile(const std::string& path);
  // sourceOnly: the file is opened alone (a check, or an in-place rebuild).
  void OpenFile(const std::string& path, bool sourceOnly, VEK::AutoPtr<BackupFile>& file);
  // Checks that the new indexes can be written and returns how many bytes
  // they take after the walk's end; then writes them and the header counts,
  // leaving the position at the new end of the file.
  std::int64_t PrepareIndexes(std::int64_t end, const IndexEntries& entries, std::int64_t moviOffset);
  void WriteIndexes(BackupFile& file, const IndexEntries& entries, const HeaderCounts& counts,
                    std::int64_t moviOffset);
  void FinishCopy(VEK::AutoPtr<BackupFile>& file, const IndexEntries& entries, const HeaderCounts& counts,
                  std::int64_t moviOffset);
  void FinishInPlace(BackupFile& file, const IndexEntries& entries, const HeaderCounts& counts,
                     std::int64_t moviOffset);
  // Sets OutputFileName; true when it is the source itself.
  bool ChooseOutput(const std::string& path);
  void Notify(RebuildEvent code);
  void SetProgress(std::int32_t percent);
  void SetProgressAt(std::int64_t position, float factor);
  void CheckAbort();
  void DiscardOutput();

  VEK::RefCount<FileList> Files = std::make_shared<FileList>();
  bool CheckOnly_ = true;
  bool KeepOriginal_ = true;
  std::atomic<std::int32_t> Progress_{0};
  int FileIndex_ = 0;
  std::string OutputFileName_;
  RebuildEvent Event_ = FileStarted;
  std::atomic<std::int32_t> VideoFrameCount_{0};
  std::atomic<std::int32_t> AudioSampleCount_{0};
  std::atomic<std::int32_t> ErrorCount_{0};
  std::string Message_;
  std::string OutcomeText;
  bool SkipRequested = false;
  bool OutputCreated = false;
  // A copy is written under this name beside its final one and renamed when
  // it is complete; empty when no copy is being written.
  std::string TemporaryName;
  VEK::ArrayAutoPtr<unsigned char> SearchBuffer;
  // Per file: each stream chunk code the walk has accepted, with its largest size.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> WalkedSizes;
};

}  // namespace VEKRiff
