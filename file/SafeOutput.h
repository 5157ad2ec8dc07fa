// A file that takes its name only once it is complete. It is written under a
// hidden temporary name beside its final one (so that the rename stays on one
// file system), renamed over the final name when the caller is done, and the
// folder is put on disk; on any failure the temporary goes and the final name
// is never touched. A crash or a full disk leaves the old file or the new one,
// and at worst a hidden ".zantrel-partial" file that no finished file is ever
// named like.
//
// A temporary name is only ever created exclusively: whatever already has it
// (another run's temporary, a link planted there) is left as it is, and
// another name is drawn. Data flushes stay with the caller, who owns the
// descriptor; this class only names, renames and deletes.
#pragma once

#include <functional>
#include <string>

#include "file/Posix.h"

namespace VEKFile {

class SafeOutput {
 public:
  // The suffix of every temporary name.
  static constexpr const char* PartialSuffix = ".zantrel-partial";
  // Draws of a taken name after which Create gives up with EEXIST: among
  // 36^6 names that many in a row means the create function answers EEXIST
  // for something else.
  static constexpr int MaxDraws = 1000;

  explicit SafeOutput(std::string finalName);
  // Deletes the temporary unless it was committed.
  ~SafeOutput();
  SafeOutput(const SafeOutput&) = delete;
  SafeOutput& operator=(const SafeOutput&) = delete;

  // Draws temporary names ".<name>.<6 random letters>.zantrel-partial" in the
  // final name's folder (the name cut to fit NAME_MAX, at a character
  // boundary) and calls create with each until it answers anything but
  // EEXIST. create makes the file exclusively (it must never open a file that
  // is already there, nor follow a link) and answers 0 or the errno of its
  // refusal. Returns 0 once a temporary is made, and from then on this object
  // deletes it unless it is committed; or the errno of the refusal, for the
  // caller to report under FinalName(). A final name longer than NAME_MAX is
  // refused with ENAMETOOLONG, and a folder at the final name (or a link to
  // one) with EISDIR, before anything is created. An exception from create
  // goes through, with nothing taken as made. A second Create discards the
  // first one's temporary.
  int Create(const std::function<int(const std::string& temporary)>& create);
  // Create for plain writers: the temporary is opened with
  // O_WRONLY|O_CREAT|O_EXCL|O_NOFOLLOW|O_CLOEXEC|O_NOCTTY and mode (less the
  // umask). Returns the descriptor, the caller's to flush and close before
  // Commit, or -errno.
  int CreateFile(mode_t mode);

  // Renames the temporary over the final name (a link at the final name is
  // replaced, never followed) and then syncs the folder, whose entry is what
  // changed. Returns 0 once the rename is done, or the errno of the rename,
  // in which case the temporary is still there and still deleted by Discard
  // or the destructor. ENOENT when there is no temporary to commit.
  int Commit();
  // After a Commit that returned 0: 0 when the folder is on disk, or the
  // errno of opening or syncing it. The new file has its name either way;
  // only whether the rename survives a crash is unsure. File systems that
  // cannot sync a folder say so with EINVAL, which counts as 0: their renames
  // are as durable as they get. The caller decides whether to report it.
  int FolderSyncError() const { return folderSyncError_; }

  // Deletes the temporary now, unless it was committed; does nothing the
  // second time.
  void Discard();

  // The temporary's name from a successful Create until Commit or Discard.
  const std::string& TemporaryName() const { return temporaryName_; }
  // True while there is a temporary of this object's to commit or delete.
  bool Pending() const { return !temporaryName_.empty(); }
  const std::string& FinalName() const { return finalName_; }
  bool Committed() const { return committed_; }

 private:
  std::string finalName_;
  std::string temporaryName_;
  bool committed_ = false;
  int folderSyncError_ = 0;
};

}  // namespace VEKFile
