#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Sets up, builds and runs the whole test suite (ctest).
#   scripts/test.sh              release build in build/
#   scripts/test.sh --sanitize   the same tests built with ASan+UBSan in build-asan/
#   scripts/test.sh --tsan       the tests that run threads together, with ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
scripts/build.sh "$@"
dir=build
[ "${1:-}" = "--sanitize" ] && dir=build-asan
[ "${1:-}" = "--tsan" ] && dir=build-tsan
export QT_QPA_PLATFORM=offscreen
# No test sends a command to a real drive: the machine's own recorders stay out of every
# drive list (the emulated recorder is the test bed).
export LUMIVOX_SYSTEM_DRIVES=0
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
# The suppressions used are not listed: a test that reads a program's error output would
# see the list as output.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(pwd)/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$(pwd)/scripts/tsan.supp}
cd "$dir"
if [ "${1:-}" = "--tsan" ]; then
  # Only the programs of the tests that run threads together are built here; each runs
  # whole, tests in turn (their threads are what is being checked).
  status=0
  found=0
  for program in bin/*_tsan_test; do
    [ -x "$program" ] || continue
    found=1
    echo "tsan: $(basename "$program")"
    "$program" --gtest_brief=1 || status=1
  done
  [ "$found" = 1 ] || { echo "tsan: no ThreadSanitizer tests were built"; exit 1; }
  exit $status
fi
ctest --output-on-failure -j "$(nproc)" --timeout 900
