// The check's lines about the header list, one per damage done to a film's
// own headers, and what a rebuild makes of each: the check of the rebuilt
// copy finds the header list sound again, except where neither the data nor
// what is left of the headers tells the format (the builder's chunks hold no
// codec's headers).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/AviBuilder.h"
#include "support/TempDir.h"
#include "support/WorkerRun.h"
#include "util/Endian.h"

namespace {

using namespace ZantrelTest;

// The builder's layout: avih data at 32, stream n's strl at 88 + 124 n,
// its strh data 20 bytes in, its strf data 84 bytes in.
constexpr std::size_t Avih = 32, Strl = 88, StrlSize = 124, Strh = 20, Strf = 84;

Bytes Film() {
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < 6; ++i) b.Chunk("00dc", 200 + i).Chunk("01wb", 64);
  return b.EndMovi().Idx1().Build();
}

std::vector<std::string> HeaderLines(const std::vector<std::string>& lines) {
  std::vector<std::string> out;
  // The lines between "Checking errors..." and the Done line, less the
  // header counts, which another table judges.
  for (std::size_t i = 2; i + 2 < lines.size(); ++i)
    if (lines[i].rfind("The header says", 0) != 0 && lines[i].find("gives a length of") == std::string::npos)
      out.push_back(lines[i]);
  return out;
}

TEST(HeaderCheck, EachDamageToTheHeaderListIsOneLineAndARebuildMendsIt) {
  TempDir dir;
  const struct {
    const char* name;
    std::function<void(Bytes&)> damage;
    std::vector<std::string> lines;
    bool mended = true;
  } rows[] = {
      {"healthy", [](Bytes&) {}, {}},
      {"video strh says audio",
       [](Bytes& f) { std::copy_n("auds", 4, f.begin() + Strl + Strh); },
       {"The stream header of stream 0 says \"auds\", but its 6 chunks are \"00dc\"."}},
      {"audio rate zero",
       [](Bytes& f) { VEK::StoreLe32(&f[Strl + StrlSize + Strh + 24], 0); },
       {"The stream header of stream 1 gives a rate of 0 per 1 units: players cannot time it."}},
      {"video strf zeroed",
       [](Bytes& f) { std::fill_n(f.begin() + Strl + Strf, 40, 0); },
       {"The format (strf) of stream 0 is missing or damaged."},
       false},
      {"audio strf zeroed",
       [](Bytes& f) { std::fill_n(f.begin() + Strl + StrlSize + Strf, 18, 0); },
       {"The format (strf) of stream 1 is missing or damaged."}},
      {"no frame time",
       [](Bytes& f) { VEK::StoreLe32(&f[Avih], 0); },
       {"The main header (avih) gives 0 microseconds per frame."}},
      {"avih renamed",
       [](Bytes& f) { std::copy_n("xxxx", 4, f.begin() + Avih - 8); },
       {"The main header (avih) is missing or damaged."}},
      {"audio strl zeroed",
       [](Bytes& f) { std::fill_n(f.begin() + Strl + StrlSize, StrlSize, 0); },
       {"The stream header (strh) of stream 1 is missing or damaged; the stream has 6 chunks.",
        "The format (strf) of stream 1 is missing or damaged."}},  // kept as data, which players pass over
  };
  for (const auto& row : rows) {
    Bytes film = Film();
    row.damage(film);
    const std::string path = dir / (std::string(row.name) + ".avi");
    WriteFile(path, film);
    const WorkerRunResult check = RunWorker({path}, {});
    EXPECT_EQ(HeaderLines(check.Lines), row.lines) << row.name;
    WorkerRunOptions rebuild;
    rebuild.CheckOnly = false;
    EXPECT_EQ(RunWorker({path}, rebuild).Outcomes(), std::vector<VEKRiff::RebuildEvent>{VEKRiff::FileRebuilt})
        << row.name;
    const WorkerRunResult again = RunWorker({dir / ("Zantrel." + std::string(row.name) + ".avi")}, {});
    EXPECT_EQ(again.Outcomes(), std::vector<VEKRiff::RebuildEvent>{row.mended ? VEKRiff::FileOk : VEKRiff::FileError})
        << row.name << ": " << (again.Lines.size() > 2 ? again.Lines[2] : "");
    // Never worse: what the rebuild keeps of the headers still describes the data.
    EXPECT_LE(again.LastErrorCount, check.LastErrorCount) << row.name;
  }
}

}  // namespace
