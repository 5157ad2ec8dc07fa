// The card reader against hostile boot sectors, FATs and directories: a small
// FAT12 volume made byte by byte, then damaged one field at a time. Every
// damaged figure must be refused with its reason, never crash or loop, and
// the volume as made must read.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "recover/CardFileSystem.h"
#include "recover/Source.h"
#include "lang/Language.h"
#include "support/FaultySystemCalls.h"
#include "support/TempDir.h"
#include "util/Endian.h"

namespace {

using VEKRecover::CardFileSystem;
using VEKRecover::FatProblem;
using ZantrelTest::Bytes;
using ZantrelTest::TempDir;

// 1 MiB: 512-byte sectors, clusters of 4, one reserved sector, two FATs of
// two sectors, 64 root slots; 509 clusters, so a FAT12.
constexpr int Sector = 512, VolumeSectors = 2048, FatSectors = 2, RootSlots = 64, SectorsPerCluster = 4;
constexpr int FatStart = Sector, RootStart = FatStart + 2 * FatSectors * Sector;
constexpr int DataStart = RootStart + RootSlots * 32;
constexpr int ClusterBytes = SectorsPerCluster * Sector;

void SetFat12(Bytes& v, std::uint32_t cluster, std::uint32_t value) {
  for (int copy = 0; copy < 2; ++copy) {
    unsigned char* p = v.data() + FatStart + copy * FatSectors * Sector + cluster * 3 / 2;
    std::uint16_t pair = VEK::LoadLe16(p);
    pair = cluster % 2 ? static_cast<std::uint16_t>((pair & 0x000F) | (value << 4))
                       : static_cast<std::uint16_t>((pair & 0xF000) | value);
    VEK::StoreLe16(p, pair);
  }
}

void PutSlot(Bytes& v, std::int64_t at, const char* name11, std::uint8_t attributes, std::uint16_t cluster,
             std::uint32_t size) {
  std::memcpy(v.data() + at, name11, 11);
  v[at + 11] = attributes;
  VEK::StoreLe16(v.data() + at + 26, cluster);
  VEK::StoreLe32(v.data() + at + 28, size);
}

// A volume with one file, CLIP.AVI, in clusters 2 and 3.
Bytes Volume() {
  Bytes v(VolumeSectors * Sector, 0);
  const unsigned char jump[] = {0xEB, 0x3C, 0x90};
  std::memcpy(v.data(), jump, 3);
  std::memcpy(v.data() + 3, "MSDOS5.0", 8);
  VEK::StoreLe16(&v[11], Sector);
  v[13] = SectorsPerCluster;
  VEK::StoreLe16(&v[14], 1);
  v[16] = 2;
  VEK::StoreLe16(&v[17], RootSlots);
  VEK::StoreLe16(&v[19], VolumeSectors);
  v[21] = 0xF8;
  VEK::StoreLe16(&v[22], FatSectors);
  v[510] = 0x55;
  v[511] = 0xAA;
  SetFat12(v, 0, 0xFF8);
  SetFat12(v, 1, 0xFFF);
  SetFat12(v, 2, 3);
  SetFat12(v, 3, 0xFFF);
  PutSlot(v, RootStart, "CLIP    AVI", 0x20, 2, 5000);
  return v;
}

CardFileSystem Read(const TempDir& dir, const Bytes& image) {
  ZantrelTest::WriteFile(dir / "card.img", image);
  VEKRecover::Source source(dir / "card.img");
  return VEKRecover::ReadCardFileSystem(source);
}

struct BootCase {
  const char* Name;
  std::function<void(Bytes&)> Damage;
  FatProblem Expected;
};

TEST(CardBootSector, DamagedFiguresAreRefusedWithTheirReason) {
  const BootCase cases[] = {
      {"as made", [](Bytes&) {}, FatProblem::None},
      {"zeroed", [](Bytes& v) { std::fill(v.begin(), v.begin() + Sector, 0); }, FatProblem::NoFileSystem},
      {"no signature", [](Bytes& v) { v[511] = 0; }, FatProblem::NoFileSystem},
      {"no jump", [](Bytes& v) { v[0] = 0; }, FatProblem::NoFileSystem},
      {"zero bytes per sector", [](Bytes& v) { VEK::StoreLe16(&v[11], 0); }, FatProblem::BadBootSector},
      {"huge bytes per sector", [](Bytes& v) { VEK::StoreLe16(&v[11], 0xFFFF); }, FatProblem::BadBootSector},
      {"bytes per sector not a power of two", [](Bytes& v) { VEK::StoreLe16(&v[11], 768); },
       FatProblem::BadBootSector},
      {"zero sectors per cluster", [](Bytes& v) { v[13] = 0; }, FatProblem::BadBootSector},
      {"three sectors per cluster", [](Bytes& v) { v[13] = 3; }, FatProblem::BadBootSector},
      {"no reserved sector", [](Bytes& v) { VEK::StoreLe16(&v[14], 0); }, FatProblem::BadBootSector},
      {"no FAT", [](Bytes& v) { v[16] = 0; }, FatProblem::BadBootSector},
      {"no sectors", [](Bytes& v) { VEK::StoreLe16(&v[19], 0); }, FatProblem::BadBootSector},
      {"media byte", [](Bytes& v) { v[21] = 0x12; }, FatProblem::BadBootSector},
      {"root past the end", [](Bytes& v) { VEK::StoreLe16(&v[17], 0xFFF0); }, FatProblem::BadBootSector},
      {"FAT too small for its clusters", [](Bytes& v) { VEK::StoreLe16(&v[22], 1); }, FatProblem::BadBootSector},
      {"FAT past the end", [](Bytes& v) { VEK::StoreLe16(&v[22], 0xFFFF); }, FatProblem::BadBootSector},
      {"clusters past the image's end", [](Bytes& v) { VEK::StoreLe16(&v[19], 2700); },
       FatProblem::LargerThanSource},
      {"32-bit sector count past the end", [](Bytes& v) {
         VEK::StoreLe16(&v[19], 0);
         VEK::StoreLe32(&v[32], 0x00FFFFFF);
       }, FatProblem::BadBootSector},  // too many clusters for a FAT12's two sectors
      {"FAT32 with root slots", [](Bytes& v) {
         VEK::StoreLe16(&v[22], 0);
         VEK::StoreLe32(&v[36], 2);
       }, FatProblem::BadBootSector},
      {"FAT32 root cluster outside", [](Bytes& v) {
         VEK::StoreLe16(&v[17], 0);
         VEK::StoreLe16(&v[22], 0);
         VEK::StoreLe32(&v[36], 4);
         VEK::StoreLe32(&v[44], 0x0FFFFFFF);
       }, FatProblem::BadBootSector},
      {"exFAT", [](Bytes& v) {
         std::memcpy(&v[3], "EXFAT   ", 8);
         std::fill(v.begin() + 11, v.begin() + 64, 0);
       }, FatProblem::OtherFileSystem},
      {"FAT32 naming an active FAT it has not", [](Bytes& v) {
         VEK::StoreLe16(&v[17], 0);
         VEK::StoreLe16(&v[22], 0);
         VEK::StoreLe32(&v[36], 4);
         VEK::StoreLe32(&v[44], 2);
         VEK::StoreLe16(&v[40], 0x82);
       }, FatProblem::BadBootSector},
      {"both FATs zeroed", [](Bytes& v) {
         std::fill(v.begin() + FatStart, v.begin() + RootStart, 0);
       }, FatProblem::TableUnreadable},
  };
  TempDir dir;
  for (const BootCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes image = Volume();
    c.Damage(image);
    const CardFileSystem fs = Read(dir, image);
    EXPECT_EQ(fs.Problem, c.Expected);
    EXPECT_FALSE(VEKRecover::FileSystemText(fs).empty());
    if (c.Expected != FatProblem::None) {
      EXPECT_TRUE(fs.Live.empty());
      EXPECT_EQ(fs.InUse.Size(), 0u);
      EXPECT_EQ(fs.Layout.has_value(), c.Expected == FatProblem::TableUnreadable);
    }
  }
}

TEST(CardBootSector, FirstFatZeroedIsReadFromItsCopy) {
  TempDir dir;
  Bytes image = Volume();
  std::fill(image.begin() + FatStart, image.begin() + FatStart + FatSectors * Sector, 0);
  const CardFileSystem fs = Read(dir, image);
  ASSERT_TRUE(fs.Readable());
  ASSERT_EQ(fs.Live.size(), 1u);
  EXPECT_EQ(fs.Live[0].Name(), "CLIP.AVI");
  EXPECT_EQ(fs.InUse.CountSet(), 2u);
}

// A FAT32 volume that keeps its second FAT in use (mirroring off) and its
// first stale: the chains are read from the one in use.
TEST(CardBootSector, Fat32ReadsTheFatItNamesInUse) {
  TempDir dir;
  Bytes v = Volume();
  std::fill(v.begin() + FatStart, v.end(), 0);
  constexpr int Fat32Sectors = 4;
  VEK::StoreLe16(&v[17], 0);  // no fixed root
  VEK::StoreLe16(&v[22], 0);
  VEK::StoreLe32(&v[36], Fat32Sectors);
  VEK::StoreLe16(&v[40], 0x81);  // FAT 1 in use, no mirroring
  VEK::StoreLe32(&v[44], 2);     // the root in cluster 2
  const auto setFat = [&](int copy, std::uint32_t cluster, std::uint32_t value) {
    VEK::StoreLe32(&v[FatStart + copy * Fat32Sectors * Sector + cluster * 4], value);
  };
  for (int copy = 0; copy < 2; ++copy) {
    setFat(copy, 0, 0x0FFFFFF8);
    setFat(copy, 1, 0x0FFFFFFF);
    setFat(copy, 2, 0x0FFFFFFF);
  }
  setFat(0, 3, 0x0FFFFFFF);  // stale: the file's first cluster alone
  setFat(1, 3, 4);
  setFat(1, 4, 0x0FFFFFFF);
  const std::int64_t data = FatStart + 2 * Fat32Sectors * Sector;
  PutSlot(v, data, "CLIP    AVI", 0x20, 3, 5000);
  const CardFileSystem fs = Read(dir, v);
  ASSERT_TRUE(fs.Readable()) << VEKRecover::FileSystemText(fs);
  EXPECT_EQ(fs.Layout->Type, VEKRecover::FatType::Fat32);
  ASSERT_EQ(fs.Live.size(), 1u);
  EXPECT_EQ(fs.InUse.CountSet(), 3u);  // the root's cluster and the file's two
  EXPECT_TRUE(fs.InUse.Test(4));
}

// Loops and crossings in a damaged FAT or directory end the walk: each
// cluster is taken once, whatever the chains say.
TEST(CardBootSector, LoopsInTheFatAndTheFoldersEnd) {
  TempDir dir;
  Bytes image = Volume();
  // CLIP.AVI claims 100 clusters, but its chain runs 2 -> 3 -> 2.
  VEK::StoreLe32(&image[RootStart + 28], 100 * ClusterBytes);
  SetFat12(image, 3, 2);
  // A folder in cluster 4 whose chain loops on itself, listing a subfolder
  // that is itself, a deleted file and a file crossing CLIP.AVI's chain.
  PutSlot(image, RootStart + 32, "DCIM       ", 0x10, 4, 0);
  SetFat12(image, 4, 4);
  const std::int64_t folder = DataStart + 2 * ClusterBytes;
  PutSlot(image, folder, "SELF       ", 0x10, 4, 0);
  PutSlot(image, folder + 32, "\xE5OST    AVI", 0x20, 5, 70000);
  PutSlot(image, folder + 64, "CROSS   JPG", 0x20, 3, 3 * ClusterBytes);
  const CardFileSystem fs = Read(dir, image);
  ASSERT_TRUE(fs.Readable());
  EXPECT_EQ(fs.InUse.CountSet(), 3u);  // 2, 3 and the folder's 4
  ASSERT_EQ(fs.Deleted.size(), 1u);
  EXPECT_EQ(fs.Deleted[0].ShortName, "?OST.AVI");
  EXPECT_EQ(fs.Deleted[0].FirstCluster, 5u);
  EXPECT_EQ(fs.Deleted[0].Folder, "/DCIM");
}

// A whole card as the system shows it: an MBR, and the volume in its
// first partition.
TEST(CardBootSector, VolumeInAnMbrPartitionIsFound) {
  TempDir dir;
  const Bytes volume = Volume();
  constexpr int Offset = 8 * Sector;
  Bytes card(Offset, 0);
  card.insert(card.end(), volume.begin(), volume.end());
  unsigned char* entry = card.data() + 446 + 16;  // the second entry
  entry[4] = 0x0C;
  VEK::StoreLe32(entry + 8, Offset / Sector);
  VEK::StoreLe32(entry + 12, VolumeSectors);
  card[510] = 0x55;
  card[511] = 0xAA;
  const CardFileSystem fs = Read(dir, card);
  ASSERT_TRUE(fs.Readable());
  EXPECT_EQ(fs.Layout->VolumeStart, Offset);
  EXPECT_EQ(fs.Layout->ClusterOffset(2), Offset + DataStart);
  ASSERT_EQ(fs.Live.size(), 1u);
  EXPECT_EQ(fs.Live[0].FirstCluster, 2u);
}

// A read the card refuses (a bad sector, a card pulled out) is a failure
// with the card's name and the system's reason in the user's language,
// never taken for a card without a file system.
TEST(CardBootSector, FailedReadIsToldNotTakenForNoFileSystem) {
#ifdef _WIN32
  GTEST_SKIP() << "the failing reads are picked by the file's name as the POSIX calls see it";
#endif
  TempDir dir;
  ZantrelTest::WriteFile(dir / "card.img", Volume());
  const struct {
    std::int8_t Language;
    const char* Says;
  } cases[] = {{VEK::English, "Could not read"}, {VEK::French, "Impossible de lire"}};
  for (const auto& c : cases) {
    VEK::SetLanguage(c.Language);
    ZantrelTest::FaultySystemCalls calls;
    calls.failReadSuffix = "card.img";
    calls.fileReadFailAt = 2;  // the boot sector reads, the FAT does not
    ZantrelTest::CallsGuard guard(calls);
    VEKRecover::Source source(dir / "card.img");
    try {
      VEKRecover::ReadCardFileSystem(source);
      ADD_FAILURE() << "the failed read went unnoticed";
    } catch (const VEKFile::File::Exception& e) {
      EXPECT_NE(e.Message().find(c.Says), std::string::npos) << e.Message();
      EXPECT_NE(e.Message().find("card.img"), std::string::npos) << e.Message();
      EXPECT_EQ(e.SystemError, EIO);
    }
  }
  VEK::SetLanguage(VEK::English);
}

}  // namespace
