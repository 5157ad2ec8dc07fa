// The card file system reader against mtools: card images built the way
// cameras' cards get them (tests/support/make-card-image.sh, with mkfs.fat
// and mtools, in a temporary folder), read by the reader, and every file the
// card held checked against what mtools itself listed before it was deleted:
// its size, first cluster and clusters, its names and date, and the clusters
// the live files keep against mdir's free space. exFAT cards are built by
// make-exfat-card-image.sh (mkfs.exfat, files written through exfat-fuse),
// their geometry and free space held against dump.exfat, each file's
// clusters against where its bytes lie in the image, and the films' times
// against what the mount showed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "lang/Language.h"
#include "recover/CardFileSystem.h"
#include "recover/FilmFinder.h"
#include "recover/PieceChain.h"
#include "recover/Source.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace {

using VEKRecover::CardFileSystem;
using VEKRecover::DirEntry;
using VEKRecover::FatProblem;
using ZantrelTest::TempDir;

struct CardLayout {
  const char* Name;
  int Bits;  // 0 for exFAT
  int ClusterBytes;
  int Mib;
};

// mtools' view of one file: its line of files.tsv, and its clusters from
// the chains mshowfat listed.
struct ListedFile {
  std::string Name;
  std::uint32_t Size = 0;
  bool Live = false;
  std::string Kind;
  std::uint32_t First = 0;
  std::uint32_t Clusters = 0;
  int Pieces = 0;
  std::string Short;  // the 8.3 name mdir showed, where it listed the file
  std::string Date;   // "2024-05-06 7:08"
  std::string Mtime;  // exFAT's films: the mount's mtime, "1714972091.000000000"
  std::vector<std::uint32_t> Chain;
};

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> out;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t')) out.push_back(field);
  if (!line.empty() && line.back() == '\t') out.emplace_back();
  return out;
}

std::map<std::string, std::string> Geometry(const std::string& folder) {
  std::map<std::string, std::string> out;
  std::ifstream in(folder + "/geometry.tsv");
  for (std::string line; std::getline(in, line);) {
    const auto f = Fields(line);
    if (f.size() == 2) out[f[0]] = f[1];
  }
  return out;
}

std::vector<ListedFile> Listed(const std::string& folder) {
  std::map<std::string, std::vector<std::uint32_t>> chains;
  std::ifstream chainText(folder + "/chains.txt");
  for (std::string line; std::getline(chainText, line);) {
    std::istringstream words(line);
    std::string name, range;
    words >> name;
    auto& chain = chains[name.substr(name.rfind('/') + 1)];  // "::/DCIM/100PHOTO/name"
    while (words >> range) {
      range = range.substr(1, range.size() - 2);
      const auto dash = range.find('-');
      const std::uint32_t a = std::stoul(range.substr(0, dash));
      const std::uint32_t b = dash == std::string::npos ? a : std::stoul(range.substr(dash + 1));
      for (std::uint32_t c = a; c <= b; ++c) chain.push_back(c);
    }
  }
  std::vector<ListedFile> out;
  std::ifstream in(folder + "/files.tsv");
  for (std::string line; std::getline(in, line);) {
    const auto f = Fields(line);
    if (f.size() < 9) continue;
    ListedFile file;
    file.Name = f[0];
    file.Size = static_cast<std::uint32_t>(std::stoul(f[1]));
    file.Live = f[2] == "live";
    file.Kind = f[3];
    file.First = static_cast<std::uint32_t>(std::stoul(f[4]));
    file.Clusters = static_cast<std::uint32_t>(std::stoul(f[5]));
    file.Pieces = std::stoi(f[6]);
    file.Short = f[7];
    file.Date = f[8];
    if (f.size() > 9) file.Mtime = f[9];
    file.Chain = chains[file.Name];
    out.push_back(file);
  }
  return out;
}

bool SameLetters(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

const DirEntry* Find(const std::vector<DirEntry>& entries, const std::string& name) {
  for (const auto& e : entries)
    if (e.Name() == name) return &e;
  return nullptr;
}

std::string DateText(const VEKRecover::FatDate& d) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %d:%02d", d.Year, d.Month, d.Day, d.Hour, d.Minute);
  return text;
}

// The instant an exFAT time with its offset from UTC names, in hundredths
// of a second since 1970 (the days by the civil calendar's count).
std::int64_t HundredthsSinceEpoch(const VEKRecover::FatDate& d) {
  const int y = d.Year - (d.Month <= 2);
  const int era = y / 400;
  const int yoe = y - era * 400;
  const int doy = (153 * (d.Month + (d.Month > 2 ? -3 : 9)) + 2) / 5 + d.Day - 1;
  const std::int64_t days = std::int64_t{era} * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468;
  const std::int64_t seconds = days * 86400 + d.Hour * 3600 + d.Minute * 60 + d.Second - d.UtcOffsetMinutes * 60;
  return seconds * 100 + d.Hundredths;
}

// Each layout's card is built once, for all the tests that read it.
class CardImage : public testing::TestWithParam<CardLayout> {
 protected:
  static void TearDownTestSuite() {
    Cards.clear();
    Sources.reset();
  }

  void SetUp() override {
    const CardLayout& layout = GetParam();
    const bool exFat = layout.Bits == 0;
    for (const char* tool : {"mkfs.fat", "mcopy", "mdel", "mdir", "minfo", "mshowfat", "ffmpeg"})
      if ((!exFat || std::string(tool) == "ffmpeg") && !ZantrelTest::HaveProgram(tool))
        GTEST_SKIP() << tool << " is not installed (dosfstools, mtools and ffmpeg build the card images)";
    if (Skipped.count(layout.Name)) GTEST_SKIP() << Skipped[layout.Name];
    auto& card = Cards[layout.Name];
    if (!card) {
      if (!Sources) Sources = std::make_unique<TempDir>();
      card = std::make_unique<TempDir>();
      const auto run =
          exFat ? ZantrelTest::RunProgram({"bash", ZANTREL_EXFAT_CARD_IMAGE_SCRIPT, std::to_string(layout.ClusterBytes),
                                           std::to_string(layout.Mib), Sources->Path(), card->Path()})
                : ZantrelTest::RunProgram({"bash", ZANTREL_CARD_IMAGE_SCRIPT, std::to_string(layout.Bits),
                                           std::to_string(layout.ClusterBytes), std::to_string(layout.Mib),
                                           Sources->Path(), card->Path()});
      // The exFAT builder cannot mount everywhere (it needs root and FUSE).
      if (exFat && run.Status == 77) {
        Skipped[layout.Name] = "cannot build an exFAT card image: " + run.Err;
        card.reset();
        GTEST_SKIP() << Skipped[layout.Name];
      }
      ASSERT_EQ(run.Status, 0) << run.Err;
    }
    Card = card.get();
  }

  std::string CardFile(const std::string& name) const { return *Card / name; }

  static std::unique_ptr<TempDir> Sources;  // the photos and films, made once for every layout
  static std::map<std::string, std::unique_ptr<TempDir>> Cards;
  static std::map<std::string, std::string> Skipped;  // why a layout's card could not be built
  const TempDir* Card = nullptr;
};
std::unique_ptr<TempDir> CardImage::Sources;
std::map<std::string, std::unique_ptr<TempDir>> CardImage::Cards;
std::map<std::string, std::string> CardImage::Skipped;

TEST_P(CardImage, ReaderFindsWhatMtoolsListedLiveAndDeleted) {
  const CardLayout& card = GetParam();
  const auto geometry = Geometry(Card->Path());
  const auto files = Listed(Card->Path());
  ASSERT_EQ(files.size(), 35u);
  VEKRecover::Source source(CardFile("deleted.img"));
  const CardFileSystem fs = VEKRecover::ReadCardFileSystem(source);
  ASSERT_TRUE(fs.Readable()) << VEKRecover::FileSystemText(fs);
  const auto& layout = *fs.Layout;

  const bool exFat = card.Bits == 0;
  const int bits = layout.Type == VEKRecover::FatType::Fat12   ? 12
                   : layout.Type == VEKRecover::FatType::Fat16 ? 16
                   : layout.Type == VEKRecover::FatType::Fat32 ? 32
                                                               : 0;
  EXPECT_EQ(bits, card.Bits);
  EXPECT_EQ(layout.ClusterBytes, card.ClusterBytes);
  EXPECT_EQ(std::to_string(layout.BytesPerSector), geometry.at("sector size"));
  if (exFat) {
    // dump.exfat's figures, in sectors.
    const std::int64_t sector = layout.BytesPerSector;
    EXPECT_EQ(std::to_string(layout.ClusterBytes), geometry.at("cluster bytes"));
    EXPECT_EQ(std::to_string(layout.FatStart / sector), geometry.at("fat offset"));
    EXPECT_EQ(std::to_string(layout.FatBytes / sector), geometry.at("fat length"));
    EXPECT_EQ(std::to_string(layout.DataStart / sector), geometry.at("heap offset"));
    EXPECT_EQ(std::to_string(layout.ClusterCount), geometry.at("cluster count"));
    EXPECT_EQ(std::to_string(layout.RootCluster), geometry.at("root cluster"));
    EXPECT_EQ(std::to_string(layout.VolumeBytes / sector), geometry.at("volume sectors"));
    for (const char* language : {"en", "fr"}) {
      VEK::SetLanguage(std::string(language) == "en" ? VEK::English : VEK::French);
      EXPECT_NE(VEKRecover::FileSystemText(fs).find("exFAT"), std::string::npos) << language;
    }
    VEK::SetLanguage(VEK::English);
  } else {
    EXPECT_EQ(std::to_string(layout.SectorsPerCluster), geometry.at("cluster sectors"));
    EXPECT_EQ(std::to_string(layout.ReservedSectors), geometry.at("reserved"));
    EXPECT_EQ(std::to_string(layout.FatCount), geometry.at("fats"));
    EXPECT_EQ(std::to_string(layout.RootEntries), geometry.at("root slots"));
    const std::string fatSectors =
        geometry.at("fat sectors16") != "0" ? geometry.at("fat sectors16") : geometry.at("fat sectors32");
    EXPECT_EQ(std::to_string(layout.FatBytes / layout.BytesPerSector), fatSectors);
    const std::string total =
        geometry.at("small size") != "0" ? geometry.at("small size") : geometry.at("big size");
    EXPECT_EQ(std::to_string(layout.VolumeBytes / layout.BytesPerSector), total);
    if (card.Bits == 32) {
      EXPECT_EQ(std::to_string(layout.RootCluster), geometry.at("root cluster"));
    }
  }

  int films = 0;
  for (const ListedFile& file : files) {
    SCOPED_TRACE(file.Name);
    ASSERT_FALSE(file.Chain.empty());
    ASSERT_EQ(file.Chain.size(), file.Clusters);
    ASSERT_EQ(file.Chain.front(), file.First);
    if (file.Live) {
      const DirEntry* entry = Find(fs.Live, file.Name);
      ASSERT_NE(entry, nullptr);
      EXPECT_EQ(entry->Size, file.Size);
      EXPECT_EQ(entry->FirstCluster, file.First);
      EXPECT_EQ(entry->Folder, file.Kind == "filler" ? "/" : "/DCIM/100PHOTO");
      for (std::uint32_t c : file.Chain) ASSERT_TRUE(fs.InUse.Test(c)) << "cluster " << c;
      continue;
    }
    // A deleted 8.3 name has lost its first letter; a long name brings it
    // back. mdir shows the 8.3 name of the files still there when the films
    // came. exFAT keeps the whole name.
    const bool longName = !file.Short.empty() && !SameLetters(file.Short, file.Name);
    const std::string expected = longName || exFat ? file.Name : "?" + file.Name.substr(1);
    const DirEntry* entry = Find(fs.Deleted, expected);
    ASSERT_NE(entry, nullptr) << expected;
    if (longName) {
      EXPECT_EQ(entry->ShortName, file.Short);
    }
    EXPECT_EQ(entry->Size, file.Size);
    EXPECT_EQ(entry->FirstCluster, file.First);
    EXPECT_FALSE(entry->Directory);
    EXPECT_EQ(entry->Folder, file.Kind == "film" ? "/DCIM/101VIDEO" : "/DCIM/100PHOTO");
    EXPECT_EQ(Find(fs.Live, file.Name), nullptr);
    if (file.Kind == "film") {
      ++films;
      EXPECT_GE(file.Pieces, 2) << "the film should lie in pieces";
      EXPECT_EQ(DateText(entry->Written), file.Date);
      if (exFat) {
        // The time to the hundredth, with its offset from UTC, is the
        // instant the mount gave.
        ASSERT_FALSE(file.Mtime.empty());
        EXPECT_TRUE(entry->Written.UtcKnown);
        EXPECT_EQ(entry->Written.UtcOffsetMinutes, 120);
        const std::int64_t mtime = std::llround(std::stod(file.Mtime) * 100);
        EXPECT_EQ(HundredthsSinceEpoch(entry->Written), mtime);
      }
      // No cluster of a deleted film is taken for a live file's.
      for (std::uint32_t c : file.Chain) ASSERT_FALSE(fs.InUse.Test(c)) << "cluster " << c;
    }
  }
  EXPECT_EQ(films, 2);
  // 16 photos and other files, the filler, the three folders, nothing else.
  EXPECT_EQ(fs.Live.size(), 20u);
  EXPECT_EQ(fs.Deleted.size(), 18u);  // 16 deleted before the films came, the 2 films
  EXPECT_FALSE(fs.EntriesCut);

  // Every cluster the FAT keeps is a live file's or folder's, and
  // no other: as many as mdir does not count free.
  std::ifstream freeText(CardFile("free.txt"));
  std::int64_t freeBytes = -1;
  freeText >> freeBytes;
  ASSERT_GE(freeBytes, 0);
  EXPECT_EQ(static_cast<std::int64_t>(fs.InUse.CountSet()), layout.ClusterCount - freeBytes / layout.ClusterBytes);
}

TEST_P(CardImage, ZeroedTableGivesTheClustersAndNothingElse) {
  VEKRecover::Source source(CardFile("zeroed.img"));
  const CardFileSystem fs = VEKRecover::ReadCardFileSystem(source);
  EXPECT_EQ(fs.Problem, FatProblem::TableUnreadable);
  ASSERT_TRUE(fs.Layout.has_value());
  EXPECT_EQ(fs.ClusterBytes(), GetParam().ClusterBytes);
  VEKRecover::Source intact(CardFile("deleted.img"));
  EXPECT_EQ(fs.Layout->DataStart, VEKRecover::ReadCardFileSystem(intact).Layout->DataStart);
  EXPECT_TRUE(fs.Live.empty());
  EXPECT_TRUE(fs.Deleted.empty());
  EXPECT_EQ(fs.InUse.Size(), 0u);
  EXPECT_NE(VEKRecover::FileSystemText(fs).find(std::to_string(GetParam().ClusterBytes)), std::string::npos);
}

// The finder, with the live files' clusters left out (deleted.img) and with
// none known (zeroed.img), and on a bare grid of sectors as where no file
// system is readable, finds each film's RIFF header where mtools put
// the film's first cluster, and says its first piece ends where mshowfat's
// first run of clusters does; every run of chunks it finds without a header
// lies inside a film's clusters, never in the photos or other files.
TEST_P(CardImage, FinderFindsEachFilmAndWhereItsFirstPieceEnds) {
  const auto files = Listed(Card->Path());
  const struct {
    const char* Image;
    bool Sectors;
  } searches[] = {{"deleted.img", false}, {"zeroed.img", false}, {"zeroed.img", true}};
  for (const auto& search : searches) {
    SCOPED_TRACE(std::string(search.Image) + (search.Sectors ? ", sectors" : ", clusters"));
    VEKRecover::Source source(CardFile(search.Image));
    const CardFileSystem fs = VEKRecover::ReadCardFileSystem(source);
    ASSERT_TRUE(fs.Layout.has_value());
    const auto& layout = *fs.Layout;
    const VEKRecover::ClusterGrid grid = search.Sectors ? VEKRecover::ClusterGrid{}
                                                        : VEKRecover::ClusterGrid{layout.DataStart, layout.ClusterBytes,
                                                                                  &fs.InUse};
    const auto found = VEKRecover::FindFilms(source, grid);
    std::vector<const VEKRecover::FilmCandidate*> headers;
    for (const auto& film : found)
      if (film.HasHeader) headers.push_back(&film);
    ASSERT_EQ(headers.size(), 2u);
    std::vector<std::uint32_t> filmClusters;
    for (const ListedFile& file : files) {
      if (file.Kind != "film") continue;
      SCOPED_TRACE(file.Name);
      filmClusters.insert(filmClusters.end(), file.Chain.begin(), file.Chain.end());
      const auto film = std::find_if(headers.begin(), headers.end(), [&](const auto* f) {
        return f->Start == layout.ClusterOffset(file.First);
      });
      ASSERT_NE(film, headers.end());
      std::size_t firstRun = 1;
      while (firstRun < file.Chain.size() && file.Chain[firstRun] == file.Chain[firstRun - 1] + 1) ++firstRun;
      const std::int64_t pieceEnd = layout.ClusterOffset(file.Chain[firstRun - 1]) + layout.ClusterBytes;
      ASSERT_GE((*film)->BreakAt, 0);
      EXPECT_FALSE((*film)->Whole);
      EXPECT_LE((*film)->EndsNoEarlierThan, pieceEnd);
      EXPECT_GE((*film)->EndsNoLaterThan, pieceEnd);
    }
    int runs = 0;
    for (const auto& film : found) {
      if (film.HasHeader) continue;
      ++runs;
      const auto cluster = static_cast<std::uint32_t>(2 + (film.Start - layout.DataStart) / layout.ClusterBytes);
      EXPECT_NE(std::find(filmClusters.begin(), filmClusters.end(), cluster), filmClusters.end())
          << "a run at " << film.Start << " outside the films";
    }
    EXPECT_GT(runs, 0);
  }
}

// Each film followed from its RIFF header comes back whole, and, with the
// live files' clusters known, as the very clusters mtools gave it, in their
// order. With none known (zeroed.img) the chunks alone leave where a piece
// ends open by whole clusters; the JPEG frames that cross a gap narrow it,
// but a neighbour of photo data or zeros still passes for a frame's: there
// each gap may take at most one cluster that is not the film's.
TEST_P(CardImage, FilmsFollowedPieceByPieceAreTheClustersMtoolsGaveThem) {
  const auto files = Listed(Card->Path());
  for (const char* image : {"deleted.img", "zeroed.img"}) {
    const bool mapped = std::string(image) == "deleted.img";
    SCOPED_TRACE(image);
    VEKRecover::Source source(CardFile(image));
    const CardFileSystem fs = VEKRecover::ReadCardFileSystem(source);
    ASSERT_TRUE(fs.Layout.has_value());
    const auto& layout = *fs.Layout;
    const VEKRecover::ClusterGrid grid{layout.DataStart, layout.ClusterBytes, &fs.InUse};
    VEKRecover::ClusterMap claimed;
    for (const ListedFile& file : files) {
      if (file.Kind != "film") continue;
      SCOPED_TRACE(file.Name);
      const auto film = VEKRecover::FollowFilm(source, grid, layout.ClusterOffset(file.First), claimed);
      std::vector<std::uint32_t> clusters;
      for (const auto& piece : film.Pieces)
        for (std::uint64_t c = piece.First; c < piece.First + piece.Count; ++c)
          clusters.push_back(static_cast<std::uint32_t>(c));
      EXPECT_TRUE(film.Complete);
      EXPECT_EQ(film.FilmBytes, file.Size);
      ASSERT_EQ(clusters.size(), file.Chain.size());
      EXPECT_EQ(clusters.front(), file.First);
      if (mapped) {
        EXPECT_EQ(film.Pieces.size(), static_cast<std::size_t>(file.Pieces));
        EXPECT_EQ(clusters, file.Chain);
      } else {
        std::size_t wrong = 0;
        for (std::size_t i = 0; i < clusters.size(); ++i) wrong += clusters[i] != file.Chain[i];
        EXPECT_LT(wrong, static_cast<std::size_t>(file.Pieces));
      }
    }
  }
}

// The search tells which clusters hold only zeros, read here from the image
// itself (a sparse image's holes among them, which the search skips), and
// following the films with those clusters spared gives the very pieces
// that reading them all does.
TEST_P(CardImage, BlankClustersAreTheZeroClustersAndSpareNoPiece) {
  const auto files = Listed(Card->Path());
  const struct {
    const char* Image;
    bool Dense;  // written out whole, zeros and all: no hole left to skip
  } searches[] = {{"deleted.img", false}, {"zeroed.img", false}, {"zeroed.img", true}};
  for (const auto& search : searches) {
    SCOPED_TRACE(std::string(search.Image) + (search.Dense ? ", dense" : ""));
    std::string path = CardFile(search.Image);
    if (search.Dense) {
      path = CardFile("dense.img");
      std::ofstream(path, std::ios::binary) << std::ifstream(CardFile(search.Image), std::ios::binary).rdbuf();
    }
    VEKRecover::Source source(path);
    const CardFileSystem fs = VEKRecover::ReadCardFileSystem(source);
    ASSERT_TRUE(fs.Layout.has_value());
    const auto& layout = *fs.Layout;
    VEKRecover::ClusterGrid grid{layout.DataStart, layout.ClusterBytes, &fs.InUse};
    VEKRecover::ClusterMap blank;
    VEKRecover::FindFilms(source, grid, {}, {}, &blank);

    std::ifstream in(path, std::ios::binary);
    in.seekg(layout.DataStart);
    std::vector<char> bytes(static_cast<std::size_t>(layout.ClusterBytes));
    std::uint64_t wrong = 0, zero = 0;
    const std::uint64_t clusters = VEKRecover::GridClusters(source, grid);
    for (std::uint64_t c = 2; c < clusters + 2; ++c) {
      ASSERT_TRUE(in.read(bytes.data(), static_cast<std::streamsize>(bytes.size())));
      const bool zeros = std::all_of(bytes.begin(), bytes.end(), [](char b) { return b == 0; });
      zero += zeros;
      wrong += zeros != blank.Test(c);
    }
    EXPECT_EQ(wrong, 0u) << "of " << clusters << " clusters";
    EXPECT_GT(zero, 0u);
    EXPECT_LT(zero, clusters);

    VEKRecover::ClusterMap claimedReading, claimedSparing;
    VEKRecover::ClusterGrid spared = grid;
    spared.Blank = &blank;
    for (const ListedFile& file : files) {
      if (file.Kind != "film") continue;
      SCOPED_TRACE(file.Name);
      const auto read = VEKRecover::FollowFilm(source, grid, layout.ClusterOffset(file.First), claimedReading);
      const auto spare = VEKRecover::FollowFilm(source, spared, layout.ClusterOffset(file.First), claimedSparing);
      ASSERT_EQ(read.Pieces.size(), spare.Pieces.size());
      for (std::size_t i = 0; i < read.Pieces.size(); ++i) {
        EXPECT_EQ(read.Pieces[i].First, spare.Pieces[i].First);
        EXPECT_EQ(read.Pieces[i].Count, spare.Pieces[i].Count);
      }
      EXPECT_EQ(read.FilmBytes, spare.FilmBytes);
      EXPECT_EQ(read.UnsureGaps, spare.UnsureGaps);
    }
  }
}

// What a player decodes of a film, stream by stream: ffmpeg's framemd5
// lines without their header.
std::vector<std::string> Decoded(const std::string& path) {
  const auto run = ZantrelTest::RunProgram(
      {"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0", "-fps_mode", "passthrough", "-f", "framemd5", "-"});
  std::vector<std::string> frames;
  for (const std::string& line : run.Lines())
    if (!line.empty() && line[0] != '#') frames.push_back(line);
  return frames;
}

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The console's recovery brings each deleted film back as a file of its own,
// named after where it was found and, where its directory entry survives,
// when it was written, decoding as the film that was copied onto the card;
// the image is only read, and the folder holds the films and nothing else.
// Over a zeroed FAT each film keeps every packet, and all but a few come
// back as they were: a gap inside a sound chunk says nothing of where its
// piece ended, and may take a neighbouring cluster.
TEST_P(CardImage, RecoveredFilmsDecodeAsTheFilmsCopiedOntoTheCard) {
  const auto files = Listed(Card->Path());
  for (const char* image : {"deleted.img", "zeroed.img"}) {
    const bool mapped = std::string(image) == "deleted.img";
    SCOPED_TRACE(image);
    const std::string before = Contents(CardFile(image));
    TempDir out;
    const auto run = ZantrelTest::RunProgram({ZANTREL_CLI_PATH, "recover", CardFile(image), out / "films"});
    ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
    EXPECT_EQ(Contents(CardFile(image)), before);
    std::vector<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(out / "films"))
      written.push_back(entry.path().filename().string());
    for (const ListedFile& file : files) {
      if (file.Kind != "film") continue;
      SCOPED_TRACE(file.Name);
      VEKRecover::Source source(CardFile(image));
      const auto layout = *VEKRecover::ReadCardFileSystem(source).Layout;
      char offset[32];
      std::snprintf(offset, sizeof offset, "film-0x%llx", static_cast<unsigned long long>(layout.ClusterOffset(file.First)));
      const auto name = std::find_if(written.begin(), written.end(),
                                     [&](const std::string& n) { return n.rfind(offset, 0) == 0; });
      ASSERT_NE(name, written.end()) << run.Out;
      // mdir's date, "2024-05-06 7:08", as the name spells it: 20240506-0708.
      std::string date = file.Date;
      if (date.size() == 15) date.insert(11, "0");
      const std::string spelt = date.substr(0, 4) + date.substr(5, 2) + date.substr(8, 2) + "-" +
                                date.substr(11, 2) + date.substr(14, 2);
      EXPECT_EQ(name->find(spelt) != std::string::npos, mapped) << *name;
      const auto original = Decoded(Sources->Path() + "/" + file.Name);
      const auto recovered = Decoded(out / "films" + "/" + *name);
      ASSERT_FALSE(original.empty());
      if (mapped) {
        EXPECT_EQ(recovered, original);
        continue;
      }
      ASSERT_EQ(recovered.size(), original.size());
      std::size_t same = 0;
      for (std::size_t i = 0; i < original.size(); ++i) same += recovered[i] == original[i];
      EXPECT_GE(same * 10, original.size() * 9) << same << " of " << original.size() << " packets as copied";
    }
    EXPECT_EQ(written.size(), 2u) << run.Out;
  }
}

// The pictures a film's video stream decodes to: framemd5's hashes.
std::vector<std::string> Pictures(const std::string& path) {
  const auto run = ZantrelTest::RunProgram(
      {"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v", "-f", "framemd5", "-"});
  std::vector<std::string> hashes;
  for (const std::string& line : run.Lines())
    if (!line.empty() && line[0] != '#') hashes.push_back(line.substr(line.rfind(',') + 1));
  return hashes;
}

// A card that needs formatting, whose films have also lost the start of
// their first cluster (their RIFF header and header list): each film is
// followed from its first chunk through its pieces, and its pictures come
// back every one, in order. The cluster before each later piece is made
// the last of another file, a few bytes without a JPEG marker and then
// slack: taken into a frame that crosses the gap, it would still end as a
// JPEG frame ends.
TEST_P(CardImage, FilmsWithoutTheirHeaderListComeBackPictureForPicture) {
  const auto files = Listed(Card->Path());
  TempDir out;
  const std::string image = out / "card.img";
  std::filesystem::copy_file(CardFile("zeroed.img"), image);
  {
    VEKRecover::Source source(image);
    const auto layout = *VEKRecover::ReadCardFileSystem(source).Layout;
    std::fstream card(image, std::ios::binary | std::ios::in | std::ios::out);
    std::string lastCluster(layout.ClusterBytes, '\0');
    std::fill_n(lastCluster.begin(), 300, '\x5a');
    std::set<std::uint32_t> filmClusters;
    for (const ListedFile& file : files)
      if (file.Kind == "film") filmClusters.insert(file.Chain.begin(), file.Chain.end());
    for (const ListedFile& file : files)
      if (file.Kind == "film") {
        card.seekp(layout.ClusterOffset(file.First));
        card << std::string(2048, '\0');
        for (std::size_t i = 1; i < file.Chain.size(); ++i)
          if (file.Chain[i] != file.Chain[i - 1] + 1 && filmClusters.count(file.Chain[i] - 1) == 0) {
            card.seekp(layout.ClusterOffset(file.Chain[i] - 1));
            card << lastCluster;
          }
      }
  }
  const auto run = ZantrelTest::RunProgram({ZANTREL_CLI_PATH, "recover", image, out / "films"});
  ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
  std::vector<std::vector<std::string>> recovered;
  for (const auto& entry : std::filesystem::directory_iterator(out / "films"))
    recovered.push_back(Pictures(entry.path().string()));
  EXPECT_EQ(recovered.size(), 2u) << run.Out;
  for (const ListedFile& file : files) {
    if (file.Kind != "film") continue;
    SCOPED_TRACE(file.Name);
    const auto original = Pictures(Sources->Path() + "/" + file.Name);
    ASSERT_FALSE(original.empty());
    EXPECT_NE(std::find(recovered.begin(), recovered.end(), original), recovered.end()) << run.Out;
  }
}

// FAT32 needs 65,525 clusters, so 4 KiB clusters make the smallest card
// 256 MiB; FAT16 needs 4,085, so 32 KiB clusters 128 MiB. exFAT takes any
// count; its cards are the same sizes. The images are sparse where the
// card is blank.
INSTANTIATE_TEST_SUITE_P(Layouts, CardImage,
                         testing::Values(CardLayout{"Fat32Clusters4KiB", 32, 4096, 288},
                                         CardLayout{"Fat16Clusters32KiB", 16, 32768, 136},
                                         CardLayout{"Fat12Clusters4KiB", 12, 4096, 8},
                                         CardLayout{"ExFatClusters4KiB", 0, 4096, 288},
                                         CardLayout{"ExFatClusters32KiB", 0, 32768, 136}),
                         [](const testing::TestParamInfo<CardLayout>& info) { return std::string(info.param.Name); });

}  // namespace
