#!/usr/bin/env bash
# Cross-builds the Windows programs and the core's tests, runs the tests under
# Wine in a prefix of their own inside the build folder, then tests the
# window and the installer under Wine and Xvfb.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZANTREL_WINDOWS_BUILD_DIR:-$root/build-windows}"
ZANTREL_WINDOWS_BUILD_DIR="$build" "$root/scripts/build-windows.sh"

# Nothing but system DLLs beside the program.
imports="$(x86_64-w64-mingw32-objdump -p "$build/zantrel-cli.exe" | sed -n 's/^\s*DLL Name: //p')"
for dll in $imports; do
  case "${dll,,}" in
    kernel32.dll | msvcrt.dll | shell32.dll | user32.dll | advapi32.dll | version.dll | api-ms-win-*.dll) ;;
    *) echo "zantrel-cli.exe needs $dll beside it" >&2; exit 1 ;;
  esac
done

export WINEPREFIX="$build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot -i >/dev/null 2>&1
fi
"$wine" "$build/tests/zantrel_tests.exe" --gtest_brief=1
# The same lines and bytes as the Linux build, where there is one.
linux_cli="${ZANTREL_BUILD_DIR:-$root/build}/zantrel-cli"
if [ -x "$linux_cli" ]; then
  "$root/scripts/cli-compare-windows.sh" "$linux_cli" "$build/zantrel-cli.exe"
else
  echo "zantrel-cli.exe not compared with the Linux build: $linux_cli is not built" >&2
fi
# A card in a drive: an image behind drive E:.
"$root/scripts/drive-test-windows.sh" "$build/zantrel-cli.exe"
# The prefix's server goes once the tests are done with it.
/usr/lib/wine/wineserver -w
# The window, driven from outside under Xvfb, and the installer, made and
# then installed and removed silently: each in a prefix of its own.
ZANTREL_WINDOWS_BUILD_DIR="$build" "$root/scripts/window-test-windows.sh"
ZANTREL_WINDOWS_BUILD_DIR="$build" "$root/scripts/installer-test-windows.sh"
