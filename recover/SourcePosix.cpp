#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "recover/Source.h"
#include "recover/SourceName.h"

namespace VEKRecover {

// "E:" is a file's name here like any other.
std::string SourceOpenName(const std::string& source) { return source; }

std::int64_t NextData(int handle, std::int64_t offset) {
#ifdef SEEK_DATA
  const off_t data = ::lseek(handle, static_cast<off_t>(offset), SEEK_DATA);
  if (data >= 0) return static_cast<std::int64_t>(data);
  if (errno == ENXIO) return -1;  // holes up to the end
#endif
  return offset;  // a file system or device that does not say
}

}  // namespace VEKRecover
