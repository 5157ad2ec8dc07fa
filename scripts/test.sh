#!/usr/bin/env bash
# Sets up, builds, and runs every test.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build="${ZANTREL_BUILD_DIR:-$root/build}"
ctest --test-dir "$build" --output-on-failure --parallel "$(nproc)" --timeout 600
"$root/scripts/kill-test.sh" "$build/zantrel-cli"
"$root/scripts/seek-test.sh" "$build/zantrel-cli"
# Robustness: the suite under AddressSanitizer, UndefinedBehaviorSanitizer and
# (worker and hand-overs) ThreadSanitizer, then a bounded fuzzing run.
"$root/scripts/sanitize.sh"
"$root/scripts/fuzz.sh"
"$root/scripts/package-test.sh"
# The Windows build of the console program and the core's tests, run under Wine.
"$root/scripts/test-windows.sh"
