#!/usr/bin/env bash
# Starts the desktop program under Xvfb with a few files and saves pictures
# into docs/screenshots/: the main window (idle, running with the batch
# progress, done after a run that found errors, its File and Action menus)
# in English and in French,
# the stop question in French on top of its window, the window at a large
# font, the configuration dialog's three tabs and the About window; and the
# Windows window with its two dialogs under Wine, in both languages.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" xvfb xauth xdotool x11-utils imagemagick
# ZANTREL_NO_BUILD=1 takes the program already built in the build folder.
[ "${ZANTREL_NO_BUILD:-0}" = 1 ] || "$root/scripts/build.sh"
build="${ZANTREL_BUILD_DIR:-$root/build}"
out="$root/docs/screenshots"
mkdir -p "$out"
work="$(mktemp -d)"
display=":$((90 + RANDOM % 9))"
app=""
stop_app() {
  if [ -n "$app" ]; then
    kill "$app" 2>/dev/null || true
    wait "$app" 2>/dev/null || true
    app=""
  fi
}
cleanup() {
  stop_app
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME/zantrel" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
sleep 1

# The language as the settings store it, whatever the system's is.
# A second argument: the file list's width in a wide window, for a Messages
# Center that shows whole lines.
language() {
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2]\r\n"Language"=dword:%08x\r\n\r\n' "$1" \
    >"$XDG_CONFIG_HOME/zantrel/registry.reg"
  if [ -n "${2:-}" ]; then
    printf '[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Layout]\r\n"Files.Width"=dword:%08x\r\n\r\n' "$2" \
      >>"$XDG_CONFIG_HOME/zantrel/registry.reg"
    printf '[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2\\Placement]\r\n"Left"=dword:00000000\r\n"Top"=dword:00000000\r\n"Width"=dword:%08x\r\n"Height"=dword:%08x\r\n\r\n' 1120 560 \
      >>"$XDG_CONFIG_HOME/zantrel/registry.reg"
  fi
}
english() { language 0; }
french() { language 1; }

cp "$root/demo/damaged.avi" "$work/damaged.avi"
if command -v ffmpeg >/dev/null; then
  ffmpeg -nostdin -v error -f lavfi -i testsrc=size=160x120:rate=25 -t 2 -c:v mpeg4 "$work/holiday.avi"
fi
head -c 4096 /dev/urandom >"$work/notes.avi"
# The damaged file last: the finished window shows its corrupted spots.
files=("$work/notes.avi" "$work/damaged.avi")
[ -f "$work/holiday.avi" ] && files=("$work/holiday.avi" "${files[@]}")
# A long check: a file whose damage runs on for gigabytes of zeros. Last in
# the list, so that the batch bar stands well on when the picture is taken.
printf 'RIFF\0\0\0\0AVI LIST\4\0\0\0movi00dc\4\0\0\0abcd\1\1\1\1\1\1\1\1' >"$work/long-download.avi"
truncate -s 200G "$work/long-download.avi"
running=("${files[@]}" "$work/long-download.avi")

# The window's title changes while a batch runs; the process's window is
# found by its class.
window() { xdotool search --sync --onlyvisible --class "zantrel" | head -n 1; }
window_named() { xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1; }
shot() { sleep "${2:-1}"; import -window "$(window)" "$out/$1.png"; echo "saved $1.png"; }
shot_named() { sleep "${3:-1}"; import -window "$(window_named "$1")" "$out/$2.png"; echo "saved $2.png"; }
start() { "$build/zantrel" "$@" & app=$!; }

english
start x "${files[@]}"
shot main-idle 2
stop_app

start /checkerrors "${running[@]}"
shot main-running 4
stop_app

language 0 400
start /checkerrors "${files[@]}"
shot main-done 2
main="$(window)"
# The File and Action menus with their shortcuts, over the window.
screen_around() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  import -window root -crop "$((WIDTH + 40))x$((HEIGHT + 40))+0+0" +repage "$out/$2.png"
  echo "saved $2.png"
}
for menu in f:menu-file a:menu-action; do
  xdotool windowfocus --sync "$main" key "alt+${menu%%:*}"
  sleep 0.5
  screen_around "$main" "${menu#*:}"
  xdotool key Escape
  sleep 0.3
done
xdotool windowfocus --sync "$main" key alt+t sleep 0.3 key c
shot_named Configuration config-files
xdotool key ctrl+Tab
shot_named Configuration config-messages-center
xdotool key ctrl+Tab
shot_named Configuration config-prompts
xdotool key Escape
sleep 0.5
xdotool windowfocus --sync "$main" key alt+h sleep 0.3 key a
shot_named About about
xdotool key Escape
stop_app

language 1 400
start /checkerrors "${files[@]}"
shot main-done-fr 2
stop_app
french

start /checkerrors "${running[@]}"
shot main-running-fr 4
# Stop with the question on: the question sits on the window, its buttons in
# French. The screen around the window, to show where the box stands.
main="$(window)"
xdotool windowfocus --sync "$main" key Escape
sleep 1
screen_around "$main" stop-question-fr
stop_app

# Large fonts: the counters and the state text still show their whole text.
QT_FONT_DPI=168 "$build/zantrel" /checkerrors "${running[@]}" &
app=$!
shot main-running-fr-large-font 4
stop_app

# The Windows window under Wine, when the Windows build is there: a finished
# check, then its Configuration dialog and About window over it, in English
# and in French.
wbuild="${ZANTREL_WINDOWS_BUILD_DIR:-$root/build-windows}"
if [ -x "$wbuild/zantrel.exe" ] && [ -x /usr/lib/wine/wine64 ]; then
  export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
  wfiles=()
  for f in "${files[@]}"; do wfiles+=("Z:${f//\//\\}"); done
  # Language, the pictures' suffix, the About window's menu keys and title.
  for lang in "0||alt+h a|About" "1|-fr|alt+a p|À propos"; do
    IFS='|' read -r code suffix about title <<<"$lang"
    /usr/lib/wine/wine64 reg add 'HKCU\Software\Zantrel\0.2' /v Language /t REG_DWORD /d "$code" /f >/dev/null
    /usr/lib/wine/wine64 "$wbuild/zantrel.exe" /checkerrors "${wfiles[@]}" >/dev/null 2>&1 &
    app=$!
    sleep 8
    main="$(xdotool search --sync --onlyvisible --name '^Zantrel$' | head -n 1)"
    import -window "$main" "$out/main-done-windows$suffix.png"
    echo "saved main-done-windows$suffix.png"
    # shellcheck disable=SC2086 # the menu's keys
    for dialog in "ctrl+comma|Configuration|config" "$about|$title|about"; do
      IFS='|' read -r keys name picture <<<"$dialog"
      xdotool windowfocus --sync "$main" key $keys
      shot_named "$name" "$picture-windows$suffix"
      xdotool key Escape
      sleep 0.5
    done
    stop_app
    /usr/lib/wine/wineserver -k 2>/dev/null || true
  done
fi
