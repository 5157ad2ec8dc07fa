// An independent reader of OpenDML files for tests: it follows the RIFF
// chain, each movi list, the idx1 and every stream's indx -> ix## indexes the
// way a player reads them, with pread only, so that files over 1 GiB are never
// loaded whole. The writer's own tests and the end-to-end rebuild tests judge
// a file by what this reader finds in it, not by what the engine meant to
// write.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace ZantrelTest {

// Whether a command-line tool is on the PATH, and a command's standard output.
bool HaveTool(const char* tool);
std::string RunCommand(const std::string& command);

// (stream, absolute data offset, size, key)
using Described = std::tuple<int, std::int64_t, std::uint32_t, bool>;

// An idx1 entry with its offset made absolute the way players decide it: a
// first offset past the movi list counts from the start of the file
// (GStreamer), anything else from "movi" (ffmpeg, mencoder, us).
struct Idx1Row {
  std::uint32_t Code, Flags;
  std::int64_t Position;  // of the chunk header
  std::uint32_t Size;
  bool operator==(const Idx1Row&) const = default;
};

struct RiffInfo {
  std::int64_t Position = 0, Movi = -1, MoviEnd = 0;
  std::int64_t DataEnd = 0;  // after the last stream chunk of its movi list
};

// What a file says about itself, read the way a player reads it.
struct Parsed {
  bool ChainReachesEnd = false;  // the RIFF sizes lead exactly to the end of the file
  std::vector<RiffInfo> Riffs;
  std::int64_t HdrlPosition = -1;
  std::uint32_t HdrlSize = 0;
  std::uint32_t AvihFlags = 0;
  std::int64_t Dmlh = -1;
  std::vector<Idx1Row> Idx1;
  bool Idx1FromFileStart = false;
  std::set<Described> Chunks;                   // from indx → ix##
  std::map<std::int64_t, std::uint32_t> KeyOf;  // data offset → flags to feed the writer
  std::map<int, std::uint64_t> Durations;       // per stream: the sum of its super index durations
  std::vector<std::int64_t> IndexChunksInData;  // ix## headers met before a movi list's DataEnd
  std::vector<std::string> Problems;
};

class OdmlReader {
 public:
  explicit OdmlReader(const std::string& path);
  ~OdmlReader();
  OdmlReader(const OdmlReader&) = delete;
  OdmlReader& operator=(const OdmlReader&) = delete;
  // n bytes at pos, or nothing when they are not all in the file.
  std::vector<unsigned char> At(std::int64_t pos, std::size_t n) const;
  std::int64_t Size() const { return size_; }
  Parsed Parse() const;

 private:
  void ReadRiff(Parsed& p, RiffInfo& riff, std::int64_t pos, std::int64_t end) const;
  static bool IsIndexCode(const unsigned char* c);
  void WalkMovi(Parsed& p, RiffInfo& riff) const;
  void ReadIndexes(Parsed& p) const;
  void ReadSuper(Parsed& p, int stream, std::int64_t at, std::uint32_t size) const;

  int fd_;
  std::int64_t size_;
};

}  // namespace ZantrelTest
