#include "support/AviLayout.h"

#include "util/Endian.h"

namespace ZantrelTest {

namespace {

struct Child {
  std::uint32_t Code, Size;
  std::int64_t Position;
};

// The chunks of a list's data from begin to end, each of whose sizes is
// checked against what is left of the list.
std::vector<Child> Children(const Bytes& file, std::int64_t begin, std::int64_t end) {
  std::vector<Child> children;
  if (end > static_cast<std::int64_t>(file.size())) end = static_cast<std::int64_t>(file.size());
  for (std::int64_t pos = begin; end - pos >= 8;) {
    const std::uint32_t code = VEK::LoadLe32(&file[pos]);
    const std::uint32_t size = VEK::LoadLe32(&file[pos + 4]);
    if (static_cast<std::uint64_t>(end - pos - 8) < size) break;
    children.push_back({code, size, pos});
    pos += 8 + static_cast<std::int64_t>(size) + (size & 1);
  }
  return children;
}

bool IsList(const Bytes& file, const Child& c, const char* type) {
  return c.Code == Code("LIST") && c.Size >= 4 && VEK::LoadLe32(&file[c.Position + 8]) == Code(type);
}

Span WholeOf(const Child& c) { return {c.Position, c.Position + 8 + c.Size}; }

}  // namespace

int LaidChunk::Stream() const {
  const auto digit = [](std::uint32_t c) { return c >= '0' && c <= '9' ? static_cast<int>(c - '0') : -1; };
  const int tens = digit(Code & 0xFF), ones = digit((Code >> 8) & 0xFF);
  return tens < 0 || ones < 0 ? -1 : tens * 10 + ones;
}

int AviLayout::StreamOfType(std::uint32_t type) const {
  for (std::size_t i = 0; i < Streams.size(); ++i)
    if (Streams[i].Type == type) return static_cast<int>(i);
  return -1;
}

AviLayout ReadLayout(const Bytes& file) {
  AviLayout layout;
  if (file.size() < 12) return layout;
  for (const Child& top : Children(file, 12, static_cast<std::int64_t>(file.size()))) {
    if (IsList(file, top, "movi")) layout.Movi = WholeOf(top);
    if (!IsList(file, top, "hdrl")) continue;
    layout.Hdrl = WholeOf(top);
    for (const Child& h : Children(file, top.Position + 12, top.Position + 8 + top.Size)) {
      if (h.Code == Code("avih")) layout.AvihData = {h.Position + 8, h.Position + 8 + h.Size};
      if (!IsList(file, h, "strl")) continue;
      StreamLayout s;
      s.List = WholeOf(h);
      for (const Child& c : Children(file, h.Position + 12, h.Position + 8 + h.Size)) {
        if (c.Code == Code("strh") && c.Size >= 8) {
          s.Strh = WholeOf(c);
          s.Type = VEK::LoadLe32(&file[c.Position + 8]);
          s.Handler = VEK::LoadLe32(&file[c.Position + 12]);
        }
        if (c.Code == Code("strf")) s.StrfData = {c.Position + 8, c.Position + 8 + c.Size};
      }
      layout.Streams.push_back(s);
    }
  }
  // idx1 offsets count from the movi list's type code, as ffmpeg and the
  // other muxers write them.
  const ParsedIndex index = ReadIdx1(file);
  if (layout.Movi.Found())
    for (std::size_t i = 0; i < index.Entries.size(); ++i) {
      const ExpectedEntry& e = index.Entries[i];
      layout.Chunks.push_back({e.Code, index.Flags[i], e.Size, layout.Movi.Begin + 8 + e.Offset});
    }
  return layout;
}

}  // namespace ZantrelTest
