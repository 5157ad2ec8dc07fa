// The POSIX vocabulary of the file layer's system calls: descriptors, open
// flags, struct iovec, the lock and lease constants and the status of a file.
// On Linux these are the system's own. On Windows, where the calls are made
// of Win32 ones, the missing names are given here with the meanings the
// Win32 implementation honours, and the file status is a struct of its own,
// because the C runtime's struct stat has no room for a 64-bit file index,
// nor for nanosecond times.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

#ifdef _WIN32

struct iovec {
  void* iov_base;
  std::size_t iov_len;
};
#ifndef IOV_MAX
#define IOV_MAX 1024
#endif
// A name holds at most 255 UTF-16 units; counted in UTF-8 bytes, as the
// callers count, the limit is never too generous.
#ifndef NAME_MAX
#define NAME_MAX 255
#endif

// Handles are not inherited unless asked for, and there are no terminals or
// FIFOs to hang an open: these cost nothing there.
#define O_CLOEXEC 0
#define O_NOCTTY 0
#define O_NONBLOCK 0
// Above the C runtime's own flags. O_NOFOLLOW opens a reparse point itself
// (FILE_FLAG_OPEN_REPARSE_POINT); O_DIRECTORY opens a folder.
#define O_NOFOLLOW 0x01000000
#define O_DIRECTORY 0x02000000

#define LOCK_SH 1
#define LOCK_EX 2
#define LOCK_NB 4
#define LOCK_UN 8

#define F_RDLCK 0
#define F_WRLCK 1
#define F_UNLCK 2

#ifndef S_IFLNK
#define S_IFLNK 0xA000
#endif
#ifndef S_ISLNK
#define S_ISLNK(m) (((m)&S_IFMT) == S_IFLNK)
#endif

namespace VEKFile {

// What the callers read of a file's status, filled from
// GetFileInformationByHandle: st_dev is the volume's serial number and
// st_ino the file index, which together tell one file from another as a
// device and inode number do.
struct FileStatus {
  std::uint64_t st_dev = 0;
  std::uint64_t st_ino = 0;
  unsigned st_mode = 0;
  unsigned st_nlink = 0;
  std::int64_t st_size = 0;
  struct timespec st_mtim = {};
  // No block sharing between files: 0 keeps copies from asking for it.
  std::int64_t st_blksize = 0;
};

// Sharing an open denies to every other open of the file while it lasts
// (the share mode of CreateFileW); the system enforces it.
inline constexpr int OpenDenyRead = 0x04000000;
inline constexpr int OpenDenyWrite = 0x08000000;

}  // namespace VEKFile

#else

#include <sys/file.h>
#include <sys/uio.h>

namespace VEKFile {

using FileStatus = struct ::stat;

// No mandatory sharing here (see File.cpp's LockFor for what stands in).
inline constexpr int OpenDenyRead = 0;
inline constexpr int OpenDenyWrite = 0;

}  // namespace VEKFile

#endif
