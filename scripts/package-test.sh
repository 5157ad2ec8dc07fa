#!/usr/bin/env bash
# CI check of the Debian package. Builds it with scripts/package.sh, runs the
# validators of the desktop entry and the AppStream metainfo, checks what the
# package holds and that the manual pages render, then installs it with
# apt-get into a fresh Debian 12 root made by debootstrap (minbase) and runs
# the installed programs there.
#
# Needs root (debootstrap, chroot). The Debian mirror is the one apt on this
# machine uses (read from its sources), or $ZANTREL_DEBIAN_MIRROR. Set
# ZANTREL_KEEP_ROOT=1 to keep the root folder for a look afterwards.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
started=$SECONDS
step() { echo "== package-test: $* ($((SECONDS - started)) s)"; }
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }

if [ "$(id -u)" -ne 0 ]; then
  echo "package-test: needs root for debootstrap and chroot" >&2
  exit 1
fi

"$root/scripts/setup.sh"

step "building the package"
deb="$("$root/scripts/package.sh" | tail -n 1)"
[ -f "$deb" ] || fail "scripts/package.sh gave no package (got '$deb')"
build="$(dirname "$deb")"
version="$(dpkg-deb -f "$deb" Version)"
echo "$deb (version $version)"

work="$(mktemp -d "${TMPDIR:-/tmp}/zantrel-package-test.XXXXXX")"
chroot_dir="$work/root"
cleanup() {
  if mountpoint -q "$chroot_dir/proc" 2>/dev/null; then
    umount "$chroot_dir/proc" 2>/dev/null || umount -l "$chroot_dir/proc" || true
  fi
  if mountpoint -q "$chroot_dir/proc" 2>/dev/null; then
    echo "package-test: $chroot_dir/proc is still mounted; $work left in place" >&2
  elif [ "${ZANTREL_KEEP_ROOT:-0}" = 1 ]; then
    echo "package-test: root kept in $chroot_dir"
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

# --- validators -------------------------------------------------------------
step "validating the desktop entry and the metainfo"
tree="$work/tree"
dpkg-deb -x "$deb" "$tree"
desktop="$tree/usr/share/applications/org.zantrel.Zantrel.desktop"
metainfo="$tree/usr/share/metainfo/org.zantrel.Zantrel.metainfo.xml"
desktop-file-validate "$desktop"
appstreamcli validate --no-net "$metainfo"
# The metainfo next to the desktop entry and icons it names, as installed.
appstreamcli validate-tree --no-net "$tree"

# --- what the package holds -------------------------------------------------
step "checking the package's contents and fields"
expected=(
  usr/bin/zantrel usr/bin/zantrel-cli
  usr/share/applications/org.zantrel.Zantrel.desktop
  usr/share/metainfo/org.zantrel.Zantrel.metainfo.xml
  usr/share/man/man1/zantrel.1 usr/share/man/man1/zantrel-cli.1
  usr/share/icons/hicolor/scalable/apps/zantrel.svg
)
for size in 16 22 24 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/zantrel.png")
done
for f in "${expected[@]}"; do
  [ -f "$tree/$f" ] || fail "the package lacks /$f"
done
for size in 16 22 24 32 48 64 128 256; do
  png="$tree/usr/share/icons/hicolor/${size}x${size}/apps/zantrel.png"
  # The PNG signature, then the IHDR chunk's width and height (big-endian).
  header="$(od -An -tu1 -N24 "$png" | tr -s ' \n' ' ')"
  [ "$header" = " 137 80 78 71 13 10 26 10 0 0 0 13 73 72 68 82 0 0 $((size / 256)) $((size % 256)) 0 0 $((size / 256)) $((size % 256)) " ] ||
    fail "$png is not a $size x $size PNG (header:$header)"
done
# The entry's program and icon are the ones the package installs.
exec_program="$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop" | sort -u)"
[ "$exec_program" = zantrel ] || fail "the desktop entry starts '$exec_program', not zantrel"
icon="$(sed -n 's/^Icon=//p' "$desktop")"
[ -f "$tree/usr/share/icons/hicolor/scalable/apps/$icon.svg" ] ||
  fail "the desktop entry's icon '$icon' is not installed"
grep -q "<release version=\"$version\"" "$metainfo" ||
  fail "the metainfo has no release $version"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
depends_names=" $(echo "$depends" | sed 's/([^)]*)//g; s/[,|]/ /g' | tr -s ' ') "
for lib in libc6 libstdc++6 libqt6core6 libqt6widgets6 libqt6network6 libjpeg62-turbo libqt6svg6; do
  [[ "$depends_names" == *" $lib "* ]] || fail "Depends: lacks $lib"
done
[ "$(dpkg-deb -f "$deb" Section)" = video ] || fail "Section: is not video"

# --- manual pages -----------------------------------------------------------
step "rendering the manual pages"
for page in zantrel zantrel-cli; do
  out="$work/$page.txt"
  err="$work/$page.err"
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$tree/usr/share/man/man1/$page.1" >"$out" 2>"$err" ||
    fail "man -l $page.1 failed: $(cat "$err")"
  [ ! -s "$err" ] || fail "man -l $page.1 warned: $(cat "$err")"
  grep -Eq "^ +$page +- " "$out" || fail "$page.1 has no NAME line for $page"
  for section in SYNOPSIS DESCRIPTION "SEE ALSO"; do
    grep -q "^$section" "$out" || fail "$page.1 has no $section section"
  done
done

# --- a fresh Debian 12 ------------------------------------------------------
mirror="${ZANTREL_DEBIAN_MIRROR:-}"
if [ -z "$mirror" ]; then
  # The first source of bookworm's main component that apt here is set up
  # with, in the deb822 (.sources) or the one-line format.
  mirror="$(
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] && cat "$f"
      echo
    done | awk '
      /^[ \t]*$/ { if (uri != "" && suites ~ /(^| )bookworm( |$)/ && comps ~ /(^| )main( |$)/ && !found) { print uri; found = 1 }
                   uri = ""; suites = ""; comps = ""; next }
      /^URIs:/ { uri = $2 }
      /^Suites:/ { $1 = ""; suites = $0 " " }
      /^Components:/ { $1 = ""; comps = $0 " " }'
  )"
fi
if [ -z "$mirror" ]; then
  mirror="$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
    awk '$1 == "deb" { i = 2; if ($2 ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
                       if ($(i + 1) == "bookworm") { print $i; exit } }')"
fi
[ -n "$mirror" ] || fail "no bookworm source in apt's sources; set ZANTREL_DEBIAN_MIRROR"

step "making a minimal Debian 12 root with debootstrap from $mirror"
debootstrap --variant=minbase bookworm "$chroot_dir" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { tail -n 30 "$work/debootstrap.log" >&2; fail "debootstrap"; }
mount -t proc proc "$chroot_dir/proc"
in_root() { chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }

step "installing the package with apt-get in the root"
cp "$deb" "$chroot_dir/tmp/"
cp "$root/demo/damaged.avi" "$chroot_dir/tmp/"
in_root apt-get update -qq
# man-db and desktop-file-utils first, so that their triggers index what the
# package brings, as on a desktop system.
in_root apt-get install -y -qq man-db desktop-file-utils >"$work/apt-tools.log" 2>&1 ||
  { tail -n 30 "$work/apt-tools.log" >&2; fail "apt-get install man-db desktop-file-utils"; }
in_root apt-get install -y -qq "/tmp/$(basename "$deb")" >"$work/apt-deb.log" 2>&1 ||
  { tail -n 30 "$work/apt-deb.log" >&2; fail "apt-get install /tmp/$(basename "$deb")"; }
# shellcheck disable=SC2016  # dpkg-query's own fields
in_root dpkg-query -W -f='${Status} ${Version}\n' zantrel | grep -qx "install ok installed $version" ||
  fail "zantrel $version is not installed in the root"

step "running the installed programs"
got="$(in_root zantrel-cli --version)"
[ "$got" = "zantrel-cli $version" ] || fail "zantrel-cli --version said '$got'"
echo "$got"

# The installed copy checks the demo file as the freshly built one does, and
# finds the damage.
set +e
in_root zantrel-cli check /tmp/damaged.avi >"$work/check-installed.txt"
status=$?
set -e
cat "$work/check-installed.txt"
[ "$status" -eq 1 ] || fail "zantrel-cli check of the damaged demo file exited $status, not 1"
grep -q "^Corrupted data found at file offset " "$work/check-installed.txt" ||
  fail "the check reported no corrupted data"
grep -Eq "^Done\. Found [1-9][0-9]* errors?, [1-9][0-9]* video frames" "$work/check-installed.txt" ||
  fail "the check's summary is missing"
(cd "$root/demo" && "$build/zantrel-cli" check damaged.avi >"$work/check-built.txt") || true
cmp -s "$work/check-built.txt" "$work/check-installed.txt" ||
  fail "the installed zantrel-cli reports otherwise than the built one: $(diff "$work/check-built.txt" "$work/check-installed.txt")"

# The desktop program starts (libraries, Qt's platform plugin) and is still
# running after a few seconds, on the offscreen platform.
set +e
in_root QT_QPA_PLATFORM=offscreen HOME=/tmp timeout 5 zantrel /tmp/damaged.avi >"$work/gui.log" 2>&1
status=$?
set -e
[ "$status" -eq 124 ] || { cat "$work/gui.log" >&2; fail "zantrel ended with status $status within 5 s"; }
# The window's icons are SVG files, drawn by the SVG icon engine plugin.
in_root sh -c 'ls /usr/lib/*/qt6/plugins/iconengines/libqsvgicon.so' >/dev/null ||
  fail "the SVG icon engine plugin is not installed in the root"

step "checking the manual pages, menu entry and AVI association in the root"
for page in zantrel zantrel-cli; do
  in_root man -P cat "$page" 2>/dev/null | grep -Eq "^ +$page +- " || fail "man $page shows nothing in the root"
done
for type in video/x-msvideo video/vnd.avi; do
  grep -Eq "^$type=(.*;)?org\.zantrel\.Zantrel\.desktop;" "$chroot_dir/usr/share/applications/mimeinfo.cache" ||
    fail "$type is not associated with Zantrel in the root's mimeinfo.cache"
done

step "passed"
