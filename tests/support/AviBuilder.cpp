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

AviBuilder::AviBuilder(StreamDigits digits, std::uint32_t streamHeaderRoom)
    : streamHeaderRoom_(streamHeaderRoom), digits_(digits) {
  Put32(Code("RIFF"));
  Put32(0);
  Put32(Code("AVI "));
  // LIST hdrl { avih (56 bytes), room that Build() fills with a strl per stream }
  Put32(Code("LIST"));
  Put32(4 + 8 + 56 + streamHeaderRoom_);
  Put32(Code("hdrl"));
  Put32(Code("avih"));
  Put32(56);
  bytes_.insert(bytes_.end(), 56, 0);
  Put32(Code("JUNK"));
  Put32(streamHeaderRoom_ - 8);
  bytes_.insert(bytes_.end(), streamHeaderRoom_ - 8, 0);
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
  WriteStreamHeaders(out);
  return out;
}

namespace {

int Hex(unsigned c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

}  // namespace

void AviBuilder::WriteStreamHeaders(Bytes& out) const {
  // What a muxer writes for the streams the chunks use: uncompressed
  // pictures at 25 frames per second and 8-bit mono PCM at 8000 Hz, with
  // their lengths; streams the room cannot hold stay without a header.
  struct Stream {
    bool Video = false, Audio = false;
    std::uint32_t Chunks = 0, Bytes = 0, Largest = 0;
  };
  std::map<int, Stream> streams;
  for (const ExpectedEntry& e : chunks_) {
    const int high = Hex(e.Code & 0xFF), low = Hex((e.Code >> 8) & 0xFF);
    const int n = digits_ == StreamDigits::Hexadecimal ? high * 16 + low : high * 10 + low;
    const std::uint32_t kind = e.Code >> 16;
    Stream& s = streams[n];
    if (kind == (Code("00pc") >> 16)) continue;
    s.Video |= kind != (Code("00wb") >> 16);
    s.Audio |= kind == (Code("00wb") >> 16);
    ++s.Chunks;
    s.Bytes += e.Size;
    s.Largest = std::max(s.Largest, e.Size);
  }
  constexpr std::size_t StrlBytes = 12 + 8 + 56 + 8 + 40;
  const int count =
      streams.empty() ? 0 : std::min<int>(streams.rbegin()->first + 1, streamHeaderRoom_ / StrlBytes - 1);
  std::size_t at = 12 + 12 + 8 + 56;
  auto put32 = [&](std::uint32_t v) {
    VEK::StoreLe32(&out[at], v);
    at += 4;
  };
  auto put16 = [&](std::uint16_t v) {
    VEK::StoreLe16(&out[at], v);
    at += 2;
  };
  for (int n = 0; n < count; ++n) {
    const Stream s = streams.count(n) ? streams[n] : Stream{};
    put32(Code("LIST"));
    put32(4 + 8 + 56 + 8 + 40);
    put32(Code("strl"));
    put32(Code("strh"));
    put32(56);
    put32(s.Audio ? Code("auds") : s.Video ? Code("vids") : Code("txts"));
    for (std::uint32_t v : {0u, 0u, 0u, 0u, 1u, s.Audio ? 8000u : 25u, 0u, s.Audio ? s.Bytes : s.Chunks, s.Largest,
                            0xFFFFFFFFu, s.Audio ? 1u : 0u, 0u, 0u})
      put32(v);
    put32(Code("strf"));
    put32(40);
    if (s.Audio) {
      for (std::uint16_t v : {1, 1}) put16(v);  // PCM, mono
      put32(8000);
      put32(8000);
      for (std::uint16_t v : {1, 8, 0}) put16(v);
      at += 40 - 18;
    } else {
      for (std::uint32_t v : {40u, 16u, 16u}) put32(v);
      put16(1);
      put16(24);
      at += 40 - 16;
    }
  }
  VEK::StoreLe32(&out[32], 40000);  // avih dwMicroSecPerFrame
  VEK::StoreLe32(&out[32 + 24], static_cast<std::uint32_t>(count));
  // The rest of the room stays a JUNK chunk.
  const std::size_t end = 12 + 12 + 8 + 56 + streamHeaderRoom_;
  if (count > 0) {
    VEK::StoreLe32(&out[at], Code("JUNK"));
    VEK::StoreLe32(&out[at + 4], static_cast<std::uint32_t>(end - at - 8));
  }
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
        index.Entries.push_back(
            {VEK::LoadLe32(&file[e]), VEK::LoadLe32(&file[e + 8]), VEK::LoadLe32(&file[e + 12]), -1});
        index.Flags.push_back(VEK::LoadLe32(&file[e + 4]));
      }
      return index;
    }
    pos += 8 + static_cast<std::size_t>(size) + (size & 1);
  }
  return index;
}

}  // namespace ZantrelTest
