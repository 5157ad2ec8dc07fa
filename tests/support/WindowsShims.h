// The few POSIX calls the portable tests make to set up their cases
// (environment variables, folders, links), on Win32, for the Windows build
// of the tests only: it is included before every test source there. It
// leaves windows.h out, whose macros (CreateFile, DeleteFile) would rename
// the program's own functions.
#pragma once

#ifdef _WIN32

#include <cerrno>

// Linux's value: the tests pass it through the file layer as any errno.
#ifndef EDQUOT
#define EDQUOT 122
#endif

int setenv(const char* name, const char* value, int overwrite);
int unsetenv(const char* name);
int mkdir(const char* path, int mode);
int link(const char* from, const char* to);
int symlink(const char* target, const char* path);

#endif
