#!/usr/bin/env bash
# Starts the desktop program under Xvfb with a few files and saves pictures
# of the main window (idle, running, done), the configuration dialog's three
# tabs and the About window into docs/screenshots/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" xvfb xauth xdotool x11-utils imagemagick
"$root/scripts/build.sh"
build="${ZANTREL_BUILD_DIR:-$root/build}"
out="$root/docs/screenshots"
mkdir -p "$out"
work="$(mktemp -d)"
display=":$((90 + RANDOM % 9))"
cleanup() {
  pkill -f "$build/zantrel " 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$XDG_CONFIG_HOME/zantrel" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
sleep 1
# English messages for the pictures (a normal start speaks French unless told).
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Zantrel\\0.2]\r\n"Language"=dword:00000000\r\n\r\n' \
  >"$XDG_CONFIG_HOME/zantrel/registry.reg"

cp "$root/demo/damaged.avi" "$work/damaged.avi"
if command -v ffmpeg >/dev/null; then
  ffmpeg -nostdin -v error -f lavfi -i testsrc=size=160x120:rate=25 -t 2 -c:v mpeg4 "$work/holiday.avi"
fi
head -c 4096 /dev/urandom >"$work/notes.avi"
files=("$work/damaged.avi" "$work/notes.avi")
[ -f "$work/holiday.avi" ] && files=("$work/holiday.avi" "${files[@]}")

window() { xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1; }
shot() { sleep "${3:-1}"; import -window "$(window "$1")" "$out/$2.png"; echo "saved $2.png"; }

"$build/zantrel" x "${files[@]}" &
shot Zantrel main-idle 2
pkill -f "$build/zantrel " || true
sleep 1

# A long check: a file whose damage runs on for gigabytes of zeros.
printf 'RIFF\0\0\0\0AVI LIST\4\0\0\0movi00dc\4\0\0\0abcd\1\1\1\1\1\1\1\1' >"$work/long-download.avi"
truncate -s 200G "$work/long-download.avi"
"$build/zantrel" /checkerrors "$work/long-download.avi" "${files[@]}" &
shot Zantrel main-running 3
pkill -f "$build/zantrel " || true
sleep 1

"$build/zantrel" /checkerrors "${files[@]}" &
shot Zantrel main-done 3
main="$(window Zantrel)"
xdotool windowfocus --sync "$main" key alt+t sleep 0.3 key c
shot Configuration config-files
xdotool key ctrl+Tab
shot Configuration config-messages-center
xdotool key ctrl+Tab
shot Configuration config-prompts
xdotool key Escape
sleep 0.5
xdotool windowfocus --sync "$main" key alt+h sleep 0.3 key a
shot About about
xdotool key Escape
