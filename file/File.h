// The buffered file: the engine's only way to a file's bytes. Writes are
// queued with their absolute offsets and applied in order in one pass, so a
// caller can stream small pieces, seek back to patch a field and go on
// without touching the disk, and still read back what it wrote.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "file/BackgroundRead.h"
#include "file/Posix.h"
#include "util/Exception.h"
#include "util/SmartPointers.h"

namespace VEKFile {

// Access in bits 0-1, sharing in bits 4-7.
enum OpenMode : int {
  ModeRead = 0x00,
  ModeWrite = 0x01,
  ModeReadWrite = 0x02,
  ShareExclusive = 0x10,
  ShareDenyWrite = 0x20,
  ShareDenyRead = 0x30,
  ShareDenyNone = 0x40,
};

struct WriteOperation {
  VEK::ArrayRefCount<unsigned char> Data;  // shared, so moving an operation never copies bytes
  std::int64_t Length = 0;
  std::int64_t Offset = 0;  // absolute file offset of the first byte
};

class File {
 public:
  class Exception : public VEK::Exception {
   public:
    using VEK::Exception::Exception;
    Exception(const std::string& message, int systemError, std::string path = {}, std::string reason = {})
        : VEK::Exception(message), SystemError(systemError), Path(std::move(path)), Reason(std::move(reason)) {}
    // The errno behind a failed open, creation, write, truncation or flush
    // to disk; 0 when the failure has no system reason (a short read, say).
    int SystemError = 0;
    // The file that could not be opened, created or read; empty for the others.
    std::string Path;
    // Why it could not, in words (the system's reason, or one of the file
    // layer's own, such as "not a regular file"); empty when unknown.
    std::string Reason;
  };
  // The failures to open or to create the file of that name. With a system
  // reason it is told in brackets: "Could not open file "x" (permission
  // denied)."
  static Exception OpenFailure(const std::string& fileName, int systemError);
  static Exception CreateFailure(const std::string& fileName, int systemError);
  // The failure of a read of this file that could not get its bytes, named
  // and with its reason: the system's, where a read failed outright (an I/O
  // error, a bad sector), else that the file is shorter than when it was
  // opened (cut short meanwhile). The engine reports every failed read with
  // it, so that a walk never takes a failed read for the end of the data and
  // cuts the file there.
  Exception ReadFailure() const;

  // What identifies the file's contents from outside: another program that
  // writes to the file changes its size or its modification time.
  struct Stamp {
    std::int64_t Size = 0;
    std::int64_t ModifiedSeconds = 0;
    std::int64_t ModifiedNanoseconds = 0;
    bool operator==(const Stamp&) const = default;
  };

  static constexpr std::int64_t QueueLimit = 2 * 1024 * 1024;
  // Reads smaller than this are served from a window read ahead of them: a
  // walk over a film reads an 8-byte header every few KiB, and one system
  // call per header costs more than reading the bytes in between. Tests that
  // place a fault at an exact read set it to 0 (every read goes to the file).
  static inline std::int64_t ReadAheadSize = 32 * 1024;
  // Once the reads run on from one window into the next, the block of this
  // size after the window is read on another thread while the caller works
  // through the window; 0 reads nothing ahead. Both sizes are taken when a
  // file object is made.
  static inline std::int64_t PrefetchSize = 1024 * 1024;

  explicit File(std::string fileName);
  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  void Open(int mode, bool createIfMissing);
  void Write(const void* bytes, std::int64_t n);
  void Flush();
  void Read(void* buffer, std::int64_t n);
  // Up to n bytes; 0 at the end of the file, -1 when the read fails.
  std::int64_t ReadSome(void* buffer, std::int64_t n);
  std::int64_t Seek(std::int64_t offset, int origin);
  std::int64_t Position() const { return CurrentPosition; }
  // Size from the file system's attributes of the path, queued writes not
  // counted. A path that leads to no file fails as an open does, with the
  // name and the reason (a link that leads nowhere said as such).
  std::int64_t Size() const;
  void Truncate();

  // Copies length bytes of source, from sourceOffset, to CurrentPosition
  // straight to disk (after flushing the queue) and advances CurrentPosition
  // by the count copied. Returns that count: less than length when the source
  // ends first or cannot be read. Throws "File write error." on a failed write.
  std::int64_t CopyFrom(File& source, std::int64_t sourceOffset, std::int64_t length);
  // The same between explicit offsets, touching neither file's position,
  // queue or read-ahead: safe on another thread while the owner of both
  // only reads the source and seeks. Where the file system can share blocks
  // between files (XFS with reflink, btrfs) and both offsets fall alike
  // within its blocks, the range's whole blocks are shared instead of copied,
  // whatever kernelCopy says; the rest goes through the kernel's copy, or
  // without kernelCopy through memory from the start.
  static std::int64_t CopyRange(const File& source, std::int64_t sourceOffset, const File& destination,
                                std::int64_t destinationOffset, std::int64_t length, bool kernelCopy = true);

  // Creates the file, which must not exist yet, for reading and writing,
  // without following a link at its name. A taken name fails with the
  // SystemError EEXIST.
  void CreateNew();
  // Applies the queue and asks the system to put the file on disk.
  void Sync();
  // The same for the file's bytes and size only, not its times: enough for
  // an ordering point between writes, and cheaper.
  void SyncData();
  // Asks the system to start writing [offset, offset + length) to disk now,
  // without waiting: a long copy then reaches the disk while it is made, and
  // its final Sync has little left to wait for. Safe on another thread.
  void StartWriteback(std::int64_t offset, std::int64_t length) const;
  // Up to n bytes at offset, leaving the position where it is; -1 when the
  // read fails.
  std::int64_t PeekAt(void* buffer, std::int64_t n, std::int64_t offset);
  // The n bytes at offset where the read-ahead holds them already, without
  // a copy: valid until this object next reads or writes; null when
  // they are not there or writes are queued.
  const unsigned char* ViewAt(std::int64_t n, std::int64_t offset) const {
    if (!PendingWrites.empty() || n < 0 || offset < AheadStart || offset > AheadStart + AheadLength - n) return nullptr;
    return AheadBytes + (offset - AheadStart);
  }
  // What the read-ahead holds from offset on, in place: the bytes at the
  // result, their count in held (0, with a null result, when offset is not
  // in it). Valid like ViewAt's.
  const unsigned char* HeldFrom(std::int64_t offset, std::int64_t& held) const {
    held = 0;
    if (!PendingWrites.empty() || offset < AheadStart || offset >= AheadStart + AheadLength) return nullptr;
    held = AheadStart + AheadLength - offset;
    return AheadBytes + (offset - AheadStart);
  }
  Stamp CurrentStamp() const;
  // Reserves the blocks of [offset, offset + length) without changing the
  // file's size, so that writing there later cannot run out of space. 0, or
  // the errno of the refusal; a file system that cannot reserve is no refusal.
  int Reserve(std::int64_t offset, std::int64_t length);

  // Asks the kernel for a write lease on the file. It is granted only while
  // no other program has the file open; while it is held, another program
  // that opens or truncates the file waits until it is let go (at most the
  // system's lease-break time, 45 s by default), and its attempt breaks the
  // lease. 0, or the errno of the refusal: EAGAIN when another program has
  // the file open, EOPNOTSUPP where the file system offers no leases or
  // they are switched off, EACCES for a file the user does not own.
  int TakeLease();
  // True while the lease taken is whole: no other program has tried to open
  // or truncate the file since.
  bool LeaseHeld() const;
  // Lets the lease go, if one is held; closing the file does too.
  void ReleaseLease();

  // Whether reads that need a block still being read ahead take the pieces
  // of it that nobody has begun (the default), or wait for the other thread.
  void ShareReadAhead(bool share) { SharePrefetch = share; }

  // As a destination: true while copies into this file may share the
  // source's blocks, false once the file system has refused.
  bool SharesBlocks() const { return CloneState.load(std::memory_order_relaxed) >= 0; }

  // The bytes this object's own writes have put into the file so far; a
  // write that failed counts what reached the file before it failed.
  std::int64_t BytesWritten() const { return Landed; }

  const std::string& FileName() const { return FileName_; }
  std::int64_t QueuedBytes() const { return PendingBytes; }

 private:
  void WriteAt(const void* bytes, std::int64_t n, std::int64_t offset);
  // Up to n bytes at offset, straight from the file; -1 when nothing could be
  // read (its errno kept for ReadFailure).
  std::int64_t ReadAt(void* buffer, std::int64_t n, std::int64_t offset);
  // Makes the window hold the bytes from offset on; false when the file
  // cannot be read there.
  bool FillAhead(std::int64_t offset);
  void StartPrefetch();
  // Ahead and Spare swap, so each can take a window read straight after the
  // margin as well as a block: a block smaller than the window, or none at
  // all, still leaves room for the window.
  std::int64_t BufferSize() const { return Window + std::max(Window, Block); }
  void DropReadAhead();
  // Adds every byte that lands to *landed, when given, before a failure throws.
  static void WriteGather(int handle, std::vector<struct iovec>& iov, std::int64_t offset,
                          std::int64_t* landed = nullptr);
  static std::int64_t CopyBytes(const File& source, std::int64_t sourceOffset, const File& destination,
                                std::int64_t destinationOffset, std::int64_t length, bool kernelCopy);
  // The block size in which this file, as a destination, shares another's
  // blocks; 0 once its file system has refused.
  std::int64_t CloneBlock() const;

  std::string FileName_;
  int Handle = -1;
  std::vector<WriteOperation> PendingWrites;
  std::int64_t PendingBytes = 0;
  std::int64_t CurrentPosition = 0;
  std::int64_t Landed = 0;
  bool Leased = false;
  // The errno of the last read of this file that failed outright, 0 after
  // one that did not; atomic because a mirror's copy reads on another thread.
  mutable std::atomic<int> ReadErrno{0};
  // The file's bytes [AheadStart, AheadStart + AheadLength) as last read, at
  // AheadBytes inside Ahead; dropped whenever this object writes or
  // truncates. While Prefetch is busy it reads the block that follows the
  // window into Spare, after a margin where the window's last bytes go when
  // a read straddles the two.
  VEK::ArrayAutoPtr<unsigned char> Ahead;
  VEK::ArrayAutoPtr<unsigned char> Spare;
  const unsigned char* AheadBytes = nullptr;
  std::int64_t AheadStart = 0;
  std::int64_t AheadLength = 0;
  std::unique_ptr<BackgroundRead> Prefetch;
  bool SharePrefetch = true;
  // The sizes in force when this object was made.
  const std::int64_t Window = ReadAheadSize;
  const std::int64_t Block = PrefetchSize;
  // 0 until first asked, then the block size, or -1 once sharing was refused.
  // Atomic because the mirror's copy runs on another thread.
  mutable std::atomic<std::int64_t> CloneState{0};
};

}  // namespace VEKFile
