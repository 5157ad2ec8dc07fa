#include "settings/Registry.h"

#include <memory>

#include "lang/Language.h"

namespace VEKRegistry {

namespace {

const VEK::MessagePair MsgType = {{"Invalid data type for value \"%s\" in registry key \"%s\".",
                                   "Type de données invalide pour la valeur \"%s\" de la clé de registre \"%s\"."}};
const VEK::MessagePair MsgMissing = {{"Value \"%s\" does not exist in registry key \"%s\".",
                                      "La valeur \"%s\" n'existe pas dans la clé de registre \"%s\"."}};
const VEK::MessagePair MsgNoKey = {{"No registry key is open.", "Aucune clé de registre n'est ouverte."}};
const VEK::MessagePair MsgKeyGone = {
    {"Registry key \"%s\" no longer exists.", "La clé de registre \"%s\" n'existe plus."}};
const VEK::MessagePair MsgBadKey = {
    {"Invalid registry key name \"%s\".", "Nom de clé de registre invalide \"%s\"."}};
const VEK::MessagePair MsgBadValue = {
    {"Invalid registry value name \"%s\".", "Nom de valeur de registre invalide \"%s\"."}};
const VEK::MessagePair MsgDefault = {{"(Default)", "(par défaut)"}};

std::string Shown(const std::string& name) { return name.empty() ? VEK::Text(MsgDefault) : name; }

bool HasControl(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 && c != '\t') return true;
  return false;
}

}  // namespace

const char* RootName(Root root) {
  return root == Root::ClassesRoot ? "HKEY_CLASSES_ROOT" : "HKEY_CURRENT_USER";
}

Registry::Registry(Store& store, Root root) : store_(store), root_(root) {}

void Registry::SetRoot(Root root) {
  CloseKey();
  root_ = root;
}

std::string Registry::FullPath(const std::string& path) const {
  std::string relative = path;
  while (!relative.empty() && relative.front() == '\\') relative.erase(0, 1);
  while (!relative.empty() && relative.back() == '\\') relative.pop_back();
  // A line break would end the section line early; an empty component
  // ("a\\b") names no key at all.
  if (HasControl(relative) || relative.find("\\\\") != std::string::npos)
    throw Exception(VEK::Text(MsgBadKey, {path}));
  std::string full = RootName(root_);
  if (!relative.empty()) full += '\\' + relative;
  return full;
}

const std::string& Registry::OpenKeyPath() const {
  if (current_.empty()) throw Exception(VEK::Text(MsgNoKey));
  return current_;
}

bool Registry::OpenKey(const std::string& path, bool canCreate) {
  const std::string full = FullPath(path);
  CloseKey();
  if (full != RootName(root_) && !store_.View()->KeyExists(full)) {
    if (!canCreate) return false;
    try {
      store_.Update([full](Tree& tree) { tree.CreateKey(full); });
    } catch (const AccessDenied&) {
      return false;  // not creatable here: the caller skips what it wanted to write
    }
  }
  current_ = full;
  return true;
}

void Registry::CloseKey() { current_.clear(); }

bool Registry::ValueExists(const std::string& name) {
  return store_.View()->FindValue(OpenKeyPath(), name) != nullptr;
}

std::int32_t Registry::ReadInteger(const std::string& name) {
  const std::string& key = OpenKeyPath();
  const auto tree = store_.View();
  const Value* value = tree->FindValue(key, name);
  if (!value) throw Exception(VEK::Text(MsgMissing, {Shown(name), key}));
  if (value->Kind != ValueKind::Integer) throw Exception(VEK::Text(MsgType, {Shown(name), key}));
  return static_cast<std::int32_t>(value->Number);
}

bool Registry::ReadBool(const std::string& name) { return ReadInteger(name) != 0; }

std::string Registry::ReadString(const std::string& name) {
  const std::string& key = OpenKeyPath();
  const auto tree = store_.View();
  const Value* value = tree->FindValue(key, name);
  if (!value) throw Exception(VEK::Text(MsgMissing, {Shown(name), key}));
  if (value->Kind != ValueKind::String && value->Kind != ValueKind::ExpandString)
    throw Exception(VEK::Text(MsgType, {Shown(name), key}));
  return value->Text;
}

void Registry::Write(Value value) {
  const std::string key = OpenKeyPath();
  if (HasControl(value.Name)) throw Exception(VEK::Text(MsgBadValue, {value.Name}));
  const bool isRoot = key == RootName(root_);
  store_.Update([key, value = std::move(value), isRoot](Tree& tree) {
    // Another copy may have deleted the key since we opened it; writing would
    // bring back a key that its owner meant to remove.
    if (!isRoot && !tree.KeyExists(key)) throw Exception(VEK::Text(MsgKeyGone, {key}));
    tree.SetValue(key, value);
  });
}

void Registry::WriteInteger(const std::string& name, std::int32_t value) {
  Value v;
  v.Name = name;
  v.Kind = ValueKind::Integer;
  v.Number = static_cast<std::uint32_t>(value);
  Write(std::move(v));
}

void Registry::WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }

void Registry::WriteString(const std::string& name, const std::string& value) {
  Value v;
  v.Name = name;
  v.Kind = ValueKind::String;
  v.Text = value.substr(0, value.find('\0'));
  Write(std::move(v));
}

bool Registry::DeleteValue(const std::string& name) {
  const std::string key = OpenKeyPath();
  // The answer of the first application; a batch applies the change again
  // at Commit, after this call has returned.
  const auto existed = std::make_shared<bool>(false);
  store_.Update([key, name, existed](Tree& tree) { *existed = tree.DeleteValue(key, name); });
  return *existed;
}

bool Registry::KeyExists(const std::string& path) { return store_.View()->KeyExists(FullPath(path)); }

bool Registry::DeleteKey(const std::string& path) {
  const std::string full = FullPath(path);
  if (full == RootName(root_)) return false;  // a root is not a key anyone may remove
  const auto existed = std::make_shared<bool>(false);
  store_.Update([full, existed](Tree& tree) { *existed = tree.DeleteKey(full); });
  if (*existed && (SameName(current_, full) || (current_.size() > full.size() &&
                                                 SameName(current_.substr(0, full.size() + 1), full + '\\'))))
    CloseKey();
  return *existed;
}

}  // namespace VEKRegistry
