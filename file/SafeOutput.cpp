#include "file/SafeOutput.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <random>

#include "file/SystemCalls.h"
#include "util/Paths.h"

namespace VEKFile {

namespace {

constexpr std::size_t TagLength = 6;

// The hidden name beside finalName: the leading dot, the final name, a dot
// and the tag, the suffix.
std::string TemporaryNameFor(const std::string& finalName, std::mt19937_64& random) {
  std::string name = VEK::ExtractFileName(finalName);
  const std::size_t room = NAME_MAX - 1 - (1 + TagLength) - std::char_traits<char>::length(SafeOutput::PartialSuffix);
  if (name.size() > room) {
    // Cut before a UTF-8 continuation byte would leave half a character,
    // which file managers show as a replacement mark.
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) --cut;
    name.resize(cut);
  }
  static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string tag(TagLength, 'x');
  for (char& c : tag) c = letters[random() % (sizeof letters - 1)];
  return VEK::ExtractFilePath(finalName) + "." + name + "." + tag + SafeOutput::PartialSuffix;
}

int SyncFolderOf(const std::string& path) {
  std::string dir = VEK::ExtractFileDir(path);
  if (dir.empty()) dir = ".";
  const int fd = Sys().Open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return errno;
  int error = 0;
  if (Sys().FSync(fd) != 0 && errno != EINVAL) error = errno;
  Sys().Close(fd);
  return error;
}

}  // namespace

SafeOutput::SafeOutput(std::string finalName) : finalName_(std::move(finalName)) {}

SafeOutput::~SafeOutput() { Discard(); }

int SafeOutput::Create(const std::function<int(const std::string& temporary)>& create) {
  Discard();
  committed_ = false;
  folderSyncError_ = 0;
  const std::string name = VEK::ExtractFileName(finalName_);
  if (name.size() > NAME_MAX) return ENAMETOOLONG;
  FileStatus st;
  if (name.empty() || (Sys().Stat(finalName_.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) return EISDIR;
  std::random_device seed;
  std::mt19937_64 random((static_cast<std::uint64_t>(seed()) << 32) ^ seed());
  for (int draw = 0; draw < MaxDraws; ++draw) {
    const std::string temporary = TemporaryNameFor(finalName_, random);
    const int error = create(temporary);
    if (error == EEXIST) continue;  // another run's name, or a planted one: never ours to touch
    if (error == 0) temporaryName_ = temporary;
    return error;
  }
  return EEXIST;
}

int SafeOutput::CreateFile(mode_t mode) {
  int fd = -1;
  const int error = Create([&](const std::string& temporary) {
    fd = Sys().Open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, mode);
    return fd < 0 ? errno : 0;
  });
  return error != 0 ? -error : fd;
}

int SafeOutput::Commit() {
  if (temporaryName_.empty()) return ENOENT;
  if (Sys().Rename(temporaryName_.c_str(), finalName_.c_str()) != 0) return errno;
  committed_ = true;
  temporaryName_.clear();  // the file has its final name now: nothing deletes it
  // Without this the rename itself may not survive a crash.
  folderSyncError_ = SyncFolderOf(finalName_);
  return 0;
}

void SafeOutput::Discard() {
  // Only a temporary this object made is deleted, never the final name. A
  // failed unlink leaves a hidden partial file, with nothing to tell here.
  if (!temporaryName_.empty()) Sys().Unlink(temporaryName_.c_str());
  temporaryName_.clear();
}

}  // namespace VEKFile
