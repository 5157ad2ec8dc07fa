#!/usr/bin/env bash
# The Windows window's own layout under Wine, on the display and in the
# prefix the caller set (DISPLAY, WINEPREFIX): scripts/window-test-windows.sh
# runs it after its own sessions. It starts the window from no settings and
# drives it as a user would: a first start, a second start with files, a
# maximise and a restore, a splitter drag, a row selected and the focus
# elsewhere, a question about a file gone, Add folder and Clear list. The probe says
# where the window's parts are; what only pixels show (a colour, a white
# box, a grip) is read from a picture of the screen as a property of one
# part, never compared with a stored picture.
# usage: window-layout-test-windows.sh BUILD WORK
set -euo pipefail
build="$1"
work="$2/layout"
wine=/usr/lib/wine/wine64
rm -rf "$work"
mkdir -p "$work/films/more"
ffmpeg -loglevel error -y -f lavfi -i testsrc=d=1 -c:v mjpeg "$work/films/kept.avi"
cp "$work/films/kept.avi" "$work/films/gone.avi"
cp "$work/films/kept.avi" "$work/films/more/inner.avi"
windows() { printf 'Z:%s' "${1//\//\\}"; }
probe() { "$wine" "$build/zantrel-window-probe.exe" "$@" | tr -d '\r'; }
# A part's edges from a layout: "files 3" is the files panel's right edge.
edge() { awk -F'\t' -v name="$2" -v n="$3" '$1 == name { print $(n + 1); exit }' "$work/$1.txt"; }
row_edge() { awk -F'\t' -v row="$2" -v n="$3" '$1 == "row" && $2 == row { print $(n + 3); exit }' "$work/$1.txt"; }
# A picture of the screen, and what a part of it holds.
shot() { import -window root "$work/$1.png"; }
crop() { convert "$work/$1.png" -crop "$(($4 - $2))x$(($5 - $3))+$2+$3" +repage "${@:6}"; }
# The share of a part's pixels that are of one colour (RRGGBB).
share() { crop "$1" "$2" "$3" "$4" "$5" -fill black +opaque "#$6" -fill white -opaque "#$6" -format '%[fx:mean]' info:; }
# How far from grey a part's most coloured pixel is, 0 to 1.
chroma() { crop "$1" "$2" "$3" "$4" "$5" -colorspace HCL -channel G -separate +channel -format '%[fx:maxima]' info:; }
# How light a part's darkest pixel is, 0 to 1.
lightest_dark() { crop "$1" "$2" "$3" "$4" "$5" -colorspace Gray -format '%[fx:minima]' info:; }
holds() { awk -v a="$1" -v op="$2" -v b="$3" 'BEGIN { exit !((op == "<" && a < b) || (op == ">" && a > b)) }'; }

# A window manager on the display, as on a desktop: it places a new window
# where it likes unless the window asks for its place, as a question must.
# Without one, Wine places and sizes its windows itself, as the system does
# (a maximised window then fills the screen), and the question's place is
# not tried.
x11='HKCU\Software\Wine\X11 Driver'
manager=
if command -v openbox >/dev/null; then
  openbox >/dev/null 2>&1 &
  manager=$!
  sleep 1
else
  echo "openbox is not installed: where a question opens after a move by the user is not checked" >&2
  "$wine" reg add "$x11" /v Managed /t REG_SZ /d N /f >/dev/null
fi
fail=0
check() {
  if ! eval "$2"; then
    echo "FAIL: $1"
    fail=1
  fi
}
window=
second=
trap 'for p in $window $second $manager; do kill $p 2>/dev/null || true; done
      "$wine" reg delete "$x11" /v Managed /f >/dev/null 2>&1 || true' EXIT
"$wine" reg delete 'HKCU\Software\Zantrel' /f >/dev/null 2>&1 || true

"$wine" "$build/zantrel.exe" >>"$work/window.log" 2>&1 &
window=$!
if ! probe window TFrmMain 60 >/dev/null; then
  echo "FAIL: the window did not open"
  exit 1
fi
sleep 0.5
probe layout >"$work/first.txt"
shot first

# A first start opens in the middle of the screen's free area, about two
# thirds of it.
read -r wl wt wr wb < <(awk -F'\t' '$1 == "window" { print $2, $3, $4, $5 }' "$work/first.txt")
read -r al at ar ab < <(awk -F'\t' '$1 == "workarea" { print $2, $3, $4, $5 }' "$work/first.txt")
check "a first start opens in the middle of the screen ($wl,$wt)-($wr,$wb) in ($al,$at)-($ar,$ab)" \
  '[ $(((wl + wr) - (al + ar))) -le 3 ] && [ $(((al + ar) - (wl + wr))) -le 3 ] &&
   [ $(((wt + wb) - (at + ab))) -le 3 ] && [ $(((at + ab) - (wt + wb))) -le 3 ]'
check "a first start takes about two thirds of the screen: $((wr - wl))x$((wb - wt)) of $((ar - al))x$((ab - at))" \
  '[ $((300 * (wr - wl))) -ge $((190 * (ar - al))) ] && [ $((300 * (wr - wl))) -le $((210 * (ar - al))) ] &&
   [ $((300 * (wb - wt))) -ge $((190 * (ab - at))) ] && [ $((300 * (wb - wt))) -le $((210 * (ab - at))) ]'

# A command that cannot be taken (the empty list's Check and Rebuild, Stop)
# shows a grey picture; one that can shows its colours.
check "the tool bar has pictures for commands that cannot be taken" '[ "$(edge first disabledimages 1)" = 1 ]'
greyest=0
colourful=0
darkest=1
while IFS=$'\t' read -r _ _ enabled l t r b; do
  c=$(chroma first "$l" "$t" "$r" "$b")
  if [ "$enabled" = 1 ]; then
    holds "$c" '>' "$colourful" && colourful=$c
  else
    holds "$c" '>' "$greyest" && greyest=$c
    d=$(lightest_dark first "$l" "$t" "$r" "$b")
    holds "$d" '<' "$darkest" && darkest=$d
  fi
done < <(grep $'^tool\t' "$work/first.txt")
check "a command that cannot be taken shows a grey picture (colour $greyest)" 'holds "$greyest" "<" 0.1'
check "a command that cannot be taken shows a faint picture (darkest $darkest)" 'holds "$darkest" ">" 0.5'
check "a command that can be taken shows its colours (colour $colourful)" 'holds "$colourful" ">" 0.3'

# A second start with files and its switch hands them to the window, which
# comes back from the taskbar and checks them, and goes.
probe show minimize || echo "FAIL: the window did not minimise"
"$wine" "$build/zantrel.exe" /checkerrors "$(windows "$work/films/gone.avi")" "$(windows "$work/films/kept.avi")" \
  >>"$work/window.log" 2>&1 &
second=$!
for _ in $(seq 150); do kill -0 "$second" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$second" 2>/dev/null; then
  echo "FAIL: a second start with files did not go"
  fail=1
  kill "$second" 2>/dev/null || true
fi
second=
probe rows 2 30 >"$work/rows.txt" || true
check "the second start's files are in the first window's list: $(tr '\n' ' ' <"$work/rows.txt")" \
  '[ "$(tr "\n" " " <"$work/rows.txt")" = "gone.avi kept.avi " ]'
probe 2 60 >"$work/checked.txt" || true
check "one window is open" '[ "$(xdotool search --name "^Zantrel\$" 2>/dev/null | wc -l)" -eq 1 ]'
check "the window checked the files handed to it" \
  'grep -qx "status	2 files checked: 2 healthy, 0 damaged, 0 skipped, 0 not done\." "$work/checked.txt"'
probe layout >"$work/handed.txt"
check "the window came back from the taskbar for the files handed to it" '[ "$(edge handed minimized 1)" = 0 ]'

# A new width is shared as before: the list keeps its proportion,
# maximised and back; a maximised window's status bar has no grip, and none
# is left where the bar's end was.
probe layout >"$work/normal.txt"
ratio() { awk -v f="$(($(edge "$1" files 3) - $(edge "$1" files 1)))" \
  -v c="$(($(edge "$1" client 3) - $(edge "$1" client 1)))" 'BEGIN { printf "%.3f", f / c }'; }
probe show maximize || echo "FAIL: the window did not maximise"
sleep 1
probe layout >"$work/maximized.txt"
shot maximized
check "maximised, the list keeps its share of the width: $(ratio normal) then $(ratio maximized)" \
  'holds "$(awk -v a="$(ratio normal)" -v b="$(ratio maximized)" "BEGIN { print (a > b ? a - b : b - a) }")" "<" 0.01'
check "a maximised window's status bar has no grip" '[ "$(edge maximized grip 1)" = 0 ]'
sl=$(edge maximized status 1) st=$(edge maximized status 2) sr=$(edge maximized status 3) sb=$(edge maximized status 4)
check "nothing is drawn in the status bar past its text" \
  'holds "$(share maximized $((sl + (sr - sl) / 2)) $((st + 3)) $((sr - 4)) $((sb - 3)) "$(edge maximized face 1)")" ">" 0.999'
probe show restore || echo "FAIL: the window did not come back from maximised"
probe layout >"$work/restored.txt"
check "back to its size, the list has its share again: $(ratio normal) then $(ratio restored)" \
  'holds "$(awk -v a="$(ratio normal)" -v b="$(ratio restored)" "BEGIN { print (a > b ? a - b : b - a) }")" "<" 0.01'
check "a window of normal size has its grip" '[ "$(edge restored grip 1)" = 1 ]'

# A splitter drag moves the list's edge; the label beside it stays on the
# window's face, with no white box.
x=$(($(edge restored files 3) + 2)) y=$((($(edge restored files 2) + $(edge restored files 4)) / 2))
xdotool mousemove "$x" "$y" mousedown 1 mousemove $((x + 10)) "$y" sleep 0.2 mousemove $((x + 50)) "$y" sleep 0.2 \
  mousemove $((x + 120)) "$y" sleep 0.2 mousemove $((x + 90)) "$y" sleep 0.2 mouseup 1
sleep 0.5
probe layout >"$work/dragged.txt"
shot dragged
moved=$(($(edge dragged files 3) - $(edge restored files 3)))
check "the splitter drag moved the list's edge by 90 pixels, not $moved" '[ "$moved" -ge 86 ] && [ "$moved" -le 94 ]'
white=$(share dragged "$(edge dragged label 1)" "$(edge dragged label 2)" "$(edge dragged label 3)" \
  "$(edge dragged label 4)" FFFFFF)
check "after a splitter drag the Messages Center's label has no white box ($white white)" '[ "$white" = 0 ]'

# The selected row is drawn in the system's highlight while another control
# has the focus.
xdotool mousemove $((($(row_edge dragged 0 1) + $(row_edge dragged 0 3)) / 2)) \
  $((($(row_edge dragged 0 2) + $(row_edge dragged 0 4)) / 2)) click 1
xdotool mousemove $((($(edge dragged logs 1) + $(edge dragged logs 3)) / 2)) \
  $((($(edge dragged logs 2) + $(edge dragged logs 4)) / 2)) click 1
sleep 0.5
probe layout >"$work/selected.txt"
shot selected
highlight=$(edge selected highlight 1)
# The row's text part, past its picture, inside the list.
rl=$(($(row_edge selected 0 1) + 30)) rr=$(($(edge selected files 3) - 4))
lit=$(share selected "$rl" "$(row_edge selected 0 2)" "$rr" "$(row_edge selected 0 4)" "$highlight")
check "the first row is the selected one" '[ "$(row_edge selected 0 0)" = 1 ] && [ "$(row_edge selected 1 0)" = 0 ]'
check "the focus is on the Messages Center, not $(edge selected focus 1)" '[ "$(edge selected focus 1)" = Edit ]'
check "without the focus, the selected row is in the highlight colour ($lit of it)" 'holds "$lit" ">" 0.5'

# A question opens over the window, where it is and again once the window
# has moved: here, about opening a row's film (a double click), gone since
# it was added.
rm "$work/films/gone.avi"
ask() {
  probe layout >"$work/$1-before.txt"
  xdotool mousemove $((($(row_edge "$1-before" 0 1) + $(row_edge "$1-before" 0 3)) / 2)) \
    $((($(row_edge "$1-before" 0 2) + $(row_edge "$1-before" 0 4)) / 2)) click --repeat 2 --delay 100 1
  if ! probe rect Open 20 >"$work/$1.txt"; then
    echo "FAIL: $1: no question about the file gone"
    fail=1
    shot "$1-none"
    return
  fi
  probe layout >"$work/$1-asking.txt"
  shot "$1"
  read -r ql qt qr qb < <(awk -F'\t' '$1 == "rect" { print $2, $3, $4, $5 }' "$work/$1.txt")
  read -r wl wt wr wb < <(awk -F'\t' '$1 == "window" { print $2, $3, $4, $5 }' "$work/$1-asking.txt")
  check "$1: the question ($ql,$qt)-($qr,$qb) opens in the middle of the window ($wl,$wt)-($wr,$wb)" \
    '[ $(((ql + qr) - (wl + wr))) -le 3 ] && [ $(((wl + wr) - (ql + qr))) -le 3 ] &&
     [ $(((qt + qb) - (wt + wb))) -le 3 ] && [ $(((wt + wb) - (qt + qb))) -le 3 ]'
  # Its one button, by a click: the keys go where the window manager's
  # focus is, which need not be the question.
  probe window Open 20 >/dev/null || true
  xdotool mousemove $((qr - 40)) $((qb - 20)) click 1
  probe gone Open 20 || echo "FAIL: $1: the question did not close"
}
ask question-first
# To the screen's bottom right corner, by the window manager as a drag of
# the title bar would.
to_x=$(($(edge selected workarea 3) - $(edge selected window 3) + $(edge selected window 1)))
to_y=$(($(edge selected workarea 4) - $(edge selected window 4) + $(edge selected window 2)))
if [ -n "$manager" ]; then
  xdotool search --name '^Zantrel$' windowmove "$to_x" "$to_y" >/dev/null
else
  probe move "$to_x" "$to_y" || echo "FAIL: the window could not be moved"
fi
sleep 1
ask question-moved

# Add folder is the system's open dialog choosing a folder, where the
# list's files are: a folder's name typed there is found beside them.
xdotool search --name '^Zantrel$' windowfocus --sync >/dev/null 2>&1 || true
xdotool key ctrl+shift+o
if probe window 'Select Folder' 30 >"$work/folder.txt" && grep -qE $'^Edit\t\tfocus$' "$work/folder.txt"; then
  xdotool type more
  xdotool key Return
  probe rows 3 30 >"$work/rows.txt" || true
  check "the folder chosen by its name beside the list's files is added: $(tr '\n' ' ' <"$work/rows.txt")" \
    '[ "$(tr "\n" " " <"$work/rows.txt")" = "gone.avi kept.avi inner.avi " ]'
else
  echo "FAIL: Add folder did not open the open dialog with its name box: $(cat "$work/folder.txt" 2>/dev/null)"
  fail=1
  xdotool key Escape
fi

# A cleared list leaves no summary of its rows in the status bar.
xdotool search --name '^Zantrel$' windowfocus --sync >/dev/null 2>&1 || true
xdotool key ctrl+l
sleep 0.5
probe layout >"$work/cleared.txt"
check "a cleared list's status bar says $(edge cleared statustext 1)" \
  '[ "$(edge cleared statustext 1)" = Ready ] && ! grep -q "^row" "$work/cleared.txt"'

xdotool search --name '^Zantrel$' windowfocus --sync >/dev/null 2>&1 || true
xdotool key ctrl+q
for _ in $(seq 100); do kill -0 "$window" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$window" 2>/dev/null; then
  echo "FAIL: the window did not go by its Quit shortcut"
  fail=1
else
  window=
fi
exit "$fail"
