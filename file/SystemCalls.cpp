#include "file/SystemCalls.h"

#include <atomic>
#include <cerrno>

namespace VEKFile {

namespace {
SystemCalls realCalls;
std::atomic<SystemCalls*> current{&realCalls};
}  // namespace

SystemCalls& Sys() { return *current.load(std::memory_order_acquire); }

std::int64_t ReadFully(int fd, void* buffer, std::int64_t n, std::int64_t offset) {
  std::int64_t total = 0;
  auto* out = static_cast<unsigned char*>(buffer);
  while (total < n) {
    const ssize_t got =
        Sys().PRead(fd, out + total, static_cast<size_t>(n - total), static_cast<off_t>(offset + total));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      if (total == 0) return -1;
      break;
    }
    if (got == 0) break;
    total += got;
  }
  return total;
}

void SetSystemCalls(SystemCalls* calls) { current.store(calls ? calls : &realCalls, std::memory_order_release); }

}  // namespace VEKFile
