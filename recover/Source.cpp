#include "recover/Source.h"

#ifndef _WIN32
#include <fcntl.h>
#endif

#include <algorithm>
#include <cerrno>

#include "file/SystemCalls.h"
#include "lang/Language.h"
#include "lang/SystemReason.h"
#include "recover/RecoverMessages.h"
#include "recover/SourceName.h"

namespace VEKRecover {

Source::Source(std::string path) : Path_(std::move(path)) {
  using VEKFile::File;
  const std::string name = SourceOpenName(Path_);
  const int fd = VEKFile::Sys().Open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0);
  if (fd < 0) throw File::OpenFailure(Path_, errno);
  VEKFile::FileStatus st;
  int error = VEKFile::Sys().FStat(fd, &st) == 0 ? 0 : errno;
  std::int64_t size = -1, alignment = 1;
  bool device = false;
  if (error == 0 && S_ISREG(st.st_mode)) {
    size = st.st_size;
  } else if (error == 0) {
#ifdef S_ISBLK
    device = S_ISBLK(st.st_mode);
#endif
    if (device) {
      errno = 0;
      size = VEKFile::Sys().DeviceSize(fd);
      if (size < 0) error = errno != 0 ? errno : EIO;
      if (size >= 0) alignment = VEKFile::Sys().ReadAlignment(fd);
    }
  }
  if (error != 0 || size < 0) {
    VEKFile::Sys().Close(fd);
    if (error != 0) throw File::OpenFailure(Path_, error);
    const std::string reason = VEK::Text(Msg::NotImageOrDevice);
    throw File::Exception(VEK::Text(Msg::OpenSourceBecause, {Path_, reason}), 0, Path_, reason);
  }
  Handle = fd;
  Size_ = size;
  Alignment = std::max<std::int64_t>(alignment, 1);
}

Source::~Source() {
  if (Handle >= 0) VEKFile::Sys().Close(Handle);
}

std::int64_t Source::DataFrom(std::int64_t offset) const {
  if (offset >= Size_) return Size_;
  const std::int64_t data = NextData(Handle, offset);
  return data < 0 ? Size_ : std::clamp(data, offset, Size_);
}

std::int64_t Source::ReadAt(void* buffer, std::int64_t n, std::int64_t offset) const {
  if (n <= 0 || offset < 0 || offset >= Size_) return 0;
  if (n > Size_ - offset) n = Size_ - offset;
  const std::int64_t got = VEKFile::ReadAligned(Handle, buffer, n, offset, Alignment);
  if (got == n) return got;
  // Short of the size the source had when opened: a card pulled out, a
  // device error. Never taken for the end of the data.
  const int error = got < 0 && errno != 0 ? errno : EIO;
  const std::string reason = VEK::SystemReason(error);
  throw VEKFile::File::Exception(VEK::Text(Msg::ReadSourceBecause, {Path_, offset, reason}), error, Path_, reason);
}

}  // namespace VEKRecover
