#!/usr/bin/env bash
# Builds and runs the test suite with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/, then the worker, hand-over and
# fault-injection tests with ThreadSanitizer in build-tsan/. Any report fails
# the run. The desktop program is left out: its tests need Qt built alike.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
asan="${ZANTREL_ASAN_DIR:-$root/build-asan}"
tsan="${ZANTREL_TSAN_DIR:-$root/build-tsan}"

configure() {
  cmake -S "$root" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZANTREL_BUILD_GUI=OFF \
    -DZANTREL_SANITIZE="$2" >/dev/null
}

echo "== AddressSanitizer and UndefinedBehaviorSanitizer: the whole test suite"
configure "$asan" address,undefined
cmake --build "$asan" --parallel "$(nproc)"
ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
  ctest --test-dir "$asan" --output-on-failure --parallel "$(nproc)" --timeout 600

echo "== ThreadSanitizer: the worker and its hand-overs"
configure "$tsan" thread
cmake --build "$tsan" --parallel "$(nproc)" --target zantrel_tests zantrel-cli
TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1" \
  "$tsan/tests/zantrel_tests" --gtest_filter='Worker*:Thread*:Cli*:FaultInjection*:RealWorld*:IndexRebuilder*:RepairEngine*:BackupFile.Large*:ReadAhead*:NeverWorse*'
