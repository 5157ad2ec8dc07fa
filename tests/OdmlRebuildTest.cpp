// Files over 1 GiB from ffmpeg, mencoder and GStreamer, through the worker as
// a user runs it: a check, a rebuild to a copy and in place, then the same
// files as partial downloads (cut short, or with a zero-filled tail) and with
// a damaged header list. The judges are the muxers' own indexes as the test
// reader (support/OdmlReader) finds them, ffprobe's packet count, ffmpeg
// seeking into the last segment and GStreamer playing to the end. The files
// are made in a temporary folder, reused from one case to the next and
// deleted; rows whose tool is missing are skipped with a message.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "avi/AviChunk.h"
#include "support/AviBuilder.h"
#include "support/OdmlReader.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;
using VEKRiff::RebuildEvent;

constexpr double FramesPerSecond = 25;

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// Video packets as ffprobe reads them. Audio packets are no measure: ffmpeg
// splits a long PCM chunk into several packets.
std::int64_t VideoPackets(const std::string& path) {
  const std::string out = RunCommand(
      "ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 " +
      Quoted(path) + " 2>&1");
  return out.empty() || out.find_first_not_of("0123456789\n") != std::string::npos ? -1 : std::stoll(out);
}

std::string SeekErrors(const std::string& path, double at) {
  return RunCommand("ffmpeg -nostdin -v error -ss " + std::to_string(at) + " -i " + Quoted(path) +
                    " -frames:v 1 -f null - 2>&1 || echo failed");
}

std::string GstreamerErrors(const std::string& path) {
  return RunCommand("gst-launch-1.0 -q filesrc location=" + Quoted(path) +
                    " ! avidemux ! fakesink 2>&1 || echo failed");
}

// The chunks the muxer indexed whose data lies wholly before `end`.
std::set<Described> CompleteBefore(const Parsed& muxer, std::int64_t end) {
  std::set<Described> complete;
  for (const Described& c : muxer.Chunks)
    if (std::get<1>(c) + std::get<2>(c) <= end) complete.insert(c);
  return complete;
}

// What a download cut at `end` still holds: the chunks complete before it
// and the part of the one it cuts, which players show as far as it goes.
std::set<Described> KeptBefore(const Parsed& muxer, std::int64_t end) {
  std::set<Described> kept = CompleteBefore(muxer, end);
  for (const Described& c : muxer.Chunks)
    if (std::get<1>(c) < end && std::get<1>(c) + std::get<2>(c) > end)
      kept.insert({std::get<0>(c), std::get<1>(c), static_cast<std::uint32_t>(end - std::get<1>(c)), std::get<3>(c)});
  return kept;
}

// The chunks whose header lies wholly before the zeros. The one that the
// zeros start inside is still whole as far as its size goes, and players
// read it like any other: only its picture is partly grey.
std::set<Described> HeadersBefore(const Parsed& muxer, std::int64_t zeroFrom) {
  std::set<Described> complete;
  for (const Described& c : muxer.Chunks)
    if (std::get<1>(c) <= zeroFrom) complete.insert(c);
  return complete;
}

std::int64_t VideoChunks(const std::set<Described>& chunks) {
  return std::count_if(chunks.begin(), chunks.end(), [](const Described& c) { return std::get<0>(c) == 0; });
}

struct FilmRow {
  const char* Name;
  const char* Tool;
  // %s: the output path; %r: the ffmpeg rawvideo film, made first, which
  // mencoder copies rather than make another gigabyte from nothing.
  const char* Command;
  // avimux leaves audio entries without the key bit and adds 0x02 to video
  // entries, where a rebuild marks every audio chunk a key frame: its
  // entries are judged by the chunks they name and the video key frames.
  bool Avimux = false;
};

// Uniform grey raw frames of 2.7 MB: a few hundred chunks make a gigabyte
// quickly and the walk stays short. mencoder copies this film, then it
// becomes the ffmpeg row's.
const char* RawCommand =
    "ffmpeg -nostdin -v error -y -f lavfi -i color=c=gray:size=1280x720:rate=25 -f lavfi -i sine=sample_rate=8000 "
    "-t 17 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le '%s'";

const FilmRow FilmRows[] = {
    {"mencoder", "mencoder", "mencoder -really-quiet '%r' -ovc copy -oac copy -o '%s' >/dev/null 2>&1"},
    {"ffmpeg", "ffmpeg", "mv '%r' '%s'"},
    // Two seconds of noise at the highest quality, looped without encoding
    // again: a gigabyte of MPEG-4 with key frames every ten.
    {"ffmpeg mpeg4", "ffmpeg",
     "ffmpeg -nostdin -v error -y -f lavfi -i 'testsrc2=size=1280x720:rate=25,noise=alls=100:allf=t' -f lavfi -i "
     "sine=sample_rate=8000 -t 2 -c:v mpeg4 -q:v 1 -g 10 -c:a pcm_s16le '%s.src.avi' && ffmpeg -nostdin -v error -y "
     "-stream_loop 16 -i '%s.src.avi' -c copy '%s'; rm -f '%s.src.avi'"},
    {"gstreamer", "gst-launch-1.0",
     "gst-launch-1.0 -q avimux name=m ! filesink location='%s' videotestsrc num-buffers=420 pattern=black ! "
     "video/x-raw,format=BGR,width=1280,height=720,framerate=25/1 ! m. audiotestsrc num-buffers=200 ! "
     "audio/x-raw,format=S16LE,rate=8000,channels=1 ! m. >/dev/null 2>&1",
     true},
};

std::string Expand(const char* templ, const std::string& path, const std::string& raw) {
  std::string out;
  for (const char* c = templ; *c; ++c) {
    if (c[0] == '%' && (c[1] == 's' || c[1] == 'r')) {
      out += c[1] == 's' ? path : raw;
      ++c;
    } else {
      out += *c;
    }
  }
  return out;
}

WorkerRunResult Rebuild(const std::vector<std::string>& files, bool inPlace) {
  WorkerRunOptions o;
  o.CheckOnly = false;
  o.KeepOriginal = !inPlace;
  return RunWorker(files, o);
}

void AsARebuildFlagsThem(Parsed& muxer) {
  std::set<Described> chunks;
  for (Described c : muxer.Chunks) {
    if (std::get<0>(c) != 0) std::get<3>(c) = true;
    chunks.insert(c);
  }
  muxer.Chunks = chunks;
  for (Idx1Row& row : muxer.Idx1) {
    const bool audio = (row.Code >> 16) == ('w' | ('b' << 8));
    row.Flags = audio ? VEKAvi::AVIIF_KEYFRAME : row.Flags & VEKAvi::AVIIF_KEYFRAME;
  }
}

// A rebuilt intact file describes the muxer's chunks, no more, no fewer.
void ExpectSameIndexes(const std::string& label, const std::string& path, const Parsed& muxer) {
  SCOPED_TRACE(label);
  const Parsed after = OdmlReader(path).Parse();
  EXPECT_TRUE(after.ChainReachesEnd);
  EXPECT_EQ(after.Problems, std::vector<std::string>{});
  EXPECT_EQ(after.Riffs.size(), muxer.Riffs.size());
  EXPECT_EQ(after.IndexChunksInData, std::vector<std::int64_t>{});
  EXPECT_TRUE(after.Chunks == muxer.Chunks)
      << after.Chunks.size() << " chunks described, the muxer's " << muxer.Chunks.size();
  // Positions are absolute on both sides, whatever base the muxer's idx1 used.
  EXPECT_EQ(after.Idx1.size(), muxer.Idx1.size());
  const auto mismatch = std::mismatch(after.Idx1.begin(), after.Idx1.end(), muxer.Idx1.begin(), muxer.Idx1.end());
  if (mismatch.first != after.Idx1.end() && mismatch.second != muxer.Idx1.end()) {
    ADD_FAILURE() << "idx1 entry " << (mismatch.first - after.Idx1.begin()) << ": flags " << mismatch.first->Flags
                  << " position " << mismatch.first->Position << " size " << mismatch.first->Size
                  << ", the muxer's flags " << mismatch.second->Flags << " position " << mismatch.second->Position
                  << " size " << mismatch.second->Size;
  }
}

// A rebuilt partial download plays what was downloaded, in every player.
void ExpectPlaysWhatRemains(const std::string& label, const std::string& path, const std::set<Described>& complete,
                            std::int64_t lastMovi) {
  SCOPED_TRACE(label);
  const std::int64_t frames = VideoChunks(complete);
  const Parsed after = OdmlReader(path).Parse();
  EXPECT_TRUE(after.ChainReachesEnd);
  EXPECT_EQ(after.Problems, std::vector<std::string>{});
  EXPECT_TRUE(after.Chunks == complete) << after.Chunks.size() << " chunks described, " << complete.size()
                                        << " complete";
  EXPECT_EQ(VideoPackets(path), frames);
  // Halfway between the first frame of the last segment and the last frame
  // kept, away from a frame that the zeros have damaged.
  const std::int64_t firstOfLast = std::count_if(complete.begin(), complete.end(), [&](const Described& c) {
    return std::get<0>(c) == 0 && std::get<1>(c) < lastMovi;
  });
  ASSERT_LT(firstOfLast, frames);
  EXPECT_EQ(SeekErrors(path, static_cast<double>(firstOfLast + frames - 1) / 2 / FramesPerSecond), "");
  if (HaveTool("gst-launch-1.0")) {
    EXPECT_EQ(GstreamerErrors(path), "");
  } else {
    std::printf("[  SKIPPED ] %s: GStreamer is not installed, not played\n", label.c_str());
  }
  const WorkerRunResult check = RunWorker({path}, {});
  EXPECT_EQ(check.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileOk});
  EXPECT_EQ(check.LastErrorCount, 0);
  EXPECT_EQ(check.LastVideo, frames);
}

// When ffprobe plays each stream's chunks: (stream, chunk position) -> the
// time of the first packet read from it, in the stream's time base. ffmpeg
// may split a long PCM chunk into several packets; the first one's time is
// the chunk's.
std::map<std::pair<int, std::int64_t>, std::int64_t> PacketTimes(const std::string& path) {
  std::istringstream lines(
      RunCommand("ffprobe -v error -show_entries packet=stream_index,pts,pos -of csv=p=0 " + Quoted(path)));
  std::map<std::pair<int, std::int64_t>, std::int64_t> times;
  int stream = 0;
  long long pts = 0, pos = 0;
  char comma = 0;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    if (fields >> stream >> comma >> pts >> comma >> pos) times.emplace(std::pair{stream, pos}, pts);
  }
  return times;
}

// The middle of a video chunk's data, `fraction` of the way through the last
// segment.
std::int64_t CutInLastSegment(const Parsed& muxer, double fraction) {
  const RiffInfo& last = muxer.Riffs.back();
  const std::int64_t target = last.Movi + static_cast<std::int64_t>((last.DataEnd - last.Movi) * fraction);
  for (const Described& c : muxer.Chunks)
    if (std::get<0>(c) == 0 && std::get<1>(c) >= target) return std::get<1>(c) + std::get<2>(c) / 2;
  return -1;
}

void Truncate(const std::string& path, std::int64_t size) { ASSERT_EQ(truncate(path.c_str(), size), 0) << path; }

void PatchLe32(const std::string& path, std::int64_t at, std::uint32_t value) {
  FILE* f = std::fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr) << path;
  unsigned char bytes[4];
  VEK::StoreLe32(bytes, value);
  ASSERT_EQ(std::fseek(f, at, SEEK_SET), 0);
  ASSERT_EQ(std::fwrite(bytes, 1, 4, f), 4u);
  ASSERT_EQ(std::fclose(f), 0);
}

// Each film is made when a test first needs it and kept for the next tests
// of the same run: an in-place rebuild leaves every chunk where the muxer put
// it, so a rebuilt film still serves the damage tests; only the check and
// the rebuild tests need the muxer's own file.
enum class State { Missing, ChunksInPlace, AsMuxed };

struct Film {
  std::string Name, Path;
  const char* Command = nullptr;
  bool Avimux = false;
  State Now = State::Missing;
  Parsed Muxer;
  std::int64_t Frames = 0;  // ffprobe's count
};

class OdmlRebuild : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    raw_ = *dir_ / "raw.avi";
    films_ = new std::vector<Film>;
    for (const FilmRow& row : FilmRows) {
      Film film;
      film.Name = row.Name;
      film.Path = *dir_ / (film.Name + ".avi");
      film.Command = row.Command;
      film.Avimux = row.Avimux;
      if (HaveTool(row.Tool))
        films_->push_back(film);
      else
        std::printf("[  SKIPPED ] %s: %s is not installed\n", row.Name, row.Tool);
    }
  }

  static void TearDownTestSuite() {
    delete films_;
    delete dir_;
    films_ = nullptr;
    dir_ = nullptr;
  }

  void SetUp() override {
    if (!HaveTool("ffmpeg") || !HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
  }

  // The films in the state the test needs, made again where an earlier test
  // left them otherwise; those that cannot be made are skipped with a message.
  static std::vector<Film*> Ready(State need) {
    std::vector<Film*> ready;
    for (Film& film : *films_)
      if (Make(film, need)) ready.push_back(&film);
    std::remove(raw_.c_str());
    return ready;
  }

  static bool Make(Film& film, State need) {
    if (film.Now >= need) return true;
    film.Now = State::Missing;
    if (!Exists(raw_) && std::system(Expand(RawCommand, raw_, raw_).c_str()) != 0) return false;
    if (std::system(Expand(film.Command, film.Path, raw_).c_str()) != 0) {
      std::printf("[  SKIPPED ] %s: the film could not be made\n", film.Name.c_str());
      return false;
    }
    film.Muxer = OdmlReader(film.Path).Parse();
    film.Frames = VideoPackets(film.Path);
    if (film.Avimux) AsARebuildFlagsThem(film.Muxer);
    // The oracle must be an OpenDML file the reader understands whole.
    if (!film.Muxer.ChainReachesEnd || film.Muxer.Riffs.size() < 2 || !film.Muxer.Problems.empty() ||
        film.Muxer.Idx1.empty() || film.Frames != VideoChunks(film.Muxer.Chunks)) {
      std::printf("[  SKIPPED ] %s: not an OpenDML file the test reader understands whole\n", film.Name.c_str());
      return false;
    }
    film.Now = State::AsMuxed;
    return true;
  }

  static TempDir* dir_;
  static std::string raw_;
  static std::vector<Film>* films_;
};

TempDir* OdmlRebuild::dir_ = nullptr;
std::string OdmlRebuild::raw_;
std::vector<Film>* OdmlRebuild::films_ = nullptr;

// mencoder's dmlh holds the frames of the first RIFF only, as its avih does;
// players take the length from the stream headers and indexes, and so a
// healthy mencoder film is no damaged one.
TEST_F(OdmlRebuild, IntactFilesCheckCleanWithFfprobesFrameCount) {
  const std::vector<Film*> films = Ready(State::AsMuxed);
  if (films.empty()) GTEST_SKIP() << "no OpenDML film could be made";
  for (Film* f : films) {
    const Film& film = *f;
    SCOPED_TRACE(film.Name);
    const WorkerRunResult check = RunWorker({film.Path}, {});
    std::string lines;
    for (const std::string& line : check.Lines) lines += line + "\n";
    EXPECT_EQ(check.LastErrorCount, 0) << lines;
    EXPECT_EQ(check.LastVideo, film.Frames);
  }
}

TEST_F(OdmlRebuild, RebuildsDescribeTheMuxersChunks) {
  const std::vector<Film*> films = Ready(State::AsMuxed);
  if (films.empty()) GTEST_SKIP() << "no OpenDML film could be made";
  for (Film* f : films) {
    Film& film = *f;
    SCOPED_TRACE(film.Name);
    const WorkerRunResult copy = Rebuild({film.Path}, false);
    EXPECT_EQ(copy.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt});
    ASSERT_EQ(copy.OutputNames.size(), 1u);
    ExpectSameIndexes("copy", copy.OutputNames[0], film.Muxer);
    std::remove(copy.OutputNames[0].c_str());
    film.Now = State::ChunksInPlace;
    EXPECT_EQ(Rebuild({film.Path}, true).Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt});
    ExpectSameIndexes("in place", film.Path, film.Muxer);
  }
}

// A damaged header list costs the file one error, never its frames, and the
// batch goes on to the next file.
TEST_F(OdmlRebuild, DamagedHeaderListIsOneErrorOfTheFile) {
  const auto raw = std::find_if(films_->begin(), films_->end(), [](const Film& f) { return f.Name == "ffmpeg"; });
  ASSERT_NE(raw, films_->end());
  Film& film = *raw;
  if (!Make(film, State::ChunksInPlace)) GTEST_SKIP() << "the ffmpeg film could not be made";
  const std::string second = *dir_ / "damaged.avi";
  AviBuilder b;
  b.StartMovi().Chunk("00dc", 64).Fill(10, 0x07).Chunk("01wb", 32);
  WriteFile(second, b.Build());
  const State before = film.Now;
  film.Now = State::Missing;
  for (const std::uint32_t size : {0u, 0x7FFFFFF0u}) {
    SCOPED_TRACE(film.Name + ", hdrl size " + std::to_string(size));
    PatchLe32(film.Path, film.Muxer.HdrlPosition + 4, size);
    const WorkerRunResult check = RunWorker({film.Path}, {});
    EXPECT_EQ(check.LastErrorCount, 1);
    EXPECT_EQ(check.LastVideo, film.Frames);
    const WorkerRunResult batch = Rebuild({film.Path, second}, false);
    EXPECT_EQ(batch.Outcomes(), (std::vector<RebuildEvent>{VEKRiff::FileRebuilt, VEKRiff::FileRebuilt}));
    ASSERT_EQ(batch.OutputNames.size(), 2u);
    // ffmpeg reads the copy's frames as it reads the original's.
    EXPECT_EQ(VideoPackets(batch.OutputNames[0]), film.Frames);
    std::remove(batch.OutputNames[0].c_str());
    std::remove(batch.OutputNames[1].c_str());
  }
  PatchLe32(film.Path, film.Muxer.HdrlPosition + 4, film.Muxer.HdrlSize);
  film.Now = before;
  std::remove(second.c_str());
}

// A film carved from a disk from its movi list on: no room for a header list
// before the data. Its copy takes the healthy film's headers, with the data
// and every AVIX segment moved along behind them, and describes the muxer's
// chunks where they now lie.
TEST_F(OdmlRebuild, AFilmCarvedFromItsMoviListIsRebuiltWithItsDataMovedAlong) {
  const auto raw = std::find_if(films_->begin(), films_->end(), [](const Film& f) { return f.Name == "ffmpeg"; });
  ASSERT_NE(raw, films_->end());
  Film& film = *raw;
  if (!Make(film, State::AsMuxed)) GTEST_SKIP() << "the ffmpeg film could not be made";
  const Parsed& muxer = film.Muxer;
  const std::string carved = *dir_ / "carved.avi";
  ASSERT_EQ(std::system(("tail -c +" + std::to_string(muxer.Riffs[0].Movi + 1) + " " + Quoted(film.Path) + " > " +
                         Quoted(carved))
                            .c_str()),
            0);
  WorkerRunOptions o;
  o.CheckOnly = false;
  o.Reference = film.Path;
  const WorkerRunResult copy = RunWorker({carved}, o);
  std::remove(carved.c_str());
  ASSERT_EQ(copy.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt});
  ASSERT_EQ(copy.OutputNames.size(), 1u);
  const Parsed after = OdmlReader(copy.OutputNames[0]).Parse();
  EXPECT_TRUE(after.ChainReachesEnd);
  EXPECT_EQ(after.Problems, std::vector<std::string>{});
  ASSERT_EQ(after.Riffs.size(), muxer.Riffs.size());
  const std::int64_t shift = after.Riffs[0].Movi - muxer.Riffs[0].Movi;
  std::set<Described> moved;
  for (const auto& [stream, at, size, key] : muxer.Chunks) moved.insert({stream, at + shift, size, key});
  EXPECT_TRUE(after.Chunks == moved) << after.Chunks.size() << " chunks described, the muxer's " << moved.size();
  EXPECT_EQ(VideoPackets(copy.OutputNames[0]), film.Frames);
  EXPECT_EQ(SeekErrors(copy.OutputNames[0], film.Frames / FramesPerSecond - 1), "");
  EXPECT_EQ(GstreamerErrors(copy.OutputNames[0]), "");
  EXPECT_EQ(RunWorker({copy.OutputNames[0]}, {}).LastErrorCount, 0);
  std::remove(copy.OutputNames[0].c_str());
}

// Zeros over a stretch of the first segment (its idx1 intact) and one of
// the last: the copy keeps every later frame and sound chunk at the time
// ffprobe plays it at in the muxer's film (a placeholder stands in each
// lost chunk's place, as the idx1 or the segment's own OpenDML index names
// it), and players and a check of the copy find nothing wrong.
TEST_F(OdmlRebuild, StretchesLostInAnySegmentKeepTheTimeOfWhatFollows) {
  const std::vector<Film*> films = Ready(State::ChunksInPlace);
  if (films.empty()) GTEST_SKIP() << "no OpenDML film could be made";
  constexpr std::int64_t Zeroed = 6 << 20;
  for (Film* f : films) {
    Film& film = *f;
    SCOPED_TRACE(film.Name);
    const Parsed& muxer = film.Muxer;
    // From the header of the first video chunk halfway through the segment.
    std::vector<std::int64_t> zeroed;
    for (const RiffInfo* riff : {&muxer.Riffs.front(), &muxer.Riffs.back()}) {
      for (const Described& c : muxer.Chunks)
        if (std::get<0>(c) == 0 && std::get<1>(c) >= riff->Movi + (riff->DataEnd - riff->Movi) / 2) {
          zeroed.push_back(std::get<1>(c) - 8);
          break;
        }
      ASSERT_EQ(zeroed.size(), riff == &muxer.Riffs.front() ? 1u : 2u);
      ASSERT_LT(zeroed.back() + Zeroed, riff->DataEnd);
    }
    const auto before = PacketTimes(film.Path);
    ASSERT_FALSE(before.empty());
    std::vector<std::vector<unsigned char>> kept;
    for (const std::int64_t from : zeroed) kept.push_back(OdmlReader(film.Path).At(from, Zeroed));
    auto overwrite = [&](std::int64_t from, const char* bytes) {
      std::fstream out(film.Path, std::ios::in | std::ios::out | std::ios::binary);
      out.seekp(from);
      out.write(bytes, Zeroed);
    };
    for (const std::int64_t from : zeroed) overwrite(from, std::string(Zeroed, '\0').data());
    const WorkerRunResult copy = Rebuild({film.Path}, false);
    for (std::size_t i = 0; i < zeroed.size(); ++i) overwrite(zeroed[i], reinterpret_cast<const char*>(kept[i].data()));
    ASSERT_EQ(copy.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt});
    ASSERT_EQ(copy.OutputNames.size(), 1u);
    const std::string& out = copy.OutputNames[0];
    const Parsed after = OdmlReader(out).Parse();
    EXPECT_TRUE(after.ChainReachesEnd);
    EXPECT_EQ(after.Problems, std::vector<std::string>{});
    ASSERT_EQ(after.Riffs.size(), muxer.Riffs.size());
    // Each kept chunk is where the muxer put it, each later segment moved
    // along as a whole: ffprobe must play it at the muxer's time.
    std::int64_t keptChunks = 0, late = 0, keptVideo = 0;
    for (const auto& [key, pts] : PacketTimes(out)) {
      std::size_t k = after.Riffs.size() - 1;
      while (k > 0 && key.second < after.Riffs[k].Position) --k;
      const std::int64_t source = key.second - (after.Riffs[k].Position - muxer.Riffs[k].Position);
      const auto original = before.find({key.first, source});
      if (original == before.end()) continue;  // a placeholder
      ++keptChunks;
      keptVideo += key.first == 0;
      if (original->second != pts) ++late;
    }
    const std::int64_t lostVideo = std::count_if(muxer.Chunks.begin(), muxer.Chunks.end(), [&](const Described& c) {
      return std::get<0>(c) == 0 && std::any_of(zeroed.begin(), zeroed.end(), [&](std::int64_t from) {
               return std::get<1>(c) - 8 < from + Zeroed && std::get<1>(c) + std::get<2>(c) > from;
             });
    });
    EXPECT_GE(keptVideo, film.Frames - lostVideo);
    EXPECT_EQ(late, 0) << "of " << keptChunks << " chunks kept";
    EXPECT_EQ(GstreamerErrors(out), "");
    const WorkerRunResult check = RunWorker({out}, {});
    EXPECT_EQ(check.LastErrorCount, 0);
    std::remove(out.c_str());
  }
}

// A download that stopped with its tail still zero, rebuilt in place; then
// the same file cut shorter, inside its last segment, rebuilt to a copy.
TEST_F(OdmlRebuild, PartialDownloadsPlayWhatRemains) {
  const std::vector<Film*> films = Ready(State::ChunksInPlace);
  if (films.empty()) GTEST_SKIP() << "no OpenDML film could be made";
  for (Film* f : films) {
    Film& film = *f;
    SCOPED_TRACE(film.Name);
    const Parsed& muxer = film.Muxer;
    const std::int64_t zeroFrom = CutInLastSegment(muxer, 0.8), cut = CutInLastSegment(muxer, 0.4);
    ASSERT_GT(cut, muxer.Riffs.back().Movi);
    ASSERT_GT(zeroFrom, cut);
    film.Now = State::Missing;
    const std::int64_t size = OdmlReader(film.Path).Size();
    Truncate(film.Path, zeroFrom);
    Truncate(film.Path, size);
    EXPECT_EQ(Rebuild({film.Path}, true).Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt});
    ExpectPlaysWhatRemains("zero-filled tail, in place", film.Path, HeadersBefore(muxer, zeroFrom),
                           muxer.Riffs.back().Movi);
    Truncate(film.Path, cut);
    const WorkerRunResult partial = Rebuild({film.Path}, false);
    EXPECT_EQ(partial.Outcomes(), std::vector<RebuildEvent>{VEKRiff::FileRebuilt});
    ASSERT_EQ(partial.OutputNames.size(), 1u);
    ExpectPlaysWhatRemains("cut, copy", partial.OutputNames[0], KeptBefore(muxer, cut), muxer.Riffs.back().Movi);
    std::remove(partial.OutputNames[0].c_str());
    std::remove(film.Path.c_str());
  }
}

}  // namespace
