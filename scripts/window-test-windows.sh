#!/usr/bin/env bash
# The Windows window under Wine and Xvfb: zantrel.exe checks the films given
# on its command line (/checkerrors), a probe reads its file list and status
# bar from outside, the Configuration dialog and the About window are driven
# by their keys, it is quit by its File > Quit shortcut (Ctrl+Q), and the
# settings it saved on the way are read back from its registry. Needs the
# cross build (scripts/build-windows.sh), wine64, Xvfb, xdotool and ffmpeg.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZANTREL_WINDOWS_BUILD_DIR:-$root/build-windows}"
wine=/usr/lib/wine/wine64
work="$build/window-test"
rm -rf "$work"
mkdir -p "$work/films"
export WINEPREFIX="$build/wineprefix-window" WINEDEBUG=-all
# The system's language is English, and arguments go to Wine in UTF-8,
# whatever the caller's locale.
export LC_ALL=C.UTF-8

# The films: one as ffmpeg wrote it, one with zeros over its middle.
ffmpeg -loglevel error -y -f lavfi -i testsrc=d=2 -c:v mjpeg "$work/films/healthy.avi"
cp "$work/films/healthy.avi" "$work/films/damaged.avi"
size=$(stat -c %s "$work/films/damaged.avi")
dd if=/dev/zero of="$work/films/damaged.avi" bs=1 seek=$((size / 2)) count=20000 conv=notrunc status=none
windows() { printf 'Z:%s' "${1//\//\\}"; }

. "$root/scripts/xvfb.sh"
window=
xvfb=
# The window, its prefix's Wine processes and the display go whatever happens.
trap 'if [ -n "$window" ]; then kill $window 2>/dev/null || true; fi; /usr/lib/wine/wineserver -k 2>/dev/null || true
      rm -f "$WINEPREFIX/dosdevices/e::" "$WINEPREFIX/dosdevices/e:"
      if [ -n "$xvfb" ]; then kill $xvfb 2>/dev/null || true; fi' EXIT
start_xvfb 1024x768x24
# A fresh prefix is made before the window starts, not while the probe waits.
"$wine" wineboot -u >/dev/null 2>&1 || true
# The window starts from no settings, whatever an earlier run left.
"$wine" reg delete 'HKCU\Software\Zantrel' /f >/dev/null 2>&1 || true

"$wine" "$build/zantrel.exe" /checkerrors "$(windows "$work/films/healthy.avi")" \
  "$(windows "$work/films/damaged.avi")" >"$work/window.log" 2>&1 &
window=$!
status=0
"$wine" "$build/zantrel-window-probe.exe" 2 120 | tr -d '\r' >"$work/probe.txt" || status=$?
cat "$work/probe.txt"
# What the window showed when its run did not end, for a person to look at.
if [ "$status" -ne 0 ] && command -v import >/dev/null; then import -window root "$work/unfinished.png" || true; fi
fail=0
probe() { "$wine" "$build/zantrel-window-probe.exe" "$@" | tr -d '\r'; }
focus_main() { timeout 20 xdotool search --name '^Zantrel$' windowfocus --sync >/dev/null 2>&1 || true; }

# The dialogs as a user goes through them, from the keyboard: each session
# opens one from the main window, waits until it has the focus (the probe
# prints its controls then), takes its steps, and waits until it has gone
# and the main window is back in its message loop. A step is an xdotool
# command, or "focus TEXT": the keys so far must bring the focus to the
# control showing TEXT, which the probe waits for; that follows the tab
# order. The dialog opens on the page it last showed. What the sessions
# leave is checked further down.
if [ "$status" -eq 0 ]; then
  while IFS='|' read -r session open title keys; do
    focus_main
    # shellcheck disable=SC2086 # the keys are words
    xdotool key $open
    if ! probe window "$title" 30 >"$work/$session.txt"; then
      echo "FAIL: $session: no \"$title\" window took the focus"
      fail=1
      break
    fi
    IFS=';' read -ra steps <<<"$keys"
    for step in "${steps[@]}"; do
      if [ "${step%% *}" = focus ]; then
        if ! probe focus "$title" "${step#focus }" 10 >"$work/focus.txt"; then
          echo "FAIL: $session: the focus went to '$(cat "$work/focus.txt")', not to '${step#focus }'"
          fail=1
        fi
      else
        # shellcheck disable=SC2086 # an xdotool command and its words
        xdotool $step
      fi
    done
    if ! probe gone "$title" 30; then
      echo "FAIL: $session: the \"$title\" window did not close"
      fail=1
      break
    fi
    probe window TFrmMain 30 >"$work/$session-main.txt" || true
  done <<'TABLE'
files-ok|ctrl+comma|Configuration|key Tab;focus Keep original file (create a new file);key Tab;focus Disable Explorer's AVI handler (Windows XP);key Tab;focus Zantrel.;type Fixed-;key Tab;focus Skip files that need no repair;key space;key Return
files-escape|ctrl+comma|Configuration|key Tab Tab Tab;focus Fixed-;type Other-;key Escape
files-cancel|ctrl+comma|Configuration|key Tab Tab Tab;type Other-;key Tab Tab;focus &Ok;key Tab;focus &Cancel;key space
about|alt+h a|About|key Escape
messages-ok|ctrl+comma|Configuration|key ctrl+Tab Tab;focus &Clear messages before starting any operation;key Tab;focus &Display messages for the selected file only;key space;key Return
language-ok|ctrl+comma|Configuration|key Tab Tab Tab;focus English;key Down;key Return
about-fr|alt+a p|À propos|key Return
TABLE
fi

quit=1
if [ "$status" -eq 0 ]; then
  focus_main
  xdotool key ctrl+q
  for _ in $(seq 100); do
    if ! kill -0 "$window" 2>/dev/null; then
      quit=0
      window=
      break
    fi
    sleep 0.2
  done
fi

# What each row and the status bar must say: the films' own making is the oracle.
while IFS='|' read -r what pattern; do
  if ! grep -qE "^$pattern\$" "$work/probe.txt"; then
    echo "FAIL: $what: no line matching '$pattern'"
    fail=1
  fi
done <<'TABLE'
the untouched film is healthy|healthy\.avi	Healthy
the damaged film says what it lost|damaged\.avi	Damaged: [0-9]+\.[0-9] s lost at [0-9]{2}:[0-9]{2}
the summary counts both|status	2 files checked: 1 healthy, 1 damaged, 0 skipped, 0 not done\.
the list's columns are as designed at 96 dots per inch, the result's at least|columns	200	350	(1[5-9][0-9]|[2-9][0-9]{2})
TABLE
# The damaged film, selected as the run went, shows its strip, whose words
# give the time of film the zeros took.
clock='[0-9]{2}:[0-9]{2}:[0-9]{2}'
if ! grep -qE "^strip	1	($clock–$clock lost \([0-9]+\.[0-9] s\)|[0-9]+\.[0-9] s lost at $clock)\$" "$work/probe.txt"; then
  echo "FAIL: the damaged film's strip: no line 'strip	1	HH:MM:SS–HH:MM:SS lost (N.N s)' or 'strip	1	N.N s lost at HH:MM:SS'"
  fail=1
fi
if [ "$status" -ne 0 ]; then
  echo "FAIL: the window did not finish its run within two minutes"
  fail=1
elif [ "$quit" -ne 0 ]; then
  echo "FAIL: the window did not go by its Quit shortcut"
  fail=1
fi
# What the dialogs showed, and what the main window showed after them. The
# Qt dialog's designed states and the catalogue's texts are the oracle; the
# version is the project's.
version=$(sed -n 's/^project(Zantrel VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
while IFS='|' read -r what file pattern; do
  if [ "$status" -ne 0 ] || ! grep -qE -- "$pattern" "$work/$file" 2>/dev/null; then
    echo "FAIL: $what: no line of $file matching '$pattern'"
    fail=1
  fi
done <<TABLE
the Configuration dialog opens with the focus on its tabs|files-ok.txt|^SysTabControl32		focus\$
a fresh record keeps the original|files-ok.txt|^Button	Keep original file \\(create a new file\\)	checked\$
a fresh record leaves Explorer's handler alone|files-ok.txt|^Button	Disable Explorer's AVI handler \\(Windows XP\\)	\$
a fresh record has the default prefix|files-ok.txt|^Edit	Zantrel\\.	\$
the other pages are there, hidden|files-ok.txt|^Button	&Clear messages before starting any operation	checked,hidden\$
the language shown is the one in use|files-ok.txt|^ComboBox	English	hidden\$
the overwrite choices are off while the question is asked|files-ok.txt|^Button	Skip when file already exists	checked,disabled,hidden\$
the dialog opens again on the page it last showed|language-ok.txt|^Button	&Clear messages before starting any operation	checked\$
the About window shows the version resource's|about.txt|^Static	Zantrel $version	\$
the mail link opens a mail to the author|about.txt|^SysLink	.*	href=mailto:zantrel@zantrel\\.org\$
the web link opens the web site|about.txt|^SysLink	.*	href=https://zantrel\\.org/\$
the About window closes by its default button|about.txt|^Button	Close	focus\$
with one file's messages shown, the other's are not|files-ok-main.txt|^Edit	.*damaged\\.avi
the Messages Center shows every file's messages once that is chosen|messages-ok-main.txt|^Edit	.*healthy\\.avi.*damaged\\.avi
the main window speaks the language chosen|language-ok-main.txt|^Static	Centre de messages :	
the About window speaks it too|about-fr.txt|^Button	Fermer	focus\$
TABLE
if grep -qE '^Edit	.*healthy\.avi' "$work/files-ok-main.txt" 2>/dev/null; then
  echo "FAIL: the Messages Center showed another file's messages while one file's were chosen"
  fail=1
fi
# Ok saved what was typed and ticked (after three Tabs: the tab order is the
# Qt dialog's); Escape and Cancel kept nothing of "Other-".
setting() {
  "$wine" reg query "HKCU\\Software\\Zantrel\\0.2$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
while IFS='|' read -r what key name expected; do
  got=$(setting "$key" "$name")
  if [ "$got" != "$expected" ]; then
    echo "FAIL: $what: $name is '$got', not '$expected'"
    fail=1
  fi
done <<'TABLE'
Ok keeps the prefix typed, Escape and Cancel do not|\Files|Prefix|Fixed-
the box after the prefix is ticked|\Files|SkipHealthy|0x1
the box before it is not|\Files|DisableAviHandler|0x0
the Messages Center shows every file's messages|\Messages|SelectedFile|0x0
the box before it is left as it was|\Messages|AutoClear|0x1
the language chosen is kept||Language|0x1
TABLE

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
    for _ in $(seq 150); do
      if xdotool search --name '^Uninstall$' >/dev/null 2>&1; then sleep 1; break; fi
      sleep 0.2
    done
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
# At 144 dots per inch the list's columns are half as wide again, and the
# widths saved are those of 96 dots per inch, so that a setting means the
# same on every screen: a stored width comes back as it was, and one not
# stored in a stored layout is the settings' default (250).
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f >/dev/null
"$wine" reg delete 'HKCU\Software\Zantrel' /f >/dev/null 2>&1 || true
"$wine" reg add 'HKCU\Software\Zantrel\0.2\Layout' /v 'Files.Column(1).Width' /t REG_DWORD /d 300 /f >/dev/null
"$wine" "$build/zantrel.exe" /checkerrors "$(windows "$work/films/healthy.avi")" >>"$work/window.log" 2>&1 &
window=$!
"$wine" "$build/zantrel-window-probe.exe" 1 120 | tr -d '\r' >"$work/probe-144.txt" || true
focus_main
xdotool key ctrl+q
for _ in $(seq 100); do kill -0 "$window" 2>/dev/null || break; sleep 0.2; done
window=
if ! grep -qE '^columns	375	450	225$' "$work/probe-144.txt"; then
  echo "FAIL: at 144 dots per inch the columns are not 375, 450, 225 pixels: $(grep '^columns' "$work/probe-144.txt")"
  fail=1
fi
for pair in 'Files.Column(0).Width=0xfa' 'Files.Column(1).Width=0x12c'; do
  got=$(setting '\Layout' "${pair%%=*}")
  if [ "$got" != "${pair#*=}" ]; then
    echo "FAIL: at 144 dots per inch ${pair%%=*} was saved as '$got', not ${pair#*=}"
    fail=1
  fi
done
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null

# A rebuild names each copy it wrote in the Output column, which the stored
# settings show (it is hidden until a user shows it); the column's state and
# width are saved again on the way out.
"$wine" reg delete 'HKCU\Software\Zantrel' /f >/dev/null 2>&1 || true
"$wine" reg add 'HKCU\Software\Zantrel\0.2\Layout' /v 'Files.Column(3).Visible' /t REG_DWORD /d 1 /f >/dev/null
rm -f "$work/films/Zantrel."*
"$wine" "$build/zantrel.exe" /rebuildindex "$(windows "$work/films/healthy.avi")" \
  "$(windows "$work/films/damaged.avi")" >>"$work/window.log" 2>&1 &
window=$!
"$wine" "$build/zantrel-window-probe.exe" 2 120 | tr -d '\r' >"$work/probe-output.txt" || true
focus_main
xdotool key ctrl+q
for _ in $(seq 100); do kill -0 "$window" 2>/dev/null || break; sleep 0.2; done
window=
for film in healthy damaged; do
  if ! grep -qE "^$film\.avi	[^	]+	Zantrel\.$film\.avi\$" "$work/probe-output.txt" ||
    [ ! -s "$work/films/Zantrel.$film.avi" ]; then
    echo "FAIL: the Output column does not name the copy of $film.avi the rebuild wrote: $(grep "^$film" "$work/probe-output.txt")"
    fail=1
  fi
done
for pair in 'Files.Column(3).Visible=0x1' 'Files.Column(3).Width=0xfa'; do
  got=$(setting '\Layout' "${pair%%=*}")
  if [ "$got" != "${pair#*=}" ]; then
    echo "FAIL: the Output column's ${pair%%=*} was saved as '$got', not ${pair#*=}"
    fail=1
  fi
done

# Recover films, from the File menu as a user takes it: the card's image is
# typed into the open dialog and the folder into the folder dialog. The
# image is a film ffmpeg made laid between noise; each film written must
# decode frame for frame as the one ffmpeg made, its row must name it as its
# own repair (the Output column, shown from the stored settings), and no
# staging folder may be left, whatever the search came to. A search stopped
# (Esc, and Yes to the question) writes nothing: its image goes on long
# past the film, in a hole of zeros that takes no room on the disk.
mkdir -p "$work/recover"
ffmpeg -loglevel error -y -f lavfi -i testsrc=size=160x120:rate=25 -t 2 -c:v mjpeg -q:v 4 "$work/recover/film.avi"
noise() { python3 -c 'import random, sys; random.seed(int(sys.argv[2])); sys.stdout.buffer.write(random.randbytes(int(sys.argv[1])))' "$@"; }
{ noise $((512 * 301)) 1; cat "$work/recover/film.avi"; noise $((1 << 20)) 2; } >"$work/recover/card.img"
noise $((1 << 20)) 3 >"$work/recover/noise.img"
cp "$work/recover/card.img" "$work/recover/long.img"
truncate -s 16G "$work/recover/long.img"
frames() { ffmpeg -nostdin -v error -i "$1" -map 0:v -f framemd5 - 2>/dev/null | grep -v '^#'; }
original=$(frames "$work/recover/film.avi")
# A card in a drive: the image stands behind drive E:, which Wine opens as
# \\.\E: through the prefix's dosdevices entry "e::" and takes for a
# removable drive ("floppy"); the window offers it before the open dialog.
# "drive-yes:IMAGE" takes it at the question, "drive-no:IMAGE" declines it
# and types the image into the open dialog that follows, "drive-cancel:IMAGE"
# ends the command there. The drive is found when the prefix's server
# starts, and goes with the case.
drive() {  # IMAGE, or nothing to take the drive away
  /usr/lib/wine/wineserver -k 2>/dev/null || true
  if [ -n "$1" ]; then
    mkdir -p "$work/recover/e-root"
    ln -sfn "$1" "$WINEPREFIX/dosdevices/e::"
    ln -sfn "$work/recover/e-root" "$WINEPREFIX/dosdevices/e:"
    "$wine" reg add 'HKLM\Software\Wine\Drives' /v 'e:' /d floppy /f >/dev/null
  else
    rm -f "$WINEPREFIX/dosdevices/e::" "$WINEPREFIX/dosdevices/e:"
    "$wine" reg delete 'HKLM\Software\Wine\Drives' /v 'e:' /f >/dev/null 2>&1 || true
  fi
  /usr/lib/wine/wineserver -k 2>/dev/null || true
}
while IFS='|' read -r what source folder stop films ended; do
  mkdir -p "$work/recover/$folder"
  answer=
  case $source in
    drive-*:*) answer=${source%%:*} answer=${answer#drive-} source=${source#*:}
      drive "$work/recover/$source" ;;
  esac
  "$wine" reg delete 'HKCU\Software\Zantrel' /f >/dev/null 2>&1 || true
  "$wine" reg add 'HKCU\Software\Zantrel\0.2\Layout' /v 'Files.Column(3).Visible' /t REG_DWORD /d 1 /f >/dev/null
  "$wine" "$build/zantrel.exe" >>"$work/window.log" 2>&1 &
  window=$!
  probe window TFrmMain 60 >/dev/null || true
  focus_main
  xdotool key alt+f v
  if [ -n "$answer" ]; then
    if ! probe window 'Recover films' 30 >"$work/recover-$folder-drive.txt" ||
      ! grep -qF "Recover films from the card in drive E: ($(stat -c %s "$work/recover/$source" |
        awk '{ printf "%.1f MB", $1 / 1e6 }'))?" "$work/recover-$folder-drive.txt"; then
      echo "FAIL: $what: no question offered drive E: $(cat "$work/recover-$folder-drive.txt")"
      fail=1
    fi
    case $answer in
      yes) xdotool key Return ;;
      no) xdotool key alt+n ;;
      cancel) xdotool key Escape ;;
    esac
  fi
  if [ "$answer" = cancel ]; then
    # The command ends at the question: no dialog follows.
    if probe window 'Card or image to recover films from' 5 >/dev/null 2>&1 ||
      probe window 'Folder for the recovered films' 1 >/dev/null 2>&1; then
      echo "FAIL: $what: a dialog followed Cancel"
      fail=1
    fi
  elif [ "$answer" != yes ] && ! probe window 'Card or image to recover films from' 30 >"$work/recover-$folder-source.txt"; then
    echo "FAIL: $what: Recover films did not open the open dialog"
    fail=1
  else
    if [ "$answer" != yes ]; then
      xdotool type --delay 20 "$(windows "$work/recover/$source")"
      xdotool key Return
    fi
    if ! probe window 'Folder for the recovered films' 30 >"$work/recover-$folder-folder.txt"; then
      echo "FAIL: $what: the folder dialog did not follow the open dialog"
      fail=1
    else
      xdotool type --delay 20 "$(windows "$work/recover/$folder")"
      xdotool key Return
      if [ "$stop" = stop ]; then
        probe window TFrmMain 30 >/dev/null || true
        xdotool key Escape
        if probe window Stop 30 >"$work/recover-$folder-stop.txt"; then
          xdotool key Return
        else
          echo "FAIL: $what: Esc during the search asked nothing"
          fail=1
        fi
      fi
      # The search's last word in the Messages Center where it writes no
      # film (the list has no row to wait for), then the rows: a film's
      # row has its result once its rebuild is over.
      if [ -n "$ended" ]; then
        for _ in $(seq 60); do
          probe window TFrmMain 5 >"$work/recover-$folder-main.txt" 2>/dev/null || true
          grep -qE "^Edit	.*$ended" "$work/recover-$folder-main.txt" && break
          sleep 1
        done
        grep -qE "^Edit	.*$ended" "$work/recover-$folder-main.txt" ||
          { echo "FAIL: $what: the Messages Center never said '$ended'"; fail=1; }
      fi
      "$wine" "$build/zantrel-window-probe.exe" "$films" 60 | tr -d '\r' >"$work/recover-$folder-rows.txt" ||
        { echo "FAIL: $what: the list did not come to $films rows: $(cat "$work/recover-$folder-rows.txt")"; fail=1; }
    fi
  fi
  focus_main
  xdotool key ctrl+q
  for _ in $(seq 100); do kill -0 "$window" 2>/dev/null || break; sleep 0.2; done
  window=
  written=$(find "$work/recover/$folder" -mindepth 1 -maxdepth 1 -not -name '.zantrel-recovery*' | sort)
  if [ "$(printf '%s' "$written" | grep -c .)" -ne "$films" ]; then
    echo "FAIL: $what: the folder holds '$written', not $films film(s)"
    fail=1
  fi
  if [ -n "$(find "$work/recover/$folder" -maxdepth 1 -name '.zantrel-recovery*')" ]; then
    echo "FAIL: $what: the staging folder is left: $(ls -a "$work/recover/$folder")"
    fail=1
  fi
  if [ -n "$answer" ]; then drive ''; fi
  for film in $written; do
    name=$(basename "$film")
    if [ "$(frames "$film")" != "$original" ]; then
      echo "FAIL: $what: $name does not decode frame for frame as the film ffmpeg made"
      fail=1
    fi
    if ! grep -qF "$(printf '%s\t' "$name")" "$work/recover-$folder-rows.txt" ||
      ! grep -qE "^[^	]+	[^	]+	${name//./\\.}\$" "$work/recover-$folder-rows.txt"; then
      echo "FAIL: $what: no row names $name as its own repair: $(cat "$work/recover-$folder-rows.txt")"
      fail=1
    fi
  done
done <<'TABLE'
a film among other bytes is rebuilt into the folder|card.img|films||1|
no film in the source writes nothing and leaves no row|noise.img|none||0|No film was found in
a search stopped writes nothing and leaves no row|long.img|stopped|stop|0|The search was stopped: no film was written\.
a card in drive E: is taken at the question|drive-yes:card.img|drive||1|
a drive declined leads to the open dialog|drive-no:card.img|declined||1|
Cancel at the drive's question ends the command|drive-cancel:card.img|cancelled||0|
TABLE

# The window's own layout, from a first start with no settings: where it
# opens, what a second start does, the list's share of a new width, the
# status bar's grip, the Messages Center's label after a splitter drag,
# the selected row without the focus, the tool bar's pictures for commands
# that cannot be taken, where a question opens and the folder dialog. The
# probe says where things are; what only pixels show is read from the
# screen: a property of a part (one colour, no white, no colour), never a
# comparison with a stored picture.
"$root/scripts/window-layout-test-windows.sh" "$build" "$work" || fail=1

[ "$fail" -eq 0 ] && echo "window test passed"
exit "$fail"
