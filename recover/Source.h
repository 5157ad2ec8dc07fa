// The source of a recovery: a card or disk image, or the block device of a
// card (/dev/sdb; on Windows a drive, \\.\E: or E: alone), read only.
// Opened without write access, sharing reading and writing with the system
// that has the card mounted, and never written; read through the file
// layer's system calls, so that tests can make a read fail as they do for
// films. Unlike a film, a source may be a device, whose size
// the system tells only once it is open, and whose reads may have to be
// whole sectors (a Windows drive): any read asked of the source is cut from
// aligned ones there.
#pragma once

#include <cstdint>
#include <string>

#include "file/File.h"

namespace VEKRecover {

class Source {
 public:
  // Opens the path read-only; throws VEKFile::File::Exception, with the
  // name and the system's reason, when it cannot be opened or sized, or is
  // neither a regular file nor a block device.
  explicit Source(std::string path);
  ~Source();
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;

  std::int64_t Size() const { return Size_; }
  const std::string& Path() const { return Path_; }
  // Up to n bytes at offset, fewer only where the source ends; throws the
  // read's failure, named and with its reason, when the system refuses.
  std::int64_t ReadAt(void* buffer, std::int64_t n, std::int64_t offset) const;
  // Exactly n bytes at offset, or false when the source ends first.
  bool ReadExactly(void* buffer, std::int64_t n, std::int64_t offset) const {
    return ReadAt(buffer, n, offset) == n;
  }
  // Where, from offset on, the source may hold anything but zeros: past the
  // holes of a sparse image (ddrescue's, say), which the system knows
  // without reading them; Size() where only holes are left; offset itself
  // where the system cannot tell.
  std::int64_t DataFrom(std::int64_t offset) const;

 private:
  std::string Path_;
  int Handle = -1;
  std::int64_t Size_ = 0;
  std::int64_t Alignment = 1;
};

// The first offset from offset on that is not in a hole of the file, -1
// where none is, offset where the system cannot tell.
std::int64_t NextData(int handle, std::int64_t offset);

}  // namespace VEKRecover
