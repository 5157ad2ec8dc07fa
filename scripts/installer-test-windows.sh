#!/usr/bin/env bash
# The Windows installer under Wine, in a prefix of its own: a silent install
# (/S) puts both programs under Program Files with their Start menu entries
# and runs "zantrel.exe /inst"; a silent uninstall runs "zantrel.exe /uninst"
# (its dialog answered by Enter) and removes them. The registry is read back
# with Wine's reg. Needs the installer (scripts/package-windows.sh), Xvfb and
# xdotool.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZANTREL_WINDOWS_BUILD_DIR:-$root/build-windows}"
setup="$(ZANTREL_WINDOWS_BUILD_DIR="$build" "$root/scripts/package-windows.sh" | tail -n 1)"
wine=/usr/lib/wine/wine64
export WINEPREFIX="$build/wineprefix-installer" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$WINEPREFIX"
. "$root/scripts/xvfb.sh"
xvfb=
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; if [ -n "$xvfb" ]; then kill $xvfb 2>/dev/null || true; fi' EXIT
start_xvfb 1024x768x24
"$wine" wineboot -i >/dev/null 2>&1

handler='HKCR\SystemFileAssociations\.avi\shellex\PropertyHandler'
value() {
  if [ -n "${2:-}" ]; then set -- "$1" /v "$2"; else set -- "$1" /ve; fi
  "$wine" reg query "$@" 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_[A-Z]*\s*//p' | head -n 1
}
exists() { "$wine" reg query "$1" >/dev/null 2>&1 && echo yes || echo no; }
program="$WINEPREFIX/drive_c/Program Files/Zantrel"
links() { find "$WINEPREFIX/drive_c" -name 'Zantrel.lnk' 2>/dev/null | wc -l; }
state() {
  printf 'programs=%s link=%s uninstall-key=%s handler=%s backup=%s' \
    "$([ -f "$program/zantrel.exe" ] && [ -f "$program/zantrel-cli.exe" ] && echo yes || echo no)" "$(links)" \
    "$(exists 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zantrel')" "$(value "$handler")" \
    "$(value 'HKCU\Software\Zantrel-Backup\0.2' AviHandler)"
}
fail=0
check() {
  local got
  got="$(state)"
  if [ "$got" = "$2" ]; then echo "ok: $1"; else echo "FAIL: $1: $got, not $2"; fail=1; fi
}

# Explorer's handler is there, and the user had switched it off before.
"$wine" reg add "$handler" /ve /d '{h}' /f >/dev/null
"$wine" reg add 'HKCU\Software\Zantrel\0.2\Files' /v DisableAviHandler /t REG_DWORD /d 1 /f >/dev/null
"$wine" "$setup" /S
check "a silent install puts the programs in place and runs /inst, which switches the handler off" \
  "programs=yes link=1 uninstall-key=yes handler= backup={h}"

# Switched on again in the settings, the uninstall's /uninst finds it to put back.
"$wine" reg add 'HKCU\Software\Zantrel\0.2\Files' /v DisableAviHandler /t REG_DWORD /d 0 /f >/dev/null
"$wine" "$program/uninstall.exe" /S &
for _ in $(seq 150); do
  if xdotool search --name '^Uninstall$' >/dev/null 2>&1; then sleep 1; xdotool key Return; break; fi
  sleep 0.2
done
for _ in $(seq 150); do [ -f "$program/zantrel.exe" ] || break; sleep 0.2; done
sleep 1
check "a silent uninstall runs /uninst, which puts the handler back, and removes the programs" \
  "programs=no link=0 uninstall-key=no handler={h} backup="
[ "$fail" -eq 0 ] && echo "installer test passed"
exit "$fail"
