// Reads the running window's file list and status bar from outside, as a
// screen reader would, once its run is over: the window's own state for the
// Wine test, not a picture of it.
//
// usage: zantrel-window-probe ROWS SECONDS
// Prints one "name<TAB>result" line per row, then "status<TAB>text"; exits 1
// when the run is not over within SECONDS.
#include <windows.h>
// The other system headers use its types.
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

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
  std::wstring StatusText(HWND bar) {
    SendMessageW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(memory_));
    return Read(0);
  }

 private:
  static constexpr int kText = 2048;
  static constexpr SIZE_T kSize = sizeof(LVITEMW) + kText * sizeof(wchar_t);
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

}  // namespace

int main(int argc, char** argv) {
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
  for (int row = 0; row < rows; ++row)
    std::printf("%s\t%s\n", Utf8(remote.ItemText(list, row, 0)).c_str(), Utf8(remote.ItemText(list, row, 2)).c_str());
  std::printf("status\t%s\n", Utf8(remote.StatusText(status)).c_str());
  return 0;
}
