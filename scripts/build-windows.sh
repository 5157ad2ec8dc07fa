#!/usr/bin/env bash
# Cross-builds the console program and the core's tests for 64-bit Windows in
# build-windows/ (or $ZANTREL_WINDOWS_BUILD_DIR), with Debian's mingw-w64.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZANTREL_WINDOWS_BUILD_DIR:-$root/build-windows}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE="${CMAKE_BUILD_TYPE:-RelWithDebInfo}" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DZANTREL_BUILD_GUI=OFF "$@" >/dev/null
cmake --build "$build" --parallel "${ZANTREL_JOBS:-$(nproc)}"
