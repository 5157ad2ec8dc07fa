#include "file/SystemCalls.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace VEKFile {

int SystemCalls::Open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int SystemCalls::Close(int fd) { return ::close(fd); }
ssize_t SystemCalls::PRead(int fd, void* buffer, size_t count, off_t offset) {
  return ::pread(fd, buffer, count, offset);
}
ssize_t SystemCalls::PWriteV(int fd, const struct iovec* iov, int iovcnt, off_t offset) {
  return ::pwritev(fd, iov, iovcnt, offset);
}
ssize_t SystemCalls::CopyFileRange(int fdIn, off_t* offIn, int fdOut, off_t* offOut, size_t count) {
  return ::copy_file_range(fdIn, offIn, fdOut, offOut, count, 0);
}
int SystemCalls::CloneRange(int fdIn, off_t offIn, int fdOut, off_t offOut, off_t length) {
  struct file_clone_range range = {};
  range.src_fd = fdIn;
  range.src_offset = static_cast<__u64>(offIn);
  range.src_length = static_cast<__u64>(length);
  range.dest_offset = static_cast<__u64>(offOut);
  return ::ioctl(fdOut, FICLONERANGE, &range);
}
int SystemCalls::FTruncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int SystemCalls::FStat(int fd, FileStatus* st) { return ::fstat(fd, st); }
int SystemCalls::Stat(const char* path, FileStatus* st) { return ::stat(path, st); }
int SystemCalls::LStat(const char* path, FileStatus* st) { return ::lstat(path, st); }
int SystemCalls::Flock(int fd, int operation) { return ::flock(fd, operation); }
int SystemCalls::Unlink(const char* path) { return ::unlink(path); }
int SystemCalls::FSync(int fd) { return ::fsync(fd); }
int SystemCalls::FDataSync(int fd) { return ::fdatasync(fd); }
int SystemCalls::Reserve(int fd, off_t offset, off_t length) {
  return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, offset, length);
}
int SystemCalls::Rename(const char* from, const char* to) { return ::rename(from, to); }
int SystemCalls::SetLease(int fd, int type) {
  // The kernel tells the holder of a lease that another program is opening
  // the file with a signal, SIGIO unless the file names another; SIGIO ends
  // a process that does not handle it. SIGURG is discarded unless handled,
  // and neither program handles it (nor does Qt): the holder asks whether
  // its lease is still whole (GetLease) instead of waiting for a signal.
  if (type != F_UNLCK && ::fcntl(fd, F_SETSIG, SIGURG) != 0) return -1;
  return ::fcntl(fd, F_SETLEASE, type);
}
int SystemCalls::GetLease(int fd) { return ::fcntl(fd, F_GETLEASE); }
// A block device's end is where a seek to its end lands (Linux and the BSDs
// alike); the position of the descriptor is not used for reading.
std::int64_t SystemCalls::DeviceSize(int fd) { return static_cast<std::int64_t>(::lseek(fd, 0, SEEK_END)); }
// Reads of a device opened without O_DIRECT go through the page cache.
std::int64_t SystemCalls::ReadAlignment(int) { return 1; }

}  // namespace VEKFile
