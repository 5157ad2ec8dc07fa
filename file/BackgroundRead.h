// A block read by two threads at once: one of its own, started ahead of
// need, and the caller's, which takes the pieces not yet begun when it needs
// the block. The file layer asks for the block after the one a walk is in
// and the walk goes on meanwhile. Copying the bytes out of the page cache is
// most of what a walk over a cached film costs; shared between two cores it
// costs about half.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

namespace VEKFile {

class BackgroundRead {
 public:
  static constexpr int Pieces = 8;

  BackgroundRead() = default;
  ~BackgroundRead();  // waits for the read under way
  BackgroundRead(const BackgroundRead&) = delete;
  BackgroundRead& operator=(const BackgroundRead&) = delete;

  // Starts reading up to length bytes of the file at offset into buffer,
  // which must stay put until Wait returns. Only when Busy() is false.
  // Throws std::system_error when the thread cannot be made.
  void Start(int handle, std::int64_t offset, unsigned char* buffer, std::int64_t length);
  // Reads the pieces nobody has begun yet when help is set, waits for the
  // others, and returns the count of bytes read from the start of the block
  // (short at the end of the file; -1 when nothing could be read); 0 when
  // nothing was started.
  std::int64_t Wait(bool help = true);
  bool Busy() const { return Started; }

 private:
  void Run();
  // Reads every piece this thread can still claim.
  void ReadPieces();

  std::thread Worker;
  bool Started = false;  // the caller's own: between Start and Wait
  // The request, written by the caller before NextPiece is set to 0.
  int Handle = -1;
  std::int64_t Offset = 0;
  unsigned char* Buffer = nullptr;
  std::int64_t Length = 0;
  std::int64_t Got[Pieces] = {};  // per piece; published by Finished
  // A piece is claimed by moving NextPiece past it, never beyond Pieces, so a
  // late claim of a finished request fails instead of taking a piece of the
  // next one.
  std::atomic<int> NextPiece{Pieces};
  std::atomic<int> Finished{Pieces};
  // Changes with every request and at the end, to wake the worker.
  std::atomic<unsigned> Generation{0};
  std::atomic<bool> Quit{false};
};

}  // namespace VEKFile
