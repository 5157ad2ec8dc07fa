// The Windows registry itself, as a Store. The tree it hands out holds the
// keys this program reads and writes, read afresh each time: its settings and
// backup keys under HKEY_CURRENT_USER and Explorer's AVI handler key under
// HKEY_CLASSES_ROOT. A change is applied to that tree and written back as the
// difference it makes, key by key and value by value: what another program or
// another copy of this one wrote elsewhere, or in between, stays.
#include <windows.h>

#include <string>
#include <vector>

#include "lang/Language.h"
#include "settings/UserRegistry.h"
#include "util/Win32.h"

namespace VEKRegistry {

namespace {

const VEK::MessagePair MsgReadKey = {
    {"Could not read registry key \"%s\": %s.", "Impossible de lire la clé de registre \"%s\" : %s."}};
const VEK::MessagePair MsgWriteKey = {
    {"Could not write registry key \"%s\": %s.", "Impossible d'écrire la clé de registre \"%s\" : %s."}};

struct Mirrored {
  HKEY Root;
  const char* RootName;
  const char* Path;
};

// Explorer's handler key is read and written, never created nor deleted.
const Mirrored Keys[] = {
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "Software\\Zantrel"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER", "Software\\Zantrel-Backup"},
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT", "SystemFileAssociations\\.avi\\shellex\\PropertyHandler"},
};

std::string SystemMessage(LONG error) {
  wchar_t* text = nullptr;
  const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n && text ? std::wstring(text, n) : L"error " + std::to_wstring(error);
  if (text) LocalFree(text);
  // The system's text ends with a period and a line break; ours adds the period.
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.'))
    message.pop_back();
  return VEK::Win32::Narrow(message);
}

[[noreturn]] void Fail(const VEK::MessagePair& pair, const std::string& key, LONG error) {
  const std::string message = VEK::Text(pair, {key, SystemMessage(error)});
  if (error == ERROR_ACCESS_DENIED) throw AccessDenied(message);
  throw Exception(message);
}

class OpenKey {
 public:
  OpenKey() = default;
  ~OpenKey() {
    if (key_) RegCloseKey(key_);
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  HKEY* Out() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

HKEY RootOf(const std::string& path, std::string& below) {
  const std::size_t slash = path.find('\\');
  const std::string root = path.substr(0, slash);
  below = slash == std::string::npos ? std::string() : path.substr(slash + 1);
  if (SameName(root, "HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
  if (SameName(root, "HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
  return nullptr;
}

Value ValueOf(const std::wstring& name, DWORD type, const std::vector<BYTE>& data, DWORD size) {
  Value v;
  v.Name = VEK::Win32::Narrow(name);
  if (type == REG_DWORD && size == 4) {
    v.Kind = ValueKind::Integer;
    v.Number = data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
  } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
    v.Kind = type == REG_SZ ? ValueKind::String : ValueKind::ExpandString;
    std::wstring text(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
    // The stored terminator, and anything after a NUL, as a C string reads it.
    text.resize(std::wcslen(text.c_str()));
    v.Text = VEK::Win32::Narrow(text);
  } else {
    // Kept as read, to tell a change from none; this program writes none.
    v.Kind = ValueKind::Other;
    v.Number = type;
    v.Text.assign(reinterpret_cast<const char*>(data.data()), size);
  }
  return v;
}

void ReadKey(HKEY key, const std::string& path, Tree& tree) {
  tree.CreateKey(path);
  DWORD subkeys = 0, values = 0, longestSubkey = 0, longestName = 0, longestData = 0;
  LONG error = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr, &values,
                                &longestName, &longestData, nullptr, nullptr);
  if (error != ERROR_SUCCESS) Fail(MsgReadKey, path, error);
  std::vector<wchar_t> name(longestName + 2);
  std::vector<BYTE> data(longestData + 2);
  for (DWORD i = 0; i < values; ++i) {
    DWORD nameLength = static_cast<DWORD>(name.size()), type = 0, size = static_cast<DWORD>(data.size());
    error = RegEnumValueW(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size);
    if (error == ERROR_NO_MORE_ITEMS) break;  // another program took some away meanwhile
    if (error != ERROR_SUCCESS) Fail(MsgReadKey, path, error);
    tree.SetValue(path, ValueOf(std::wstring(name.data(), nameLength), type, data, size));
  }
  std::vector<wchar_t> subkey(longestSubkey + 2);
  for (DWORD i = 0; i < subkeys; ++i) {
    DWORD length = static_cast<DWORD>(subkey.size());
    error = RegEnumKeyExW(key, i, subkey.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) break;
    if (error != ERROR_SUCCESS) Fail(MsgReadKey, path, error);
    const std::wstring below(subkey.data(), length);
    OpenKey child;
    // Links are not followed: a key of ours is never one.
    error = RegOpenKeyExW(key, below.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, child.Out());
    if (error == ERROR_FILE_NOT_FOUND) continue;
    if (error != ERROR_SUCCESS) Fail(MsgReadKey, path + "\\" + VEK::Win32::Narrow(below), error);
    ReadKey(child.Get(), path + "\\" + VEK::Win32::Narrow(below), tree);
  }
}

bool SameValue(const Value& a, const Value& b) {
  return a.Kind == b.Kind && a.Number == b.Number && a.Text == b.Text && a.Name == b.Name;
}

void WriteValue(HKEY key, const std::string& path, const Value& v) {
  const std::wstring name = VEK::Win32::Wide(v.Name);
  LONG error = ERROR_SUCCESS;
  switch (v.Kind) {
    case ValueKind::Integer: {
      const DWORD number = v.Number;
      error = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
      break;
    }
    case ValueKind::String:
    case ValueKind::ExpandString: {
      const std::wstring text = VEK::Win32::Wide(v.Text);
      error = RegSetValueExW(key, name.c_str(), 0, v.Kind == ValueKind::String ? REG_SZ : REG_EXPAND_SZ,
                             reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
      break;
    }
    case ValueKind::Other:
      error = RegSetValueExW(key, name.c_str(), 0, v.Number, reinterpret_cast<const BYTE*>(v.Text.data()),
                             static_cast<DWORD>(v.Text.size()));
      break;
    case ValueKind::Comment:
      return;
  }
  if (error != ERROR_SUCCESS) Fail(MsgWriteKey, path, error);
}

const Key* FindKey(const Tree& tree, const std::string& path) {
  for (const Key& k : tree.Keys())
    if (SameName(k.Path, path)) return &k;
  return nullptr;
}

// Writes what next has and was does not: keys created, values set or gone,
// keys deleted (each deleted key's subtree in one call).
void WriteDifference(const Tree& was, const Tree& next) {
  for (const Key& key : next.Keys()) {
    const Key* before = FindKey(was, key.Path);
    bool same = before && before->Values.size() == key.Values.size();
    for (std::size_t i = 0; same && i < key.Values.size(); ++i) {
      const Value* old = was.FindValue(key.Path, key.Values[i].Name);
      same = old && SameValue(*old, key.Values[i]);
    }
    if (same || (!before && key.Values.empty() && was.KeyExists(key.Path))) continue;
    std::string below;
    const HKEY root = RootOf(key.Path, below);
    if (!root || below.empty()) continue;  // a root itself
    OpenKey open;
    LONG error = RegCreateKeyExW(root, VEK::Win32::Wide(below).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_READ | KEY_WRITE, nullptr, open.Out(), nullptr);
    if (error != ERROR_SUCCESS) Fail(MsgWriteKey, key.Path, error);
    for (const Value& v : key.Values) {
      const Value* old = was.FindValue(key.Path, v.Name);
      if (!old || !SameValue(*old, v)) WriteValue(open.Get(), key.Path, v);
    }
    if (!before) continue;
    for (const Value& v : before->Values) {
      if (v.Kind == ValueKind::Comment || next.FindValue(key.Path, v.Name)) continue;
      error = RegDeleteValueW(open.Get(), VEK::Win32::Wide(v.Name).c_str());
      if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) Fail(MsgWriteKey, key.Path, error);
    }
  }
  for (const Key& key : was.Keys()) {
    if (next.KeyExists(key.Path)) continue;
    // Only the topmost key of a deleted subtree: the call takes what is below.
    const std::size_t slash = key.Path.rfind('\\');
    if (slash != std::string::npos && !next.KeyExists(key.Path.substr(0, slash)) &&
        FindKey(was, key.Path.substr(0, slash)))
      continue;
    std::string below;
    const HKEY root = RootOf(key.Path, below);
    if (!root || below.empty()) continue;
    const LONG error = RegDeleteTreeW(root, VEK::Win32::Wide(below).c_str());
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) Fail(MsgWriteKey, key.Path, error);
  }
}

class WindowsRegistry : public Store {
 public:
  Tree Read() override {
    Tree tree;
    for (const Mirrored& m : Keys) {
      OpenKey key;
      const std::string path = std::string(m.RootName) + "\\" + m.Path;
      const LONG error = RegOpenKeyExW(m.Root, VEK::Win32::Wide(m.Path).c_str(), 0, KEY_READ, key.Out());
      if (error == ERROR_FILE_NOT_FOUND) continue;
      if (error != ERROR_SUCCESS) Fail(MsgReadKey, path, error);
      ReadKey(key.Get(), path, tree);
    }
    return tree;
  }

  void Update(const std::function<void(Tree&)>& change) override {
    const Tree was = Read();
    Tree next = was;
    change(next);
    WriteDifference(was, next);
  }
};

}  // namespace

std::unique_ptr<Store> OpenUserRegistry() { return std::make_unique<WindowsRegistry>(); }

}  // namespace VEKRegistry
