#include "avi/HeaderListWriter.h"

#include <algorithm>

namespace VEKAvi {

namespace {

class Writer {
 public:
  void Chunk(FourCC code, const unsigned char* data, std::size_t n) {
    Header(code, static_cast<std::uint32_t>(n));
    Bytes.insert(Bytes.end(), data, data + n);
    if (n & 1) Bytes.push_back(0);
  }
  void Zeros(FourCC code, std::uint32_t n) {
    Header(code, n);
    Bytes.resize(Bytes.size() + n + (n & 1), 0);
  }
  // Opens a list of the size given, or of the size Close gives it.
  std::size_t Open(FourCC code, FourCC type, std::uint32_t size = 0) {
    const std::size_t at = Bytes.size();
    unsigned char b[ListHeader::Size];
    ListHeader{{code, size}, type}.Store(b);
    Bytes.insert(Bytes.end(), b, b + sizeof b);
    return at;
  }
  void Close(std::size_t list) {
    ChunkHeader::StoreSize(&Bytes[list], static_cast<std::uint32_t>(ChunkHeader::SizeFor(list, Bytes.size())));
  }

  std::vector<unsigned char> Bytes;

 private:
  void Header(FourCC code, std::uint32_t n) {
    unsigned char b[ChunkHeader::Size];
    ChunkHeader{code, n}.Store(b);
    Bytes.insert(Bytes.end(), b, b + sizeof b);
  }
};

}  // namespace

namespace {

Writer Unfilled(const NewHeaderList& list, std::uint32_t riffSize, std::size_t& hdrl) {
  Writer w;
  w.Open(CodeRiff, CodeAvi, riffSize);
  hdrl = w.Open(CodeList, CodeHdrl);
  unsigned char record[MainHeader::Size];
  list.Main.Store(record);
  w.Chunk(CodeAvih, record, MainHeader::Size);
  for (const NewStream& s : list.Streams) {
    const std::size_t strl = w.Open(CodeList, CodeStrl);
    unsigned char strh[StreamHeaderRecord::Size];
    s.Header.Store(strh);
    w.Chunk(CodeStrh, strh, sizeof strh);
    w.Chunk(CodeStrf, s.Format.data(), s.Format.size());
    if (s.IndexReserve > 0) w.Zeros(CodeJunk, s.IndexReserve);
    w.Close(strl);
  }
  if (list.OpenDml) {
    const std::size_t odml = w.Open(CodeList, CodeOdml);
    std::vector<unsigned char> dmlh(248, 0);
    VEK::StoreLe32(dmlh.data(), list.DmlhFrames);
    w.Chunk(CodeDmlh, dmlh.data(), dmlh.size());
    w.Close(odml);
  }
  return w;
}

}  // namespace

std::int64_t HeaderListSize(const NewHeaderList& list) {
  std::size_t hdrl = 0;
  return static_cast<std::int64_t>(Unfilled(list, 0, hdrl).Bytes.size());
}

std::vector<unsigned char> HeaderListBytes(const NewHeaderList& list, std::int64_t moviPosition, std::uint32_t riffSize,
                                           std::uint32_t moviSize) {
  std::size_t hdrl = 0;
  Writer w = Unfilled(list, riffSize, hdrl);
  // The filler goes inside hdrl, so that the list reaches movi and nothing
  // lies between the two.
  const std::int64_t used = static_cast<std::int64_t>(w.Bytes.size());
  const std::int64_t gap = moviPosition - used;
  if (gap != 0 && gap < ChunkHeader::Size) return {};
  if (gap > 0) w.Zeros(CodeJunk, static_cast<std::uint32_t>(gap - ChunkHeader::Size));
  if (static_cast<std::int64_t>(w.Bytes.size()) != moviPosition) return {};  // an odd gap: no filler ends there
  w.Close(hdrl);
  w.Open(CodeList, CodeMovi, moviSize);
  return std::move(w.Bytes);
}

}  // namespace VEKAvi
