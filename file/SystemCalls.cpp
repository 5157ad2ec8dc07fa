#include "file/SystemCalls.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

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

namespace {

// Up to n bytes at offset in reads that each start where the last ended: a
// read shorter than asked that is not whole sectors is the end of the
// file, never read on from its unaligned end.
std::int64_t ReadSectors(int fd, unsigned char* out, std::int64_t n, std::int64_t offset, std::int64_t alignment) {
  std::int64_t total = 0;
  while (total < n) {
    const ssize_t got =
        Sys().PRead(fd, out + total, static_cast<size_t>(n - total), static_cast<off_t>(offset + total));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return total > 0 ? total : -1;
    total += got;
    if (got == 0 || got % alignment != 0) break;
  }
  return total;
}

}  // namespace

std::int64_t ReadAligned(int fd, void* buffer, std::int64_t n, std::int64_t offset, std::int64_t alignment) {
  auto* out = static_cast<unsigned char*>(buffer);
  if (alignment <= 1 || n <= 0 || offset < 0) return ReadFully(fd, buffer, n, offset);
  const auto aligned = [alignment](std::uint64_t value) { return value % static_cast<std::uint64_t>(alignment) == 0; };
  if (aligned(static_cast<std::uint64_t>(offset)) && aligned(static_cast<std::uint64_t>(n)) &&
      aligned(reinterpret_cast<std::uintptr_t>(buffer)))
    return ReadSectors(fd, out, n, offset, alignment);
  // Whole sectors, as many as fit in about a mebibyte, at an aligned address.
  const std::int64_t span = std::max<std::int64_t>((std::int64_t{1} << 20) / alignment, 1) * alignment;
  thread_local std::vector<unsigned char> storage;
  if (storage.size() < static_cast<std::size_t>(span + alignment)) storage.resize(static_cast<std::size_t>(span + alignment));
  const std::int64_t misplaced = static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(storage.data()) %
                                                           static_cast<std::uint64_t>(alignment));
  unsigned char* bounce = storage.data() + (misplaced == 0 ? 0 : alignment - misplaced);
  std::int64_t total = 0;
  while (total < n) {
    const std::int64_t at = offset + total;
    const std::int64_t skip = at % alignment;
    const std::int64_t wanted = std::min(n - total, span - skip);
    const std::int64_t length = (skip + wanted + alignment - 1) / alignment * alignment;
    const std::int64_t got = ReadSectors(fd, bounce, length, at - skip, alignment);
    if (got < 0) return total > 0 ? total : -1;
    if (got <= skip) break;  // the end of the file
    const std::int64_t take = std::min(got - skip, wanted);
    std::memcpy(out + total, bounce + skip, static_cast<std::size_t>(take));
    total += take;
    if (got < length) break;
  }
  return total;
}

void SetSystemCalls(SystemCalls* calls) { current.store(calls ? calls : &realCalls, std::memory_order_release); }

}  // namespace VEKFile
