#include "support/OdmlReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "avi/AviChunk.h"
#include "util/Endian.h"

namespace ZantrelTest {

bool HaveTool(const char* tool) {
  return std::system(("command -v " + std::string(tool) + " >/dev/null 2>&1").c_str()) == 0;
}

std::string RunCommand(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

OdmlReader::OdmlReader(const std::string& path)
    : fd_(open(path.c_str(), O_RDONLY)), size_(fd_ < 0 ? 0 : lseek(fd_, 0, SEEK_END)) {}

OdmlReader::~OdmlReader() {
  if (fd_ >= 0) close(fd_);
}

std::vector<unsigned char> OdmlReader::At(std::int64_t pos, std::size_t n) const {
  std::vector<unsigned char> b(n, 0);
  if (pos < 0 || pos + static_cast<std::int64_t>(n) > size_ || pread(fd_, b.data(), n, pos) != static_cast<ssize_t>(n))
    b.clear();
  return b;
}

Parsed OdmlReader::Parse() const {
  Parsed p;
  std::int64_t pos = 0;
  while (pos + 12 <= size_) {
    const auto h = At(pos, 12);
    if (std::memcmp(h.data(), "RIFF", 4) != 0) break;
    RiffInfo riff;
    riff.Position = pos;
    const std::uint32_t riffSize = VEK::LoadLe32(&h[4]);
    const std::int64_t end = pos + 8 + riffSize;
    ReadRiff(p, riff, pos + 12, std::min(end, size_));
    p.Riffs.push_back(riff);
    // As every RIFF reader, the next one is looked for at an even distance.
    pos = end + (riffSize & 1);
  }
  p.ChainReachesEnd = pos == size_;
  ReadIndexes(p);
  return p;
}

void OdmlReader::ReadRiff(Parsed& p, RiffInfo& riff, std::int64_t pos, std::int64_t end) const {
  while (end - pos >= 8) {
    const auto h = At(pos, 12);
    if (h.empty()) return;
    const std::uint32_t size = VEK::LoadLe32(&h[4]);
    if (std::memcmp(h.data(), "LIST", 4) == 0 && std::memcmp(&h[8], "hdrl", 4) == 0) {
      p.HdrlPosition = pos;
      p.HdrlSize = size;
    } else if (std::memcmp(h.data(), "LIST", 4) == 0 && std::memcmp(&h[8], "movi", 4) == 0) {
      riff.Movi = pos;
      riff.MoviEnd = pos + 8 + size;
      WalkMovi(p, riff);
    } else if (std::memcmp(h.data(), "idx1", 4) == 0 && p.Riffs.empty()) {
      const auto data = At(pos + 8, size);
      p.Idx1FromFileStart = data.size() >= 16 && VEK::LoadLe32(&data[8]) > riff.Movi;
      const std::int64_t base = p.Idx1FromFileStart ? 0 : riff.Movi + 8;
      for (std::size_t i = 0; i + 16 <= data.size(); i += 16)
        p.Idx1.push_back({VEK::LoadLe32(&data[i]), VEK::LoadLe32(&data[i + 4]), base + VEK::LoadLe32(&data[i + 8]),
                          VEK::LoadLe32(&data[i + 12])});
    }
    pos += 8 + size + (size & 1);
  }
}

bool OdmlReader::IsIndexCode(const unsigned char* c) {
  return (c[0] == 'i' && c[1] == 'x') || (c[2] == 'i' && c[3] == 'x');
}

void OdmlReader::WalkMovi(Parsed& p, RiffInfo& riff) const {
  std::vector<std::int64_t> indexes;
  std::int64_t pos = riff.Movi + 12;
  riff.DataEnd = pos;
  const std::int64_t end = std::min(riff.MoviEnd, size_);
  while (end - pos >= 8) {
    const auto h = At(pos, 8);
    const std::uint32_t size = VEK::LoadLe32(&h[4]);
    if (IsIndexCode(h.data())) indexes.push_back(pos);
    else if (std::memcmp(h.data(), "JUNK", 4) != 0) riff.DataEnd = pos + 8 + size + (size & 1);
    pos += 8 + size + (size & 1);
  }
  for (const std::int64_t at : indexes)
    if (at < riff.DataEnd) p.IndexChunksInData.push_back(at);
}

void OdmlReader::ReadIndexes(Parsed& p) const {
  const auto hdrl = At(p.HdrlPosition, p.HdrlSize + 8);
  if (hdrl.size() < 12) {
    p.Problems.push_back("no hdrl");
    return;
  }
  int stream = 0;
  // A flat walk of hdrl's chunks and lists: strl lists number the streams.
  for (std::size_t i = 12; i + 8 <= hdrl.size();) {
    const std::uint32_t size = VEK::LoadLe32(&hdrl[i + 4]);
    const unsigned char* c = &hdrl[i];
    if (std::memcmp(c, "LIST", 4) == 0) {
      if (std::memcmp(c + 8, "strl", 4) == 0) ++stream;
      i += 12;
      continue;
    }
    const std::int64_t dataPos = p.HdrlPosition + static_cast<std::int64_t>(i) + 8;
    if (std::memcmp(c, "avih", 4) == 0) p.AvihFlags = VEK::LoadLe32(c + 8 + 12);
    if (std::memcmp(c, "dmlh", 4) == 0) p.Dmlh = VEK::LoadLe32(c + 8);
    if (std::memcmp(c, "indx", 4) == 0) ReadSuper(p, stream - 1, dataPos, size);
    i += 8 + size + (size & 1);
  }
}

void OdmlReader::ReadSuper(Parsed& p, int stream, std::int64_t at, std::uint32_t size) const {
  const auto d = At(at, size);
  if (d.size() < 24 || VEK::LoadLe16(&d[0]) != 4 || d[3] != 0) {
    p.Problems.push_back("bad indx of stream " + std::to_string(stream));
    return;
  }
  const std::uint32_t used = VEK::LoadLe32(&d[4]);
  for (std::uint32_t e = 0; e < used && 24 + (e + 1) * 16 <= d.size(); ++e) {
    const unsigned char* s = &d[24 + e * 16];
    const std::int64_t ix = static_cast<std::int64_t>(VEK::LoadLe64(s));
    const std::uint32_t bytes = VEK::LoadLe32(s + 8);
    const auto chunk = At(ix, bytes);
    if (chunk.size() < 32 || !IsIndexCode(chunk.data()) || VEK::LoadLe32(&chunk[4]) + 8 != bytes ||
        VEK::LoadLe16(&chunk[8]) != 2 || chunk[11] != 1) {
      p.Problems.push_back("bad ix## at " + std::to_string(ix));
      continue;
    }
    const std::uint32_t count = VEK::LoadLe32(&chunk[12]);
    const std::int64_t base = static_cast<std::int64_t>(VEK::LoadLe64(&chunk[20]));
    for (std::uint32_t k = 0; k < count && 32 + (k + 1) * 8 <= chunk.size(); ++k) {
      const std::int64_t offset = base + VEK::LoadLe32(&chunk[32 + k * 8]);
      const std::uint32_t sz = VEK::LoadLe32(&chunk[36 + k * 8]);
      const bool key = (sz & 0x80000000u) == 0;
      p.Chunks.insert({stream, offset, sz & 0x7FFFFFFFu, key});
      p.KeyOf[offset] = key ? VEKAvi::AVIIF_KEYFRAME : 0;
    }
    p.Durations[stream] += VEK::LoadLe32(s + 12);
  }
}

}  // namespace ZantrelTest
