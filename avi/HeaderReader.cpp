// Reading 'hdrl'. Every size is untrusted: each one is compared with what is
// left of its parent before anything in it is read, and a chunk whose code is
// not text ends the walk, as the numbering of the streams after it can no
// longer be trusted.
#include "avi/HeaderReader.h"

#include <algorithm>

#include "avi/OdmlIndex.h"

namespace VEKAvi {

namespace {

// AVI chunk ids number streams with two hexadecimal digits.
constexpr std::uint32_t MaxStreams = 256;

bool IsText(FourCC code) {
  for (int shift = 0; shift < 32; shift += 8) {
    const unsigned c = (code >> shift) & 0xFF;
    if (c < 0x20 || c > 0x7E) return false;
  }
  return true;
}

// The children of a list's data, [begin, end) of p. Stops at the end, at a
// child that overruns its parent (Overran) or at a code that is not text
// (Damaged).
class ChildWalk {
 public:
  ChildWalk(const unsigned char* p, std::size_t begin, std::size_t end) : p_(p), pos_(begin), end_(end) {}

  // The next child whose header and data lie inside the parent.
  bool Next(FourCC& code, std::size_t& dataPos, std::uint32_t& size) {
    // Some writers leave out the pad byte after an odd-sized chunk (a strn
    // name, most often): the next code then starts one byte earlier, where a
    // pad byte would be zero.
    if (oddBefore_ && pos_ - 1 < end_ && end_ - (pos_ - 1) >= ChunkHeader::Size && p_[pos_ - 1] != 0 &&
        IsText(VEK::LoadLe32(p_ + pos_ - 1)))
      --pos_;
    if (pos_ >= end_ || end_ - pos_ < ChunkHeader::Size) return false;
    // A zeroed stretch (a lost disk block, a header wiped by a tool) is
    // stepped over to what follows it; the caller learns where it was.
    if (VEK::LoadLe32(p_ + pos_) == 0) {
      while (pos_ + 2 <= end_ && p_[pos_] == 0 && p_[pos_ + 1] == 0) pos_ += 2;
      ++gaps_;
      if (pos_ >= end_ || end_ - pos_ < ChunkHeader::Size) return false;
    }
    const ChunkHeader h = ChunkHeader::Load(p_ + pos_);
    if (!IsText(h.Code)) {
      damaged_ = true;
      return false;
    }
    if (h.DataSize > end_ - pos_ - ChunkHeader::Size) {
      overran_ = true;
      return false;
    }
    code = h.Code;
    size = h.DataSize;
    dataPos = pos_ + ChunkHeader::Size;
    // The pad byte of an odd-sized last child may lie past the parent's end.
    pos_ = dataPos + size + (size & 1);
    oddBefore_ = (size & 1) != 0;
    return true;
  }

  bool Damaged() const { return damaged_ || overran_ || gaps_ > 0; }
  // How many zeroed stretches were stepped over.
  int Gaps() const { return gaps_; }

 private:
  const unsigned char* p_;
  std::size_t pos_;
  std::size_t end_;
  bool oddBefore_ = false;
  int gaps_ = 0;
  bool damaged_ = false;
  bool overran_ = false;
};

StreamHeader ReadStrl(const unsigned char* p, std::size_t begin, std::size_t end, std::int64_t at) {
  StreamHeader s;
  bool strhRead = false, strfRead = false;
  std::size_t strfPos = 0;
  std::uint32_t strfSize = 0;
  bool haveStrf = false;

  ChildWalk walk(p, begin, end);
  FourCC code = 0;
  std::size_t pos = 0;
  std::uint32_t size = 0;
  while (walk.Next(code, pos, size)) {
    const std::int64_t headerPos = at + static_cast<std::int64_t>(pos) - ChunkHeader::Size;
    if (code == CodeStrh && !strhRead) {
      if (size < StreamHeaderRecord::Needed) continue;
      const StreamHeaderRecord h = StreamHeaderRecord::Load(p + pos, size);
      s.Type = h.Type;
      s.Handler = h.Handler;
      s.Scale = h.Scale;
      s.Rate = h.Rate;
      s.Length = h.Length;
      s.SampleSize = h.SampleSize;
      s.LengthFieldPos = at + static_cast<std::int64_t>(pos) + StreamHeaderRecord::LengthAt;
      s.Strh.assign(p + pos, p + pos + size);
      strhRead = true;
    } else if (code == CodeStrf && !haveStrf) {
      haveStrf = true;
      strfPos = pos;
      strfSize = size;
    } else if (code == CodeIndx && s.IndxPos < 0) {
      s.IndxPos = headerPos;
      s.IndxSize = size;
    } else if (code == CodeJunk && s.JunkPos < 0) {
      s.JunkPos = headerPos;
      s.JunkSize = size;
    }
  }

  // strf is read by the type strh gives it, wherever the two stand.
  if (strhRead && haveStrf) {
    const unsigned char* f = p + strfPos;
    s.Strf.assign(f, f + strfSize);
    if (s.Type == CodeVids) {
      if (strfSize >= BitmapInfoHeader::Size) {
        const BitmapInfoHeader b = BitmapInfoHeader::Load(f);
        s.Width = b.Width;
        s.Height = b.Height;
        s.BitCount = b.BitCount;
        s.Compression = b.Compression;
        strfRead = true;
      }
    } else if (s.Type == CodeAuds) {
      if (strfSize >= WaveFormatEx::Needed) {
        const WaveFormatEx w = WaveFormatEx::Load(f, strfSize);
        s.FormatTag = w.FormatTag;
        s.BlockAlign = w.BlockAlign;
        strfRead = true;
      }
    } else {
      strfRead = true;  // text, MIDI and the like: nothing in it we use
    }
  }
  s.Readable = strhRead && strfRead;
  return s;
}

void ReadOdml(const unsigned char* p, std::size_t begin, std::size_t end, std::int64_t at, AviHeaders& out) {
  ChildWalk walk(p, begin, end);
  FourCC code = 0;
  std::size_t pos = 0;
  std::uint32_t size = 0;
  while (walk.Next(code, pos, size)) {
    if (code == CodeDmlh && size >= 4 && out.DmlhPos < 0) {
      out.DmlhPos = at + static_cast<std::int64_t>(pos);
      out.DmlhTotalFrames = VEK::LoadLe32(p + pos);
    }
  }
}

}  // namespace

AviHeaders ReadHeaders(const unsigned char* hdrl, std::size_t n, std::int64_t at) {
  AviHeaders out;
  if (hdrl == nullptr || n < ListHeader::Size) return out;
  const ListHeader list = ListHeader::Load(hdrl);
  if (list.Chunk.Code != CodeList || list.ListType != CodeHdrl || list.Chunk.DataSize < 4) return out;
  // A list that claims more than we were given is read as far as it goes.
  const std::size_t end = list.Chunk.DataSize > n - ChunkHeader::Size ? n : ChunkHeader::Size + list.Chunk.DataSize;

  ChildWalk walk(hdrl, ListHeader::Size, end);
  FourCC code = 0;
  std::size_t pos = 0;
  std::uint32_t size = 0;
  // The streams read before the first zeroed stretch, when there is one.
  std::size_t streamsBeforeGap = 0;
  bool gapSeen = false;
  while (walk.Next(code, pos, size)) {
    if (walk.Gaps() > 0 && !gapSeen) {
      gapSeen = true;
      streamsBeforeGap = out.Streams.size();
    }
    if (code == CodeAvih) {
      if (size >= MainHeader::Needed && out.TotalFramesPos < 0) {
        const MainHeader h = MainHeader::Load(hdrl + pos, size);
        out.FlagsPos = at + static_cast<std::int64_t>(pos) + MainHeader::FlagsAt;
        out.Flags = h.Flags;
        out.TotalFramesPos = at + static_cast<std::int64_t>(pos) + MainHeader::TotalFramesAt;
        out.TotalFrames = h.TotalFrames;
        out.StreamCount = h.Streams;
        out.MicroSecPerFrame = h.MicroSecPerFrame;
        out.Main = h;
      }
    } else if (code == CodeList && size >= 4) {
      const FourCC type = VEK::LoadLe32(hdrl + pos);
      if (type == CodeStrl) {
        if (out.Streams.size() < MaxStreams) out.Streams.push_back(ReadStrl(hdrl, pos + 4, pos + size, at));
      } else if (type == CodeOdml) {
        ReadOdml(hdrl, pos + 4, pos + size, at, out);
      }
    } else if (code == CodeJunk && out.JunkPos < 0) {
      out.JunkPos = at + static_cast<std::int64_t>(pos) - ChunkHeader::Size;
      out.JunkSize = size;
    } else if (code == CodeDmlh && size >= 4 && out.DmlhPos < 0) {
      // A bare dmlh straight in hdrl, without its LIST odml.
      out.DmlhPos = at + static_cast<std::int64_t>(pos);
      out.DmlhTotalFrames = VEK::LoadLe32(hdrl + pos);
    }
  }
  const bool damaged = walk.Damaged() || end < ChunkHeader::Size + static_cast<std::uint64_t>(list.Chunk.DataSize);

  // A zeroed stretch took whole stream lists with it: those read after it
  // are the last ones the main header counts, the lost ones before them keep
  // their numbers, unreadable. Without that count their numbers are unknown,
  // and they are not used.
  if (gapSeen && out.Streams.size() > streamsBeforeGap) {
    const std::size_t count = std::min<std::uint32_t>(out.StreamCount, MaxStreams);
    if (count >= out.Streams.size())
      out.Streams.insert(out.Streams.begin() + static_cast<std::ptrdiff_t>(streamsBeforeGap),
                         count - out.Streams.size(), StreamHeader{});
    else
      out.Streams.resize(streamsBeforeGap);
  }
  // Streams past the damage still own their numbers: keep their slots,
  // unreadable, as far as the main header counts them.
  if (damaged) {
    const std::size_t count = std::min<std::uint32_t>(out.StreamCount, MaxStreams);
    while (out.Streams.size() < count) out.Streams.emplace_back();
  }
  return out;
}

StreamHeader ReadStreamList(const unsigned char* strl, std::size_t n, std::int64_t at) {
  if (strl == nullptr || n < ListHeader::Size) return {};
  const ListHeader list = ListHeader::Load(strl);
  if (list.Chunk.Code != CodeList || list.ListType != CodeStrl) return {};
  const std::uint64_t whole = ChunkHeader::Size + std::uint64_t{list.Chunk.DataSize};
  if (whole > n) return {};
  return ReadStrl(strl, ListHeader::Size, static_cast<std::size_t>(whole), at);
}

}  // namespace VEKAvi
