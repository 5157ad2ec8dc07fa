#!/usr/bin/env bash
# The Windows window under Wine and Xvfb: zantrel.exe checks the films given
# on its command line (/checkerrors), a probe reads its file list and status
# bar from outside, it is quit by its File > Quit shortcut (Ctrl+Q), and the
# settings it saved on the way out are read back from its registry. Needs the
# cross build (scripts/build-windows.sh), wine64, Xvfb, xdotool and ffmpeg.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZANTREL_WINDOWS_BUILD_DIR:-$root/build-windows}"
wine=/usr/lib/wine/wine64
work="$build/window-test"
rm -rf "$work"
mkdir -p "$work/films"
export WINEPREFIX="$build/wineprefix-window" WINEDEBUG=-all

# The films: one as ffmpeg wrote it, one with zeros over its middle.
ffmpeg -loglevel error -y -f lavfi -i testsrc=d=2 -c:v mjpeg "$work/films/healthy.avi"
cp "$work/films/healthy.avi" "$work/films/damaged.avi"
size=$(stat -c %s "$work/films/damaged.avi")
dd if=/dev/zero of="$work/films/damaged.avi" bs=1 seek=$((size / 2)) count=20000 conv=notrunc status=none
windows() { printf 'Z:%s' "${1//\//\\}"; }

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
xvfb=$!
window=
# The window, its prefix's Wine processes and the display go whatever happens.
trap 'if [ -n "$window" ]; then kill $window 2>/dev/null || true; fi; /usr/lib/wine/wineserver -k 2>/dev/null || true
      kill $xvfb 2>/dev/null || true' EXIT
export DISPLAY=$display
sleep 2
# A fresh prefix is made before the window starts, not while the probe waits.
"$wine" wineboot -u >/dev/null 2>&1 || true

"$wine" "$build/zantrel.exe" /checkerrors "$(windows "$work/films/healthy.avi")" \
  "$(windows "$work/films/damaged.avi")" >"$work/window.log" 2>&1 &
window=$!
status=0
"$wine" "$build/zantrel-window-probe.exe" 2 120 | tr -d '\r' >"$work/probe.txt" || status=$?
cat "$work/probe.txt"
# What the window showed when its run did not end, for a person to look at.
if [ "$status" -ne 0 ] && command -v import >/dev/null; then import -window root "$work/unfinished.png" || true; fi
quit=1
if [ "$status" -eq 0 ]; then
  xdotool search --name '^Zantrel$' windowfocus --sync key ctrl+q
  for _ in $(seq 100); do
    if ! kill -0 "$window" 2>/dev/null; then
      quit=0
      window=
      break
    fi
    sleep 0.2
  done
fi

fail=0
# What each row and the status bar must say: the films' own making is the oracle.
while IFS='|' read -r what pattern; do
  if ! grep -qE "^$pattern\$" "$work/probe.txt"; then
    echo "FAIL: $what: no line matching '$pattern'"
    fail=1
  fi
done <<'TABLE'
the untouched film is healthy|healthy\.avi	Healthy
the damaged film has errors|damaged\.avi	Damaged: [1-9][0-9]* errors?.*
the summary counts both|status	2 files checked: 1 healthy, 1 damaged, 0 skipped, 0 not done\.
TABLE
if [ "$status" -ne 0 ]; then
  echo "FAIL: the window did not finish its run within two minutes"
  fail=1
elif [ "$quit" -ne 0 ]; then
  echo "FAIL: the window did not go by its Quit shortcut"
  fail=1
fi
# The way out saved the window's placement in the real registry.
if ! "$wine" reg query 'HKCU\Software\Zantrel\0.2\Placement' /v Width 2>/dev/null | grep -q REG_DWORD; then
  echo "FAIL: no window placement saved under HKCU\\Software\\Zantrel\\0.2\\Placement"
  fail=1
fi

# The installer's commands change the keys they name and no others: /inst
# applies the stored Explorer choice; /uninst asks (Enter takes its choices
# as they are offered: the handler ticked unless it is switched off) and
# applies them, deleting the settings only when that box is ticked.
handler='HKCR\SystemFileAssociations\.avi\shellex\PropertyHandler'
value() {
  if [ -n "${2:-}" ]; then set -- "$1" /v "$2"; else set -- "$1" /ve; fi
  "$wine" reg query "$@" 2>/dev/null | tr -d '\r' | sed -n 's/.*REG_[A-Z]*\s*//p' | head -n 1
}
exists() { "$wine" reg query "$1" >/dev/null 2>&1 && echo yes || echo no; }
state() {
  printf 'handler=%s backup=%s settings=%s' "$(value "$handler")" \
    "$(value 'HKCU\Software\Zantrel-Backup\0.2' AviHandler)" "$(exists 'HKCU\Software\Zantrel\0.2')"
}
while IFS='|' read -r what disable command expected; do
  "$wine" reg delete 'HKCU\Software\Zantrel' /f >/dev/null 2>&1 || true
  "$wine" reg delete 'HKCU\Software\Zantrel-Backup' /f >/dev/null 2>&1 || true
  "$wine" reg add "$handler" /ve /d '{h}' /f >/dev/null
  "$wine" reg add 'HKCU\Software\Zantrel\0.2\Files' /v DisableAviHandler /t REG_DWORD /d "$disable" /f >/dev/null
  if [ "$command" = /uninst-after-off ]; then
    "$wine" "$build/zantrel.exe" /inst
    "$wine" reg add 'HKCU\Software\Zantrel\0.2\Files' /v DisableAviHandler /t REG_DWORD /d 0 /f >/dev/null
    command=/uninst
  fi
  if [ "$command" = /uninst ]; then
    "$wine" "$build/zantrel.exe" /uninst &
    asked=$!
    sleep 4
    xdotool key Return
    for _ in $(seq 50); do kill -0 "$asked" 2>/dev/null || break; sleep 0.2; done
    if kill -0 "$asked" 2>/dev/null; then
      echo "FAIL: $what: the uninstall dialog did not close by Enter"
      kill "$asked" 2>/dev/null || true
      fail=1
      continue
    fi
  else
    "$wine" "$build/zantrel.exe" "$command"
  fi
  got="$(state)"
  if [ "$got" != "$expected" ]; then
    echo "FAIL: $what: $got, not $expected"
    fail=1
  fi
done <<'TABLE'
/inst with the handler switched off blanks it and keeps it|1|/inst|handler= backup={h} settings=yes
/inst with the handler on leaves it|0|/inst|handler={h} backup= settings=yes
/uninst keeps a handler switched off off|1|/uninst|handler= backup={h} settings=yes
/uninst puts back a handler switched off, backup gone|1|/uninst-after-off|handler={h} backup= settings=yes
TABLE
[ "$fail" -eq 0 ] && echo "window test passed"
exit "$fail"
