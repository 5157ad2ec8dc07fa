#include "settings/InstallCommands.h"

#include "settings/Config.h"
#include "settings/ExplorerAviHandler.h"
#include "settings/Registry.h"
#include "settings/UserRegistry.h"

void RunInstallCommand(VEKRegistry::Store& store) {
  Config config;
  config.Load(store);
}

void RunUninstallCommand(UninstallDialog& dialog, VEKRegistry::Store& store) {
  Config config;
  config.Load(store);
  dialog.ShowModal(!config.DisableAviHandler);
  config.DisableAviHandler = !dialog.AviHandlerChecked();
  ApplyExplorerAviHandler(config, store);
  config.Save(store);
  if (dialog.SettingsChecked()) {
    VEKRegistry::Registry reg(store);
    // A key already gone is no failure here; an uninstall has nothing to
    // report it to. Errors of the store itself still reach the caller.
    reg.DeleteKey(SettingsKeys::Root);
  }
}

void RunInstallCommand() {
  const auto store = VEKRegistry::OpenUserRegistry();
  RunInstallCommand(*store);
}

void RunUninstallCommand(UninstallDialog& dialog) {
  const auto store = VEKRegistry::OpenUserRegistry();
  RunUninstallCommand(dialog, *store);
}
