// Reading the version record back from a program file: the ELF section
// lookup and the VERSIONINFO-style tree walk. Every size in the file is
// untrusted, so each one is checked against what is left before it is used;
// a damaged or foreign file gives the empty text, never a crash.
#include "lang/AppVersion.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>

#include "util/Win32.h"
#else
#include <unistd.h>
#endif

namespace VEK {

std::vector<unsigned char> BuildVersionRecord(const VersionFields& fields) {
  std::vector<unsigned char> out(VersionRecordSize(fields));
  WriteVersionRecord(fields, out.data());
  return out;
}

namespace {

// ---- the record -----------------------------------------------------------

struct Node {
  std::string_view Key;
  std::size_t ValueStart = 0;
  std::size_t ValueLength = 0;
  std::size_t ChildrenStart = 0;
  std::size_t End = 0;
};

std::size_t Align4(std::size_t v) { return (v + 3) & ~std::size_t{3}; }

// The node at offset `at`, which must lie wholly before `limit` (the end of
// its parent). Offsets are from the record's start, which is also where the
// 4-byte alignment is counted from.
std::optional<Node> ParseNode(std::span<const unsigned char> rec, std::size_t at, std::size_t limit) {
  if (at > limit || limit - at < 4) return std::nullopt;
  std::size_t length = rec[at] | (rec[at + 1] << 8);
  std::size_t valueLength = rec[at + 2] | (rec[at + 3] << 8);
  if (length < 4 || length > limit - at) return std::nullopt;
  Node node;
  node.End = at + length;
  const unsigned char* keyStart = rec.data() + at + 4;
  const void* zero = std::memchr(keyStart, 0, node.End - (at + 4));
  if (zero == nullptr) return std::nullopt;
  std::size_t keyLength = static_cast<const unsigned char*>(zero) - keyStart;
  node.Key = std::string_view(reinterpret_cast<const char*>(keyStart), keyLength);
  node.ValueStart = Align4(at + 4 + keyLength + 1);
  if (node.ValueStart > node.End || valueLength > node.End - node.ValueStart) return std::nullopt;
  node.ValueLength = valueLength;
  node.ChildrenStart = std::min(Align4(node.ValueStart + valueLength), node.End);
  return node;
}

bool SameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

std::optional<Node> FindChild(std::span<const unsigned char> rec, const Node& parent, std::string_view key) {
  std::size_t at = parent.ChildrenStart;
  while (at < parent.End && parent.End - at >= 4) {
    auto child = ParseNode(rec, at, parent.End);
    // A child that does not fit means the rest of the parent cannot be
    // trusted either; stop rather than guess where the next one starts.
    if (!child) return std::nullopt;
    if (SameKey(child->Key, key)) return child;
    at = Align4(child->End);
  }
  return std::nullopt;
}

// ---- the ELF file ---------------------------------------------------------

class ElfFile {
 public:
  explicit ElfFile(const std::string& path) {
#ifdef _WIN32
    fd_ = ::_wopen(Win32::FileName(path).c_str(), _O_RDONLY | _O_BINARY);
    struct _stat64 st {};
    if (fd_ >= 0 && ::_fstat64(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<std::uint64_t>(st.st_size);
#else
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<std::uint64_t>(st.st_size);
#endif
  }
  ~ElfFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  ElfFile(const ElfFile&) = delete;
  ElfFile& operator=(const ElfFile&) = delete;

  // Exactly n bytes at offset, or false when they are not all in the file.
  bool Read(std::uint64_t offset, void* out, std::size_t n) const {
    if (fd_ < 0 || offset > size_ || n > size_ - offset) return false;
    auto* p = static_cast<unsigned char*>(out);
    while (n > 0) {
#ifdef _WIN32
      // One object reads on one thread: a seek and a read make the positioned read.
      const ssize_t got = ::_lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) < 0
                              ? -1
                              : ::_read(fd_, p, static_cast<unsigned>(std::min<std::size_t>(n, 1 << 30)));
#else
      ssize_t got = ::pread(fd_, p, n, static_cast<off_t>(offset));
#endif
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      p += got;
      n -= static_cast<std::size_t>(got);
      offset += static_cast<std::uint64_t>(got);
    }
    return true;
  }
  std::uint64_t Size() const { return size_; }

 private:
  int fd_ = -1;
  std::uint64_t size_ = 0;
};

struct Fields {
  bool Wide = false;  // ELFCLASS64
  bool Big = false;   // ELFDATA2MSB

  std::uint64_t Load(const unsigned char* p, int n) const {
    std::uint64_t v = 0;
    for (int i = 0; i < n; ++i) v |= std::uint64_t{p[Big ? n - 1 - i : i]} << (8 * i);
    return v;
  }
};

struct Section {
  std::uint32_t Name = 0;
  std::uint32_t Type = 0;
  std::uint64_t Offset = 0;
  std::uint64_t Size = 0;
  std::uint32_t Link = 0;
};

constexpr std::uint32_t ShtNobits = 8;
constexpr std::uint32_t ShnXindex = 0xFFFF;
// Node lengths are 16-bit, so no sound record is larger; the cap keeps a
// garbage size from turning into a huge allocation.
constexpr std::uint64_t MaxRecordSize = 0x10000;

bool ReadSection(const ElfFile& file, const Fields& f, std::uint64_t tableOffset, std::uint64_t entrySize,
                 std::uint64_t index, Section& out) {
  unsigned char h[64];
  std::size_t need = f.Wide ? 64 : 40;
  if (index > (file.Size() / entrySize)) return false;  // keeps index * entrySize from overflowing
  std::uint64_t at = index * entrySize;
  if (tableOffset > file.Size() || at > file.Size() - tableOffset) return false;
  if (!file.Read(tableOffset + at, h, need)) return false;
  out.Name = static_cast<std::uint32_t>(f.Load(h, 4));
  out.Type = static_cast<std::uint32_t>(f.Load(h + 4, 4));
  if (f.Wide) {
    out.Offset = f.Load(h + 24, 8);
    out.Size = f.Load(h + 32, 8);
    out.Link = static_cast<std::uint32_t>(f.Load(h + 40, 4));
  } else {
    out.Offset = f.Load(h + 16, 4);
    out.Size = f.Load(h + 20, 4);
    out.Link = static_cast<std::uint32_t>(f.Load(h + 24, 4));
  }
  return true;
}

}  // namespace

std::optional<std::span<const unsigned char>> QueryVersionValue(std::span<const unsigned char> record,
                                                                std::string_view path) {
  auto node = ParseNode(record, 0, record.size());
  if (!node || !SameKey(node->Key, "VS_VERSION_INFO")) return std::nullopt;
  std::size_t pos = 0;
  while (pos < path.size()) {
    if (path[pos] == '\\') {
      ++pos;
      continue;
    }
    std::size_t next = path.find('\\', pos);
    if (next == std::string_view::npos) next = path.size();
    node = FindChild(record, *node, path.substr(pos, next - pos));
    if (!node) return std::nullopt;
    pos = next;
  }
  return record.subspan(node->ValueStart, node->ValueLength);
}

std::vector<unsigned char> ReadVersionSection(const std::string& path) {
  ElfFile file(path);
  unsigned char ident[64] = {};
  if (!file.Read(0, ident, 16)) return {};
  if (std::memcmp(ident, "\x7f" "ELF", 4) != 0) return {};
  Fields f;
  if (ident[4] == 1) f.Wide = false;
  else if (ident[4] == 2) f.Wide = true;
  else return {};
  if (ident[5] == 1) f.Big = false;
  else if (ident[5] == 2) f.Big = true;
  else return {};

  std::size_t headerSize = f.Wide ? 64 : 52;
  if (!file.Read(0, ident, headerSize)) return {};
  std::uint64_t shoff = f.Wide ? f.Load(ident + 0x28, 8) : f.Load(ident + 0x20, 4);
  const unsigned char* tail = ident + (f.Wide ? 0x3A : 0x2E);
  std::uint64_t shentsize = f.Load(tail, 2);
  std::uint64_t shnum = f.Load(tail + 2, 2);
  std::uint64_t shstrndx = f.Load(tail + 4, 2);
  if (shoff == 0 || shentsize < (f.Wide ? 64u : 40u)) return {};

  // Files with very many sections keep the true count and string-table index
  // in section 0.
  if (shnum == 0 || shstrndx == ShnXindex) {
    Section zero;
    if (!ReadSection(file, f, shoff, shentsize, 0, zero)) return {};
    if (shnum == 0) shnum = zero.Size;
    if (shstrndx == ShnXindex) shstrndx = zero.Link;
  }
  if (shstrndx >= shnum) return {};
  // The whole table must lie in the file; a count that runs past the end
  // means the header is damaged, even if the section wanted comes early.
  if (shoff > file.Size() || shnum > (file.Size() - shoff) / shentsize) return {};

  Section names;
  if (!ReadSection(file, f, shoff, shentsize, shstrndx, names)) return {};
  if (names.Type == ShtNobits || names.Offset > file.Size() || names.Size > file.Size() - names.Offset) return {};

  const std::string_view wanted = VersionSectionName;
  char name[32];
  for (std::uint64_t i = 1; i < shnum; ++i) {
    Section s;
    if (!ReadSection(file, f, shoff, shentsize, i, s)) return {};
    // The name must fit, with its terminating zero, inside the string table.
    if (s.Name >= names.Size || names.Size - s.Name < wanted.size() + 1) continue;
    if (!file.Read(names.Offset + s.Name, name, wanted.size() + 1)) return {};
    if (std::string_view(name, wanted.size()) != wanted || name[wanted.size()] != '\0') continue;
    if (s.Type == ShtNobits || s.Size == 0 || s.Size > MaxRecordSize) return {};
    std::vector<unsigned char> bytes(static_cast<std::size_t>(s.Size));
    if (!file.Read(s.Offset, bytes.data(), bytes.size())) return {};
    return bytes;
  }
  return {};
}

std::string FileVersionText(const std::string& path) {
  std::vector<unsigned char> record = ReadVersionSection(path);
  if (record.empty()) return {};
  auto translation = QueryVersionValue(record, "\\VarFileInfo\\Translation");
  // A translation list too short for one entry has no first entry to follow.
  if (!translation || translation->size() < 4) return {};
  const unsigned char* t = translation->data();
  unsigned language = t[0] | (t[1] << 8);
  unsigned codePage = t[2] | (t[3] << 8);
  char query[64];
  std::snprintf(query, sizeof query, "\\StringFileInfo\\%04X%04X\\FileVersion", language, codePage);
  auto value = QueryVersionValue(record, query);
  if (!value) return {};
  const char* text = reinterpret_cast<const char*>(value->data());
  const void* zero = std::memchr(text, 0, value->size());
  std::size_t n = zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - text) : value->size();
  return std::string(text, n);
}

}  // namespace VEK
