#!/usr/bin/env bash
# zantrel-cli.exe under Wine against the Linux build of zantrel-cli: over a
# few films and damaged variants of them, each command must give the same
# lines (line ends aside), the same exit status and the same rebuilt bytes;
# and on a console the same text.
# Usage: cli-compare-windows.sh LINUX-CLI WINDOWS-CLI (WINEPREFIX set).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
linux_cli="$(realpath "$1")"
windows_cli="$(realpath "$2")"
wine=/usr/lib/wine/wine64
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The films: the demo, and two that ffmpeg makes (an MPEG-4 film with PCM
# sound and an MJPEG one with MP3 sound).
mkdir "$work/films"
cp "$root/demo/damaged.avi" "$work/films/demo.avi"
ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440 -t 3 \
  -c:v mpeg4 -g 12 -c:a pcm_s16le "$work/films/mpeg4.avi"
ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440 -t 3 \
  -c:v mjpeg -c:a libmp3lame "$work/films/mjpeg.avi"

# Damaged variants: cut short (a partial download), bytes overwritten in the
# middle of the data, the index gone.
for film in "$work"/films/*.avi; do
  base="${film%.avi}"
  size=$(stat -c %s "$film")
  head -c $((size * 2 / 3)) "$film" > "$base-cut.avi"
  cp "$film" "$base-hole.avi"
  dd if=/dev/urandom of="$base-hole.avi" bs=1 seek=$((size / 2)) count=3000 conv=notrunc status=none
  index=$(grep -abo idx1 "$film" | tail -1 | cut -d: -f1 || true)
  if [ -n "$index" ]; then head -c "$index" "$film" > "$base-noindex.avi"; fi
done

commands=(
  "check"
  "rebuild"
  "rebuild --in-place"
  "check --lang fr"
  "rebuild --prefix Fixed-"
)

failures=0
cases=0
for film in "$work"/films/*.avi; do
  name="$(basename "$film")"
  for command in "${commands[@]}"; do
    cases=$((cases + 1))
    for side in linux windows; do
      rm -rf "$work/$side" && mkdir "$work/$side" && cp "$film" "$work/$side/$name"
    done
    # shellcheck disable=SC2086
    linux_status=0; (cd "$work/linux" && "$linux_cli" $command "$name" > out.txt 2> err.txt) || linux_status=$?
    # shellcheck disable=SC2086
    windows_status=0; (cd "$work/windows" && "$wine" "$windows_cli" $command "$name" > out.txt 2> err.txt) || windows_status=$?
    what="$name, $command"
    if [ "$linux_status" -ge 64 ] || [ ! -s "$work/linux/out.txt" ]; then
      echo "$what: the Linux build did not run (status $linux_status)" >&2; failures=$((failures + 1)); continue
    fi
    if [ "$linux_status" != "$windows_status" ]; then
      echo "$what: exit status $linux_status on Linux, $windows_status on Windows" >&2; failures=$((failures + 1)); continue
    fi
    if ! diff <(cat "$work/linux/out.txt") <(tr -d '\r' < "$work/windows/out.txt") > "$work/diff.txt"; then
      echo "$what: the lines differ" >&2; cat "$work/diff.txt" >&2; failures=$((failures + 1)); continue
    fi
    for file in "$work"/linux/*.avi; do
      other="$work/windows/$(basename "$file")"
      if ! cmp -s "$file" "$other"; then
        echo "$what: $(basename "$file") differs" >&2; failures=$((failures + 1))
      fi
    done
    if [ "$(ls "$work/linux")" != "$(ls "$work/windows")" ]; then
      echo "$what: the files left differ: $(ls "$work/linux" | tr '\n' ' ') / $(ls "$work/windows" | tr '\n' ' ')" >&2
      failures=$((failures + 1))
    fi
  done
done
# On a console (Wine makes one for a terminal) the text is shown as
# characters, not as the UTF-8 bytes read in the console's code page. The
# progress shares the console, so the line is looked for within lines.
cases=$((cases + 1))
expected="$(cd "$work/films" && { "$linux_cli" check --lang fr demo.avi || true; } | sed -n 2p)"
(cd "$work/films" && LANG=C.UTF-8 script -qec "$wine '$windows_cli' check --lang fr demo.avi" "$work/tty.txt" \
  > /dev/null 2>&1) || true
if ! sed 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$work/tty.txt" | tr -d '\r' | grep -qF "$expected"; then
  echo "on a console: \"$expected\" is not shown" >&2; failures=$((failures + 1))
fi

# Ctrl+C on the console stops a rebuild as SIGINT does on Linux: the run
# says so, ends with the same status, and leaves no copy, finished or not.
cases=$((cases + 1))
mkdir "$work/stop"
ffmpeg -v error -f lavfi -i testsrc=size=640x480:rate=25 -t 120 -c:v mjpeg -q:v 2 "$work/stop/long.avi"
stopped="$(cd "$work/stop" && python3 - "$wine" "$windows_cli" <<'PY'
import os, pty, re, select, sys, time
pid, fd = pty.fork()
if pid == 0:
    os.execv(sys.argv[1], [sys.argv[1], sys.argv[2], "rebuild", "long.avi"])
out, sent, start = b"", False, time.time()
while time.time() - start < 120:
    if select.select([fd], [], [], 0.1)[0]:
        try:
            data = os.read(fd, 65536)
        except OSError:
            break
        if not data:
            break
        out += data
    # Once the copy is begun, which its temporary name shows.
    if not sent and any(name.endswith(".zantrel-partial") for name in os.listdir(".")):
        os.write(fd, b"\x03")
        sent = True
status = os.waitpid(pid, 0)[1] >> 8
text = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", out).replace(b"\r", b"").decode("utf-8", "replace")
print("sent" if sent else "not sent", status, "aborted" if "Operation aborted." in text else "not aborted",
      " ".join(sorted(os.listdir("."))))
PY
)"
# A stopped file ends the run with status 1 on Linux too (CliTest).
if [ "$stopped" != "sent 1 aborted long.avi" ]; then
  echo "Ctrl+C: \"$stopped\", not \"sent 1 aborted long.avi\"" >&2; failures=$((failures + 1))
fi

echo "zantrel-cli.exe against the Linux build: $cases cases, $failures failed"
[ "$failures" -eq 0 ]
