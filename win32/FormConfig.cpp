// The Configuration dialog: its controls are made in code in the message
// font and laid out from their captions at the dialog's dots per inch; each
// page is a child dialog lying on the tab control, as in a property sheet.
#include "win32/FormConfig.h"

// The other system headers use its types.
#include <commctrl.h>
#include <uxtheme.h>
#include <windowsx.h>

#include <algorithm>
#include <string>

#include "win32/Controls.h"
#include "win32/Texts.h"

using ZantrelWin32::Tr;
using ZantrelWin32::U;
using ZantrelWin32::W;

namespace {

// The texts are the Qt dialog's, from its catalogue context (checked at build
// time by win32/make_texts.py).
constexpr char kContext[] = "TFrmConfig";
std::string T(const char* source) { return Tr(kContext, source); }
#define N_(text) text

enum : int {
  IdPageControl = 100,
  IdDisableAviHandler,
  IdKeepOriginal,
  IdSkipHealthy,
  IdLabel1,
  IdPrefix,
  IdMsgAutoClear,
  IdMsgSelectedFile,
  IdLblLanguage,
  IdLanguage,
  IdModifyOriginalPrompt,
  IdStopPrompt,
  IdOverwritePrompt,
  IdOverwriteBehavior,
  IdOverwriteBehaviorItem0,
};

// Sent by the key filter: Ctrl+Tab (wParam true) or Ctrl+Shift+Tab.
constexpr UINT WM_NEXT_PAGE = WM_APP + 1;

// The dialog open on this thread, for the key filter; one at a time.
thread_local HWND openDialog = nullptr;

std::string Caption(HWND control) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return U(text);
}

bool Checked(HWND box) { return Button_GetCheck(box) == BST_CHECKED; }
void SetChecked(HWND box, bool on) { Button_SetCheck(box, on ? BST_CHECKED : BST_UNCHECKED); }

void Place(HWND control, int x, int y, int width, int height) {
  SetWindowPos(control, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace

bool TFrmConfig::EditConfig(HWND owner, Config& settings) {
  // The edit shows the settings' UTF-8 as UTF-16; what it shows unedited is
  // that text again.
  choices_ = transfer_.Fill(settings, U(W(settings.Prefix)), ZantrelWin32::SystemLanguage());
  const ZantrelWin32::EmptyDialog frame(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
  const INT_PTR result =
      DialogBoxIndirectParamW(instance_, frame.Template(), owner, DialogProc, reinterpret_cast<LPARAM>(this));
  if (font_) DeleteObject(font_);
  font_ = nullptr;
  hwnd_ = nullptr;
  if (result != IDOK) return false;
  transfer_.ReadBack(choices_, settings);
  return true;
}

INT_PTR CALLBACK TFrmConfig::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    reinterpret_cast<TFrmConfig*>(lParam)->hwnd_ = dialog;
  }
  auto* self = reinterpret_cast<TFrmConfig*>(GetWindowLongPtrW(dialog, DWLP_USER));
  return self ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR CALLBACK TFrmConfig::PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      // The page shows the tab control's body, as a property sheet's does.
      EnableThemeDialogTexture(page, ETDT_ENABLETAB);
      return FALSE;
    case WM_COMMAND:
      // The controls' notifications are the dialog's.
      SendMessageW(GetParent(page), message, wParam, lParam);
      return TRUE;
  }
  return FALSE;
}

// Ctrl+Tab and Ctrl+Shift+Tab (Ctrl+Page Down and Up) go from page to page
// wherever the focus is, as in the Qt dialog; the dialog manager has no
// such keys, so they are taken before it sees them.
LRESULT CALLBACK TFrmConfig::KeyFilter(int code, WPARAM wParam, LPARAM lParam) {
  const MSG* msg = reinterpret_cast<const MSG*>(lParam);
  if (code == MSGF_DIALOGBOX && openDialog && msg->message == WM_KEYDOWN && GetKeyState(VK_CONTROL) < 0 &&
      (msg->wParam == VK_TAB || msg->wParam == VK_NEXT || msg->wParam == VK_PRIOR) &&
      (msg->hwnd == openDialog || IsChild(openDialog, msg->hwnd))) {
    const bool forward = msg->wParam == VK_NEXT || (msg->wParam == VK_TAB && GetKeyState(VK_SHIFT) >= 0);
    SendMessageW(openDialog, WM_NEXT_PAGE, forward, 0);
    return TRUE;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

INT_PTR TFrmConfig::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      CreateControls();
      RetranslateUi();
      ApplyDpi();
      Fill(choices_);
      ShowPage(page_);
      // Centred on the screen, not on the main window, as the Qt dialog is.
      ZantrelWin32::CenterOnWorkArea(hwnd_);
      openDialog = hwnd_;
      keyFilter_ = SetWindowsHookExW(WH_MSGFILTER, KeyFilter, nullptr, GetCurrentThreadId());
      // The tabs first, as in the Qt dialog; Tab then goes into the page.
      SetFocus(PageControl1);
      return FALSE;
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          choices_ = Shown();
          EndDialog(hwnd_, IDOK);
          return TRUE;
        case IDCANCEL:  // the Cancel button, Escape and the close box
          EndDialog(hwnd_, IDCANCEL);
          return TRUE;
        case IdKeepOriginal:
        case IdOverwritePrompt:
          if (HIWORD(wParam) == BN_CLICKED) EnableControls();
          return TRUE;
      }
      return FALSE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->hwndFrom == PageControl1 && header->code == TCN_SELCHANGE) {
        ShowPage(TabCtrl_GetCurSel(PageControl1));
        return TRUE;
      }
      return FALSE;
    }
    case WM_NEXT_PAGE: {
      const HWND pages[] = {TabFiles, TabMessagesCenter, TabPrompts};
      const bool inPage = IsChild(pages[page_], GetFocus());
      ShowPage((page_ + (wParam ? 1 : 2)) % 3);
      // The focus does not stay on a control that went with its page.
      if (inPage) {
        HWND first = GetNextDlgTabItem(pages[page_], nullptr, FALSE);
        SendMessageW(hwnd_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(first ? first : PageControl1), TRUE);
      }
      return TRUE;
    }
    case WM_DPICHANGED: {
      const RECT* r = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(hwnd_, nullptr, r->left, r->top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      ApplyDpi();
      return TRUE;
    }
    case WM_DESTROY:
      if (keyFilter_) UnhookWindowsHookEx(keyFilter_);
      keyFilter_ = nullptr;
      openDialog = nullptr;
      return FALSE;
  }
  return FALSE;
}

void TFrmConfig::CreateControls() {
  const ZantrelWin32::EmptyDialog pageFrame(WS_CHILD | DS_CONTROL);
  auto page = [&] {
    return CreateDialogIndirectParamW(instance_, pageFrame.Template(), hwnd_, PageProc, reinterpret_cast<LPARAM>(this));
  };
  auto control = [this](HWND parent, const wchar_t* cls, DWORD style, int id, DWORD exStyle = 0) {
    return CreateWindowExW(exStyle, cls, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  };
  auto check = [&](HWND parent, int id) { return control(parent, L"BUTTON", BS_AUTOCHECKBOX | WS_TABSTOP, id); };

  // Controls are made in their tab order. "Files": ChkKeepOriginal decides
  // whether the prefix matters at all, so it comes first, though it is drawn
  // below the Explorer choice.
  TabFiles = page();
  ChkKeepOriginal = check(TabFiles, IdKeepOriginal);
  ChkDisableAviHandler = check(TabFiles, IdDisableAviHandler);
  // Just before its edit, the label is the name a screen reader gives it.
  Label1 = control(TabFiles, L"STATIC", SS_LEFT, IdLabel1);
  EditPrefix = control(TabFiles, L"EDIT", ES_AUTOHSCROLL | WS_TABSTOP, IdPrefix, WS_EX_CLIENTEDGE);
  // Only what is typed is limited: a longer prefix set from the settings is
  // shown and kept whole, and may be shortened but not lengthened.
  SendMessageW(EditPrefix, EM_SETLIMITTEXT, ConfigTransfer::PrefixMaxLength, 0);
  ChkSkipHealthy = check(TabFiles, IdSkipHealthy);

  TabMessagesCenter = page();
  ChkMsgAutoClear = check(TabMessagesCenter, IdMsgAutoClear);
  ChkMsgSelectedFile = check(TabMessagesCenter, IdMsgSelectedFile);
  // The language of the messages, and of the windows with them; the label's
  // mnemonic goes to the list after it.
  LblLanguage = control(TabMessagesCenter, L"STATIC", SS_LEFT, IdLblLanguage);
  CboLanguage = control(TabMessagesCenter, WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, IdLanguage);
  for (const LanguageChoice& choice : LanguageChoices) {
    const std::wstring name = W(choice.Name);
    const LRESULT at = SendMessageW(CboLanguage, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name.c_str()));
    SendMessageW(CboLanguage, CB_SETITEMDATA, at, choice.Language);
  }

  TabPrompts = page();
  ChkModifyOriginalPrompt = check(TabPrompts, IdModifyOriginalPrompt);
  ChkStopPrompt = check(TabPrompts, IdStopPrompt);
  // The check box stands where the group's caption would be, across the top
  // edge of its frame. The group comes last, under the box and its items,
  // and leaves out what lies on it; the box stays enabled with the group off.
  ChkOverwritePrompt = check(TabPrompts, IdOverwritePrompt);
  for (int i = 0; i < 3; ++i)
    GrpOverwriteBehaviorItems[i] = control(
        TabPrompts, L"BUTTON", BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0), IdOverwriteBehaviorItem0 + i);
  GrpOverwriteBehavior = control(TabPrompts, L"BUTTON", BS_GROUPBOX | WS_GROUP | WS_CLIPSIBLINGS, IdOverwriteBehavior);

  BtnOk = control(hwnd_, L"BUTTON", BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, IDOK);
  BtnCancel = control(hwnd_, L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, IDCANCEL);
  // The pages lie on the tabs, which are therefore under every other control:
  // last in the tab order, after Cancel, and so, going round, just before the
  // page, as the tab bar is in the Qt dialog.
  PageControl1 = control(hwnd_, WC_TABCONTROLW, WS_TABSTOP | WS_CLIPSIBLINGS, IdPageControl);
  SetWindowPos(PageControl1, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  TCITEMW item = {};
  item.mask = TCIF_TEXT;
  item.pszText = const_cast<wchar_t*>(L"");
  for (int i = 0; i < 3; ++i) TabCtrl_InsertItem(PageControl1, i, &item);
}

void TFrmConfig::RetranslateUi() {
  SetWindowTextW(hwnd_, W(T("Configuration")).c_str());
  const std::pair<HWND, const char*> captions[] = {
      {ChkDisableAviHandler, N_("Disable Explorer's AVI handler (Windows XP)")},
      {ChkKeepOriginal, N_("Keep original file (create a new file)")},
      {ChkSkipHealthy, N_("Skip files that need no repair")},
      {Label1, N_("Prefix for new files :")},
      {ChkMsgAutoClear, N_("&Clear messages before starting any operation")},
      {ChkMsgSelectedFile, N_("&Display messages for the selected file only")},
      {LblLanguage, N_("&Language :")},
      {ChkModifyOriginalPrompt, N_("Prompt the user before modifying the original file")},
      {ChkStopPrompt, N_("Prompt the user before stopping the current operation")},
      {ChkOverwritePrompt, N_("Prompt the user before overwriting a file")},
      {GrpOverwriteBehaviorItems[0], N_("Skip when file already exists")},
      {GrpOverwriteBehaviorItems[1], N_("Abort when file already exists")},
      {GrpOverwriteBehaviorItems[2], N_("Overwrite when file already exists")},
      {BtnOk, N_("&Ok")},
      {BtnCancel, N_("&Cancel")},
  };
  for (const auto& [control, caption] : captions) SetWindowTextW(control, W(T(caption)).c_str());
  const char* const tabs[] = {N_("Files"), N_("Messages Center"), N_("Prompts")};
  for (int i = 0; i < 3; ++i) {
    std::wstring text = W(T(tabs[i]));
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = text.data();
    TabCtrl_SetItem(PageControl1, i, &item);
  }
}

void TFrmConfig::ApplyDpi() {
  dpi_ = GetDpiForWindow(hwnd_);
  HFONT font = ZantrelWin32::MessageFont(dpi_);
  EnumChildWindows(
      hwnd_,
      [](HWND child, LPARAM f) {
        SendMessageW(child, WM_SETFONT, static_cast<WPARAM>(f), FALSE);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(font));
  if (font_) DeleteObject(font_);
  font_ = font;
  Layout();
  InvalidateRect(hwnd_, nullptr, TRUE);
}

void TFrmConfig::Layout() {
  const int line = ZantrelWin32::FontMetrics(hwnd_, font_).tmHeight;
  const int mark = GetSystemMetricsForDpi(SM_CXMENUCHECK, dpi_);
  const int box = std::max(line, mark) + Scale(4);
  const int edit = line + Scale(7);
  const int margin = Scale(9), spacing = Scale(6);
  auto width = [&](HWND control) {
    return static_cast<int>(ZantrelWin32::TextSize(control, font_, Caption(control)).cx);
  };
  // A check box or radio item as wide as its mark and whole caption: one on a
  // frame hides no more of the frame than it needs.
  auto boxWidth = [&](HWND control) { return mark + Scale(6) + width(control) + Scale(2); };
  SetWindowPos(CboLanguage, nullptr, 0, 0, Scale(100), Scale(120), SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT r;
  GetWindowRect(CboLanguage, &r);  // the closed list's height, which follows the font
  const int combo = r.bottom - r.top;
  int comboWidth = 0;
  for (const LanguageChoice& choice : LanguageChoices)
    comboWidth = std::max<int>(comboWidth,
                               ZantrelWin32::TextSize(CboLanguage, font_, choice.Name, DT_SINGLELINE | DT_NOPREFIX).cx);
  comboWidth += GetSystemMetricsForDpi(SM_CXVSCROLL, dpi_) + Scale(12);

  // Each page's needs: the widest caption, the height of its column.
  const int pageWidth =
      std::max({boxWidth(ChkDisableAviHandler), boxWidth(ChkKeepOriginal), width(Label1), boxWidth(ChkSkipHealthy),
                boxWidth(ChkMsgAutoClear), boxWidth(ChkMsgSelectedFile), width(LblLanguage) + spacing + comboWidth,
                boxWidth(ChkModifyOriginalPrompt), boxWidth(ChkStopPrompt), Scale(8) + boxWidth(ChkOverwritePrompt),
                Scale(9) + boxWidth(GrpOverwriteBehaviorItems[0]) + Scale(9),
                Scale(9) + boxWidth(GrpOverwriteBehaviorItems[1]) + Scale(9),
                Scale(9) + boxWidth(GrpOverwriteBehaviorItems[2]) + Scale(9)}) +
      2 * margin;
  const int filesHeight = 3 * box + line + edit + 4 * spacing + Scale(6);
  const int messagesHeight = 2 * box + combo + 2 * spacing + Scale(6);
  const int groupTop = box / 2;
  const int itemsTop = groupTop + box / 2 + Scale(3);
  const int groupHeight = itemsTop - groupTop + 3 * box + 2 * Scale(2) + Scale(6);
  const int promptsHeight = 2 * box + 2 * Scale(4) + groupTop + groupHeight;
  const int pageHeight = std::max({filesHeight, messagesHeight, promptsHeight}) + 2 * margin;

  // The designed size, unless a larger font needs more room to show every
  // caption whole; the frame is fixed either way.
  const int outerX = Scale(5), outerY = Scale(6);
  const int button = std::max(Scale(23), line + Scale(7));
  const int okWidth = std::max(Scale(75), width(BtnOk) + Scale(16));
  const int cancelWidth = std::max(Scale(75), width(BtnCancel) + Scale(16));
  RECT tab = {0, 0, pageWidth, pageHeight};
  TabCtrl_AdjustRect(PageControl1, TRUE, &tab);
  const int clientWidth = std::max<int>(Scale(385), tab.right - tab.left + 2 * outerX);
  const int clientHeight = std::max<int>(Scale(239), tab.bottom - tab.top + 2 * outerY + spacing + button);
  ZantrelWin32::SetClientSize(hwnd_, clientWidth, clientHeight);

  tab = {outerX, outerY, clientWidth - outerX, clientHeight - outerY - button - spacing};
  Place(PageControl1, tab.left, tab.top, tab.right - tab.left, tab.bottom - tab.top);
  RECT display = tab;
  TabCtrl_AdjustRect(PageControl1, FALSE, &display);
  const int inner = display.right - display.left - 2 * margin;
  for (HWND p : {TabFiles, TabMessagesCenter, TabPrompts})
    Place(p, display.left, display.top, display.right - display.left, display.bottom - display.top);
  const int buttonTop = clientHeight - outerY - button;
  Place(BtnCancel, clientWidth - outerX - cancelWidth, buttonTop, cancelWidth, button);
  Place(BtnOk, clientWidth - outerX - cancelWidth - spacing - okWidth, buttonTop, okWidth, button);

  int y = margin;
  Place(ChkDisableAviHandler, margin, y, boxWidth(ChkDisableAviHandler), box);
  Place(ChkKeepOriginal, margin, y += box + spacing, boxWidth(ChkKeepOriginal), box);
  Place(Label1, margin, y += box + spacing + Scale(6), inner, line);
  Place(EditPrefix, margin, y += line + spacing, inner, edit);
  Place(ChkSkipHealthy, margin, y += edit + spacing, boxWidth(ChkSkipHealthy), box);

  y = margin;
  Place(ChkMsgAutoClear, margin, y, boxWidth(ChkMsgAutoClear), box);
  Place(ChkMsgSelectedFile, margin, y += box + spacing, boxWidth(ChkMsgSelectedFile), box);
  y += box + spacing + Scale(6);
  Place(LblLanguage, margin, y + (combo - line) / 2, width(LblLanguage), line);
  // The list's height is that of the open list; the control keeps its own.
  Place(CboLanguage, margin + width(LblLanguage) + spacing, y, comboWidth, combo + 4 * line);

  y = margin;
  Place(ChkModifyOriginalPrompt, margin, y, boxWidth(ChkModifyOriginalPrompt), box);
  Place(ChkStopPrompt, margin, y += box + Scale(4), boxWidth(ChkStopPrompt), box);
  y += box + Scale(4);
  Place(ChkOverwritePrompt, margin + Scale(8), y, boxWidth(ChkOverwritePrompt), box);
  Place(GrpOverwriteBehavior, margin, y + groupTop, inner, groupHeight);
  for (int i = 0; i < 3; ++i)
    Place(GrpOverwriteBehaviorItems[i], margin + Scale(9), y + itemsTop + i * (box + Scale(2)),
          boxWidth(GrpOverwriteBehaviorItems[i]), box);
}

void TFrmConfig::ShowPage(int page) {
  page_ = std::clamp(page, 0, 2);
  TabCtrl_SetCurSel(PageControl1, page_);
  const HWND pages[] = {TabFiles, TabMessagesCenter, TabPrompts};
  for (int i = 0; i < 3; ++i) ShowWindow(pages[i], i == page_ ? SW_SHOW : SW_HIDE);
}

void TFrmConfig::Fill(const ConfigChoices& c) {
  SetChecked(ChkDisableAviHandler, c.DisableAviHandler);
  SetChecked(ChkKeepOriginal, c.KeepOriginal);
  SetWindowTextW(EditPrefix, W(c.Prefix).c_str());
  SetChecked(ChkSkipHealthy, c.SkipHealthy);
  SetChecked(ChkMsgAutoClear, c.AutoClear);
  SetChecked(ChkMsgSelectedFile, c.SelectedFile);
  const int count = static_cast<int>(SendMessageW(CboLanguage, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i)
    if (SendMessageW(CboLanguage, CB_GETITEMDATA, i, 0) == c.Language) SendMessageW(CboLanguage, CB_SETCURSEL, i, 0);
  SetChecked(ChkModifyOriginalPrompt, c.ModifyOriginalPrompt);
  SetChecked(ChkStopPrompt, c.StopPrompt);
  SetChecked(ChkOverwritePrompt, c.OverwritePrompt);
  for (int i = 0; i < 3; ++i) SetChecked(GrpOverwriteBehaviorItems[i], c.OverwriteBehavior == i);
  EnableControls();
}

ConfigChoices TFrmConfig::Shown() const {
  ConfigChoices c;
  c.DisableAviHandler = Checked(ChkDisableAviHandler);
  c.KeepOriginal = Checked(ChkKeepOriginal);
  c.Prefix = Caption(EditPrefix);
  c.SkipHealthy = Checked(ChkSkipHealthy);
  c.AutoClear = Checked(ChkMsgAutoClear);
  c.SelectedFile = Checked(ChkMsgSelectedFile);
  const LRESULT selected = SendMessageW(CboLanguage, CB_GETCURSEL, 0, 0);
  if (selected != CB_ERR)
    c.Language = static_cast<std::int8_t>(SendMessageW(CboLanguage, CB_GETITEMDATA, static_cast<WPARAM>(selected), 0));
  c.ModifyOriginalPrompt = Checked(ChkModifyOriginalPrompt);
  c.StopPrompt = Checked(ChkStopPrompt);
  c.OverwritePrompt = Checked(ChkOverwritePrompt);
  c.OverwriteBehavior = -1;
  for (int i = 0; i < 3; ++i)
    if (Checked(GrpOverwriteBehaviorItems[i])) c.OverwriteBehavior = i;
  return c;
}

void TFrmConfig::EnableControls() {
  const ConfigChoices c = Shown();
  EnableWindow(EditPrefix, c.PrefixEnabled());
  EnableWindow(GrpOverwriteBehavior, c.OverwriteBehaviorEnabled());
  for (HWND item : GrpOverwriteBehaviorItems) EnableWindow(item, c.OverwriteBehaviorEnabled());
}
