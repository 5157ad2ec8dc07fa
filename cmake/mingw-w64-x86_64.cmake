# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread
# model, so that std::thread and std::mutex work).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZANTREL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZANTREL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZANTREL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZANTREL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZANTREL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs run from wherever they are copied: the C and C++ runtimes and
# winpthreads are linked in, so nothing but system DLLs is needed beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests and helpers run through Wine.
find_program(ZANTREL_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(ZANTREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZANTREL_WINE})
endif()
