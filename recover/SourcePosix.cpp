#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "recover/Source.h"

namespace VEKRecover {

// A block device's end is where a seek to its end lands (Linux and the BSDs
// alike); the position of the descriptor is not used for reading.
std::int64_t DeviceSize(int handle) { return static_cast<std::int64_t>(::lseek(handle, 0, SEEK_END)); }

std::int64_t NextData(int handle, std::int64_t offset) {
#ifdef SEEK_DATA
  const off_t data = ::lseek(handle, static_cast<off_t>(offset), SEEK_DATA);
  if (data >= 0) return static_cast<std::int64_t>(data);
  if (errno == ENXIO) return -1;  // holes up to the end
#endif
  return offset;  // a file system or device that does not say
}

}  // namespace VEKRecover
