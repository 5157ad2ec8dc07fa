// Copies on file systems that share blocks between files (XFS with reflink,
// btrfs): the copy's bytes are those of an ordinary copy, and the source's
// blocks are shared rather than written again. Each test makes a small image
// of each such file system and mounts it through a loop device, which needs
// root, the file system's mkfs and a loop device; where any is missing the
// test is skipped and says which.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "file/File.h"
#include "support/AviBuilder.h"
#include "support/FaultySystemCalls.h"
#include "support/TempDir.h"

namespace {

using namespace ZantrelTest;
using VEKFile::File;

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// A file system image of 300 MB, made and mounted for one test and always
// unmounted and deleted afterwards.
class LoopImage {
 public:
  LoopImage(const std::string& type, const TempDir& dir)
      : type_(type), image_(dir / (type + ".img")), mount_(dir / type) {
    const std::string mkfs = type == "xfs" ? "mkfs.xfs -q -m reflink=1" : "mkfs.btrfs -q";
    if (geteuid() != 0) {
      why_ = "not root";
    } else if (!Shell("command -v mkfs." + type)) {
      why_ = "mkfs." + type + " not installed (scripts/setup.sh installs it)";
    } else if (::access("/dev/loop-control", F_OK) != 0) {
      why_ = "no /dev/loop-control";
    } else if (!Shell("truncate -s 300M '" + image_ + "' && " + mkfs + " '" + image_ + "'")) {
      why_ = "mkfs." + type + " failed";
    } else if (::mkdir(mount_.c_str(), 0755) != 0 || !Shell("mount -o loop '" + image_ + "' '" + mount_ + "'")) {
      why_ = "mount -o loop failed (no free loop device, or no " + type + " in this kernel)";
    } else {
      mounted_ = true;
    }
  }
  ~LoopImage() {
    // A lazy unmount as a last resort, so that a file left open by a failed
    // test does not keep the image and the loop device for ever.
    if (mounted_ && !Shell("umount '" + mount_ + "'")) Shell("umount -l '" + mount_ + "'");
    ::unlink(image_.c_str());
  }
  LoopImage(const LoopImage&) = delete;
  LoopImage& operator=(const LoopImage&) = delete;

  bool Mounted() const { return mounted_; }
  std::string SkipReason() const {
    return "cannot mount a " + type_ + " image with shared blocks through a loop device: " + why_;
  }
  std::string operator/(const std::string& name) const { return mount_ + "/" + name; }

 private:
  std::string type_, image_, mount_, why_;
  bool mounted_ = false;
};

// The bytes of the file that are in extents shared with another file, from
// the file system's own extent map, written out first.
std::int64_t SharedBytes(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return -1;
  constexpr std::uint32_t Slots = 512;
  std::unique_ptr<unsigned char[]> storage(new unsigned char[sizeof(fiemap) + Slots * sizeof(fiemap_extent)]());
  auto* map = reinterpret_cast<fiemap*>(storage.get());
  std::int64_t shared = 0;
  std::uint64_t start = 0;
  for (bool last = false; !last;) {
    map->fm_start = start;
    map->fm_length = FIEMAP_MAX_OFFSET - start;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = Slots;
    if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0) {
      shared = -1;
      break;
    }
    if (map->fm_mapped_extents == 0) break;
    for (std::uint32_t i = 0; i < map->fm_mapped_extents; ++i) {
      const fiemap_extent& e = map->fm_extents[i];
      if (e.fe_flags & FIEMAP_EXTENT_SHARED) shared += static_cast<std::int64_t>(e.fe_length);
      start = e.fe_logical + e.fe_length;
      last = last || (e.fe_flags & FIEMAP_EXTENT_LAST);
    }
  }
  ::close(fd);
  return shared;
}

std::int64_t SizeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

Bytes RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(n);
  for (auto& b : bytes) b = static_cast<unsigned char>(random());
  return bytes;
}

// Runs body on a fresh image of each file system; the test is skipped when
// none could be mounted, and says which could not.
template <typename Body>
void OnEachImage(Body body) {
  std::string skipped;
  bool ran = false;
  for (const std::string type : {"xfs", "btrfs"}) {
    TempDir dir;
    LoopImage image(type, dir);
    if (!image.Mounted()) {
      skipped += (skipped.empty() ? "" : "; ") + image.SkipReason();
      continue;
    }
    ran = true;
    body(type, image);
  }
  if (!ran) GTEST_SKIP() << skipped;
  if (!skipped.empty()) std::cout << "[ SKIPPED  ] " << skipped << std::endl;
}

// Ranges as callers make them: a mirror's batches that start where the last
// one ended at the same offsets in both files, ranges that cannot be aligned,
// and ranges that run to or past the end of the source. Every one must give
// the bytes of an ordinary copy; the mirror's batches must share its blocks.
TEST(ReflinkCopy, RangesGiveAnOrdinaryCopysBytesAndAMirrorSharesItsBlocks) {
  constexpr std::int64_t MiB = 1024 * 1024;
  const std::int64_t sourceSize = 20 * MiB + 1234;  // the last block partial
  const Bytes source = RandomBytes(static_cast<std::size_t>(sourceSize), 14);
  struct Range {
    std::int64_t from, to, length;
  };
  // A mirror's batches: each starts where the last ended, at the same offset in both files.
  const auto batches = [&](std::int64_t at, std::vector<std::int64_t> lengths) {
    std::vector<Range> ranges;
    for (std::int64_t length : lengths) {
      ranges.push_back({at, at, length});
      at += length;
    }
    ranges.push_back({at, at, sourceSize - at});
    return ranges;
  };
  const struct {
    const char* name;
    std::vector<Range> ranges;
    bool kernelCopy;
    bool shares;  // at least 90% of the source's size in the copy's shared blocks
  } cases[] = {
      {"mirror batches through memory", batches(0, {8 * MiB + 4001, 8 * MiB + 17}), false, true},
      {"mirror batches from inside a block, through the kernel's copy", batches(1000, {8 * MiB + 3001}), true, true},
      {"the whole file in one range", {{0, 0, sourceSize}}, true, true},
      {"offsets that fall differently within a block", {{0, 100, sourceSize}}, false, false},
      {"a short range", {{5000, 5000, 60000}}, false, false},
      {"a range running past the end of the source", {{4 * MiB + 7, 4 * MiB + 7, sourceSize}}, false, false},
  };
  OnEachImage([&](const std::string& type, const LoopImage& image) {
    WriteFile(image / "source", source);
    int n = 0;
    for (const auto& c : cases) {
      const std::string what = type + ", " + c.name;
      // A copy of its own for each case: the sharing measured is then this
      // case's, whenever the file system gets round to freeing earlier copies.
      const std::string copy = image / ("copy" + std::to_string(++n));
      Bytes expected;
      {
        File in(image / "source");
        in.Open(VEKFile::ModeRead | VEKFile::ShareDenyNone, false);
        File out(copy);
        out.Open(VEKFile::ModeWrite | VEKFile::ShareDenyWrite, true);
        for (const Range& r : c.ranges) {
          const std::int64_t available = std::max<std::int64_t>(0, std::min(r.length, sourceSize - r.from));
          EXPECT_EQ(File::CopyRange(in, r.from, out, r.to, r.length, c.kernelCopy), available) << what;
          if (expected.size() < static_cast<std::size_t>(r.to + available)) expected.resize(r.to + available);
          std::copy(source.begin() + r.from, source.begin() + r.from + available, expected.begin() + r.to);
        }
      }
      EXPECT_EQ(ReadFile(copy) == expected, true) << what << ": not the bytes of an ordinary copy";
      const std::int64_t shared = SharedBytes(copy);
      if (c.shares) EXPECT_GE(shared * 10, sourceSize * 9) << what << ": " << shared << " bytes shared";
      else EXPECT_EQ(shared, 0) << what;
    }
  });
}

// A refusal, whatever its reason, leaves the bytes to the ordinary copy, and
// a destination that refused is not asked again, so that a file system
// without sharing pays for one refused call per file.
TEST(ReflinkCopy, ARefusedShareFallsBackToTheSameBytesAndIsNotAskedAgain) {
  constexpr std::int64_t MiB = 1024 * 1024;
  const Bytes source = RandomBytes(static_cast<std::size_t>(6 * MiB), 15);
  const struct {
    const char* name;
    int error;
    bool halfShared;
  } cases[] = {
      {"no sharing on this file system", EOPNOTSUPP, false},
      {"another file system", EXDEV, false},
      {"an I/O error after sharing half the range", EIO, true},
  };
  OnEachImage([&](const std::string& type, const LoopImage& image) {
    WriteFile(image / "source", source);
    int n = 0;
    for (const auto& c : cases) {
      const std::string what = type + ", " + c.name;
      const std::string copy = image / ("copy" + std::to_string(++n));
      FaultySystemCalls calls;
      calls.failClone = true;
      calls.cloneErrno = c.error;
      calls.cloneHalfFirst = c.halfShared;
      {
        CallsGuard guard(calls);
        File in(image / "source");
        in.Open(VEKFile::ModeRead | VEKFile::ShareDenyNone, false);
        File out(copy);
        out.Open(VEKFile::ModeWrite | VEKFile::ShareDenyWrite, true);
        for (std::int64_t at = 0; at < 6 * MiB; at += 2 * MiB) {
          EXPECT_EQ(File::CopyRange(in, at, out, at, 2 * MiB, false), 2 * MiB) << what;
        }
      }
      EXPECT_EQ(calls.cloneCalls, 1) << what;
      EXPECT_EQ(ReadFile(copy) == source, true) << what << ": not the bytes of an ordinary copy";
      EXPECT_EQ(SharedBytes(copy), 0) << what << ": the copy must rewrite what was shared";
    }
  });
}

Bytes SyntheticFilm() {
  // Over two of the mirror's 8 MiB batches, so that both the copy beside the
  // walk and the last one before the index are exercised.
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < 300; ++i) {
    b.Chunk("00dc", 60000 + 37 * static_cast<std::uint32_t>(i), static_cast<unsigned char>(i));
    b.Chunk("01wb", 1001, static_cast<unsigned char>(255 - i));
  }
  return b.EndMovi().Idx1().Build();
}

Bytes DamagedFilm() {
  // No index and garbage between chunks: the rebuild writes more than the index.
  AviBuilder b;
  b.StartMovi();
  for (int i = 0; i < 150; ++i) {
    b.Chunk("00dc", 70001, static_cast<unsigned char>(i));
    if (i % 50 == 25) b.Raw(RandomBytes(3000, static_cast<unsigned>(i)));
  }
  return b.EndMovi().Build();
}

// ffmpeg's own file, when ffmpeg is there: a few MB, less than one batch.
Bytes FfmpegFilm(const TempDir& dir) {
  const std::string path = dir / "ffmpeg.avi";
  if (!Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 -f lavfi -i "
           "sine=frequency=440:sample_rate=48000 -t 12 -c:v mpeg4 -q:v 3 -c:a pcm_s16le -ac 2 '" +
           path + "'")) {
    return {};
  }
  return ReadFile(path);
}

// What users run: a copy rebuild with the console program. On an image with
// shared blocks it must give what it gives on ordinary disk, byte for byte,
// while sharing the source's blocks instead of taking their space again.
TEST(ReflinkCopy, ACopyRebuildMatchesOneOnOrdinaryDiskAndSharesTheSourcesBlocks) {
  TempDir plain;
  std::vector<std::pair<std::string, Bytes>> films;
  OnEachImage([&](const std::string& type, const LoopImage& image) {
    if (films.empty()) {
      films = {{"synthetic.avi", SyntheticFilm()}, {"damaged.avi", DamagedFilm()}};
      Bytes ffmpeg = FfmpegFilm(plain);
      if (!ffmpeg.empty()) films.emplace_back("ffmpeg.avi", std::move(ffmpeg));
      else ADD_FAILURE() << "ffmpeg could not make its film (scripts/setup.sh installs ffmpeg)";
    }
    for (const auto& [name, bytes] : films) {
      const std::string what = type + ", " + name;
      const std::string rebuilt = "Zantrel." + name;
      WriteFile(plain / name, bytes);
      ::unlink((plain / rebuilt).c_str());
      ASSERT_TRUE(Shell(std::string("'") + ZANTREL_CLI_PATH + "' rebuild '" + (plain / name) + "'")) << what;
      const Bytes expected = ReadFile(plain / rebuilt);
      ASSERT_FALSE(expected.empty()) << what;

      WriteFile(image / name, bytes);
      ASSERT_TRUE(Shell(std::string("'") + ZANTREL_CLI_PATH + "' rebuild '" + (image / name) + "'")) << what;
      EXPECT_EQ(ReadFile(image / rebuilt) == expected, true) << what << ": not the bytes of the rebuild on disk";
      const std::int64_t size = SizeOf(image / name);
      const std::int64_t shared = SharedBytes(image / name);
      EXPECT_GE(shared * 10, size * 9) << what << ": " << shared << " of the source's " << size
                                       << " bytes shared";
    }
  });
}

}  // namespace
