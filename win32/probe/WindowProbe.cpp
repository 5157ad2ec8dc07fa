// Reads the running window program from outside, as a screen reader would:
// the window's own state for the Wine test, not a picture of it.
//
// usage: zantrel-window-probe ROWS SECONDS
//   Once the main window's run is over, prints one "name<TAB>result" line
//   per row (and "<TAB>output" while the list shows its Output column), then "status<TAB>text", the list's column widths in pixels
//   ("columns<TAB>w0<TAB>w1<TAB>w2") and "strip<TAB>shown<TAB>text" for the
//   damage strip; exits 1 when the run is not over within SECONDS.
// usage: zantrel-window-probe window NAME SECONDS
//   Once a top-level window whose title or class is NAME is shown, enabled
//   and holds the keyboard focus (keys sent now reach it), prints each of its
//   controls, in their tab order, as "class<TAB>text<TAB>states"; exits 1
//   when that does not happen within SECONDS.
// usage: zantrel-window-probe focus NAME TEXT SECONDS
//   Returns once the focus is on a control of that window whose text is
//   TEXT: the keys sent before have been taken. Exits 1, printing the
//   control that has it, when that does not happen within SECONDS.
// usage: zantrel-window-probe rows N SECONDS
//   Once the main window's list has N rows, prints their names, one a line;
//   exits 1 when that does not happen within SECONDS.
// usage: zantrel-window-probe layout
//   Prints where the main window and its parts are, in screen pixels
//   ("NAME<TAB>left<TAB>top<TAB>right<TAB>bottom"): window, client,
//   workarea, files (the list), label (the Messages Center's), logs, status,
//   each row ("row<TAB>N<TAB>selected" then its edges) and each tool bar
//   button ("tool<TAB>N<TAB>enabled" then its edges); then "maximized",
//   "grip" (the status bar draws one), "disabledimages" (the tool bar has
//   pictures of its own for a command that cannot be taken), "minimized",
//   "statustext" (the status bar's first part), "focus" (the
//   class of the control with the keyboard focus) and the system's
//   "highlight" and "face" colours as RRGGBB.
// usage: zantrel-window-probe show maximize|minimize|restore
//   Maximises or minimises the main window or gives it back its normal
//   size, as its frame's buttons do, and returns once it has that size.
// usage: zantrel-window-probe move LEFT TOP
//   Moves the main window's frame to LEFT, TOP on the screen, as a drag of
//   its title bar does.
// usage: zantrel-window-probe rect NAME SECONDS
//   Once a top-level window whose title or class is NAME is shown, prints
//   its edges as "rect<TAB>left<TAB>top<TAB>right<TAB>bottom"; exits 1 when
//   that does not happen within SECONDS.
// usage: zantrel-window-probe gone NAME SECONDS
//   Returns once no window titled NAME is shown and the main window's thread
//   is back in its message loop, so that what the window does on closing is
//   done; exits 1 when that does not happen within SECONDS.
#include <windows.h>
// The other system headers use its types.
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

namespace {

// A text of another process's control: the request and its buffer live in
// that process.
class Remote {
 public:
  explicit Remote(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | SYNCHRONIZE, FALSE, pid);
    memory_ = VirtualAllocEx(process_, nullptr, kSize, MEM_COMMIT, PAGE_READWRITE);
  }
  ~Remote() {
    VirtualFreeEx(process_, memory_, 0, MEM_RELEASE);
    CloseHandle(process_);
  }
  HANDLE Process() const { return process_; }

  std::wstring ItemText(HWND list, int row, int column) {
    LVITEMW item = {};
    item.iSubItem = column;
    item.cchTextMax = kText;
    item.pszText = reinterpret_cast<wchar_t*>(static_cast<char*>(memory_) + sizeof item);
    WriteProcessMemory(process_, memory_, &item, sizeof item, nullptr);
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(memory_));
    return Read(sizeof item);
  }
  // A list row's or a tool bar button's edges, in the control's pixels.
  RECT ItemRect(HWND control, UINT message, WPARAM item, LONG left) {
    RECT r = {left, 0, 0, 0};
    WriteProcessMemory(process_, memory_, &r, sizeof r, nullptr);
    SendMessageW(control, message, item, reinterpret_cast<LPARAM>(memory_));
    ReadProcessMemory(process_, memory_, &r, sizeof r, nullptr);
    return r;
  }
  TBBUTTON Button(HWND bar, int index) {
    TBBUTTON button = {};
    SendMessageW(bar, TB_GETBUTTON, index, reinterpret_cast<LPARAM>(memory_));
    ReadProcessMemory(process_, memory_, &button, sizeof button, nullptr);
    return button;
  }
  std::wstring StatusText(HWND bar) {
    SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(memory_));
    return Read(0);
  }
  // The address of a SysLink control's first link.
  std::wstring LinkAddress(HWND link) {
    LITEM item = {};
    item.mask = LIF_ITEMINDEX | LIF_URL;
    WriteProcessMemory(process_, memory_, &item, sizeof item, nullptr);
    if (!SendMessageW(link, LM_GETITEM, 0, reinterpret_cast<LPARAM>(memory_))) return {};
    ReadProcessMemory(process_, memory_, &item, sizeof item, nullptr);
    return item.szUrl;
  }

 private:
  static constexpr int kText = 2048;
  static constexpr SIZE_T kSize = sizeof(LITEM) + sizeof(LVITEMW) + kText * sizeof(wchar_t);
  std::wstring Read(SIZE_T at) {
    wchar_t text[kText] = {};
    ReadProcessMemory(process_, static_cast<char*>(memory_) + at, text, sizeof text - sizeof(wchar_t), nullptr);
    return text;
  }
  HANDLE process_ = nullptr;
  void* memory_ = nullptr;
};

std::string Utf8(const std::wstring& text) {
  std::string out(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

std::wstring WindowText(HWND window) {
  wchar_t text[8192] = {};
  SendMessageTimeoutW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                      nullptr);
  return text;
}

std::wstring ClassName(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

// A shown top-level window whose title or class is name.
HWND Shown(const std::wstring& name) {
  struct Search {
    const std::wstring* Name;
    HWND Found;
  } search = {&name, nullptr};
  EnumWindows(
      [](HWND w, LPARAM p) {
        auto* s = reinterpret_cast<Search*>(p);
        if (IsWindowVisible(w) && (WindowText(w) == *s->Name || ClassName(w) == *s->Name)) {
          s->Found = w;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return info.hwndFocus;
}

// One line per control, in the order the dialog manager tabs through them.
void PrintControls(HWND window) {
  std::vector<HWND> controls;
  EnumChildWindows(
      window,
      [](HWND w, LPARAM p) {
        reinterpret_cast<std::vector<HWND>*>(p)->push_back(w);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&controls));
  Remote remote(window);
  const HWND focus = FocusOf(window);
  for (HWND w : controls) {
    const std::wstring cls = ClassName(w);
    // A page of a tab control is a child dialog: its controls follow it.
    if (cls == L"#32770") continue;
    std::wstring text;
    for (wchar_t c : WindowText(w)) {
      if (c == L'\n') text += L"\\n";
      if (c != L'\r' && c != L'\n') text += c;
    }
    std::string states;
    auto add = [&](const std::string& state) { states += (states.empty() ? "" : ",") + state; };
    if (cls == L"Button" && SendMessageW(w, BM_GETCHECK, 0, 0) == BST_CHECKED) add("checked");
    if (!IsWindowEnabled(w)) add("disabled");
    if (!IsWindowVisible(w)) add("hidden");
    if (w == focus) add("focus");
    if (cls == WC_LINK) add("href=" + Utf8(remote.LinkAddress(w)));
    std::printf("%s\t%s\t%s\n", Utf8(cls).c_str(), Utf8(text).c_str(), states.c_str());
  }
}

int WaitForWindow(const std::wstring& name, DWORD deadline) {
  for (;;) {
    const HWND window = Shown(name);
    // Keys go to the focus: the window is ready for them once it has it.
    const HWND focus = window ? FocusOf(window) : nullptr;
    if (window && IsWindowEnabled(window) && focus && (focus == window || IsChild(window, focus))) {
      PrintControls(window);
      return 0;
    }
    if (GetTickCount() >= deadline) return 1;
    Sleep(100);
  }
}

int WaitForFocus(const std::wstring& name, const std::wstring& text, DWORD deadline) {
  for (;;) {
    const HWND window = Shown(name);
    const HWND focus = window ? FocusOf(window) : nullptr;
    if (focus && IsChild(window, focus) && WindowText(focus) == text) return 0;
    if (GetTickCount() >= deadline) {
      if (focus) std::printf("%s\t%s\n", Utf8(ClassName(focus)).c_str(), Utf8(WindowText(focus)).c_str());
      return 1;
    }
    Sleep(50);
  }
}

void PrintEdges(const char* name, RECT r) {
  std::printf("%s\t%ld\t%ld\t%ld\t%ld\n", name, r.left, r.top, r.right, r.bottom);
}

RECT ScreenRect(HWND control) {
  RECT r = {};
  GetWindowRect(control, &r);
  return r;
}

// A rectangle in control's pixels, in the screen's.
RECT OnScreen(HWND control, RECT r) {
  MapWindowPoints(control, nullptr, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

std::string Colour(int index) {
  const COLORREF c = GetSysColor(index);
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
  return text;
}

HWND MainWindow(DWORD deadline) {
  HWND window = nullptr;
  while (!(window = FindWindowW(L"TFrmMain", nullptr)) && GetTickCount() < deadline) Sleep(100);
  return window;
}

int WaitForRows(int rows, DWORD deadline) {
  const HWND window = MainWindow(deadline);
  if (!window) return 1;
  Remote remote(window);
  for (;;) {
    const HWND list = FindWindowExW(window, nullptr, WC_LISTVIEWW, nullptr);
    if (list && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == rows) {
      for (int row = 0; row < rows; ++row) std::printf("%s\n", Utf8(remote.ItemText(list, row, 0)).c_str());
      return 0;
    }
    if (GetTickCount() >= deadline) return 1;
    Sleep(100);
  }
}

int PrintLayout() {
  const HWND window = FindWindowW(L"TFrmMain", nullptr);
  if (!window) return 1;
  Remote remote(window);
  const HWND list = FindWindowExW(window, nullptr, WC_LISTVIEWW, nullptr);
  const HWND bar = FindWindowExW(window, nullptr, TOOLBARCLASSNAMEW, nullptr);
  const HWND status = FindWindowExW(window, nullptr, STATUSCLASSNAMEW, nullptr);
  const HWND logs = FindWindowExW(window, nullptr, L"Edit", nullptr);
  // The Messages Center's label is the first static control with a text.
  HWND label = nullptr;
  for (HWND w = FindWindowExW(window, nullptr, L"Static", nullptr); w && !label;
       w = FindWindowExW(window, w, L"Static", nullptr))
    if (IsWindowVisible(w) && !WindowText(w).empty()) label = w;
  PrintEdges("window", ScreenRect(window));
  RECT client = {};
  GetClientRect(window, &client);
  PrintEdges("client", OnScreen(window, client));
  MONITORINFO monitor = {};
  monitor.cbSize = sizeof monitor;
  GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
  PrintEdges("workarea", monitor.rcWork);
  if (list) PrintEdges("files", ScreenRect(list));
  if (label) PrintEdges("label", ScreenRect(label));
  if (logs) PrintEdges("logs", ScreenRect(logs));
  if (status) PrintEdges("status", ScreenRect(status));
  const int rows = list ? static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
  for (int row = 0; row < rows; ++row) {
    const RECT r = OnScreen(list, remote.ItemRect(list, LVM_GETITEMRECT, row, LVIR_BOUNDS));
    const bool selected = SendMessageW(list, LVM_GETITEMSTATE, row, LVIS_SELECTED) & LVIS_SELECTED;
    std::printf("row\t%d\t%d\t%ld\t%ld\t%ld\t%ld\n", row, selected ? 1 : 0, r.left, r.top, r.right, r.bottom);
  }
  const int buttons = bar ? static_cast<int>(SendMessageW(bar, TB_BUTTONCOUNT, 0, 0)) : 0;
  for (int i = 0; i < buttons; ++i) {
    const TBBUTTON button = remote.Button(bar, i);
    if (button.fsStyle & BTNS_SEP) continue;
    const RECT r = OnScreen(bar, remote.ItemRect(bar, TB_GETITEMRECT, i, 0));
    std::printf("tool\t%d\t%d\t%ld\t%ld\t%ld\t%ld\n", i, (button.fsState & TBSTATE_ENABLED) ? 1 : 0, r.left, r.top,
                r.right, r.bottom);
  }
  std::printf("maximized\t%d\n", IsZoomed(window) ? 1 : 0);
  std::printf("minimized\t%d\n", IsIconic(window) ? 1 : 0);
  if (status) std::printf("statustext\t%s\n", Utf8(remote.StatusText(status)).c_str());
  std::printf("grip\t%d\n", status && (GetWindowLongPtrW(status, GWL_STYLE) & SBARS_SIZEGRIP) ? 1 : 0);
  std::printf("disabledimages\t%d\n", bar && SendMessageW(bar, TB_GETDISABLEDIMAGELIST, 0, 0) ? 1 : 0);
  const HWND focus = FocusOf(window);
  std::printf("focus\t%s\n", focus ? Utf8(ClassName(focus)).c_str() : "");
  std::printf("highlight\t%s\n", Colour(COLOR_HIGHLIGHT).c_str());
  std::printf("face\t%s\n", Colour(COLOR_BTNFACE).c_str());
  return 0;
}

int ShowMain(const std::string& how) {
  const HWND window = FindWindowW(L"TFrmMain", nullptr);
  if (!window || (how != "maximize" && how != "minimize" && how != "restore")) return 1;
  const bool maximize = how == "maximize", minimize = how == "minimize";
  auto reached = [&] { return (IsZoomed(window) != 0) == maximize && (IsIconic(window) != 0) == minimize; };
  // The frame's buttons send this; the window lays itself out on the way.
  SendMessageW(window, WM_SYSCOMMAND, maximize ? SC_MAXIMIZE : minimize ? SC_MINIMIZE : SC_RESTORE, 0);
  for (int i = 0; i < 100 && !reached(); ++i) Sleep(100);
  // Answered: the layout that follows the new size is done.
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &answer);
  return reached() ? 0 : 1;
}

int MoveMain(int left, int top) {
  const HWND window = FindWindowW(L"TFrmMain", nullptr);
  if (!window) return 1;
  SetWindowPos(window, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT r = {};
  GetWindowRect(window, &r);
  return r.left == left && r.top == top ? 0 : 1;
}

int WaitForRect(const std::wstring& name, DWORD deadline) {
  for (;;) {
    if (const HWND window = Shown(name)) {
      PrintEdges("rect", ScreenRect(window));
      return 0;
    }
    if (GetTickCount() >= deadline) return 1;
    Sleep(100);
  }
}

int WaitUntilGone(const std::wstring& name, DWORD deadline) {
  while (Shown(name)) {
    if (GetTickCount() >= deadline) return 1;
    Sleep(100);
  }
  // A message answered is a message loop reached: the command that showed
  // the window has returned.
  const HWND main = FindWindowW(L"TFrmMain", nullptr);
  DWORD_PTR answer = 0;
  const DWORD left = deadline > GetTickCount() ? deadline - GetTickCount() : 1;
  if (main && !SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, left, &answer)) return 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc == 2 && mode == "layout") return PrintLayout();
  if (argc == 3 && mode == "show") return ShowMain(argv[2]);
  if (argc == 4 && mode == "move") return MoveMain(std::atoi(argv[2]), std::atoi(argv[3]));
  if (argc == 4 && mode == "rows")
    return WaitForRows(std::atoi(argv[2]), GetTickCount() + 1000u * static_cast<DWORD>(std::atoi(argv[3])));
  if ((argc == 4 && (mode == "window" || mode == "gone" || mode == "rect")) || (argc == 5 && mode == "focus")) {
    const DWORD deadline = GetTickCount() + 1000u * static_cast<DWORD>(std::atoi(argv[argc - 1]));
    // The names as the command line has them, whatever the code page ("À propos").
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    const std::wstring name = count == argc ? wide[2] : L"", text = count == 5 ? wide[3] : L"";
    LocalFree(wide);
    if (mode == "focus") return WaitForFocus(name, text, deadline);
    if (mode == "rect") return WaitForRect(name, deadline);
    return mode == "window" ? WaitForWindow(name, deadline) : WaitUntilGone(name, deadline);
  }
  if (argc != 3) return 2;
  const int rows = std::atoi(argv[1]);
  const DWORD deadline = GetTickCount() + 1000u * static_cast<DWORD>(std::atoi(argv[2]));
  HWND window = nullptr;
  while (!(window = FindWindowW(L"TFrmMain", nullptr)) && GetTickCount() < deadline) Sleep(100);
  if (!window) return 1;
  HWND list = nullptr, status = nullptr;
  Remote remote(window);
  // The run is over when every row has its result and the title is the
  // program's name again. The frame can be found before its children exist.
  for (;;) {
    if (!list) list = FindWindowExW(window, nullptr, WC_LISTVIEWW, nullptr);
    if (!status) status = FindWindowExW(window, nullptr, STATUSCLASSNAMEW, nullptr);
    wchar_t title[256] = {};
    GetWindowTextW(window, title, 256);
    bool done = list && status && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == rows &&
                std::wstring(title) == L"Zantrel";
    for (int row = 0; done && row < rows; ++row) done = !remote.ItemText(list, row, 2).empty();
    if (done) break;
    if (GetTickCount() >= deadline) return 1;
    Sleep(200);
  }
  // The Output column, while the list shows it, after the result.
  const bool output = Header_GetItemCount(ListView_GetHeader(list)) > 3;
  for (int row = 0; row < rows; ++row)
    std::printf("%s\t%s%s\n", Utf8(remote.ItemText(list, row, 0)).c_str(), Utf8(remote.ItemText(list, row, 2)).c_str(),
                output ? ("\t" + Utf8(remote.ItemText(list, row, 3))).c_str() : "");
  std::printf("status\t%s\n", Utf8(remote.StatusText(status)).c_str());
  std::printf("columns");
  for (int column = 0; column < 3; ++column)
    std::printf("\t%d", static_cast<int>(SendMessageW(list, LVM_GETCOLUMNWIDTH, column, 0)));
  std::printf("\n");
  // The damage strip of the selected row: shown or not, and its words.
  if (HWND strip = FindWindowExW(window, nullptr, L"ZantrelDamageStrip", nullptr)) {
    wchar_t text[512] = {};
    GetWindowTextW(strip, text, 512);
    std::printf("strip\t%d\t%s\n", IsWindowVisible(strip) ? 1 : 0, Utf8(text).c_str());
  }
  return 0;
}
