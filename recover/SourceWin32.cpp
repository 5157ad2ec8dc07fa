#include <cerrno>

#include "recover/Source.h"

namespace VEKRecover {

// Windows names no block device through this open; a drive is read from an
// image of it.
std::int64_t DeviceSize(int) {
  errno = ENOTSUP;
  return -1;
}

// Every byte of an image is read: the holes of a sparse one are not asked for.
std::int64_t NextData(int, std::int64_t offset) { return offset; }

}  // namespace VEKRecover
