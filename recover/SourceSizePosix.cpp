#include <unistd.h>

#include "recover/Source.h"

namespace VEKRecover {

// A block device's end is where a seek to its end lands (Linux and the BSDs
// alike); the position of the descriptor is not used for reading.
std::int64_t DeviceSize(int handle) { return static_cast<std::int64_t>(::lseek(handle, 0, SEEK_END)); }

}  // namespace VEKRecover
