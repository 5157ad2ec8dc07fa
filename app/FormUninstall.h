// The uninstall dialog: asks, when the program is removed, whether Explorer's
// AVI handler should come back and whether the settings should go. Uninstall
// mode fills it, shows it and reads it back; it keeps nothing of its own.
#pragma once

#include <QDialog>

#include "settings/InstallCommands.h"

class QCheckBox;
class QLabel;
class QPushButton;

class TFrmUninstall : public QDialog, public UninstallDialog {
  Q_OBJECT

 public:
  static constexpr int ClientWidth = 234;
  static constexpr int ClientHeight = 127;

  explicit TFrmUninstall(QWidget* parent = nullptr);

  // Sets ChkAviHandler, then shows the dialog modally until Ok or the frame's
  // close box; ChkSettings keeps whatever state it has.
  void ShowModal(bool aviHandlerChecked) override;
  bool AviHandlerChecked() const override;
  bool SettingsChecked() const override;

 public slots:
  // There is no Cancel: the close box and Escape end the dialog like Ok.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;  // a new language: RetranslateUi

 private:
  // The captions in the current language, and the room they need.
  void RetranslateUi();

  QLabel* LblOptions;
  QCheckBox* ChkAviHandler;
  QCheckBox* ChkSettings;
  QPushButton* BtnOk;
};
