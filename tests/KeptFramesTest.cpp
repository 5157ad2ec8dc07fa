// What a player can still show is kept: a chunk whose size field lies, and
// the part of a last chunk that a cut download holds. The truth is what
// ffmpeg decodes, frame by frame (framemd5): from the clean film where the
// damage hid no data, from the damaged file itself where it did.
// Skipped when ffmpeg is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "support/AviBuilder.h"
#include "support/Shell.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;

int Shell(const std::string& command) { return std::system(command.c_str()); }

// Every decoded frame of every stream, one line each, without the comments
// that name the file.
std::string FrameSums(const TempDir& dir, const std::string& path) {
  const std::string out = dir / "sums.txt";
  if (Shell("ffmpeg -nostdin -v quiet -i '" + path + "' -map 0 -f framemd5 - 2>/dev/null | grep -v '^#' >'" + out +
            "'") != 0)
    return "ffmpeg failed";
  const Bytes bytes = ReadFile(out);
  return std::string(bytes.begin(), bytes.end());
}

std::size_t Lines(const std::string& text) { return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')); }

struct Film {
  std::string Name;
  Bytes Data;
  std::int64_t MoviData = 0;
  ParsedIndex Index;
  // The header positions of the muxer's chunks, with their codes and sizes.
  std::vector<ExpectedEntry> Chunks;
};

Film Make(const TempDir& dir, const std::string& name, const std::string& codecs, int seconds = 6) {
  Film film;
  film.Name = name;
  const std::string path = dir / (name + ".avi");
  const std::string command =
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i sine -t " +
      std::to_string(seconds) + " " + codecs + " '" + path + "'";
  EXPECT_EQ(Shell(command), 0) << command;
  film.Data = ReadFile(path);
  film.Index = ReadIdx1(film.Data);
  for (std::size_t i = 12; i + 12 <= film.Data.size() && film.MoviData == 0; ++i)
    if (std::memcmp(&film.Data[i], "LIST", 4) == 0 && std::memcmp(&film.Data[i + 8], "movi", 4) == 0)
      film.MoviData = static_cast<std::int64_t>(i) + 8;
  for (ExpectedEntry e : film.Index.Entries) {
    e.Position = film.MoviData + e.Offset;
    film.Chunks.push_back(e);
  }
  return film;
}

bool IsVideo(const ExpectedEntry& e) { return (e.Code >> 16) == ('d' | 'c' << 8); }

// The middle key frame, the middle audio chunk, the last chunk of a kind.
const ExpectedEntry& MiddleKeyFrame(const Film& f) {
  std::vector<std::size_t> keys;
  for (std::size_t i = 0; i < f.Chunks.size(); ++i)
    if (IsVideo(f.Chunks[i]) && (f.Index.Flags[i] & 0x10) && f.Chunks[i].Size > 1024) keys.push_back(i);
  return f.Chunks[keys[keys.size() / 2]];
}
const ExpectedEntry& MiddleAudio(const Film& f) {
  std::size_t seen = 0, count = 0;
  for (const ExpectedEntry& e : f.Chunks) count += !IsVideo(e);
  for (const ExpectedEntry& e : f.Chunks)
    if (!IsVideo(e) && ++seen > count / 2) return e;
  return f.Chunks.front();
}
const ExpectedEntry& Last(const Film& f, bool video) {
  for (auto e = f.Chunks.rbegin(); e != f.Chunks.rend(); ++e)
    if (IsVideo(*e) == video) return *e;
  return f.Chunks.back();
}

struct Damage {
  std::string What;
  // Changes the film; true when the damage hid no data (the clean film is
  // the truth), false when the damaged file itself is.
  std::function<bool(const Film&, Bytes&)> Apply;
};

std::vector<Damage> Damages() {
  // Sets the first clear bit from `bit` up: a size made larger, which the
  // walk can prove wrong (a size made smaller reads like a right one
  // followed by damage).
  auto flip = [](std::function<const ExpectedEntry&(const Film&)> chunk, int bit) {
    return [=](const Film& f, Bytes& b) {
      const ExpectedEntry& e = chunk(f);
      int set = bit;
      while (e.Size & (1u << set)) ++set;
      b[e.Position + 4 + set / 8] ^= static_cast<unsigned char>(1u << (set % 8));
      return true;
    };
  };
  auto cut = [](bool video) {
    return [=](const Film& f, Bytes& b) {
      const ExpectedEntry& e = Last(f, video);
      b.resize(static_cast<std::size_t>(e.Position + 8 + e.Size / 2));
      return false;
    };
  };
  // One byte of every seventh chunk's header changed, as a failing card
  // leaves them: the code's or the size's, in turn. The film's own idx1
  // still names every chunk.
  auto everySeventh = [](const Film& f, Bytes& b) {
    for (std::size_t i = 3; i < f.Chunks.size(); i += 7) {
      const std::int64_t at = f.Chunks[i].Position + static_cast<std::int64_t>(i % 8);
      b[at] = static_cast<unsigned char>(b[at] == 'x' ? 'y' : 'x');
    }
    return true;
  };
  return {
      {"one byte of every seventh chunk header", everySeventh},
      {"bit 30 of a key frame's size (past the end of the file)", flip(MiddleKeyFrame, 30)},
      {"bit 9 of a key frame's size", flip(MiddleKeyFrame, 9)},
      {"bit 10 of a key frame's size", flip(MiddleKeyFrame, 10)},
      {"bit 4 of a key frame's size", flip(MiddleKeyFrame, 4)},
      {"bit 3 of an audio chunk's size", flip(MiddleAudio, 3)},
      {"a download cut inside the last video chunk", cut(true)},
      {"a download cut inside the last audio chunk", cut(false)},
  };
}

TEST(KeptFrames, EveryFrameAPlayerCanShowIsKeptAndDecodesAsFfmpegDecodesIt) {
  if (Shell("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  const Film films[] = {
      Make(dir, "msmpeg4", "-c:v msmpeg4 -g 50 -q:v 3 -c:a pcm_s16le"),
      Make(dir, "mpeg4", "-c:v mpeg4 -g 25 -bf 2 -q:v 3 -c:a libmp3lame"),
  };
  for (const Film& film : films) {
    ASSERT_TRUE(film.Index.Found) << film.Name;
    const std::string clean = dir / "clean.avi";
    WriteFile(clean, film.Data);
    const std::string cleanSums = FrameSums(dir, clean);
    ASSERT_GT(Lines(cleanSums), 300u) << film.Name;
    for (const Damage& d : Damages()) {
      const std::string what = film.Name + ", " + d.What;
      Bytes damaged = film.Data;
      const bool hidesNothing = d.Apply(film, damaged);
      const std::string path = dir / "f.avi", copy = dir / "Zantrel.f.avi";
      WriteFile(path, damaged);
      const std::string truth = hidesNothing ? cleanSums : FrameSums(dir, path);
      WorkerRunOptions o;
      o.CheckOnly = false;
      const WorkerRunResult r = RunWorker({path}, o);
      EXPECT_EQ(r.Outcomes(), std::vector<VEKRiff::RebuildEvent>{VEKRiff::FileRebuilt}) << what;
      const std::string kept = FrameSums(dir, copy);
      EXPECT_EQ(Lines(kept), Lines(truth)) << what << ": frames decoded";
      EXPECT_TRUE(kept == truth) << what << ": the decoded frames differ";
      // The check of the rebuilt copy agrees with it: nothing left to mend.
      const WorkerRunResult again = RunWorker({copy}, {});
      EXPECT_EQ(again.LastErrorCount, 0) << what << ": " << (again.Lines.size() > 2 ? again.Lines[2] : "");
      std::remove(copy.c_str());
    }
  }
}

// Each packet ffprobe reads, its stream and size, in the order it reads them.
std::string Packets(const std::string& path) {
  return Capture("ffprobe -v error -show_entries packet=stream_index,size -of csv=p=0 '" + path + "'");
}

// The header position of the middle chunk with the given code.
std::size_t MiddleOf(const Film& f, const char* code) {
  std::vector<std::size_t> of;
  for (std::size_t i = 0; i < f.Chunks.size(); ++i)
    if (f.Chunks[i].Code == Code(code)) of.push_back(i);
  return of.empty() ? f.Chunks.size() : of[of.size() / 2];
}

// Only the film's own idx1 damaged, one byte of one entry: its data is
// whole, and ffmpeg plays the damaged file as it played the clean one. The
// chunk the entry names is one the walk confirmed (its size ends on the next
// chunk, its code names a stream of the header list), so its header stays
// as the muxer wrote it: the copy and the file rebuilt in place decode frame
// for frame as the clean film, every packet in its own stream.
TEST(KeptFrames, ADamagedIndexEntryNeverChangesAChunkTheWalkConfirmed) {
  if (Shell("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "ffmpeg is not installed";
  TempDir dir;
  const Film films[] = {
      Make(dir, "mpeg4-pcm", "-c:v mpeg4 -c:a pcm_s16le", 3),
      Make(dir, "two-audio", "-map 0:v -map 1:a -map 1:a -c:v mpeg4 -c:a:0 pcm_s16le -c:a:1 pcm_u8", 3),
  };
  // The entry's size made smaller in its lowest byte that is not zero (717
  // read as 614, say): a size that still fits before the next chunk.
  auto smaller = [](const char* code) {
    return [=](const Film& f, Bytes& b) {
      const std::size_t k = MiddleOf(f, code);
      if (k == f.Chunks.size()) return false;
      const std::size_t at = static_cast<std::size_t>(f.Index.Position + 8 + 16 * k + 12);
      std::size_t byte = at;
      while (b[byte] == 0) ++byte;
      b[byte] = static_cast<unsigned char>(b[byte] / 2);
      return true;
    };
  };
  // The entry of a first audio stream's chunk naming the second one.
  auto otherStream = [](const Film& f, Bytes& b) {
    const std::size_t k = MiddleOf(f, "01wb");
    if (MiddleOf(f, "02wb") == f.Chunks.size()) return false;
    b[static_cast<std::size_t>(f.Index.Position + 8 + 16 * k + 1)] = '2';
    return true;
  };
  const Damage damages[] = {
      {"one byte of a video entry's size", smaller("00dc")},
      {"one byte of an audio entry's size", smaller("01wb")},
      {"the stream number of an audio entry's code", otherStream},
  };
  for (const Film& film : films) {
    ASSERT_TRUE(film.Index.Found) << film.Name;
    const std::string clean = dir / "clean.avi";
    WriteFile(clean, film.Data);
    const std::string cleanSums = FrameSums(dir, clean), cleanPackets = Packets(clean);
    ASSERT_GT(Lines(cleanSums), 150u) << film.Name;
    for (const Damage& d : damages) {
      const std::string what = film.Name + ", " + d.What;
      Bytes damaged = film.Data;
      if (!d.Apply(film, damaged)) continue;
      const std::string path = dir / "f.avi", copy = dir / "Zantrel.f.avi", inPlace = dir / "g.avi";
      WriteFile(path, damaged);
      WriteFile(inPlace, damaged);
      ASSERT_EQ(FrameSums(dir, path), cleanSums) << what << ": ffmpeg no longer plays the damaged file";
      // The check finds the index wrong, and vouches for no chunk through it.
      const WorkerRunResult checked = RunWorker({path}, {});
      EXPECT_GT(checked.LastErrorCount, 0) << what;
      for (const std::string& line : checked.Lines)
        EXPECT_EQ(line.rfind("The old index leads to", 0), std::string::npos) << what << ": " << line;
      WorkerRunOptions o;
      o.CheckOnly = false;
      EXPECT_EQ(RunWorker({path}, o).Outcomes(), std::vector<VEKRiff::RebuildEvent>{VEKRiff::FileRebuilt}) << what;
      o.KeepOriginal = false;
      EXPECT_EQ(RunWorker({inPlace}, o).Outcomes(), std::vector<VEKRiff::RebuildEvent>{VEKRiff::FileRebuilt})
          << what;
      for (const std::string& rebuilt : {copy, inPlace}) {
        const std::string which = what + (rebuilt == copy ? ", copy" : ", in place");
        EXPECT_TRUE(FrameSums(dir, rebuilt) == cleanSums) << which << ": the decoded frames differ";
        EXPECT_TRUE(Packets(rebuilt) == cleanPackets) << which << ": a packet changed its stream or its size";
      }
      std::remove(copy.c_str());
    }
  }
}

}  // namespace
