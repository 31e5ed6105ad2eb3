#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Takes the desktop program's screenshots: `lumivox --screenshots` under Xvfb (the real X11
# platform) on a screen of 1280 x 800 logical pixels, Fusion style, Liberation fonts, scale
# factor 1, with the bundled sample project, so that pictures of different runs compare.
# The window fills the screen; the pictures keep their names whatever the size and scale.
#   scripts/screenshots.sh [OUTDIR] [--size WxH] [--scale N]   (default build/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out_arg=build/screenshots
size=1280x800
scale=1
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size=$2; shift 2 ;;
    --scale) scale=$2; shift 2 ;;
    *) out_arg=$1; shift ;;
  esac
done
if ! [[ $size =~ ^[0-9]+x[0-9]+$ && $scale =~ ^[1-4]$ ]]; then
  echo "usage: $0 [OUTDIR] [--size WxH] [--scale 1..4]" >&2
  exit 2
fi
width=$(( ${size%x*} * scale ))
height=$(( ${size#*x} * scale ))
out=$(realpath -m "$out_arg")
scripts/setup.sh screenshots
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMIVOX_BUILD_TESTS=OFF \
    -DLUMIVOX_BUILD_BENCH=OFF >/dev/null
fi
cmake --build build --target lumivox lumivox_data

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
sed "s|@SAMPLES@|$root/samples|g" samples/sample.lvx.in > "$scratch/sample.lvx"
# Liberation Sans is the font every generic sans-serif request gets.
cat > "$scratch/fonts.conf" <<'CONF'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <match target="pattern">
    <test qual="any" name="family"><string>sans-serif</string></test>
    <edit name="family" mode="prepend" binding="strong"><string>Liberation Sans</string></edit>
  </match>
  <match target="pattern">
    <test qual="any" name="family"><string>Sans Serif</string></test>
    <edit name="family" mode="prepend" binding="strong"><string>Liberation Sans</string></edit>
  </match>
</fontconfig>
CONF
mkdir -p "$out"
env FONTCONFIG_FILE="$scratch/fonts.conf" QT_QPA_PLATFORM=xcb QT_STYLE_OVERRIDE=Fusion \
    QT_SCALE_FACTOR=$scale QT_ENABLE_HIGHDPI_SCALING=0 QT_FONT_DPI=96 \
    LUMIVOX_CONFIG_DIR="$scratch/config" XDG_CACHE_HOME="$scratch/cache" \
    LUMIVOX_EMULATED_RECORDER="emulated:$scratch/recorder" \
  xvfb-run -a -s "-screen 0 ${width}x${height}x24 -dpi 96" build/bin/lumivox --screenshots "$out" "$scratch/sample.lvx"
echo "screenshots: $out"
