// Builds AVI files chunk by chunk for the tests: a RIFF form with a 'hdrl'
// that describes the streams the chunks use, a 'movi' list of chunks, optional garbage, groups and an idx1.
// Every stream chunk appended inside 'movi' is remembered, so a test can
// compare a rebuilt index with what was written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ZantrelTest {

using Bytes = std::vector<unsigned char>;

struct ExpectedEntry {
  std::uint32_t Code;
  std::uint32_t Offset;  // relative to the position of "movi"
  std::uint32_t Size;
  std::int64_t Position;  // absolute position of the chunk header
  bool operator==(const ExpectedEntry&) const = default;
};

std::uint32_t Code(std::string_view fourChars);

// How the chunk codes number the streams whose headers Build() writes:
// hexadecimal as Video for Windows reads them, decimal as ffmpeg writes them.
enum class StreamDigits { Hexadecimal, Decimal };

class AviBuilder {
 public:
  static constexpr std::uint32_t DefaultStreamHeaderRoom = 2048;  // 15 streams

  // Starts the RIFF form and writes a 'hdrl' list with room for the stream
  // lists of 124 bytes each (and a filler after them).
  AviBuilder() : AviBuilder(StreamDigits::Hexadecimal) {}
  explicit AviBuilder(StreamDigits digits, std::uint32_t streamHeaderRoom = DefaultStreamHeaderRoom);

  AviBuilder& StartMovi();
  // A chunk with a payload of size bytes and its pad byte.
  AviBuilder& Chunk(std::string_view code, std::uint32_t size, unsigned char fill = 0x5A);
  // A chunk header claiming size bytes with only the bytes written that follow.
  AviBuilder& Header(std::string_view code, std::uint32_t size);
  AviBuilder& Junk(std::uint32_t size) { return Chunk("JUNK", size, 0); }
  AviBuilder& Raw(const Bytes& bytes);
  AviBuilder& Fill(std::size_t count, unsigned char byte);
  AviBuilder& StartRecList();
  AviBuilder& EndRecList();
  // Patches the movi list size to the current end.
  AviBuilder& EndMovi();
  // An idx1 of every stream chunk remembered so far.
  AviBuilder& Idx1();

  // Patches the RIFF size and returns the bytes.
  Bytes Build() const;

  std::int64_t MoviOffset() const { return moviOffset_; }
  std::int64_t Size() const { return static_cast<std::int64_t>(bytes_.size()); }
  const std::vector<ExpectedEntry>& StreamChunks() const { return chunks_; }

 private:
  std::uint32_t streamHeaderRoom_;
  StreamDigits digits_;
  void WriteStreamHeaders(Bytes& out) const;
  void Put32(std::uint32_t v);
  void Patch32(std::size_t at, std::uint32_t v);

  Bytes bytes_;
  std::int64_t moviOffset_ = -1;
  std::vector<std::size_t> openRecLists_;
  std::vector<ExpectedEntry> chunks_;
};

// A parsed idx1 at the end of a rebuilt file.
struct ParsedIndex {
  bool Found = false;
  std::int64_t Position = -1;
  std::vector<ExpectedEntry> Entries;  // Position left -1
  std::vector<std::uint32_t> Flags;
};
// Finds the top-level idx1 by walking the RIFF form's top-level chunks.
ParsedIndex ReadIdx1(const Bytes& file);

}  // namespace ZantrelTest
