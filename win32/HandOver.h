// A second start of the program hands its command line to the window that
// is already running, which adds its files (and checks or rebuilds them, as
// its switch says), then goes: one window on one set of settings.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ZantrelWin32 {

// The main window's class, by which a second start finds it.
inline constexpr wchar_t MainWindowClass[] = L"TFrmMain";
// COPYDATASTRUCT::dwData of a hand-over: a command line, argument 0 the
// program, in UTF-8, each argument ended by a null.
inline constexpr ULONG_PTR HandOverTag = 0x5A4E544C;  // "ZNTL"

std::vector<std::string> HandedArguments(const COPYDATASTRUCT& data);

// A start's arguments go to the running window when there is one (or one
// that is still opening, waited for): true when the window took them.
// Until it returns, the caller holds the name that tells later starts that
// a window is there or on its way.
bool HandToRunningWindow(const std::vector<std::string>& arguments);

}  // namespace ZantrelWin32
