#include <cerrno>

#include "recover/Source.h"

namespace VEKRecover {

// Windows names no block device through this open; a drive is read from an
// image of it.
std::int64_t DeviceSize(int) {
  errno = ENOTSUP;
  return -1;
}

}  // namespace VEKRecover
