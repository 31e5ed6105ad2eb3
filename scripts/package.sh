#!/usr/bin/env bash
# Builds the Debian package of Lumivox and checks it: the .deb is unpacked into a scratch
# root, and the installed programs are run from there to show that they find their data
# (templates, MPEG files, help) under share/lumivox/.
#   scripts/package.sh      writes build-package/lumivox_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/setup.sh package

dir=build-package
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMIVOX_BUILD_TESTS=OFF \
  -DLUMIVOX_BUILD_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/lumivox_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/lumivox_*.deb)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Depends

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
usr="$scratch/root/usr"
# The installed programs, with nothing of this checkout to fall back on.
export LUMIVOX_CONFIG_DIR="$scratch/config" XDG_CACHE_HOME="$scratch/cache" QT_QPA_PLATFORM=offscreen
unset LUMIVOX_PROGRAM_DIR

for file in bin/lumivox bin/lumivox-cli bin/lumivox-mjpeg share/lumivox/template/classic.ini \
            share/lumivox/avseq01.ntsc share/lumivox/temp_x.npal share/lumivox/help/intro.html \
            share/lumivox/help/start.html share/applications/lumivox.desktop share/mime/packages/lumivox.xml \
            share/icons/hicolor/48x48/apps/lumivox.png share/icons/hicolor/256x256/apps/lumivox.png \
            share/icons/hicolor/scalable/apps/lumivox.svg; do
  [ -e "$usr/$file" ] || { echo "package.sh: $file is missing from the package" >&2; exit 1; }
done
desktop-file-validate "$usr/share/applications/lumivox.desktop"
"$usr/bin/lumivox-cli" templates >/dev/null

mkdir -p "$scratch/sample"
sed "s|@SAMPLES@|$root/samples|g" samples/sample.lvx.in > "$scratch/sample/sample.lvx"
"$usr/bin/lumivox-cli" make "$scratch/sample/sample.lvx" -o "$scratch/sample/disc.cue" --label "LUMIVOX SAMPLE" >/dev/null
[ -s "$scratch/sample/disc.bin" ] || { echo "package.sh: the installed lumivox-cli made no disc image" >&2; exit 1; }
echo "installed lumivox-cli made $(stat -c %s "$scratch/sample/disc.bin") bytes of disc image"
"$usr/bin/lumivox" --screenshots "$scratch/shots" "$scratch/sample/sample.lvx" >/dev/null
echo "installed lumivox ran: $(ls "$scratch/shots" | wc -l) pictures"
echo "package.sh: $deb is good"
