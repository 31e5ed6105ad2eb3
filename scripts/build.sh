#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Configures and builds Lumivox into a build folder.
#   scripts/build.sh                 release build with tests in build/
#   scripts/build.sh --programs      only the programs and their data in build/ (the main job)
#   scripts/build.sh --sanitize      ASan+UBSan build of the tests in build-asan/
#   scripts/build.sh --tsan          ThreadSanitizer build of the threaded tests in build-tsan/
#   scripts/build.sh --fuzz          clang libFuzzer targets in build-fuzz/
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
case "${1:-}" in
  --programs) flags+=(-DLUMIVOX_BUILD_TESTS=OFF -DLUMIVOX_BUILD_BENCH=OFF) ;;
  --sanitize) dir=build-asan; flags=(-DCMAKE_BUILD_TYPE=Debug -DLUMIVOX_SANITIZE=ON -DLUMIVOX_BUILD_BENCH=OFF -DLUMIVOX_BUILD_APP=OFF) ;;
  --tsan) dir=build-tsan; flags=(-DCMAKE_BUILD_TYPE=Debug -DLUMIVOX_TSAN=ON -DLUMIVOX_BUILD_BENCH=OFF -DLUMIVOX_BUILD_APP=OFF) ;;
  --fuzz) dir=build-fuzz; flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMIVOX_FUZZ=ON
          -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++) ;;
  # The same folder serves both: switching only turns the test and benchmark targets
  # on or off, what is built already stays built.
  "") flags+=(-DLUMIVOX_BUILD_TESTS=ON -DLUMIVOX_BUILD_BENCH=ON) ;;
  *) echo "build.sh: unknown option $1" >&2; exit 2 ;;
esac

jobs=$(nproc)
cmake -S . -B "$dir" -G Ninja "${flags[@]}" >/dev/null
if [ "${1:-}" = "--tsan" ]; then
  # Only the tests that run threads together (files named *_tsan_test.cpp) and the
  # programs they start.
  targets=$(ninja -C "$dir" -t targets all | sed -n 's/^\([a-z_]*_tsan_test\): .*/\1/p' | sort -u)
  cmake --build "$dir" -j "$jobs" --target lumivox-cli lumivox-mjpeg lumivox_data $targets
elif [ "${1:-}" = "--programs" ]; then
  cmake --build "$dir" -j "$jobs" --target lumivox_programs
else
  cmake --build "$dir" -j "$jobs"
fi
