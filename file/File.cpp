#include "file/File.h"

#include <limits.h>
#ifndef _WIN32
#include <fcntl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "file/NamesOnDisk.h"
#include "file/SystemCalls.h"
#include "lang/Language.h"
#include "lang/SystemReason.h"

namespace VEKFile {

namespace {

const VEK::MessagePair MsgCreate = {{"Could not create file \"%s\".", "Impossible de créer le fichier \"%s\"."}};
const VEK::MessagePair MsgOpen = {{"Could not open file \"%s\".", "Impossible d'ouvrir le fichier \"%s\"."}};
// The same with the reason, in the form of the engine's write failures.
const VEK::MessagePair MsgCreateBecause = {
    {"Could not create file \"%s\" (%s).", "Impossible de créer le fichier \"%s\" (%s)."}};
const VEK::MessagePair MsgOpenBecause = {
    {"Could not open file \"%s\" (%s).", "Impossible d'ouvrir le fichier \"%s\" (%s)."}};
// A pipe or a device has a name like a file's but is none; no errno says so.
const VEK::MessagePair MsgNotRegular = {{"not a regular file", "pas un fichier ordinaire"}};
// A symbolic link whose target is gone: the system says only "no such file".
const VEK::MessagePair MsgDanglingLink = {
    {"a link to a file that does not exist", "un lien vers un fichier qui n'existe pas"}};
const VEK::MessagePair MsgWrite = {{"File write error.", "Erreur d'écriture de fichier."}};
const VEK::MessagePair MsgSeek = {
    {"Seek error: Offset %d, Origin %d", "Erreur de déplacement de pointeur de fichier: Offset %d, Origine %d"}};
const VEK::MessagePair MsgTruncate = {{"Could not truncate file.", "Impossible de tronquer le fichier."}};
const VEK::MessagePair MsgEof = {{"Unexpected end of file.", "Fin de fichier inatendu."}};
const VEK::MessagePair MsgReadBecause = {
    {"Could not read file \"%s\" (%s).", "Impossible de lire le fichier \"%s\" (%s)."}};
// A read that got fewer bytes than the file had when it was opened, without
// an error from the system: the file was cut short meanwhile.
const VEK::MessagePair MsgShorter = {
    {"it is shorter than when it was opened", "il est plus court qu'à son ouverture"}};
const VEK::MessagePair MsgSize = {{"Could not retrieve file size.", "Impossible d'obtenir la grandeur du fichier."}};

[[noreturn]] void Fail(const VEK::MessagePair& pair, std::initializer_list<VEK::FormatArg> args = {}) {
  throw File::Exception(VEK::Text(pair, args));
}

// Sharing has no mandatory counterpart here. It is approximated with
// advisory locks, which other copies of this program honour: a mode that
// denies writing to others takes a shared lock when it only reads and an
// exclusive one when it writes, so two runs never write one file at once and
// a check never reads a file another run is rewriting in place. "Deny none"
// and "deny read" take no lock. A file system without locks is not an error.
int LockFor(int mode) {
  const int sharing = mode & 0xF0;
  if (sharing == ShareDenyNone || sharing == ShareDenyRead) return 0;
  return (mode & 0x03) == ModeRead ? LOCK_SH : LOCK_EX;
}

// Where the system enforces sharing (Windows), the open itself denies others
// what the mode denies them; elsewhere these flags are 0.
int DenyFlags(int mode) {
  switch (mode & 0xF0) {
    case ShareExclusive: return OpenDenyRead | OpenDenyWrite;
    case ShareDenyWrite: return OpenDenyWrite;
    case ShareDenyRead: return OpenDenyRead;
    default: return 0;
  }
}

}  // namespace

File::File(std::string fileName) : FileName_(std::move(fileName)) {}

File::~File() {
  // The final flush may run while an earlier failure of this very file (a
  // full disk, say) is being handled; a second failure here must not end the
  // program, and the first one is the one the user is told about.
  try {
    Flush();
  } catch (const Exception&) {
  }
  DropReadAhead();
  ReleaseLease();
  if (Handle >= 0) Sys().Close(Handle);
  Handle = -1;
}

void File::Open(int mode, bool createIfMissing) {
  if (createIfMissing && !VEK::FileExists(FileName_)) {
    const int fd = Sys().Open(FileName_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) throw CreateFailure(FileName_, errno);
    Sys().Close(fd);
  }
  // Non-blocking only so that a FIFO cannot hang the open.
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK | DenyFlags(mode);
  switch (mode & 0x03) {
    case ModeWrite: flags |= O_WRONLY; break;
    case ModeReadWrite: flags |= O_RDWR; break;
    default: flags |= O_RDONLY; break;
  }
  const int fd = Sys().Open(FileName_.c_str(), flags, 0);
  if (fd < 0) throw OpenFailure(FileName_, errno);
  FileStatus st;
  // Only regular files: a directory, a device or a pipe is not a video file.
  int error = Sys().FStat(fd, &st) == 0 ? 0 : errno;
  bool special = false;
  if (error == 0 && S_ISDIR(st.st_mode)) error = EISDIR;
  else if (error == 0 && !S_ISREG(st.st_mode)) special = true;
  if (error == 0 && !special) {
    // Another run of this program holds the file (see LockFor).
    const int lock = LockFor(mode);
    if (lock != 0 && Sys().Flock(fd, lock | LOCK_NB) != 0 && errno == EWOULDBLOCK) error = EWOULDBLOCK;
  }
  if (error != 0 || special) {
    Sys().Close(fd);
    if (special) {
      const std::string reason = VEK::Text(MsgNotRegular);
      throw Exception(VEK::Text(MsgOpenBecause, {FileName_, reason}), 0, FileName_, reason);
    }
    throw OpenFailure(FileName_, error);
  }
  Handle = fd;
}

void File::Write(const void* bytes, std::int64_t n) {
  if (n <= 0) return;
  if (PendingBytes + n > QueueLimit) Flush();
  if (n > QueueLimit) {
    WriteAt(bytes, n, CurrentPosition);
    CurrentPosition += n;
    return;
  }
  WriteOperation op;
  op.Data = VEK::ArrayRefCount<unsigned char>(new unsigned char[static_cast<std::size_t>(n)]);
  std::memcpy(op.Data.get(), bytes, static_cast<std::size_t>(n));
  op.Length = n;
  op.Offset = CurrentPosition;
  PendingWrites.push_back(std::move(op));
  PendingBytes += n;
  CurrentPosition += n;
}

void File::WriteAt(const void* bytes, std::int64_t n, std::int64_t offset) {
  DropReadAhead();
  std::vector<struct iovec> iov{{const_cast<void*>(bytes), static_cast<std::size_t>(n)}};
  WriteGather(Handle, iov, offset, &Landed);
}

// Writes the buffers back to back from offset. A regular file may take fewer
// bytes than asked (a signal, the last free blocks): the rest is retried, and
// only a call that writes nothing or fails is a write error.
void File::WriteGather(int handle, std::vector<struct iovec>& iov, std::int64_t offset, std::int64_t* landed) {
  std::size_t first = 0;
  while (first < iov.size()) {
    const int count = static_cast<int>(std::min<std::size_t>(iov.size() - first, IOV_MAX));
    const ssize_t written = Sys().PWriteV(handle, &iov[first], count, static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    // A regular file that takes nothing without an error has no room left.
    if (written <= 0) throw File::Exception(VEK::Text(MsgWrite), written == 0 ? ENOSPC : errno);
    offset += written;
    if (landed != nullptr) *landed += written;
    std::size_t left = static_cast<std::size_t>(written);
    while (first < iov.size() && left >= iov[first].iov_len) left -= iov[first++].iov_len;
    if (left > 0) {
      iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
      iov[first].iov_len -= left;
    }
  }
}

void File::Flush() {
  if (PendingWrites.empty()) return;
  PendingBytes = 0;
  DropReadAhead();
  // Operations are applied strictly in queue order, so a later write over an
  // earlier one wins. Runs of contiguous operations go down in one gathered
  // call; that changes the number of system calls, not the bytes or their order.
  std::vector<struct iovec> iov;
  std::size_t i = 0;
  while (i < PendingWrites.size()) {
    const std::int64_t start = PendingWrites[i].Offset;
    std::int64_t end = start;
    iov.clear();
    while (i < PendingWrites.size() && PendingWrites[i].Offset == end) {
      iov.push_back({PendingWrites[i].Data.get(), static_cast<std::size_t>(PendingWrites[i].Length)});
      end += PendingWrites[i].Length;
      ++i;
    }
    if (start < 0) Fail(MsgSeek, {start, 0});
    WriteGather(Handle, iov, start, &Landed);
  }
  PendingWrites.clear();
}

std::int64_t File::ReadAt(void* buffer, std::int64_t n, std::int64_t offset) {
  const std::int64_t got = ReadFully(Handle, buffer, n, offset);
  ReadErrno.store(got >= 0 ? 0 : errno != 0 ? errno : EIO, std::memory_order_relaxed);
  return got;
}

bool File::FillAhead(std::int64_t offset) {
  const std::int64_t start = AheadStart, end = AheadStart + AheadLength;
  // A read that leaves the window by less than a window's length is a walk
  // going through the file, not a jump to another place in it.
  const bool onward = AheadLength > 0 && offset >= start && offset - end < Window;
  if (Prefetch && Prefetch->Busy()) {
    const std::int64_t got = Prefetch->Wait(SharePrefetch);  // the block [end, end + got)
    if (got > 0 && offset >= start && offset < end + got) {
      // A read straddling the two takes the window's last bytes along;
      // fewer than one small read, so they fit in the window's length left
      // free before the block.
      const std::int64_t carry = std::max<std::int64_t>(0, end - offset);
      unsigned char* block = Spare.get() + Window;
      std::memcpy(block - carry, AheadBytes + (end - carry - start), static_cast<std::size_t>(carry));
      std::swap(Ahead, Spare);
      AheadBytes = block - carry;
      AheadStart = end - carry;
      AheadLength = carry + got;
      // A walk that jumps through the block (frames of hundreds of KiB)
      // needs a few bytes of it, not the next one read whole.
      if (got == Block && onward) StartPrefetch();
      return true;
    }
  }
  const bool prefetch = onward && Block > 0 && Sys().ThreadSafe();
  if (!Ahead) Ahead.reset(new unsigned char[static_cast<std::size_t>(BufferSize())]);
  unsigned char* into = Ahead.get() + Window;
  const std::int64_t filled = ReadAt(into, Window, offset);
  AheadBytes = into;
  AheadStart = offset;
  AheadLength = filled > 0 ? filled : 0;
  if (filled < 0) return false;
  if (prefetch && filled == Window) StartPrefetch();
  return true;
}

void File::StartPrefetch() {
  if (!Spare) Spare.reset(new unsigned char[static_cast<std::size_t>(BufferSize())]);
  if (!Prefetch) Prefetch = std::make_unique<BackgroundRead>();
  try {
    Prefetch->Start(Handle, AheadStart + AheadLength, Spare.get() + Window, Block);
  } catch (const std::system_error&) {
    // No thread to spare: the walk reads its windows itself, as it would
    // without this.
  }
}

void File::DropReadAhead() {
  // A block still being read may hold bytes older than what this object
  // writes next; it is waited for so that its buffer is free again.
  if (Prefetch) Prefetch->Wait();
  AheadLength = 0;
}

std::int64_t File::ReadSome(void* buffer, std::int64_t n) {
  Flush();
  if (Handle < 0) return -1;
  if (n <= 0) return 0;
  std::int64_t got;
  if (n >= Window) {
    got = ReadAt(buffer, n, CurrentPosition);
  } else {
    if (CurrentPosition < AheadStart || CurrentPosition + n > AheadStart + AheadLength) {
      if (!FillAhead(CurrentPosition)) return -1;
    }
    got = std::max<std::int64_t>(0, std::min(n, AheadStart + AheadLength - CurrentPosition));
    std::memcpy(buffer, AheadBytes + (CurrentPosition - AheadStart), static_cast<std::size_t>(got));
  }
  if (got > 0) CurrentPosition += got;
  return got;
}

void File::Read(void* buffer, std::int64_t n) {
  const std::int64_t got = ReadSome(buffer, n);
  if (got < 0) throw ReadFailure();
  if (got != n) Fail(MsgEof);
}

std::int64_t File::Seek(std::int64_t offset, int origin) {
  // Positions are kept here and handed to every read and write, so a seek is
  // arithmetic; it fails where the platform's would: before the start of the
  // file, on an unknown origin, or when the size cannot be had.
  std::int64_t base = 0;
  bool ok = true;
  if (origin == 1) {
    base = CurrentPosition;
  } else if (origin == 2) {
    FileStatus st;
    ok = Handle >= 0 && Sys().FStat(Handle, &st) == 0;
    base = ok ? st.st_size : 0;
  } else if (origin != 0) {
    ok = false;
  }
  if (ok && offset > 0 && base > INT64_MAX - offset) ok = false;
  if (!ok || base + offset < 0) Fail(MsgSeek, {offset, origin});
  CurrentPosition = base + offset;
  return CurrentPosition;
}

std::int64_t File::Size() const {
  FileStatus st;
  if (Sys().Stat(FileName_.c_str(), &st) == 0) return st.st_size;
  const int error = errno != 0 ? errno : EIO;
#ifndef _WIN32
  struct stat link;
  if (error == ENOENT && ::lstat(FileName_.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    const std::string reason = VEK::Text(MsgDanglingLink);
    throw Exception(VEK::Text(MsgOpenBecause, {FileName_, reason}), error, FileName_, reason);
  }
#endif
  throw OpenFailure(FileName_, error);
}

void File::Truncate() {
  Flush();
  DropReadAhead();
  // Without a handle there is nothing to retry: errno then is whatever an
  // earlier call left, and an EINTR there must not loop here forever.
  if (Handle < 0) Fail(MsgTruncate);
  int rc;
  do {
    rc = Sys().FTruncate(Handle, static_cast<off_t>(CurrentPosition));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) throw Exception(VEK::Text(MsgTruncate), errno);
}

std::int64_t File::CopyFrom(File& source, std::int64_t sourceOffset, std::int64_t length) {
  Flush();
  DropReadAhead();
  const std::int64_t copied = CopyRange(source, sourceOffset, *this, CurrentPosition, length);
  CurrentPosition += copied;
  return copied;
}

std::int64_t File::CloneBlock() const {
  std::int64_t block = CloneState.load(std::memory_order_relaxed);
  if (block != 0) return block > 0 ? block : 0;
  // The file system's preferred block for writing: on XFS and btrfs the
  // block in which extents are shared, or a multiple of it, either of which
  // keeps every shared range aligned as the kernel requires.
  FileStatus st;
  block = Handle >= 0 && Sys().FStat(Handle, &st) == 0 ? st.st_blksize : 0;
  if (block < 512 || (block & (block - 1)) != 0) block = -1;
  CloneState.store(block, std::memory_order_relaxed);
  return block > 0 ? block : 0;
}

// On file systems that share blocks between files, a copy made by sharing
// costs no data and no space. The kernel shares only whole blocks at
// block-aligned offsets in both files, so the whole blocks in the middle of
// the range are shared and the partial blocks at either end copied. A mirror
// copies in batches that start where the previous one ended, at the same
// offsets in both files: each batch boundary costs one copied block.
//
// The bytes are those a copy would have written: a shared block reads as the
// source's block did when it was shared, exactly what a copy would have read
// then, and writing to either file later gives the writer its own block. Any
// refusal (a file system without sharing, another file system, an unaligned
// range, a source shorter than the range, no space, an I/O error) leaves the
// range to the copy below, which rewrites every byte of it, including any
// blocks the refused call may have shared before failing; the copy also finds
// a short source and a failed write as it always did. After one refusal the
// destination is not asked again, so on ext4 or tmpfs a file pays one fstat
// and one failed ioctl. Short ranges are not worth a call: they are copied.
std::int64_t File::CopyRange(const File& source, std::int64_t sourceOffset, const File& destination,
                             std::int64_t destinationOffset, std::int64_t length, bool kernelCopy) {
  constexpr std::int64_t MinimumShare = 64 * 1024;
  std::int64_t copied = 0;
  if (length >= MinimumShare && sourceOffset >= 0 && destinationOffset >= 0) {
    const std::int64_t block = destination.CloneBlock();
    if (block > 0 && sourceOffset % block == destinationOffset % block) {
      const std::int64_t head = (block - destinationOffset % block) % block;
      const std::int64_t middle = (length - head) / block * block;
      if (middle >= MinimumShare) {
        copied = CopyBytes(source, sourceOffset, destination, destinationOffset, head, kernelCopy);
        if (copied < head) return copied;
        if (Sys().CloneRange(source.Handle, static_cast<off_t>(sourceOffset + head), destination.Handle,
                             static_cast<off_t>(destinationOffset + head), static_cast<off_t>(middle)) == 0) {
          copied += middle;
        } else {
          destination.CloneState.store(-1, std::memory_order_relaxed);
        }
      }
    }
  }
  return copied + CopyBytes(source, sourceOffset + copied, destination, destinationOffset + copied,
                            length - copied, kernelCopy);
}

std::int64_t File::CopyBytes(const File& source, std::int64_t sourceOffset, const File& destination,
                             std::int64_t destinationOffset, std::int64_t length, bool kernelCopy) {
  std::int64_t copied = 0;
  while (copied < length && kernelCopy) {
    off_t in = static_cast<off_t>(sourceOffset + copied);
    off_t out = static_cast<off_t>(destinationOffset + copied);
    const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(length - copied, 1 << 30));
    const ssize_t got = Sys().CopyFileRange(source.Handle, &in, destination.Handle, &out, want);
    if (got < 0 && errno == EINTR) continue;
    if (got == 0) return copied;  // the source ends here
    // Any refusal (another file system, no support, a read or write error)
    // falls back to copying through memory, which tells a failed write from a
    // failed read.
    if (got < 0) kernelCopy = false;
    else copied += got;
  }
  if (copied < length) {
    constexpr std::int64_t Block = 1 << 20;
    VEK::ArrayAutoPtr<unsigned char> buffer(new unsigned char[Block]);
    while (copied < length) {
      const std::int64_t want = std::min(length - copied, Block);
      // A read that fails copies what came before it; the caller finds the
      // short count.
      const std::int64_t read = ReadFully(source.Handle, buffer.get(), want, sourceOffset + copied);
      if (read < 0) source.ReadErrno.store(errno != 0 ? errno : EIO, std::memory_order_relaxed);
      const std::int64_t got = std::max<std::int64_t>(0, read);
      if (got > 0) {
        std::vector<struct iovec> iov{{buffer.get(), static_cast<std::size_t>(got)}};
        WriteGather(destination.Handle, iov, destinationOffset + copied);
      }
      copied += got;
      if (got < want) break;
    }
  }
  return copied;
}

File::Exception File::ReadFailure() const {
  const int error = ReadErrno.load(std::memory_order_relaxed);
  const std::string reason = error != 0 ? VEK::SystemReason(error) : VEK::Text(MsgShorter);
  return Exception(VEK::Text(MsgReadBecause, {FileName_, reason}), error, FileName_, reason);
}

namespace {

File::Exception NamedFailure(const VEK::MessagePair& plain, const VEK::MessagePair& because,
                             const std::string& fileName, int systemError) {
  const std::string reason = systemError != 0 ? VEK::SystemReason(systemError) : std::string();
  const std::string message = systemError != 0 ? VEK::Text(because, {fileName, reason}) : VEK::Text(plain, {fileName});
  return File::Exception(message, systemError, fileName, reason);
}

}  // namespace

File::Exception File::OpenFailure(const std::string& fileName, int systemError) {
  return NamedFailure(MsgOpen, MsgOpenBecause, fileName, systemError);
}

File::Exception File::CreateFailure(const std::string& fileName, int systemError) {
  return NamedFailure(MsgCreate, MsgCreateBecause, fileName, systemError);
}

void File::CreateNew() {
  const int fd = Sys().Open(FileName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) throw CreateFailure(FileName_, errno);
  Sys().Flock(fd, LOCK_EX | LOCK_NB);
  Handle = fd;
}

void File::Sync() {
  Flush();
  if (Handle < 0 || Sys().FSync(Handle) != 0) throw Exception(VEK::Text(MsgWrite), Handle < 0 ? EBADF : errno);
}

void File::SyncData() {
  Flush();
  if (Handle < 0 || Sys().FDataSync(Handle) != 0) throw Exception(VEK::Text(MsgWrite), Handle < 0 ? EBADF : errno);
}

std::int64_t File::PeekAt(void* buffer, std::int64_t n, std::int64_t offset) {
  Flush();
  if (Handle < 0) return -1;
  if (n <= 0) return 0;
  // Served from the read-ahead when it holds the bytes; a peek elsewhere does
  // not replace the window that the walk is reading from.
  if (const unsigned char* held = ViewAt(n, offset)) {
    std::memcpy(buffer, held, static_cast<std::size_t>(n));
    return n;
  }
  return ReadAt(buffer, n, offset);
}

void File::StartWriteback(std::int64_t offset, std::int64_t length) const {
  // Only a hint: where it fails, the final Sync still does all the work.
#ifdef _WIN32
  // Windows has no such hint; the lazy writer starts on its own.
  (void)offset;
  (void)length;
#else
  if (Handle >= 0 && length > 0)
    ::sync_file_range(Handle, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
#endif
}

File::Stamp File::CurrentStamp() const {
  FileStatus st;
  if (Handle < 0 || Sys().FStat(Handle, &st) != 0) Fail(MsgSize);
  return {static_cast<std::int64_t>(st.st_size), static_cast<std::int64_t>(st.st_mtim.tv_sec),
          static_cast<std::int64_t>(st.st_mtim.tv_nsec)};
}

int File::Reserve(std::int64_t offset, std::int64_t length) {
  if (Handle < 0) return EBADF;
  if (length <= 0) return 0;
  if (Sys().Reserve(Handle, static_cast<off_t>(offset), static_cast<off_t>(length)) == 0) return 0;
  const int error = errno;
  return error == EOPNOTSUPP || error == ENOSYS ? 0 : error;
}

int File::TakeLease() {
  if (Handle < 0) return EBADF;
  if (Sys().SetLease(Handle, F_WRLCK) == 0) {
    Leased = true;
    return 0;
  }
  const int error = errno;
  // A file system without leases (NFS, FUSE, ...) and leases switched off
  // (/proc/sys/fs/leases-enable) both answer EINVAL.
  return error == EINVAL || error == ENOSYS ? EOPNOTSUPP : error;
}

bool File::LeaseHeld() const { return Leased && Handle >= 0 && Sys().GetLease(Handle) == F_WRLCK; }

void File::ReleaseLease() {
  if (Leased && Handle >= 0) Sys().SetLease(Handle, F_UNLCK);
  Leased = false;
}

}  // namespace VEKFile
