// Where the registry lives. Linux has no registry of its own, so the keys are
// kept in one text file per user; tests use the same interface in memory.
//
// Every change reaches the store at once, as in the Windows registry, which
// has no save step. Several copies of the program may run together: each
// change re-reads the current content and applies only its own edit to it.
#pragma once

#include <functional>
#include <string>

#include "settings/RegistryTree.h"

namespace VEKRegistry {

class Store {
 public:
  virtual ~Store() = default;
  virtual Tree Read() = 0;
  // Applies change to the current content and keeps the result. When change
  // throws, nothing is kept.
  virtual void Update(const std::function<void(Tree&)>& change) = 0;
};

class MemoryStore : public Store {
 public:
  Tree Read() override { return tree_; }
  void Update(const std::function<void(Tree&)>& change) override;

 private:
  Tree tree_;
};

// The registry of the current user: $XDG_CONFIG_HOME/zantrel/registry.reg,
// ~/.config when XDG_CONFIG_HOME is unset, empty or relative.
std::string DefaultRegistryFileName();

// The file is replaced whole at each change: a temporary file in the same
// folder is written and synced, renamed over the old one, and the folder is
// synced, so a crash or a full disk leaves either the old or the new content.
// Writers take an exclusive lock on "<file>.lock" (the data file itself
// changes inode at every rename and cannot carry the lock). Readers take no
// lock: a rename is seen whole or not at all. A file that cannot be parsed is
// reported and never written over.
class FileStore : public Store {
 public:
  explicit FileStore(std::string fileName);
  Tree Read() override;
  void Update(const std::function<void(Tree&)>& change) override;
  const std::string& FileName() const { return fileName_; }

 private:
  void Replace(const std::string& text);

  std::string fileName_;
};

}  // namespace VEKRegistry
