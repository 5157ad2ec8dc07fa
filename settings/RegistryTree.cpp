#include "settings/RegistryTree.h"

#include <algorithm>
#include <cstdio>

#include "lang/Language.h"
#include "util/Utf16.h"

namespace VEKRegistry {

namespace {

const VEK::MessagePair MsgParse = {
    {"Registry file \"%s\", line %d: %s.", "Fichier de registre \"%s\", ligne %d : %s."}};
const VEK::MessagePair MsgNoHeader = {
    {"the first line must be REGEDIT4 or Windows Registry Editor Version 5.00",
     "la première ligne doit être REGEDIT4 ou Windows Registry Editor Version 5.00"}};
const VEK::MessagePair MsgBadUtf16 = {{"the UTF-16 text cannot be read", "le texte UTF-16 est illisible"}};
const VEK::MessagePair MsgBadSection = {
    {"the key name is not closed by ']'", "le nom de clé n'est pas fermé par ']'"}};
const VEK::MessagePair MsgEmptySection = {{"the key name is empty", "le nom de clé est vide"}};
const VEK::MessagePair MsgNoKey = {
    {"a value appears before any key", "une valeur apparaît avant toute clé"}};
const VEK::MessagePair MsgBadLine = {{"the line cannot be read", "la ligne est illisible"}};
const VEK::MessagePair MsgBadName = {
    {"the value name is not closed by '\"'", "le nom de valeur n'est pas fermé par '\"'"}};
const VEK::MessagePair MsgNoEquals = {
    {"'=' is missing after the value name", "'=' manque après le nom de valeur"}};
const VEK::MessagePair MsgBadString = {
    {"the string is not closed by '\"'", "la chaîne n'est pas fermée par '\"'"}};
const VEK::MessagePair MsgBadDword = {
    {"a dword needs 1 to 8 hexadecimal digits", "un dword demande de 1 à 8 chiffres hexadécimaux"}};
const VEK::MessagePair MsgBadHex = {
    {"the hexadecimal bytes cannot be read", "les octets hexadécimaux sont illisibles"}};
const VEK::MessagePair MsgBadData = {
    {"the value's data cannot be read", "les données de la valeur sont illisibles"}};
const VEK::MessagePair MsgBadUtf16Data = {
    {"the value's UTF-16 text cannot be read", "le texte UTF-16 de la valeur est illisible"}};

const char Header[] = "REGEDIT4";
// What the registry editor of Windows 2000 and later writes, in UTF-16 LE
// with a byte-order mark. Its quoted strings are Unicode, and so are the
// bytes of its hex(1), hex(2) and hex(7) values (UTF-16 LE), where REGEDIT4
// has 8-bit text.
const char UnicodeHeader[] = "Windows Registry Editor Version 5.00";
// Where regedit wraps long hex lists; continuation lines start with two spaces.
constexpr std::size_t WrapColumn = 76;

class ParseError {
 public:
  ParseError(const VEK::MessagePair& reason) : reason_(&reason) {}
  const VEK::MessagePair* reason_;
};

// ASCII only: the C library's tolower follows the locale, and the indexes
// must fold a name the same way whatever locale the program runs in.
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && SameName(s.substr(0, prefix.size()), prefix);
}

// Is `path` strictly below `ancestor`?
bool IsBelow(std::string_view path, std::string_view ancestor) {
  return path.size() > ancestor.size() + 1 && path[ancestor.size()] == '\\' &&
         SameName(path.substr(0, ancestor.size()), ancestor);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads a quoted text starting after its opening quote; only \\ and \" are
// escapes, any other backslash is kept as written.
std::string ReadQuoted(std::string_view s, std::size_t& pos, const VEK::MessagePair& unterminated) {
  std::string out;
  while (pos < s.size()) {
    const char c = s[pos++];
    if (c == '"') return out;
    if (c == '\\' && pos < s.size() && (s[pos] == '\\' || s[pos] == '"')) {
      out += s[pos++];
      continue;
    }
    out += c;
  }
  throw ParseError(unterminated);
}

std::vector<unsigned char> ReadHexBytes(std::string_view s) {
  std::vector<unsigned char> bytes;
  s = Trim(s);
  if (s.empty()) return bytes;
  std::size_t pos = 0;
  while (true) {
    const std::size_t comma = s.find(',', pos);
    const std::string_view item = Trim(s.substr(pos, comma == std::string_view::npos ? s.npos : comma - pos));
    if (item.empty() && comma == std::string_view::npos && !bytes.empty()) break;  // trailing comma
    if (item.empty() || item.size() > 2) throw ParseError(MsgBadHex);
    int byte = 0;
    for (char c : item) {
      const int d = HexDigit(c);
      if (d < 0) throw ParseError(MsgBadHex);
      byte = byte * 16 + d;
    }
    bytes.push_back(static_cast<unsigned char>(byte));
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return bytes;
}

std::string Quote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + '"';
}

void AppendHexLines(std::vector<std::string>& lines, std::string line, const std::string& bytes, bool zero) {
  static const char digits[] = "0123456789abcdef";
  std::vector<unsigned char> all(bytes.begin(), bytes.end());
  if (zero) all.push_back(0);
  for (std::size_t i = 0; i < all.size(); ++i) {
    line += digits[all[i] >> 4];
    line += digits[all[i] & 15];
    if (i + 1 < all.size()) {
      line += ',';
      if (line.size() >= WrapColumn) {
        lines.push_back(line + '\\');
        line = "  ";
      }
    }
  }
  lines.push_back(line);
}

// The 8-bit text of a string value's bytes, up to the terminating zero.
std::string BytesToText(const std::vector<unsigned char>& bytes) {
  std::string text(bytes.begin(), bytes.end());
  const auto zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

// The name as a value line starts with it.
std::string NameField(const std::string& name) { return name.empty() ? std::string("@") : Quote(name); }

bool IsTextType(int type) { return type == 1 || type == 2 || type == 7; }  // REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ

// The UTF-16 LE bytes of a Version 5.00 text value in UTF-8, as REGEDIT4
// holds them in this program's files. Its lines are made anew: written back
// as read, under the REGEDIT4 header the file is written with, the bytes
// would mean another text.
std::vector<unsigned char> ToOwnText(const std::vector<unsigned char>& bytes, int type, Value& value) {
  const std::string_view wide(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string text;
  if (VEK::AppendUtf16AsUtf8(wide, VEK::ByteOrder::LittleEndian, text) != wide.size())
    throw ParseError(MsgBadUtf16Data);
  char kind[16];
  std::snprintf(kind, sizeof kind, "=hex(%x):", static_cast<unsigned>(type));
  AppendHexLines(value.Lines, NameField(value.Name) + kind, text, false);
  return {text.begin(), text.end()};
}

// unicode: the file is a Version 5.00 export.
void ParseData(std::string_view data, Value& value, bool unicode) {
  if (!data.empty() && data.front() == '"') {
    std::size_t pos = 1;
    value.Text = ReadQuoted(data, pos, MsgBadString);
    if (!Trim(data.substr(pos)).empty()) throw ParseError(MsgBadString);
    value.Kind = ValueKind::String;
    return;
  }
  if (StartsWithNoCase(data, "dword:")) {
    const std::string_view digits = Trim(data.substr(6));
    if (digits.empty() || digits.size() > 8) throw ParseError(MsgBadDword);
    std::uint32_t number = 0;
    for (char c : digits) {
      const int d = HexDigit(c);
      if (d < 0) throw ParseError(MsgBadDword);
      number = number * 16 + static_cast<std::uint32_t>(d);
    }
    value.Kind = ValueKind::Integer;
    value.Number = number;
    return;
  }
  if (StartsWithNoCase(data, "hex")) {
    std::string_view rest = data.substr(3);
    int type = 3;  // plain "hex:" is REG_BINARY
    if (!rest.empty() && rest.front() == '(') {
      const auto close = rest.find(')');
      if (close == std::string_view::npos || close == 1 || close > 9) throw ParseError(MsgBadData);
      type = 0;
      for (char c : rest.substr(1, close - 1)) {
        const int d = HexDigit(c);
        if (d < 0) throw ParseError(MsgBadData);
        type = type * 16 + d;
      }
      rest = rest.substr(close + 1);
    }
    if (rest.empty() || rest.front() != ':') throw ParseError(MsgBadData);
    std::vector<unsigned char> bytes = ReadHexBytes(rest.substr(1));
    if (unicode && IsTextType(type)) bytes = ToOwnText(bytes, type, value);
    if (type == 1 || type == 2) {
      value.Kind = type == 1 ? ValueKind::String : ValueKind::ExpandString;
      value.Text = BytesToText(bytes);
    } else if (type == 4 && bytes.size() == 4) {
      value.Kind = ValueKind::Integer;
      value.Number = std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
                     std::uint32_t{bytes[3]} << 24;
    } else {
      value.Kind = ValueKind::Other;
    }
    return;
  }
  // "-" deletes the value when a file is imported; it is nothing to this
  // program but is kept for whoever wrote it.
  if (data == "-") {
    value.Kind = ValueKind::Other;
    return;
  }
  throw ParseError(MsgBadData);
}

Value ParseValue(std::string_view line, bool unicode) {
  Value value;
  std::size_t pos;
  if (line.front() == '@') {
    pos = 1;
  } else {
    pos = 1;
    value.Name = ReadQuoted(line, pos, MsgBadName);
  }
  const std::string_view rest = Trim(line.substr(pos));
  if (rest.empty() || rest.front() != '=') throw ParseError(MsgNoEquals);
  ParseData(Trim(rest.substr(1)), value, unicode);
  return value;
}

// Appends the value's lines, each ended by lineEnd.
void AppendValueLines(std::string& out, const Value& value, const std::string& lineEnd) {
  if (!value.Lines.empty()) {
    for (const auto& line : value.Lines) out.append(line).append(lineEnd);
    return;
  }
  std::vector<std::string> lines;
  const std::string name = NameField(value.Name);
  switch (value.Kind) {
    case ValueKind::Integer: {
      char hex[9];
      std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(value.Number));
      lines.push_back(name + "=dword:" + hex);
      break;
    }
    case ValueKind::String:
      // A line break inside quotes would end the line early and spoil the
      // file; such a text goes out as bytes, which read back the same.
      if (value.Text.find_first_of("\r\n") == std::string::npos)
        lines.push_back(name + '=' + Quote(value.Text));
      else
        AppendHexLines(lines, name + "=hex(1):", value.Text, true);
      break;
    case ValueKind::ExpandString:
      AppendHexLines(lines, name + "=hex(2):", value.Text, true);
      break;
    case ValueKind::Comment:
    case ValueKind::Other:
      break;  // only ever made from lines read, which are written back above
  }
  for (const auto& line : lines) out.append(line).append(lineEnd);
}

// The lines of the text without their ends, the last one possibly empty;
// views into it. A line ends at LF, or at CR where no LF follows (files from
// old Macs, and files that editors on several systems left mixed). The CRs
// of a run that an LF follows are one line end with it: one kept would come
// back as the CR of a CR LF file at each write, so a line ending in several
// would lose one per write and never read back as it was written. lineEnd,
// when given, becomes the end of the first line, LF for a lone CR (the text
// is written back with it).
std::vector<std::string_view> SplitLines(std::string_view text, std::string* lineEnd = nullptr) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (auto end = text.find_first_of("\r\n"); end != std::string_view::npos; end = text.find_first_of("\r\n", start)) {
    lines.push_back(text.substr(start, end - start));
    std::size_t next = end;
    while (next < text.size() && text[next] == '\r') ++next;
    if (next < text.size() && text[next] == '\n') {
      if (lineEnd && lines.size() == 1) *lineEnd = next > end ? "\r\n" : "\n";
      start = next + 1;
      continue;
    }
    // Lone CRs: the first ended the line above, each other one an empty line.
    lines.insert(lines.end(), next - end - 1, std::string_view());
    start = next;
  }
  lines.push_back(text.substr(start));
  return lines;
}

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string FoldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = Lower(c);
  return folded;
}

Tree Tree::Parse(std::string_view text, const std::string& fileName) {
  Tree tree;
  // A file in UTF-16, as the registry editor of Windows writes it, is read
  // in UTF-8 and written back so: this program's strings are UTF-8.
  std::string decoded;
  if (text.substr(0, 2) == "\xFF\xFE" || text.substr(0, 2) == "\xFE\xFF") {
    const auto order = text[0] == '\xFF' ? VEK::ByteOrder::LittleEndian : VEK::ByteOrder::BigEndian;
    const std::string_view units = text.substr(2);
    if (VEK::AppendUtf16AsUtf8(units, order, decoded) != units.size()) {
      const std::size_t line = SplitLines(decoded).size();
      throw Exception(VEK::Text(MsgParse, {fileName, line, VEK::Text(MsgBadUtf16)}));
    }
    text = decoded;
  }
  // Views into the text, which may be the size of the whole file.
  std::vector<std::string_view> lines = SplitLines(text, &tree.lineEnd_);
  if (lines.back().empty()) lines.pop_back();  // the end of the last line

  std::size_t lineIndex = 0;
  try {
    if (lines.empty()) return tree;  // an empty file holds no keys
    std::string_view first = lines[0];
    if (first.substr(0, 3) == "\xEF\xBB\xBF") {
      first.remove_prefix(3);
      tree.byteOrderMark_ = true;
    }
    const std::string_view header = Trim(first);
    const bool unicode = header == UnicodeHeader;
    if (header != Header && !unicode) throw ParseError(MsgNoHeader);

    std::size_t current = std::string::npos;
    for (lineIndex = 1; lineIndex < lines.size(); ++lineIndex) {
      const std::string_view line = Trim(lines[lineIndex]);
      if (line.empty()) continue;
      if (line.front() == ';') {
        Value comment;
        comment.Kind = ValueKind::Comment;
        comment.Lines.emplace_back(lines[lineIndex]);
        if (current != std::string::npos)
          tree.keys_[current].Values.push_back(std::move(comment));
        else
          tree.preamble_.emplace_back(lines[lineIndex]);
        continue;
      }
      if (line.front() == '[') {
        if (line.back() != ']') throw ParseError(MsgBadSection);
        std::string path(Trim(line.substr(1, line.size() - 2)));
        if (path.empty()) throw ParseError(MsgEmptySection);
        // A key listed twice is one key, as an import would make it.
        current = tree.KeyPosition(path);
        if (current == tree.keys_.size()) tree.AppendKey(std::move(path));
        continue;
      }
      if (line.front() != '"' && line.front() != '@') throw ParseError(MsgBadLine);
      if (current == std::string::npos) throw ParseError(MsgNoKey);
      // Long hex lists go on over several lines, each but the last ending in '\'.
      const std::size_t firstLine = lineIndex;
      std::vector<std::string> raw{std::string(lines[lineIndex])};
      std::string joined;
      std::string_view logical = line;
      if (line.back() == '\\' && lineIndex + 1 < lines.size()) {
        joined = line;
        while (joined.back() == '\\' && lineIndex + 1 < lines.size()) {
          joined.pop_back();
          raw.emplace_back(lines[++lineIndex]);
          joined += Trim(lines[lineIndex]);
        }
        logical = joined;
      }
      const std::size_t lastLine = lineIndex;
      lineIndex = firstLine;  // errors name the line the value starts on
      Value value = ParseValue(logical, unicode);
      lineIndex = lastLine;
      if (value.Lines.empty()) value.Lines = std::move(raw);  // else made anew in our own form
      ValueIndex& names = tree.valueAt_[current];
      std::vector<Value>& values = tree.keys_[current].Values;
      const auto [at, added] = names.try_emplace(FoldName(value.Name), values.size());
      if (added)
        values.push_back(std::move(value));
      else
        values[at->second] = std::move(value);  // the later line wins, as in an import
    }
  } catch (const ParseError& error) {
    throw Exception(VEK::Text(MsgParse, {fileName, lineIndex + 1, VEK::Text(*error.reason_)}));
  }
  return tree;
}

std::string Tree::Serialize() const {
  std::string out;
  if (byteOrderMark_) out += "\xEF\xBB\xBF";
  out.append(Header).append(lineEnd_).append(lineEnd_);
  for (const auto& line : preamble_) out.append(line).append(lineEnd_);
  if (!preamble_.empty()) out += lineEnd_;
  for (const Key& key : keys_) {
    out.append("[").append(key.Path).append("]").append(lineEnd_);
    for (const Value& value : key.Values) AppendValueLines(out, value, lineEnd_);
    out += lineEnd_;
  }
  return out;
}

std::size_t Tree::KeyPosition(const std::string& path) const {
  const auto it = keyAt_.find(FoldName(path));
  return it == keyAt_.end() ? keys_.size() : it->second;
}

Key* Tree::FindKey(const std::string& path) {
  const std::size_t at = KeyPosition(path);
  return at == keys_.size() ? nullptr : &keys_[at];
}

const Key* Tree::FindKey(const std::string& path) const { return const_cast<Tree*>(this)->FindKey(path); }

Key& Tree::AppendKey(std::string path) {
  keyAt_.emplace(FoldName(path), keys_.size());
  keys_.push_back(Key{std::move(path), {}});
  valueAt_.emplace_back();
  return keys_.back();
}

void Tree::InsertKey(std::size_t at, std::string path) {
  if (at == keys_.size()) {
    AppendKey(std::move(path));
    return;
  }
  for (auto& entry : keyAt_)
    if (entry.second >= at) ++entry.second;
  keyAt_.emplace(FoldName(path), at);
  keys_.insert(keys_.begin() + static_cast<std::ptrdiff_t>(at), Key{std::move(path), {}});
  valueAt_.insert(valueAt_.begin() + static_cast<std::ptrdiff_t>(at), ValueIndex());
}

void Tree::IndexKeys() {
  keyAt_.clear();
  valueAt_.assign(keys_.size(), ValueIndex());
  for (std::size_t k = 0; k < keys_.size(); ++k) {
    keyAt_.emplace(FoldName(keys_[k].Path), k);
    IndexValues(k);
  }
}

void Tree::IndexValues(std::size_t key) {
  ValueIndex& names = valueAt_[key];
  names.clear();
  const std::vector<Value>& values = keys_[key].Values;
  for (std::size_t v = 0; v < values.size(); ++v)
    if (values[v].Kind != ValueKind::Comment) names.emplace(FoldName(values[v].Name), v);
}

std::pair<std::map<std::string, std::size_t>::const_iterator, std::map<std::string, std::size_t>::const_iterator>
Tree::Below(const std::string& folded) const {
  const std::string prefix = folded + '\\';
  auto first = keyAt_.lower_bound(prefix);
  // "a\" names a key of its own (a hand-written section), not one below "a".
  if (first != keyAt_.end() && first->first == prefix) ++first;
  auto last = first;
  while (last != keyAt_.end() && last->first.compare(0, prefix.size(), prefix) == 0) ++last;
  return {first, last};
}

bool Tree::KeyExists(const std::string& path) const {
  const std::string folded = FoldName(path);
  if (keyAt_.count(folded)) return true;
  const auto [first, last] = Below(folded);
  return first != last;
}

void Tree::CreateKey(const std::string& path) {
  // The first component is the root, which needs no section of its own.
  std::vector<std::string> chain;
  const std::size_t rootEnd = path.find('\\');
  if (rootEnd != std::string::npos)
    for (auto at = path.find('\\', rootEnd + 1); at != std::string::npos; at = path.find('\\', at + 1))
      chain.push_back(path.substr(0, at));
  chain.push_back(path);
  for (const std::string& prefix : chain) {
    if (FindKey(prefix)) continue;
    // Placed after the last key of its parent's subtree, so that a key's
    // family stays together in the file.
    const std::string parent = FoldName(prefix.substr(0, prefix.rfind('\\')));
    std::size_t at = keys_.size();
    bool found = false;
    const auto consider = [&](std::size_t position) {
      if (!found || position + 1 > at) at = position + 1;
      found = true;
    };
    if (const auto self = keyAt_.find(parent); self != keyAt_.end()) consider(self->second);
    const auto [first, last] = Below(parent);
    for (auto it = first; it != last; ++it) consider(it->second);
    InsertKey(at, prefix);
  }
}

bool Tree::DeleteKey(const std::string& path) {
  const std::string folded = FoldName(path);
  const auto [first, last] = Below(folded);
  if (first == last && !keyAt_.count(folded)) return false;
  std::erase_if(keys_, [&](const Key& key) { return SameName(key.Path, path) || IsBelow(key.Path, path); });
  IndexKeys();
  return true;
}

const Value* Tree::FindIn(std::size_t key, std::string_view name) const {
  const ValueIndex& names = valueAt_[key];
  const auto it = names.find(FoldName(name));
  return it == names.end() ? nullptr : &keys_[key].Values[it->second];
}

const Value* Tree::FindValue(const std::string& keyPath, const std::string& name) const {
  const std::size_t key = KeyPosition(keyPath);
  return key == keys_.size() ? nullptr : FindIn(key, name);
}

void Tree::SetValue(const std::string& keyPath, Value value) {
  std::size_t key = KeyPosition(keyPath);
  if (key == keys_.size()) {
    CreateKey(keyPath);
    key = KeyPosition(keyPath);
  }
  std::vector<Value>& values = keys_[key].Values;
  const auto [at, added] = valueAt_[key].try_emplace(FoldName(value.Name), values.size());
  if (added) {
    values.push_back(std::move(value));
    return;
  }
  Value& existing = values[at->second];
  value.Name = existing.Name;
  existing = std::move(value);
}

bool Tree::DeleteValue(const std::string& keyPath, const std::string& name) {
  const std::size_t key = KeyPosition(keyPath);
  if (key == keys_.size() || !FindIn(key, name)) return false;
  std::erase_if(keys_[key].Values,
                [&](const Value& v) { return v.Kind != ValueKind::Comment && SameName(v.Name, name); });
  IndexValues(key);
  return true;
}

}  // namespace VEKRegistry
