// One AVI file as the repair engine sees it: a source and a destination with
// one read position, in one of three modes the caller decides:
//  - check: the source is read, nothing is ever written;
//  - copy (a mirror): the destination is a separate file that receives, at the
//    same offsets, every byte read or skipped over in the source, plus
//    whatever the engine writes; the source is never modified;
//  - in place: source and destination are one file opened for reading and
//    writing.
// The engine code is the same in all three.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <string>

#include "file/File.h"
#include "util/SmartPointers.h"

class BackupFile {
 public:
  static constexpr std::int64_t GapChunk = 65536;
  // Mirrored bytes waiting to be copied are handed to a background copy once
  // there are this many, so that copying overlaps the walk.
  static constexpr std::int64_t BackgroundBatch = 8 * 1024 * 1024;
  // The most one copy step takes on: a stop request is seen between steps,
  // and a background step is waited for when the file is let go.
  static constexpr std::int64_t CopyStep = 64 * 1024 * 1024;

  enum class Mode { Check, Copy, InPlace };

  // destinationPath: the copy's; unused in the other modes. With
  // freshDestination, the copy is created and must not exist yet (no link at
  // its name is followed); a taken name fails with a file exception whose
  // SystemError is EEXIST. A copy onto its own source, by whatever name, is
  // refused: it would be an in-place rewrite nobody asked for.
  BackupFile(Mode mode, const std::string& sourcePath, const std::string& destinationPath = {},
             bool freshDestination = false);
  ~BackupFile();
  BackupFile(const BackupFile&) = delete;
  BackupFile& operator=(const BackupFile&) = delete;

  void Read(void* buffer, std::int64_t n);
  std::int64_t ReadSome(void* buffer, std::int64_t n);
  void Write(const void* bytes, std::int64_t n);
  void WriteByte(unsigned char byte) { Write(&byte, 1); }
  std::int64_t Seek(std::int64_t offset, int origin);
  std::int64_t Position() const;
  void Truncate();

  // Copy mode: the source's bytes [from, to) are copied to from + shift in
  // the destination, after everything mirrored so far, so that they win;
  // the position is left at to + shift. For a copy whose data moves along.
  void CopyAlong(std::int64_t from, std::int64_t to, std::int64_t shift);

  // Up to n source bytes at position, moving nothing and mirroring nothing;
  // fewer only where the file ends. A read that fails is no end of the file:
  // it throws ReadFailure, so that no caller takes it for missing bytes;
  // except in place, where the rewrite peeks after its first write and a
  // failure must not leave it half done (-1 there).
  std::int64_t Peek(void* buffer, std::int64_t n, std::int64_t position) {
    const std::int64_t got = Source->PeekAt(buffer, n, position);
    if (got < 0 && !InPlace_) throw ReadFailure();
    return got;
  }
  // The same bytes in place when the source has them at hand (see File::ViewAt).
  const unsigned char* PeekView(std::int64_t n, std::int64_t position) const { return Source->ViewAt(n, position); }
  // All the source bytes from position on that are at hand, in place (see
  // File::HeldFrom); their count in held.
  const unsigned char* PeekHeld(std::int64_t position, std::int64_t& held) const {
    return Source->HeldFrom(position, held);
  }
  // True when another program has written to the source since it was opened.
  bool SourceChanged() const { return !(Source->CurrentStamp() == OpenedStamp); }
  // The failure of a read of the source (see File::ReadFailure).
  VEKFile::File::Exception ReadFailure() const { return Source->ReadFailure(); }
  // The source's name, as it was given.
  const std::string& SourceName() const { return Source->FileName(); }
  // The size the source has now.
  std::int64_t CurrentSourceSize() const { return Source->CurrentStamp().Size; }
  // Reserves destination blocks; 0 or the errno of the refusal.
  int Reserve(std::int64_t offset, std::int64_t length) { return Destination->Reserve(offset, length); }
  // The write lease on the file rebuilt in place (see File::TakeLease).
  int TakeLease() { return Destination->TakeLease(); }
  bool LeaseHeld() const { return Destination->LeaseHeld(); }
  void ReleaseLease() { Destination->ReleaseLease(); }
  // Puts everything written so far on disk.
  void Sync();
  // Puts the bytes written so far and the size on disk, not the times (see
  // File::SyncData).
  void SyncData();
  // The bytes the engine's writes have put into the destination so far.
  std::int64_t BytesWritten() const { return Destination->BytesWritten(); }

  // Called between the steps of a long copy; it may throw to stop the copy.
  std::function<void()> Interruption;
  // Copy mode: where the count of the destination's bytes already in place
  // is kept for a progress display; none when null.
  std::atomic<std::int64_t>* CopiedCount = nullptr;

  std::int64_t SourceSize() const { return SourceSize_; }
  std::int64_t HighWater() const { return HighWater_; }
  bool CopyMode() const { return CopyMode_; }
  bool InPlace() const { return InPlace_; }

 private:
  bool Mirror() const { return CopyMode_ && !InPlace_; }
  void Advance(std::int64_t count);  // the source has moved count bytes by reading
  void MirrorRead(std::int64_t count);
  void CopyPending();
  void CopyAhead();
  // Takes the background copy's result into Copied: at once when wait is
  // set, else only if it has finished.
  void CollectBackgroundCopy(bool wait);
  void PlaceDestination(std::int64_t position);
  void SetCopied(std::int64_t copied);

  VEK::RefCount<VEKFile::File> Source;
  VEK::RefCount<VEKFile::File> Destination;
  std::int64_t SourceSize_ = 0;
  VEKFile::File::Stamp OpenedStamp;
  // Mirror mode: the destination stands for the source's bytes [0, HighWater_)
  // at the same offsets (outside what the engine wrote itself). Of those,
  // [Copied, HighWater_) are still to be copied: kernel-side copies made in
  // large batches on another thread while the walk goes on, and for the rest
  // when the engine first writes or truncates, instead of block by block
  // during the walk. The bytes that land are the same.
  std::int64_t HighWater_ = 0;
  std::int64_t Copied = 0;
  std::future<std::int64_t> Copying;  // the batch [Copied, CopyingEnd) under way
  std::int64_t CopyingEnd = 0;
  std::atomic<bool> CopyingDone{false};
  std::int64_t ReadPosition = 0;
  std::int64_t WritePosition = 0;
  bool CopyMode_ = false;
  bool InPlace_ = false;
};
