#include "support/AviBuilder.h"

#include <algorithm>
#include <map>
#include <stdexcept>

#include "util/Endian.h"

namespace ZantrelTest {

std::uint32_t Code(std::string_view s) {
  if (s.size() != 4) throw std::invalid_argument("a code has four characters");
  return VEK::LoadLe32(reinterpret_cast<const unsigned char*>(s.data()));
}

AviBuilder::AviBuilder() {
  Put32(Code("RIFF"));
  Put32(0);
  Put32(Code("AVI "));
  // LIST hdrl { avih (56 bytes) }
  Put32(Code("LIST"));
  Put32(4 + 8 + 56);
  Put32(Code("hdrl"));
  Put32(Code("avih"));
  Put32(56);
  bytes_.insert(bytes_.end(), 56, 0);
}

void AviBuilder::Put32(std::uint32_t v) {
  unsigned char b[4];
  VEK::StoreLe32(b, v);
  bytes_.insert(bytes_.end(), b, b + 4);
}

void AviBuilder::Patch32(std::size_t at, std::uint32_t v) { VEK::StoreLe32(&bytes_[at], v); }

AviBuilder& AviBuilder::StartMovi() {
  moviOffset_ = Size();
  Put32(Code("LIST"));
  Put32(0);
  Put32(Code("movi"));
  return *this;
}

AviBuilder& AviBuilder::Header(std::string_view code, std::uint32_t size) {
  const std::int64_t pos = Size();
  const std::uint32_t c = Code(code);
  const unsigned char* cb = reinterpret_cast<const unsigned char*>(code.data());
  auto hex = [](unsigned char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
  };
  const std::string_view kind = code.substr(2);
  if (moviOffset_ >= 0 && hex(cb[0]) && hex(cb[1]) && (kind == "db" || kind == "dc" || kind == "pc" || kind == "wb"))
    chunks_.push_back({c, static_cast<std::uint32_t>(pos - (moviOffset_ + 8)), size, pos});
  Put32(c);
  Put32(size);
  return *this;
}

AviBuilder& AviBuilder::Chunk(std::string_view code, std::uint32_t size, unsigned char fill) {
  Header(code, size);
  bytes_.insert(bytes_.end(), size, fill);
  if (size & 1) bytes_.push_back(0);
  return *this;
}

AviBuilder& AviBuilder::Raw(const Bytes& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

AviBuilder& AviBuilder::Fill(std::size_t count, unsigned char byte) {
  bytes_.insert(bytes_.end(), count, byte);
  return *this;
}

AviBuilder& AviBuilder::StartRecList() {
  openRecLists_.push_back(bytes_.size());
  Put32(Code("LIST"));
  Put32(0);
  Put32(Code("rec "));
  return *this;
}

AviBuilder& AviBuilder::EndRecList() {
  const std::size_t at = openRecLists_.back();
  openRecLists_.pop_back();
  Patch32(at + 4, static_cast<std::uint32_t>(bytes_.size() - at - 8));
  return *this;
}

AviBuilder& AviBuilder::EndMovi() {
  Patch32(static_cast<std::size_t>(moviOffset_) + 4, static_cast<std::uint32_t>(Size() - moviOffset_ - 8));
  return *this;
}

AviBuilder& AviBuilder::Idx1() {
  Put32(Code("idx1"));
  Put32(static_cast<std::uint32_t>(chunks_.size() * 16));
  for (const ExpectedEntry& e : chunks_) {
    Put32(e.Code);
    Put32(0x10);
    Put32(e.Offset);
    Put32(e.Size);
  }
  return *this;
}

Bytes AviBuilder::Build() const {
  Bytes out = bytes_;
  VEK::StoreLe32(&out[4], static_cast<std::uint32_t>(out.size() - 8));
  // A movi list never closed runs to the end of the file, as a capture that
  // stopped before its index leaves it.
  if (moviOffset_ >= 0 && VEK::LoadLe32(&out[moviOffset_ + 4]) == 0)
    VEK::StoreLe32(&out[moviOffset_ + 4], static_cast<std::uint32_t>(out.size() - moviOffset_ - 8));
  // The main header's frame count, as a muxer writes it: the video chunks of
  // the stream that has most ('avih' dwTotalFrames, 16 bytes into its data at 32).
  std::map<std::uint32_t, std::uint32_t> perStream;
  for (const ExpectedEntry& e : chunks_)
    if ((e.Code >> 16) == (Code("00dc") >> 16) || (e.Code >> 16) == (Code("00db") >> 16)) ++perStream[e.Code & 0xFFFF];
  std::uint32_t frames = 0;
  for (const auto& [stream, count] : perStream) frames = std::max(frames, count);
  VEK::StoreLe32(&out[32 + 16], frames);
  return out;
}

ParsedIndex ReadIdx1(const Bytes& file) {
  ParsedIndex index;
  std::size_t pos = 12;
  while (pos + 8 <= file.size()) {
    const std::uint32_t code = VEK::LoadLe32(&file[pos]);
    const std::uint32_t size = VEK::LoadLe32(&file[pos + 4]);
    if (code == Code("idx1")) {
      index.Found = true;
      index.Position = static_cast<std::int64_t>(pos);
      for (std::size_t e = pos + 8; e + 16 <= pos + 8 + size && e + 16 <= file.size(); e += 16) {
        index.Entries.push_back({VEK::LoadLe32(&file[e]), VEK::LoadLe32(&file[e + 8]), VEK::LoadLe32(&file[e + 12]), -1});
        index.Flags.push_back(VEK::LoadLe32(&file[e + 4]));
      }
      return index;
    }
    pos += 8 + static_cast<std::size_t>(size) + (size & 1);
  }
  return index;
}

}  // namespace ZantrelTest
