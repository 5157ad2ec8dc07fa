#!/usr/bin/env bash
# Makes the Windows installer from the cross build (scripts/build-windows.sh)
# with NSIS, and prints its path.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZANTREL_WINDOWS_BUILD_DIR:-$root/build-windows}"
[ -f "$build/zantrel.exe" ] && [ -f "$build/zantrel-cli.exe" ] || ZANTREL_WINDOWS_BUILD_DIR="$build" "$root/scripts/build-windows.sh"
version="$(sed -n 's/^project(Zantrel VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
out="$build/zantrel-$version-setup.exe"
makensis -V2 -DVERSION="$version" -DBUILD="$build" -DOUTFILE="$out" "$root/packaging/windows/zantrel.nsi" >&2
chmod +x "$out"
echo "$out"
