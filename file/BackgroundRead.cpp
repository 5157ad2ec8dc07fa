#include "file/BackgroundRead.h"

#include <cerrno>

#include "file/SystemCalls.h"

namespace VEKFile {

BackgroundRead::~BackgroundRead() {
  if (!Worker.joinable()) return;
  Wait();
  State.store(Quit, std::memory_order_release);
  State.notify_all();
  Worker.join();
}

void BackgroundRead::Start(int handle, std::int64_t offset, unsigned char* buffer, std::int64_t length) {
  if (!Worker.joinable()) Worker = std::thread([this] { Run(); });  // may throw: nothing is started then
  Handle = handle;
  Offset = offset;
  Buffer = buffer;
  Length = length;
  Started = true;
  State.store(Requested, std::memory_order_release);
  State.notify_all();
}

std::int64_t BackgroundRead::Wait() {
  if (!Started) return 0;
  AwaitChange(Requested);
  Started = false;
  State.store(Idle, std::memory_order_relaxed);
  return Result;
}

int BackgroundRead::AwaitChange(int from) {
  for (int spin = 0; spin < 4000; ++spin) {
    const int now = State.load(std::memory_order_acquire);
    if (now != from) return now;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
  State.wait(from, std::memory_order_acquire);
  return State.load(std::memory_order_acquire);
}

void BackgroundRead::Run() {
  for (;;) {
    int now = State.load(std::memory_order_acquire);
    while (now == Idle || now == Finished) now = AwaitChange(now);
    if (now == Quit) return;
    std::int64_t total = 0;
    while (total < Length) {
      const ssize_t got = Sys().PRead(Handle, Buffer + total, static_cast<std::size_t>(Length - total),
                                      static_cast<off_t>(Offset + total));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && total == 0) total = -1;
      if (got <= 0) break;
      total += got;
    }
    Result = total;
    State.store(Finished, std::memory_order_release);
    State.notify_all();
  }
}

}  // namespace VEKFile
