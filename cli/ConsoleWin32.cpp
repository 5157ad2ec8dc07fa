#include <windows.h>
// After windows.h, whose types they use.
#include <io.h>
#include <shellapi.h>

#include <fcntl.h>

#include <string>
#include <string_view>
#include <thread>

#include "cli/Console.h"
#include "util/Win32.h"

namespace {

std::atomic<bool>* stopFlag = nullptr;
HANDLE runEnded = nullptr;

// The bytes at the end of text that begin a UTF-8 sequence still unfinished.
std::size_t UnfinishedTail(std::string_view text) {
  for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    const unsigned char c = static_cast<unsigned char>(text[text.size() - back]);
    if ((c & 0xC0) == 0x80) continue;
    const std::size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return length > back ? back : 0;
  }
  return 0;
}

// A stream whose bytes go down a pipe to a thread that shows them on the
// console as UTF-16, a character never split between two writes.
struct ConsolePump {
  std::FILE* Stream = nullptr;
  std::thread Thread;

  void Run(HANDLE from, HANDLE console) {
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(from, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      pending.append(buffer, got);
      const std::size_t ready = pending.size() - UnfinishedTail(pending);
      Show(console, std::string_view(pending).substr(0, ready));
      pending.erase(0, ready);
    }
    Show(console, pending);
    CloseHandle(from);
  }

  static void Show(HANDLE console, std::string_view text) {
    if (text.empty()) return;
    const std::wstring wide = VEK::Win32::Wide(text);
    DWORD written = 0;
    WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  }
};

// Standard output and standard error on the console share one pipe, so
// their texts show in the order written.
ConsolePump pump;

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

std::FILE* ConsoleStream(std::FILE* stream) {
  if (!IsTerminal(stream)) return stream;
  if (pump.Stream != nullptr) return pump.Stream;
  HANDLE console = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) return stream;
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(writeEnd), _O_WRONLY | _O_BINARY);
  std::FILE* piped = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
  if (piped == nullptr) {
    if (fd >= 0)
      _close(fd);
    else
      CloseHandle(writeEnd);
    CloseHandle(readEnd);
    return stream;
  }
  // Unbuffered, so that progress shows as it is written.
  std::setvbuf(piped, nullptr, _IONBF, 0);
  pump.Stream = piped;
  pump.Thread = std::thread([readEnd, console] { pump.Run(readEnd, console); });
  return piped;
}

void RunEnded() {
  // Closing the pipe's writing end lets its thread show the rest and end.
  if (pump.Stream != nullptr) {
    std::fclose(pump.Stream);
    pump.Thread.join();
    pump.Stream = nullptr;
  }
  if (runEnded != nullptr) SetEvent(runEnded);
}

bool IsTerminal(std::FILE* stream) {
  DWORD mode = 0;
  return GetConsoleMode(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream))), &mode) != 0;
}
