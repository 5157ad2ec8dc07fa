#!/usr/bin/env bash
# Starts both windows on a 1920x1080 screen under Xvfb and openbox and saves
# pictures into docs/screenshots/, each cropped to its window (and the
# question over it):
#   main-done[-windows]-LANG-DPI.png   after a rebuild of a damaged film (its
#                                      copy checks "Repaired"), a healthy one
#                                      and a text file named .avi
#   stop-question[-windows]-LANG-DPI.png  Escape during a long check: the
#                                      question over the run it holds
#   inplace-warning[-windows]-LANG-DPI.png  a rebuild with "Keep original
#                                      file" off: the warning with its count
# for LANG en and fr and DPI 96 and 144 (the questions in English at 96 and
# in French at 144); then the Qt window's menus, Configuration tabs and About
# window, and the Windows window's Configuration and About, in English and
# French at 96 dpi. The Windows window comes from the cross build
# (scripts/build-windows.sh, $ZANTREL_WINDOWS_BUILD_DIR) and runs under Wine.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" xvfb xauth xdotool x11-utils x11-xserver-utils imagemagick openbox ffmpeg
# ZANTREL_NO_BUILD=1 takes the program already built in the build folder.
[ "${ZANTREL_NO_BUILD:-0}" = 1 ] || "$root/scripts/build.sh"
build="${ZANTREL_BUILD_DIR:-$root/build}"
wbuild="${ZANTREL_WINDOWS_BUILD_DIR:-$root/build-windows}"
wine=/usr/lib/wine/wine64
out="$root/docs/screenshots"
mkdir -p "$out"
work="$(mktemp -d)"
app=""
wm=""
xvfb=""
stop_app() {
  if [ -n "$app" ]; then
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
    app=""
  fi
  if [ -n "${WINEPREFIX:-}" ]; then "${wine%64}server" -k 2>/dev/null || true; fi
}
cleanup() {
  stop_app
  if [ -n "$wm" ]; then kill "$wm" 2>/dev/null || true; fi
  if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

. "$root/scripts/xvfb.sh"
start_xvfb 1920x1080x24
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run" LC_ALL=C.UTF-8
mkdir -p "$XDG_CONFIG_HOME/zantrel" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
openbox >/dev/null 2>&1 &
wm=$!
sleep 1

# The films, made by ffmpeg: a healthy one, the same with zeros over its
# middle (its rebuilt copy checks "Repaired"), and a text file named .avi.
ffmpeg -nostdin -v error -f lavfi -i testsrc=size=320x240:rate=25 -t 30 -c:v mjpeg -q:v 8 "$work/holiday.avi"
cp "$work/holiday.avi" "$work/birthday.avi"
size=$(stat -c %s "$work/birthday.avi")
dd if=/dev/zero of="$work/birthday.avi" bs=1 seek=$((size / 3)) count=60000 conv=notrunc status=none
printf 'Shopping list\nbread\nmilk\n' >"$work/notes.avi"
# A long check: a file whose damage runs on for gigabytes of zeros, so that
# the run is still going when the stop question comes up.
printf 'RIFF\0\0\0\0AVI LIST\4\0\0\0movi00dc\4\0\0\0abcd\1\1\1\1\1\1\1\1' >"$work/long-download.avi"
truncate -s 200G "$work/long-download.avi"
# Each batch works on fresh copies, so that no earlier copy is asked about.
films() {
  local dir="$work/films-$1"
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$work/birthday.avi" "$work/holiday.avi" "$work/notes.avi" "$dir/"
  ln -s "$work/long-download.avi" "$dir/long-download.avi"
  printf '%s\n' "$dir/birthday.avi" "$dir/holiday.avi" "$dir/notes.avi"
}

# The program's windows on the screen: the main window and any question.
shown() { xdotool search --onlyvisible --class '^zantrel(\.exe)?$' 2>/dev/null || true; }
# The screen around the program's windows with their frames, as one picture.
shoot() {
  local file="$1" x0=99999 y0=99999 x1=0 y1=0 id x y w h
  for id in $(shown); do
    read -r x y w h < <(xwininfo -id "$id" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
      /^  Width/ {w=$NF} /^  Height/ {h=$NF} END {print x, y, w, h}')
    ((x < x0)) && x0=$x
    ((y < y0)) && y0=$y
    ((x + w > x1)) && x1=$((x + w))
    ((y + h > y1)) && y1=$((y + h))
  done
  # The title bar and borders openbox draws around them.
  x0=$((x0 > 1 ? x0 - 1 : 0)) y0=$((y0 > 22 ? y0 - 22 : 0))
  x1=$((x1 + 1)) y1=$((y1 + 1))
  import -window root -crop "$((x1 - x0))x$((y1 - y0))+$x0+$y0" +repage "$file"
}
picture() { shoot "$out/$1.png"; echo "saved $1.png"; }

# The Qt window's settings: the language (0 English, 1 French) and whether
# the original is kept. Its fonts and pictures follow the screen's Xft.dpi.
qt_settings() {
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2]\r\n"Language"=dword:%08x\r\n\r\n' "$1" \
    >"$XDG_CONFIG_HOME/zantrel/registry.reg"
  printf '[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Files]\r\n"KeepOriginal"=dword:%08x\r\n\r\n' "$2" \
    >>"$XDG_CONFIG_HOME/zantrel/registry.reg"
}
qt_start() {
  echo "Xft.dpi: $1" | xrdb -override
  shift
  "$build/zantrel" "$@" >/dev/null 2>&1 &
  app=$!
  sleep 3
}

# The Windows window's: the same values in Wine's registry, and the dots per
# inch of its screen.
wine_settings() {
  "$wine" reg add 'HKCU\Software\Zantrel\0.2' /v Language /t REG_DWORD /d "$1" /f >/dev/null
  "$wine" reg add 'HKCU\Software\Zantrel\0.2\Files' /v KeepOriginal /t REG_DWORD /d "$2" /f >/dev/null
  "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$3" /f >/dev/null
  "${wine%64}server" -k 2>/dev/null || true
}
wine_start() {
  local args=("$2") a
  shift 2
  for a in "$@"; do args+=("Z:${a//\//\\}"); done
  "$wine" "$wbuild/zantrel.exe" "${args[@]}" >/dev/null 2>&1 &
  app=$!
  sleep 6
}
windows=0
if [ -x "$wbuild/zantrel.exe" ] && [ -x "$wine" ]; then
  windows=1
  export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  "$wine" wineboot -i >/dev/null 2>&1
fi

# One window's pictures: its kind ("" or "-windows"), language, dpi and
# whether the questions are taken at this language and dpi.
pictures() {
  local kind="$1" code="$2" lang="$3" dpi="$4" questions="$5" settings start
  if [ -z "$kind" ]; then settings=qt_settings start=qt_start; else settings=wine_settings start=wine_start; fi
  local suffix="$kind-$lang-$dpi"
  mapfile -t batch < <(films "$lang$dpi$kind")
  # A finished rebuild; the damaged film is first, and selected.
  $settings "$code" 1 "$dpi"
  $start "$dpi" /rebuildindex "${batch[@]}"
  sleep 6
  # The damaged film's row, the first, selected: its messages and its
  # damage strip.
  xdotool search --onlyvisible --name '^Zantrel$' windowactivate --sync \
    mousemove --window %1 60 $((76 * dpi / 96)) click 1 >/dev/null 2>&1 || true
  sleep 1
  picture "main-done$suffix"
  stop_app
  [ "$questions" = 1 ] || return 0

  # Escape during a long check: the question holds the run.
  mapfile -t batch < <(films "$lang$dpi$kind")
  $settings "$code" 1 "$dpi"
  $start "$dpi" /checkerrors "${batch[@]}" "$(dirname "${batch[0]}")/long-download.avi"
  sleep 4
  xdotool key Escape
  sleep 2
  picture "stop-question$suffix"
  stop_app

  # A rebuild in place: the warning names how many files and the first few.
  mapfile -t batch < <(films "$lang$dpi$kind")
  $settings "$code" 0 "$dpi"
  $start "$dpi" /rebuildindex "${batch[@]}"
  sleep 1
  picture "inplace-warning$suffix"
  stop_app
}

for window in "" -windows; do
  [ -z "$window" ] || [ "$windows" = 1 ] || continue
  pictures "$window" 0 en 96 1
  pictures "$window" 0 en 144 0
  pictures "$window" 1 fr 96 0
  pictures "$window" 1 fr 144 1
done

# The Qt window's File and Action menus with their shortcuts, its
# Configuration tabs and its About window, in English at 96 dpi.
window_named() { xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1; }
shot_named() { sleep 1; import -window "$(window_named "$1")" "$out/$2.png"; echo "saved $2.png"; }
mapfile -t batch < <(films menus)
qt_settings 0 1
qt_start 96 /checkerrors "${batch[@]}"
sleep 3
main="$(window_named Zantrel)"
for menu in f:menu-file a:menu-action; do
  xdotool windowactivate --sync "$main" key "alt+${menu%%:*}"
  sleep 0.5
  picture "${menu#*:}"
  xdotool key Escape
  sleep 0.3
done
xdotool windowactivate --sync "$main" key alt+t sleep 0.3 key c
shot_named Configuration config-files
xdotool key ctrl+Tab
shot_named Configuration config-messages-center
xdotool key ctrl+Tab
shot_named Configuration config-prompts
xdotool key Escape
sleep 0.5
xdotool windowactivate --sync "$main" key alt+h sleep 0.3 key a
shot_named About about
xdotool key Escape
stop_app

# The Windows window's Configuration dialog and About window, in English and
# in French at 96 dpi.
if [ "$windows" = 1 ]; then
  for lang in "0||alt+h a|About" "1|-fr|alt+a p|À propos"; do
    IFS='|' read -r code suffix about title <<<"$lang"
    wine_settings "$code" 1 96
    wine_start 96 /checkerrors "${batch[@]}"
    main="$(window_named Zantrel)"
    # shellcheck disable=SC2086 # the menu's keys
    for dialog in "ctrl+comma|Configuration|config" "$about|$title|about"; do
      IFS='|' read -r keys name picture <<<"$dialog"
      xdotool windowactivate --sync "$main" key $keys
      shot_named "$name" "$picture-windows$suffix"
      xdotool key Escape
      sleep 0.5
    done
    stop_app
  done
fi
