// The About window on Windows: the Qt window's banner, the program's name
// and the version its version resource gives, the description, and the mail
// and web links, which the shell opens.
#pragma once

#include <windows.h>

#include <string>

class TFrmAbout {
 public:
  explicit TFrmAbout(HINSTANCE instance) : instance_(instance) {}
  ~TFrmAbout();

  // Shows the window modally over owner; title is the program's name.
  void ShowModal(HWND owner, const std::string& title);

  static const char* const MailAddress;
  static const char* const WebSite;

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);

  void CreateControls();
  // Every text of the window but the name, version and addresses, in the
  // current language.
  void RetranslateUi();
  void ApplyDpi();
  void Layout();
  void Paint();
  int Scale(int pixels) const { return MulDiv(pixels, static_cast<int>(dpi_), 96); }

  HINSTANCE instance_;
  std::string title_;
  HWND hwnd_ = nullptr;
  HFONT font_ = nullptr, bold_ = nullptr;
  HBITMAP banner_ = nullptr;
  UINT dpi_ = 96;
  // The two sunken panels, drawn by the window itself.
  RECT pnlBanner_ = {}, pnlBody_ = {};

  HWND LblVersion = nullptr;
  HWND Memo1 = nullptr;
  HWND Label1 = nullptr;
  HWND Label2 = nullptr;  // the mail address, a link
  HWND Label3 = nullptr;
  HWND Label4 = nullptr;  // the web site, a link
  HWND BtnClose = nullptr;
};
