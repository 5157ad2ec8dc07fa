// An OpenDML film rebuilt in place and killed after any byte of any write:
// through the system-call seam every write lands up to byte N and then
// nothing more does. Each file left behind is read here the way libavformat
// reads an AVI's indexes (the header chunks one after the other, each
// stream's indx and the ix## chunks its entries point at, the idx1 only when
// no indx gave anything), and each stream must read either as before or as
// in the finished rebuild, every chunk listed where it was. A sample of the
// cut files is also read by ffprobe (packets per stream) and by our own
// check. Rows cover films whose super indexes switch by a byte of their
// count or name, whose super index players read must change (led through
// gates past the end), and whose streams are all read from the idx1 (their
// super indexes switched together by the file's end).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/EngineMessages.h"
#include "lang/Language.h"
#include "support/AviBuilder.h"
#include "support/FaultySystemCalls.h"
#include "support/OdmlReader.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;

constexpr std::uint32_t Slots = 4;  // super index entries each reserve has room for

// (chunk header position, data size, key frame), as a player lists a chunk.
struct Listed {
  std::int64_t At;
  std::uint32_t Size;
  bool Key;
  bool operator==(const Listed&) const = default;
  bool operator<(const Listed& o) const { return At < o.At; }
};
using View = std::map<int, std::vector<Listed>>;  // per stream

std::uint32_t Le32(const Bytes& f, std::int64_t at) {
  if (at < 0 || at + 4 > static_cast<std::int64_t>(f.size())) return 0;
  return VEK::LoadLe32(&f[static_cast<std::size_t>(at)]);
}
std::uint64_t Le64(const Bytes& f, std::int64_t at) {
  return Le32(f, at) | (static_cast<std::uint64_t>(Le32(f, at + 4)) << 32);
}

// libavformat's reading of one index (a super index or an ix## chunk's) at
// `at`, its entries added to the streams; false where it gives up.
bool ReadIndex(const Bytes& f, std::int64_t at, int streams, View& view, bool& loaded, int depth = 0) {
  const auto size = static_cast<std::int64_t>(f.size());
  const std::uint32_t longs = Le32(f, at) & 0xFFFF;
  const unsigned sub = at + 2 < size ? f[static_cast<std::size_t>(at + 2)] : 0;
  const unsigned type = at + 3 < size ? f[static_cast<std::size_t>(at + 3)] : 0;
  const auto count = static_cast<std::int32_t>(Le32(f, at + 4));
  const std::uint32_t id = Le32(f, at + 8);
  const auto base = static_cast<std::int64_t>(Le64(f, at + 12));
  const int stream = (static_cast<int>(id & 0xFF) - '0') * 10 + (static_cast<int>((id >> 8) & 0xFF) - '0');
  if (at + 24 > size || stream < 0 || stream >= streams || sub != 0 || count < 0 || type > 1 ||
      (type == 1 && longs != 2) || base >= size || depth > 4)
    return false;
  std::int64_t lastPos = -1;
  for (std::int32_t i = 0; i < count; ++i) {
    if (type == 1) {
      const std::int64_t e = at + 24 + static_cast<std::int64_t>(i) * 8;
      if (e + 8 > size) return false;
      const std::int64_t pos = Le32(f, e) + base - 8;
      const std::uint32_t len = Le32(f, e + 4);
      if (pos != lastPos && (len & 0x7FFFFFFF) != 0)
        view[stream].push_back({pos, len & 0x7FFFFFFF, (len & 0x80000000u) == 0});
      lastPos = pos;
    } else {
      const std::int64_t e = at + 24 + static_cast<std::int64_t>(i) * 16;
      if (e + 16 > size) return false;
      if (!ReadIndex(f, static_cast<std::int64_t>(Le64(f, e)) + 8, streams, view, loaded, depth + 1)) return false;
    }
  }
  loaded = true;
  return true;
}

View PlayersView(const Bytes& f) {
  View view;
  bool loaded = false;
  int streams = 0;
  std::int64_t movi = -1, moviEnd = -1;
  const auto size = static_cast<std::int64_t>(f.size());
  for (std::int64_t pos = 12; pos + 8 <= size;) {
    const std::uint32_t tag = Le32(f, pos), chunk = Le32(f, pos + 4);
    if (tag == Code("LIST")) {
      if (Le32(f, pos + 8) == Code("movi")) {
        movi = pos + 8;
        moviEnd = movi + chunk + (chunk & 1);
        break;
      }
      pos += 12;
      continue;
    }
    if (tag == Code("strh")) ++streams;
    if (tag == Code("indx")) ReadIndex(f, pos + 8, streams, view, loaded);
    pos += 8 + chunk + (chunk & 1);
  }
  if (loaded || movi < 0) return view;
  // The idx1 where the first movi list ends, offsets from "movi".
  if (Le32(f, moviEnd) != Code("idx1")) return view;
  const std::int64_t entries = std::min<std::int64_t>(Le32(f, moviEnd + 4), size - moviEnd - 8) / 16;
  std::map<int, std::int64_t> last;
  for (std::int64_t i = 0; i < entries; ++i) {
    const std::int64_t e = moviEnd + 8 + i * 16;
    const std::uint32_t id = Le32(f, e);
    const int stream = (static_cast<int>(id & 0xFF) - '0') * 10 + (static_cast<int>((id >> 8) & 0xFF) - '0');
    if (stream < 0 || stream >= streams) continue;
    const std::int64_t pos = movi + Le32(f, e + 8);
    const std::uint32_t len = Le32(f, e + 12);
    if (last.count(stream) && last[stream] == pos) continue;
    if (len != 0) view[stream].push_back({pos, len, (Le32(f, e + 4) & 0x10) != 0});
    last[stream] = pos;
  }
  return view;
}

// A small OpenDML film laid out as libavformat writes one: two streams,
// each with a super index reserve in its header list, three RIFFs, each
// movi list closed by its ix## chunks, an idx1 after the first.
struct Film {
  Bytes Data;
  std::vector<Listed> Video, Audio;  // every chunk written, in order
  std::vector<std::int64_t> Segments;  // RIFF positions
  std::int64_t IndxPos[2] = {-1, -1};
  std::int64_t OdmlPos = -1;
};

enum class Ending {
  Finished,          // every index written, the odml list in place
  CutInLastSegment,  // the recording stopped inside its last segment
};

struct FilmOptions {
  Ending How = Ending::Finished;
  bool Idx1 = true;
  unsigned Unnamed = 0;  // streams (bit n: stream n) whose super index stayed an empty JUNK reserve
  bool AudioNotKey = false;  // the audio ix## entries say "not a key frame", as GStreamer writes them
  bool DamagedEntry = false;  // one entry of the middle segment's video index points a byte off
};

class FilmWriter {
 public:
  Bytes b;
  void Put(std::string_view text) { b.insert(b.end(), text.begin(), text.end()); }
  void Put32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
  }
  void Put16(std::uint16_t v) { Put32(v), b.resize(b.size() - 2); }
  void Put64(std::uint64_t v) { Put32(static_cast<std::uint32_t>(v)), Put32(static_cast<std::uint32_t>(v >> 32)); }
  std::int64_t Start(std::string_view code) {
    Put(code);
    Put32(0xFFFFFFFF);  // as ffmpeg leaves a size it has not written yet
    return static_cast<std::int64_t>(b.size());
  }
  void End(std::int64_t start) {
    VEK::StoreLe32(&b[static_cast<std::size_t>(start - 4)], static_cast<std::uint32_t>(b.size() - start));
  }
  std::int64_t Size() const { return static_cast<std::int64_t>(b.size()); }
};

Film MakeFilm(const FilmOptions& o) {
  Film film;
  FilmWriter w;
  const int perSegment = 6;
  const int segments = 3;
  const std::int64_t riff = w.Start("RIFF");
  w.Put("AVI ");
  const std::int64_t hdrl = w.Start("LIST");
  w.Put("hdrlavih");
  w.Put32(56);
  for (const std::uint32_t v : {40000u, 0u, 0u, 0x110u, 0u, 0u, 2u, 0u, 4u, 4u, 0u, 0u, 0u, 0u}) w.Put32(v);
  for (int s = 0; s < 2; ++s) {
    const std::int64_t strl = w.Start("LIST");
    w.Put("strlstrh");
    w.Put32(56);
    w.Put(s == 0 ? "vidsDIB " : "auds");
    if (s == 1) w.Put32(0);
    w.Put32(0);  // flags
    w.Put32(0);  // priority, language
    w.Put32(0);  // initial frames
    w.Put32(s == 0 ? 1 : 2);      // scale
    w.Put32(s == 0 ? 25 : 16000);  // rate
    w.Put32(0);                    // start
    w.Put32(0);                    // length, written at the end by the muxer
    w.Put32(0);                    // buffer size
    w.Put32(0xFFFFFFFF);           // quality
    w.Put32(s == 0 ? 0 : 2);       // sample size
    w.Put64(0);                    // frame
    w.Put("strf");
    if (s == 0) {
      w.Put32(40);
      for (const std::uint32_t v : {40u, 4u, 4u, 1u | (24u << 16), 0u, 48u, 0u, 0u, 0u, 0u}) w.Put32(v);
    } else {
      w.Put32(18);
      w.Put16(1), w.Put16(1), w.Put32(8000), w.Put32(16000), w.Put16(2), w.Put16(16), w.Put16(0);
    }
    film.IndxPos[s] = w.Size();
    w.Put("JUNK");
    w.Put32(24 + 16 * Slots);
    w.Put16(4), w.Put16(0), w.Put32(0), w.Put(s == 0 ? "00dc" : "01wb");
    w.b.insert(w.b.end(), 12 + 16 * Slots, 0);
    w.End(strl);
  }
  film.OdmlPos = w.Size();
  w.Put("JUNK");
  w.Put32(260);
  w.Put("odmldmlh");
  w.Put32(248);
  w.b.insert(w.b.end(), 248, 0);
  w.End(hdrl);

  std::vector<std::uint64_t> super[2];
  std::vector<std::uint32_t> durations[2];
  std::int64_t firstMovi = -1;
  for (int segment = 0; segment < segments; ++segment) {
    const std::int64_t r = segment == 0 ? riff - 8 : w.Start("RIFF") - 8;
    film.Segments.push_back(r);
    if (segment > 0) w.Put("AVIX");
    const std::int64_t moviList = w.Start("LIST");
    w.Put("movi");
    if (segment == 0) firstMovi = moviList;
    std::vector<Listed> mine[2];
    for (int i = 0; i < perSegment; ++i) {
      const int n = segment * perSegment + i;
      mine[0].push_back({w.Size(), 48, true});
      w.Put("00dc");
      w.Put32(48);
      w.b.insert(w.b.end(), 48, static_cast<unsigned char>(0x40 + n % 50));
      const std::uint32_t bytes = 30 + 2 * static_cast<std::uint32_t>(n % 5);
      mine[1].push_back({w.Size(), bytes, true});
      w.Put("01wb");
      w.Put32(bytes);
      w.b.insert(w.b.end(), bytes, 0x11);
    }
    film.Video.insert(film.Video.end(), mine[0].begin(), mine[0].end());
    film.Audio.insert(film.Audio.end(), mine[1].begin(), mine[1].end());
    const bool last = segment + 1 == segments;
    if (last && o.How == Ending::CutInLastSegment) break;  // nothing closed it
    for (int s = 0; s < 2; ++s) {
      super[s].push_back(static_cast<std::uint64_t>(w.Size()));
      w.Put(s == 0 ? "ix00" : "ix01");
      w.Put32(24 + 8 * perSegment);
      w.Put16(2), w.b.push_back(0), w.b.push_back(1), w.Put32(perSegment), w.Put(s == 0 ? "00dc" : "01wb");
      w.Put64(static_cast<std::uint64_t>(moviList));  // from "movi", as ffmpeg counts
      w.Put32(0);
      std::uint32_t duration = 0;
      for (const Listed& c : mine[s]) {
        w.Put32(static_cast<std::uint32_t>(c.At + 8 - moviList));
        w.Put32(c.Size | (s == 1 && o.AudioNotKey ? 0x80000000u : 0));
        duration += s == 0 ? 1 : c.Size / 2;
      }
      durations[s].push_back(duration);
    }
    w.End(moviList);
    if (segment == 0 && o.Idx1) {
      const std::int64_t idx1 = w.Start("idx1");
      for (std::size_t i = 0; i < mine[0].size(); ++i)
        for (int s = 0; s < 2; ++s) {
          w.Put(s == 0 ? "00dc" : "01wb");
          w.Put32(0x10);
          w.Put32(static_cast<std::uint32_t>(mine[s][i].At - firstMovi));
          w.Put32(mine[s][i].Size);
        }
      w.End(idx1);
    }
    w.End(r + 8);
  }
  Bytes& f = w.b;
  {
    // What the muxer wrote into each reserve as it closed each segment.
    for (int s = 0; s < 2; ++s) {
      if ((o.Unnamed & (1u << s)) != 0) continue;
      const auto at = static_cast<std::size_t>(film.IndxPos[s]);
      std::memcpy(&f[at], "indx", 4);
      VEK::StoreLe32(&f[at + 8 + 4], static_cast<std::uint32_t>(super[s].size()));
      for (std::size_t k = 0; k < super[s].size(); ++k) {
        VEK::StoreLe64(&f[at + 8 + 24 + 16 * k], super[s][k]);
        VEK::StoreLe32(&f[at + 8 + 24 + 16 * k + 8], 8 + 24 + 8 * perSegment);
        VEK::StoreLe32(&f[at + 8 + 24 + 16 * k + 12], durations[s][k]);
      }
    }
  }
  if (o.How != Ending::CutInLastSegment) {
    std::memcpy(&f[static_cast<std::size_t>(film.OdmlPos)], "LIST", 4);
    VEK::StoreLe32(&f[static_cast<std::size_t>(film.OdmlPos + 8 + 12)], perSegment * segments);
  }
  if (o.DamagedEntry) {
    const std::int64_t ix = static_cast<std::int64_t>(VEK::LoadLe64(&f[static_cast<std::size_t>(film.IndxPos[0] + 8 + 24 + 16)]));
    const auto entry = static_cast<std::size_t>(ix + 32 + 8 * 3);
    VEK::StoreLe32(&f[entry], VEK::LoadLe32(&f[entry]) + 1);
  }
  film.Data = f;
  return film;
}

// What a player finds of every chunk of `film` in the rebuilt file.
View Everything(const Film& film) {
  View v;
  v[0] = film.Video;
  v[1] = film.Audio;
  return v;
}

// Every chunk listed in `view` has the bytes it had in the source.
bool ChunksIntact(const Bytes& f, const Bytes& source, const View& view) {
  for (const auto& [stream, chunks] : view)
    for (const Listed& c : chunks) {
      const auto from = static_cast<std::size_t>(c.At), to = from + 8 + c.Size;
      if (to > f.size() || to > source.size() || !std::equal(f.begin() + from, f.begin() + to, source.begin() + from))
        return false;
    }
  return true;
}

std::string PacketsPerStream(const std::string& path) {
  return RunCommand("ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 '" + path +
                    "' 2>&1");
}

struct Row {
  const char* Name;
  FilmOptions Options;
  // Bytes zeroed from this far into the last segment to the end (0: none),
  // as a download that stopped leaves them.
  std::int64_t ZeroFrom = 0;
};

const Row rows[] = {
    {"a recording stopped inside its last segment", {Ending::CutInLastSegment, true}},
    {"a download whose last segment ends in zeros", {Ending::Finished, true}, 300},
    {"the audio stream's super index never named", {Ending::Finished, true, 2}},
    // Super indexes players read whose entries change: led through gates.
    {"audio indexed without the key-frame bit", {.AudioNotKey = true}},
    {"an index players read lists a chunk wrongly", {.DamagedEntry = true}},
    // No super index read, each stream from the idx1: all named at once.
    {"both super indexes never named", {.Unnamed = 3}},
    {"both never named, no idx1", {.Idx1 = false, .Unnamed = 3}},
    {"both never named, the last segment ending in zeros", {.Unnamed = 3}, 300},
};

Film RowFilm(const Row& row) {
  Film film = MakeFilm(row.Options);
  if (row.ZeroFrom > 0)
    std::fill(film.Data.begin() + film.Segments.back() + row.ZeroFrom, film.Data.end(), 0);
  return film;
}

// A power failure lands everything before the last flush that returned and
// any part of the writes and cuts made since (every part where they are
// few; else each alone and all but each): every stream reads as before or
// rebuilt.
TEST(InPlaceOdmlCut, APowerFailureBetweenTwoFlushesLeavesEveryStreamAsBeforeOrRebuilt) {
  using Step = FaultySystemCalls::Step;
  auto apply = [](Bytes& f, const Step& step) {
    const auto at = static_cast<std::size_t>(step.Offset);
    if (step.What == Step::Truncate) return f.resize(at);
    if (f.size() < at + step.Bytes.size()) f.resize(at + step.Bytes.size(), 0);
    std::copy(step.Bytes.begin(), step.Bytes.end(), f.begin() + step.Offset);
  };
  WorkerRunOptions inPlace;
  inPlace.CheckOnly = false;
  inPlace.KeepOriginal = false;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    const Bytes source = RowFilm(row).Data;
    TempDir dir;
    const std::string path = dir / "film.avi";
    WriteFile(path, source);
    FaultySystemCalls calls;
    calls.keepJournal = true;
    {
      CallsGuard guard(calls);
      RunWorker({path}, inPlace);
    }
    const Bytes rebuilt = ReadFile(path);
    const View was = PlayersView(source), after = PlayersView(rebuilt);
    ASSERT_NE(was, after);
    std::vector<std::vector<const Step*>> between(1);
    for (const Step& step : calls.journal) {
      if (step.What == Step::Flush)
        between.emplace_back();
      else
        between.back().push_back(&step);
    }
    Bytes landed = source;
    for (std::size_t k = 0; k < between.size(); ++k) {
      const std::size_t n = between[k].size();
      std::vector<std::uint32_t> parts;
      for (std::uint32_t part = 0; n <= 12 && part < (1u << n); ++part) parts.push_back(part);
      for (std::size_t i = 0; n > 12 && i < n; ++i) parts.push_back(1u << i), parts.push_back(~(1u << i));
      for (const std::uint32_t part : parts) {
        Bytes left = landed;
        for (std::size_t i = 0; i < n; ++i)
          if ((part >> i) & 1) apply(left, *between[k][i]);
        const View now = PlayersView(left);
        for (int s = 0; s < 2; ++s) {
          auto same = [&](const View& v) { return now.count(s) ? v.count(s) && now.at(s) == v.at(s) : !v.count(s); };
          ASSERT_TRUE(same(was) || same(after))
              << "stream " << s << " read as neither after flush " << k << ", of the " << n << " writes since, mask "
              << part;
        }
      }
      for (const Step* step : between[k]) apply(landed, *step);
    }
    // The last cut (the file's end) comes after the last flush.
    EXPECT_EQ(PlayersView(landed), after);
  }
}

TEST(InPlaceOdmlCut, AKillAfterAnyByteLeavesEveryStreamAsBeforeOrRebuilt) {
  WorkerRunOptions inPlace;
  inPlace.CheckOnly = false;
  inPlace.KeepOriginal = false;
  const bool ffprobe = HaveTool("ffprobe");
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    Film film = MakeFilm(row.Options);
    Bytes& source = film.Data;
    View whole = Everything(film);
    if (row.ZeroFrom > 0) {
      const std::int64_t from = film.Segments.back() + row.ZeroFrom;
      std::fill(source.begin() + from, source.end(), 0);
      // The chunks a player still finds whole.
      for (auto& [stream, chunks] : whole)
        std::erase_if(chunks, [from](const Listed& c) { return c.At + 8 > from; });
    }
    TempDir dir;
    const std::string path = dir / "film.avi";
    WriteFile(path, source);
    const WorkerRunResult before = RunWorker({path}, {});
    FaultySystemCalls counting;
    {
      CallsGuard guard(counting);
      const WorkerRunResult run = RunWorker({path}, inPlace);
      ASSERT_EQ(run.Outcomes(), std::vector<VEKRiff::RebuildEvent>{VEKRiff::FileRebuilt});
    }
    const Bytes rebuilt = ReadFile(path);
    const std::int64_t total = counting.bytesWritten;
    // The finished rebuild lists every chunk, and a test reader finds it sound.
    const View after = PlayersView(rebuilt), was = PlayersView(source);
    EXPECT_EQ(after, whole);
    EXPECT_TRUE(ChunksIntact(rebuilt, source, after));
    const Parsed parsed = OdmlReader(path).Parse();
    EXPECT_TRUE(parsed.ChainReachesEnd);
    EXPECT_EQ(parsed.Problems, std::vector<std::string>{});
    EXPECT_EQ(parsed.Chunks.size(), whole[0].size() + whole[1].size());
    const std::string rebuiltPackets = ffprobe ? PacketsPerStream(path) : "";
    const WorkerRunResult check = RunWorker({path}, {});
    EXPECT_EQ(check.LastErrorCount, 0);

    WriteFile(path, source);
    const std::string sourcePackets = ffprobe ? PacketsPerStream(path) : "";
    int asBefore = 0, asRebuilt = 0, mixed = 0, sampled = 0;
    // The cut points ffprobe and our check also read: some spread over the
    // run, and the last byte before the end.
    std::set<std::int64_t> sample = {total - 1};
    for (int k = 1; k <= 4; ++k) sample.insert(total * k / 5);
    for (std::int64_t cut = 0; cut <= total; ++cut) {
      WriteFile(path, source);
      FaultySystemCalls calls;
      calls.cutAfterBytes = cut;
      {
        CallsGuard guard(calls);
        RunWorker({path}, inPlace);
      }
      const Bytes left = ReadFile(path);
      const View now = PlayersView(left);
      bool allBefore = true, allRebuilt = true;
      for (int s = 0; s < 2; ++s) {
        const bool old = now.count(s) ? was.count(s) && now.at(s) == was.at(s) : !was.count(s);
        const bool fresh = now.count(s) ? after.count(s) && now.at(s) == after.at(s) : !after.count(s);
        ASSERT_TRUE(old || fresh) << "stream " << s << " read as neither, killed after " << cut << " of " << total;
        allBefore = allBefore && old;
        allRebuilt = allRebuilt && fresh;
      }
      ASSERT_TRUE(ChunksIntact(left, source, now)) << "killed after " << cut;
      // Everything before the first movi list is each byte the source's or
      // the rebuild's, but for a super index's base and the offset of its
      // first entry, which lead players elsewhere for a while.
      auto firstOffset = [&](std::int64_t i) {
        return std::any_of(std::begin(film.IndxPos), std::end(film.IndxPos), [i](std::int64_t indx) {
          return (i >= indx + 32 && i < indx + 40) || (i >= indx + 20 && i < indx + 28);
        });
      };
      for (std::int64_t i = 0; i < film.Segments.front() + 24 && i < 2048; ++i)
        ASSERT_TRUE(left[i] == source[i] || (i < static_cast<std::int64_t>(rebuilt.size()) && left[i] == rebuilt[i]) ||
                    firstOffset(i))
            << "header byte " << i << ", killed after " << cut;
      asBefore += allBefore;
      asRebuilt += allRebuilt && !allBefore;
      mixed += !allBefore && !allRebuilt;
      if (sample.count(cut)) {
        ++sampled;
        if (ffprobe) {
          const std::string packets = PacketsPerStream(path);
          EXPECT_TRUE(packets == sourcePackets || packets == rebuiltPackets)
              << "ffprobe reads " << packets << " killed after " << cut;
        }
        const WorkerRunResult again = RunWorker({path}, {});
        EXPECT_TRUE(again.LastVideo == before.LastVideo || again.LastVideo == check.LastVideo)
            << "our check counts " << again.LastVideo << " frames (" << before.LastVideo << " before, " << check.LastVideo
            << " rebuilt), killed after " << cut;
      }
    }
    EXPECT_GT(asBefore, 0);
    EXPECT_GT(asRebuilt, 0);
    std::printf("[          ] %s: %lld cuts, %d as before, %d rebuilt, %d with streams of each, %d also read by %s\n",
                row.Name, static_cast<long long>(total + 1), asBefore, asRebuilt, mixed, sampled,
                ffprobe ? "ffprobe and our check" : "our check");
  }
}

// The writes no order keeps whole are said before the first of them, and
// only where they happen.
TEST(InPlaceOdmlCut, SaysWhenAWriteCouldStillBeTornAndOnlyThen) {
  enum class Damage { None, StreamType, SuperIndexOfChunks };
  const struct {
    const char* Name;
    FilmOptions Options;
    Damage What;
    bool Said;
  } rows[] = {
      {"a header list rewritten whole", {}, Damage::StreamType, true},
      {"a super index players read as an index of chunks", {}, Damage::SuperIndexOfChunks, true},
      {"a super index led through gates", {.AudioNotKey = true}, Damage::None, false},
      {"super indexes named together", {.Unnamed = 3}, Damage::None, false},
  };
  WorkerRunOptions inPlace;
  inPlace.CheckOnly = false;
  inPlace.KeepOriginal = false;
  const std::string line = VEK::Text(VEKRiff::Msg::InPlaceMayTear);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    Film film = MakeFilm(row.Options);
    // The video stream's type in its strh, or its super index's longs per
    // entry and type (2 and 1: an index of chunks, its entries read as such).
    if (row.What == Damage::StreamType) VEK::StoreLe32(&film.Data[108], 0);
    if (row.What == Damage::SuperIndexOfChunks)
      VEK::StoreLe32(&film.Data[static_cast<std::size_t>(film.IndxPos[0] + 8)], 0x01000002);
    TempDir dir;
    const std::string path = dir / "film.avi";
    WriteFile(path, film.Data);
    const WorkerRunResult run = RunWorker({path}, inPlace);
    EXPECT_EQ(run.Outcomes(), std::vector<VEKRiff::RebuildEvent>{VEKRiff::FileRebuilt});
    EXPECT_EQ(std::count(run.Lines.begin(), run.Lines.end(), line), row.Said ? 1 : 0)
        << ::testing::PrintToString(run.Lines);
    EXPECT_EQ(PlayersView(ReadFile(path)), Everything(film));
  }
}

}  // namespace
