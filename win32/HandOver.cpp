#include "win32/HandOver.h"

namespace ZantrelWin32 {

namespace {

// Sent once the receiver could answer; a window busy past this is taken as
// hung, and the start opens a window of its own.
constexpr UINT kAnswerMilliseconds = 10000;
// A start just before this one has this long to show its window.
constexpr DWORD kOpeningMilliseconds = 10000;

bool SendTo(HWND window, const std::vector<std::string>& arguments) {
  std::string packed;
  for (const std::string& argument : arguments) packed.append(argument).push_back('\0');
  COPYDATASTRUCT data = {};
  data.dwData = HandOverTag;
  data.cbData = static_cast<DWORD>(packed.size());
  data.lpData = packed.data();
  // The window comes to the front when it takes the files: this start, the
  // user's own, lets it.
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  AllowSetForegroundWindow(process);
  DWORD_PTR taken = 0;
  return SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG,
                             kAnswerMilliseconds, &taken) != 0 &&
         taken == TRUE;
}

}  // namespace

std::vector<std::string> HandedArguments(const COPYDATASTRUCT& data) {
  std::vector<std::string> arguments;
  if (data.dwData != HandOverTag || !data.lpData) return arguments;
  const char* text = static_cast<const char*>(data.lpData);
  std::size_t from = 0;
  for (std::size_t i = 0; i < data.cbData; ++i)
    if (text[i] == '\0') {
      arguments.emplace_back(text + from, i - from);
      from = i + 1;
    }
  return arguments;
}

bool HandToRunningWindow(const std::vector<std::string>& arguments) {
  // The first start holds the name for as long as it runs: the handle is
  // never closed, the system lets it go with the process. A start that
  // finds the name taken waits for that start's window.
  const HANDLE name = CreateMutexW(nullptr, FALSE, L"Local\\Zantrel.MainWindow");
  const bool another = name && GetLastError() == ERROR_ALREADY_EXISTS;
  const DWORD until = GetTickCount() + (another ? kOpeningMilliseconds : 0);
  for (;;) {
    if (HWND window = FindWindowW(MainWindowClass, nullptr))
      if (SendTo(window, arguments)) return true;
    if (static_cast<LONG>(GetTickCount() - until) >= 0) return false;
    Sleep(100);
  }
}

}  // namespace ZantrelWin32
