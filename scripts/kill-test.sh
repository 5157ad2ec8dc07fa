#!/usr/bin/env bash
# kill -9 at random moments of copy and in-place rebuilds of a damaged film,
# then a judgement of what the killed run left behind:
#  - copy: no file under the copy's final name unless it is the complete copy
#    (byte for byte the copy of an unkilled run), and the source untouched;
#    unfinished copies under their temporary ".zantrel-partial" names are
#    allowed, counted and removed;
#  - in place: the file is untouched or completely rebuilt, or else players
#    read it exactly as one of the two: ffmpeg's packets (read through the
#    idx1 where the movi list ends) are the original's or the rebuilt file's,
#    and the header fields before the movi list are each the original's or
#    the rebuilt file's. (Killed between its steps, the file may hold the new
#    index past its old end, read or not yet read, or the new index at its
#    place before the file is cut after it.)
# Then SIGHUP (a closed terminal) and SIGQUIT (Ctrl+\) at random moments of
# copy rebuilds: the run stops politely (exit 1, "Operation aborted." on its
# output, no temporary left, no file under the copy's final name, the source
# untouched), or had finished (exit 0, the complete copy), or was hit before
# it could catch the signal (ended by it, nothing printed, nothing written).
# Any other state fails the script.
#
# Usage: scripts/kill-test.sh [path/to/zantrel-cli]
# (default $ZANTREL_BUILD_DIR/zantrel-cli, else build/zantrel-cli).
# ZANTREL_KILL_RUNS (default 30) kills per mode; ZANTREL_KILL_SEED makes the
# moments reproducible.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cli="${1:-${ZANTREL_BUILD_DIR:-$root/build}/zantrel-cli}"
runs="${ZANTREL_KILL_RUNS:-30}"
seed="${ZANTREL_KILL_SEED:-$$}"
RANDOM=$seed

if [[ ! -x "$cli" ]]; then
  echo "kill-test: no zantrel-cli at $cli" >&2
  exit 2
fi
if ! command -v ffmpeg >/dev/null 2>&1; then
  echo "kill-test: ffmpeg is not installed; skipped"
  exit 0
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/zantrel-kill-XXXXXX")"
trap 'rm -rf "$work"' EXIT

# About 25 MB of mpeg4 and PCM from ffmpeg, then damage that the walk has to
# search its way past: 1 MiB of random bytes over the middle, and one chunk
# size field at three quarters with its top byte set so that the chunk claims
# to run past the end of the file.
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=640x480:rate=25 -f lavfi -i sine -t 32 \
  -c:v mpeg4 -q:v 2 -c:a pcm_s16le "$work/clean.avi"
cp "$work/clean.avi" "$work/damaged.avi"
size=$(stat -c %s "$work/damaged.avi")
dd if=/dev/urandom of="$work/damaged.avi" bs=65536 count=16 seek=$((size / 2 / 65536)) conv=notrunc status=none
# The first chunk header at or after three quarters of the file: a stream
# chunk code followed by its size.
flip=$(LC_ALL=C grep -obUaE '0[01](dc|wb)' "$work/damaged.avi" |
  awk -F: -v from=$((size * 3 / 4)) '$1 >= from { print $1 + 7; exit }') || true
if [[ -n "$flip" ]]; then
  printf '\x7f' | dd of="$work/damaged.avi" bs=1 seek="$flip" conv=notrunc status=none
fi
# The movi list's size field: the four bytes before "movi" (0-based offset).
movi=$(LC_ALL=C grep -obUa -m 1 'movi' "$work/damaged.avi" | cut -d: -f1)
movi_size_at=$((movi - 4))

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# The unkilled runs: the results every killed run is judged against, and how
# long a run lasts.
cp "$work/damaged.avi" "$work/f.avi"
start=$(now_ms)
"$cli" rebuild "$work/f.avi" >/dev/null || true
copy_ms=$(($(now_ms) - start))
if [[ ! -f "$work/Zantrel.f.avi" ]]; then
  echo "kill-test: the unkilled copy rebuild made no copy" >&2
  exit 1
fi
mv "$work/Zantrel.f.avi" "$work/reference-copy.avi"
start=$(now_ms)
"$cli" rebuild --in-place "$work/f.avi" >/dev/null || true
inplace_ms=$(($(now_ms) - start))
mv "$work/f.avi" "$work/reference-inplace.avi"
if cmp -s "$work/reference-inplace.avi" "$work/damaged.avi"; then
  echo "kill-test: the unkilled in-place rebuild changed nothing" >&2
  exit 1
fi
ref_size=$(stat -c %s "$work/reference-inplace.avi")
echo "kill-test: film of $size bytes, copy run ${copy_ms} ms, in-place run ${inplace_ms} ms, seed $seed"

# Starts a rebuild, kills it after a random part of the given duration, and
# sets killed to 1 when the kill found it still running.
killed=0
run_and_kill() {
  local duration_ms=$1
  shift
  local delay_ms=$((RANDOM * (duration_ms + 1) / 32768))
  "$cli" "$@" >/dev/null 2>&1 &
  local pid=$!
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  kill -9 "$pid" 2>/dev/null || true
  local status=0
  wait "$pid" 2>/dev/null || status=$?
  killed=0
  if [[ $status -eq 137 ]]; then killed=1; fi
}

partials() { find "$work" -maxdepth 1 -name '*.zantrel-partial' | wc -l; }

failures=0
fail() {
  echo "kill-test: FAIL: $*" >&2
  failures=$((failures + 1))
}

# Copy mode.
cp "$work/damaged.avi" "$work/f.avi"
copy_killed=0 copy_none=0 copy_complete=0 copy_partials=0
for ((i = 1; i <= runs; i++)); do
  run_and_kill "$copy_ms" rebuild "$work/f.avi"
  copy_killed=$((copy_killed + killed))
  if ! cmp -s "$work/f.avi" "$work/damaged.avi"; then
    fail "copy run $i changed the source"
    cp "$work/damaged.avi" "$work/f.avi"
  fi
  if [[ -e "$work/Zantrel.f.avi" || -L "$work/Zantrel.f.avi" ]]; then
    if cmp -s "$work/Zantrel.f.avi" "$work/reference-copy.avi"; then
      copy_complete=$((copy_complete + 1))
    else
      fail "copy run $i left an incomplete file under the copy's final name"
    fi
    rm -f "$work/Zantrel.f.avi"
  else
    copy_none=$((copy_none + 1))
  fi
  left=$(partials)
  copy_partials=$((copy_partials + left))
  find "$work" -maxdepth 1 -name '*.zantrel-partial' -delete
done
echo "kill-test: copy, $runs runs ($copy_killed killed while running): $copy_none left no copy, $copy_complete" \
  "left the complete copy, $copy_partials temporary .zantrel-partial files removed"

# Polite stops. A script's background job starts with SIGINT and SIGQUIT
# ignored, which the program respects: env gives the run default dispositions,
# as a terminal's foreground job has. A signal that lands before the program
# catches it would dump core for SIGQUIT: none is wanted.
ulimit -c 0
declare -A signal_number=([HUP]=1 [QUIT]=3)
run_and_signal() {
  local signal=$1 duration_ms=$2
  shift 2
  local delay_ms=$((RANDOM * (duration_ms + 1) / 32768))
  env --default-signal=HUP,INT,QUIT "$cli" "$@" >"$work/out.txt" 2>/dev/null &
  local pid=$!
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  kill -s "$signal" "$pid" 2>/dev/null || true
  status=0
  wait "$pid" 2>/dev/null || status=$?
}

for signal in HUP QUIT; do
  stopped=0 finished=0 early=0
  for ((i = 1; i <= runs; i++)); do
    run_and_signal "$signal" "$copy_ms" rebuild "$work/f.avi"
    label="SIG$signal copy run $i (exit $status)"
    if ! cmp -s "$work/f.avi" "$work/damaged.avi"; then
      fail "$label changed the source"
      cp "$work/damaged.avi" "$work/f.avi"
    fi
    if [[ $(partials) -ne 0 ]]; then fail "$label left a temporary file"; fi
    if [[ $status -eq 1 ]]; then
      stopped=$((stopped + 1))
      grep -qx 'Operation aborted.' "$work/out.txt" || fail "$label did not say \"Operation aborted.\""
      if [[ -e "$work/Zantrel.f.avi" || -L "$work/Zantrel.f.avi" ]]; then
        fail "$label was stopped and left a file under the copy's final name"
      fi
    elif [[ $status -eq 0 ]]; then
      finished=$((finished + 1))
      cmp -s "$work/Zantrel.f.avi" "$work/reference-copy.avi" || fail "$label finished without the complete copy"
    elif [[ $status -eq $((128 + ${signal_number[$signal]})) && ! -s "$work/out.txt" ]]; then
      early=$((early + 1))
      if [[ -e "$work/Zantrel.f.avi" || -L "$work/Zantrel.f.avi" ]]; then
        fail "$label was ended before it started and left a file under the copy's final name"
      fi
    else
      fail "$label did not stop politely"
    fi
    rm -f "$work/Zantrel.f.avi"
    find "$work" -maxdepth 1 -name '*.zantrel-partial' -delete
  done
  echo "kill-test: SIG$signal, $runs copy runs: $stopped stopped politely, $finished had finished, $early" \
    "ended before they could catch it"
done

# The header fields a rebuild corrects (the RIFF size, frame counts) are
# written once the new index is read: each byte before the movi list's size
# is the original's or the rebuilt file's.
headers_old_or_new() {
  local file=$1
  awk 'NR == FNR { changed[$1] = 1; next } ($1 in changed) { bad++ } END { exit bad > 0 }' \
    <(cmp -l -n "$movi_size_at" "$file" "$work/damaged.avi" || true) \
    <(cmp -l -n "$movi_size_at" "$file" "$work/reference-inplace.avi" || true)
}
# The packets ffmpeg reads, through the file's index.
packets() { ffmpeg -nostdin -v error -i "$1" -map 0 -c copy -f framemd5 - 2>/dev/null | grep -v '^#' || true; }
packets "$work/damaged.avi" >"$work/packets-original.txt"
packets "$work/reference-inplace.avi" >"$work/packets-rebuilt.txt"

# In place.
untouched=0 rebuilt=0 reads_original=0 reads_rebuilt=0
inplace_killed=0
for ((i = 1; i <= runs; i++)); do
  cp "$work/damaged.avi" "$work/f.avi"
  run_and_kill "$inplace_ms" rebuild --in-place "$work/f.avi"
  inplace_killed=$((inplace_killed + killed))
  if cmp -s "$work/f.avi" "$work/damaged.avi"; then
    untouched=$((untouched + 1))
  elif cmp -s "$work/f.avi" "$work/reference-inplace.avi"; then
    rebuilt=$((rebuilt + 1))
  elif ! headers_old_or_new "$work/f.avi"; then
    fail "in-place run $i left header fields that are neither the old nor the new"
  else
    packets "$work/f.avi" >"$work/packets.txt"
    if cmp -s "$work/packets.txt" "$work/packets-original.txt"; then
      reads_original=$((reads_original + 1))
    elif cmp -s "$work/packets.txt" "$work/packets-rebuilt.txt"; then
      reads_rebuilt=$((reads_rebuilt + 1))
    else
      fail "in-place run $i left a file that reads neither as the original nor as the rebuilt one"
    fi
  fi
  if [[ $(partials) -ne 0 ]]; then fail "in-place run $i left a temporary file"; fi
done
echo "kill-test: in place, $runs runs ($inplace_killed killed while running): $untouched untouched, $rebuilt" \
  "completely rebuilt, $reads_original read as the original, $reads_rebuilt read as the rebuilt file"

if [[ $failures -ne 0 ]]; then
  echo "kill-test: $failures failures" >&2
  exit 1
fi
echo "kill-test: passed"
