#!/usr/bin/env bash
# Does a rebuilt file seek? Short MPEG-4 ASP (B-frames) and H.264 films with
# MP3 audio lose their index and are rebuilt by zantrel-cli; then each of 20
# seek points is tried in three players on the original, the rebuilt file and
# the file with no index:
#  - ffmpeg: `-ss T` (timestamps kept) decodes one picture; clean when it is
#    within 0.1 s of T, equals the picture at the same time in a full decode
#    of the original, and ffmpeg says nothing at -v error;
#  - mplayer: `-ss T -frames 1 -vo md5sum`; clean when the picture equals the
#    one mplayer shows at the same -ss in the original with its own index, and
#    that picture is one of the original's;
#  - mencoder: `-ss T -endpos 2 -ovc copy -oac copy`; clean when ffmpeg decodes
#    the cut without a word at -v error and its first picture is one of the
#    original's.
# Prints the table, and fails unless the rebuilt files get 20 of 20 in each.
#
# Usage: scripts/seek-test.sh [path/to/zantrel-cli]
# (default $ZANTREL_BUILD_DIR/zantrel-cli, else build/zantrel-cli).
# ZANTREL_SEEK_EVERY_KEY=1 adds a row, never judged, for the rebuilt file with
# every entry flagged a key frame, as rebuilds did before they read the codec.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cli="${1:-${ZANTREL_BUILD_DIR:-$root/build}/zantrel-cli}"

if [[ ! -x "$cli" ]]; then
  echo "seek-test: no zantrel-cli at $cli" >&2
  exit 2
fi
for tool in ffmpeg mplayer mencoder; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "seek-test: $tool is not installed; skipped"
    exit 0
  fi
done

work="$(mktemp -d "${TMPDIR:-/tmp}/zantrel-seek-XXXXXX")"
trap 'rm -rf "$work"' EXIT

seconds=16
fps=25
points=20
# Seek times spread over the film, none on a key frame's time, and none after
# the last key frame (at 14 s): mplayer and mencoder go on to the next one.
times=()
for ((k = 0; k < points; k++)); do
  times+=("$(awk -v k="$k" 'BEGIN { printf "%.2f", 0.37 + 0.68 * k }')")
done

# The md5 of each decoded picture, by presentation time: "pts md5" lines.
picture_md5s() {
  grep -v '^#' | awk -F', *' '{ print $3, $6 }'
}

# The offset of the idx1 chunk: the first byte after the movi list.
idx1_offset() {
  local movi size
  movi=$(LC_ALL=C grep -obUa -m 1 'movi' "$1" | cut -d: -f1)
  size=$(od -An -tu4 -j $((movi - 4)) -N4 "$1" | tr -d ' ')
  echo $((movi + size + (size & 1)))
}

ffmpeg_clean() {  # file time reference
  local got pts md5 want
  got=$(ffmpeg -nostdin -v error -copyts -ss "$2" -i "$1" -map 0:v -frames:v 1 -f framemd5 - 2>"$work/err" |
    picture_md5s) || return 1
  [[ ! -s "$work/err" && -n "$got" ]] || return 1
  read -r pts md5 <<<"$got"
  want=$(awk -v p="$pts" '$1 == p { print $2 }' "$3")
  [[ "$md5" == "$want" ]] || return 1
  awk -v p="$pts" -v t="$2" -v f="$fps" 'BEGIN { d = p / f - t; exit !(d > -0.1 && d < 0.1) }'
}

mplayer_md5() {  # file time
  rm -f "$work/mp.md5"
  mplayer -really-quiet -nolirc -noconfig all -nosound -ss "$2" -frames 1 -vo md5sum:outfile="$work/mp.md5" "$1" \
    </dev/null >/dev/null 2>&1 || true
  [[ -s "$work/mp.md5" ]] && cut -d' ' -f1 "$work/mp.md5"
}

mencoder_clean() {  # file time reference
  local first
  rm -f "$work/cut.avi"
  mencoder -really-quiet -ss "$2" -endpos 2 -ovc copy -oac copy "$1" -o "$work/cut.avi" \
    </dev/null >/dev/null 2>&1 || return 1
  first=$(ffmpeg -nostdin -v error -i "$work/cut.avi" -map 0:v -f framemd5 - 2>"$work/err" | picture_md5s |
    head -n 1 | cut -d' ' -f2) || return 1
  # A copied MP3 track may start inside a frame, which ffmpeg's probe of the
  # audio reports (and repeats); only the pictures are judged here.
  ! grep -qvE '^\[mp3|Last message repeated' "$work/err" && [[ -n "$first" ]] && grep -q " $first\$" "$3"
}

failed=0
rows=()
declare -A label=([original]="original" [rebuilt]="rebuilt" [noindex]="index removed" [everykey]="all entries key")
film() {  # name, ffmpeg video options
  local name="$1" dir="$work/$1"
  shift
  mkdir -p "$dir"
  ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=320x240:rate=$fps" \
    -f lavfi -i sine=frequency=440:sample_rate=44100 -t "$seconds" "$@" -c:a libmp3lame -b:a 96k "$dir/original.avi"
  local at
  at=$(idx1_offset "$dir/original.avi")
  if [[ "$(dd if="$dir/original.avi" bs=1 skip="$at" count=4 status=none)" != idx1 ]]; then
    echo "seek-test: $name: no idx1 where the movi list ends" >&2
    exit 2
  fi
  head -c "$at" "$dir/original.avi" >"$dir/noindex.avi"
  "$cli" rebuild "$dir/noindex.avi" >"$dir/rebuild.log"
  cp "$dir/Zantrel.noindex.avi" "$dir/rebuilt.avi"
  rm "$dir/Zantrel.noindex.avi"

  local variants=(original rebuilt noindex)
  if [[ "${ZANTREL_SEEK_EVERY_KEY:-0}" == 1 ]]; then
    cp "$dir/rebuilt.avi" "$dir/everykey.avi"
    perl -e 'open(my $f, "+<", $ARGV[0]) or die; binmode $f; seek($f, $ARGV[1] + 4, 0); read($f, my $n, 4);
      for my $k (0 .. unpack("V", $n) / 16 - 1) { seek($f, $ARGV[1] + 8 + 16 * $k + 4, 0); print $f pack("V", 0x10) }' \
      "$dir/everykey.avi" "$at"
    variants+=(everykey)
  fi

  ffmpeg -nostdin -v error -i "$dir/original.avi" -map 0:v -f framemd5 - | picture_md5s >"$dir/reference"
  local t i
  local -a mp_original=()
  for t in "${times[@]}"; do
    mp_original+=("$(mplayer_md5 "$dir/original.avi" "$t" || true)")
  done
  for variant in "${variants[@]}"; do
    local ff=0 mp=0 me=0
    i=0
    for t in "${times[@]}"; do
      if ffmpeg_clean "$dir/$variant.avi" "$t" "$dir/reference"; then ff=$((ff + 1)); fi
      local m
      m=$(mplayer_md5 "$dir/$variant.avi" "$t" || true)
      if [[ -n "$m" && "$m" == "${mp_original[$i]}" ]] && grep -q " $m\$" "$dir/reference"; then mp=$((mp + 1)); fi
      if mencoder_clean "$dir/$variant.avi" "$t" "$dir/reference"; then me=$((me + 1)); fi
      i=$((i + 1))
    done
    rows+=("$(printf '%-28s %-16s %6s %8s %9s' "$name" "${label[$variant]}" "$ff/$points" "$mp/$points" "$me/$points")")
    if [[ "$variant" == rebuilt && ($ff -ne $points || $mp -ne $points || $me -ne $points) ]]; then failed=1; fi
  done
}

film "MPEG-4 ASP (XVID, B-frames)" -c:v mpeg4 -vtag XVID -g 50 -bf 2 -q:v 4
# (grep reads the whole list: an early exit would kill ffmpeg with SIGPIPE.)
if ffmpeg -hide_banner -encoders 2>/dev/null | grep -w libx264 >/dev/null; then
  film "H.264 (libx264)" -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 50 -keyint_min 50
fi

echo "Clean seeks, $points points in ${seconds} s films (320x240, MP3 audio):"
printf '%-28s %-16s %6s %8s %9s\n' film index ffmpeg mplayer mencoder
printf '%s\n' "${rows[@]}"
if ((failed)); then
  echo "seek-test: a rebuilt film does not seek cleanly in every player" >&2
  exit 1
fi
