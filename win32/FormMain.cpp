#include "win32/FormMain.h"

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <windowsx.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>

#include "batch/BatchSummary.h"
#include "batch/RecoveryRows.h"
#include "batch/Report.h"
#include "batch/RowFiles.h"
#include "batch/RunDisplay.h"
#include "recover/RecoverMessages.h"
#include "settings/ConfigChoices.h"
#include "settings/UserRegistry.h"
#include "util/Paths.h"
#include "win32/Controls.h"
#include "win32/DamageStrip.h"
#include "win32/HandOver.h"
#include "win32/Resources.h"
#include "win32/Texts.h"

using ZantrelWin32::Tr;
using ZantrelWin32::U;
using ZantrelWin32::W;

namespace {

using namespace VEKRiff::WindowTexts;

const wchar_t* const kClassName = ZantrelWin32::MainWindowClass;
constexpr UINT WM_SERVE_HANDOVERS = WM_APP + 1;

// Child window and command numbers.
enum : int {
  IdToolBar = 10,
  IdFiles,
  IdLabel,
  IdLogs,
  IdStatus,
  IdProgress1,
  IdProgress2,
  IdStatusBar,
  IdRate,
  IdBatch,
  IdStrip,
  ActFileClear = 1000,
  ActFileAdd,
  ActFileAddFolder,
  ActFileRemove,
  ActSaveMessages,
  ActCopyMessages,
  ActFileQuit,
  ActActionCheckErrors,
  ActActionFix,
  ActReference,
  ActActionStop,
  MnuStayOnTop,
  ActConfig,
  MnuAbout,
  ActOpenFile,
  ActOpenFixedFile,
  ActOpenContainingFolder,
  ActSaveReport,
  ActCheckSelected,
  ActRebuildSelected,
  ActShowCopyFolder,
  MnuOutputColumn,
  ActRecover,
};
enum : UINT_PTR { TmrProgress = 1, TmrLines, TmrCheckErrors, TmrRebuildIndex, TmrHandOvers };

// The list's columns by their number: name, folder, result; the result is
// shown second, beside the name, and the long folder last.
constexpr int ResultColumn = 2;
// The file that holds a row's repair, last, while the user shows it.
constexpr int OutputColumn = SettingsWindow::OutputColumn;

// The window's texts are those of the Qt window's catalogue context. A text
// given to T or Tr, or marked N_ where a table holds it for later, must be
// one of its sources: the build checks them (win32/make_texts.py).
const char* const kContext = "TFrmMain";
std::string T(const char* source) { return Tr(kContext, source); }
#define N_(text) text

std::string MarkInWords(RowMark mark, bool repaired) {
  switch (mark) {
    case MarkNone:
      return {};
    case MarkOk:
      return repaired ? T("Repaired") : T("Healthy");
    case MarkErrors:
      return T("Errors found, or not done");
    case MarkBusy:
      return T("Being worked on");
    case MarkRebuilt:
      return T("Rebuilt");
    case MarkAborted:
      return T("Stopped");
    case MarkSkipped:
      return T("Skipped");
    case MarkNotAvi:
      return T("Not an AVI file");
  }
  return {};
}

// A dialog filter from a Qt one: "Supported types (*.avi);;Any file (*)".
std::wstring DialogFilter(const std::string& qtFilter) {
  std::wstring out;
  std::size_t from = 0;
  while (from <= qtFilter.size()) {
    std::size_t end = qtFilter.find(";;", from);
    if (end == std::string::npos) end = qtFilter.size();
    const std::string item = qtFilter.substr(from, end - from);
    const std::size_t open = item.rfind('('), close = item.rfind(')');
    std::string pattern = open != std::string::npos && close > open ? item.substr(open + 1, close - open - 1) : "*";
    if (pattern == "*") pattern = "*.*";
    out += W(item) + L'\0' + W(pattern) + L'\0';
    from = end + 2;
  }
  return out + L'\0';
}

std::wstring Joined(const VEKRiff::LineList& lines, std::size_t from = 0) {
  std::string text;
  for (std::size_t i = from; i < lines.size(); ++i) {
    if (i > from) text += "\r\n";
    text += lines[i];
  }
  return W(text);
}

int TextWidth(HWND control, HFONT font, const std::string& text) {
  return ZantrelWin32::TextSize(control, font, text, DT_SINGLELINE | DT_NOPREFIX).cx;
}

}  // namespace

TFrmMain::TFrmMain(HINSTANCE instance)
    : Session(HandOvers, prompts_, *this),
      instance_(instance),
      store_(VEKRegistry::OpenUserRegistry()),
      config_(instance),
      about_(instance) {}

TFrmMain::~TFrmMain() {
  // While every member the rows' notifications touch still exists: a search
  // ends stopped, and the staging folder goes with the run that follows.
  search_.reset();
  Session.EndAndWait();
  if (accelerators_) DestroyAcceleratorTable(accelerators_);
  if (rowMenu_) DestroyMenu(rowMenu_);
  if (columnsMenu_) DestroyMenu(columnsMenu_);
  if (marks_) ImageList_Destroy(marks_);
  if (tools_) ImageList_Destroy(tools_);
  if (greyedTools_) ImageList_Destroy(greyedTools_);
  if (font_) DeleteObject(font_);
}

bool TFrmMain::Create() {
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &TFrmMain::WindowProc;
  wc.hInstance = instance_;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kClassName;
  wc.hIcon = LoadIconW(instance_, MAKEINTRESOURCEW(IDI_ZANTREL));
  RegisterClassExW(&wc);
  // A first start takes two thirds of the main screen's free area, in its
  // middle, as the Qt window does; stored settings place it afterwards.
  const UINT dpi = GetDpiForSystem();
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
  const RECT area = monitor.rcWork;
  const int areaWidth = area.right - area.left, areaHeight = area.bottom - area.top;
  const int width = std::min(areaWidth, std::max(MulDiv(552, dpi, 96), areaWidth * 2 / 3));
  const int height = std::min(areaHeight, std::max(MulDiv(501, dpi, 96), areaHeight * 2 / 3));
  hwnd_ = CreateWindowExW(0, kClassName, title_.c_str(), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                          area.left + (areaWidth - width) / 2, area.top + (areaHeight - height) / 2, width, height,
                          nullptr, nullptr, instance_, this);
  if (!hwnd_) return false;
  // The list's panel as wide as its columns, up to three fifths of the
  // window: every column readable on a first start.
  RECT client;
  GetClientRect(hwnd_, &client);
  int columns = GetSystemMetricsForDpi(SM_CXVSCROLL, dpi_) + Scale(4);
  for (int i = 0; i < 3; ++i) columns += ListView_GetColumnWidth(LvwFiles, i);
  filesWidth_ = std::min<int>(columns, client.right * 3 / 5);
  return true;
}

LRESULT CALLBACK TFrmMain::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<TFrmMain*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<TFrmMain*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  return self ? self->Handle(message, wParam, lParam) : DefWindowProcW(hwnd, message, wParam, lParam);
}

void TFrmMain::CreateControls() {
  auto child = [this](DWORD exStyle, const wchar_t* cls, DWORD style, int id) {
    return CreateWindowExW(exStyle, cls, L"", WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, hwnd_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
  };
  ToolBar1 = child(0, TOOLBARCLASSNAMEW, TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP, IdToolBar);
  SendMessageW(ToolBar1, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  LvwFiles = child(WS_EX_CLIENTEDGE, WC_LISTVIEWW, LVS_REPORT | LVS_SHOWSELALWAYS | WS_TABSTOP, IdFiles);
  ListView_SetExtendedListViewStyle(LvwFiles, LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP | LVS_EX_DOUBLEBUFFER);
  LVCOLUMNW column = {};
  column.mask = LVCF_WIDTH | LVCF_TEXT;
  column.pszText = const_cast<wchar_t*>(L"");
  for (int i = 0; i < 3; ++i) {
    column.cx = i == 0 ? 200 : i == 1 ? 350 : 150;
    ListView_InsertColumn(LvwFiles, i, &column);
  }
  int order[3] = {0, ResultColumn, 1};
  ListView_SetColumnOrderArray(LvwFiles, 3, order);
  LblMessages = child(0, L"STATIC", SS_LEFTNOWORDWRAP, IdLabel);
  EdtLogs = child(WS_EX_CLIENTEDGE, L"EDIT",
                  ES_MULTILINE | ES_READONLY | ES_AUTOHSCROLL | ES_AUTOVSCROLL | WS_HSCROLL | WS_VSCROLL | WS_TABSTOP,
                  IdLogs);
  SendMessageW(EdtLogs, EM_SETLIMITTEXT, 0, 0);  // no 32K limit: a long batch has many lines
  PnlStatus = child(0, L"STATIC", SS_LEFTNOWORDWRAP | SS_SUNKEN | SS_CENTERIMAGE, IdStatus);
  ProgressBar1 = child(0, PROGRESS_CLASSW, 0, IdProgress1);
  LblRate = child(0, L"STATIC", SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX, IdRate);
  ProgressBar2 = child(0, PROGRESS_CLASSW, 0, IdProgress2);
  LblBatch = child(0, L"STATIC", SS_CENTER | SS_CENTERIMAGE | SS_NOPREFIX, IdBatch);
  for (HWND w : {PnlStatus, LblRate, ProgressBar1, LblBatch, ProgressBar2}) ShowWindow(w, SW_HIDE);
  StrDamage = ZantrelWin32::CreateDamageStrip(hwnd_, IdStrip, instance_);
  StatusBar1 = child(0, STATUSCLASSNAMEW, SBARS_SIZEGRIP, IdStatusBar);
}

void TFrmMain::BuildMenus() {
  // Captions come with RetranslateUi; the items are made here once.
  auto popup = [](HMENU menu, std::initializer_list<int> ids) {
    for (int id : ids) AppendMenuW(menu, id ? MF_STRING : MF_SEPARATOR, id, L"");
  };
  menu_ = CreateMenu();
  HMENU file = CreatePopupMenu(), action = CreatePopupMenu(), options = CreatePopupMenu(), tools = CreatePopupMenu(),
        help = CreatePopupMenu();
  popup(file, {ActFileClear, 0, ActFileAdd, ActFileAddFolder, ActFileRemove, 0, ActRecover, 0, ActSaveMessages,
               ActSaveReport, ActCopyMessages, 0, ActFileQuit});
  popup(action, {ActActionCheckErrors, ActActionFix, ActCheckSelected, ActRebuildSelected, ActReference, 0,
                 ActActionStop});
  popup(options, {MnuStayOnTop, MnuOutputColumn});
  popup(tools, {ActConfig});
  popup(help, {MnuAbout});
  for (HMENU m : {file, action, options, tools, help}) AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(m), L"");
  SetMenu(hwnd_, menu_);
  rowMenu_ = CreatePopupMenu();
  popup(rowMenu_, {ActCheckSelected, ActRebuildSelected, 0, ActOpenFixedFile, ActOpenFile, 0, ActShowCopyFolder,
                   ActOpenContainingFolder});
  columnsMenu_ = CreatePopupMenu();
  popup(columnsMenu_, {MnuOutputColumn});

  const struct {
    int Id;
    int Image;
  } buttons[] = {{ActFileClear, 0},
                 {0, 0},
                 {ActFileAdd, 1},
                 {ActFileRemove, 2},
                 {0, 0},
                 {ActActionCheckErrors, 3},
                 {ActActionFix, 4},
                 {0, 0},
                 {ActActionStop, 5},
                 {0, 0},
                 {ActConfig, 6}};
  for (const auto& b : buttons) {
    TBBUTTON button = {};
    button.iBitmap = b.Id ? b.Image : 0;
    button.idCommand = b.Id;
    button.fsState = TBSTATE_ENABLED;
    button.fsStyle = b.Id ? BTNS_BUTTON : BTNS_SEP;
    SendMessageW(ToolBar1, TB_ADDBUTTONSW, 1, reinterpret_cast<LPARAM>(&button));
  }
}

void TFrmMain::BuildAccelerators() {
  // The Qt window's shortcuts.
  const ACCEL keys[] = {
      {FCONTROL | FVIRTKEY, 'L', ActFileClear},     {FCONTROL | FVIRTKEY, 'O', ActFileAdd},
      {FCONTROL | FVIRTKEY, VK_INSERT, ActFileAdd}, {FCONTROL | FSHIFT | FVIRTKEY, 'O', ActFileAddFolder},
      {FVIRTKEY, VK_DELETE, ActFileRemove},         {FCONTROL | FVIRTKEY, VK_DELETE, ActFileRemove},
      {FVIRTKEY, VK_F5, ActActionCheckErrors},      {FCONTROL | FVIRTKEY, 'E', ActActionCheckErrors},
      {FCONTROL | FVIRTKEY, 'R', ActActionFix},     {FVIRTKEY, VK_ESCAPE, ActActionStop},
      {FSHIFT | FVIRTKEY, VK_F5, ActCheckSelected}, {FCONTROL | FSHIFT | FVIRTKEY, 'R', ActRebuildSelected},
      {FCONTROL | FVIRTKEY, 'Q', ActFileQuit},      {FCONTROL | FVIRTKEY, VK_OEM_COMMA, ActConfig},
      {FCONTROL | FVIRTKEY, 'S', ActSaveMessages},  {FCONTROL | FSHIFT | FVIRTKEY, 'C', ActCopyMessages},
  };
  accelerators_ = CreateAcceleratorTableW(const_cast<ACCEL*>(keys), static_cast<int>(std::size(keys)));
}

void TFrmMain::RetranslateUi() {
  const struct {
    int Id;
    const char* Caption;
    const char* Keys;
  } items[] = {
      {ActFileClear, N_("&Clear file list"), "Ctrl+L"},
      {ActFileAdd, N_("&Add files..."), "Ctrl+O"},
      {ActFileAddFolder, N_("Add f&older..."), "Ctrl+Shift+O"},
      {ActFileRemove, N_("&Remove files"), "Del"},
      {ActRecover, N_("Reco&ver films from a card or image..."), nullptr},
      {ActSaveMessages, N_("&Save messages..."), "Ctrl+S"},
      {ActSaveReport, N_("Save re&port..."), nullptr},
      {ActCopyMessages, N_("Copy &all messages"), "Ctrl+Shift+C"},
      {ActFileQuit, N_("&Quit"), "Ctrl+Q"},
      {ActActionCheckErrors, N_("&Check errors"), "F5"},
      {ActActionFix, N_("&Rebuild Index"), "Ctrl+R"},
      {ActCheckSelected, N_("Check &selected files"), "Shift+F5"},
      {ActRebuildSelected, N_("Rebuild s&elected files"), "Ctrl+Shift+R"},
      {ActReference, N_("Reference &file..."), nullptr},
      {ActActionStop, N_("&Stop"), "Esc"},
      {MnuStayOnTop, N_("&Stay on top"), nullptr},
      {ActConfig, N_("&Configuration..."), "Ctrl+,"},
      {MnuAbout, N_("&About..."), nullptr},
      {ActOpenFile, N_("&Play the original"), nullptr},
      {ActOpenFixedFile, N_("Play the &repaired copy"), nullptr},
      {ActOpenContainingFolder, N_("Show the original in its &folder"), nullptr},
      {ActShowCopyFolder, N_("Show the &copy in its folder"), nullptr},
      {MnuOutputColumn, N_("O&utput column"), nullptr},
  };
  for (const auto& item : items) {
    const std::wstring text = W(T(item.Caption) + (item.Keys ? std::string("\t") + item.Keys : std::string()));
    for (HMENU m : {menu_, rowMenu_, columnsMenu_})
      ModifyMenuW(m, item.Id, MF_BYCOMMAND | MF_STRING, item.Id, text.c_str());
  }
  const char* const titles[] = {N_("&File"), N_("&Action"), N_("&Options"), N_("&Tools"), N_("&Help")};
  for (int i = 0; i < 5; ++i) {
    const std::wstring text = W(T(titles[i]));
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = const_cast<wchar_t*>(text.c_str());
    SetMenuItemInfoW(menu_, i, TRUE, &info);
  }
  DrawMenuBar(hwnd_);
  const char* const headers[] = {N_("File"), N_("Folder"), N_("Result"), N_("Output")};
  for (int i = 0; i < (outputShown_ ? 4 : 3); ++i) {
    std::wstring text = W(T(headers[i]));
    LVCOLUMNW column = {};
    column.mask = LVCF_TEXT;
    column.pszText = text.data();
    ListView_SetColumn(LvwFiles, i, &column);
  }
  SetWindowTextW(LblMessages, W(T("Messages Center :")).c_str());
  if (const VEK::MessagePair* status = Session.Status()) SetWindowTextW(PnlStatus, W(VEK::Text(*status)).c_str());
  // The results and the batch's sum are words of the current language, made anew.
  for (int row = 0; row < Batch.Count(); ++row) ShowRow(row);
  if (showsSummary_) idleText_ = Batch.SummaryLine().value_or(std::string());
  if (!Session.Running() && !searching_) ShowStatusText(idleText_.empty() ? T("Ready") : idleText_);
  if (searching_) {
    // The search's own words, in the new language.
    ShowStatusText(VEK::Text(VEKRecover::Msg::Searching, {recovery_->Source()}));
    SetWindowTextW(PnlStatus,
                   W(search_->Terminated() ? VEK::Text(MsgAborting) : T("Searching for films")).c_str());
  }
  ShowSelectedRowDamage();  // the strip's words too
}

void TFrmMain::ApplyDpi() {
  // Widths are kept at the window's density: the panel's and the columns'
  // follow it from the one they were set at.
  const UINT dpi = GetDpiForWindow(hwnd_);
  if (dpi != dpi_ && dpi > 0) {
    filesWidth_ = MulDiv(filesWidth_, static_cast<int>(dpi), static_cast<int>(dpi_));
    for (int i = 0; i < (outputShown_ ? 4 : 3); ++i)
      ListView_SetColumnWidth(LvwFiles, i,
                              MulDiv(ListView_GetColumnWidth(LvwFiles, i), static_cast<int>(dpi), static_cast<int>(dpi_)));
    outputWidth_ = MulDiv(outputWidth_, static_cast<int>(dpi), static_cast<int>(dpi_));
    dpi_ = dpi;
  }
  HFONT font = ZantrelWin32::MessageFont(dpi_);
  for (HWND w : {ToolBar1, LvwFiles, LblMessages, EdtLogs, PnlStatus, LblRate, LblBatch, StatusBar1})
    SendMessageW(w, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  if (font_) DeleteObject(font_);
  font_ = font;

  // The pictures at the size the system draws small icons at this density;
  // each .ico holds the sizes to pick from.
  const int side = GetSystemMetricsForDpi(SM_CXSMICON, dpi_);
  auto images = [&](int first, int count) {
    HIMAGELIST list = ImageList_Create(side, side, ILC_COLOR32 | ILC_MASK, count, 0);
    for (int i = 0; i < count; ++i) {
      HICON icon = static_cast<HICON>(
          LoadImageW(instance_, MAKEINTRESOURCEW(first + i), IMAGE_ICON, side, side, LR_DEFAULTCOLOR));
      ImageList_AddIcon(list, icon);
      DestroyIcon(icon);
    }
    return list;
  };
  HIMAGELIST marks = images(IDI_MARK_FIRST, RowMarkImageCount), tools = images(IDI_TOOL_FIRST, 7);
  // A command that cannot be taken shows its picture grey and faint, made
  // from the same pictures.
  HIMAGELIST greyed = ImageList_Create(side, side, ILC_COLOR32 | ILC_MASK, 7, 0);
  for (int i = 0; i < 7; ++i) {
    HICON icon = static_cast<HICON>(
        LoadImageW(instance_, MAKEINTRESOURCEW(IDI_TOOL_FIRST + i), IMAGE_ICON, side, side, LR_DEFAULTCOLOR));
    HICON grey = ZantrelWin32::GreyedIcon(icon);
    ImageList_AddIcon(greyed, grey ? grey : icon);
    if (grey) DestroyIcon(grey);
    DestroyIcon(icon);
  }
  // An unmarked row gets an empty picture after the marks, so that its text
  // lines up with the marked rows' texts.
  const std::vector<std::uint32_t> clear(static_cast<std::size_t>(side) * side, 0);
  HBITMAP blank = CreateBitmap(side, side, 1, 32, clear.data());
  ImageList_AddMasked(marks, blank, RGB(0, 0, 0));
  DeleteObject(blank);
  ListView_SetImageList(LvwFiles, marks, LVSIL_SMALL);
  SendMessageW(ToolBar1, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(tools));
  SendMessageW(ToolBar1, TB_SETDISABLEDIMAGELIST, 0, reinterpret_cast<LPARAM>(greyed));
  SendMessageW(ToolBar1, TB_SETBUTTONSIZE, 0, MAKELPARAM(side + Scale(8), side + Scale(8)));
  SendMessageW(ToolBar1, TB_AUTOSIZE, 0, 0);
  if (marks_) ImageList_Destroy(marks_);
  if (tools_) ImageList_Destroy(tools_);
  if (greyedTools_) ImageList_Destroy(greyedTools_);
  marks_ = marks;
  tools_ = tools;
  greyedTools_ = greyed;

  for (HICON* icon : {&bigIcon_, &smallIcon_}) {
    const bool big = icon == &bigIcon_;
    const int s = GetSystemMetricsForDpi(big ? SM_CXICON : SM_CXSMICON, dpi_);
    HICON made = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_ZANTREL), IMAGE_ICON, s, s, 0));
    SendMessageW(hwnd_, WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(made));
    if (*icon) DestroyIcon(*icon);
    *icon = made;
  }
  Layout();
}

void TFrmMain::Layout() {
  RECT client;
  GetClientRect(hwnd_, &client);
  SendMessageW(ToolBar1, TB_AUTOSIZE, 0, 0);
  // The grip only where the frame can be dragged: not on a maximised
  // window. The bar draws it at its right end; the one drawn at the old
  // width goes with a repaint of the whole bar.
  const LONG_PTR statusStyle = GetWindowLongPtrW(StatusBar1, GWL_STYLE);
  const LONG_PTR grip = IsZoomed(hwnd_) ? 0 : SBARS_SIZEGRIP;
  if ((statusStyle & SBARS_SIZEGRIP) != grip)
    SetWindowLongPtrW(StatusBar1, GWL_STYLE, (statusStyle & ~SBARS_SIZEGRIP) | grip);
  SendMessageW(StatusBar1, WM_SIZE, 0, 0);
  InvalidateRect(StatusBar1, nullptr, TRUE);
  RECT r;
  GetWindowRect(ToolBar1, &r);
  const int top = r.bottom - r.top;
  GetWindowRect(StatusBar1, &r);
  const int statusHeight = r.bottom - r.top;
  const int line = ZantrelWin32::FontMetrics(hwnd_, font_).tmHeight + Scale(4);
  // The run's row, for a run or a recovery's search.
  const bool busy = Session.Running() || searching_;
  const int statsHeight = busy ? line + Scale(2) : 0;
  // The damage strip under the list and the Messages Center, above the run's
  // row as in the Qt window: thin, and as tall as the font makes the rest.
  const int stripHeight =
      IsWindowVisible(StrDamage) ? std::max<int>(Scale(6), ZantrelWin32::FontMetrics(hwnd_, font_).tmHeight / 2) : 0;
  const int bottom = client.bottom - statusHeight - statsHeight - stripHeight;
  const int split = Scale(4);
  const int width = client.right;
  const int files = std::clamp<int>(filesWidth_, Scale(40), std::max(Scale(40), width - split - Scale(40)));
  HDWP dwp = BeginDeferWindowPos(9);
  dwp = DeferWindowPos(dwp, StrDamage, nullptr, 0, bottom, width, stripHeight, SWP_NOZORDER);
  dwp = DeferWindowPos(dwp, LvwFiles, nullptr, 0, top, files, std::max(0, bottom - top), SWP_NOZORDER);
  const int right = files + split;
  dwp = DeferWindowPos(dwp, LblMessages, nullptr, right, top, width - right, line, SWP_NOZORDER | SWP_NOCOPYBITS);
  dwp = DeferWindowPos(dwp, EdtLogs, nullptr, right, top + line, width - right, std::max(0, bottom - top - line),
                       SWP_NOZORDER);
  if (busy) {
    int statusWidth = TextWidth(PnlStatus, font_, T("Searching for films")) + Scale(8);
    for (const auto* pair : {&MsgChecking, &MsgRebuilding, &MsgAborting})
      statusWidth = std::max(statusWidth, TextWidth(PnlStatus, font_, VEK::Text(*pair)) + Scale(8));
    // The state, the file's rate, its bar, "n/N" and the batch's bar; a
    // search's films found so far where the rate is, its share where "n/N" is.
    const int rateWidth = std::max(TextWidth(LblRate, font_, RateText(999.9e6, 100 * 3600 - 1)),
                                   TextWidth(LblRate, font_, VEK::Text(VEKRecover::Msg::FilmsSoFar, {9999}))) +
                          Scale(8);
    const int batchWidth = TextWidth(LblBatch, font_, "9999/9999") + Scale(8);
    const int rest = std::max(0, width - statusWidth - rateWidth - batchWidth - Scale(8));
    const int y = bottom + stripHeight + Scale(1);
    int x = 0;
    for (auto [w, cx] :
         {std::pair{PnlStatus, statusWidth}, std::pair{LblRate, rateWidth}, std::pair{ProgressBar1, rest * 2 / 3},
          std::pair{LblBatch, batchWidth}, std::pair{ProgressBar2, rest - rest * 2 / 3}}) {
      dwp = DeferWindowPos(dwp, w, nullptr, x, y, cx, line, SWP_NOZORDER);
      x += cx + Scale(2);
    }
  }
  EndDeferWindowPos(dwp);
  // The label, and the list's header past its last column, are drawn anew:
  // the system would leave the old edges' lines in them.
  InvalidateRect(LblMessages, nullptr, TRUE);
  InvalidateRect(ListView_GetHeader(LvwFiles), nullptr, TRUE);
  // The counters' parts are as wide as eight digits need in the current
  // language; outside a run one part says it all.
  if (Session.Running()) {
    int edges[4];
    int at = 0;
    using CounterText = std::string (*)(std::int64_t);
    const CounterText counters[3] = {VEKRiff::ErrorsText, VEKRiff::VideoFramesText, VEKRiff::AudioSamplesText};
    for (int i = 0; i < 3; ++i) edges[i] = at += TextWidth(StatusBar1, font_, counters[i](99999999)) + Scale(12);
    edges[3] = -1;
    SendMessageW(StatusBar1, SB_SETPARTS, 4, reinterpret_cast<LPARAM>(edges));
  } else {
    int edge = -1;
    SendMessageW(StatusBar1, SB_SETPARTS, 1, reinterpret_cast<LPARAM>(&edge));
  }
}

LRESULT TFrmMain::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      CreateControls();
      BuildMenus();
      BuildAccelerators();
      prompts_.SetOwner(hwnd_);
      HandOvers.SetWakeUp([hwnd = hwnd_] { PostMessageW(hwnd, WM_SERVE_HANDOVERS, 0, 0); });
      ApplyDpi();
      RetranslateUi();
      return 0;
    case WM_SERVE_HANDOVERS:
      HandOvers.ServePending();
      return 0;
    case WM_SIZE:
      // A new width is shared as the Qt window's splitter shares it: the
      // list keeps its proportion, maximised or not. A minimised window
      // has no width to share.
      if (wParam != SIZE_MINIMIZED && LOWORD(lParam) > 0) {
        if (layoutWidth_ > 0 && LOWORD(lParam) != layoutWidth_)
          filesWidth_ = MulDiv(filesWidth_, LOWORD(lParam), layoutWidth_);
        if (layoutWidth_ > 0) layoutWidth_ = LOWORD(lParam);
      }
      Layout();
      return 0;
    case WM_DPICHANGED: {
      // The new density scales the panel once, by ApplyDpi, not again as
      // a new width.
      const RECT* r = reinterpret_cast<const RECT*>(lParam);
      const bool shared = layoutWidth_ > 0;
      layoutWidth_ = 0;
      SetWindowPos(hwnd_, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      ApplyDpi();
      if (shared) layoutWidth_ = ClientWidth();
      return 0;
    }
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      info->ptMinTrackSize = {Scale(320), Scale(240)};
      return 0;
    }
    case WM_SETCURSOR: {
      POINT p;
      GetCursorPos(&p);
      ScreenToClient(hwnd_, &p);
      if (reinterpret_cast<HWND>(wParam) == hwnd_ && LOWORD(lParam) == HTCLIENT && p.x >= filesWidth_ &&
          p.x < filesWidth_ + Scale(4)) {
        SetCursor(LoadCursorW(nullptr, IDC_SIZEWE));
        return TRUE;
      }
      break;
    }
    case WM_LBUTTONDOWN:
      if (GET_X_LPARAM(lParam) >= filesWidth_ && GET_X_LPARAM(lParam) < filesWidth_ + Scale(4)) {
        dragging_ = true;
        SetCapture(hwnd_);
      }
      return 0;
    case WM_MOUSEMOVE:
      if (dragging_) {
        RECT client;
        GetClientRect(hwnd_, &client);
        filesWidth_ =
            std::clamp<int>(GET_X_LPARAM(lParam), Scale(40), std::max<int>(Scale(40), client.right - Scale(44)));
        Layout();
      }
      return 0;
    case WM_LBUTTONUP:
    case WM_CAPTURECHANGED:
      if (dragging_) {
        dragging_ = false;
        if (message == WM_LBUTTONUP) ReleaseCapture();
      }
      return 0;
    case WM_INITMENUPOPUP:
      UpdateActions();
      return 0;
    case WM_CTLCOLORSTATIC: {
      // The labels on the window's own face, whatever was under them before
      // a move; a read-only edit keeps the system's choice.
      if (reinterpret_cast<HWND>(lParam) == EdtLogs) break;
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
      SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_COMMAND:
      if (lParam == 0 || reinterpret_cast<HWND>(lParam) == ToolBar1) Command(LOWORD(wParam));
      return 0;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) == LvwFiles || reinterpret_cast<HWND>(wParam) == ListView_GetHeader(LvwFiles)) {
        POINT at = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
        // On the list's header: the columns to show or hide.
        RECT header;
        if (at.x != -1 && GetWindowRect(ListView_GetHeader(LvwFiles), &header) && PtInRect(&header, at)) {
          UpdateActions();
          TrackPopupMenu(columnsMenu_, TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd_, nullptr);
          return 0;
        }
        // From the keyboard (Shift+F10, the menu key): at the current row.
        if (at.x == -1 && at.y == -1) {
          RECT r = {};
          const int row = ListView_GetNextItem(LvwFiles, -1, LVNI_FOCUSED);
          if (row >= 0) ListView_GetItemRect(LvwFiles, row, &r, LVIR_LABEL);
          at = {r.left + (r.right - r.left) / 2, r.top + (r.bottom - r.top) / 2};
          ClientToScreen(LvwFiles, &at);
        }
        ShowContextMenu(at);
        return 0;
      }
      break;
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      if (header->code == TTN_GETDISPINFOW) {
        // The tool bar's hints.
        static std::wstring hint;
        const struct {
          int Id;
          const char* Hint;
        } hints[] = {{ActFileClear, N_("Clear list")},
                     {ActFileAdd, N_("Add files...")},
                     {ActFileRemove, N_("Remove selected files")},
                     {ActActionCheckErrors, N_("Check Errors")},
                     {ActActionFix, N_("Rebuild Index")},
                     {ActActionStop, N_("Stop current operation")},
                     {ActConfig, N_("Display the configuration window...")}};
        hint.clear();
        for (const auto& h : hints)
          if (static_cast<UINT_PTR>(h.Id) == header->idFrom) hint = W(T(h.Hint));
        reinterpret_cast<NMTTDISPINFOW*>(lParam)->lpszText = hint.data();
        return 0;
      }
      if (header->hwndFrom != LvwFiles) break;
      switch (header->code) {
        case LVN_ITEMCHANGED: {
          const auto* change = reinterpret_cast<NMLISTVIEW*>(lParam);
          if ((change->uChanged & LVIF_STATE) && ((change->uNewState ^ change->uOldState) & LVIS_SELECTED) &&
              (change->uNewState & LVIS_SELECTED)) {
            if (Settings.SelectedFile) ShowFirstSelectedRowMessages();
            ShowSelectedRowDamage();
          }
          return 0;
        }
        case NM_CUSTOMDRAW: {
          // Selected rows in the system's highlight, the list focused or not:
          // the plain list's grey for a row without the focus is barely seen.
          auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(lParam);
          if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
          if ((draw->nmcd.dwDrawStage & ~CDDS_SUBITEM) != CDDS_ITEMPREPAINT) return CDRF_DODEFAULT;
          const int row = static_cast<int>(draw->nmcd.dwItemSpec);
          if (ListView_GetItemState(LvwFiles, row, LVIS_SELECTED) & LVIS_SELECTED) {
            draw->clrText = GetSysColor(COLOR_HIGHLIGHTTEXT);
            draw->clrTextBk = GetSysColor(COLOR_HIGHLIGHT);
            // The list's own selected look would paint over these colours.
            draw->nmcd.uItemState &= ~(CDIS_SELECTED | CDIS_FOCUS);
          }
          return CDRF_NEWFONT | CDRF_NOTIFYSUBITEMDRAW;
        }
        case LVN_ITEMACTIVATE:
          OpenRow(reinterpret_cast<NMITEMACTIVATE*>(lParam)->iItem);
          return 0;
        case LVN_GETINFOTIPW: {
          // The whole path, for a row too narrow to show it, and the mark in words.
          auto* tip = reinterpret_cast<NMLVGETINFOTIPW*>(lParam);
          if (tip->iItem < 0 || tip->iItem >= Batch.Count()) return 0;
          const VEKRiff::BatchEntry& entry = Batch.Entry(tip->iItem);
          const std::string words = MarkInWords(entry.Mark, entry.Repaired);
          // And where its copy went, whole.
          const std::optional<std::string> copy = VEKRiff::CopyOf(entry);
          const std::wstring text =
              W(entry.Path + (words.empty() ? "" : "\n" + words) + (copy ? "\n" + *copy : std::string()));
          lstrcpynW(tip->pszText, text.c_str(), tip->cchTextMax);
          return 0;
        }
      }
      break;
    }
    case WM_DROPFILES:
      DropFiles(reinterpret_cast<HDROP>(wParam));
      return 0;
    case WM_TIMER:
      switch (wParam) {
        case TmrProgress:
          Session.Tick();
          return 0;
        case TmrLines:
          Session.TakeLines();
          FlushMessages();
          return 0;
        case TmrCheckErrors:
        case TmrRebuildIndex:
          // Fired once the window is up; the action runs as the user's would, questions included.
          KillTimer(hwnd_, wParam);
          Command(wParam == TmrCheckErrors ? ActActionCheckErrors : ActActionFix);
          return 0;
        case TmrHandOvers:
          // Not into a run's list, nor under an open dialog or question.
          if (Session.Running() || searching_ || Session.State().WaitingForStop || !IsWindowEnabled(hwnd_)) return 0;
          KillTimer(hwnd_, TmrHandOvers);
          for (const auto& arguments : std::exchange(handedOver_, {})) TakeArguments(arguments);
          return 0;
      }
      break;
    case WM_COPYDATA: {
      // Another start's command line: taken once nothing else goes on.
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (!data || data->dwData != ZantrelWin32::HandOverTag) break;
      handedOver_.push_back(ZantrelWin32::HandedArguments(*data));
      SetTimer(hwnd_, TmrHandOvers, 100, nullptr);
      // The user started the program to see this window.
      if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
      SetForegroundWindow(hwnd_);
      return TRUE;
    }
    case WM_CLOSE:
      Close();
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

// ---- commands ----

void TFrmMain::UpdateActions() {
  const VEKRiff::Commands c = searching_ ? VEKRiff::SearchCommands(Batch, search_->Terminated(), SelectedRows())
                                         : Session.Enabled();
  const std::pair<int, bool> states[] = {
      {ActFileClear, c.Clear},
      {ActFileAdd, c.Add},
      {ActFileAddFolder, c.AddFolder},
      {ActFileRemove, c.Remove},
      {ActActionCheckErrors, c.Check},
      {ActActionFix, c.Rebuild},
      {ActCheckSelected, c.CheckSelected},
      {ActRebuildSelected, c.RebuildSelected},
      {ActReference, c.Reference},
      {ActActionStop, c.Stop},
      {ActOpenFile, c.OpenFile},
      {ActOpenFixedFile, c.OpenFixedFile},
      {ActOpenContainingFolder, c.OpenFolder},
      {ActShowCopyFolder, c.ShowCopyFolder},
      {ActRecover, VEKRiff::RecoveryMayStart(Recovering(), Session.State())},
  };
  for (auto [id, on] : states) {
    for (HMENU m : {menu_, rowMenu_}) EnableMenuItem(m, id, MF_BYCOMMAND | (on ? MF_ENABLED : MF_GRAYED));
    SendMessageW(ToolBar1, TB_ENABLEBUTTON, id, MAKELPARAM(on ? TRUE : FALSE, 0));
  }
  for (HMENU m : {menu_, columnsMenu_})
    CheckMenuItem(m, MnuOutputColumn, MF_BYCOMMAND | (outputShown_ ? MF_CHECKED : MF_UNCHECKED));
  CheckMenuItem(menu_, MnuStayOnTop, MF_BYCOMMAND | (Settings.StayOnTop ? MF_CHECKED : MF_UNCHECKED));
  CheckMenuItem(menu_, ActReference, MF_BYCOMMAND | (referenceFile_.empty() ? MF_UNCHECKED : MF_CHECKED));
}

void TFrmMain::Command(int id) {
  // An accelerator comes whatever the state: the command is taken only when
  // its menu item is enabled.
  UpdateActions();
  if (id != ActFileQuit && id != MnuStayOnTop && id != MnuOutputColumn && id != ActSaveMessages && id != ActSaveReport &&
      id != ActCopyMessages &&
      (GetMenuState(menu_, id, MF_BYCOMMAND) & MF_GRAYED) && (GetMenuState(rowMenu_, id, MF_BYCOMMAND) & MF_GRAYED))
    return;
  switch (id) {
    case ActFileClear:
      ClearList();
      break;
    case ActFileAdd:
      ChooseFiles();
      break;
    case ActFileAddFolder:
      ChooseFolder();
      break;
    case ActFileRemove:
      RemoveSelected();
      break;
    case ActSaveMessages:
      SaveMessages();
      break;
    case ActSaveReport:
      SaveReport();
      break;
    case ActCopyMessages:
      CopyMessages();
      break;
    case ActFileQuit:
      PostMessageW(hwnd_, WM_CLOSE, 0, 0);
      break;
    case ActActionCheckErrors:
    case ActActionFix:
      StartOperation(id == ActActionCheckErrors, VEKRiff::RunScope::WholeList);
      break;
    case ActCheckSelected:
    case ActRebuildSelected:
      StartOperation(id == ActCheckSelected, VEKRiff::RunScope::SelectedRows);
      break;
    case ActReference:
      ChooseReference();
      break;
    case ActRecover:
      RecoverFilms();
      break;
    case ActActionStop:
      StopOperation();
      break;
    case MnuStayOnTop:
      StayOnTopClick();
      break;
    case ActConfig:
      ActConfigExecute();
      break;
    case MnuAbout:
      about_.ShowModal(hwnd_, U(title_));
      break;
    case MnuOutputColumn:
      SetFilesColumnShown(OutputColumn, !outputShown_);
      SaveSettingsOrReport();
      break;
    case ActOpenFile:
    case ActOpenFixedFile:
    case ActOpenContainingFolder:
    case ActShowCopyFolder: {
      const int first = FirstSelectedRow();
      if (first < 0) break;
      const VEKRiff::BatchEntry& e = Batch.Entry(first);
      const std::optional<std::string> copy = VEKRiff::CopyOf(e);
      if (id == ActOpenFile) OpenPath(e.Path);
      if (id == ActOpenFixedFile && copy) OpenPath(*copy);
      if (id == ActOpenContainingFolder) ShowInFolder(e.Path);
      if (id == ActShowCopyFolder && copy) ShowInFolder(*copy);
      break;
    }
  }
  UpdateActions();
}

// ---- rows ----

void TFrmMain::AddPaths(const std::vector<std::string>& paths) {
  const int from = Batch.Count();
  Batch.AddPaths(paths, Settings.Prefix);
  AddRows(from);
  UpdateActions();
}

void TFrmMain::AddRows(int from) {
  for (int row = from; row < Batch.Count(); ++row) {
    const std::string& path = Batch.Entry(row).Path;
    std::wstring name = W(VEK::ExtractFileName(path)), folder = W(VEK::ExtractFileDir(path));
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = row;
    item.pszText = name.data();
    item.iImage = RowMarkImageCount;
    ListView_InsertItem(LvwFiles, &item);
    ListView_SetItemText(LvwFiles, row, 1, folder.data());
    ShowRow(row);
  }
}

void TFrmMain::ShowRow(int row) {
  if (row < 0 || row >= Batch.Count()) return;
  const VEKRiff::BatchEntry& entry = Batch.Entry(row);
  LVITEMW item = {};
  item.mask = LVIF_IMAGE;
  item.iItem = row;
  item.iImage = entry.Mark == MarkNone ? RowMarkImageCount : entry.Mark;
  ListView_SetItem(LvwFiles, &item);
  std::wstring result = W(VEKRiff::ResultOf(entry));
  ListView_SetItemText(LvwFiles, row, ResultColumn, result.data());
  // A result is read whole: the column grows to the longest one shown, in
  // any language and at any density, and never shrinks by itself.
  const int needed = ListView_GetStringWidth(LvwFiles, result.c_str()) + Scale(16);
  if (needed > ListView_GetColumnWidth(LvwFiles, ResultColumn)) ListView_SetColumnWidth(LvwFiles, ResultColumn, needed);
  ShowRowOutput(row);
}

void TFrmMain::ShowRowOutput(int row) {
  if (!outputShown_) return;
  // A file rewritten in place shows its own name; a check, nothing.
  const std::optional<std::string> output = VEKRiff::RepairedFileOf(Batch.Entry(row));
  std::wstring name = output ? W(VEK::ExtractFileName(*output)) : std::wstring();
  ListView_SetItemText(LvwFiles, row, OutputColumn, name.data());
}

std::vector<bool> TFrmMain::SelectedRows() const {
  std::vector<bool> selected(Batch.Count());
  for (int i = ListView_GetNextItem(LvwFiles, -1, LVNI_SELECTED); i >= 0;
       i = ListView_GetNextItem(LvwFiles, i, LVNI_SELECTED))
    if (i < Batch.Count()) selected[i] = true;
  return selected;
}

int TFrmMain::FirstSelectedRow() const { return ListView_GetNextItem(LvwFiles, -1, LVNI_SELECTED); }

void TFrmMain::ClearList() {
  idleText_.clear();
  showsSummary_ = false;
  ShowStatusText(T("Ready"));
  ListView_DeleteAllItems(LvwFiles);
  Batch.Clear();
  ClearMessagesView();
  ShowSelectedRowDamage();
  // The last run's summary spoke of rows that are gone.
  idleText_.clear();
  ShowStatusText(T("Ready"));
}

void TFrmMain::RemoveSelected() {
  const std::vector<bool> selected = SelectedRows();
  for (int i = static_cast<int>(selected.size()) - 1; i >= 0; --i)
    if (selected[i]) {
      Batch.Remove(i);
      ListView_DeleteItem(LvwFiles, i);
    }
  // The removed rows' lines and damage go from the view with them.
  if (Settings.SelectedFile) ShowFirstSelectedRowMessages();
  ShowSelectedRowDamage();
}

void TFrmMain::OpenRow(int row) {
  if (Session.Running() || row < 0 || row >= Batch.Count()) return;  // as Open File: not while the list is being worked on
  const VEKRiff::BatchEntry& e = Batch.Entry(row);
  OpenPath(VEKRiff::FileToPlay(e));
}

void TFrmMain::ShowInFolder(const std::string& path) {
  // Explorer opens the folder with the file selected; without the file (gone
  // meanwhile) the folder itself is opened, or its absence said.
  if (PIDLIST_ABSOLUTE item = ILCreateFromPathW(W(path).c_str())) {
    const HRESULT shown = SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
    ILFree(item);
    if (SUCCEEDED(shown)) return;
  }
  OpenPath(VEK::ExtractFileDir(path));
}

void TFrmMain::OpenPath(const std::string& path) {
  // The shell shows nothing of its own when it cannot open a path.
  const VEK::MessagePair* failure = nullptr;
  if (GetFileAttributesW(VEK::Win32::FileName(path).c_str()) == INVALID_FILE_ATTRIBUTES)
    failure = &MsgDoesNotExist;
  else if (reinterpret_cast<INT_PTR>(ShellExecuteW(hwnd_, L"open", W(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL)) <=
           32)
    failure = &MsgNoProgram;
  if (failure)
    prompts_.Ask(VEK::Text(MsgOpenCaption), VEK::Text(*failure, {path}), VEKRiff::PromptButtons::Ok,
                 VEKRiff::PromptIcon::Warning);
}

void TFrmMain::ShowContextMenu(POINT at) {
  UpdateActions();
  TrackPopupMenu(rowMenu_, TPM_RIGHTBUTTON, at.x, at.y, 0, hwnd_, nullptr);
}

void TFrmMain::DropFiles(HDROP drop) {
  std::vector<std::string> paths;
  const UINT count = Session.Running() ? 0 : DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    std::wstring name(DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
    name.resize(DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size())));
    const std::string path = U(name);
    const DWORD attributes = GetFileAttributesW(VEK::Win32::FileName(path).c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    // Whatever lands on the window is dropped: a file of another kind is told
    // apart by its name, for a damaged AVI file may have lost the header that
    // would say what it is.
    const std::string file = VEK::ExtractFileName(path);
    const std::size_t dot = file.rfind('.');
    const bool avi = dot != std::string::npos &&
                     CompareStringOrdinal(W(file.substr(dot)).c_str(), -1, L".avi", -1, TRUE) == CSTR_EQUAL;
    if (!folder && !avi) {
      const std::string line =
          Tr(kContext, "\"%1\" was not added: only AVI files (.avi) are checked and rebuilt.", file);
      Batch.AddLine(line);
      pendingLines_.push_back(line);
      FlushMessages();
      idleText_ = line;
      showsSummary_ = false;
      ShowStatusText(line);
      continue;
    }
    paths.push_back(path);
  }
  DragFinish(drop);
  AddPaths(paths);
}

void TFrmMain::ChooseFiles() {
  std::wstring buffer(64 * 1024, L'\0');
  const std::wstring filter = DialogFilter(T("Supported types (*.avi);;Any file (*)"));
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = hwnd_;
  ofn.lpstrFilter = filter.c_str();
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.lpstrInitialDir = lastFolder_.empty() ? nullptr : lastFolder_.c_str();
  ofn.Flags =
      OFN_EXPLORER | OFN_ALLOWMULTISELECT | OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&ofn)) return;
  // One file: its whole path. Several: the folder, then each name, each
  // ended by a null, the list by a second one.
  std::vector<std::wstring> parts;
  for (const wchar_t* p = buffer.c_str(); *p; p += wcslen(p) + 1) parts.emplace_back(p);
  std::vector<std::string> paths;
  if (parts.size() == 1) {
    paths.push_back(U(parts[0]));
    lastFolder_ = W(VEK::ExtractFileDir(paths[0]));
  } else if (parts.size() > 1) {
    lastFolder_ = parts[0];
    for (std::size_t i = 1; i < parts.size(); ++i) paths.push_back(U(parts[0] + L"\\" + parts[i]));
  }
  AddPaths(paths);
}

std::wstring TFrmMain::PickFolder(const std::wstring& title, const std::wstring& start) {
  // The system's open dialog choosing a folder; empty when cancelled.
  IFileOpenDialog* dialog = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) return {};
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST | FOS_NOCHANGEDIR);
  if (!title.empty()) dialog->SetTitle(title.c_str());
  IShellItem* folder = nullptr;
  if (!start.empty() && SUCCEEDED(SHCreateItemFromParsingName(start.c_str(), nullptr, IID_PPV_ARGS(&folder)))) {
    dialog->SetFolder(folder);
    folder->Release();
  }
  std::wstring chosen;
  IShellItem* item = nullptr;
  if (SUCCEEDED(dialog->Show(hwnd_)) && SUCCEEDED(dialog->GetResult(&item))) {
    PWSTR path = nullptr;
    if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
      chosen = path;
      CoTaskMemFree(path);
    }
    item->Release();
  }
  dialog->Release();
  return chosen;
}

void TFrmMain::ChooseFolder() {
  // Where the last Add dialog was, else where the list's last file is.
  const std::wstring chosen = PickFolder(
      {}, !lastFolder_.empty() ? lastFolder_
          : Batch.Count() > 0  ? W(VEK::ExtractFileDir(Batch.Entry(Batch.Count() - 1).Path))
                               : std::wstring());
  if (chosen.empty()) return;
  lastFolder_ = chosen;
  AddPaths({U(chosen)});
}

std::string TFrmMain::ChooseRecoverySource() {
  bool cancelled = false;
  const std::string drive = ChooseRecoveryDrive(cancelled);
  if (cancelled || !drive.empty()) return drive;
  // A card's image, whatever its name ends with.
  return U(ChooseOneFile(T("All files (*)"), W(T("Card or image to recover films from"))));
}

std::string TFrmMain::ChooseRecoveryFolder() {
  return U(PickFolder(W(T("Folder for the recovered films")), lastFolder_));
}

void TFrmMain::ChooseReference() {
  // Checked: the file a rebuild takes damaged or lost header lists from.
  if (!referenceFile_.empty()) {
    referenceFile_.clear();
    return;
  }
  const std::wstring chosen = ChooseOneFile(T("Supported types (*.avi);;Any file (*)"), std::wstring());
  if (!chosen.empty()) referenceFile_ = chosen;
}

std::wstring TFrmMain::ChooseOneFile(const std::string& filter, const std::wstring& title) {
  std::wstring buffer(32 * 1024, L'\0');
  const std::wstring filters = DialogFilter(filter);
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = hwnd_;
  ofn.lpstrFilter = filters.c_str();
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.lpstrTitle = title.empty() ? nullptr : title.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  return GetOpenFileNameW(&ofn) ? std::wstring(buffer.c_str()) : std::wstring();
}

std::wstring TFrmMain::ChooseSaveFile(const wchar_t* name, const std::string& filter) {
  wchar_t buffer[32 * 1024] = {};
  wcsncpy(buffer, name, std::size(buffer) - 1);
  const std::wstring filters = DialogFilter(filter);
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = hwnd_;
  ofn.lpstrFilter = filters.c_str();
  ofn.lpstrFile = buffer;
  ofn.nMaxFile = static_cast<DWORD>(std::size(buffer));
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  return GetSaveFileNameW(&ofn) ? std::wstring(buffer) : std::wstring();
}

int TFrmMain::WriteWholeFile(const std::wstring& path, const std::string& text) {
  FILE* f = _wfopen(path.c_str(), L"wb");
  if (!f) return errno;
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  int error = written ? 0 : errno;
  if (std::fclose(f) != 0 && written) error = errno;
  return error;
}

void TFrmMain::SaveMessages() {
  const std::wstring path = ChooseSaveFile(L"messages.txt", T("Text files (*.txt);;Any file (*)"));
  if (path.empty()) return;
  FlushMessages();
  std::wstring wide(GetWindowTextLengthW(EdtLogs) + 1, L'\0');
  wide.resize(GetWindowTextW(EdtLogs, wide.data(), static_cast<int>(wide.size())));
  std::string text;
  for (char c : U(wide))
    if (c != '\r') text += c;
  if (!text.empty()) text += '\n';
  if (const int error = WriteWholeFile(path, text))
    prompts_.Ask(VEK::Text(MsgMessagesNotSavedCaption), VEK::Text(MsgMessagesNotSaved, {U(path), std::strerror(error)}),
                 VEKRiff::PromptButtons::Ok, VEKRiff::PromptIcon::Error);
}

void TFrmMain::SaveReport() {
  const std::wstring path = ChooseSaveFile(L"report.jsonl", T("JSON Lines (*.jsonl);;Any file (*)"));
  if (path.empty()) return;
  Session.TakeLines();  // a run's findings so far
  if (const int error = WriteWholeFile(path, VEKRiff::ListReport(Batch)))
    prompts_.Ask(VEK::Text(MsgMessagesNotSavedCaption), VEKRiff::ReportNotSaved(U(path), std::strerror(error)),
                 VEKRiff::PromptButtons::Ok, VEKRiff::PromptIcon::Error);
}

void TFrmMain::CopyMessages() {
  FlushMessages();
  std::wstring text(GetWindowTextLengthW(EdtLogs) + 1, L'\0');
  text.resize(GetWindowTextW(EdtLogs, text.data(), static_cast<int>(text.size())));
  if (!OpenClipboard(hwnd_)) return;
  EmptyClipboard();
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t))) {
    std::memcpy(GlobalLock(memory), text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    GlobalUnlock(memory);
    if (!SetClipboardData(CF_UNICODETEXT, memory)) GlobalFree(memory);
  }
  CloseClipboard();
}

void TFrmMain::StayOnTopClick() {
  Settings.StayOnTop = !Settings.StayOnTop;
  SetTopMost(Settings.StayOnTop);
  SaveSettingsOrReport();
}

void TFrmMain::ActConfigExecute() {
  if (!config_.EditConfig(hwnd_, Settings)) return;
  VEK::SetLanguage(ChosenLanguage(Settings.Language, ZantrelWin32::SystemLanguage()));
  // The captions, and the sizes that follow them; the menus' marks come back
  // with the command's UpdateActions.
  RetranslateUi();
  Layout();
  RefreshMessagesView();
  SaveSettingsOrReport();
}

// ---- the Messages Center ----

void TFrmMain::ShowMessages(const VEKRiff::LineList& lines) {
  // The lists already hold every waiting line: a replaced view has them.
  pendingLines_.clear();
  SetWindowTextW(EdtLogs, Joined(lines).c_str());
}

void TFrmMain::ClearMessagesView() {
  pendingLines_.clear();
  SetWindowTextW(EdtLogs, L"");
}

void TFrmMain::FlushMessages() {
  if (pendingLines_.empty()) return;
  // One append for the whole batch: the view lays out and scrolls once.
  const int length = GetWindowTextLengthW(EdtLogs);
  const std::wstring text = (length > 0 ? L"\r\n" : L"") + Joined(pendingLines_);
  pendingLines_.clear();
  SendMessageW(EdtLogs, EM_SETSEL, length, length);
  SendMessageW(EdtLogs, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

void TFrmMain::ShowFirstSelectedRowMessages() {
  const int first = FirstSelectedRow();
  if (first >= 0 && first < Batch.Count())
    ShowMessages(Batch.Entry(first).Lines);
  else
    ClearMessagesView();
}

void TFrmMain::ShowSelectedRowDamage() {
  const int first = FirstSelectedRow();
  const bool shown = IsWindowVisible(StrDamage);
  ZantrelWin32::SetStripDamage(StrDamage,
                               first >= 0 && first < Batch.Count() ? Batch.Entry(first).Damage : VEKRiff::FileDamage{});
  if (IsWindowVisible(StrDamage) != shown) Layout();
}

std::string TFrmMain::RateText(double bytesPerSecond, std::int64_t secondsLeft) {
  return Tr(kContext, "%1 MB/s, %2 left", ZantrelWin32::NumberText(bytesPerSecond / 1e6, 1),
            VEKRiff::ClockText(secondsLeft));
}

void TFrmMain::RefreshMessagesView() {
  if (!Settings.SelectedFile)
    ShowMessages(Batch.AllLines());
  else
    ShowFirstSelectedRowMessages();
}

// ---- operations ----

void TFrmMain::StartOperation(bool checkOnly, VEKRiff::RunScope scope) {
  if (Session.Start(VEKRiff::RunOptionsOf(Settings, checkOnly, U(referenceFile_)), scope)) UpdateActions();
}

bool TFrmMain::StopOperation() {
  FlushMessages();
  if (searching_) return StopSearch();
  return Session.Stop(Settings.StopPrompt);
}

void TFrmMain::SelectRowAlone(int row) {
  ListView_SetItemState(LvwFiles, -1, 0, LVIS_SELECTED);
  ListView_SetItemState(LvwFiles, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

void TFrmMain::ShowRow(int row, bool done) {
  if (row < 0 || row >= Batch.Count()) return;
  ShowRow(row);
  if (done && (ListView_GetItemState(LvwFiles, row, LVIS_SELECTED) & LVIS_SELECTED)) ShowSelectedRowDamage();
}

void TFrmMain::ShowRunFile(int row) {
  ListView_EnsureVisible(LvwFiles, row, FALSE);  // a long batch stays in view
}

void TFrmMain::ShowLine(int row, const VEKRiff::LineList& kept) {
  // A line of no row (the window's own) shows with the whole list's.
  const bool shown = row >= 0 && (ListView_GetItemState(LvwFiles, row, LVIS_SELECTED) & LVIS_SELECTED);
  if (!Settings.SelectedFile || shown) pendingLines_.push_back_last_of(kept);
}

void TFrmMain::ShowRunState() {
  const VEKRiff::RunState& run = Session.State();
  if (const VEK::MessagePair* status = Session.Status()) {
    SetWindowTextW(PnlStatus, W(VEK::Text(*status)).c_str());
    UpdateWindow(PnlStatus);
  }
  UpdateActions();
  if (run.Running && run.Stopping) return;
  const bool running = run.Running;
  if (running) {
    idleText_.clear();
    showsSummary_ = false;
    SendMessageW(ProgressBar1, PBM_SETRANGE32, 0, 100);
    SendMessageW(ProgressBar2, PBM_SETRANGE32, 0, 100 * Batch.BatchSize());
    // A recovery's rebuild goes on below its search's lines.
    if (Settings.AutoClear && !Recovering()) ClearMessagesView();
  }
  SendMessageW(ProgressBar1, PBM_SETPOS, 0, 0);
  SendMessageW(ProgressBar2, PBM_SETPOS, 0, 0);
  SetWindowTextW(LblRate, L"");
  SetWindowTextW(LblBatch, running ? W(VEKRiff::PositionText(Batch)).c_str() : L"");
  for (HWND w : {PnlStatus, LblRate, ProgressBar1, LblBatch, ProgressBar2}) ShowWindow(w, running ? SW_SHOW : SW_HIDE);
  Layout();
  if (running) {
    ShowCounters(0, 0, 0);
    SetTimer(hwnd_, TmrProgress, 250, nullptr);
    // The lines go into the view while the worker goes on, in a few large
    // batches a second, not all at the end.
    SetTimer(hwnd_, TmrLines, 40, nullptr);
  } else {
    KillTimer(hwnd_, TmrProgress);
    KillTimer(hwnd_, TmrLines);
    ShowStatusText(idleText_.empty() ? T("Ready") : idleText_);
  }
  DragAcceptFiles(hwnd_, running ? FALSE : TRUE);
  if (!running && Recovering()) {
    KeepRecoveredFilms();
    EndRecovery();
  }
  // The title last: its return to the program's name tells whoever watches
  // the window from outside that the run, and its summary, are over.
  if (!running) SetWindowTextW(hwnd_, title_.c_str());
}

void TFrmMain::ShowSummary(const std::string& summary) {
  // In the log and in the status bar, and a flash of the taskbar button for
  // a user elsewhere.
  if (!Settings.SelectedFile) {
    pendingLines_.push_back(summary);
    FlushMessages();
  }
  idleText_ = summary;
  showsSummary_ = true;
  ShowStatusText(summary);
  if (GetForegroundWindow() == hwnd_) return;
  FLASHWINFO flash = {sizeof flash, hwnd_, FLASHW_ALL | FLASHW_TIMERNOFG, 0, 0};
  FlashWindowEx(&flash);
}

void TFrmMain::ShowProgress(const VEKRiff::RunProgress& p) {
  // "Zantrel — 3/40 — clip.avi": the taskbar tells how far the batch is, as
  // the batch's own label does.
  const std::wstring title = title_ + L" \u2014 " + W(p.Position) + L" \u2014 " + W(p.FileName);
  wchar_t shown[512] = {};
  GetWindowTextW(hwnd_, shown, static_cast<int>(std::size(shown)));
  if (title != shown) SetWindowTextW(hwnd_, title.c_str());
  SendMessageW(ProgressBar1, PBM_SETPOS, p.File, 0);
  SendMessageW(ProgressBar2, PBM_SETPOS, p.Batch, 0);
  SetWindowTextW(LblBatch, W(p.Position).c_str());
  SetWindowTextW(LblRate, p.Rate ? W(RateText(p.Rate->BytesPerSecond, p.Rate->SecondsLeft)).c_str() : L"");
  ShowCounters(p.Errors, p.VideoFrames, p.AudioSamples);
}

void TFrmMain::ServeEventsButInput() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void TFrmMain::ShowStatusText(const std::string& text) {
  SendMessageW(StatusBar1, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(W(text).c_str()));
}

void TFrmMain::ShowCounters(std::int32_t errors, std::int64_t videoFrames, std::int64_t audioSamples) {
  const std::string texts[3] = {VEKRiff::ErrorsText(errors), VEKRiff::VideoFramesText(videoFrames),
                                VEKRiff::AudioSamplesText(audioSamples)};
  for (int i = 0; i < 3; ++i) SendMessageW(StatusBar1, SB_SETTEXTW, i, reinterpret_cast<LPARAM>(W(texts[i]).c_str()));
}

// ---- start-up, settings and shutdown ----

void TFrmMain::FormCreate(const std::vector<std::string>& arguments) {
  // The system's language until the settings say otherwise: a settings
  // store that cannot be read is reported in it.
  const std::int8_t systemLanguage = ZantrelWin32::SystemLanguage();
  VEK::SetLanguage(systemLanguage);
  DragAcceptFiles(hwnd_, TRUE);
  SetWindowTextW(hwnd_, title_.c_str());
  LoadSettings();
  // The language the system gave is the user's choice from now on, saved
  // with the other settings.
  if (!Settings.Language) Settings.Language = systemLanguage;
  VEK::SetLanguage(ChosenLanguage(Settings.Language, systemLanguage));
  RetranslateUi();
  Layout();
  TakeArguments(arguments);
}

void TFrmMain::TakeArguments(const std::vector<std::string>& arguments) {
  // Argument 0 is the program itself. Argument 1 is a switch or already the
  // first file: the shell passes only the files.
  std::string first = arguments.size() > 1 ? arguments[1] : std::string();
  std::transform(first.begin(), first.end(), first.begin(), [](unsigned char c) { return std::tolower(c); });
  const bool isSwitch = first == "/checkerrors" || first == "/rebuildindex" || first == "/inst" || first == "/uninst";
  const std::size_t from = std::min<std::size_t>(arguments.size(), isSwitch ? 2 : 1);
  AddPaths(std::vector<std::string>(arguments.begin() + from, arguments.end()));
  if (first == "/checkerrors") SetTimer(hwnd_, TmrCheckErrors, 250, nullptr);
  if (first == "/rebuildindex") SetTimer(hwnd_, TmrRebuildIndex, 250, nullptr);
  UpdateActions();
}

void TFrmMain::Show() {
  // The stored panel width holds at the size the window comes up at, as
  // the Qt splitter's does; from then on the panel keeps its share.
  ShowWindow(hwnd_, showCmd_);
  layoutWidth_ = ClientWidth();
  UpdateWindow(hwnd_);
}

int TFrmMain::ClientWidth() const {
  RECT client;
  GetClientRect(hwnd_, &client);
  return client.right;
}

void TFrmMain::LoadSettings() {
  Settings.ReadWindowLayout(*this);
  Settings.Load(*store_);
  Settings.ApplyWindowLayout(*this);
  RefreshMessagesView();
}

bool TFrmMain::SaveSettingsOrReport() {
  // A failed save must not escape a message handler: the window goes on.
  try {
    Settings.ReadWindowLayout(*this);
    Settings.Save(*store_);
    return true;
  } catch (const std::exception& e) {
    prompts_.Ask(VEK::Text(MsgSettingsNotSavedCaption), e.what(), VEKRiff::PromptButtons::Ok,
                 VEKRiff::PromptIcon::Error);
    return false;
  }
}

void TFrmMain::Close() {
  // Mid-stop the window stays: the wait still serves the rows it reports to.
  if (Session.State().WaitingForStop) return;
  // A search asked to stop ends as the window goes.
  if (searching_ && !StopOperation()) return;
  // A run that ended by itself while the stop question was open closed the
  // question; the close asked for then goes ahead.
  if (Session.Running() && !StopOperation() && Session.Running()) return;
  SaveSettingsOrReport();
  DestroyWindow(hwnd_);
}

// ---- the window as the settings see it ----

SettingsWindow::Placement TFrmMain::GetPlacement() const {
  WINDOWPLACEMENT wp = {};
  wp.length = sizeof wp;
  GetWindowPlacement(hwnd_, &wp);
  Placement p;
  p.Flags = wp.flags;
  p.ShowCmd = IsWindowVisible(hwnd_) ? static_cast<std::int32_t>(wp.showCmd) : showCmd_;
  if (p.ShowCmd != ShowMaximized && p.ShowCmd != ShowMinimized) p.ShowCmd = ShowNormal;
  p.NormalPosition = {wp.rcNormalPosition.left, wp.rcNormalPosition.top, wp.rcNormalPosition.right,
                      wp.rcNormalPosition.bottom};
  return p;
}

void TFrmMain::SetPlacement(const Placement& placement) {
  const Rect& n = placement.NormalPosition;
  // Nothing stored: the system places the window, as on a first start.
  if (n.Right - n.Left <= 0 || n.Bottom - n.Top <= 0) return;
  WINDOWPLACEMENT wp = {};
  wp.length = sizeof wp;
  GetWindowPlacement(hwnd_, &wp);
  wp.flags = placement.Flags & WPF_RESTORETOMAXIMIZED;
  // A window that starts minimized comes up as it was before.
  showCmd_ = placement.ShowCmd == ShowMaximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  wp.showCmd = IsWindowVisible(hwnd_) ? showCmd_ : SW_HIDE;
  wp.rcNormalPosition = {n.Left, n.Top, n.Right, n.Bottom};
  SetWindowPlacement(hwnd_, &wp);
}

void TFrmMain::SetTopMost(bool topMost) {
  SetWindowPos(hwnd_, topMost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// The settings hold widths as at 96 dots per inch, as designed, so that they
// mean the same on every screen.
std::int32_t TFrmMain::FilesPanelWidth() const { return MulDiv(filesWidth_, 96, static_cast<int>(dpi_)); }

void TFrmMain::SetFilesPanelWidth(std::int32_t width) {
  filesWidth_ = Scale(width);
  if (layoutWidth_ > 0) layoutWidth_ = ClientWidth();
  Layout();
}

std::int32_t TFrmMain::FilesColumnWidth(int column) const {
  const int width = column == OutputColumn && !outputShown_ ? outputWidth_ : ListView_GetColumnWidth(LvwFiles, column);
  return MulDiv(width, 96, static_cast<int>(dpi_));
}

void TFrmMain::SetFilesColumnWidth(int column, std::int32_t width) {
  if (column == OutputColumn) {
    if (width <= 0) return;  // a hand-edited value: the column stays findable
    outputWidth_ = Scale(width);
    if (!outputShown_) return;
  }
  ListView_SetColumnWidth(LvwFiles, column, Scale(width));
}

bool TFrmMain::FilesColumnShown(int column) const { return column != OutputColumn || outputShown_; }

void TFrmMain::SetFilesColumnShown(int column, bool shown) {
  if (column != OutputColumn || shown == outputShown_) return;
  // The list view has no hidden columns: the column comes and goes.
  if (shown) {
    std::wstring caption = W(T("Output"));
    LVCOLUMNW added = {};
    added.mask = LVCF_WIDTH | LVCF_TEXT;
    added.cx = outputWidth_;
    added.pszText = caption.data();
    ListView_InsertColumn(LvwFiles, OutputColumn, &added);
    // Beside the result, as in the Qt window; the long folder stays last.
    int order[4] = {0, ResultColumn, OutputColumn, 1};
    ListView_SetColumnOrderArray(LvwFiles, 4, order);
  } else {
    outputWidth_ = ListView_GetColumnWidth(LvwFiles, OutputColumn);
    ListView_DeleteColumn(LvwFiles, OutputColumn);
  }
  outputShown_ = shown;
  for (int row = 0; row < Batch.Count(); ++row) ShowRowOutput(row);
}
