// Reads served from the read-ahead window must always show the file as this
// object last left it: its own writes, a truncation, and a copy into it.
#include <gtest/gtest.h>

#include "file/File.h"
#include "support/TempDir.h"

namespace {

using namespace ZantrelTest;

TEST(ReadAhead, ReadsAfterThisFilesOwnChangesSeeTheChanges) {
  TempDir dir;
  Bytes data(100000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7);
  WriteFile(dir / "f.bin", data);
  WriteFile(dir / "g.bin", Bytes(64, 0xAB));
  VEKFile::File g(dir / "g.bin");
  g.Open(VEKFile::ModeRead | VEKFile::ShareDenyNone, false);

  VEKFile::File f(dir / "f.bin");
  f.Open(VEKFile::ModeReadWrite | VEKFile::ShareDenyWrite, false);
  unsigned char b[8];
  f.Read(b, 8);  // the window now holds the start of the file
  EXPECT_EQ(b[1], 7);

  f.Seek(4, 0);
  f.Write("\x01\x02", 2);  // queued
  f.Seek(0, 0);
  f.Read(b, 8);
  EXPECT_EQ(b[4], 1);
  EXPECT_EQ(b[5], 2);

  std::vector<unsigned char> big(VEKFile::File::QueueLimit + 1, 0x33);  // written at once, past the queue
  f.Seek(0, 0);
  f.Write(big.data(), static_cast<std::int64_t>(big.size()));
  f.Seek(16, 0);
  f.Read(b, 8);
  EXPECT_EQ(b[0], 0x33);

  f.Seek(20, 0);
  f.CopyFrom(g, 0, 8);
  f.Seek(20, 0);
  f.Read(b, 8);
  EXPECT_EQ(b[7], 0xAB);

  f.Seek(24, 0);
  f.Truncate();
  f.Seek(20, 0);
  EXPECT_EQ(f.ReadSome(b, 8), 4) << "the truncated bytes are gone";

  // A window read short at the end of the file grows with the file's own writes.
  f.Seek(24, 0);
  f.Write("tail", 4);
  f.Seek(20, 0);
  EXPECT_EQ(f.ReadSome(b, 8), 8);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b + 4), 4), "tail");
}

}  // namespace
