// A rebuild never makes a file worse: damage that once ended the walk early
// or put phantom entries in the index (a lying size field, garbage holding
// chunk-like codes, an old index whose header was wiped), a copy's name that
// leads back to its source, a copy that fails or is stopped while it is being
// finished. The oracle is the list of chunks the test's own writer put in the
// file: every chunk the damage left intact is indexed, and nothing else but
// chunks of that list.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <random>
#include <set>
#include <thread>

#include "engine/EngineMessages.h"
#include "batch/ExistingOutput.h"
#include "engine/IndexRebuilder.h"
#include "lang/Language.h"
#include "support/AviBuilder.h"
#include "support/FaultySystemCalls.h"
#include "support/OdmlReader.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;
using VEKRiff::IndexRebuilder;
using VEKRiff::RebuildEvent;

enum class Mode { Check, Copy, InPlace };

const char* Name(Mode m) { return m == Mode::Check ? "check" : m == Mode::Copy ? "copy" : "in place"; }

WorkerRunOptions For(Mode mode) {
  WorkerRunOptions o;
  o.CheckOnly = mode == Mode::Check;
  o.KeepOriginal = mode != Mode::InPlace;
  return o;
}

// Interleaved video and audio of varied sizes, the way a muxer writes them,
// closed by the muxer's idx1.
AviBuilder Film(int pairs, std::uint32_t videoSize) {
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < pairs; ++i)
    b.Chunk("00dc", videoSize + static_cast<std::uint32_t>((i * 37) % 301), static_cast<unsigned char>(0x30 + i % 7))
        .Chunk("01wb", 64 + (i % 3), 0x77);
  b.EndMovi().Idx1();
  return b;
}

bool IsVideo(const ExpectedEntry& e) { return (e.Code >> 16) == Code("00dc") >> 16; }

std::vector<ExpectedEntry> Strip(std::vector<ExpectedEntry> v) {
  for (auto& e : v) e.Position = -1;
  return v;
}

int PartialFiles(const TempDir& dir) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
    count += entry.path().filename().string().find(".zantrel-partial") != std::string::npos;
  return count;
}

// One damaged file: its bytes, the chunks its writer put in it, and the byte
// ranges the damage touched.
struct Damaged {
  Bytes Source;
  std::vector<ExpectedEntry> Chunks;
  std::vector<std::pair<std::int64_t, std::int64_t>> Touched;  // [begin, end)
  std::int64_t MoviOffset = 0;
  // Chunks the damage touched that a rebuild still keeps, each with the size
  // its header then gives: the data is all there (a size field that lies),
  // or as much of it as there is (a download cut inside it).
  std::vector<ExpectedEntry> Kept;
  bool IsIntact(const ExpectedEntry& e) const {
    const std::int64_t end = e.Position + 8 + e.Size + (e.Size & 1);
    return std::none_of(Touched.begin(), Touched.end(),
                        [&](const auto& t) { return t.first < end && e.Position < t.second; });
  }
};

Damaged FromBuilder(const AviBuilder& b) { return {b.Build(), b.StreamChunks(), {}, b.MoviOffset(), {}}; }

// Case 1: one byte of the top of a chunk's size changed, so that the chunk
// claims to run past the end of the file.
Damaged TopByteFlipped(int chunk) {
  Damaged d = FromBuilder(Film(40, 200));
  const std::int64_t at = d.Chunks[chunk].Position + 7;
  d.Source[at] ^= 0x40;
  d.Touched.push_back({at, at + 1});
  // The walk finds the next chunk where the true size ends the damaged one.
  d.Kept.push_back(d.Chunks[chunk]);
  return d;
}

// Case 2: random bytes over the middle, holding chunk-like codes planted on
// purpose: a video code whose size runs past the end of the file, and an
// audio code whose size lands inside the garbage (too large for the audio
// chunks walked so far, so nothing vouches for it).
Damaged GarbageOverTheMiddle(std::size_t length, unsigned seed) {
  Damaged d = FromBuilder(Film(300, 1000));
  std::mt19937 random(seed);
  const std::int64_t begin = static_cast<std::int64_t>(d.Source.size() / 2 - length / 2 + random() % 997);
  for (std::size_t i = 0; i < length; ++i) d.Source[begin + i] = static_cast<unsigned char>(random());
  auto plant = [&](std::int64_t at, const char* code, std::uint32_t size) {
    VEK::StoreLe32(&d.Source[at], Code(code));
    VEK::StoreLe32(&d.Source[at + 4], size);
  };
  plant(begin + 16, "00dc", 0xF1234567u);
  plant(begin + 101, "01wb", static_cast<std::uint32_t>(length / 2));
  plant(begin + static_cast<std::int64_t>(length) / 2, "00dc", 0x7FFFFFF0u);
  d.Touched.push_back({begin, begin + static_cast<std::int64_t>(length)});
  return d;
}

// Case 7: the 8-byte header of the old idx1 wiped, so that its entries
// (code, flags, offset, size) are what the walk meets after the data.
Damaged IndexHeaderZeroed(bool muxerFlags) {
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < 30; ++i) b.Chunk("00dc", 300 + i * 11).Chunk("01wb", 40);
  b.EndMovi();
  if (muxerFlags) {
    // As ffmpeg writes it: key frames flagged, audio not, so that some
    // entries read as empty chunks and others as 16-byte ones.
    Bytes idx1(8 + 16 * b.StreamChunks().size());
    VEK::StoreLe32(&idx1[0], Code("idx1"));
    VEK::StoreLe32(&idx1[4], static_cast<std::uint32_t>(idx1.size() - 8));
    for (std::size_t i = 0; i < b.StreamChunks().size(); ++i) {
      const ExpectedEntry& e = b.StreamChunks()[i];
      VEK::StoreLe32(&idx1[8 + 16 * i], e.Code);
      VEK::StoreLe32(&idx1[12 + 16 * i], IsVideo(e) && i % 10 == 0 ? 0x10 : 0);
      VEK::StoreLe32(&idx1[16 + 16 * i], e.Offset);
      VEK::StoreLe32(&idx1[20 + 16 * i], e.Size);
    }
    b.Raw(idx1);
  } else {
    b.Idx1();
  }
  Damaged d = FromBuilder(b);
  const std::int64_t header = d.Chunks.back().Position + 8 + d.Chunks.back().Size;
  std::fill(d.Source.begin() + header, d.Source.begin() + header + 8, 0);
  d.Touched.push_back({header, header + 8});
  return d;
}

// A download cut inside its last chunk: the bytes of that chunk that are
// there are kept, and its header says how many.
Damaged CutInsideTheLastChunk() {
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < 20; ++i) b.Chunk("00dc", 500).Chunk("01wb", 40);
  Damaged d = FromBuilder(b);
  const std::int64_t cut = d.Chunks.back().Position + 20;
  d.Source.resize(cut);
  d.Touched.push_back({cut, cut + 1});
  ExpectedEntry rest = d.Chunks.back();
  rest.Size = 12;
  d.Kept.push_back(rest);
  return d;
}

// Case 1 in a film of ffmpeg's: 1 video and 11 audio streams numbered in
// decimal ("10wb" is stream 10).
Damaged DecimalStreamsSizeFlipped(int chunk) {
  AviBuilder b(StreamDigits::Decimal);
  b.StartMovi();
  for (int i = 0; i < 10; ++i) {
    b.Chunk("00dc", 200 + static_cast<std::uint32_t>(i * 13), 0x31);
    for (const char* code : {"01wb", "02wb", "03wb", "04wb", "05wb", "06wb", "07wb", "08wb", "09wb", "10wb", "11wb"})
      b.Chunk(code, 48, 0x77);
  }
  Damaged d = FromBuilder(b.EndMovi().Idx1());
  const std::int64_t at = d.Chunks[chunk].Position + 7;
  d.Source[at] ^= 0x40;
  d.Touched.push_back({at, at + 1});
  d.Kept.push_back(d.Chunks[chunk]);
  return d;
}

// Case 10: one byte of the old index damaged beside chunks the walk
// confirms: an entry's size made smaller (a size that still fits) and an
// entry naming the other audio stream. The chunks keep their headers.
Damaged IndexEntryBesideAConfirmedChunk() {
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < 30; ++i) b.Chunk("00dc", 300 + i * 11).Chunk("01wb", 40 + i % 3).Chunk("02wb", 20);
  b.EndMovi().Idx1();
  Damaged d = FromBuilder(b);
  const std::int64_t entries = d.Chunks.back().Position + 8 + d.Chunks.back().Size + 8;
  auto touch = [&](std::size_t k, int byte, unsigned char value) {
    const std::int64_t at = entries + 16 * static_cast<std::int64_t>(k) + byte;
    d.Source[at] = value;
    d.Touched.push_back({at, at + 1});
  };
  touch(30, 12, static_cast<unsigned char>(d.Source[entries + 16 * 30 + 12] / 2));  // a video chunk's size
  touch(40, 1, '2');                                                                  // 01wb named 02wb
  touch(50, 12, static_cast<unsigned char>(d.Source[entries + 16 * 50 + 12] - 2));  // an audio chunk's size
  return d;
}

struct WalkCase {
  std::string name;
  std::function<Damaged()> make;
  // The walk's corrupted spots: one per damage, perhaps two where a chunk's
  // header survived a stretch of garbage; never one per chunk or old entry.
  // Each spot is an error; other findings (an index or header that no longer
  // agrees with the data) may add errors of their own.
  int minSpots, maxSpots;
  // The index holds exactly the intact chunks; otherwise it may also hold
  // chunks whose header survived the damage (still real chunks).
  bool exact;
};

std::vector<WalkCase> WalkCases() {
  std::vector<WalkCase> cases = {
      {"size of a video chunk in the middle runs past the end", [] { return TopByteFlipped(40); }, 1, 1, true},
      {"size of an audio chunk runs past the end", [] { return TopByteFlipped(21); }, 1, 1, true},
      {"size of the first chunk runs past the end", [] { return TopByteFlipped(0); }, 1, 1, true},
      {"size of the chunk before the old index runs past the end", [] { return TopByteFlipped(79); }, 1, 1, true},
      {"wiped header of the old index", [] { return IndexHeaderZeroed(false); }, 1, 1, true},
      {"wiped header of an old index with the muxer's flags", [] { return IndexHeaderZeroed(true); }, 1, 1, true},
      {"a download cut inside its last chunk", CutInsideTheLastChunk, 0, 0, true},
      {"ffmpeg's decimal stream numbers, the size of stream 10's chunk runs past the end",
       [] { return DecimalStreamsSizeFlipped(34); }, 1, 1, true},
      {"a damaged index entry beside a confirmed chunk", IndexEntryBesideAConfirmedChunk, 0, 0, true},
  };
  for (std::size_t length : {std::size_t{4096}, std::size_t{65536}, std::size_t{200000}})
    for (unsigned seed : {1u, 2u, 3u})
      cases.push_back({"garbage of " + std::to_string(length) + " bytes, seed " + std::to_string(seed),
                       [=] { return GarbageOverTheMiddle(length, seed); }, 1, 2, false});
  return cases;
}

// The rebuilt index against the writer's list: every intact chunk, nothing
// that is not a chunk of the list, in file order. A copy also keeps the
// place of each chunk the damage wiped out: an entry pointing past the
// writer's data, at a placeholder chunk of a damaged chunk's code (empty, or
// of its size); returns how many.
std::size_t ExpectIndexed(const Damaged& d, const Bytes& output, bool exact, const std::string& what) {
  ParsedIndex index = ReadIdx1(output);
  EXPECT_TRUE(index.Found) << what;
  if (!index.Found) return 0;
  std::int64_t dataEnd = 0, placeholdersAt = index.Position;
  for (const ExpectedEntry& e : d.Chunks) dataEnd = std::max(dataEnd, e.Position + 8 + e.Size + (e.Size & 1));
  std::size_t placeholders = 0, damaged = 0;
  for (const ExpectedEntry& e : d.Chunks) damaged += !d.IsIntact(e);
  std::vector<ExpectedEntry> found;
  for (const ExpectedEntry& e : index.Entries) {
    const std::int64_t at = d.MoviOffset + 8 + e.Offset;
    if (at < dataEnd) {
      found.push_back(e);
      continue;
    }
    ++placeholders;
    placeholdersAt = std::min(placeholdersAt, at);
    EXPECT_TRUE(std::any_of(d.Chunks.begin(), d.Chunks.end(),
                            [&](const ExpectedEntry& c) {
                              return !d.IsIntact(c) && c.Code == e.Code && (e.Size == 0 || e.Size == c.Size);
                            }))
        << what << ": a placeholder at movi offset " << e.Offset << " stands for no damaged chunk";
    EXPECT_LT(at + 8 + e.Size, index.Position + 1) << what;
    EXPECT_EQ(VEK::LoadLe32(&output[at]), e.Code) << what;
    EXPECT_EQ(VEK::LoadLe32(&output[at + 4]), e.Size) << what;
  }
  EXPECT_LE(placeholders, damaged) << what;
  index.Entries = found;
  std::vector<ExpectedEntry> intact = d.Kept;
  for (const ExpectedEntry& e : d.Chunks)
    if (d.IsIntact(e)) intact.push_back(e);
  std::sort(intact.begin(), intact.end(), [](const auto& a, const auto& b) { return a.Position < b.Position; });
  if (exact) {
    // Told as the entries too many and too few: the lists run to thousands.
    const std::vector<ExpectedEntry> want = Strip(intact);
    std::string extra, missing;
    for (const ExpectedEntry& e : index.Entries)
      if (std::find(want.begin(), want.end(), e) == want.end()) extra += " " + std::to_string(e.Offset);
    for (const ExpectedEntry& e : want)
      if (std::find(index.Entries.begin(), index.Entries.end(), e) == index.Entries.end())
        missing += " " + std::to_string(e.Offset);
    EXPECT_EQ(extra, "") << what << ": entries (movi offsets) that are no intact chunk";
    EXPECT_EQ(missing, "") << what << ": intact chunks (movi offsets) not indexed";
    EXPECT_EQ(index.Entries.size(), want.size()) << what;
  } else {
    const std::vector<ExpectedEntry> all = Strip(d.Chunks);
    auto from = all.begin();
    for (const ExpectedEntry& e : index.Entries) {
      from = std::find(from, all.end(), e);
      EXPECT_NE(from, all.end()) << what << ": an entry at movi offset " << e.Offset << " is no chunk of the file";
      if (from == all.end()) return placeholders;
    }
    for (const ExpectedEntry& e : Strip(intact))
      EXPECT_NE(std::find(index.Entries.begin(), index.Entries.end(), e), index.Entries.end())
          << what << ": the intact chunk at movi offset " << e.Offset << " is not indexed";
  }
  // The movi data up to the new index is the source's (but the pad byte
  // before an index at an odd end); the headers' sizes and counts may change.
  // In place, where the old index stays readable until the new one is
  // whole, the new one stays past the old end with its placeholders: the
  // list's rest, from the data's end to them, is then one JUNK chunk.
  std::int64_t sourceTo = placeholdersAt;
  if (placeholdersAt > static_cast<std::int64_t>(d.Source.size()) + 1) {
    EXPECT_EQ(VEK::LoadLe32(&output[dataEnd]), Code("JUNK")) << what;
    EXPECT_EQ(dataEnd + 8 + VEK::LoadLe32(&output[dataEnd + 4]), placeholdersAt) << what;
    sourceTo = dataEnd + 1;
  }
  auto resized = [&](std::int64_t i) {
    return std::any_of(d.Kept.begin(), d.Kept.end(), [i](const auto& e) { return i >= e.Position + 4 && i < e.Position + 8; });
  };
  for (std::int64_t i = d.MoviOffset + 8; i + 1 < sourceTo; ++i)
    if (!resized(i)) {
      EXPECT_EQ(output[i], d.Source[i]) << what << ": byte " << i;
      if (output[i] != d.Source[i]) break;
    }
  for (const ExpectedEntry& e : d.Kept)
    EXPECT_EQ(VEK::LoadLe32(&output[e.Position + 4]), e.Size) << what << ": the header of the chunk kept at " << e.Position;
  return placeholders;
}

void ExpectEveryIntactChunkIndexed(const std::vector<WalkCase>& cases) {
  for (const WalkCase& c : cases) {
    const Damaged d = c.make();
    int intactVideo = 0;
    for (const ExpectedEntry& e : d.Chunks) intactVideo += d.IsIntact(e) && IsVideo(e);
    Bytes copied;
    std::size_t placeholders = 0;
    for (Mode mode : {Mode::Check, Mode::Copy, Mode::InPlace}) {
      const std::string what = c.name + ", " + Name(mode);
      TempDir dir;
      WriteFile(dir / "a.avi", d.Source);
      const WorkerRunResult r = RunWorker({dir / "a.avi"}, For(mode));
      const auto spots = std::count_if(r.Lines.begin(), r.Lines.end(), [](const std::string& line) {
        return line.rfind("Corrupted data found at file offset", 0) == 0;
      });
      EXPECT_GE(spots, c.minSpots) << what;
      EXPECT_LE(spots, c.maxSpots) << what;
      EXPECT_GE(r.LastErrorCount, spots) << what;
      EXPECT_GE(r.LastVideo, intactVideo) << what;
      if (mode == Mode::Check) {
        EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{r.LastErrorCount > 0 ? VEKRiff::FileError : VEKRiff::FileOk})
            << what;
        EXPECT_EQ(ReadFile(dir / "a.avi"), d.Source) << what;
        continue;
      }
      EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt}) << what;
      const Bytes out = ReadFile(dir / (mode == Mode::Copy ? "Zantrel.a.avi" : "a.avi"));
      const std::size_t kept = ExpectIndexed(d, out, c.exact, what);
      if (mode == Mode::Copy) {
        EXPECT_EQ(ReadFile(dir / "a.avi"), d.Source) << what << ": the source of a copy was touched";
        copied = out;
        placeholders = kept;
      } else if (placeholders == 0) {
        // (A file rebuilt in place keeps no lost chunk's place yet.)
        EXPECT_EQ(out, copied) << what << ": in place and copy differ";
      }
      EXPECT_EQ(PartialFiles(dir), 0) << what;
    }
  }
}

TEST(NeverWorse, EveryIntactChunkIsIndexedAndTheDamageCountedInEveryMode) {
  ExpectEveryIntactChunkIndexed(WalkCases());
}

// An OpenDML film carved from a disk from its first movi list on, behind
// `stray` bytes that are no part of it: two AVIX segments follow its idx1,
// on the movi list's parity (odd behind one stray byte). With
// indexSizeWrong, the idx1's size field claims more than the index holds,
// so that the next segment is not where it says; with gapByte, one byte lies
// between the index and the first segment, which puts both segments on the
// other parity; with indexLost, the segments follow the movi list right
// where the idx1 was. The writer's list holds every chunk of every segment,
// at positions in the carved bytes.
struct Carved {
  Bytes File;
  Bytes Whole;  // the film it was carved from
  std::vector<ExpectedEntry> Chunks;
};

Carved CarvedOpenDml(int stray, bool indexSizeWrong, bool gapByte = false, bool indexLost = false,
                     int laterSegments = 2) {
  AviBuilder b;
  b.StartMovi();
  auto frames = [&](int from, int count) {
    for (int i = from; i < from + count; ++i)
      b.Chunk("00dc", 300 + static_cast<std::uint32_t>((i * 37) % 101), static_cast<unsigned char>(0x30 + i % 7))
          .Chunk("01wb", 41 + static_cast<std::uint32_t>(i % 2), 0x77);
  };
  frames(0, 20);
  b.EndMovi();
  const std::int64_t idx1 = b.Size();
  if (!indexLost) b.Idx1();
  if (gapByte) b.Raw({0x4B});
  std::vector<std::int64_t> segments;
  for (int segment = 1; segment <= laterSegments; ++segment) {
    segments.push_back(b.Size());
    Bytes header(24, 0);
    for (auto [at, code] : {std::pair{0, "RIFF"}, {8, "AVIX"}, {12, "LIST"}, {20, "movi"}})
      VEK::StoreLe32(&header[at], Code(code));
    b.Raw(header);
    frames(segment * 20, 20);
  }
  Bytes built = b.Build();
  if (indexSizeWrong) VEK::StoreLe32(&built[idx1 + 4], VEK::LoadLe32(&built[idx1 + 4]) + 0x100);
  const auto end = static_cast<std::int64_t>(built.size());
  for (std::size_t k = 0; k < segments.size(); ++k) {
    const std::int64_t riff = segments[k], next = k + 1 < segments.size() ? segments[k + 1] : end;
    VEK::StoreLe32(&built[riff + 4], static_cast<std::uint32_t>(next - riff - 8));
    VEK::StoreLe32(&built[riff + 16], static_cast<std::uint32_t>(next - riff - 20));
  }
  Carved c;
  c.Whole = built;
  c.File.assign(static_cast<std::size_t>(stray), 0x4B);
  c.File.insert(c.File.end(), built.begin() + b.MoviOffset(), built.end());
  c.Chunks = b.StreamChunks();
  for (ExpectedEntry& e : c.Chunks) e.Position += stray - b.MoviOffset();
  return c;
}

// The carved film, at either parity: the check counts every frame, the copy
// (its header list rebuilt from the healthy film's, the data moved along
// behind it) is one chain of RIFFs that describes every chunk of every
// segment, with the source's bytes, and checks sound. Segments on the other
// parity than the first movi list are moved on by one more byte, and as far
// as the first segment's idx1 needs where the carved film lost its own.
TEST(NeverWorse, ACarvedOpenDmlFilmKeepsEverySegmentOnEitherParity) {
  const struct {
    int stray;
    bool indexSizeWrong, gapByte, indexLost;
  } rows[] = {{0, false, false, false}, {1, false, false, false}, {2, false, false, false}, {3, false, false, false},
              {1, true, false, false},  {0, true, false, false},  {1, false, true, false},  {0, false, true, false},
              {1, true, true, false},   {0, false, false, true},  {1, false, false, true},  {1, false, true, true}};
  for (const auto& [stray, indexSizeWrong, gapByte, indexLost] : rows) {
    SCOPED_TRACE(std::to_string(stray) + " stray bytes" + (indexSizeWrong ? ", idx1 size wrong" : "") +
                 (gapByte ? ", a byte before the segments" : "") + (indexLost ? ", idx1 lost" : ""));
    const Carved c = CarvedOpenDml(stray, indexSizeWrong, gapByte, indexLost);
    const auto video = std::count_if(c.Chunks.begin(), c.Chunks.end(), IsVideo);
    TempDir dir;
    WriteFile(dir / "carved.avi", c.File);
    WriteFile(dir / "whole.avi", c.Whole);
    const WorkerRunResult check = RunWorker({dir / "carved.avi"}, For(Mode::Check));
    EXPECT_EQ(check.LastVideo, video);
    WorkerRunOptions withReference = For(Mode::Copy);
    withReference.Reference = dir / "whole.avi";
    const WorkerRunResult copy = RunWorker({dir / "carved.avi"}, withReference);
    ASSERT_EQ(copy.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt});
    EXPECT_EQ(copy.LastVideo, video);
    const std::string out = dir / "Zantrel.carved.avi";
    const Parsed after = OdmlReader(out).Parse();
    EXPECT_TRUE(after.ChainReachesEnd);
    EXPECT_EQ(after.Problems, std::vector<std::string>{});
    ASSERT_EQ(after.Riffs.size(), 3u);
    // The first segment's chunks (20 frames of two chunks), in its idx1 too.
    EXPECT_EQ(after.Idx1.size(), 40u);
    // Each described chunk, in file order, is the writer's next one: its
    // stream, its size and its bytes.
    const Bytes copied = ReadFile(out);
    std::vector<std::tuple<std::int64_t, int, std::uint32_t>> described;
    for (const auto& [stream, at, size, key] : after.Chunks) described.emplace_back(at, stream, size);
    std::sort(described.begin(), described.end());
    ASSERT_EQ(described.size(), c.Chunks.size());
    for (std::size_t k = 0; k < c.Chunks.size(); ++k) {
      const ExpectedEntry& e = c.Chunks[k];
      const auto [at, stream, size] = described[k];
      const int want = static_cast<int>((e.Code & 0xFF) - '0') * 10 + static_cast<int>(((e.Code >> 8) & 0xFF) - '0');
      ASSERT_EQ(std::pair(stream, size), std::pair(want, e.Size)) << "chunk " << k;
      ASSERT_LE(at + size, static_cast<std::int64_t>(copied.size())) << "chunk " << k;
      EXPECT_TRUE(std::equal(copied.begin() + at, copied.begin() + at + size, c.File.begin() + e.Position + 8))
          << "chunk " << k << ": not the source's bytes";
    }
    const WorkerRunResult again = RunWorker({out}, For(Mode::Check));
    EXPECT_EQ(again.LastVideo, video);
    EXPECT_EQ(again.LastErrorCount, 0);
  }
}

// A whole OpenDML film whose first movi list header is lost: the search for
// movi finds the AVIX segment's list first, but the first segment's chunks,
// found by their codes, come before it. Each chunk of every segment is
// described where it lies, with the source's bytes, and the idx1 counts the
// first segment's chunks from the list the rebuild writes for them (none
// where the first segment's data reaches the next RIFF and the file is
// rebuilt in place: there is no room for it).
TEST(NeverWorse, AnOpenDmlFilmWhoseFirstMoviHeaderIsLostKeepsItsFirstSegment) {
  const struct {
    bool indexLost;
    Mode mode;
  } rows[] = {{false, Mode::Copy}, {false, Mode::InPlace}, {true, Mode::Copy}, {true, Mode::InPlace}};
  for (const auto& [indexLost, mode] : rows) {
    SCOPED_TRACE(std::string(indexLost ? "idx1 lost, " : "idx1 kept, ") + Name(mode));
    const Carved c = CarvedOpenDml(0, false, false, indexLost);
    Bytes film = c.Whole;
    // The first segment's list: the first "LIST....movi" of the file.
    std::int64_t movi = 0;
    while (movi + 12 <= static_cast<std::int64_t>(film.size()) &&
           !(VEK::LoadLe32(&film[movi]) == Code("LIST") && VEK::LoadLe32(&film[movi + 8]) == Code("movi")))
      ++movi;
    ASSERT_LT(movi + 12, static_cast<std::int64_t>(film.size()));
    std::fill(film.begin() + movi, film.begin() + movi + 12, 0);
    std::vector<ExpectedEntry> chunks = c.Chunks;
    for (ExpectedEntry& e : chunks) e.Position += movi;  // the carved positions counted from movi
    const auto video = std::count_if(chunks.begin(), chunks.end(), IsVideo);
    TempDir dir;
    WriteFile(dir / "film.avi", film);
    EXPECT_EQ(RunWorker({dir / "film.avi"}, For(Mode::Check)).LastVideo, video);
    const WorkerRunResult run = RunWorker({dir / "film.avi"}, For(mode));
    ASSERT_EQ(run.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt});
    EXPECT_EQ(run.LastVideo, video);
    const std::string out = dir / (mode == Mode::Copy ? "Zantrel.film.avi" : "film.avi");
    const Parsed after = OdmlReader(out).Parse();
    EXPECT_TRUE(after.ChainReachesEnd);
    EXPECT_EQ(after.Problems, std::vector<std::string>{});
    ASSERT_EQ(after.Riffs.size(), 3u);
    const Bytes written = ReadFile(out);
    std::vector<std::tuple<std::int64_t, int, std::uint32_t>> described;
    for (const auto& [stream, at, size, key] : after.Chunks) described.emplace_back(at, stream, size);
    std::sort(described.begin(), described.end());
    ASSERT_EQ(described.size(), chunks.size());
    for (std::size_t k = 0; k < chunks.size(); ++k) {
      const ExpectedEntry& e = chunks[k];
      const auto [at, stream, size] = described[k];
      const int want = static_cast<int>((e.Code & 0xFF) - '0') * 10 + static_cast<int>(((e.Code >> 8) & 0xFF) - '0');
      ASSERT_EQ(std::pair(stream, size), std::pair(want, e.Size)) << "chunk " << k;
      ASSERT_LE(at + size, static_cast<std::int64_t>(written.size())) << "chunk " << k;
      EXPECT_TRUE(std::equal(written.begin() + at, written.begin() + at + size, film.begin() + e.Position + 8))
          << "chunk " << k << ": not the source's bytes";
    }
    // The idx1 names the first segment's chunks where they lie.
    const std::size_t firstSegment = indexLost && mode == Mode::InPlace ? 0 : 40;
    ASSERT_EQ(after.Idx1.size(), firstSegment);
    for (std::size_t k = 0; k < firstSegment; ++k)
      EXPECT_EQ(std::pair(after.Idx1[k].Position + 8, after.Idx1[k].Size),
                std::pair(std::get<0>(described[k]), std::get<2>(described[k])))
          << "idx1 entry " << k;
    const WorkerRunResult again = RunWorker({out}, For(Mode::Check));
    EXPECT_EQ(again.LastVideo, video);
    EXPECT_EQ(again.LastErrorCount, 0);
  }
}

// Later segments whose RIFF headers are all damaged: where no header says
// the film ends at its index (the carved film has none left), each is found
// by its movi list, said and counted as the error it is, and its frames are
// kept. In a film whose headers say it ends at its index (the whole film's
// list has no OpenDML headers), the walk ends there, and the check and the
// rebuild say how much of the file they leave out, in a plain line. A
// healthy film, carved or whole, whose segments are found, gets neither.
TEST(NeverWorse, DataAfterTheIndexThatTheWalkCannotReachIsSaid) {
  const struct {
    const char* name;
    bool whole;
    bool damaged;   // the RIFF codes of both later segments
    bool leftOut;   // the rest of the file said to be left out
    bool found;     // each damaged segment said to be found by its movi list
  } rows[] = {{"carved, healthy", false, false, false, false},
              {"whole, healthy", true, false, false, false},
              {"carved, segment headers damaged", false, true, false, true},
              {"whole, segment headers damaged", true, true, true, false}};
  for (const int stray : {0, 1}) {
    // The healthy film's errors (its headers, or their loss, disagree with
    // the data), which the damaged one has too; by whether it is whole.
    int healthyErrors[2] = {0, 0};
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(row.name) + ", " + std::to_string(stray) + " stray bytes");
      const Carved c = CarvedOpenDml(stray, false);
      Bytes file = row.whole ? c.Whole : c.File;
      std::vector<std::int64_t> riffs;
      for (std::size_t at = 0; at + 12 <= file.size(); ++at)
        if (VEK::LoadLe32(&file[at]) == Code("RIFF") && VEK::LoadLe32(&file[at + 8]) == Code("AVIX"))
          riffs.push_back(static_cast<std::int64_t>(at));
      ASSERT_EQ(riffs.size(), 2u);
      if (row.damaged)
        for (std::int64_t riff : riffs) file[riff + 1] ^= 0x20;
      const std::int64_t movi = riffs[0] + 12;
      const std::string line =
          VEK::Text(VEKRiff::Msg::DataAfterIndex, {static_cast<std::int64_t>(file.size()) - movi, movi});
      const auto video = std::count_if(c.Chunks.begin(), c.Chunks.end(), IsVideo);
      TempDir dir;
      WriteFile(dir / "film.avi", file);
      for (Mode mode : {Mode::Check, Mode::Copy}) {
        const WorkerRunResult r = RunWorker({dir / "film.avi"}, For(mode));
        EXPECT_EQ(std::count(r.Lines.begin(), r.Lines.end(), line), row.leftOut ? 1 : 0);
        for (std::int64_t riff : riffs)
          EXPECT_EQ(std::count(r.Lines.begin(), r.Lines.end(),
                               VEK::Text(VEKRiff::Msg::SegmentRiffLost, {riff, riff + 12})),
                    row.found ? 1 : 0);
        if (mode != Mode::Check) continue;
        EXPECT_EQ(r.LastVideo, row.leftOut ? video / 3 : video);
        if (!row.damaged) healthyErrors[row.whole] = r.LastErrorCount;
        else if (row.found) EXPECT_EQ(r.LastErrorCount, healthyErrors[row.whole] + 2);
      }
    }
  }
}

// A carved OpenDML film whose later segment's RIFF header is damaged: the
// walk finds a middle one by its movi list, whole, right after the damaged
// header, between the index and the segment after it, and the last one
// after the index or where the segment before it ends. Every chunk is kept,
// a line says the header is damaged (an error), and a copy (with the whole
// film's header list) writes the header again and describes every chunk
// where it lies. A damaged RIFF size alone says nothing: the segment is
// found by its codes.
TEST(NeverWorse, ALaterSegmentWhoseRiffHeaderIsDamagedKeepsItsFrames) {
  const struct {
    const char* name;
    int at;  // the byte of the segment's RIFF header that is damaged
    bool said;
  } rows[] = {{"RIFF code", 1, true}, {"AVIX code", 9, true}, {"RIFF size", 6, false}};
  const struct {
    int laterSegments, damaged;
  } films[] = {{2, 0}, {2, 1}, {1, 0}};
  for (const int stray : {0, 1})
    for (const auto& [laterSegments, damaged] : films) {
    const Carved healthy = CarvedOpenDml(stray, false, false, false, laterSegments);
    const Bytes& film = healthy.File;
    std::vector<std::int64_t> riffs;
    for (std::size_t at = 0; at + 12 <= film.size(); ++at)
      if (VEK::LoadLe32(&film[at]) == Code("RIFF") && VEK::LoadLe32(&film[at + 8]) == Code("AVIX"))
        riffs.push_back(static_cast<std::int64_t>(at));
    ASSERT_EQ(riffs.size(), static_cast<std::size_t>(laterSegments));
    TempDir dir;
    WriteFile(dir / "film.avi", film);
    WriteFile(dir / "whole.avi", healthy.Whole);
    const int healthyErrors = RunWorker({dir / "film.avi"}, For(Mode::Check)).LastErrorCount;
    const std::string line = VEK::Text(VEKRiff::Msg::SegmentRiffLost, {riffs[damaged], riffs[damaged] + 12});
    const auto video = std::count_if(healthy.Chunks.begin(), healthy.Chunks.end(), IsVideo);
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(row.name) + ", " + std::to_string(stray) + " stray bytes, segment " +
                   std::to_string(damaged + 1) + " of " + std::to_string(laterSegments));
      Bytes file = film;
      file[static_cast<std::size_t>(riffs[damaged] + row.at)] ^= 0x20;
      WriteFile(dir / "film.avi", file);
      const WorkerRunResult check = RunWorker({dir / "film.avi"}, For(Mode::Check));
      EXPECT_EQ(std::count(check.Lines.begin(), check.Lines.end(), line), row.said ? 1 : 0);
      EXPECT_EQ(check.LastVideo, video);
      if (row.said) {
        EXPECT_EQ(check.LastErrorCount, healthyErrors + 1);
      }
      WorkerRunOptions withReference = For(Mode::Copy);
      withReference.Reference = dir / "whole.avi";
      const WorkerRunResult run = RunWorker({dir / "film.avi"}, withReference);
      ASSERT_EQ(run.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt});
      EXPECT_EQ(run.LastVideo, video);
      // Every chunk described where it now lies, with the source's bytes.
      const std::string out = dir / "Zantrel.film.avi";
      const Parsed after = OdmlReader(out).Parse();
      ASSERT_EQ(after.Riffs.size(), static_cast<std::size_t>(laterSegments + 1));
      EXPECT_TRUE(after.ChainReachesEnd);
      const std::int64_t shift = after.Riffs[0].Movi - stray;
      const Bytes written = ReadFile(out);
      std::set<std::tuple<int, std::int64_t, std::uint32_t>> want, described;
      for (const ExpectedEntry& e : healthy.Chunks) {
        const int stream =
            static_cast<int>((e.Code & 0xFF) - '0') * 10 + static_cast<int>(((e.Code >> 8) & 0xFF) - '0');
        want.insert({stream, e.Position + 8 + shift, e.Size});
      }
      for (const auto& [stream, at, size, key] : after.Chunks) {
        described.insert({stream, at, size});
        ASSERT_LE(at + size, static_cast<std::int64_t>(written.size()));
        EXPECT_TRUE(std::equal(written.begin() + at, written.begin() + at + size, file.begin() + (at - shift)))
            << "the chunk at " << at << " does not hold the source's bytes";
      }
      EXPECT_TRUE(described == want) << described.size() << " chunks described, " << want.size() << " kept";
      // Rebuilt, the film has nothing left to say of that header.
      const WorkerRunResult again = RunWorker({out}, For(Mode::Check));
      EXPECT_EQ(std::count(again.Lines.begin(), again.Lines.end(), line), 0);
      EXPECT_EQ(again.LastVideo, video);
      EXPECT_EQ(again.LastErrorCount, 0);
    }
  }
}

// Sound, but with bytes after its index that a rebuild cuts.
Bytes GoodFilm() { return Film(6, 100).Junk(30).Build(); }

// Case 4: the copy's name leads somewhere else. A copy never writes to its
// source, and "overwrite" replaces a link, never what it points to.
TEST(NeverWorse, ACopysNameThatLeadsToTheSourceIsRefusedAndALinkThereIsReplacedNotFollowed) {
  enum class Setup {
    SymlinkToSource,
    HardLinkToSource,
    SamePathSpelledOtherwise,
    EmptyPrefixNotInPlace,
    LinkToAnotherFile,
    DanglingLink
  };
  const int none = -1;  // the front-end says nothing: the copy is written over silently
  const struct {
    const char* name;
    Setup setup;
    int behavior;
    RebuildEvent outcome;
  } cases[] = {
      {"symbolic link to the source, overwrite", Setup::SymlinkToSource, VEKRiff::OverwriteReplace, VEKRiff::FileError},
      {"symbolic link to the source, no answer", Setup::SymlinkToSource, none, VEKRiff::FileError},
      {"symbolic link to the source, skip", Setup::SymlinkToSource, VEKRiff::OverwriteSkip, VEKRiff::FileSkipped},
      {"symbolic link to the source, abort", Setup::SymlinkToSource, VEKRiff::OverwriteAbort, VEKRiff::Aborted},
      {"hard link to the source, overwrite", Setup::HardLinkToSource, VEKRiff::OverwriteReplace, VEKRiff::FileError},
      {"the source's own path through \"./\"", Setup::SamePathSpelledOtherwise, none, VEKRiff::FileError},
      {"an empty prefix where that is no in-place rewrite, overwrite", Setup::EmptyPrefixNotInPlace,
       VEKRiff::OverwriteReplace, VEKRiff::FileError},
      {"link to another file, overwrite", Setup::LinkToAnotherFile, VEKRiff::OverwriteReplace, VEKRiff::FileRebuilt},
      {"dangling link, overwrite", Setup::DanglingLink, VEKRiff::OverwriteReplace, VEKRiff::FileRebuilt},
  };
  const Bytes source = GoodFilm();
  const Bytes other = {'o', 't', 'h', 'e', 'r'};
  for (const auto& c : cases) {
    TempDir dir;
    const std::string a = dir / "a.avi", copy = dir / "Zantrel.a.avi";
    WriteFile(a, source);
    WorkerRunOptions o = For(Mode::Copy);
    switch (c.setup) {
      case Setup::SymlinkToSource: ASSERT_EQ(::symlink("a.avi", copy.c_str()), 0); break;
      case Setup::HardLinkToSource: ASSERT_EQ(::link(a.c_str(), copy.c_str()), 0); break;
      case Setup::SamePathSpelledOtherwise: o.Prefix = "./"; break;
      case Setup::EmptyPrefixNotInPlace:
        o.Prefix = "";
        o.EmptyPrefixInPlace = false;
        break;
      case Setup::LinkToAnotherFile:
        WriteFile(dir / "other.txt", other);
        ASSERT_EQ(::symlink("other.txt", copy.c_str()), 0);
        break;
      case Setup::DanglingLink: ASSERT_EQ(::symlink("victim.txt", copy.c_str()), 0); break;
    }
    const std::string output = c.setup == Setup::SamePathSpelledOtherwise ? dir / "./a.avi"
                               : c.setup == Setup::EmptyPrefixNotInPlace  ? a
                                                                          : copy;
    int asked = 0;
    o.OnEvent = [&](IndexRebuilder& w) {
      if (w.Event() != VEKRiff::FileOpening || !VEKRiff::OutputExists(w)) return;
      ++asked;
      if (c.behavior != none) VEKRiff::ApplyOverwriteBehavior(w, c.behavior);
    };
    const WorkerRunResult r = RunWorker({a}, o);
    EXPECT_EQ(asked, 1) << c.name << ": an existing name is settled by the front-end";
    EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{c.outcome}) << c.name;
    EXPECT_EQ(ReadFile(a), source) << c.name << ": the source was written to";
    if (c.outcome == VEKRiff::FileError) {
      ASSERT_GE(r.Lines.size(), 2u) << c.name;
      EXPECT_EQ(r.Lines[r.Lines.size() - 2], VEK::Text(VEKRiff::Msg::CopyIsSource, {output})) << c.name;
    }
    if (c.outcome == VEKRiff::FileRebuilt) {
      struct stat st;
      ASSERT_EQ(::lstat(copy.c_str(), &st), 0) << c.name;
      EXPECT_TRUE(S_ISREG(st.st_mode)) << c.name << ": the link is still there";
      EXPECT_EQ(ReadIdx1(ReadFile(copy)).Entries, Strip(Film(6, 100).StreamChunks())) << c.name;
      EXPECT_FALSE(Exists(dir / "victim.txt")) << c.name << ": the copy was written where the link pointed";
      if (c.setup == Setup::LinkToAnotherFile) {
        EXPECT_EQ(ReadFile(dir / "other.txt"), other) << c.name;
      }
    } else if (c.setup == Setup::SymlinkToSource) {
      struct stat st;
      ASSERT_EQ(::lstat(copy.c_str(), &st), 0) << c.name;
      EXPECT_TRUE(S_ISLNK(st.st_mode)) << c.name << ": the link was replaced although nothing was written";
    }
    EXPECT_EQ(PartialFiles(dir), 0) << c.name;
  }
}

// Case 5: a copy that fails leaves nothing under its final name, and an
// older copy there (to be overwritten) stays as it was.
TEST(NeverWorse, AFailedCopyLeavesNeitherAPartialFileNorAChangedOlderCopy) {
  const struct {
    const char* name;
    std::function<void(FaultySystemCalls&)> fault;
  } cases[] = {
      {"no space at the first write", [](auto& c) { c.failPWriteVAt = 1, c.pwritevErrno = ENOSPC; }},
      {"the disk takes nothing", [](auto& c) { c.failPWriteVAt = 1, c.pwritevErrno = 0; }},
      {"truncation refused", [](auto& c) { c.failFTruncate = true; }},
      {"the finished copy cannot take its name", [](auto& c) { c.renameErrno = EACCES; }},
  };
  const Bytes source = GoodFilm();
  const Bytes older = {'o', 'l', 'd', 'e', 'r'};
  for (bool olderCopy : {false, true}) {
    for (const auto& c : cases) {
      const std::string what = std::string(c.name) + (olderCopy ? ", over an older copy" : "");
      TempDir dir;
      WriteFile(dir / "a.avi", source);
      if (olderCopy) WriteFile(dir / "Zantrel.a.avi", older);
      WorkerRunOptions o = For(Mode::Copy);
      o.OnEvent = [](IndexRebuilder& w) {
        if (w.Event() == VEKRiff::FileOpening && VEKRiff::OutputExists(w))
          VEKRiff::ApplyOverwriteBehavior(w, VEKRiff::OverwriteReplace);
      };
      FaultySystemCalls calls;
      c.fault(calls);
      WorkerRunResult r;
      {
        CallsGuard guard(calls);
        r = RunWorker({dir / "a.avi"}, o);
      }
      EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileError}) << what;
      EXPECT_EQ(ReadFile(dir / "a.avi"), source) << what;
      if (olderCopy) {
        EXPECT_EQ(ReadFile(dir / "Zantrel.a.avi"), older) << what << ": the older copy was changed";
      } else {
        EXPECT_FALSE(Exists(dir / "Zantrel.a.avi")) << what << ": an unfinished copy took the final name";
      }
      EXPECT_EQ(PartialFiles(dir), 0) << what;
    }
  }
}

// Case 8: a stop requested while a finished copy is put on disk (after the
// walk and the index) still stops: the copy goes, nothing is left. In place
// the index is being written by then, so the file is completed and the stop
// takes effect at the next file.
TEST(NeverWorse, AStopWhileTheFileIsFinishedDeletesACopyAndCompletesAnInPlaceFile) {
  // The large film is copied in background batches, still under way when the
  // walk ends.
  const struct {
    const char* name;
    Bytes source;
  } films[] = {{"small film", GoodFilm()}, {"film of 20 MB", Film(1200, 16000).Junk(30).Build()}};
  for (const auto& film : films) {
    const Bytes& source = film.source;
    const Bytes rebuilt = [&] {
      TempDir dir;
      WriteFile(dir / "a.avi", source);
      RunWorker({dir / "a.avi"}, For(Mode::InPlace));
      return ReadFile(dir / "a.avi");
    }();
    ASSERT_NE(rebuilt, source) << film.name;
    for (Mode mode : {Mode::Copy, Mode::InPlace}) {
      const std::string what = std::string(film.name) + ", " + Name(mode);
      TempDir dir;
      WriteFile(dir / "a.avi", source);
      WriteFile(dir / "b.avi", source);
      IndexRebuilder* worker = nullptr;
      WorkerRunOptions o = For(mode);
      o.OnEvent = [&](IndexRebuilder& w) {
        if (w.Event() == VEKRiff::FileStarted) worker = &w;
      };
      FaultySystemCalls calls;
      int stops = 0;
      calls.beforeFSync = [&] {
        if (worker && stops++ == 0) worker->Abort("");
      };
      WorkerRunResult r;
      {
        CallsGuard guard(calls);
        r = RunWorker({dir / "a.avi", dir / "b.avi"}, o);
      }
      ASSERT_GE(stops, 1) << what << ": nothing was flushed to disk";
      ASSERT_GE(r.Lines.size(), 2u) << what;
      EXPECT_EQ(r.Lines[r.Lines.size() - 2], "Operation aborted.") << what;
      EXPECT_EQ(ReadFile(dir / "b.avi"), source) << what << ": the next file was processed";
      EXPECT_FALSE(Exists(dir / "Zantrel.b.avi")) << what;
      EXPECT_EQ(PartialFiles(dir), 0) << what;
      if (mode == Mode::Copy) {
        EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::Aborted}) << what;
        EXPECT_EQ(ReadFile(dir / "a.avi"), source) << what;
        EXPECT_FALSE(Exists(dir / "Zantrel.a.avi")) << what << ": a stopped copy was kept";
      } else {
        EXPECT_EQ(r.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileRebuilt, VEKRiff::Aborted})) << what;
        EXPECT_EQ(r.Notices.back().FileIndex, 1) << what;
        EXPECT_EQ(ReadFile(dir / "a.avi"), rebuilt) << what << ": an in-place file whose writing began was not completed";
      }
    }
  }
}

// Case 9: a download paused while its file is rebuilt in place. The file is
// leased from the kernel before its first write: a downloader that resumes
// then (here, at the reservation of the index's blocks, right after the test
// of the file's size and date) waits until the rebuild lets go of the file,
// and its bytes are kept; before the lease they were overwritten by the new
// index. A downloader that has the file open all along makes the lease
// impossible, which the rebuild says, and the test of size and date is what
// guards the file then. Real leases and real second opens.
TEST(NeverWorse, ADownloadThatResumesDuringAnInPlaceRebuildKeepsItsBytes) {
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < 20; ++i) b.Chunk("00dc", 500).Chunk("01wb", 40);
  Bytes source = b.Build();
  const std::int64_t cut = b.StreamChunks().back().Position + 20;  // inside the last chunk
  source.resize(static_cast<std::size_t>(cut));
  const Bytes download(1000, 'D');

  {
    TempDir dir;
    const std::string path = dir / "a.avi";
    WriteFile(path, source);
    FaultySystemCalls calls;
    std::thread waiting;
    bool heldOff = false;
    calls.beforeReserve = [&] {
      auto resume = [&path, &download, cut] {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return;
        EXPECT_EQ(::pwrite(fd, download.data(), download.size(), cut), static_cast<ssize_t>(download.size()));
        ::close(fd);
      };
      // A downloader that must not wait finds the file taken; one that may
      // wait does so on its own thread, as another program would.
      const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) {
        ::close(fd);
        resume();
      } else {
        EXPECT_EQ(errno, EWOULDBLOCK);
        heldOff = true;
        waiting = std::thread(resume);
      }
    };
    WorkerRunResult r;
    {
      CallsGuard guard(calls);
      r = RunWorker({path}, For(Mode::InPlace));
    }
    if (waiting.joinable()) waiting.join();
    EXPECT_TRUE(heldOff) << "the downloader was let in while the index was being written";
    const Bytes after = ReadFile(path);
    ASSERT_GE(after.size(), static_cast<std::size_t>(cut) + download.size());
    EXPECT_TRUE(std::equal(download.begin(), download.end(), after.begin() + cut)) << "downloaded bytes were lost";
    EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileError});
    ASSERT_GE(r.Lines.size(), 2u);
    EXPECT_EQ(r.Lines[r.Lines.size() - 2], VEK::Text(VEKRiff::Msg::OpenedWhileWriting));
  }
  {
    TempDir dir;
    const std::string path = dir / "a.avi";
    WriteFile(path, source);
    const int downloader = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(downloader, 0);
    const WorkerRunResult r = RunWorker({path}, For(Mode::InPlace));
    ::close(downloader);
    EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt});
    EXPECT_EQ(std::count(r.Lines.begin(), r.Lines.end(),
                         VEK::Text(VEKRiff::Msg::NoLease, {"the file is in use by another program"})),
              1);
    EXPECT_TRUE(ReadIdx1(ReadFile(path)).Found);
  }
}

}  // namespace
