// The configuration dialog: the user options of the settings record on three
// tabs, the language among them. It keeps no settings of its own; the main
// window fills it from its Config before each showing and reads it back
// after Ok.
#pragma once

#include <QDialog>
#include <QString>

#include "settings/Config.h"
#include "settings/ConfigChoices.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

class TFrmConfig : public QDialog {
  Q_OBJECT

 public:
  static constexpr int ClientWidth = 385;
  static constexpr int ClientHeight = 239;
  // Longest prefix that can be typed; a longer stored one is shown and kept.
  static constexpr int PrefixMaxLength = ConfigTransfer::PrefixMaxLength;

  explicit TFrmConfig(QWidget* parent = nullptr);

  // Fills the dialog from settings, shows it modally and, only when it was
  // closed with Ok, reads every control back into settings. Returns whether
  // it was Ok; on Cancel or the frame's close box settings stay as they were.
  bool EditConfig(Config& settings);

  // The two halves of EditConfig, for a caller that runs the dialog itself.
  void Fill(const Config& settings);
  void ReadBack(Config& settings) const;

 protected:
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // Every caption and title in the current language.
  void RetranslateUi();
  void FitSize();
  // What the controls show now.
  ConfigChoices Shown() const;
  void ChkKeepOriginalClick();
  void ChkOverwritePromptClick();

  QTabWidget* PageControl1;
  QCheckBox* ChkDisableAviHandler;
  QCheckBox* ChkKeepOriginal;
  QCheckBox* ChkSkipHealthy;
  QLabel* Label1;
  QLineEdit* EditPrefix;
  QCheckBox* ChkMsgAutoClear;
  QCheckBox* ChkMsgSelectedFile;
  QLabel* LblLanguage;
  QComboBox* CboLanguage;  // English, Français
  QCheckBox* ChkModifyOriginalPrompt;
  QCheckBox* ChkStopPrompt;
  QCheckBox* ChkOverwritePrompt;
  QGroupBox* GrpOverwriteBehavior;
  QButtonGroup* GrpOverwriteBehaviorItems;
  QPushButton* BtnOk;
  QPushButton* BtnCancel;

  class PrefixValidator;
  PrefixValidator* prefixValidator_;
  // What was last filled: an unedited prefix goes back byte for byte, even
  // one the system code page cannot show exactly.
  ConfigTransfer transfer_;
};
