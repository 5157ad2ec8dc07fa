// ffmpeg-made films, damaged the ways disks, downloads and cameras damage
// them: bit flips in chunk size fields, random and zero-filled stretches of
// 4 KiB to 4 MiB at places drawn from five seeds. The truth is the muxer's own
// idx1 of the clean film: after a rebuild every chunk the damage left intact
// is indexed, and every entry is a chunk of the original at its place; and
// our own check finds the copy healthy, or repaired where its damaged bytes
// stay behind, skipped by the new index. Skipped when ffmpeg is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <set>

#include "support/AviBuilder.h"
#include "support/TempDir.h"
#include "lang/Language.h"
#include "support/WorkerRun.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;
using VEKRiff::RebuildEvent;

int Shell(const std::string& command) { return std::system(command.c_str()); }

// A clean film and its chunks as its muxer indexed them.
struct CleanFilm {
  std::string Name;
  Bytes Data;
  std::int64_t MoviData = 0;  // where idx1 offsets count from: the "movi" code
  std::int64_t DataEnd = 0;   // the muxer's idx1 header
  std::vector<ExpectedEntry> Chunks;
};

CleanFilm Make(const TempDir& dir, const std::string& name, const std::string& codecs) {
  CleanFilm film;
  film.Name = name;
  const std::string path = dir / (name + ".avi");
  const std::string command =
      "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=640x480:rate=25 -f lavfi -i sine -t 12 " + codecs +
      " '" + path + "'";
  EXPECT_EQ(Shell(command), 0) << command;
  film.Data = ReadFile(path);
  std::remove(path.c_str());
  const ParsedIndex index = ReadIdx1(film.Data);
  EXPECT_TRUE(index.Found) << name << ": ffmpeg wrote no idx1";
  for (std::size_t i = 12; i + 12 <= film.Data.size() && film.MoviData == 0; ++i)
    if (std::memcmp(&film.Data[i], "LIST", 4) == 0 && std::memcmp(&film.Data[i + 8], "movi", 4) == 0)
      film.MoviData = static_cast<std::int64_t>(i) + 8;
  film.DataEnd = index.Position;
  for (ExpectedEntry e : index.Entries) {
    e.Position = film.MoviData + e.Offset;
    // The muxer's offsets must lead to its chunks, or the truth is wrong.
    EXPECT_EQ(VEK::LoadLe32(&film.Data[e.Position]), e.Code) << name << ": entry at " << e.Offset;
    EXPECT_EQ(VEK::LoadLe32(&film.Data[e.Position + 4]), e.Size) << name << ": entry at " << e.Offset;
    film.Chunks.push_back(e);
  }
  return film;
}

struct Damage {
  std::string What;
  std::int64_t Begin, End;  // the bytes touched
  bool InPlaceToo;          // also rebuilt in place
  bool ProbeCopy;           // the copy is read by ffprobe
  std::function<void(Bytes&)> Apply;
  std::int64_t SizeOf = -1;  // the chunk whose size field it changes
  std::uint32_t Claimed = 0;  // the size that field then claims
};

std::vector<Damage> DamagesOf(const CleanFilm& film) {
  std::vector<Damage> out;
  // Size fields: chunks spread over the film, video and audio, the top byte
  // (the chunk runs past the end) and lower bits (it ends inside other data).
  const std::size_t n = film.Chunks.size();
  for (std::size_t k : {n / 10, n / 4 + 1, 2 * n / 5, n / 2 + 1, 7 * n / 10, 17 * n / 20 + 1}) {
    for (int bit : {31, 25, 17, 9, 2}) {
      const std::int64_t at = film.Chunks[k].Position + 4 + bit / 8;
      out.push_back({"bit " + std::to_string(bit) + " of the size of chunk " + std::to_string(k), at, at + 1,
                     bit == 31 || bit == 9, bit == 31 && k == n / 2 + 1,
                     [=](Bytes& b) { b[at] ^= static_cast<unsigned char>(1u << (bit % 8)); },
                     static_cast<std::int64_t>(k), film.Chunks[k].Size ^ (1u << bit)});
    }
  }
  // Stretches inside the movi data, at places drawn from the seed.
  for (bool zeros : {false, true}) {
    for (std::int64_t length : {std::int64_t{4096}, std::int64_t{65536}, std::int64_t{1} << 20, std::int64_t{4} << 20}) {
      for (unsigned seed = 1; seed <= 5; ++seed) {
        std::mt19937_64 random(seed * 7919 + static_cast<unsigned>(length) + zeros);
        const std::int64_t room = film.DataEnd - film.MoviData - 4 - length;
        const std::int64_t begin = film.MoviData + 4 + static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(room));
        out.push_back({std::string(zeros ? "zeros" : "random bytes") + " over " + std::to_string(length) +
                           " bytes at " + std::to_string(begin),
                       begin, begin + length, seed == 1, seed == 2, [=](Bytes& b) mutable {
                         for (std::int64_t i = begin; i < begin + length; ++i)
                           b[i] = zeros ? 0 : static_cast<unsigned char>(random());
                       }});
      }
    }
  }
  return out;
}

struct Tally {
  int Cases = 0, Rebuilds = 0, Intact = 0, Missed = 0, Phantoms = 0, Probes = 0, SizesDamaged = 0, SizesMended = 0;
  int Healthy = 0, Repaired = 0;
};

// A file the rebuild made (a copy, or the source in place) checks without an
// error: healthy, or repaired where damaged stretches stay in it, which its
// index then skips, said once.
void CheckCopy(const std::string& copy, const std::string& what, Tally& tally) {
  WorkerRunOptions o;
  bool repaired = false;
  o.OnEvent = [&](VEKRiff::IndexRebuilder& w) {
    if (w.Event() == VEKRiff::FileOk) repaired = w.Outcome() == VEKRiff::OutcomeKind::Repaired;
  };
  const WorkerRunResult check = RunWorker({copy}, o);
  EXPECT_EQ(check.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileOk})
      << what << ": the rebuilt file checks as damaged";
  EXPECT_EQ(check.LastErrorCount, 0) << what;
  const bool stretches = std::any_of(check.Lines.begin(), check.Lines.end(),
                                     [](const std::string& l) { return l.find("Corrupted") == 0; });
  const auto skips = std::count_if(check.Lines.begin(), check.Lines.end(),
                                   [](const std::string& l) { return l.find("The file's own index skips") == 0; });
  EXPECT_EQ(repaired, stretches) << what;
  EXPECT_EQ(skips, stretches ? 1 : 0) << what;
  ++(repaired ? tally.Repaired : tally.Healthy);
}

// One rebuild judged against the clean film; the copy or the file itself is
// at output.
void Judge(const CleanFilm& film, const Damage& d, const Bytes& output, const std::string& what, Tally& tally) {
  const ParsedIndex index = ReadIdx1(output);
  ASSERT_TRUE(index.Found) << what;
  ++tally.Rebuilds;
  std::map<std::uint32_t, std::uint32_t> real;  // movi offset: size
  for (const ExpectedEntry& e : film.Chunks) real[e.Offset] = e.Size;
  // A size made too short cannot be told from a right one followed by
  // damage: the chunk keeps the size it claims.
  const bool shortLie = d.SizeOf >= 0 && d.Claimed < film.Chunks[static_cast<std::size_t>(d.SizeOf)].Size;
  for (const ExpectedEntry& e : index.Entries) {
    // A lost chunk's place, kept by a placeholder after the film's data: a
    // chunk of its code and size there (an empty frame, silence).
    const std::int64_t at = film.MoviData + e.Offset;
    if (at >= film.DataEnd && at + 8 + e.Size <= index.Position) {
      EXPECT_EQ(VEK::LoadLe32(&output[at]), e.Code) << what << ": the placeholder at movi offset " << e.Offset;
      EXPECT_EQ(VEK::LoadLe32(&output[at + 4]), e.Size) << what << ": the placeholder at movi offset " << e.Offset;
      continue;
    }
    const auto chunk = real.find(e.Offset);
    const bool lie = shortLie && e.Offset == film.Chunks[static_cast<std::size_t>(d.SizeOf)].Offset && e.Size == d.Claimed;
    if (chunk == real.end() || (chunk->second != e.Size && !lie)) {
      ++tally.Phantoms;
      ADD_FAILURE() << what << ": an entry at movi offset " << e.Offset << " of " << e.Size
                    << " bytes is no chunk of the film";
    }
  }
  // A size field that lies hides no data: the walk finds the next chunk
  // where the true size ends the damaged one, and the chunk keeps its entry
  // with that size, written into its header.
  if (d.SizeOf >= 0 && !shortLie) {
    const ExpectedEntry& e = film.Chunks[static_cast<std::size_t>(d.SizeOf)];
    ++tally.SizesDamaged;
    const bool kept = std::find(index.Entries.begin(), index.Entries.end(), ExpectedEntry{e.Code, e.Offset, e.Size, -1}) !=
                      index.Entries.end();
    tally.SizesMended += kept;
    EXPECT_TRUE(kept) << what << ": the chunk whose size lies is not indexed with its true size";
    if (kept) EXPECT_EQ(VEK::LoadLe32(&output[e.Position + 4]), e.Size) << what << ": its header keeps the lie";
  }
  for (const ExpectedEntry& e : film.Chunks) {
    const std::int64_t end = e.Position + 8 + e.Size + (e.Size & 1);
    if (e.Position < d.End && d.Begin < end) continue;  // touched by the damage
    ++tally.Intact;
    const auto found = std::find(index.Entries.begin(), index.Entries.end(), ExpectedEntry{e.Code, e.Offset, e.Size, -1});
    if (found == index.Entries.end()) {
      ++tally.Missed;
      ADD_FAILURE() << what << ": the intact chunk at movi offset " << e.Offset << " is not indexed";
    }
  }
}

TEST(DamageSweep, EveryIntactChunkOfADamagedFfmpegFilmIsIndexedAndNothingElse) {
  if (Shell("command -v ffmpeg >/dev/null 2>&1 && command -v ffprobe >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "ffmpeg is not installed";
  VEK::SetLanguage(VEK::English);
  TempDir dir;
  const CleanFilm films[] = {
      Make(dir, "mpeg4", "-c:v mpeg4 -q:v 2 -c:a pcm_s16le"),
      Make(dir, "mjpeg", "-c:v mjpeg -q:v 4 -c:a pcm_s16le"),
  };
  Tally tally;
  for (const CleanFilm& film : films) {
    ASSERT_GT(film.Chunks.size(), 100u) << film.Name;
    ASSERT_GT(film.DataEnd - film.MoviData, std::int64_t{6} << 20) << film.Name << ": too small for the stretches";
    for (const Damage& d : DamagesOf(film)) {
      ++tally.Cases;
      const std::string what = film.Name + ", " + d.What;
      Bytes damaged = film.Data;
      d.Apply(damaged);
      const std::string path = dir / "f.avi", copy = dir / "Zantrel.f.avi";
      WriteFile(path, damaged);
      // The damage always reaches a chunk header or a size field here unless
      // it lies wholly inside one chunk's data, which no walk can see.
      const bool visible = std::any_of(film.Chunks.begin(), film.Chunks.end(), [&](const ExpectedEntry& e) {
        return e.Position < d.End && d.Begin < e.Position + 8;
      });
      const WorkerRunResult check = RunWorker({path}, {});
      if (visible) {
        EXPECT_GE(check.LastErrorCount, 1) << what << ": the check saw no damage";
      }

      WorkerRunOptions o;
      o.CheckOnly = false;
      const WorkerRunResult r = RunWorker({path}, o);
      EXPECT_EQ(r.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt}) << what << ", copy";
      EXPECT_EQ(ReadFile(path), damaged) << what << ": the source of a copy was touched";
      Judge(film, d, ReadFile(copy), what + ", copy", tally);
      CheckCopy(copy, what + ", copy", tally);
      if (d.ProbeCopy) {
        ++tally.Probes;
        EXPECT_EQ(Shell("ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 '" + copy +
                        "' >/dev/null"),
                  0)
            << what << ": ffprobe cannot read the copy";
      }
      std::remove(copy.c_str());
      if (d.InPlaceToo) {
        o.KeepOriginal = false;
        const WorkerRunResult p = RunWorker({path}, o);
        EXPECT_EQ(p.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt}) << what << ", in place";
        Judge(film, d, ReadFile(path), what + ", in place", tally);
        CheckCopy(path, what + ", in place", tally);
      }
    }
  }
  std::cout << "Damage sweep: " << tally.Cases << " damaged films, " << tally.Rebuilds << " rebuilds, "
            << tally.Intact << " intact chunks judged, " << tally.Missed << " missed, " << tally.Phantoms
            << " phantom entries, " << tally.Probes << " copies read by ffprobe, " << tally.SizesMended << " of "
            << tally.SizesDamaged << " chunks with a lying size kept whole; rebuilt files checked " << tally.Healthy
            << " healthy, " << tally.Repaired << " repaired\n";
}

}  // namespace
