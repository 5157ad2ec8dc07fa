// The two start-up commands an installer runs: "/inst" after installing,
// "/uninst" before removing the program. Both run without the main window;
// the application is initialised and titled by the caller first.
#pragma once

#include "settings/RegistryStore.h"

// The uninstall dialog TFrmUninstall as the uninstall command uses it. It
// holds no settings of its own: the command fills it and reads it back.
class UninstallDialog {
 public:
  virtual ~UninstallDialog() = default;
  // Shows the dialog modally with ChkAviHandler set as given; returns however
  // it was closed (Ok or the frame's close box, there is no Cancel).
  virtual void ShowModal(bool aviHandlerChecked) = 0;
  virtual bool AviHandlerChecked() const = 0;
  virtual bool SettingsChecked() const = 0;
};

// Loads the settings, which applies the stored Explorer AVI handler choice.
void RunInstallCommand();
void RunInstallCommand(VEKRegistry::Store& store);

// Loads the settings, asks through the dialog, applies and saves the handler
// choice, and deletes the settings key when asked to. The backup of the
// handler value and the key "Software\Zantrel" stay.
void RunUninstallCommand(UninstallDialog& dialog);
void RunUninstallCommand(UninstallDialog& dialog, VEKRegistry::Store& store);
