// What the console program needs of the system it runs on: its arguments
// in UTF-8, the user's requests to stop, and whether a stream is a terminal
// (ConsolePosix.cpp, ConsoleWin32.cpp).
#pragma once

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

// The arguments after the program's name, in UTF-8.
std::vector<std::string> ProgramArguments(int argc, char** argv);
// From now on the requests to stop (Ctrl+C, a closed terminal, a polite
// kill) set stopRequested rather than end the process, which would leave the
// copy being written behind.
void WatchStopRequests(std::atomic<bool>& stopRequested);
// The run has ended and cleaned up: a request that is waiting for it (the
// console window being closed) may let the process end.
void RunEnded();
bool IsTerminal(std::FILE* stream);
