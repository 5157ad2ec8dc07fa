// The About window. The banner is the Qt window's picture, turned into a
// bitmap resource at build time; the links are SysLink controls whose
// addresses the shell opens.
#include "win32/FormAbout.h"

// The other system headers use its types.
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>

#include "lang/AppVersion.h"
#include "win32/Controls.h"
#include "win32/Resources.h"
#include "win32/Texts.h"

using ZantrelWin32::Tr;
using ZantrelWin32::U;
using ZantrelWin32::W;

namespace {

constexpr char kContext[] = "ZantrelDialogs::TFrmAbout";
std::string T(const char* source) { return Tr(kContext, source); }

enum : int { IdVersion = 100, IdMemo, IdLabel1, IdLabel2, IdLabel3, IdLabel4 };

constexpr int ClientWidth = 558;
constexpr int ClientHeight = 381;
constexpr int BannerPanelHeight = 61;

std::string ProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      return U(path);
    }
    path.resize(path.size() * 2);
  }
}

// An edit control breaks lines at "\r\n" only.
std::wstring EditText(const std::string& text) {
  std::wstring out;
  for (wchar_t c : W(text)) {
    if (c == L'\n') out += L'\r';
    out += c;
  }
  return out;
}

std::wstring LinkMarkup(const std::string& address, const std::string& shown) {
  return L"<a href=\"" + W(address) + L"\">" + W(shown) + L"</a>";
}

}  // namespace

const char* const TFrmAbout::MailAddress = "zantrel@zantrel.org";
const char* const TFrmAbout::WebSite = "https://zantrel.org/";

TFrmAbout::~TFrmAbout() {
  if (banner_) DeleteObject(banner_);
}

void TFrmAbout::ShowModal(HWND owner, const std::string& title) {
  title_ = title;
  if (!banner_)
    banner_ = static_cast<HBITMAP>(
        LoadImageW(instance_, MAKEINTRESOURCEW(IDB_BANNER), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  const ZantrelWin32::EmptyDialog frame(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN | DS_MODALFRAME);
  DialogBoxIndirectParamW(instance_, frame.Template(), owner, DialogProc, reinterpret_cast<LPARAM>(this));
  for (HFONT* font : {&font_, &bold_}) {
    if (*font) DeleteObject(*font);
    *font = nullptr;
  }
  hwnd_ = nullptr;
}

INT_PTR CALLBACK TFrmAbout::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    reinterpret_cast<TFrmAbout*>(lParam)->hwnd_ = dialog;
  }
  auto* self = reinterpret_cast<TFrmAbout*>(GetWindowLongPtrW(dialog, DWLP_USER));
  return self ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR TFrmAbout::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      CreateControls();
      RetranslateUi();
      ApplyDpi();
      // Centred on its screen, not on the main window, as the Qt window is.
      ZantrelWin32::CenterOnWorkArea(hwnd_);
      SetFocus(BtnClose);
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(hwnd_, IDOK);
        return TRUE;
      }
      return FALSE;
    case WM_NOTIFY: {
      const auto* link = reinterpret_cast<const NMLINK*>(lParam);
      if ((link->hdr.hwndFrom == Label2 || link->hdr.hwndFrom == Label4) &&
          (link->hdr.code == NM_CLICK || link->hdr.code == NM_RETURN)) {
        // What the system does with the address (a mail program, a browser)
        // is its own; nothing is shown when it has nothing to open it with.
        ShellExecuteW(hwnd_, L"open", link->item.szUrl, nullptr, nullptr, SW_SHOWNORMAL);
        return TRUE;
      }
      return FALSE;
    }
    case WM_CTLCOLORSTATIC:
      // The description reads as the window's own text, on its background.
      if (reinterpret_cast<HWND>(lParam) == Memo1) {
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_BTNFACE));
      }
      return FALSE;
    case WM_PAINT:
      Paint();
      return TRUE;
    case WM_DPICHANGED: {
      const RECT* r = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd_, nullptr, r->left, r->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      ApplyDpi();
      return TRUE;
    }
  }
  return FALSE;
}

void TFrmAbout::CreateControls() {
  auto control = [this](const wchar_t* cls, DWORD style, int id, const std::wstring& text = L"") {
    return CreateWindowExW(0, cls, text.c_str(), WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, hwnd_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  };
  LblVersion =
      control(L"STATIC", SS_LEFT | SS_NOPREFIX, IdVersion, W(title_ + " " + VEK::FileVersionText(ProgramPath())));
  Memo1 = control(L"EDIT", ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, IdMemo);
  Label1 = control(L"STATIC", SS_LEFT | SS_NOPREFIX, IdLabel1);
  Label2 = control(WC_LINK, WS_TABSTOP, IdLabel2, LinkMarkup(std::string("mailto:") + MailAddress, MailAddress));
  Label3 = control(L"STATIC", SS_LEFT | SS_NOPREFIX, IdLabel3);
  Label4 = control(WC_LINK, WS_TABSTOP, IdLabel4, LinkMarkup(WebSite, WebSite));
  BtnClose = control(L"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP, IDOK);
}

void TFrmAbout::RetranslateUi() {
  SetWindowTextW(hwnd_, W(T("About")).c_str());
  SetWindowTextW(Memo1,
                 EditText(T("Zantrel was made from the OpenDML AVI File Format Extensions and the AVI file format "
                            "documents. It checks damaged or partially downloaded AVI files for errors and rebuilds "
                            "their index, so that they can be watched again.\n\n"
                            "Please report any error you meet, together with its description, the text of the "
                            "Messages Center and the steps that reproduce it. If Zantrel cannot fix one of your "
                            "files, please say where that file can be downloaded.\n\n"
                            "You use this program at your own risk."))
                     .c_str());
  SetWindowTextW(Label1, W(T("Send me your comments and bug reports at")).c_str());
  SetWindowTextW(Label3, W(T("web site :")).c_str());
  SetWindowTextW(BtnClose, W(T("Close")).c_str());
}

void TFrmAbout::ApplyDpi() {
  dpi_ = GetDpiForWindow(hwnd_);
  HFONT font = ZantrelWin32::MessageFont(dpi_), bold = ZantrelWin32::MessageFont(dpi_, true);
  for (HWND w : {Memo1, Label1, Label2, Label3, Label4, BtnClose})
    SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  SendMessageW(LblVersion, WM_SETFONT, reinterpret_cast<WPARAM>(bold), FALSE);
  for (HFONT* old : {&font_, &bold_})
    if (*old) DeleteObject(*old);
  font_ = font;
  bold_ = bold;
  Layout();
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void TFrmAbout::Layout() {
  const int line = ZantrelWin32::FontMetrics(hwnd_, font_).tmHeight;
  const int boldLine = ZantrelWin32::FontMetrics(hwnd_, bold_).tmHeight;
  auto width = [&](HWND control, HFONT font, const std::string& text) {
    return static_cast<int>(ZantrelWin32::TextSize(control, font, text, DT_SINGLELINE | DT_NOPREFIX).cx);
  };
  auto caption = [](HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return U(text);
  };
  const int clientWidth = Scale(ClientWidth), clientHeight = Scale(ClientHeight);
  ZantrelWin32::SetClientSize(hwnd_, clientWidth, clientHeight);
  const int margin = Scale(8), spacing = Scale(8);
  const int button = std::max(Scale(23), line + Scale(7));
  const int closeWidth = std::max(Scale(75), width(BtnClose, font_, caption(BtnClose)) + Scale(16));
  const int buttonTop = clientHeight - margin - button;
  SetWindowPos(BtnClose, nullptr, (clientWidth - closeWidth) / 2, buttonTop, closeWidth, button, SWP_NOZORDER);

  pnlBanner_ = {margin, margin, clientWidth - margin, margin + Scale(BannerPanelHeight)};
  pnlBody_ = {margin, pnlBanner_.bottom + spacing, clientWidth - margin, buttonTop - spacing};
  const int left = pnlBody_.left + Scale(12), right = pnlBody_.right - Scale(12);
  const int top = pnlBody_.top + Scale(10), bottom = pnlBody_.bottom - Scale(10);
  const int gap = Scale(6);
  SetWindowPos(LblVersion, nullptr, left, top, right - left, boldLine, SWP_NOZORDER);
  const int webTop = bottom - line, mailTop = webTop - gap - line;
  const int memoTop = top + boldLine + gap, memoHeight = std::max(0, mailTop - gap - memoTop);
  // A scroll bar only for a text longer than the room, as in the Qt window.
  const SIZE text =
      ZantrelWin32::TextSize(Memo1, font_, caption(Memo1), DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX, right - left);
  LONG_PTR style = GetWindowLongPtrW(Memo1, GWL_STYLE);
  style = text.cy > memoHeight ? style | WS_VSCROLL : style & ~static_cast<LONG_PTR>(WS_VSCROLL);
  SetWindowLongPtrW(Memo1, GWL_STYLE, style);
  SetWindowPos(Memo1, nullptr, left, memoTop, right - left, memoHeight, SWP_NOZORDER | SWP_FRAMECHANGED);

  const struct {
    HWND Label, Link;
    int Top;
    std::string Address;
  } rows[] = {{Label1, Label2, mailTop, MailAddress}, {Label3, Label4, webTop, WebSite}};
  for (const auto& row : rows) {
    const int labelWidth = width(row.Label, font_, caption(row.Label));
    SetWindowPos(row.Label, nullptr, left, row.Top, labelWidth, line, SWP_NOZORDER);
    SetWindowPos(row.Link, nullptr, left + labelWidth + gap, row.Top,
                 std::min(right - left - labelWidth - gap, width(row.Link, font_, row.Address) + Scale(4)), line,
                 SWP_NOZORDER);
  }
}

void TFrmAbout::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd_, &ps);
  RECT banner = pnlBanner_, body = pnlBody_;
  DrawEdge(dc, &banner, BDR_SUNKENOUTER, BF_RECT | BF_ADJUST);
  DrawEdge(dc, &body, BDR_SUNKENOUTER, BF_RECT);
  BITMAP bm = {};
  if (banner_ && GetObjectW(banner_, sizeof bm, &bm)) {
    // The panel is lower than the picture: the picture is centred and its
    // top and bottom are cut off by the panel. Its pixels are those of 96
    // dots per inch, drawn larger on a denser screen.
    const int innerWidth = banner.right - banner.left, innerHeight = banner.bottom - banner.top;
    const int sourceHeight = std::min<int>(bm.bmHeight, MulDiv(innerHeight, 96, static_cast<int>(dpi_)));
    const int sourceTop = (bm.bmHeight - sourceHeight) / 2;
    const int drawnWidth = Scale(bm.bmWidth), drawnHeight = Scale(sourceHeight);
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, banner_);
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, banner.left, banner.top, banner.right, banner.bottom);
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, banner.left + (innerWidth - drawnWidth) / 2, banner.top + (innerHeight - drawnHeight) / 2,
               drawnWidth, drawnHeight, memory, 0, sourceTop, bm.bmWidth, sourceHeight, SRCCOPY);
    RestoreDC(dc, saved);
    SelectObject(memory, old);
    DeleteDC(memory);
  }
  EndPaint(hwnd_, &ps);
}
