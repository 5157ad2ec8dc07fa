// A recovery's source on a device whose reads must be whole sectors, as a
// Windows drive opened whole (\\.\E:) is: a file made to act as one, its
// size told apart and every read refused unless its offset, length and
// buffer are sector-aligned. What is read must be the file's own bytes,
// however the request falls across sectors; and the names that mean a drive.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "file/File.h"
#include "file/SystemCalls.h"
#include "lang/Language.h"
#include "recover/Source.h"
#include "recover/SourceName.h"
#include "support/FaultySystemCalls.h"
#include "support/TempDir.h"

namespace {

using ZantrelTest::TempDir;

// The file named device acts as a block device of the given size (its own
// where 0) whose reads must be aligned to sector bytes.
class SectorDevice : public VEKFile::SystemCalls {
 public:
  SectorDevice(std::string device, std::int64_t sector) : Device(std::move(device)), Sector(sector) {}
  std::string Device;
  std::int64_t Sector;
  std::int64_t Size = 0;
  int SizeErrno = 0;  // when set, the size is not told
  int DeviceFd = -1;
  int Unaligned = 0;  // reads refused

  int Open(const char* path, int flags, mode_t mode) override {
    const int fd = SystemCalls::Open(path, flags, mode);
    if (fd >= 0 && Device == path) DeviceFd = fd;
    return fd;
  }
  int FStat(int fd, VEKFile::FileStatus* st) override {
    const int result = SystemCalls::FStat(fd, st);
    if (result == 0 && fd == DeviceFd) {
      st->st_mode = S_IFBLK | 0444;
      st->st_size = 0;
    }
    return result;
  }
  std::int64_t DeviceSize(int fd) override {
    if (fd != DeviceFd) return SystemCalls::DeviceSize(fd);
    if (SizeErrno != 0) {
      errno = SizeErrno;
      return -1;
    }
    VEKFile::FileStatus st;
    return Size > 0 ? Size : (SystemCalls::FStat(fd, &st) == 0 ? st.st_size : -1);
  }
  std::int64_t ReadAlignment(int fd) override { return fd == DeviceFd ? Sector : SystemCalls::ReadAlignment(fd); }
  ssize_t PRead(int fd, void* buffer, size_t count, off_t offset) override {
    if (fd == DeviceFd && (offset % Sector != 0 || static_cast<std::int64_t>(count) % Sector != 0 ||
                           reinterpret_cast<std::uintptr_t>(buffer) % static_cast<std::uintptr_t>(Sector) != 0)) {
      ++Unaligned;
      errno = EINVAL;
      return -1;
    }
    return SystemCalls::PRead(fd, buffer, count, offset);
  }
};

// 2 MiB and a bit: the last sector is a part one, and a read can cross the
// mebibyte that one aligned read takes at most.
std::vector<unsigned char> WriteBytes(const std::string& path) {
  std::vector<unsigned char> bytes((std::size_t{2} << 20) + 3 * 512 + 100);
  std::mt19937 random(7);
  for (auto& b : bytes) b = static_cast<unsigned char>(random());
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

struct Read {
  const char* Name;
  std::int64_t Sector, Offset, Length;
  bool AlignedBuffer;
};

const std::int64_t Mib = std::int64_t{1} << 20;

const Read reads[] = {
    {"one whole sector into an aligned buffer", 512, 0, 512, true},
    {"one whole sector into a buffer off the sector", 512, 512, 512, false},
    {"the first byte", 512, 0, 1, true},
    {"two bytes across a sector boundary", 512, 511, 2, true},
    {"a sector's last byte", 512, 1023, 1, false},
    {"many sectors, both ends inside one", 512, 100, 5000, false},
    {"4 KiB sectors, one byte short of each end", 4096, 4095, 4098, true},
    {"across the mebibyte one aligned read takes", 4096, Mib - 1, Mib + 2, false},
    {"aligned but more than a mebibyte", 4096, 0, 2 * Mib + 4096, true},
    {"past the end, from inside the last part sector", 512, 2 * Mib + 3 * 512 + 50, 100, false},
    {"past the end, from an odd offset", 4096, 3, 3 * Mib, false},
    {"the whole file in one request", 4096, 0, 2 * Mib + 3 * 512 + 100, true},
    {"no alignment asked", 1, 7, 9, false},
};

TEST(SourceDevice, AlignedReadsGiveTheBytesAPlainReadGives) {
  TempDir dir;
  const std::string path = dir / "device.img";
  const std::vector<unsigned char> bytes = WriteBytes(path);
  const auto size = static_cast<std::int64_t>(bytes.size());
  for (const Read& r : reads) {
    SCOPED_TRACE(r.Name);
    SectorDevice device(path, r.Sector);
    ZantrelTest::CallsGuard guard(device);
    const int fd = VEKFile::Sys().Open(path.c_str(), O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    // Guard bytes past the request; the buffer starts on a 4 KiB boundary,
    // or one byte past it.
    std::vector<unsigned char> storage(static_cast<std::size_t>(r.Length) + 2 * 4096 + 64, 0xA5);
    const auto misplaced = reinterpret_cast<std::uintptr_t>(storage.data()) % 4096;
    unsigned char* buffer = storage.data() + (misplaced == 0 ? 0 : 4096 - misplaced) + (r.AlignedBuffer ? 0 : 1);
    const std::int64_t got = VEKFile::ReadAligned(fd, buffer, r.Length, r.Offset, r.Sector);
    VEKFile::Sys().Close(fd);
    const std::int64_t expected = std::max<std::int64_t>(0, std::min(r.Length, size - r.Offset));
    EXPECT_EQ(got, expected);
    EXPECT_EQ(device.Unaligned, 0);
    if (got == expected && expected > 0)
      EXPECT_EQ(std::memcmp(buffer, bytes.data() + r.Offset, static_cast<std::size_t>(expected)), 0);
    for (int i = 0; i < 64; ++i) ASSERT_EQ(buffer[r.Length + i], 0xA5) << "a byte past the request was written";
  }
}

TEST(SourceDevice, ADeviceReadsInWholeSectorsUpToTheSizeItTells) {
  TempDir dir;
  const std::string path = dir / "device.img";
  const std::vector<unsigned char> bytes = WriteBytes(path);
  const struct {
    const char* Name;
    std::int64_t Sector, Size;
  } devices[] = {
      {"512-byte sectors, the file's size", 512, 0},
      {"4 KiB sectors, the file's size", 4096, 0},
      {"a size told short of the file, not a whole sector", 4096, Mib + 700},
  };
  for (const auto& d : devices) {
    SCOPED_TRACE(d.Name);
    SectorDevice device(path, d.Sector);
    device.Size = d.Size;
    ZantrelTest::CallsGuard guard(device);
    const VEKRecover::Source source(path);
    const std::int64_t size = d.Size > 0 ? d.Size : static_cast<std::int64_t>(bytes.size());
    EXPECT_EQ(source.Size(), size);
    for (const Read& r : reads) {
      if (r.Offset > size) continue;
      std::vector<unsigned char> out(static_cast<std::size_t>(r.Length) + 1);
      const std::int64_t got = source.ReadAt(out.data() + (r.AlignedBuffer ? 0 : 1), r.Length, r.Offset);
      const std::int64_t expected = std::min(r.Length, size - r.Offset);
      EXPECT_EQ(got, expected) << r.Name;
      if (got == expected && expected > 0)
        EXPECT_EQ(std::memcmp(out.data() + (r.AlignedBuffer ? 0 : 1), bytes.data() + r.Offset,
                              static_cast<std::size_t>(expected)),
                  0)
            << r.Name;
    }
    EXPECT_EQ(device.Unaligned, 0);
  }
}

TEST(SourceDevice, ADeviceWhoseSizeIsNotToldIsRefusedWithItsNameAndReason) {
  TempDir dir;
  const std::string path = dir / "device.img";
  WriteBytes(path);
  SectorDevice device(path, 512);
  device.SizeErrno = EACCES;
  ZantrelTest::CallsGuard guard(device);
  try {
    VEKRecover::Source source(path);
    FAIL() << "opened with a size of " << source.Size();
  } catch (const VEKFile::File::Exception& e) {
    EXPECT_EQ(e.SystemError, EACCES);
    EXPECT_EQ(e.Path, path);
    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
  }
}

TEST(SourceDevice, ADriveIsNamedByItsLetterAloneOrItsDeviceName) {
  const struct {
    const char* Name;
    char Drive;
  } names[] = {
      {"E:", 'E'},           {"e:", 'E'},          {"\\\\.\\E:", 'E'}, {"//./z:", 'Z'},     {"\\\\./a:", 'A'},
      {"E:\\", 0},           {"E:/", 0},           {"E:card.img", 0},  {"\\\\.\\E:\\", 0},  {"\\\\?\\E:", 0},
      {"\\\\.\\PhysicalDrive1", 0}, {"1:", 0},     {"::", 0},          {"", 0},             {"E", 0},
      {"/dev/sdb", 0},       {"\\\\.\\EE:", 0},    {"x\\\\.\\E:", 0},
  };
  for (const auto& n : names) {
    EXPECT_EQ(VEKRecover::SourceDrive(n.Name), n.Drive) << n.Name;
#ifdef _WIN32
    const std::string open = n.Drive != 0 ? std::string("\\\\.\\") + n.Drive + ":" : n.Name;
#else
    const std::string open = n.Name;  // "E:" is a file like any other
#endif
    EXPECT_EQ(VEKRecover::SourceOpenName(n.Name), open) << n.Name;
  }
}

}  // namespace
