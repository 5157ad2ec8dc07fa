#include "recover/FatDirectory.h"

#include <cctype>

#include "util/Endian.h"

namespace VEKRecover {

namespace {

constexpr std::uint8_t AttrReadOnly = 0x01, AttrHidden = 0x02, AttrSystem = 0x04, AttrVolume = 0x08,
                       AttrDirectory = 0x10, AttrLongName = AttrReadOnly | AttrHidden | AttrSystem | AttrVolume;
constexpr std::uint8_t Erased = 0xE5;
// Windows NT's flags in byte 12: the base name, the extension in lower case.
constexpr std::uint8_t LowerBase = 0x08, LowerExtension = 0x10;
// Where the 13 characters of a long-name part lie in its slot.
constexpr int CharOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string Utf8Of(const std::u16string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c < 0xE000) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

namespace {

// The 8.3 name as shown: "NAME.EXT", spaces dropped, the lower-case flags
// applied. Bytes of the OEM code page beyond ASCII are shown as '_'.
std::string ShortText(const unsigned char* name, std::uint8_t caseFlags) {
  std::string base, extension;
  for (int i = 0; i < 11; ++i) {
    unsigned char c = name[i];
    if (c == ' ') continue;
    if (c >= 0x80 || c < 0x20) c = '_';
    const bool lower = (caseFlags & (i < 8 ? LowerBase : LowerExtension)) != 0;
    if (lower) c = static_cast<unsigned char>(std::tolower(c));
    (i < 8 ? base : extension) += static_cast<char>(c);
  }
  return extension.empty() ? base : base + "." + extension;
}

FatDate DateOf(std::uint16_t date, std::uint16_t time) {
  FatDate d;
  d.Year = 1980 + (date >> 9);
  d.Month = (date >> 5) & 0x0F;
  d.Day = date & 0x1F;
  d.Hour = time >> 11;
  d.Minute = (time >> 5) & 0x3F;
  d.Second = (time & 0x1F) * 2;
  return d;
}

}  // namespace

std::uint8_t ShortNameChecksum(const unsigned char* name) {
  std::uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
  return sum;
}

// The long name the parts gathered before the 8.3 slot spell, when they
// belong to it: every part carries the 8.3 name's checksum and, while live,
// its place in the name. A deleted 8.3 name's first byte is gone; the long
// name's first letter, upper-cased as an 8.3 name has it, is put back when
// the checksum then agrees, and shortText gets it too.
std::string DirectoryReader::LongNameFor(const unsigned char* shortName, bool deleted, std::string& shortText) {
  if (Parts.empty()) return {};
  std::u16string text;
  for (auto part = Parts.rbegin(); part != Parts.rend(); ++part)
    for (char16_t c : part->Chars) {
      if (c == 0 || c == 0xFFFF) break;
      text += c;
    }
  if (text.empty()) return {};
  unsigned char name[11];
  std::copy(shortName, shortName + 11, name);
  if (deleted) {
    if (text[0] >= 0x80 || text[0] == '.') return {};
    name[0] = static_cast<unsigned char>(std::toupper(static_cast<unsigned char>(text[0])));
  }
  const std::uint8_t sum = ShortNameChecksum(name);
  for (std::size_t i = 0; i < Parts.size(); ++i) {
    const NamePart& part = Parts[Parts.size() - 1 - i];  // i: its place from the name's start
    if (part.Checksum != sum) return {};
    if (!deleted && ((part.Order & 0x1F) != i + 1 || ((part.Order & 0x40) != 0) != (i + 1 == Parts.size())))
      return {};
  }
  if (deleted) shortText[0] = static_cast<char>(name[0]);
  return Utf8Of(text);
}

DirectoryReader::Slot DirectoryReader::Read(const unsigned char* p, std::int64_t offset, bool fat32,
                                            DirEntry& entry) {
  const std::uint8_t first = p[0];
  const std::uint8_t attributes = p[11];
  if (first == 0) {
    Parts.clear();
    return Slot::End;
  }
  const bool deleted = first == Erased;
  if ((attributes & 0x3F) == AttrLongName) {
    // A part of a long name. One out of step with the parts before it (a
    // live part after deleted ones, say) starts the gathering anew.
    NamePart part;
    part.Order = first;
    part.Checksum = p[13];
    for (int i = 0; i < 13; ++i) part.Chars[i] = static_cast<char16_t>(VEK::LoadLe16(p + CharOffsets[i]));
    const bool lastPart = !deleted && (first & 0x40) != 0;
    if (lastPart || Parts.empty() || (Parts.back().Order == Erased) != deleted ||
        Parts.back().Checksum != part.Checksum || Parts.size() >= 20)
      Parts.clear();
    Parts.push_back(part);
    return Slot::Skipped;
  }
  if ((attributes & AttrVolume) != 0 || (!deleted && first == '.')) {
    Parts.clear();
    return Slot::Skipped;
  }
  unsigned char name[11];
  std::copy(p, p + 11, name);
  if (first == 0x05) name[0] = Erased;  // a real first byte 0xE5, escaped
  entry = DirEntry{};
  entry.ShortName = ShortText(name, p[12]);
  if (deleted) entry.ShortName[0] = '?';
  entry.LongName = LongNameFor(p, deleted, entry.ShortName);
  Parts.clear();
  entry.Deleted = deleted;
  entry.Directory = (attributes & AttrDirectory) != 0;
  entry.FirstCluster = VEK::LoadLe16(p + 26) | (fat32 ? std::uint32_t{VEK::LoadLe16(p + 20)} << 16 : 0);
  entry.Size = VEK::LoadLe32(p + 28);
  entry.Written = DateOf(VEK::LoadLe16(p + 24), VEK::LoadLe16(p + 22));
  entry.SlotOffset = offset;
  return Slot::Entry;
}

}  // namespace VEKRecover
