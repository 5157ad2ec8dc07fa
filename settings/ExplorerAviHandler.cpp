#include "settings/ExplorerAviHandler.h"

#include "settings/Config.h"
#include "settings/Registry.h"
#include "settings/UserRegistry.h"

using VEKRegistry::Registry;
using VEKRegistry::Root;
namespace Keys = ExplorerAviHandlerKeys;

void DisableExplorerAviHandler(VEKRegistry::Store& store) {
  Registry handler(store, Root::ClassesRoot);
  if (!handler.OpenKey(Keys::Handler, false)) return;
  const std::string value = handler.ValueExists("") ? handler.ReadString("") : std::string();
  // Already off: an earlier backup is the value to bring back, keep it.
  if (value.empty()) return;
  Registry backup(store, Root::CurrentUser);
  if (!backup.OpenKey(Keys::Backup, true)) return;
  // Backup first: if blanking fails, the handler is still on and its value safe.
  backup.WriteString(Keys::BackupValue, value);
  handler.WriteString("", "");
}

void RestoreExplorerAviHandler(VEKRegistry::Store& store) {
  Registry handler(store, Root::ClassesRoot);
  if (!handler.OpenKey(Keys::Handler, false)) return;
  Registry backup(store, Root::CurrentUser);
  if (!backup.OpenKey(Keys::Backup, false)) return;
  if (backup.ValueExists(Keys::BackupValue)) {
    const std::string value = backup.ReadString(Keys::BackupValue);
    if (!value.empty()) handler.WriteString("", value);
  }
  backup.CloseKey();
  backup.DeleteKey(Keys::BackupRoot);
}

void ApplyExplorerAviHandler(const Config& config, VEKRegistry::Store& store) {
  if (config.DisableAviHandler)
    DisableExplorerAviHandler(store);
  else
    RestoreExplorerAviHandler(store);
}

void DisableExplorerAviHandler() {
  const auto store = VEKRegistry::OpenUserRegistry();
  DisableExplorerAviHandler(*store);
}

void RestoreExplorerAviHandler() {
  const auto store = VEKRegistry::OpenUserRegistry();
  RestoreExplorerAviHandler(*store);
}

void ApplyExplorerAviHandler(const Config& config) {
  const auto store = VEKRegistry::OpenUserRegistry();
  ApplyExplorerAviHandler(config, *store);
}
