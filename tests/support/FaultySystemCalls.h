// A SystemCalls that counts every call and makes chosen ones fail: a full
// disk, a short write, a broken read, a refused truncation, kernel copy or
// block sharing, a file that shrinks or grows while it is being read, a
// lease refused or broken. Tests
// install it with CallsGuard for one scope.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "file/SystemCalls.h"

namespace ZantrelTest {

class FaultySystemCalls : public VEKFile::SystemCalls {
 public:
  // The counts are atomic: a mirror's copy makes its calls on a thread of
  // its own while the walk makes others.
  std::atomic<int> calls{0};
  std::atomic<int> pwritevCalls{0};
  std::atomic<int> preadCalls{0};
  std::atomic<long long> preadBytes{0};  // what the preads returned
  std::atomic<int> closeCalls{0};
  std::atomic<int> copyCalls{0};

  int failPWriteV = 0;           // the next n pwritev calls fail with ENOSPC
  int zeroPWriteV = 0;           // the next n pwritev calls write nothing
  int interruptPWriteV = 0;      // the next n pwritev calls are interrupted
  std::size_t shortPWriteV = 0;  // when set, each pwritev writes at most this many bytes
  int failPWriteVAt = 0;         // the pwritev call of this number (from 1) and every later one fails
  int pwritevErrno = 0;          // errno of failPWriteVAt; 0 makes it a write of nothing
  // A run killed after this many bytes of pwritev (from all calls): the call
  // that reaches it writes only up to it, and from then on every pwritev and
  // ftruncate does nothing (EIO), as nothing happens after a kill. -1: never.
  std::int64_t cutAfterBytes = -1;
  std::atomic<std::int64_t> bytesWritten{0};  // by pwritev, counted always
  bool failPRead = false;
  int failPReadAt = 0;           // the pread call of this number (from 1) and every later one fails with EIO
  // The preads of the file whose path ends with this text fail with
  // fileReadErrno from its read of number fileReadFailAt (from 1, counted
  // over every opening of it) on; the other files read as they are.
  std::string failReadSuffix;
  int fileReadFailAt = 1;
  int fileReadErrno = EIO;
  std::atomic<int> fileReads{0};  // the preads of that file
  bool failFTruncate = false;
  bool failCopyFileRange = false;  // every copy_file_range fails with copyErrno
  int copyErrno = 0;
  std::atomic<int> cloneCalls{0};
  bool failClone = false;          // every block-sharing clone fails with cloneErrno ...
  int cloneErrno = 0;
  bool cloneHalfFirst = false;     // ... after really sharing the first half of its range
  int failFStatAfter = -1;       // fstat calls beyond this many fail with EIO
  std::atomic<int> fstatCalls{0};
  std::atomic<int> fsyncCalls{0};      // flushes to disk: fsync and fdatasync
  std::atomic<int> fdatasyncCalls{0};  // of which fdatasync
  int fsyncErrno = 0;            // when set, every flush fails with it (a folder that cannot be synced, say)
  std::atomic<int> reserveCalls{0};
  int reserveErrno = 0;          // when set, every block reservation fails with it
  std::atomic<int> renameCalls{0};
  int renameErrno = 0;           // when set, every rename fails with it
  bool failClose = false;        // close reports EIO (after closing), as a network file system may
  std::atomic<int> leaseCalls{0};    // requests for a write lease
  std::atomic<int> releaseCalls{0};  // leases let go
  int leaseErrno = 0;            // when set, every lease request fails with it
  bool breakLease = false;       // a lease granted reads as broken: another program opened the file
  // Runs before each block reservation (the last step before the first
  // write in place), for example to resume a download.
  std::function<void()> beforeReserve;
  // Open of a path that ends with this text fails with openErrno.
  std::string failOpenSuffix;
  int openErrno = 0;
  // Runs before the pread call of the given number (from 1), for example to
  // truncate or extend the file being read.
  int hookPReadAt = 0;
  std::function<void()> beforePRead;
  // Runs before each flush, after it is counted (fsyncCalls is its number),
  // for example to request a stop while a finished file is put on disk.
  std::function<void()> beforeFSync;
  // Runs before each open, with its path and flags; a non-zero result fails
  // the open with that errno.
  std::function<int(const char* path, int flags)> openFilter;

  // With keepJournal, what each write, cut and flush that succeeded did to
  // which file, in call order: enough to make what a power failure could
  // leave, where the writes since the last flush land in any part.
  struct Step {
    enum Kind { Write, Truncate, Flush } What = Write;
    std::string Path;
    std::int64_t Offset = 0;  // of a write; the new size of a cut
    std::vector<unsigned char> Bytes;  // what a write put there
  };
  bool keepJournal = false;
  std::vector<Step> journal;

  int Open(const char* path, int flags, mode_t mode) override;
  int Close(int fd) override;
  ssize_t PRead(int fd, void* buffer, size_t count, off_t offset) override;
  ssize_t PWriteV(int fd, const struct iovec* iov, int iovcnt, off_t offset) override;
  ssize_t CopyFileRange(int fdIn, off_t* offIn, int fdOut, off_t* offOut, size_t count) override;
  int CloneRange(int fdIn, off_t offIn, int fdOut, off_t offOut, off_t length) override;
  int FTruncate(int fd, off_t length) override;
  int FStat(int fd, VEKFile::FileStatus* st) override;
  int Stat(const char* path, VEKFile::FileStatus* st) override;
  int Flock(int fd, int operation) override;
  int Unlink(const char* path) override;
  int FSync(int fd) override;
  int FDataSync(int fd) override;
  int Reserve(int fd, off_t offset, off_t length) override;
  int Rename(const char* from, const char* to) override;
  int SetLease(int fd, int type) override;
  int GetLease(int fd) override;
  bool ThreadSafe() const override { return false; }

 private:
  int Flush(int fd, bool dataOnly);
  void Record(Step step, int fd);
  void RecordWrite(int fd, const struct iovec* iov, int iovcnt, off_t offset, ssize_t written);

  std::mutex journalLock;
  std::map<int, std::string> paths;  // of the descriptors open, for the journal
  std::set<int> failingReads;  // the open handles of the file whose reads fail
};

// Installs the calls for one scope and always puts the real ones back.
class CallsGuard {
 public:
  explicit CallsGuard(VEKFile::SystemCalls& calls) { VEKFile::SetSystemCalls(&calls); }
  ~CallsGuard() { VEKFile::SetSystemCalls(nullptr); }
  CallsGuard(const CallsGuard&) = delete;
  CallsGuard& operator=(const CallsGuard&) = delete;
};

}  // namespace ZantrelTest
