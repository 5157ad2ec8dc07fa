// The program's version information and the reader of its "FileVersion" text.
//
// The desktop program carries a version record in an ELF section of its own,
// ".zantrel.version", laid out like a Windows VERSIONINFO block with 8-bit
// keys and strings: every node is
//
//   le16 node length (header, key, value and children)
//   le16 value length in bytes
//   key, zero-terminated, padded to a multiple of 4 bytes
//   value, padded to a multiple of 4 bytes
//   child nodes
//
// The root "VS_VERSION_INFO" holds the fixed version numbers; its children are
// "StringFileInfo" (one table per language and code page, named "%04X%04X")
// and "VarFileInfo" with the "Translation" list. The record is built at
// compile time from the same builder the tests use, so the reader and the
// writer cannot drift apart. FileVersionText reads the record back from the
// program file, not from a compiled-in constant, so the About window shows
// what the file on disk says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace VEK {

inline constexpr const char* VersionSectionName = ".zantrel.version";

// Four 16-bit parts, most significant first (0.2.3.6 is {0, 2, 3, 6}).
struct VersionNumber {
  std::uint16_t Part[4];
};

struct VersionString {
  const char* Name;
  const char* Value;
};

struct VersionFields {
  VersionNumber FileVersion;
  VersionNumber ProductVersion;
  // Each entry: language in the low 16 bits, code page in the high 16 bits.
  std::span<const std::uint32_t> Translations;
  // The string tables: each has its name ("100904E4") and its strings.
  struct Table {
    const char* Name;
    std::span<const VersionString> Strings;
  };
  std::span<const Table> Tables;
};

// "0.2.3.6" -> {0, 2, 3, 6}; missing parts are 0, a part stops at the first
// character that is not a digit. Usable at compile time on the build's
// version macro.
constexpr VersionNumber ParseVersionNumber(std::string_view text) {
  VersionNumber result{{0, 0, 0, 0}};
  std::size_t pos = 0;
  for (int part = 0; part < 4 && pos <= text.size(); ++part) {
    unsigned value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
      value = value * 10 + static_cast<unsigned>(text[pos] - '0');
      ++pos;
    }
    result.Part[part] = static_cast<std::uint16_t>(value);
    if (pos >= text.size() || text[pos] != '.') break;
    ++pos;
  }
  return result;
}

namespace VersionRecordDetail {

constexpr std::uint32_t FixedInfoSignature = 0xFEEF04BD;
constexpr std::uint32_t FixedInfoStructVersion = 0x00010000;
constexpr std::size_t FixedInfoSize = 13 * 4;

constexpr std::size_t Length(const char* s) {
  std::size_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

// Writes into out when it is not null, otherwise only counts, so that the
// compile-time record can first be measured and then filled.
class Writer {
 public:
  constexpr explicit Writer(unsigned char* out) : out_(out) {}
  constexpr std::size_t Position() const { return pos_; }

  constexpr void Byte(unsigned char b) {
    if (out_ != nullptr) out_[pos_] = b;
    ++pos_;
  }
  constexpr void Le16(std::uint32_t v) {
    Byte(static_cast<unsigned char>(v));
    Byte(static_cast<unsigned char>(v >> 8));
  }
  constexpr void Le32(std::uint32_t v) {
    Le16(v & 0xFFFF);
    Le16(v >> 16);
  }
  constexpr void Align4() {
    while (pos_ % 4 != 0) Byte(0);
  }
  constexpr void Patch16(std::size_t at, std::size_t v) {
    if (out_ != nullptr) {
      out_[at] = static_cast<unsigned char>(v);
      out_[at + 1] = static_cast<unsigned char>(v >> 8);
    }
  }
  // Header and key of a node; returns where its length goes.
  constexpr std::size_t Begin(const char* key, std::size_t valueLength) {
    std::size_t start = pos_;
    Le16(0);
    Le16(valueLength);
    for (std::size_t i = 0, n = Length(key); i < n; ++i) Byte(static_cast<unsigned char>(key[i]));
    Byte(0);
    Align4();
    return start;
  }
  constexpr void End(std::size_t start) { Patch16(start, pos_ - start); }

 private:
  unsigned char* out_;
  std::size_t pos_ = 0;
};

constexpr std::uint32_t High(const VersionNumber& v) { return (std::uint32_t{v.Part[0]} << 16) | v.Part[1]; }
constexpr std::uint32_t Low(const VersionNumber& v) { return (std::uint32_t{v.Part[2]} << 16) | v.Part[3]; }

constexpr void Write(const VersionFields& f, Writer& w) {
  std::size_t root = w.Begin("VS_VERSION_INFO", FixedInfoSize);
  w.Le32(FixedInfoSignature);
  w.Le32(FixedInfoStructVersion);
  w.Le32(High(f.FileVersion));
  w.Le32(Low(f.FileVersion));
  w.Le32(High(f.ProductVersion));
  w.Le32(Low(f.ProductVersion));
  for (int i = 0; i < 7; ++i) w.Le32(0);  // flags mask, flags, OS, type, subtype, date
  w.Align4();

  std::size_t strings = w.Begin("StringFileInfo", 0);
  for (const auto& table : f.Tables) {
    std::size_t t = w.Begin(table.Name, 0);
    for (const auto& s : table.Strings) {
      // The value length counts the terminating zero, as resource compilers do.
      std::size_t n = Length(s.Value) + 1;
      std::size_t node = w.Begin(s.Name, n);
      for (std::size_t i = 0; i < n; ++i) w.Byte(static_cast<unsigned char>(s.Value[i]));
      w.Align4();
      w.End(node);
    }
    w.End(t);
  }
  w.End(strings);

  std::size_t vars = w.Begin("VarFileInfo", 0);
  std::size_t tr = w.Begin("Translation", f.Translations.size() * 4);
  for (std::uint32_t entry : f.Translations) w.Le32(entry);
  w.End(tr);
  w.End(vars);
  w.End(root);
}

}  // namespace VersionRecordDetail

constexpr std::size_t VersionRecordSize(const VersionFields& fields) {
  VersionRecordDetail::Writer w(nullptr);
  VersionRecordDetail::Write(fields, w);
  return w.Position();
}

// out must hold VersionRecordSize(fields) bytes. Node lengths are 16-bit, so
// a record stays below 64 KiB; the program's own is a few hundred bytes.
constexpr void WriteVersionRecord(const VersionFields& fields, unsigned char* out) {
  VersionRecordDetail::Writer w(out);
  VersionRecordDetail::Write(fields, w);
}

std::vector<unsigned char> BuildVersionRecord(const VersionFields& fields);

// The value at path in a record, like the system's version query: "\" is the
// root's fixed information; "\VarFileInfo\Translation" and
// // "\StringFileInfo\100904E4\FileVersion" are the others used. Keys compare
// without regard to letter case. Empty when any node on the way is missing or
// does not fit inside its parent.
std::optional<std::span<const unsigned char>> QueryVersionValue(std::span<const unsigned char> record,
                                                                std::string_view path);

// The bytes of the ".zantrel.version" section of the ELF file at path; empty
// when the file cannot be read, is not an ELF file, its headers do not fit in
// the file, or it has no such section.
std::vector<unsigned char> ReadVersionSection(const std::string& path);

// The "FileVersion" text of the first translation of the version record of
// the file at path, or the empty text when there is none or any step fails.
// On Windows the record is the program's VERSIONINFO resource, read through
// the system's version API.
std::string FileVersionText(const std::string& path);

}  // namespace VEK
