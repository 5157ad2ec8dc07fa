// The card reader against hostile boot sectors, FATs and directories: a small
// FAT12 volume and a small exFAT one made byte by byte, then damaged one
// field at a time. Every damaged figure must be refused with its reason,
// never crash or loop, and the volumes as made must read.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "recover/CardFileSystem.h"
#include "recover/ExFatDirectory.h"
#include "recover/ExFatLayout.h"
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
      {"NTFS", [](Bytes& v) {
         std::memcpy(&v[3], "NTFS    ", 8);
         std::fill(v.begin() + 11, v.begin() + 64, 0);
       }, FatProblem::OtherFileSystem},
      // Named exFAT, but with FAT's figures where exFAT keeps zeros.
      {"exFAT name on a FAT boot sector", [](Bytes& v) { std::memcpy(&v[3], "EXFAT   ", 8); },
       FatProblem::BadBootSector},
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

// 1 MiB of exFAT: 512-byte sectors, clusters of 8, one FAT of 8 sectors
// from sector 24, the cluster heap from sector 64: 248 clusters. The
// bitmap in cluster 2, the up-case table in 3, the root in 4, and CLIP.AVI
// in one run from cluster 5 (no FAT chain).
namespace ex {
constexpr int Sector = 512, VolumeSectors = 2048, FatOffset = 24, FatSectors = 8, HeapOffset = 64,
              ClusterShift = 3, ClusterBytes = Sector << ClusterShift;
constexpr int ClusterCount = (VolumeSectors - HeapOffset) >> ClusterShift;
constexpr std::int64_t FatStart = FatOffset * Sector;
constexpr std::int64_t Cluster(std::uint32_t n) { return std::int64_t{HeapOffset} * Sector + (n - 2) * ClusterBytes; }
constexpr std::int64_t Root = Cluster(4);

// The boot region's checksum sector, after its figures were written.
void SealBootRegion(Bytes& v, int region = 0) {
  unsigned char* r = v.data() + region * 12 * Sector;
  const std::uint32_t sum = VEKRecover::ExFatBootChecksum(r, 11 * Sector);
  for (int i = 0; i < Sector; i += 4) VEK::StoreLe32(r + 11 * Sector + i, sum);
}

void SetFat(Bytes& v, std::uint32_t cluster, std::uint32_t value) { VEK::StoreLe32(&v[FatStart + cluster * 4], value); }

// A file set at offset: File, Stream Extension and one File Name entry,
// its checksum made; deleted clears the top bit of each type.
void PutSet(Bytes& v, std::int64_t at, const std::u16string& name, std::uint16_t attributes, std::uint32_t first,
            std::uint64_t size, bool noFatChain, bool deleted = false) {
  unsigned char* p = v.data() + at;
  std::fill(p, p + 96, 0);
  p[0] = 0x85;
  p[1] = 2;
  VEK::StoreLe16(p + 4, attributes);
  // 2024-05-06 07:08:10, plus 1.37 s, at UTC+02:00.
  VEK::StoreLe32(p + 12, (44u << 25) | (5u << 21) | (6u << 16) | (7u << 11) | (8u << 5) | 5u);
  p[21] = 137;
  p[23] = 0x80 | 8;
  p[32] = 0xC0;
  p[33] = static_cast<unsigned char>(0x01 | (noFatChain ? 0x02 : 0));
  p[35] = static_cast<unsigned char>(name.size());
  VEK::StoreLe64(p + 40, size);
  VEK::StoreLe32(p + 52, first);
  VEK::StoreLe64(p + 56, size);
  p[64] = 0xC1;
  for (std::size_t i = 0; i < name.size() && i < 15; ++i) VEK::StoreLe16(p + 66 + 2 * i, name[i]);
  VEK::StoreLe16(p + 2, VEKRecover::ExFatSetChecksum(p, 3));
  if (deleted)
    for (int i = 0; i < 3; ++i) p[i * 32] &= 0x7F;
}

Bytes Volume() {
  Bytes v(VolumeSectors * Sector, 0);
  const unsigned char jump[] = {0xEB, 0x76, 0x90};
  std::memcpy(v.data(), jump, 3);
  std::memcpy(&v[3], "EXFAT   ", 8);
  VEK::StoreLe64(&v[72], VolumeSectors);
  VEK::StoreLe32(&v[80], FatOffset);
  VEK::StoreLe32(&v[84], FatSectors);
  VEK::StoreLe32(&v[88], HeapOffset);
  VEK::StoreLe32(&v[92], ClusterCount);
  VEK::StoreLe32(&v[96], 4);
  v[104] = 0;
  v[105] = 1;
  v[108] = 9;
  v[109] = ClusterShift;
  v[110] = 1;
  v[510] = 0x55;
  v[511] = 0xAA;
  SealBootRegion(v);
  SetFat(v, 0, 0xFFFFFFF8);
  SetFat(v, 1, 0xFFFFFFFF);
  for (std::uint32_t c : {2u, 3u, 4u}) SetFat(v, c, 0xFFFFFFFF);
  v[Cluster(2)] = 0x1F;  // clusters 2 to 6
  v[Root] = 0x81;
  VEK::StoreLe32(&v[Root + 20], 2);
  VEK::StoreLe64(&v[Root + 24], (ClusterCount + 7) / 8);
  v[Root + 32] = 0x82;
  VEK::StoreLe32(&v[Root + 32 + 20], 3);
  VEK::StoreLe64(&v[Root + 32 + 24], 128);
  PutSet(v, Root + 64, u"CLIP.AVI", 0x20, 5, 5000, true);
  return v;
}
}  // namespace ex

// Each row damages one figure and seals the boot region again, so that the
// figure itself, not the checksum, is what must be refused.
TEST(CardBootSector, ExFatDamagedFiguresAreRefusedWithTheirReason) {
  const auto sealed = [](std::function<void(Bytes&)> damage) {
    return [damage](Bytes& v) {
      damage(v);
      ex::SealBootRegion(v);
    };
  };
  const BootCase cases[] = {
      {"as made", [](Bytes&) {}, FatProblem::None},
      {"zero sector shift", sealed([](Bytes& v) { v[108] = 0; }), FatProblem::BadBootSector},
      {"sector shift past 4 KiB", sealed([](Bytes& v) { v[108] = 13; }), FatProblem::BadBootSector},
      {"huge cluster shift", sealed([](Bytes& v) { v[109] = 200; }), FatProblem::BadBootSector},
      // Clusters of one sector: the figures hold, but the root lies
      // elsewhere and lists no bitmap.
      {"zero cluster shift", sealed([](Bytes& v) { v[109] = 0; }), FatProblem::TableUnreadable},
      {"cluster heap past the end", sealed([](Bytes& v) { VEK::StoreLe32(&v[88], 0xFFFFFFF0); }),
       FatProblem::BadBootSector},
      {"FAT past the end", sealed([](Bytes& v) { VEK::StoreLe32(&v[80], 0xFFFFFF00); }), FatProblem::BadBootSector},
      {"FAT over the cluster heap", sealed([](Bytes& v) { VEK::StoreLe32(&v[84], 0x100); }),
       FatProblem::BadBootSector},
      {"huge cluster count", sealed([](Bytes& v) { VEK::StoreLe32(&v[92], 0xFFFFFFFF); }), FatProblem::BadBootSector},
      {"more clusters than the FAT holds", sealed([](Bytes& v) {
         VEK::StoreLe64(&v[72], ex::HeapOffset + (1100 << ex::ClusterShift));
         VEK::StoreLe32(&v[92], 1100);
       }), FatProblem::BadBootSector},
      {"no clusters", sealed([](Bytes& v) { VEK::StoreLe32(&v[92], 0); }), FatProblem::BadBootSector},
      {"root cluster outside", sealed([](Bytes& v) { VEK::StoreLe32(&v[96], ex::ClusterCount + 2); }),
       FatProblem::BadBootSector},
      {"no FAT", sealed([](Bytes& v) { v[110] = 0; }), FatProblem::BadBootSector},
      {"second FAT in use of one", sealed([](Bytes& v) { v[106] = 1; }), FatProblem::BadBootSector},
      {"huge volume length", sealed([](Bytes& v) { VEK::StoreLe64(&v[72], ~std::uint64_t{0}); }),
       FatProblem::BadBootSector},
      {"FAT's figures where exFAT keeps zeros", sealed([](Bytes& v) { VEK::StoreLe16(&v[11], 512); }),
       FatProblem::BadBootSector},
      {"revision 2", sealed([](Bytes& v) { v[105] = 2; }), FatProblem::BadBootSector},
      {"clusters past the image's end", sealed([](Bytes& v) {
         VEK::StoreLe64(&v[72], 2 * ex::VolumeSectors);
         VEK::StoreLe32(&v[92], (2 * ex::VolumeSectors - ex::HeapOffset) >> ex::ClusterShift);
       }), FatProblem::LargerThanSource},
      {"checksum not matching", [](Bytes& v) { VEK::StoreLe32(&v[96], 5); }, FatProblem::BadBootSector},
      {"FAT zeroed", [](Bytes& v) { std::fill_n(v.begin() + ex::FatStart, 8, 0); }, FatProblem::TableUnreadable},
      {"no bitmap in the root", [](Bytes& v) { v[ex::Root] = 0x83; }, FatProblem::TableUnreadable},
      {"bitmap shorter than the clusters", [](Bytes& v) { VEK::StoreLe64(&v[ex::Root + 24], 10); },
       FatProblem::TableUnreadable},
      {"bitmap outside the heap", [](Bytes& v) { VEK::StoreLe32(&v[ex::Root + 20], 0xFFFFFFF0); },
       FatProblem::TableUnreadable},
      {"root chain looping", [](Bytes& v) { ex::SetFat(v, 4, 4); }, FatProblem::None},
  };
  TempDir dir;
  for (const BootCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Bytes image = ex::Volume();
    c.Damage(image);
    const CardFileSystem fs = Read(dir, image);
    EXPECT_EQ(fs.Problem, c.Expected);
    EXPECT_TRUE(fs.ExFat);
    for (std::int8_t language : {VEK::English, VEK::French}) {
      VEK::SetLanguage(language);
      EXPECT_NE(VEKRecover::FileSystemText(fs).find("exFAT"), std::string::npos) << VEKRecover::FileSystemText(fs);
    }
    VEK::SetLanguage(VEK::English);
    if (c.Expected == FatProblem::None) {
      EXPECT_EQ(fs.ClusterBytes(), ex::ClusterBytes);
      EXPECT_EQ(fs.Layout->ClusterOffset(2), ex::Cluster(2));
      ASSERT_EQ(fs.Live.size(), 1u);
      EXPECT_EQ(fs.Live[0].Name(), "CLIP.AVI");
      EXPECT_EQ(fs.InUse.CountSet(), 5u);  // the bitmap's five: 2 to 6
    } else {
      EXPECT_TRUE(fs.Live.empty());
      EXPECT_EQ(fs.InUse.Size(), 0u);
      EXPECT_EQ(fs.Layout.has_value(), c.Expected == FatProblem::TableUnreadable);
    }
  }
}

// A damaged main boot region leaves the backup, twelve sectors on.
TEST(CardBootSector, ExFatBackupBootRegionStandsInForTheMainOne) {
  TempDir dir;
  Bytes image = ex::Volume();
  std::copy_n(image.begin(), 12 * ex::Sector, image.begin() + 12 * ex::Sector);
  VEK::StoreLe32(&image[88], 0xFFFFFFF0);
  ex::SealBootRegion(image);
  const CardFileSystem fs = Read(dir, image);
  ASSERT_TRUE(fs.Readable()) << VEKRecover::FileSystemText(fs);
  EXPECT_EQ(fs.Layout->DataStart, ex::Cluster(2));
}

// Entry sets as exFAT keeps them: a deleted film's set gives its first
// cluster, size and date (with its hundredths and its offset from UTC); a
// set whose checksum fails is not trusted; folders are walked along their
// FAT chain or, without one, by their size; the bitmap, not the entries,
// says which clusters are in use; loops end.
TEST(CardBootSector, ExFatEntrySetsLiveAndDeleted) {
  TempDir dir;
  Bytes v = ex::Volume();
  // DCIM in clusters 7 and 8 by its FAT chain, then 8 loops to 7; 101VIDEO
  // in cluster 9, one run. Cluster 7 is full of entries no longer used.
  ex::PutSet(v, ex::Root + 160, u"DCIM", 0x10, 7, 3 * ex::ClusterBytes, false);
  ex::SetFat(v, 7, 8);
  ex::SetFat(v, 8, 7);
  ex::PutSet(v, ex::Cluster(7), u"101VIDEO", 0x10, 9, ex::ClusterBytes, true);
  for (int i = 96; i < ex::ClusterBytes; i += 32) v[ex::Cluster(7) + i] = 0x20;
  ex::PutSet(v, ex::Cluster(8), u"DCIM", 0x10, 7, 2 * ex::ClusterBytes, false);  // itself again
  ex::PutSet(v, ex::Cluster(9), u"MOV0002.AVI", 0x20, 20, 3'000'000'000ull * 2, false, true);
  ex::PutSet(v, ex::Cluster(9) + 96, u"BROKEN.AVI", 0x20, 30, 1000, true, true);
  v[ex::Cluster(9) + 96 + 64 + 2] ^= 1;  // a letter of its name, after the checksum
  ex::PutSet(v, ex::Cluster(9) + 192, u"GONE.JPG", 0x20, 40, 1000, true, true);
  v[ex::Cluster(2)] = 0xFF;  // clusters 2 to 9
  const CardFileSystem fs = Read(dir, v);
  ASSERT_TRUE(fs.Readable()) << VEKRecover::FileSystemText(fs);
  EXPECT_EQ(fs.Live.size(), 4u);  // CLIP.AVI, DCIM, 101VIDEO, DCIM listed in itself
  ASSERT_EQ(fs.Deleted.size(), 2u);
  const VEKRecover::DirEntry& film = fs.Deleted[0];
  EXPECT_EQ(film.Name(), "MOV0002.AVI");
  EXPECT_EQ(film.Folder, "/DCIM/101VIDEO");
  EXPECT_EQ(film.FirstCluster, 20u);
  EXPECT_EQ(film.Size, 6'000'000'000ull);
  EXPECT_FALSE(film.NoFatChain);
  EXPECT_EQ(film.Written.Year, 2024);
  EXPECT_EQ(film.Written.Month, 5);
  EXPECT_EQ(film.Written.Day, 6);
  EXPECT_EQ(film.Written.Hour, 7);
  EXPECT_EQ(film.Written.Minute, 8);
  EXPECT_EQ(film.Written.Second, 11);
  EXPECT_EQ(film.Written.Hundredths, 37);
  EXPECT_TRUE(film.Written.UtcKnown);
  EXPECT_EQ(film.Written.UtcOffsetMinutes, 120);
  EXPECT_EQ(fs.Deleted[1].Name(), "GONE.JPG");
  EXPECT_TRUE(fs.Deleted[1].NoFatChain);
  EXPECT_EQ(fs.InUse.CountSet(), 8u);
  EXPECT_FALSE(fs.InUse.Test(20));
}

// A whole card as the system shows it: an MBR, and the volume in its
// first partition.
TEST(CardBootSector, VolumeInAnMbrPartitionIsFound) {
  const struct {
    const char* Name;
    Bytes Volume;
    std::uint8_t Type;
    std::int64_t Cluster2;
    std::uint32_t FirstCluster;
  } cases[] = {{"FAT12", Volume(), 0x0C, DataStart, 2}, {"exFAT", ex::Volume(), 0x07, ex::Cluster(2), 5}};
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    constexpr int Offset = 8 * Sector;
    Bytes card(Offset, 0);
    card.insert(card.end(), c.Volume.begin(), c.Volume.end());
    unsigned char* entry = card.data() + 446 + 16;  // the second entry
    entry[4] = c.Type;
    VEK::StoreLe32(entry + 8, Offset / Sector);
    VEK::StoreLe32(entry + 12, static_cast<std::uint32_t>(c.Volume.size() / Sector));
    card[510] = 0x55;
    card[511] = 0xAA;
    const CardFileSystem fs = Read(dir, card);
    ASSERT_TRUE(fs.Readable());
    EXPECT_EQ(fs.Layout->VolumeStart, Offset);
    EXPECT_EQ(fs.Layout->ClusterOffset(2), Offset + c.Cluster2);
    ASSERT_EQ(fs.Live.size(), 1u);
    EXPECT_EQ(fs.Live[0].FirstCluster, c.FirstCluster);
  }
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
