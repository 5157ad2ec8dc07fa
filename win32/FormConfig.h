// The Configuration dialog on Windows: the Qt dialog's three pages, their
// controls, texts and tab order, over the same transfer to and from the
// settings record (ConfigTransfer). It keeps no settings of its own.
#pragma once

#include <windows.h>

#include "settings/Config.h"
#include "settings/ConfigChoices.h"

class TFrmConfig {
 public:
  explicit TFrmConfig(HINSTANCE instance) : instance_(instance) {}

  // Fills the dialog from settings, shows it modally over owner and, only
  // when it was closed with Ok, reads every control back into settings.
  // Returns whether it was Ok; on Cancel, Escape or the close box settings
  // stay as they were.
  bool EditConfig(HWND owner, Config& settings);

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK KeyFilter(int code, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

  void CreateControls();
  // Every caption and title in the current language.
  void RetranslateUi();
  // The font and every size for the dialog's dots per inch.
  void ApplyDpi();
  void Layout();
  int Scale(int pixels) const { return MulDiv(pixels, static_cast<int>(dpi_), 96); }
  void ShowPage(int page);
  void Fill(const ConfigChoices& choices);
  // What the controls show now.
  ConfigChoices Shown() const;
  void EnableControls();

  HINSTANCE instance_;
  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr;
  UINT dpi_ = 96;
  HHOOK keyFilter_ = nullptr;
  int page_ = 0;  // the page last shown, shown again at the next opening
  ConfigTransfer transfer_;
  ConfigChoices choices_;  // filled in, and read out on Ok

  HWND PageControl1 = nullptr;
  HWND TabFiles = nullptr, TabMessagesCenter = nullptr, TabPrompts = nullptr;
  HWND ChkDisableAviHandler = nullptr;
  HWND ChkKeepOriginal = nullptr;
  HWND ChkSkipHealthy = nullptr;
  HWND Label1 = nullptr;
  HWND EditPrefix = nullptr;
  HWND ChkMsgAutoClear = nullptr;
  HWND ChkMsgSelectedFile = nullptr;
  HWND LblLanguage = nullptr;
  HWND CboLanguage = nullptr;  // LanguageChoices, in their order
  HWND ChkModifyOriginalPrompt = nullptr;
  HWND ChkStopPrompt = nullptr;
  HWND ChkOverwritePrompt = nullptr;
  HWND GrpOverwriteBehavior = nullptr;
  HWND GrpOverwriteBehaviorItems[3] = {};
  HWND BtnOk = nullptr;
  HWND BtnCancel = nullptr;
};
