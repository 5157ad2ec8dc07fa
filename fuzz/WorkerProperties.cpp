#include "WorkerProperties.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <stdexcept>
#include <tuple>

#include "support/FaultySystemCalls.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"
#include "util/Endian.h"

namespace ZantrelFuzz {

namespace {

namespace fs = std::filesystem;
using ZantrelTest::Code;

std::uint32_t Le32(ByteView b, std::int64_t at) { return VEK::LoadLe32(&b[static_cast<std::size_t>(at)]); }

bool IsHex(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// Written out again here rather than taken from the engine, so that a fault
// in the engine's own test cannot hide itself.
bool IsStreamId(ByteView b, std::int64_t at) {
  const auto* p = &b[static_cast<std::size_t>(at)];
  if (!IsHex(p[0]) || !IsHex(p[1])) return false;
  return ((p[2] == 'd' || p[2] == 'p') && p[3] == 'c') || ((p[2] == 'd' || p[2] == 'w') && p[3] == 'b');
}

bool IsVideoId(ByteView b, std::int64_t at) { return b[at + 2] == 'd' && (b[at + 3] == 'c' || b[at + 3] == 'b'); }
bool IsAudioId(ByteView b, std::int64_t at) { return b[at + 2] == 'w' && b[at + 3] == 'b'; }

// A chunk a plain reader walks through inside movi.
bool IsChainHeader(ByteView b, std::int64_t at) { return IsStreamId(b, at) || Le32(b, at) == Code("JUNK"); }

// Where the chunk with a header at pos ends: its data is padded to an even
// length, counted from its own start.
std::int64_t NextChunk(ByteView b, std::int64_t pos) {
  const std::int64_t size = Le32(b, pos + 4);
  return pos + 8 + size + (size & 1);
}

bool IsMoviHeader(ByteView b, std::int64_t at) {
  return static_cast<std::int64_t>(b.size()) - at >= 12 && Le32(b, at) == Code("LIST") &&
         Le32(b, at + 8) == Code("movi");
}

// First position in [from, to) where a and b differ, or -1.
std::int64_t FirstDifference(ByteView a, ByteView b, std::int64_t from, std::int64_t to) {
  if (to <= from) return -1;
  if (std::memcmp(&a[from], &b[from], static_cast<std::size_t>(to - from)) == 0) return -1;
  while (a[from] == b[from]) ++from;
  return from;
}

using Ranges = std::vector<std::pair<std::int64_t, std::int64_t>>;

// The header fields a rebuild may correct to agree with the data it indexed:
// the RIFF size, avih's flags and frame count, each strh's length, dmlh's
// frame count and each super index (indx) whole. Found by walking the header
// list's chunks and lists from the form header on, as far as they fit, and
// only those that end before the given position.
Ranges CorrectableHeaderFields(ByteView b, std::int64_t before) {
  Ranges fields{{4, 8}};
  const std::int64_t size = static_cast<std::int64_t>(b.size());
  auto walk = [&](auto& self, std::int64_t from, std::int64_t to, int depth) -> void {
    for (std::int64_t pos = from; to - pos >= 8 && size - pos >= 8; pos = NextChunk(b, pos)) {
      const std::uint32_t code = Le32(b, pos);
      const std::int64_t data = pos + 8, length = Le32(b, pos + 4);
      const std::int64_t end = std::min({data + length, to, size});
      auto allow = [&](std::int64_t at, std::int64_t n) {
        if (at + n <= end && at + n <= before) fields.emplace_back(at, at + n);
      };
      if (code == Code("LIST") && end - data >= 4 && Le32(b, data) != Code("movi")) {
        if (depth < 4) self(self, data + 4, end, depth + 1);
      } else if (code == Code("avih"))
        allow(data + 12, 8);
      else if (code == Code("strh"))
        allow(data + 32, 4);
      else if (code == Code("dmlh"))
        allow(data, 4);
      else if (code == Code("indx"))
        allow(data, end - data);
    }
  };
  walk(walk, 12, size, 0);
  // The engine's reader steps over a damaged stretch of the header list to
  // the headers after it, which a walk from chunk to chunk does not reach:
  // each header code before movi counts, wherever it lies.
  for (std::int64_t pos = 12; pos + 8 <= std::min(before, size); ++pos) {
    const std::uint32_t code = Le32(b, pos);
    const std::int64_t data = pos + 8;
    auto allow = [&](std::int64_t at, std::int64_t n) {
      if (at + n <= before && at + n <= size) fields.emplace_back(at, at + n);
    };
    if (code == Code("avih"))
      allow(data + 12, 8);
    else if (code == Code("strh"))
      allow(data + 32, 4);
    else if (code == Code("dmlh"))
      allow(data, 4);
  }
  return fields;
}

// First position in [from, to) where a and b differ outside the allowed
// ranges, or -1.
std::int64_t FirstDifferenceOutside(ByteView a, ByteView b, std::int64_t from, std::int64_t to, const Ranges& allowed) {
  // Sorted and merged once: a rebuild of a film with thousands of resized
  // chunks allows as many ranges, and differs in each.
  Ranges merged = allowed;
  std::sort(merged.begin(), merged.end());
  std::size_t kept = 0;
  for (const auto& r : merged) {
    if (kept > 0 && r.first <= merged[kept - 1].second)
      merged[kept - 1].second = std::max(merged[kept - 1].second, r.second);
    else
      merged[kept++] = r;
  }
  merged.resize(kept);
  for (;;) {
    const std::int64_t d = FirstDifference(a, b, from, to);
    if (d < 0) return -1;
    // The last range that starts at or before d is the one that may hold it.
    auto in = std::upper_bound(merged.begin(), merged.end(), d, [](std::int64_t p, const auto& r) { return p < r.first; });
    if (in == merged.begin() || d >= std::prev(in)->second) return d;
    from = std::prev(in)->second;
  }
}

// Where a reader may find the movi list: first where the top-level chunks
// lead, chunk by chunk from the end of the form header; then, since a
// damaged header list breaks that chain, every other "LIST....movi" in the
// file, in order (a few at most).
std::vector<std::int64_t> MoviCandidates(ByteView b) {
  std::vector<std::int64_t> found;
  const std::int64_t size = static_cast<std::int64_t>(b.size());
  for (std::int64_t pos = 12; size - pos >= 12; pos = NextChunk(b, pos))
    if (IsMoviHeader(b, pos)) {
      found.push_back(pos);
      break;
    }
  constexpr std::size_t Most = 8;
  static const unsigned char list[] = {'L', 'I', 'S', 'T'};
  for (std::int64_t pos = 12; size - pos >= 12 && found.size() < Most; ++pos) {
    const void* at = ::memmem(&b[pos], static_cast<std::size_t>(size - pos), list, sizeof list);
    if (!at) break;
    pos = static_cast<const unsigned char*>(at) - b.data();
    // A later OpenDML segment's own movi list, right after its RIFF 'AVIX'
    // header, is none the legacy index counts from.
    const bool segment = pos >= 12 && Le32(b, pos - 12) == Code("RIFF") && Le32(b, pos - 4) == Code("AVIX");
    if (IsMoviHeader(b, pos) && !segment && std::find(found.begin(), found.end(), pos) == found.end())
      found.push_back(pos);
  }
  return found;
}

// The movi list a rebuild used: the one whose size it patched, or else the
// one whose size leads to an idx1.
std::int64_t RebuiltMovi(ByteView source, ByteView output) {
  auto candidates = MoviCandidates(source);
  // A later segment whose RIFF 'AVIX' header the rebuild wrote again has
  // its movi size patched too, but no legacy index follows it.
  candidates.erase(std::remove_if(candidates.begin(), candidates.end(),
                                  [&](std::int64_t movi) {
                                    return movi >= 12 && static_cast<std::int64_t>(output.size()) >= movi &&
                                           Le32(output, movi - 12) == Code("RIFF") &&
                                           Le32(output, movi - 4) == Code("AVIX");
                                  }),
                   candidates.end());
  for (std::int64_t movi : candidates)
    if (IsMoviHeader(output, movi) && Le32(output, movi + 4) != Le32(source, movi + 4)) return movi;
  // A file whose movi list header was lost gets a new one with its new
  // header list: a whole RIFF header and hdrl that end on it. (A movi list
  // the data holds further on may then have a size that leads to the new
  // idx1 too.)
  if (output.size() >= 24 && Le32(output, 0) == Code("RIFF") && Le32(output, 8) == Code("AVI ") &&
      Le32(output, 12) == Code("LIST") && Le32(output, 20) == Code("hdrl")) {
    const std::int64_t movi = 20 + static_cast<std::int64_t>(Le32(output, 16));
    if (static_cast<std::int64_t>(output.size()) >= movi + 12 && IsMoviHeader(output, movi) &&
        std::find(candidates.begin(), candidates.end(), movi) == candidates.end())
      return movi;
  }
  auto leadsToIndex = [&](std::int64_t movi) {
    if (!IsMoviHeader(output, movi)) return false;
    const std::int64_t index = movi + 8 + static_cast<std::int64_t>(Le32(output, movi + 4));
    return static_cast<std::int64_t>(output.size()) - index >= 8 && Le32(output, index) == Code("idx1");
  };
  // Where the data holds no other movi list ahead of it, a segment's own is
  // the one the walk takes, its size patched to end at the new idx1 (which
  // the size of a list further on may happen to reach as well).
  static const unsigned char list[] = {'L', 'I', 'S', 'T'};
  const std::int64_t size = static_cast<std::int64_t>(source.size());
  for (std::int64_t pos = 12; size - pos >= 12;) {
    const void* at = ::memmem(&source[pos], static_cast<std::size_t>(size - pos), list, sizeof list);
    if (!at) break;
    pos = static_cast<const unsigned char*>(at) - source.data();
    if (IsMoviHeader(source, pos) && leadsToIndex(pos) && Le32(output, pos + 4) != Le32(source, pos + 4)) return pos;
    ++pos;
  }
  for (std::int64_t movi : candidates)
    if (leadsToIndex(movi)) return movi;
  return candidates.empty() ? -1 : candidates.front();
}

std::vector<std::int64_t> ReachableFrom(ByteView source, std::int64_t movi) {
  std::vector<std::int64_t> found;
  const std::int64_t size = static_cast<std::int64_t>(source.size());
  std::int64_t pos = movi + 12;
  while (size - pos >= 8 && IsChainHeader(source, pos)) {
    const std::int64_t next = NextChunk(source, pos);
    if (next > size) break;
    const bool followed =
        next == size || (size - next >= 8 && (IsChainHeader(source, next) || Le32(source, next) == Code("idx1")));
    if (!followed) break;
    if (IsStreamId(source, pos)) found.push_back(pos);
    pos = next;
  }
  return found;
}

bool Same(ByteView a, ByteView b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}

// A file's bytes, mapped rather than read: a film of several MiB is then
// held once, by the page cache, however many times it is compared.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path);
    struct stat st;
    if (::fstat(fd, &st) == 0 && st.st_size > 0) {
      size_ = static_cast<std::size_t>(st.st_size);
      void* at = ::mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd, 0);
      data_ = at == MAP_FAILED ? nullptr : static_cast<const unsigned char*>(at);
    }
    ::close(fd);
    if (size_ > 0 && !data_) throw std::runtime_error("cannot map " + path);
  }
  ~MappedFile() {
    if (data_) ::munmap(const_cast<unsigned char*>(data_), size_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ByteView View() const { return {data_, size_}; }

 private:
  const unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
};

const char* ModeName(Mode mode) {
  switch (mode) {
    case Mode::Check:
      return "check";
    case Mode::Copy:
      return "copy";
    case Mode::InPlace:
      return "in place";
  }
  return "?";
}

void Install(const WorkerCase& c, ZantrelTest::FaultySystemCalls& calls) {
  switch (c.Injected) {
    case Fault::None:
      break;
    case Fault::WriteNoSpace:
      calls.failPWriteVAt = c.At, calls.pwritevErrno = ENOSPC;
      break;
    case Fault::WriteNothing:
      calls.failPWriteVAt = c.At, calls.pwritevErrno = 0;
      break;
    case Fault::WriteIoError:
      calls.failPWriteVAt = c.At, calls.pwritevErrno = EIO;
      break;
    case Fault::TruncateFails:
      calls.failFTruncate = true;
      break;
    case Fault::ReserveRefused:
      calls.reserveErrno = ENOSPC;
      break;
    case Fault::RenameFails:
      calls.renameErrno = EACCES;
      break;
    case Fault::ReadFails:
      calls.failPReadAt = c.At;
      break;
  }
}

bool Says(const std::vector<std::string>& lines, const char* english, const char* french) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.find(english) != std::string::npos || line.find(french) != std::string::npos;
  });
}

// How far a run says it moved a copy's data along to make room for a new
// header list; 0 where it says nothing of it.
std::int64_t MovedBy(const std::vector<std::string>& lines) {
  for (const std::string& line : lines)
    for (const char* said : {"the data was moved ", "les données ont été décalées de "}) {
      const std::size_t at = line.find(said);
      if (at != std::string::npos) return std::stoll(line.substr(at + std::strlen(said)));
    }
  return 0;
}

std::vector<std::string> RunOne(const std::string& folder, const WorkerCase& c, ByteView source, Mode mode) {
  std::vector<std::string> broken;
  auto fail = [&](const std::string& what) { broken.push_back(std::string(ModeName(mode)) + ": " + what); };
  const std::string dir = folder + "/run";
  const std::string path = dir + "/in.avi";
  const std::string copy = dir + "/Zantrel.in.avi";
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(folder + "/reference.avi", path);
  // Every batch meets a name that leads nowhere before the film: it fails
  // alone, and the film is done as if it were the only one.
  const std::string unopenable = dir + "/gone.avi";
  fs::create_symlink(dir + "/nothing.avi", unopenable);

  ZantrelTest::WorkerRunOptions options;
  options.CheckOnly = mode == Mode::Check;
  options.KeepOriginal = mode != Mode::InPlace;
  // The properties are about the files and the lines, not the hand-over:
  // each line handed to another thread costs two wake-ups, which a film of
  // fifty thousand spots under the sanitizers pays beyond the time limit.
  options.EventsOnWorkerThread = true;
  ZantrelTest::WorkerRunResult run;
  {
    ZantrelTest::FaultySystemCalls calls;
    Install(c, calls);
    // Without a fault the real calls run, and with them the reading ahead
    // on a thread of its own, which scripted calls leave out.
    std::optional<ZantrelTest::CallsGuard> guard;
    if (c.Injected != Fault::None) guard.emplace(calls);
    run = ZantrelTest::RunWorker({unopenable, path}, options);
  }

  auto outcomes = run.Outcomes();
  const std::vector<std::string> unopened = {"Processing file \"gone.avi\"",
                                             "Could not open file \"" + unopenable +
                                                 "\" (a link to a file that does not exist).",
                                             ""};
  if (outcomes.empty() || outcomes.front() != VEKRiff::FileError || run.Lines.size() < unopened.size() ||
      !std::equal(unopened.begin(), unopened.end(), run.Lines.begin())) {
    fail("a name that leads nowhere did not fail alone with its name and reason");
  } else {
    outcomes.erase(outcomes.begin());
    run.Lines.erase(run.Lines.begin(), run.Lines.begin() + static_cast<std::ptrdiff_t>(unopened.size()));
  }
  if (outcomes.size() != 1) fail("not exactly one outcome notification");
  const VEKRiff::RebuildEvent outcome = outcomes.empty() ? VEKRiff::FileStarted : outcomes.front();
  const bool rebuilt = outcome == VEKRiff::FileRebuilt;
  if (!run.TerminateHandlerRan) fail("the termination handler did not run");
  if (run.Lines.empty() || run.Lines.front() != "Processing file \"in.avi\"")
    fail("the first line is not the processing line");
  if (run.Lines.empty() || !run.Lines.back().empty()) fail("the file's lines do not end with the empty line");
  const bool done = run.Lines.size() >= 2 && run.Lines[run.Lines.size() - 2].rfind("Done. Found ", 0) == 0;
  if (mode != Mode::Check && done != rebuilt)
    fail(rebuilt ? "a completed rebuild has no Done line" : "a failed rebuild has a Done line");
  if (mode == Mode::Check && outcome != VEKRiff::FileOk && outcome != VEKRiff::FileError)
    fail("a check ended in another outcome");

  // Nothing is left in the folder but the file and a completed copy: no
  // unfinished copy under its temporary name, and nothing at the copy's name
  // unless the copy was reported complete.
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name == "in.avi" || name == "gone.avi") continue;
    if (name == "Zantrel.in.avi" && mode == Mode::Copy && rebuilt) continue;
    fail("\"" + name + "\" was left in the folder");
  }
  if (!ZantrelTest::Exists(path)) {
    fail("the file is gone");
    return broken;
  }

  // Every stream chunk a plain reader reaches was at least counted, from one
  // of the places the data may start: the engine may have taken any of them.
  if (done) {
    // Audio is counted in samples where a stream header may give the rate,
    // and a rate may make them fewer than the chunks.
    const std::string_view auds = "auds";
    const bool rates = std::search(source.begin(), source.end(), auds.begin(), auds.end()) != source.end();
    std::string uncounted;
    for (const std::vector<std::int64_t>& reachable : ReachableStreamChunks(source)) {
      int video = 0, audio = 0;
      // An audio chunk without data holds no sample: where the engine counts
      // in samples, by a format it read from a stream list whose type is
      // damaged as well as from a whole one, it adds none.
      for (std::int64_t at : reachable) {
        video += IsVideoId(source, at);
        audio += IsAudioId(source, at) && Le32(source, at + 4) > 0;
      }
      if (run.LastVideo >= video && (rates || run.LastAudio >= audio)) {
        uncounted.clear();
        break;
      }
      if (uncounted.empty())
        uncounted = "counted " + std::to_string(run.LastVideo) + " video and " + std::to_string(run.LastAudio) +
                    " audio chunks of the " + std::to_string(video) + " and " + std::to_string(audio) + " reachable";
    }
    if (!uncounted.empty()) fail(uncounted);
  }

  const MappedFile afterFile(path);
  const ByteView after = afterFile.View();
  if (mode != Mode::InPlace && !Same(after, source)) fail("the source changed");
  const std::int64_t moved = MovedBy(run.Lines);
  if (moved != 0 && (mode != Mode::Copy || !rebuilt)) fail("data moved along outside a completed copy");
  if (mode == Mode::Copy && rebuilt && ZantrelTest::Exists(copy)) {
    const MappedFile output(copy);
    const std::string why = moved != 0 ? CheckMovedCopy(source, output.View(), moved) : CheckRebuild(source, output.View());
    if (!why.empty()) fail("completed copy: " + why);
  } else if (mode == Mode::Copy && rebuilt) {
    fail("a completed copy does not exist");
  }
  if (mode != Mode::InPlace) return broken;

  if (rebuilt) {
    const std::string why = CheckRebuild(source, after, true, true);
    if (!why.empty()) fail("rebuilt file: " + why);
    return broken;
  }
  if (Says(run.Lines, "The file was not changed", "Le fichier n'a pas été modifié") && !Same(after, source))
    fail("the file changed though the run said it did not");
  // Only a write or read that fails between the first write and the last
  // can leave the file in between, and the user must then have been told.
  const bool midway = (c.Injected == Fault::WriteNoSpace || c.Injected == Fault::WriteNothing ||
                       c.Injected == Fault::WriteIoError || c.Injected == Fault::ReadFails) &&
                      Says(run.Lines, "The file was changed", "Le fichier a été modifié");
  const std::string why = CheckUnfinishedInPlace(source, after, midway);
  if (!why.empty()) fail(why);
  return broken;
}

}  // namespace

std::int64_t Film::Size() const {
  const std::size_t start = std::min(UnitStart, Payload.size());
  const std::size_t length = std::min(UnitLength, Payload.size() - start);
  return static_cast<std::int64_t>(Payload.size() + length * Repeats);
}

void Film::WriteTo(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  const std::size_t start = std::min(UnitStart, Payload.size());
  const std::size_t length = std::min(UnitLength, Payload.size() - start);
  const char* bytes = reinterpret_cast<const char*>(Payload.data());
  out.write(bytes, static_cast<std::streamsize>(start + length));
  if (length > 0 && Repeats > 0) {
    // The unit a number of times over in one buffer, written as often as needed.
    const std::size_t perBuffer = std::max<std::size_t>(1, 65536 / length);
    std::string buffer;
    for (std::size_t i = 0; i < perBuffer; ++i) buffer.append(bytes + start, length);
    for (std::uint32_t left = Repeats; left > 0;) {
      const std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(left, perBuffer));
      out.write(buffer.data(), static_cast<std::streamsize>(n * length));
      left -= n;
    }
  }
  out.write(bytes + start + length, static_cast<std::streamsize>(Payload.size() - start - length));
  if (!out) throw std::runtime_error("cannot write " + path);
}

WorkerCase DecodeCase(const unsigned char* data, std::size_t size) {
  WorkerCase c;
  if (size == 0) return c;
  const unsigned char control = data[0];
  c.Injected = static_cast<Fault>(control & 7);
  const int at = (control >> 3) & 15;
  // Reads are many (one per read-ahead window), writes few.
  c.At = c.Injected == Fault::ReadFails ? 1 + 8 * at : 1 + at;
  std::size_t pos = 1;
  auto take16 = [&] {
    const unsigned lo = pos < size ? data[pos] : 0, hi = pos + 1 < size ? data[pos + 1] : 0;
    pos += 2;
    return lo | hi << 8;
  };
  if (control & 0x80) {
    c.Source.UnitStart = take16();
    c.Source.UnitLength = take16();
    c.Source.Repeats = take16();
  }
  if (pos < size) c.Source.Payload.assign(data + pos, data + size);
  const std::int64_t unit = c.Source.Size() - static_cast<std::int64_t>(c.Source.Payload.size());
  if (c.Source.Repeats > 0 && c.Source.Size() > MaxFilmSize) {
    const std::int64_t length = unit / c.Source.Repeats;
    const std::int64_t room = MaxFilmSize - static_cast<std::int64_t>(c.Source.Payload.size());
    c.Source.Repeats = room > 0 ? static_cast<std::uint32_t>(room / length) : 0;
  }
  return c;
}

Bytes EncodeCase(const WorkerCase& c) {
  const int at = c.Injected == Fault::ReadFails ? (c.At - 1) / 8 : c.At - 1;
  const bool film = c.Source.Repeats > 0;
  Bytes out{static_cast<unsigned char>(static_cast<int>(c.Injected) | std::clamp(at, 0, 15) << 3 | (film ? 0x80 : 0))};
  if (film)
    for (std::size_t v : {c.Source.UnitStart, c.Source.UnitLength, static_cast<std::size_t>(c.Source.Repeats)}) {
      out.push_back(static_cast<unsigned char>(v & 0xFF));
      out.push_back(static_cast<unsigned char>(v >> 8 & 0xFF));
    }
  out.insert(out.end(), c.Source.Payload.begin(), c.Source.Payload.end());
  return out;
}

std::vector<std::vector<std::int64_t>> ReachableStreamChunks(ByteView source) {
  std::vector<std::vector<std::int64_t>> starts;
  const std::vector<std::int64_t> candidates = MoviCandidates(source);
  for (std::int64_t movi : candidates) starts.push_back(ReachableFrom(source, movi));
  const std::int64_t size = static_cast<std::int64_t>(source.size());
  const bool riff = size >= 12 && Le32(source, 0) == Code("RIFF") && Le32(source, 8) == Code("AVI ");
  const std::int64_t before = candidates.empty() ? size : *std::min_element(candidates.begin(), candidates.end());
  // The engine may take the first run it believes, not the first one: the
  // first few runs before any movi list, each from its own start.
  constexpr int Runs = 8;
  if (!riff)
    for (std::int64_t at = 12, runs = 0; at < before && size - at >= 8 && runs < Runs; ++at)
      if (IsStreamId(source, at)) {
        std::vector<std::int64_t> run = ReachableFrom(source, at - 12);
        if (!run.empty()) {
          at = run.back();
          starts.push_back(std::move(run));
          ++runs;
        }
      }
  if (starts.empty()) starts.emplace_back();
  return starts;
}

// The chunks that an idx1 anywhere in the source after movi names: the
// header positions its entries give (from "movi" or from the file's start),
// with their codes and sizes. Read once, on the first question.
class OldIndexWitness {
 public:
  // shift: how far the data lies from where the index's offsets from the
  // file's start put it.
  OldIndexWitness(ByteView source, std::int64_t movi, std::int64_t shift = 0)
      : Source(source), Movi(movi), Shift(shift) {}
  bool Names(std::int64_t header, std::uint32_t id, std::uint32_t size) {
    if (!Read) {
      Read = true;
      const std::int64_t n = static_cast<std::int64_t>(Source.size());
      for (std::int64_t at = Movi + 12; at + 8 <= n; ++at) {
        if (Le32(Source, at) != Code("idx1")) continue;
        const std::int64_t end = std::min<std::int64_t>(n, at + 8 + static_cast<std::int64_t>(Le32(Source, at + 4)));
        for (std::int64_t e = at + 8; e + 16 <= end; e += 16) {
          const std::int64_t offset = Le32(Source, e + 8);
          for (std::int64_t position : {Movi + 8 + offset, offset + Shift})
            Named.insert({position, Le32(Source, e), Le32(Source, e + 12)});
        }
      }
    }
    return Named.count({header, id, size}) > 0;
  }

 private:
  ByteView Source;
  std::int64_t Movi;
  std::int64_t Shift;
  bool Read = false;
  std::set<std::tuple<std::int64_t, std::uint32_t, std::uint32_t>> Named;
};

int DifferingBytes(ByteView source, std::int64_t header, std::uint32_t id, std::uint32_t size) {
  int differ = 0;
  for (int i = 0; i < 4; ++i) {
    differ += source[header + i] != ((id >> (8 * i)) & 0xFF);
    differ += source[header + 4 + i] != ((size >> (8 * i)) & 0xFF);
  }
  return differ;
}

namespace {

// farIndex: an in-place rebuild stopped by a failing write once its list
// ends at the index it wrote past the old end; what lies between the data
// and that index is then the rebuild's, whatever it wrote there so far.
std::string CheckRebuilt(ByteView source, ByteView output, bool endsAfterIndex, std::int64_t shift,
                         bool inPlace = false, bool farIndex = false) {
  const std::int64_t movi = RebuiltMovi(source, output);
  if (movi < 0) return "a file without a top-level movi list was rebuilt";
  const std::int64_t outSize = static_cast<std::int64_t>(output.size());
  const std::int64_t srcSize = static_cast<std::int64_t>(source.size());
  if (outSize < movi + 12 || Le32(output, movi) != Code("LIST") || Le32(output, movi + 8) != Code("movi"))
    return "the movi list header is gone";
  // The patched size says where the index starts: the walk's end, padded.
  const std::int64_t index = movi + 8 + static_cast<std::int64_t>(Le32(output, movi + 4));
  // Readers round an odd list size up: the index must follow the list's
  // even size, wherever the list starts.
  if (Le32(output, movi + 4) & 1) return "the movi list has an odd size";
  if (index < movi + 12) return "the movi list size points outside the source";
  // Past the source's end only with placeholders after the data (below).
  const bool pastSource = index > srcSize + 1 && !farIndex;
  auto isSegment = [&](std::int64_t at) {
    return outSize - at >= 12 && Le32(output, at) == Code("RIFF") && Le32(output, at + 8) == Code("AVIX");
  };
  // Where the chunk at at leads: a segment right where its size ends, else
  // past its pad byte. In place, a carved film's segments stay on the odd
  // positions the source has them on, which no size rounded up reaches (the
  // OpenDML indexes do), the last perhaps without the pad byte at the end of
  // the file: the chain to them is judged as the source laid it.
  auto nextOf = [&](std::int64_t at) {
    const std::int64_t end = at + 8 + static_cast<std::int64_t>(Le32(output, at + 4));
    return inPlace && (isSegment(end) || end == outSize) ? end : NextChunk(output, at);
  };
  // In place, an OpenDML film whose first segment's data runs right up to
  // the source's next RIFF 'AVIX', or leaves before it a gap too small for
  // its idx1 (a JUNK chunk over the gap then), has no room for an idx1
  // there: its OpenDML indexes describe it (judged by the OpenDML tests),
  // and the list ends on that RIFF or that JUNK chunk.
  const bool sourceSegment = srcSize - index >= 12 && Le32(source, index) == Code("RIFF") &&
                             Le32(source, index + 8) == Code("AVIX");
  const bool junkToSegment = outSize - index >= 8 && Le32(output, index) == Code("JUNK") &&
                             isSegment(nextOf(index));
  const bool noRoom = inPlace && ((isSegment(index) && sourceSegment) || junkToSegment);
  if (!noRoom && (outSize - index < 8 || Le32(output, index) != Code("idx1"))) return "no idx1 where the movi list ends";
  const std::int64_t indexSize = noRoom ? 0 : Le32(output, index + 4);
  if (indexSize % 16 != 0) return "the idx1 size is not a whole number of entries";
  if (outSize - index - 8 < indexSize) return "the index is cut short";
  // An OpenDML copy goes on after that index with its RIFF 'AVIX' segments,
  // one after another (what their own indexes say is judged by the OpenDML
  // tests), the first perhaps behind one JUNK chunk that fills the rest of
  // the first RIFF: it ends where the last of them does. A reader goes from
  // RIFF to RIFF by their sizes, rounded up to even, from the first.
  std::int64_t end = noRoom ? index : index + 8 + indexSize;
  if (outSize - end >= 8 && Le32(output, end) == Code("JUNK") && isSegment(nextOf(end))) end = nextOf(end);
  if (isSegment(end) && outSize >= 12 && Le32(output, 0) == Code("RIFF") && nextOf(0) != end)
    return "the first RIFF does not end where the segment after its index starts";
  while (isSegment(end)) end = nextOf(end);
  if (endsAfterIndex && outSize != end) return "the file does not end right after the index or its last segment";
  // Before the index, the source's bytes but the movi size and the header
  // counts; the last one may be the zero pad of an odd walk end.
  // Only fields before the movi list: a damaged header may claim to reach
  // into it, and then the field holds data.
  Ranges allowed = CorrectableHeaderFields(source, movi);
  allowed.emplace_back(movi + 4, movi + 8);
  // A rebuild that found the header list damaged writes a new one in front
  // of movi: the bytes there are then a RIFF header and a whole header list
  // that ends where movi starts. (What the new list says is judged against
  // ffprobe by the header tests, not here.)
  if (FirstDifferenceOutside(source, output, 0, movi, allowed) >= 0 && outSize >= 24 && movi >= 24 &&
      Le32(output, 0) == Code("RIFF") && Le32(output, 8) == Code("AVI ") && Le32(output, 12) == Code("LIST") &&
      Le32(output, 20) == Code("hdrl") && 20 + static_cast<std::int64_t>(Le32(output, 16)) == movi) {
    allowed.emplace_back(0, movi);
    // With the movi list header too, where that was lost.
    if (srcSize < movi + 12 || !IsMoviHeader(source, movi)) allowed.emplace_back(movi, movi + 12);
  }
  // Where only the RIFF header was damaged and a whole header list follows
  // it, just those 12 bytes are written again.
  if (outSize >= 12 && Le32(output, 0) == Code("RIFF") && Le32(output, 8) == Code("AVI ")) allowed.emplace_back(0, 12);

  OldIndexWitness witness(source, movi, shift);
  // A copy keeps the places of lost chunks with placeholder chunks: empty
  // frames and silence (one fill byte throughout, but for an MPEG audio
  // frame's header; or a silent AC-3 frame). They hold nothing of the
  // source's, and the entries that point at them name no chunk of it. A
  // lost start's lie right after the movi list's header, ahead of the first
  // chunk kept from the source, perhaps with a JUNK chunk over the rest of
  // their room; those of chunks lost further on lie after the movi data,
  // and their entries stand in the lost chunks' places among the kept ones.
  auto placeholder = [&](std::int64_t at) {
    if (index - at < 8 || !IsStreamId(output, at)) return false;
    const std::int64_t size = Le32(output, at + 4), data = at + 8;
    if (data + size > index) return false;
    if (srcSize - at >= 8 && std::equal(output.begin() + at, output.begin() + at + 8, source.begin() + at))
      return false;  // the source's own chunk header: a kept chunk
    // A silent AC-3 frame is the rebuild's own throughout (its decoding is
    // judged against ffmpeg by the tests).
    if (size >= 2 && output[data] == 0x0B && output[data + 1] == 0x77) return true;
    const std::int64_t from = size >= 4 && output[data] == 0xFF && (output[data + 1] & 0xE0) == 0xE0 ? 4 : 0;
    for (std::int64_t i = from; i < size; ++i)
      if (output[data + i] != output[data + from] || (output[data + i] != 0 && output[data + i] != 0x80)) return false;
    return true;
  };
  std::int64_t leadEnd = movi + 12;
  if (!inPlace) {
    while (index - leadEnd >= 8 && placeholder(leadEnd)) leadEnd = NextChunk(output, leadEnd);
    if (leadEnd > movi + 12 && index - leadEnd >= 8 && Le32(output, leadEnd) == Code("JUNK") &&
        NextChunk(output, leadEnd) <= index)
      leadEnd = NextChunk(output, leadEnd);
    if (leadEnd > movi + 12) allowed.emplace_back(movi + 12, leadEnd);
  }
  // The placeholders after the movi data run from trailingFrom up to the
  // index, one after another. A chunk where the source has one of the same
  // stream is a kept one, resized perhaps, and not their first.
  std::int64_t trailingFrom = index;
  {
    std::vector<std::int64_t> firsts;
    for (std::int64_t e = index + 8; e < index + 8 + indexSize; e += 16) {
      const std::int64_t header = movi + 8 + static_cast<std::int64_t>(Le32(output, e + 8));
      if (header >= leadEnd && placeholder(header) && Le32(output, header) == Le32(output, e) &&
          Le32(output, header + 4) == Le32(output, e + 12) &&
          (srcSize - header < 8 || Le32(source, header) != Le32(output, header)))
        firsts.push_back(header);
    }
    std::sort(firsts.begin(), firsts.end());
    for (std::int64_t first : firsts) {
      std::int64_t at = first;
      while (at < index && placeholder(at)) at = NextChunk(output, at);
      if (at == index) {
        trailingFrom = first;
        break;
      }
    }
  }
  std::vector<std::int64_t> indexed;
  for (std::int64_t e = index + 8; e < index + 8 + indexSize; e += 16) {
    // Named only on failure: a film has entries by the hundred thousand.
    auto which = [&] { return "entry " + std::to_string((e - index - 8) / 16) + ": "; };
    const std::uint32_t id = Le32(output, e), flags = Le32(output, e + 4), size = Le32(output, e + 12);
    const std::int64_t header = movi + 8 + static_cast<std::int64_t>(Le32(output, e + 8));
    if (flags != 0 && flags != 0x10) return which() + "flags are neither 0 nor the key-frame flag";
    if (header >= movi + 12 && header < leadEnd) {
      if (!indexed.empty()) return which() + "a lost start's placeholder after a kept chunk";
      if (Le32(output, header) != id || Le32(output, header + 4) != size)
        return which() + "names no placeholder chunk of the lost start";
      continue;
    }
    if (header >= trailingFrom) {
      if (!placeholder(header) || Le32(output, header) != id || Le32(output, header + 4) != size)
        return which() + "names no placeholder chunk after the movi data";
      continue;
    }
    if (header < movi + 12 || (!indexed.empty() && header <= indexed.back()))
      return which() + "offset out of order or before the data";
    if (header + 8 + static_cast<std::int64_t>(size) > index) return which() + "chunk runs past the walk's end";
    if (header + 8 > srcSize) return which() + "points past the end of the source";
    // A chunk whose header is damaged may come back through the source's own
    // old index: that index names it, with the code and size its header in
    // the output now gives, and the damage left most of that header.
    if ((Le32(source, header) != id || Le32(source, header + 4) != size) &&
        witness.Names(header, id, size) && Le32(output, header) == id &&
        Le32(output, header + 4) == size && DifferingBytes(source, header, id, size) <= 2) {
      allowed.emplace_back(header, header + 8);
      indexed.push_back(header);
      continue;
    }
    if (!IsStreamId(source, header)) return which() + "no stream chunk header there";
    if (Le32(source, header) != id) return which() + "id differs from the chunk header";
    // A chunk whose size lies, or that a cut ends, is indexed with the size
    // of its data, which its header in the output then gives; that data is
    // the source's own.
    if (Le32(source, header + 4) != size) {
      if (Le32(output, header + 4) != size) return which() + "size differs from the chunk header";
      if (header + 8 + static_cast<std::int64_t>(size) > srcSize) return which() + "resized past the source's end";
      allowed.emplace_back(header + 4, header + 8);
    }
    indexed.push_back(header);
  }
  if (pastSource && trailingFrom == index) return "the movi list size points outside the source";
  // They come after every kept chunk, from a position even from the list's
  // start: a zero pad byte may come first.
  if (trailingFrom < index) {
    const std::int64_t dataEnd = indexed.empty() ? leadEnd : NextChunk(output, indexed.back());
    if (trailingFrom < dataEnd) return "a kept chunk runs into the placeholders after the movi data";
    // (The walk may end past the last chunk indexed: at an index met after
    // damage it searched over, say.)
    const bool pad = trailingFrom - 1 >= dataEnd && ((trailingFrom - movi) & 1) == 0 && output[trailingFrom - 1] == 0;
    allowed.emplace_back(pad ? trailingFrom - 1 : trailingFrom, index);
  }
  // Without room for an idx1, the first segment's chunks are those its list
  // holds, one after another: a chunk whose size lied has the size of its
  // data in the output, as an indexed one has.
  if (noRoom)
    for (std::int64_t header = movi + 12; index - header >= 8 && IsStreamId(output, header);
         header = NextChunk(output, header)) {
      if (srcSize - header < 8 || Le32(source, header) != Le32(output, header)) break;
      if (header + 8 + static_cast<std::int64_t>(Le32(output, header + 4)) > index) break;
      if (Le32(source, header + 4) != Le32(output, header + 4)) allowed.emplace_back(header + 4, header + 8);
    }
  // Where the walk ended before the list's end, an in-place rebuild, which
  // keeps the list's end where it was, closes it with one JUNK chunk from
  // the walk's end to the index (or to the placeholders before it): after
  // the last chunk indexed (or the list's start), and after what the walk
  // passed over there that is no stream chunk (other lists, JUNK, old index
  // chunks), which stays as it was. An index written past the old end of
  // the file, with placeholders, stays there: the JUNK chunk then spans the
  // old tail and the hole after it.
  {
    const std::int64_t walkEnd = indexed.empty() ? movi + 12 : NextChunk(output, indexed.back());
    bool closed = false;
    for (std::int64_t junk = walkEnd; trailingFrom - junk >= 8 && junk < outSize - 8 && !closed; ++junk)
      if (Le32(output, junk) == Code("JUNK") &&
          junk + 8 + static_cast<std::int64_t>(Le32(output, junk + 4)) == trailingFrom) {
        closed = true;
        allowed.emplace_back(junk, junk + 8);
        // A zero pad byte after a walk that ended on an odd position.
        if (junk > walkEnd && ((junk - movi) & 1) == 0 && output[junk - 1] == 0) allowed.emplace_back(junk - 1, junk);
      }
    if (pastSource && trailingFrom > srcSize && !(inPlace && closed))
      return "the movi list size points outside the source";
  }
  if (farIndex) {
    const std::int64_t dataEnd = indexed.empty() ? movi + 12 : NextChunk(output, indexed.back());
    if (dataEnd > srcSize) return "the data runs past the source's end";
    allowed.emplace_back(dataEnd, index);
  }
  std::int64_t differs = FirstDifferenceOutside(source, output, 0, std::min(index - 1, srcSize), allowed);
  if (differs < 0 && !farIndex && trailingFrom == index && output[index - 1] != 0 &&
      (index - 1 >= srcSize || output[index - 1] != source[index - 1]))
    differs = index - 1;
  if (differs >= 0) return "byte " + std::to_string(differs) + " differs from the source";
  for (std::int64_t chunk : ReachableFrom(source, movi))
    if (!noRoom && !std::binary_search(indexed.begin(), indexed.end(), chunk))
      return "the reachable stream chunk at " + std::to_string(chunk) + " is not indexed";
  return "";
}

}  // namespace

std::string CheckRebuild(ByteView source, ByteView output, bool endsAfterIndex, bool inPlace) {
  return CheckRebuilt(source, output, endsAfterIndex, 0, inPlace);
}

std::string CheckMovedCopy(ByteView source, ByteView output, std::int64_t shift) {
  const std::int64_t outSize = static_cast<std::int64_t>(output.size());
  if (shift <= 0) return "data said to be moved by " + std::to_string(shift) + " bytes";
  if (outSize < 24 || Le32(output, 0) != Code("RIFF") || Le32(output, 8) != Code("AVI ") ||
      Le32(output, 12) != Code("LIST") || Le32(output, 20) != Code("hdrl"))
    return "data moved along without a new header list in front of it";
  const std::int64_t movi = 20 + static_cast<std::int64_t>(Le32(output, 16));
  const std::int64_t from = movi - shift;
  if (from < 0 || from > static_cast<std::int64_t>(source.size()))
    return "the data moved from " + std::to_string(from) + ", outside the source";
  Bytes moved(source.begin(), source.begin() + from);
  moved.resize(static_cast<std::size_t>(movi), 0);
  moved.insert(moved.end(), source.begin() + from, source.end());
  return CheckRebuilt(moved, output, true, shift);
}

std::string CheckUnfinishedInPlace(ByteView source, ByteView after, bool failedMidway) {
  if (Same(after, source)) return "";
  // Fully indexed, though perhaps not cut after its index (a truncation
  // that failed once everything else was written).
  const std::string why = CheckRebuild(source, after, false, true);
  if (why.empty() || !failedMidway) return why.empty() ? "" : "neither untouched nor fully indexed: " + why;
  // The list's end moved to the index written past the old end, and what
  // was written after that cut short: players read that index.
  if (CheckRebuilt(source, after, false, 0, true, true).empty()) return "";
  // The new index written, the movi size not yet (it is written last, so an
  // index it points at is complete): the movi size and the data a reader
  // reaches must still be the source's.
  const auto candidates = MoviCandidates(source);
  if (candidates.empty()) {
    // A file whose data was found by its chunks (its start, the movi list's
    // header with it, lost) takes a new header list in front of them and
    // its index after them: the chunks a reader reaches from where the
    // engine took the data to start (any of the places it may) are as they
    // were, but for the sizes a rebuild corrects.
    auto unchanged = [&](std::int64_t chunk) {
      const std::int64_t end = std::min<std::int64_t>(NextChunk(source, chunk), source.size());
      return static_cast<std::int64_t>(after.size()) >= end && Le32(after, chunk) == Le32(source, chunk) &&
             std::equal(source.begin() + chunk + 8, source.begin() + end, after.begin() + chunk + 8);
    };
    for (const std::vector<std::int64_t>& reachable : ReachableStreamChunks(source))
      if (!reachable.empty() && std::all_of(reachable.begin(), reachable.end(), unchanged)) return "";
    return "a write that failed midway changed a file without a movi list where its data may be: " + why;
  }
  std::int64_t dataEnd = static_cast<std::int64_t>(source.size());
  for (std::int64_t movi : candidates) {
    const auto reachable = ReachableFrom(source, movi);
    dataEnd = std::min(dataEnd, reachable.empty() ? movi + 12 : NextChunk(source, reachable.back()));
  }
  const std::int64_t firstMovi = *std::min_element(candidates.begin(), candidates.end());
  Ranges fields = CorrectableHeaderFields(source, firstMovi);
  // Where the header list is damaged, a new one is written first over the
  // bytes before movi.
  fields.emplace_back(0, firstMovi);
  if (static_cast<std::int64_t>(after.size()) < dataEnd) return "a write that failed midway cut the data: " + why;
  // The sizes of chunks that the rebuild gives the size of their data may
  // be written already: a stream chunk's size field now claiming no more
  // than the source holds.
  OldIndexWitness witness(source, firstMovi);
  // Each allowed field found goes on from where it starts: what lies
  // before it was judged already.
  std::int64_t judgedTo = 0;
  for (std::int64_t d = FirstDifferenceOutside(source, after, 0, dataEnd, fields); d >= 0;
       d = FirstDifferenceOutside(source, after, judgedTo, dataEnd, fields)) {
    std::int64_t resized = -1;
    for (std::int64_t h = std::max<std::int64_t>(0, d - 7); h <= d - 4 && resized < 0; ++h)
      if (h + 8 <= static_cast<std::int64_t>(source.size()) && IsStreamId(source, h) &&
          h + 8 + static_cast<std::int64_t>(Le32(after, h + 4)) <= static_cast<std::int64_t>(source.size()))
        resized = h;
    if (resized >= 0) {
      fields.emplace_back(resized + 4, resized + 8);
      judgedTo = std::min(d, resized + 4);
      continue;
    }
    // Or a header the source's old index gave its code and size back.
    std::int64_t vouched = -1;
    for (std::int64_t h = std::max<std::int64_t>(0, d - 7); h <= d && vouched < 0; ++h)
      if (h + 8 <= static_cast<std::int64_t>(std::min(source.size(), after.size())) &&
          witness.Names(h, Le32(after, h), Le32(after, h + 4)) &&
          DifferingBytes(source, h, Le32(after, h), Le32(after, h + 4)) <= 2)
        vouched = h;
    if (vouched < 0) return "a write that failed midway changed the movi size or the data before the new index: " + why;
    fields.emplace_back(vouched, vouched + 8);
    judgedTo = std::min(d, vouched);
  }
  return "";
}

std::vector<std::string> CheckWorkerRun(const std::string& folder, const WorkerCase& c,
                                        std::initializer_list<Mode> modes) {
  // The film goes to disk once, as the reference every mode copies and is
  // judged against.
  const std::string reference = folder + "/reference.avi";
  c.Source.WriteTo(reference);
  const MappedFile source(reference);
  std::vector<std::string> broken;
  for (Mode mode : modes)
    for (std::string& b : RunOne(folder, c, source.View(), mode)) broken.push_back(std::move(b));
  return broken;
}

std::vector<std::string> CheckWorkerRun(const std::string& folder, const Bytes& bytes, Mode mode) {
  WorkerCase c;
  c.Source.Payload = bytes;
  return CheckWorkerRun(folder, c, {mode});
}

}  // namespace ZantrelFuzz
