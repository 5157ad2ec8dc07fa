#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ (or $ZANTREL_FUZZ_DIR),
# replays the committed findings through them, then fuzzes each target for
# $ZANTREL_FUZZ_SECONDS (60 by default) from its seeds. Any finding fails the
# run; the input that broke a property is left in build-fuzz/findings/ to be
# committed under fuzz/regressions/ once fixed. ZANTREL_FUZZ_TARGETS picks
# targets ("worker store" by default).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZANTREL_FUZZ_DIR:-$root/build-fuzz}"
seconds="${ZANTREL_FUZZ_SECONDS:-60}"
clangxx="$(command -v clang++-14 || command -v clang++ || true)"
if [ -z "$clangxx" ]; then
  echo "fuzz.sh: clang++ is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$clangxx" \
  -DZANTREL_FUZZ=ON -DZANTREL_BUILD_TESTS=OFF -DZANTREL_BUILD_GUI=OFF \
  -DZANTREL_SANITIZE=fuzzer-no-link,address,undefined >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target zantrel-fuzz-worker zantrel-fuzz-store zantrel-fuzz-seeds

seeds="$build/seeds"
rm -rf "$seeds"
"$build/fuzz/zantrel-fuzz-seeds" "$seeds"
mkdir -p "$build/findings"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

status=0
for target in ${ZANTREL_FUZZ_TARGETS:-worker store}; do
  binary="$build/fuzz/zantrel-fuzz-$target"
  regressions=("$root/fuzz/regressions/$target"/*)
  if [ -e "${regressions[0]}" ]; then
    echo "== $target: replaying ${#regressions[@]} committed findings"
    "$binary" -runs=0 "${regressions[@]}" >/dev/null 2>&1 || { "$binary" "${regressions[@]}"; status=1; continue; }
  fi
  # The corpus grows in a scratch folder; the seeds stay as generated.
  corpus="$build/corpus-$target"
  mkdir -p "$corpus"
  echo "== $target: fuzzing for $seconds s"
  if ! "$binary" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$build/findings/$target-" "$corpus" "$seeds/$target" 2>"$build/$target.log"; then
    tail -n 60 "$build/$target.log" >&2
    echo "fuzz.sh: $target found a failing input in $build/findings/" >&2
    status=1
  else
    grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$build/$target.log" | tail -n 2 || true
  fi
done
exit "$status"
