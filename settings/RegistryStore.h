// Where the registry lives. Linux has no registry of its own, so the keys are
// kept in one text file per user; tests use the same interface in memory.
//
// Every change reaches the store at once, as in the Windows registry, which
// has no save step. Several copies of the program may run together: each
// change re-reads the current content and applies only its own edit to it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/RegistryTree.h"

namespace VEKRegistry {

class Store {
 public:
  virtual ~Store() = default;
  virtual Tree Read() = 0;
  // The current content to look things up in, valid until the next Update.
  // Stores that hold it in memory hand it over without a copy; the file
  // store reads the file.
  virtual std::shared_ptr<const Tree> View() { return std::make_shared<const Tree>(Read()); }
  // Applies change to the current content and keeps the result. When change
  // throws, nothing is kept. A change may be applied more than once, to
  // another copy of the content (a Batch replays it at Commit), so it owns
  // what it refers to.
  virtual void Update(const std::function<void(Tree&)>& change) = 0;
};

class MemoryStore : public Store {
 public:
  Tree Read() override { return *tree_; }
  std::shared_ptr<const Tree> View() override { return tree_; }
  void Update(const std::function<void(Tree&)>& change) override;

 private:
  std::shared_ptr<const Tree> tree_ = std::make_shared<const Tree>();
};

// A run of reads and changes that reaches the store as one Update, for the
// settings record, which reads or writes some twenty values at a time. The
// store is read once, when the batch is made; reads come from that copy, and
// each change is applied to it at once and kept. Commit applies the kept
// changes, in their order, to the store's current content in one Update: for
// the file store, one locked read-modify-replace and one flush, so what other
// copies of the program wrote in between stays. A change that fails at
// Commit (a key another copy deleted, a refused write) fails the whole
// Commit, and nothing of the batch is kept.
class Batch : public Store {
 public:
  explicit Batch(Store& store);
  Tree Read() override { return *tree_; }
  std::shared_ptr<const Tree> View() override { return tree_; }
  // A change that throws leaves the copy as the store's current content
  // with the changes made before it.
  void Update(const std::function<void(Tree&)>& change) override;
  // Does nothing when nothing changed. The batch can go on afterwards; its
  // copy then holds the store as read plus every change made through it.
  void Commit();
  bool Changed() const { return !changes_.empty(); }

 private:
  Store& store_;
  std::shared_ptr<Tree> tree_;  // the store as read, with the changes applied
  std::vector<std::function<void(Tree&)>> changes_;
};
// The registry of the current user: $XDG_CONFIG_HOME/zantrel/registry.reg,
// ~/.config when XDG_CONFIG_HOME is unset, empty or relative.
std::string DefaultRegistryFileName();

// The file is replaced whole at each change, through a SafeOutput: a
// temporary file in the same folder (created exclusively, so that nothing
// already at its name is followed or overwritten) is written and synced,
// renamed over the old one, and the folder is synced, so a crash or a full
// disk leaves either the old or the new content.
// Writers take an exclusive lock on "<file>.lock" (the data file itself
// changes inode at every rename and cannot carry the lock). Readers take no
// lock: a rename is seen whole or not at all. A file that cannot be parsed is
// reported and never written over; a folder or a FIFO at the file's name is
// refused without being opened. A file read in another form (UTF-16, a
// Windows registry editor's header) is written back in our own.
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
