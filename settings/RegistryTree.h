// The registry as a tree of keys held in memory, and its text form: the
// 8-bit registry export format ("REGEDIT4"), which a person can read and edit,
// here in UTF-8. Exports of the Windows registry editor are read as well:
// UTF-16 with a byte-order mark, and the "Version 5.00" header, whose text
// values hold UTF-16.
// Key and value names compare without regard to ASCII letter case, as the
// Windows registry does; the spelling first written is the one kept.
// Keys and values are found through indexes by name, so a settings file that
// other programs or hand edits made large costs a lookup, not a scan.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "util/Exception.h"

namespace VEKRegistry {

// The store's error: a wrong value type, a refused write, a file that cannot
// be read or parsed. The message names the value, key or file concerned.
class Exception : public VEK::Exception {
 public:
  using VEK::Exception::Exception;
};

// A write that the store's permissions refuse (read-only folder or file).
// Opening a key with creation treats it as "cannot be opened".
class AccessDenied : public Exception {
 public:
  using Exception::Exception;
};

enum class ValueKind {
  Integer,       // REG_DWORD
  String,        // REG_SZ
  ExpandString,  // REG_EXPAND_SZ
  Comment,       // a ';' line kept in its place; never found by name
  Other          // any other type; kept exactly as read
};

struct Value {
  std::string Name;  // "" is the key's default value
  ValueKind Kind = ValueKind::Other;
  std::uint32_t Number = 0;
  std::string Text;
  // The lines the value was read from. A value nobody changed is written back
  // exactly as a person or another program wrote it; the text values of a
  // Version 5.00 file, whose bytes would mean another text under REGEDIT4,
  // get their lines made anew in UTF-8.
  std::vector<std::string> Lines;
};

struct Key {
  std::string Path;  // full path, root name first: HKEY_CURRENT_USER\Software
  std::vector<Value> Values;
};

class Tree {
 public:
  // fileName only names the file in parse errors.
  static Tree Parse(std::string_view text, const std::string& fileName);
  // In our own form, REGEDIT4 in UTF-8, whatever form it was parsed from
  // (the text values of a Version 5.00 file turned into UTF-8), with the
  // line ends (LF or CR LF; LF for CR) and the UTF-8 byte-order mark, if any,
  // of that text.
  std::string Serialize() const;

  // A key exists when it has a section of its own or lies above one that has.
  bool KeyExists(const std::string& path) const;
  // Creates the key and every missing key above it below the root, each with
  // a section of its own, so that deleting a subkey later leaves them in place.
  void CreateKey(const std::string& path);
  // Removes the key and everything below it; false when nothing was there.
  bool DeleteKey(const std::string& path);

  const Value* FindValue(const std::string& keyPath, const std::string& name) const;
  // Replaces a value of the same name in its place, or appends it.
  void SetValue(const std::string& keyPath, Value value);
  bool DeleteValue(const std::string& keyPath, const std::string& name);

  const std::vector<Key>& Keys() const { return keys_; }

 private:
  using ValueIndex = std::unordered_map<std::string, std::size_t>;

  Key* FindKey(const std::string& path);
  const Key* FindKey(const std::string& path) const;
  std::size_t KeyPosition(const std::string& path) const;  // keys_.size() when absent
  Key& AppendKey(std::string path);
  void InsertKey(std::size_t at, std::string path);
  void IndexKeys();
  void IndexValues(std::size_t key);
  const Value* FindIn(std::size_t key, std::string_view name) const;
  // First and last+1 entries of keyAt_ for the keys strictly below a folded path.
  std::pair<std::map<std::string, std::size_t>::const_iterator, std::map<std::string, std::size_t>::const_iterator>
  Below(const std::string& folded) const;

  std::vector<std::string> preamble_;  // comments between the header and the first key
  std::vector<Key> keys_;
  // Folded path -> position in keys_. Ordered, so that the keys below a key
  // are the run of entries that start with its folded path and a backslash.
  std::map<std::string, std::size_t> keyAt_;
  // For each key of keys_, folded value name -> position in its Values.
  std::vector<ValueIndex> valueAt_;
  std::string lineEnd_ = "\n";
  bool byteOrderMark_ = false;  // UTF-8's
};

// The name as the indexes compare it: ASCII letters in lower case.
std::string FoldName(std::string_view name);

bool SameName(std::string_view a, std::string_view b);

}  // namespace VEKRegistry
