// The registry object the settings code talks to: one root, at most one open
// key at a time, typed reads and writes by value name. It mirrors the
// registry class of the Windows toolkit the program was designed on, over a
// Store of this program's own.
#pragma once

#include <cstdint>
#include <string>

#include "settings/RegistryStore.h"

namespace VEKRegistry {

enum class Root { CurrentUser, ClassesRoot };

// "HKEY_CURRENT_USER", "HKEY_CLASSES_ROOT": the first component of every
// key path in the store.
const char* RootName(Root root);

class Registry {
 public:
  explicit Registry(Store& store, Root root = Root::CurrentUser);
  ~Registry() = default;
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;

  // Closes any open key.
  void SetRoot(Root root);

  // Opens the key at path (relative to the root) with read and write access,
  // closing the key open before. Without canCreate a missing key is not
  // opened; with it, the key and the keys above it are created. False when
  // the key is not open afterwards: missing, or not creatable here.
  bool OpenKey(const std::string& path, bool canCreate);
  void CloseKey();
  bool HasOpenKey() const { return !current_.empty(); }

  bool ValueExists(const std::string& name);
  // An empty name stands for the key's default value. A value of another
  // type than the one asked for fails with an Exception naming it.
  std::int32_t ReadInteger(const std::string& name);
  bool ReadBool(const std::string& name);  // any non-zero integer is true
  // REG_SZ, or REG_EXPAND_SZ taken as it is, nothing expanded.
  std::string ReadString(const std::string& name);

  void WriteInteger(const std::string& name, std::int32_t value);
  void WriteBool(const std::string& name, bool value);  // 1 or 0
  // The text up to its first NUL, as a C string would hand it over.
  void WriteString(const std::string& name, const std::string& value);

  bool DeleteValue(const std::string& name);
  bool KeyExists(const std::string& path);
  // Deletes the key at path (relative to the root) and all of its subkeys;
  // false when it did not exist.
  bool DeleteKey(const std::string& path);

 private:
  std::string FullPath(const std::string& path) const;
  const std::string& OpenKeyPath() const;
  void Write(Value value);

  Store& store_;
  Root root_;
  std::string current_;  // full path of the open key, empty when none
};

}  // namespace VEKRegistry
