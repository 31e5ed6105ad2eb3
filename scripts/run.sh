#!/usr/bin/env bash
# The main job: sets up, builds, and runs Lumivox on the bundled sample project.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/setup.sh
scripts/build.sh
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
out="$root/build/sample"
mkdir -p "$out"
# Project files hold absolute picture paths, so the sample project is written for
# this checkout's location.
sed "s|@SAMPLES@|$root/samples|g" samples/sample.lvx.in > "$out/sample.lvx"
build/bin/lumivox-cli info "$out/sample.lvx"
