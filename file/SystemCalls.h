// The POSIX calls of the file layer, behind one replaceable object, so that
// tests can make a chosen call fail (a full disk, a read error, a file that
// shrinks) without touching a real device. On Windows the same calls are
// made of their Win32 counterparts (SystemCallsWin32.cpp), in the POSIX
// vocabulary that Posix.h gives there.
#pragma once

#include <cstdint>

#include "file/Posix.h"

namespace VEKFile {

class SystemCalls {
 public:
  virtual ~SystemCalls() = default;
  virtual int Open(const char* path, int flags, mode_t mode);
  virtual int Close(int fd);
  virtual ssize_t PRead(int fd, void* buffer, size_t count, off_t offset);
  virtual ssize_t PWriteV(int fd, const struct iovec* iov, int iovcnt, off_t offset);
  // Kernel-side copy between two files; may refuse (EXDEV, ENOSYS, ...), in
  // which case the caller copies through a buffer.
  virtual ssize_t CopyFileRange(int fdIn, off_t* offIn, int fdOut, off_t* offOut, size_t count);
  // Makes the destination range share the source range's blocks
  // (FICLONERANGE): 0, or -1 with errno (EOPNOTSUPP where the file system
  // cannot, EXDEV across file systems, EINVAL when a range is not aligned).
  virtual int CloneRange(int fdIn, off_t offIn, int fdOut, off_t offOut, off_t length);
  virtual int FTruncate(int fd, off_t length);
  virtual int FStat(int fd, FileStatus* st);
  virtual int Stat(const char* path, FileStatus* st);
  // Stat of a link itself, not of what it names.
  virtual int LStat(const char* path, FileStatus* st);
  virtual int Flock(int fd, int operation);
  virtual int Unlink(const char* path);
  // Durability and safe replacement of what the engine writes.
  virtual int FSync(int fd);
  // The file's bytes and what reading them back needs (its size, its
  // blocks) on disk, its times left to the system: cheaper where only the
  // times changed besides the bytes.
  virtual int FDataSync(int fd);
  // Reserves blocks for [offset, offset + length) without changing the size
  // (fallocate with FALLOC_FL_KEEP_SIZE): 0, or -1 with errno.
  virtual int Reserve(int fd, off_t offset, off_t length);
  virtual int Rename(const char* from, const char* to);
  // File leases (fcntl F_SETLEASE with F_WRLCK, F_RDLCK or F_UNLCK): 0, or
  // -1 with errno. Before it asks for a lease, the real call makes a break
  // of it send SIGURG rather than SIGIO (see there why).
  virtual int SetLease(int fd, int type);
  // The lease on the file description (fcntl F_GETLEASE): F_WRLCK while a
  // write lease is whole, F_RDLCK or F_UNLCK once another open has broken
  // it; -1 with errno.
  virtual int GetLease(int fd);
  // The size of an open block device (a card's /dev/sdb, a drive's \\.\E:),
  // which its status does not tell: -1 with errno where the system cannot.
  virtual std::int64_t DeviceSize(int fd);
  // What every read of the open file must be a multiple of, in its offset,
  // its length and its buffer's address: 1 where any read goes (files, a
  // Linux block device), the sector (512, 4096) of a Windows drive opened
  // whole, whose reads bypass the system's cache.
  virtual std::int64_t ReadAlignment(int fd);
  // False for calls that count or script what happens in call order: the
  // file layer then reads nothing ahead on a thread of its own.
  virtual bool ThreadSafe() const { return true; }
};

// Up to n bytes at offset through the calls in force, retrying interrupted
// and partial reads; short at the end of the file, -1 when nothing could be
// read.
std::int64_t ReadFully(int fd, void* buffer, std::int64_t n, std::int64_t offset);
// The same for a file whose reads must be aligned (ReadAlignment): where the
// request is not, its bytes are cut from aligned reads through a buffer of
// this thread's own.
std::int64_t ReadAligned(int fd, void* buffer, std::int64_t n, std::int64_t offset, std::int64_t alignment);

// The calls in force. Tests install their own with SetSystemCalls and restore
// the real ones with SetSystemCalls(nullptr); nothing else changes them.
SystemCalls& Sys();
void SetSystemCalls(SystemCalls* calls);

}  // namespace VEKFile
