#include "support/FaultySystemCalls.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>

#include <algorithm>
#include <vector>

namespace ZantrelTest {

int FaultySystemCalls::Open(const char* path, int flags, mode_t mode) {
  ++calls;
  if (openFilter) {
    if (const int error = openFilter(path, flags)) {
      errno = error;
      return -1;
    }
  }
  const std::size_t n = std::strlen(path);
  if (!failOpenSuffix.empty() && n >= failOpenSuffix.size() &&
      failOpenSuffix.compare(0, std::string::npos, path + n - failOpenSuffix.size()) == 0) {
    errno = openErrno;
    return -1;
  }
  const int fd = SystemCalls::Open(path, flags, mode);
  if (keepJournal && fd >= 0) {
    std::lock_guard<std::mutex> lock(journalLock);
    paths[fd] = path;
  }
  if (fd >= 0 && !failReadSuffix.empty() && n >= failReadSuffix.size() &&
      failReadSuffix.compare(0, std::string::npos, path + n - failReadSuffix.size()) == 0)
    failingReads.insert(fd);
  return fd;
}

void FaultySystemCalls::Record(Step step, int fd) {
  if (!keepJournal) return;
  std::lock_guard<std::mutex> lock(journalLock);
  const auto path = paths.find(fd);
  if (path != paths.end()) step.Path = path->second;
  journal.push_back(std::move(step));
}

int FaultySystemCalls::Close(int fd) {
  ++calls;
  ++closeCalls;
  if (keepJournal) {
    std::lock_guard<std::mutex> lock(journalLock);
    paths.erase(fd);
  }
  failingReads.erase(fd);
  const int result = SystemCalls::Close(fd);
  if (failClose && result == 0) {
    errno = EIO;
    return -1;
  }
  return result;
}

ssize_t FaultySystemCalls::PRead(int fd, void* buffer, size_t count, off_t offset) {
  ++calls;
  ++preadCalls;
  if (beforePRead && preadCalls == hookPReadAt) beforePRead();
  if (failPRead || (failPReadAt > 0 && preadCalls >= failPReadAt)) {
    errno = EIO;
    return -1;
  }
  if (failingReads.count(fd) != 0 && ++fileReads >= fileReadFailAt) {
    errno = fileReadErrno;
    return -1;
  }
  const ssize_t got = SystemCalls::PRead(fd, buffer, count, offset);
  if (got > 0) preadBytes += got;
  return got;
}

ssize_t FaultySystemCalls::PWriteV(int fd, const struct iovec* iov, int iovcnt, off_t offset) {
  ++calls;
  ++pwritevCalls;
  if (interruptPWriteV > 0) {
    --interruptPWriteV;
    errno = EINTR;
    return -1;
  }
  if (failPWriteV > 0) {
    --failPWriteV;
    errno = ENOSPC;
    return -1;
  }
  if (zeroPWriteV > 0) {
    --zeroPWriteV;
    return 0;
  }
  if (failPWriteVAt > 0 && pwritevCalls >= failPWriteVAt) {
    if (pwritevErrno == 0) return 0;
    errno = pwritevErrno;
    return -1;
  }
  if (cutAfterBytes >= 0) {
    std::int64_t left = cutAfterBytes - bytesWritten;
    if (left <= 0) {
      errno = EIO;
      return -1;
    }
    std::vector<struct iovec> cut;
    for (int i = 0; i < iovcnt && left > 0; ++i) {
      struct iovec part = iov[i];
      part.iov_len = static_cast<std::size_t>(std::min<std::int64_t>(left, static_cast<std::int64_t>(part.iov_len)));
      left -= static_cast<std::int64_t>(part.iov_len);
      cut.push_back(part);
    }
    const ssize_t written = SystemCalls::PWriteV(fd, cut.data(), static_cast<int>(cut.size()), offset);
    if (written > 0) bytesWritten += written;
    RecordWrite(fd, cut.data(), static_cast<int>(cut.size()), offset, written);
    return written;
  }
  if (shortPWriteV > 0) {
    struct iovec one = iov[0];
    one.iov_len = std::min(one.iov_len, shortPWriteV);
    const ssize_t written = SystemCalls::PWriteV(fd, &one, 1, offset);
    RecordWrite(fd, &one, 1, offset, written);
    return written;
  }
  const ssize_t written = SystemCalls::PWriteV(fd, iov, iovcnt, offset);
  if (written > 0) bytesWritten += written;
  RecordWrite(fd, iov, iovcnt, offset, written);
  return written;
}

void FaultySystemCalls::RecordWrite(int fd, const struct iovec* iov, int iovcnt, off_t offset, ssize_t written) {
  if (!keepJournal || written <= 0) return;
  Step step;
  step.Offset = offset;
  for (int i = 0; i < iovcnt && static_cast<ssize_t>(step.Bytes.size()) < written; ++i) {
    const auto* from = static_cast<const unsigned char*>(iov[i].iov_base);
    const std::size_t take = std::min(iov[i].iov_len, static_cast<std::size_t>(written) - step.Bytes.size());
    step.Bytes.insert(step.Bytes.end(), from, from + take);
  }
  Record(std::move(step), fd);
}

ssize_t FaultySystemCalls::CopyFileRange(int fdIn, off_t* offIn, int fdOut, off_t* offOut, size_t count) {
  ++calls;
  ++copyCalls;
  if (failCopyFileRange) {
    errno = copyErrno;
    return -1;
  }
  return SystemCalls::CopyFileRange(fdIn, offIn, fdOut, offOut, count);
}

int FaultySystemCalls::CloneRange(int fdIn, off_t offIn, int fdOut, off_t offOut, off_t length) {
  ++calls;
  ++cloneCalls;
  if (failClone) {
    if (cloneHalfFirst) SystemCalls::CloneRange(fdIn, offIn, fdOut, offOut, length / 2 / 4096 * 4096);
    errno = cloneErrno;
    return -1;
  }
  return SystemCalls::CloneRange(fdIn, offIn, fdOut, offOut, length);
}

int FaultySystemCalls::FTruncate(int fd, off_t length) {
  ++calls;
  if (failFTruncate || (cutAfterBytes >= 0 && bytesWritten >= cutAfterBytes)) {
    errno = EIO;
    return -1;
  }
  const int result = SystemCalls::FTruncate(fd, length);
  if (result == 0) {
    Step step;
    step.What = Step::Truncate;
    step.Offset = length;
    Record(std::move(step), fd);
  }
  return result;
}

int FaultySystemCalls::FStat(int fd, VEKFile::FileStatus* st) {
  ++calls;
  if (failFStatAfter >= 0 && ++fstatCalls > failFStatAfter) {
    errno = EIO;
    return -1;
  }
  return SystemCalls::FStat(fd, st);
}

int FaultySystemCalls::Stat(const char* path, VEKFile::FileStatus* st) {
  ++calls;
  return SystemCalls::Stat(path, st);
}

int FaultySystemCalls::Flock(int fd, int operation) {
  ++calls;
  return SystemCalls::Flock(fd, operation);
}

int FaultySystemCalls::Unlink(const char* path) {
  ++calls;
  return SystemCalls::Unlink(path);
}

int FaultySystemCalls::FSync(int fd) { return Flush(fd, false); }

int FaultySystemCalls::FDataSync(int fd) { return Flush(fd, true); }

int FaultySystemCalls::Flush(int fd, bool dataOnly) {
  ++calls;
  ++fsyncCalls;
  if (dataOnly) ++fdatasyncCalls;
  if (beforeFSync) beforeFSync();
  if (fsyncErrno != 0) {
    errno = fsyncErrno;
    return -1;
  }
  const int result = dataOnly ? SystemCalls::FDataSync(fd) : SystemCalls::FSync(fd);
  if (result == 0) {
    Step step;
    step.What = Step::Flush;
    Record(std::move(step), fd);
  }
  return result;
}

int FaultySystemCalls::Reserve(int fd, off_t offset, off_t length) {
  ++calls;
  ++reserveCalls;
  if (beforeReserve) beforeReserve();
  if (reserveErrno != 0) {
    errno = reserveErrno;
    return -1;
  }
  return SystemCalls::Reserve(fd, offset, length);
}

int FaultySystemCalls::Rename(const char* from, const char* to) {
  ++calls;
  ++renameCalls;
  if (renameErrno != 0) {
    errno = renameErrno;
    return -1;
  }
  return SystemCalls::Rename(from, to);
}

int FaultySystemCalls::SetLease(int fd, int type) {
  ++calls;
  if (type == F_UNLCK) {
    ++releaseCalls;
  } else {
    ++leaseCalls;
    if (leaseErrno != 0) {
      errno = leaseErrno;
      return -1;
    }
  }
  return SystemCalls::SetLease(fd, type);
}

int FaultySystemCalls::GetLease(int fd) {
  ++calls;
  const int lease = SystemCalls::GetLease(fd);
  return breakLease && lease == F_WRLCK ? F_UNLCK : lease;
}

}  // namespace ZantrelTest
