// Switching Explorer's AVI property handler off and on again. The handler is
// the default value of the Handler key below (under HKEY_CLASSES_ROOT);
// switching off keeps it as "AviHandler" in the Backup key (under
// HKEY_CURRENT_USER) and blanks it, switching on puts it back and removes
// the backup. A key that cannot be opened makes them do nothing;
// the store's errors on reading or writing a value go to the caller.
#pragma once

#include "settings/RegistryStore.h"

class Config;

namespace ExplorerAviHandlerKeys {
inline constexpr char Handler[] = "SystemFileAssociations\\.avi\\shellex\\PropertyHandler";
inline constexpr char Backup[] = "Software\\Zantrel-Backup\\0.2";
inline constexpr char BackupRoot[] = "Software\\Zantrel-Backup";
inline constexpr char BackupValue[] = "AviHandler";
}  // namespace ExplorerAviHandlerKeys

void DisableExplorerAviHandler();
void DisableExplorerAviHandler(VEKRegistry::Store& store);
void RestoreExplorerAviHandler();
void RestoreExplorerAviHandler(VEKRegistry::Store& store);
// Disable when config.DisableAviHandler, else Restore.
void ApplyExplorerAviHandler(const Config& config);
void ApplyExplorerAviHandler(const Config& config, VEKRegistry::Store& store);
