#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The main job: sets up, builds, and makes the Video CD of the bundled sample project —
# three albums of photos under the default disc menu, with a generated menu tune — as a
# BIN/CUE disc image that any burning tool accepts.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
# Only what this job runs is installed and built: the programs and their data, not the
# tests and benchmarks (scripts/test.sh builds those).
scripts/setup.sh run
scripts/build.sh --programs
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
out="$root/build/sample"
mkdir -p "$out"
# Project files hold absolute picture paths, so the sample project is written for
# this checkout's location.
sed "s|@SAMPLES@|$root/samples|g" samples/sample.lvx.in > "$out/sample.lvx"
# The menu music is generated rather than kept in the repository; made again only when
# its generator has changed.
if [ tools/make_sample_music.py -nt "$out/menu.wav" ]; then
  python3 tools/make_sample_music.py "$out/menu.wav"
fi
build/bin/lumivox-cli make "$out/sample.lvx" -o "$out/lumivox-sample.cue" \
  --music "$out/menu.wav" --label LUMIVOX_SAMPLE
echo
echo "Sample Video CD image:"
echo "  $out/lumivox-sample.cue"
echo "  $out/lumivox-sample.bin"
echo "Burn it with any disc-burning tool that accepts a CUE sheet; the disc plays in DVD and"
echo "Video CD players."
