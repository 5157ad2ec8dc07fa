// One read at a time on a thread of its own: the file layer asks for the
// block after the one a walk is in, and the walk goes on meanwhile. Copying
// the bytes out of the page cache is most of what a walk over a cached film
// costs, so on a second core it comes almost for free.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace VEKFile {

class BackgroundRead {
 public:
  BackgroundRead() = default;
  ~BackgroundRead();  // waits for the read under way
  BackgroundRead(const BackgroundRead&) = delete;
  BackgroundRead& operator=(const BackgroundRead&) = delete;

  // Starts reading up to length bytes of the file at offset into buffer,
  // which must stay put until Wait returns. Only when Busy() is false.
  // Throws std::system_error when the thread cannot be made.
  void Start(int handle, std::int64_t offset, unsigned char* buffer, std::int64_t length);
  // The count the read started last got (short at the end of the file; -1
  // when it failed); returns at once when nothing was started.
  std::int64_t Wait();
  bool Busy() const { return Started; }

 private:
  enum : int { Idle, Requested, Finished, Quit };
  void Run();
  // Waits until State is no longer from, spinning first: a walk hands over
  // a block every few dozen microseconds, and waking a sleeping thread costs
  // about as much as reading one.
  int AwaitChange(int from);

  std::thread Worker;
  std::atomic<int> State{Idle};
  bool Started = false;  // the caller's own: between Start and Wait
  // Written by the caller before State becomes Requested, read by the
  // worker after; Result the other way round with Finished.
  int Handle = -1;
  std::int64_t Offset = 0;
  unsigned char* Buffer = nullptr;
  std::int64_t Length = 0;
  std::int64_t Result = 0;
};

}  // namespace VEKFile
