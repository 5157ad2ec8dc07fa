// What must hold after the worker has run over any bytes at all, in each of
// its three modes, with or without a failing system call. Shared by the fuzz
// target and by the test that replays the committed fuzz findings, so a
// finding is checked the same way in both.
//
// The rebuilt file is judged by a reader of its own, written here and
// sharing nothing with the engine's walk, so that a fault in the walk cannot
// hide itself by agreeing with its own test.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "support/AviBuilder.h"

namespace ZantrelFuzz {

using ZantrelTest::Bytes;
using ByteView = std::span<const unsigned char>;

enum class Mode { Check, Copy, InPlace };

// The system call made to fail during a run: At counts the calls of that
// kind from 1, and every later one fails too.
enum class Fault : unsigned char {
  None,
  WriteNoSpace,    // pwritev fails with ENOSPC
  WriteNothing,    // pwritev takes no byte and reports no error
  WriteIoError,    // pwritev fails with EIO
  TruncateFails,   // every ftruncate fails (At unused)
  ReserveRefused,  // every block reservation fails with ENOSPC (At unused)
  RenameFails,     // every rename fails with EACCES (At unused)
  ReadFails,       // pread fails with EIO
};

// A film made from a small description: Payload with its bytes
// [UnitStart, UnitStart + UnitLength) repeated Repeats more times right after
// them. A few hundred bytes describe a file of several MiB, large enough for
// the background copy and the write queue to take the paths that small files
// never reach, and the expansion goes straight to disk.
struct Film {
  Bytes Payload;
  std::size_t UnitStart = 0, UnitLength = 0;
  std::uint32_t Repeats = 0;

  std::int64_t Size() const;
  void WriteTo(const std::string& path) const;
};

struct WorkerCase {
  Fault Injected = Fault::None;
  int At = 1;
  Film Source;
};

// The largest film an input expands to: a little over the background copy's
// batch, and small enough to keep each fuzz run short.
constexpr std::int64_t MaxFilmSize = 10 * 1024 * 1024;

// A fuzz input: byte 0 holds the fault (bits 0-2), its call number (bits
// 3-6) and whether a film description follows (bit 7: then three 16-bit
// little-endian values, unit start, unit length and repeats, precede the
// payload). Any bytes at all decode to a case.
WorkerCase DecodeCase(const unsigned char* data, std::size_t size);
Bytes EncodeCase(const WorkerCase& c);

// The stream chunks of source that a plain reader reaches, for each place
// its data may start: walked from the first chunk of a movi list by their
// size fields (padded to an even length) through stream and JUNK chunks, as
// long as each fits in the file and is followed by another such header, an
// "idx1" or the exact end of the file. It stops at the first break. Where
// the file has no RIFF header, its data may also start with any of the
// first such runs of chunks before any movi list. Header positions, in file
// order.
std::vector<std::vector<std::int64_t>> ReachableStreamChunks(ByteView source);

// Empty when output is a sound rebuild of source: source's bytes up to the
// walk's end with the movi list size patched, an optional zero pad byte, then
// an idx1 whose entries, in file order and inside the new movi list, point at
// stream chunk headers of the source that carry the entry's id and size,
// with flags 0 or key frame, and which holds every reachable stream chunk.
// With endsAfterIndex, the file also ends right after the index. With
// inPlace, an OpenDML film whose first segment's data reaches the source's
// next RIFF may have no idx1 (it has no room for one). Otherwise, what is
// wrong.
std::string CheckRebuild(ByteView source, ByteView output, bool endsAfterIndex = true, bool inPlace = false);

// The same for a copy that got a new header list with its data moved shift
// bytes along: judged against the source with as many bytes put in before
// its movi list, where the new list's movi list now starts.
std::string CheckMovedCopy(ByteView source, ByteView output, std::int64_t shift);

// Empty when after is what an in-place run that did not complete may leave
// of source: the file untouched, or fully indexed (CheckRebuild, though
// perhaps not cut after the index). When a write failed between the first
// write and the last (failedMidway), also the new index written where the
// walk ended but the movi size not yet patched, every byte a plain reader
// reaches still the source's. Otherwise, what is wrong.
std::string CheckUnfinishedInPlace(ByteView source, ByteView after, bool failedMidway);

// Runs the worker over the case in each mode, in the folder (the file is
// folder/run/in.avi, the copy beside it), and returns every property it
// broke, one text each; empty when all hold.
std::vector<std::string> CheckWorkerRun(const std::string& folder, const WorkerCase& c,
                                        std::initializer_list<Mode> modes = {Mode::Check, Mode::Copy,
                                                                             Mode::InPlace});
// The same for plain file bytes without a fault.
std::vector<std::string> CheckWorkerRun(const std::string& folder, const Bytes& bytes, Mode mode);

}  // namespace ZantrelFuzz
