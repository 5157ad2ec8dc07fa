// The file layer's system calls on Win32. Descriptors are small integers
// over a table of HANDLEs; names are UTF-8 here and UTF-16 at every Win32
// call, made absolute and given the \\?\ prefix so that no length limit or
// name rewriting applies. What the callers would do on Linux they do here:
// reads and writes name their offsets (OVERLAPPED), so threads sharing a
// descriptor never race over a file pointer.
#include <windows.h>
#include <winioctl.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "file/SystemCalls.h"
#include "util/Win32.h"

namespace VEKFile {

namespace {

using VEK::Win32::FileName;

int ErrnoFromWin32(DWORD error) { return VEK::Win32::Errno(error); }

struct Slot {
  std::atomic<HANDLE> Handle{nullptr};
  std::atomic<bool> Folder{false};
  std::atomic<bool> Device{false};
  std::atomic<DWORD> Share{0};
  std::atomic<DWORD> Access{0};
};

// Descriptors 0-2 stay the C runtime's, as they would be the terminal's.
constexpr int FirstDescriptor = 3;
std::array<Slot, 4096> slots;

HANDLE HandleOf(int fd) {
  if (fd < FirstDescriptor || fd - FirstDescriptor >= static_cast<int>(slots.size())) return nullptr;
  return slots[fd - FirstDescriptor].Handle.load(std::memory_order_acquire);
}

// Opens are few and take the mutex; reads and writes only load a handle.
std::mutex adopting;

int Adopt(HANDLE handle, bool folder, DWORD share, DWORD access, bool device = false) {
  std::lock_guard<std::mutex> lock(adopting);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (slots[i].Handle.load(std::memory_order_acquire) != nullptr) continue;
    // What the slot says of its handle first: the handle makes it visible.
    slots[i].Folder.store(folder, std::memory_order_relaxed);
    slots[i].Device.store(device, std::memory_order_relaxed);
    slots[i].Share.store(share, std::memory_order_relaxed);
    slots[i].Access.store(access, std::memory_order_relaxed);
    slots[i].Handle.store(handle, std::memory_order_release);
    return static_cast<int>(i) + FirstDescriptor;
  }
  CloseHandle(handle);
  errno = EMFILE;
  return -1;
}

int FailWith(int error) {
  errno = error;
  return -1;
}

int FailFromLastError() { return FailWith(ErrnoFromWin32(GetLastError())); }

constexpr std::int64_t TicksPerSecond = 10000000;
// From 1601-01-01, where FILETIME counts from, to 1970-01-01.
constexpr std::int64_t EpochTicks = 116444736000000000;

// A drive or disk named whole in the device namespace (\\.\E:,
// \\.\PhysicalDrive1): a block device, as /dev/sdb is on Linux. A name
// that goes on past the device (\\.\E:\film.avi) is a file on it.
bool IsDeviceName(const std::wstring& name) {
  const std::wstring prefix = L"\\\\.\\";
  return name.size() > prefix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
         name.find_first_of(L"\\/", prefix.size()) == std::wstring::npos;
}

int FillStatus(HANDLE handle, FileStatus* st, bool linkItself, bool device = false) {
  *st = FileStatus{};
  const DWORD type = GetFileType(handle);
  if (device && type == FILE_TYPE_DISK) {
    // Its size is asked for apart (DeviceSize), as a block device's is.
    st->st_mode = S_IFBLK | 0444;
    st->st_nlink = 1;
    return 0;
  }
  if (type == FILE_TYPE_PIPE || type == FILE_TYPE_CHAR) {
    st->st_mode = type == FILE_TYPE_PIPE ? S_IFIFO : S_IFCHR;
    st->st_nlink = 1;
    return 0;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return FailFromLastError();
  bool link = false;
  if (linkItself && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    // Only name surrogates (symbolic links, junctions) are links; other
    // reparse points (deduplicated or cloud files) are the files they hold.
    FILE_ATTRIBUTE_TAG_INFO tag;
    link = GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
           IsReparseTagNameSurrogate(tag.ReparseTag);
  }
  if (link)
    st->st_mode = S_IFLNK | 0777;
  else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    st->st_mode = S_IFDIR | 0755;
  else
    st->st_mode = S_IFREG | ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0644);
  st->st_dev = info.dwVolumeSerialNumber;
  st->st_ino = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  st->st_nlink = info.nNumberOfLinks;
  st->st_size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  const std::int64_t ticks = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime);
  st->st_mtim.tv_sec = static_cast<time_t>((ticks - EpochTicks) / TicksPerSecond);
  st->st_mtim.tv_nsec = static_cast<long>((ticks - EpochTicks) % TicksPerSecond * 100);
  return 0;
}

int StatPath(const char* path, FileStatus* st, bool linkItself) {
  const std::wstring name = FileName(path);
  // No access asked: attributes only, whatever the file's share mode.
  const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (linkItself ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE handle =
      CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, flags, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return FailFromLastError();
  const int result = FillStatus(handle, st, linkItself, IsDeviceName(name));
  const int error = errno;
  CloseHandle(handle);
  errno = error;
  return result;
}

bool IsFolder(const std::wstring& name) {
  const DWORD attributes = GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

OVERLAPPED At(off_t offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset));
  at.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return at;
}

// One call moves at most this much, so that a count always fits a DWORD.
constexpr std::size_t MaxTransfer = 1 << 30;

// Writes count bytes at offset in one call: the count written, or -1.
ssize_t WriteAt(HANDLE handle, const void* bytes, std::size_t count, off_t offset) {
  OVERLAPPED at = At(offset);
  DWORD written = 0;
  if (!WriteFile(handle, bytes, static_cast<DWORD>(std::min(count, MaxTransfer)), &written, &at))
    return FailFromLastError();
  return static_cast<ssize_t>(written);
}

}  // namespace

int SystemCalls::Open(const char* path, int flags, mode_t) {
  const std::wstring name = FileName(path);
  DWORD access = 0;
  switch (flags & (O_RDONLY | O_WRONLY | O_RDWR)) {
    case O_WRONLY:
      access = GENERIC_WRITE;
      break;
    case O_RDWR:
      access = GENERIC_READ | GENERIC_WRITE;
      break;
    default:
      access = GENERIC_READ;
      break;
  }
  // Renaming and deleting stay open to others as on Linux, where no open
  // stands in their way: the safe copy's rename and a user's deletion.
  DWORD share = FILE_SHARE_DELETE;
  if ((flags & OpenDenyRead) == 0) share |= FILE_SHARE_READ;
  if ((flags & OpenDenyWrite) == 0) share |= FILE_SHARE_WRITE;
  DWORD disposition = OPEN_EXISTING;
  if ((flags & O_CREAT) != 0 && (flags & O_EXCL) != 0)
    disposition = CREATE_NEW;
  else if ((flags & O_CREAT) != 0 && (flags & O_TRUNC) != 0)
    disposition = CREATE_ALWAYS;
  else if ((flags & O_CREAT) != 0)
    disposition = OPEN_ALWAYS;
  else if ((flags & O_TRUNC) != 0)
    disposition = TRUNCATE_EXISTING;
  // Folders open only with backup semantics; asked for always, so that a
  // folder is found by its status, as on Linux, rather than refused.
  DWORD attributes = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS;
  // A name created exclusively never follows a link planted there.
  if ((flags & O_NOFOLLOW) != 0 || disposition == CREATE_NEW) attributes |= FILE_FLAG_OPEN_REPARSE_POINT;
  HANDLE handle = CreateFileW(name.c_str(), access, share, nullptr, disposition, attributes, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    // Writing to or creating over a folder is refused as access denied (or
    // as a name that exists); Linux says EISDIR.
    if (access != GENERIC_READ && IsFolder(name)) return FailWith(EISDIR);
    return FailWith(ErrnoFromWin32(error));
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool folder = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info) &&
                      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if ((flags & O_DIRECTORY) != 0 && !folder) {
    CloseHandle(handle);
    return FailWith(ENOTDIR);
  }
  const bool device = IsDeviceName(name) && GetFileType(handle) == FILE_TYPE_DISK;
  if (device) {
    // A volume's reads stop at its file system's end unless this is asked
    // (the sectors past it are the volume's too); refused where there is no
    // file system, which has no end of its own.
    DWORD ignored = 0;
    DeviceIoControl(handle, FSCTL_ALLOW_EXTENDED_DASD_IO, nullptr, 0, nullptr, 0, &ignored, nullptr);
  }
  return Adopt(handle, folder, share, access, device);
}

int SystemCalls::Close(int fd) {
  if (fd < FirstDescriptor || fd - FirstDescriptor >= static_cast<int>(slots.size())) return FailWith(EBADF);
  HANDLE handle = slots[fd - FirstDescriptor].Handle.exchange(nullptr, std::memory_order_acq_rel);
  if (handle == nullptr) return FailWith(EBADF);
  return CloseHandle(handle) ? 0 : FailFromLastError();
}

ssize_t SystemCalls::PRead(int fd, void* buffer, size_t count, off_t offset) {
  HANDLE handle = HandleOf(fd);
  if (handle == nullptr) return FailWith(EBADF);
  if (offset < 0) return FailWith(EINVAL);
  OVERLAPPED at = At(offset);
  DWORD got = 0;
  if (!ReadFile(handle, buffer, static_cast<DWORD>(std::min(count, MaxTransfer)), &got, &at)) {
    // A read from the end of the file on is no error: it reads nothing.
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    return FailFromLastError();
  }
  return static_cast<ssize_t>(got);
}

ssize_t SystemCalls::PWriteV(int fd, const struct iovec* iov, int iovcnt, off_t offset) {
  HANDLE handle = HandleOf(fd);
  if (handle == nullptr) return FailWith(EBADF);
  if (offset < 0 || iovcnt < 0) return FailWith(EINVAL);
  if (iovcnt == 1) return WriteAt(handle, iov[0].iov_base, iov[0].iov_len, offset);
  // There is no gathered write on ordinary handles: small buffers are
  // gathered here and written together, large ones written by themselves.
  // Like pwritev, a write that takes fewer bytes than asked ends the call
  // with what landed.
  constexpr std::size_t Gather = 1 << 20;
  thread_local std::vector<unsigned char> staging;
  ssize_t total = 0;
  int i = 0;
  while (i < iovcnt) {
    const unsigned char* bytes;
    std::size_t count;
    if (iov[i].iov_len >= Gather) {
      bytes = static_cast<const unsigned char*>(iov[i].iov_base);
      count = iov[i].iov_len;
      ++i;
    } else {
      staging.clear();
      while (i < iovcnt && iov[i].iov_len < Gather && staging.size() + iov[i].iov_len <= Gather) {
        const auto* from = static_cast<const unsigned char*>(iov[i].iov_base);
        staging.insert(staging.end(), from, from + iov[i].iov_len);
        ++i;
      }
      bytes = staging.data();
      count = staging.size();
    }
    std::size_t done = 0;
    while (done < count) {
      const ssize_t wrote = WriteAt(handle, bytes + done, count - done, offset + total);
      if (wrote < 0) return total > 0 ? total : -1;
      total += wrote;
      done += static_cast<std::size_t>(wrote);
      if (wrote == 0) return total;
    }
  }
  return total;
}

// No kernel-side copy between handles: the callers copy through memory.
ssize_t SystemCalls::CopyFileRange(int, off_t*, int, off_t*, size_t) { return FailWith(ENOSYS); }

// No block sharing between files (ReFS's block cloning is not offered).
int SystemCalls::CloneRange(int, off_t, int, off_t, off_t) { return FailWith(EOPNOTSUPP); }

int SystemCalls::FTruncate(int fd, off_t length) {
  HANDLE handle = HandleOf(fd);
  if (handle == nullptr) return FailWith(EBADF);
  if (length < 0) return FailWith(EINVAL);
  // The file pointer is used by nothing else: every read and write names
  // its offset.
  LARGE_INTEGER end;
  end.QuadPart = length;
  if (!SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) || !SetEndOfFile(handle)) return FailFromLastError();
  return 0;
}

int SystemCalls::FStat(int fd, FileStatus* st) {
  HANDLE handle = HandleOf(fd);
  if (handle == nullptr) return FailWith(EBADF);
  return FillStatus(handle, st, false, slots[fd - FirstDescriptor].Device.load(std::memory_order_relaxed));
}

int SystemCalls::Stat(const char* path, FileStatus* st) { return StatPath(path, st, false); }

int SystemCalls::LStat(const char* path, FileStatus* st) { return StatPath(path, st, true); }

// An advisory lock like flock's, which other runs of this program honour:
// one byte locked far past any real data, where no read or write of the
// file's contents ever comes, so the lock stops nobody but another lock.
int SystemCalls::Flock(int fd, int operation) {
  HANDLE handle = HandleOf(fd);
  if (handle == nullptr) return FailWith(EBADF);
  OVERLAPPED at = At(static_cast<off_t>(0x7FFFFFFFFFFFFFF0));
  if ((operation & LOCK_UN) != 0) return UnlockFileEx(handle, 0, 1, 0, &at) ? 0 : FailFromLastError();
  DWORD how = (operation & LOCK_EX) != 0 ? LOCKFILE_EXCLUSIVE_LOCK : 0;
  if ((operation & LOCK_NB) != 0) how |= LOCKFILE_FAIL_IMMEDIATELY;
  if (LockFileEx(handle, how, 0, 1, 0, &at)) return 0;
  const DWORD error = GetLastError();
  // A lock that is taken already answers as flock's does.
  if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return FailWith(EWOULDBLOCK);
  return FailWith(ErrnoFromWin32(error));
}

int SystemCalls::Unlink(const char* path) {
  const std::wstring name = FileName(path);
  if (DeleteFileW(name.c_str())) return 0;
  const DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED && IsFolder(name)) return FailWith(EISDIR);
  return FailWith(ErrnoFromWin32(error));
}

int SystemCalls::FSync(int fd) {
  HANDLE handle = HandleOf(fd);
  if (handle == nullptr) return FailWith(EBADF);
  // A folder's entries are put on disk with the rename that changes them
  // (MOVEFILE_WRITE_THROUGH): nothing is left to sync, which callers take
  // EINVAL to mean, as from a file system that cannot sync folders.
  if (slots[fd - FirstDescriptor].Folder.load(std::memory_order_relaxed)) return FailWith(EINVAL);
  return FlushFileBuffers(handle) ? 0 : FailFromLastError();
}

// Windows has no flush of the data alone. Called as this class's own, so that
// a test's calls that count flushes count this one once.
int SystemCalls::FDataSync(int fd) { return SystemCalls::FSync(fd); }

// Space is not reserved ahead: a full disk is found by the write that needs it.
int SystemCalls::Reserve(int, off_t, off_t) { return FailWith(EOPNOTSUPP); }

int SystemCalls::Rename(const char* from, const char* to) {
  const std::wstring source = FileName(from), target = FileName(to);
  if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  const DWORD error = GetLastError();
  if (error == ERROR_ACCESS_DENIED && IsFolder(target)) return FailWith(EISDIR);
  return FailWith(ErrnoFromWin32(error));
}

// What a write lease guarantees on Linux (no other program writes to the
// file while it is held) the share mode gives here for as long as the file
// is open: an open for writing that denies writing to others holds the
// "lease" from the start, and nothing can break it. Any other open has no
// lease to give, which callers take for a file system without leases.
int SystemCalls::SetLease(int fd, int type) {
  if (HandleOf(fd) == nullptr) return FailWith(EBADF);
  if (type == F_UNLCK) return 0;
  const Slot& slot = slots[fd - FirstDescriptor];
  const bool writesAlone = (slot.Access.load(std::memory_order_relaxed) & GENERIC_WRITE) != 0 &&
                           (slot.Share.load(std::memory_order_relaxed) & FILE_SHARE_WRITE) == 0;
  return type == F_WRLCK && writesAlone ? 0 : FailWith(EINVAL);
}

int SystemCalls::GetLease(int fd) {
  if (HandleOf(fd) == nullptr) return FailWith(EBADF);
  const Slot& slot = slots[fd - FirstDescriptor];
  const bool writesAlone = (slot.Access.load(std::memory_order_relaxed) & GENERIC_WRITE) != 0 &&
                           (slot.Share.load(std::memory_order_relaxed) & FILE_SHARE_WRITE) == 0;
  return writesAlone ? F_WRLCK : F_UNLCK;
}

std::int64_t SystemCalls::DeviceSize(int fd) {
  HANDLE handle = HandleOf(fd);
  if (handle == nullptr) return FailWith(EBADF);
  DWORD bytes = 0;
  GET_LENGTH_INFORMATION length = {};
  if (DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &bytes, nullptr) &&
      length.Length.QuadPart >= 0)
    return length.Length.QuadPart;
  const DWORD error = GetLastError();
  // A partition's own length, then a whole disk's, where a driver does not
  // answer the first question.
  PARTITION_INFORMATION_EX partition = {};
  if (DeviceIoControl(handle, IOCTL_DISK_GET_PARTITION_INFO_EX, nullptr, 0, &partition, sizeof partition, &bytes,
                      nullptr) &&
      partition.PartitionLength.QuadPart > 0)
    return partition.PartitionLength.QuadPart;
  DISK_GEOMETRY_EX geometry = {};
  if (DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, &geometry, sizeof geometry, &bytes,
                      nullptr) &&
      geometry.DiskSize.QuadPart > 0)
    return geometry.DiskSize.QuadPart;
  // A drive whose device is a file (an image that Wine puts behind a
  // letter) answers as the file.
  LARGE_INTEGER size = {};
  if (!slots[fd - FirstDescriptor].Device.load(std::memory_order_relaxed) || !GetFileSizeEx(handle, &size) ||
      size.QuadPart <= 0)
    return FailWith(ErrnoFromWin32(error));
  return size.QuadPart;
}

std::int64_t SystemCalls::ReadAlignment(int fd) {
  HANDLE handle = HandleOf(fd);
  if (handle == nullptr) return FailWith(EBADF);
  if (!slots[fd - FirstDescriptor].Device.load(std::memory_order_relaxed)) return 1;
  // A sector is a claim to confirm: a power of two a sector can be, or the
  // next answer.
  const auto sector = [](std::uint64_t bytes) { return bytes >= 512 && bytes <= 65536 && (bytes & (bytes - 1)) == 0; };
  DWORD bytes = 0;
  STORAGE_PROPERTY_QUERY query = {};
  query.PropertyId = StorageAccessAlignmentProperty;
  query.QueryType = PropertyStandardQuery;
  STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR alignment = {};
  if (DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &alignment, sizeof alignment, &bytes,
                      nullptr) &&
      bytes >= offsetof(STORAGE_ACCESS_ALIGNMENT_DESCRIPTOR, BytesPerLogicalSector) + sizeof(DWORD) &&
      sector(alignment.BytesPerLogicalSector))
    return alignment.BytesPerLogicalSector;
  DISK_GEOMETRY geometry = {};
  if (DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &bytes, nullptr) &&
      sector(geometry.BytesPerSector))
    return geometry.BytesPerSector;
  return 512;
}

}  // namespace VEKFile
