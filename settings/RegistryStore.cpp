#include "settings/RegistryStore.h"


#ifdef _WIN32
#include <direct.h>

#include "util/Win32.h"
#else
#include <sys/stat.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "file/SafeOutput.h"
#include "file/SystemCalls.h"
#include "lang/Language.h"
#include "util/Paths.h"

namespace VEKRegistry {

namespace {

const VEK::MessagePair MsgRead = {
    {"Could not read registry file \"%s\": %s.", "Impossible de lire le fichier de registre \"%s\" : %s."}};
const VEK::MessagePair MsgWrite = {
    {"Could not write registry file \"%s\": %s.", "Impossible d'écrire le fichier de registre \"%s\" : %s."}};
const VEK::MessagePair MsgLock = {{"Could not lock registry file \"%s\": %s.",
                                   "Impossible de verrouiller le fichier de registre \"%s\" : %s."}};
const VEK::MessagePair MsgFolder = {
    {"Could not create folder \"%s\": %s.", "Impossible de créer le dossier \"%s\" : %s."}};
const VEK::MessagePair MsgNotFile = {{"Registry file \"%s\" is not a regular file.",
                                      "Le fichier de registre \"%s\" n'est pas un fichier ordinaire."}};
const VEK::MessagePair MsgFolderNotFile = {{"Registry file \"%s\" is a folder, not a file.",
                                            "Le fichier de registre \"%s\" est un dossier, pas un fichier."}};
const VEK::MessagePair MsgPipeNotFile = {
    {"Registry file \"%s\" is a named pipe (FIFO), not a file.",
     "Le fichier de registre \"%s\" est un tube nommé (FIFO), pas un fichier."}};
const VEK::MessagePair MsgTooLarge = {
    {"Registry file \"%s\" is too large.", "Le fichier de registre \"%s\" est trop grand."}};

// Settings take a few kilobytes; anything far larger is not a registry file
// of ours.
constexpr off_t MaxFileSize = 16 << 20;

bool IsPermissionError(int error) { return error == EACCES || error == EPERM || error == EROFS; }

[[noreturn]] void Fail(const VEK::MessagePair& pair, const std::string& name, int error) {
  const std::string message = VEK::Text(pair, {name, std::strerror(error)});
  if (IsPermissionError(error)) throw AccessDenied(message);
  throw Exception(message);
}

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return fd_; }
  // Close errors matter for the data file (a network file system may report
  // a failed write only here), so they are returned.
  int Close() {
    if (fd_ < 0) return 0;
    const int result = VEKFile::Sys().Close(fd_);
    fd_ = -1;
    return result;
  }

 private:
  int fd_;
};

void MakeFolders(const std::string& folder) {
  if (folder.empty() || folder == "/") return;
  VEKFile::FileStatus st;
  if (VEKFile::Sys().Stat(folder.c_str(), &st) == 0) return;
  MakeFolders(VEK::ExtractFileDir(folder));
  // 0700: the settings are the user's own business.
#ifdef _WIN32
  // A folder under the user's profile is the user's own already.
  if (::_wmkdir(VEK::Win32::FileName(folder).c_str()) != 0 && errno != EEXIST) Fail(MsgFolder, folder, errno);
#else
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) Fail(MsgFolder, folder, errno);
#endif
}

// A link to the file (a dotfile manager's, say) stays a link: the new content
// replaces the file it points to.
std::string ResolveLink(const std::string& name) {
#ifdef _WIN32
  // Links among a user's settings files are a Unix habit; the name is taken as it is.
  return name;
#else
  char resolved[PATH_MAX];
  if (::realpath(name.c_str(), resolved)) return resolved;
  return name;
#endif
}

void RefuseUnlessRegular(const std::string& name, const VEKFile::FileStatus& st) {
  if (S_ISREG(st.st_mode)) return;
  if (S_ISDIR(st.st_mode)) throw Exception(VEK::Text(MsgFolderNotFile, {name}));
  if (S_ISFIFO(st.st_mode)) throw Exception(VEK::Text(MsgPipeNotFile, {name}));
  throw Exception(VEK::Text(MsgNotFile, {name}));
}

// The file's bytes; false when there is no file.
bool ReadWhole(const std::string& name, std::string& text) {
  // Anything but a file (a folder, a FIFO) is refused before it is opened:
  // opening a FIFO for reading would be taken by a writer waiting on it as
  // a reader. O_NONBLOCK and the fstat below catch one put there in between,
  // without waiting for a writer.
  VEKFile::FileStatus st;
  if (VEKFile::Sys().Stat(name.c_str(), &st) == 0) RefuseUnlessRegular(name, st);
  Descriptor fd(VEKFile::Sys().Open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0));
  if (fd.Get() < 0) {
    if (errno == ENOENT) return false;
    Fail(MsgRead, name, errno);
  }
  if (VEKFile::Sys().FStat(fd.Get(), &st) != 0) Fail(MsgRead, name, errno);
  RefuseUnlessRegular(name, st);
  if (st.st_size > MaxFileSize) throw Exception(VEK::Text(MsgTooLarge, {name}));
  text.clear();
  char buffer[16384];
  for (off_t offset = 0;;) {
    const ssize_t got = VEKFile::Sys().PRead(fd.Get(), buffer, sizeof buffer, offset);
    if (got < 0) {
      if (errno == EINTR) continue;
      Fail(MsgRead, name, errno);
    }
    if (got == 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
    offset += got;
    if (offset > MaxFileSize) throw Exception(VEK::Text(MsgTooLarge, {name}));
  }
  return true;
}

}  // namespace

void MemoryStore::Update(const std::function<void(Tree&)>& change) {
  auto copy = std::make_shared<Tree>(*tree_);
  change(*copy);
  tree_ = std::move(copy);
}

// Read, not View: the batch changes its copy in place, and the file store's
// Read hands over the tree it parsed without copying it.
Batch::Batch(Store& store) : store_(store), tree_(std::make_shared<Tree>(store.Read())) {}

void Batch::Update(const std::function<void(Tree&)>& change) {
  try {
    change(*tree_);
  } catch (...) {
    // Nothing of a failed change is kept. Changes applied in place cannot
    // be undone, so the copy is made again, from the store this time (the
    // content as first read is gone), with the changes not yet committed.
    auto again = std::make_shared<Tree>(store_.Read());
    for (const auto& done : changes_) done(*again);
    tree_ = std::move(again);
    throw;
  }
  changes_.push_back(change);
}

void Batch::Commit() {
  if (changes_.empty()) return;
  store_.Update([&](Tree& tree) {
    for (const auto& change : changes_) change(tree);
  });
  changes_.clear();
}

std::string DefaultRegistryFileName() {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home ? home : "") + "/.config";
  }
  return VEK::IncludeTrailingPathDelimiter(base) + "zantrel/registry.reg";
}

FileStore::FileStore(std::string fileName) : fileName_(std::move(fileName)) {}

Tree FileStore::Read() {
  std::string text;
  if (!ReadWhole(fileName_, text)) return Tree();
  return Tree::Parse(text, fileName_);
}

void FileStore::Update(const std::function<void(Tree&)>& change) {
  MakeFolders(VEK::ExtractFileDir(fileName_));
  const std::string lockName = fileName_ + ".lock";
  Descriptor lock(VEKFile::Sys().Open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600));
  if (lock.Get() < 0) Fail(MsgLock, lockName, errno);
  while (VEKFile::Sys().Flock(lock.Get(), LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    // A file system without locks (some network mounts) still lets a single
    // copy keep its settings; only simultaneous writers could then collide.
    if (errno == ENOLCK || errno == EOPNOTSUPP || errno == ENOSYS) break;
    Fail(MsgLock, lockName, errno);
  }
  // What another copy wrote before we got the lock is the base of our change.
  Tree tree = Read();
  const std::string before = tree.Serialize();
  change(tree);
  const std::string after = tree.Serialize();
  if (after != before) Replace(after);
}

void FileStore::Replace(const std::string& text) {
  const std::string target = ResolveLink(fileName_);

  mode_t mode = 0600;
  VEKFile::FileStatus st;
  if (VEKFile::Sys().Stat(target.c_str(), &st) == 0) mode = st.st_mode & 07777;

  // Declared before the descriptor, so that a failure closes the file before
  // the temporary is deleted.
  VEKFile::SafeOutput output(target);
  const int created = output.CreateFile(0600);
  if (created < 0) Fail(MsgWrite, target, -created);
  Descriptor fd(created);
  auto fail = [&](int error) {
    fd.Close();
    Fail(MsgWrite, target, error);
  };
  for (std::size_t done = 0; done < text.size();) {
    struct iovec piece{const_cast<char*>(text.data() + done), text.size() - done};
    const ssize_t wrote = VEKFile::Sys().PWriteV(fd.Get(), &piece, 1, static_cast<off_t>(done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) fail(errno);
    if (wrote == 0) fail(ENOSPC);
    done += static_cast<std::size_t>(wrote);
  }
#ifdef _WIN32
  (void)mode;  // no permission bits: the file inherits its folder's access list
#else
  if (mode != 0600 && ::fchmod(fd.Get(), mode) != 0) fail(errno);
#endif
  if (VEKFile::Sys().FSync(fd.Get()) != 0) fail(errno);
  if (fd.Close() != 0) fail(errno);
  if (const int error = output.Commit()) Fail(MsgWrite, target, error);
  // The new settings are in place, but a crash could still bring the old
  // ones back: the user is told, as for any write that may not have held.
  if (const int error = output.FolderSyncError()) Fail(MsgWrite, target, error);
}

}  // namespace VEKRegistry
