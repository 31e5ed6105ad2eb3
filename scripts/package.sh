#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Debian package of Lumivox and checks it: lintian must have nothing to say
# about it, and the .deb is unpacked into a scratch root, where the installed programs are
# run to show that they find their data (templates, MPEG files, help) under share/lumivox/
# and their helper under lib/lumivox/.
#   scripts/package.sh      writes build-package/lumivox_<version>_<arch>.deb and its
#                           debug symbols, build-package/lumivox-dbgsym_<version>_<arch>.ddeb
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
scripts/setup.sh package

dir=build-package
# Debian's build flags: hardening (stack protector, fortified functions, read-only
# relocations, bind now) and -g, for the debug symbols that go into the -dbgsym package.
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DLUMIVOX_BUILD_TESTS=OFF \
  -DLUMIVOX_BUILD_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  "-DCMAKE_C_FLAGS=$(dpkg-buildflags --get CFLAGS) $cppflags" \
  "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $cppflags" \
  "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$dir" -j "$(nproc)"
rm -f "$dir"/lumivox_*.deb "$dir"/lumivox-dbgsym_*.ddeb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/lumivox_*.deb)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Depends
# The picture libraries (HEIC with its HEVC decoder, PNG, WebP, colour profiles) must be
# promised, or an installed program would refuse phone photos.
depends=$(dpkg-deb --field "$deb" Depends)
for lib in libheif1 libde265-0 libpng16-16 libwebp7 libwebpdemux2 liblcms2-2; do
  case "$depends" in
    *"$lib"*) ;;
    *) echo "package.sh: the package does not depend on $lib" >&2; exit 1 ;;
  esac
done

# CPack's debug-symbol package lists its files in md5sums by their path in CPack's own
# work folder, and has no documents. Its md5sums are written again, and its document
# folder points to the main package's, as Debian's own -dbgsym packages do.
ddeb=$(ls "$dir"/lumivox-dbgsym_*.ddeb)
repack=$(mktemp -d)
dpkg-deb -R "$ddeb" "$repack/root"
(cd "$repack/root" && find usr -type f -print0 | sort -z | xargs -0 md5sum > DEBIAN/md5sums)
mkdir -p "$repack/root/usr/share/doc"
ln -s lumivox "$repack/root/usr/share/doc/lumivox-dbgsym"
dpkg-deb --root-owner-group --build "$repack/root" "$ddeb" >/dev/null
rm -rf "$repack"

# One version: the project's, which CHANGELOG.md's newest entry must name.
version=$(dpkg-deb --field "$deb" Version)
newest=$(sed -n 's/^## \([^ ]*\) - .*/\1/p' CHANGELOG.md | head -n 1)
[ "$newest" = "$version" ] || { echo "package.sh: CHANGELOG.md's newest entry is $newest, the package is $version" >&2; exit 1; }

# Debian's policy checker: any tag it reports (error or warning) fails the package.
# (Its remark about running as root is no finding about the package.)
report=$(lintian --tag-display-limit 0 "$deb" "$dir"/lumivox-dbgsym_*.ddeb 2>&1 |
         grep -v '^running with root privileges is not recommended!$' || true)
if [ -n "$report" ]; then
  echo "$report" >&2
  echo "package.sh: lintian has objections to $deb" >&2
  exit 1
fi
echo "lintian: no objections"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
usr="$scratch/root/usr"
# The installed programs, with nothing of this checkout to fall back on.
export LUMIVOX_CONFIG_DIR="$scratch/config" XDG_CACHE_HOME="$scratch/cache" QT_QPA_PLATFORM=offscreen
unset LUMIVOX_PROGRAM_DIR

for file in bin/lumivox bin/lumivox-cli lib/lumivox/lumivox-mjpeg share/lumivox/template/classic.ini \
            share/man/man1/lumivox.1.gz share/man/man1/lumivox-cli.1.gz share/doc/lumivox/copyright \
            share/doc/lumivox/changelog.gz share/bash-completion/completions/lumivox-cli \
            share/zsh/vendor-completions/_lumivox-cli \
            share/lumivox/avseq01.ntsc share/lumivox/temp_x.npal share/lumivox/help/intro.html \
            share/lumivox/help/start.html share/applications/lumivox.desktop share/mime/packages/lumivox.xml \
            share/icons/hicolor/48x48/apps/lumivox.png share/icons/hicolor/256x256/apps/lumivox.png \
            share/icons/hicolor/scalable/apps/lumivox.svg; do
  [ -e "$usr/$file" ] || { echo "package.sh: $file is missing from the package" >&2; exit 1; }
done
[ ! -e "$usr/bin/lumivox-mjpeg" ] || { echo "package.sh: the encoder helper is on the PATH" >&2; exit 1; }
desktop-file-validate "$usr/share/applications/lumivox.desktop"
"$usr/bin/lumivox-cli" --version | grep -qx "lumivox-cli $version" || { echo "package.sh: lumivox-cli --version is not $version" >&2; exit 1; }
"$usr/bin/lumivox-cli" templates >/dev/null

mkdir -p "$scratch/sample"
sed "s|@SAMPLES@|$root/samples|g" samples/sample.lvx.in > "$scratch/sample/sample.lvx"
"$usr/bin/lumivox-cli" make "$scratch/sample/sample.lvx" -o "$scratch/sample/disc.cue" --label LUMIVOX_SAMPLE >/dev/null
[ -s "$scratch/sample/disc.bin" ] || { echo "package.sh: the installed lumivox-cli made no disc image" >&2; exit 1; }
echo "installed lumivox-cli made $(stat -c %s "$scratch/sample/disc.bin") bytes of disc image"
"$usr/bin/lumivox" --screenshots "$scratch/shots" "$scratch/sample/sample.lvx" >/dev/null
echo "installed lumivox ran: $(ls "$scratch/shots" | wc -l) pictures"
echo "package.sh: $deb is good"
