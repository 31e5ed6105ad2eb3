#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the libFuzzer targets with clang and runs each for a bounded time on its
# seed corpus (fuzz/corpus/<target>/). Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/setup.sh fuzz
scripts/build.sh --fuzz
export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS=suppressions=$(pwd)/scripts/lsan.supp
status=0
for target in build-fuzz/bin/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=fuzz/corpus/${name#fuzz_}
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "fuzz: $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=20 \
        -max_len=1048576 -print_final_stats=0 "$work" >"$work.log" 2>&1; then
    echo "fuzz: $name FAILED"; tail -n 60 "$work.log"; status=1
  else
    echo "fuzz: $name ok ($(grep -c '^#' "$work.log" || true) progress lines)"
  fi
  rm -rf "$work" "$work.log"
done
exit $status
