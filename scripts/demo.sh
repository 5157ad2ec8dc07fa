#!/usr/bin/env bash
# Sets up, builds, and runs the main job on the bundled damaged demo file:
# in the desktop program when there is a display, else a check and a rebuild
# with the console program, then a decoding test of the copy.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build="${ZANTREL_BUILD_DIR:-$root/build}"
work="$build/demo"
rm -rf "$work"
mkdir -p "$work"
cp "$root/demo/damaged.avi" "$work/"
cli="$build/zantrel-cli"

# With a display, the desktop program opens on the demo file and rebuilds
# its index by itself; without one, the console program does the same job.
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/zantrel" ]; then
  echo "== zantrel /rebuildindex damaged.avi (close the window to end)"
  exec "$build/zantrel" /rebuildindex "$work/damaged.avi"
fi

echo "== zantrel-cli check damaged.avi"
"$cli" check "$work/damaged.avi" || echo "(exit status $?: the file has errors)"
echo "== zantrel-cli rebuild damaged.avi"
"$cli" rebuild "$work/damaged.avi"
echo "== the repaired copy: $work/Zantrel.damaged.avi"
if command -v ffprobe >/dev/null; then
  echo "== ffmpeg decodes the copy:"
  ffmpeg -v error -i "$work/Zantrel.damaged.avi" -f null - && echo "no decoding error"
fi
