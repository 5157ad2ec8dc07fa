#include <windows.h>

#include <string>

#include "lang/Language.h"
#include "recover/RecoverMessages.h"
#include "recover/Recovery.h"
#include "recover/SourceName.h"
#include "util/Utf16.h"

namespace VEKRecover {

// A card opened as a drive (\\.\E:, or E: alone) holds the films of that
// volume: a folder whose volume is that drive's is refused. An image's films
// are in the image, and a folder beside it overwrites nothing of them.
std::string FolderRefusal(const std::string& source, const std::string& folder, const std::string& where) {
  const char drive = SourceDrive(source);
  if (drive == 0) return {};
  wchar_t volume[MAX_PATH + 1] = {};
  if (!::GetVolumePathNameW(reinterpret_cast<const wchar_t*>(VEK::Utf8ToUtf16(where).c_str()), volume, MAX_PATH)) return {};
  if (::towupper(volume[0]) == static_cast<wchar_t>(drive) && volume[1] == L':') return VEK::Text(Msg::FolderOnSource, {folder});
  return {};
}

}  // namespace VEKRecover
