// The uninstall dialog of the installer's "/uninst" command on Windows.
#pragma once

#include <windows.h>

#include "settings/InstallCommands.h"

class TFrmUninstall : public UninstallDialog {
 public:
  explicit TFrmUninstall(HINSTANCE instance) : instance_(instance) {}
  void ShowModal(bool aviHandlerChecked) override;
  bool AviHandlerChecked() const override { return aviHandler_; }
  bool SettingsChecked() const override { return settings_; }

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

  HINSTANCE instance_;
  bool aviHandler_ = true;
  bool settings_ = false;
};
