#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>

#include "file/BackgroundRead.h"
#include "file/SystemCalls.h"
#include "util/WorkerThread.h"

namespace VEKFile {

namespace {

// Waits until value is no longer from, spinning first: a walk hands over a
// block every few dozen microseconds, and waking a sleeping thread costs
// about as much as reading one.
template <typename T>
void AwaitChange(const std::atomic<T>& value, T from) {
  for (int spin = 0; spin < 4000; ++spin) {
    if (value.load(std::memory_order_acquire) != from) return;
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  }
#ifdef _WIN32
  // The C++ library's own wait has no futex to sleep on there and can miss
  // a wake-up (a walk then hangs for good); the system's address wait cannot.
  static_assert(sizeof(std::atomic<T>) == sizeof(T));
  while (value.load(std::memory_order_acquire) == from)
    WaitOnAddress(const_cast<std::atomic<T>*>(&value), &from, sizeof(T), INFINITE);
#else
  value.wait(from, std::memory_order_acquire);
#endif
}

template <typename T>
void WakeAll(std::atomic<T>& value) {
#ifdef _WIN32
  WakeByAddressAll(&value);
#else
  value.notify_all();
#endif
}

}  // namespace

BackgroundRead::~BackgroundRead() {
  if (!Worker.joinable()) return;
  Wait();
  Quit.store(true, std::memory_order_release);
  Generation.fetch_add(1, std::memory_order_release);
  WakeAll(Generation);
  Worker.join();
}

void BackgroundRead::Start(int handle, std::int64_t offset, unsigned char* buffer, std::int64_t length) {
  if (!Worker.joinable()) Worker = VEK::StartWorkerThread([this] { Run(); });  // may throw: nothing is started then
  Handle = handle;
  Offset = offset;
  Buffer = buffer;
  Length = length;
  Finished.store(0, std::memory_order_relaxed);
  NextPiece.store(0, std::memory_order_release);
  Started = true;
  Generation.fetch_add(1, std::memory_order_release);
  WakeAll(Generation);
}

void BackgroundRead::ReadPieces() {
  int i = NextPiece.load(std::memory_order_acquire);
  for (;;) {
    if (i >= Pieces) return;
    if (!NextPiece.compare_exchange_weak(i, i + 1, std::memory_order_acq_rel, std::memory_order_acquire)) continue;
    // The request is this thread's to read only from here on.
    const std::int64_t piece = (Length + Pieces - 1) / Pieces;
    const std::int64_t from = i * piece;
    const std::int64_t length = std::max<std::int64_t>(0, std::min(piece, Length - from));
    Got[i] = ReadFully(Handle, Buffer + from, length, Offset + from);
    if (Finished.fetch_add(1, std::memory_order_acq_rel) + 1 == Pieces) WakeAll(Finished);
    i = NextPiece.load(std::memory_order_acquire);
  }
}

std::int64_t BackgroundRead::Wait(bool help) {
  if (!Started) return 0;
  if (help) ReadPieces();
  for (int done = Finished.load(std::memory_order_acquire); done != Pieces;
       done = Finished.load(std::memory_order_acquire))
    AwaitChange(Finished, done);
  Started = false;
  // The bytes from the start of the block: up to the first piece read short.
  const std::int64_t piece = (Length + Pieces - 1) / Pieces;
  std::int64_t total = 0;
  for (int i = 0; i < Pieces; ++i) {
    if (Got[i] < 0) return total == 0 ? -1 : total;
    total += Got[i];
    if (Got[i] < std::min(piece, Length - i * piece)) break;
  }
  return total;
}

void BackgroundRead::Run() {
  unsigned seen = 0;
  for (;;) {
    AwaitChange(Generation, seen);
    seen = Generation.load(std::memory_order_acquire);
    if (Quit.load(std::memory_order_acquire)) return;
    ReadPieces();
  }
}

}  // namespace VEKFile
