#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "lang/Language.h"
#include "recover/RecoverMessages.h"
#include "recover/Recovery.h"

namespace VEKRecover {

namespace {

// The device's folder under /sys/dev/block, resolved: a partition's lies
// inside its disk's, so a disk holds every device whose folder starts with
// its own. Empty where the system does not tell.
std::string SysfsPath(dev_t device) {
  const std::string link =
      "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
  char resolved[PATH_MAX];
  return ::realpath(link.c_str(), resolved) ? std::string(resolved) + "/" : std::string();
}

}  // namespace

std::string FolderRefusal(const std::string& source, const std::string& folder, const std::string& where) {
  struct stat from {}, to {};
  if (::stat(source.c_str(), &from) != 0 || ::stat(where.c_str(), &to) != 0) return {};
  const std::string refusal = VEK::Text(Msg::FolderOnSource, {folder});
  // An image's films are in the image: a folder beside it overwrites nothing
  // of them. A card's are in its free clusters.
  if (!S_ISBLK(from.st_mode)) return {};
  if (from.st_rdev == to.st_dev) return refusal;
  const std::string disk = SysfsPath(from.st_rdev), holder = SysfsPath(to.st_dev);
  if (!disk.empty() && !holder.empty() && (holder.rfind(disk, 0) == 0 || disk.rfind(holder, 0) == 0))
    return refusal;
  return {};
}

}  // namespace VEKRecover
