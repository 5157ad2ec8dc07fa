#include "recover/Source.h"
#include "recover/SourceName.h"

namespace VEKRecover {

std::string SourceOpenName(const std::string& source) {
  const char drive = SourceDrive(source);
  return drive != 0 ? std::string("\\\\.\\") + drive + ':' : source;
}

// Every byte of an image or a drive is read: the holes of a sparse image
// are not asked for.
std::int64_t NextData(int, std::int64_t offset) { return offset; }

}  // namespace VEKRecover
