#!/usr/bin/env bash
# zantrel-cli.exe recovering films from a card in a drive, under Wine: a card
# image made as a camera leaves it (tests/support/make-card-image.sh, FAT12
# with the films deleted) stands behind drive E:, for Wine opens \\.\E: as
# what the prefix's dosdevices entry "e::" names, and "e:" names the
# drive's folder. From "\\.\E:" and from "E:" alone, every film written
# must decode frame for frame as a film copied onto the card (ffmpeg's
# framemd5), the lines and the films must be those of the same recovery
# from the image file, and the image must be left as it was; a folder on
# the drive must be refused, in both languages, with nothing written.
# Usage: drive-test-windows.sh WINDOWS-CLI (WINEPREFIX set).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
windows_cli="$(realpath "$1")"
wine=/usr/lib/wine/wine64
work="$(mktemp -d)"
dosdevices="$WINEPREFIX/dosdevices"
# The drive goes with the work, whatever happens.
trap 'rm -f "$dosdevices/e::" "$dosdevices/e:"; /usr/lib/wine/wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
windows() { printf 'Z:%s' "${1//\//\\}"; }

mkdir -p "$work/sources" "$work/card" "$work/root"
bash "$root/tests/support/make-card-image.sh" 12 4096 8 "$work/sources" "$work/card" >/dev/null
image="$work/card/deleted.img"
before=$(md5sum <"$image")
# A drive letter is found when the prefix's server starts.
/usr/lib/wine/wineserver -k 2>/dev/null || true
ln -sfn "$image" "$dosdevices/e::"
ln -sfn "$work/root" "$dosdevices/e:"

frames() { ffmpeg -nostdin -v error -i "$1" -map 0:v -f framemd5 - 2>/dev/null | grep -v '^#'; }
declare -A original
for film in "$work"/sources/*.avi "$work"/sources/*.AVI; do original["$(frames "$film")"]=$(basename "$film"); done

fail=0
recover() {  # SOURCE FOLDER-NAME [ARGUMENTS]: the lines into FOLDER-NAME.txt, the status into FOLDER-NAME.status
  local source=$1 folder=$2
  shift 2
  local status=0
  "$wine" "$windows_cli" recover "$@" "$source" "$(windows "$work/$folder")" </dev/null 2>/dev/null |
    tr -d '\r' >"$work/$folder.txt" || status=$?
  echo "$status" >"$work/$folder.status"
}

recover "$(windows "$image")" from-image
image_films=$(cd "$work/from-image" && ls)
if [ "$(printf '%s\n' "$image_films" | grep -c '\.avi$')" -ne 2 ]; then
  echo "FAIL: the image itself gave '$image_films', not the card's two films"
  fail=1
fi
n=0
for source in '\\.\E:' 'E:' 'e:'; do
  n=$((n + 1))
  folder="from-drive-$n"
  recover "$source" "$folder"
  if [ "$(cat "$work/$folder.status")" -ne 0 ]; then
    echo "FAIL: $source: exit status $(cat "$work/$folder.status"): $(cat "$work/$folder.txt")"
    fail=1
    continue
  fi
  # The first line names the source as it was given (its backslashes
  # doubled, as the console writes them); the rest is the image's.
  if [ "$(head -n 1 "$work/$folder.txt")" != "Searching \"${source//\\/\\\\}\" for films." ] ||
    ! diff -u <(tail -n +2 "$work/from-image.txt") <(tail -n +2 "$work/$folder.txt") >"$work/$folder.diff"; then
    echo "FAIL: $source: the lines differ from the image's:"
    cat "$work/$folder.diff" "$work/$folder.txt"
    fail=1
  fi
  films=$(cd "$work/$folder" && ls)
  if [ "$films" != "$image_films" ]; then
    echo "FAIL: $source: wrote '$films', the image '$image_films'"
    fail=1
  fi
  for name in $films; do
    if ! cmp -s "$work/$folder/$name" "$work/from-image/$name"; then
      echo "FAIL: $source: $name differs from the one recovered from the image"
      fail=1
    fi
    if [ -z "${original["$(frames "$work/$folder/$name")"]:-}" ]; then
      echo "FAIL: $source: $name does not decode frame for frame as a film copied onto the card"
      fail=1
    fi
  done
done

# A folder on the card being searched, in English and in French.
for lang in en fr; do
  status=0
  out=$("$wine" "$windows_cli" recover --lang "$lang" 'E:' 'E:\films' </dev/null 2>/dev/null | tr -d '\r') || status=$?
  case $lang in
    en) said='lies on the card or disk being searched' ;;
    fr) said=$(printf 'se trouve sur la carte') ;;
  esac
  if [ "$status" -ne 1 ] || ! grep -qF "$said" <<<"$out" || [ -n "$(ls -A "$work/root")" ]; then
    echo "FAIL: a folder on E: ($lang): exit status $status, '$out', the drive holds '$(ls -A "$work/root")'"
    fail=1
  fi
done

if [ "$(md5sum <"$image")" != "$before" ]; then
  echo "FAIL: the card's image was changed"
  fail=1
fi
[ "$fail" -eq 0 ] && echo "drive test passed"
exit "$fail"
