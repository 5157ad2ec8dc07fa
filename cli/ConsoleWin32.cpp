#include <windows.h>
// After windows.h, whose types they use.
#include <io.h>
#include <shellapi.h>

#include "cli/Console.h"
#include "util/Win32.h"

namespace {

std::atomic<bool>* stopFlag = nullptr;
HANDLE runEnded = nullptr;

// Ctrl+C and Ctrl+Break stop the run as SIGINT does on Linux. Closing the
// console window, logging off and shutting down are SIGHUP's counterparts;
// the system ends the process as soon as the handler returns (and after
// some seconds in any case), so the handler waits until the run has deleted
// the copy it was writing.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  stopFlag->store(true);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
    WaitForSingleObject(runEnded, 4500);
  return TRUE;
}

}  // namespace

std::vector<std::string> ProgramArguments(int, char**) {
  // The narrow arguments are in the ANSI code page, which cannot hold every
  // file name: the wide command line can.
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; wide != nullptr && i < count; ++i) args.push_back(VEK::Win32::Narrow(wide[i]));
  LocalFree(wide);
  return args;
}

void WatchStopRequests(std::atomic<bool>& stopRequested) {
  stopFlag = &stopRequested;
  runEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void RunEnded() {
  if (runEnded != nullptr) SetEvent(runEnded);
}

bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}
