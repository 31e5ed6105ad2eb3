#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the Debian packages a Lumivox command needs — only those that are missing, so
# running it again is cheap. Works as root on a fresh Debian 12 machine (uses sudo when
# not root). Each command names what it needs:
#   scripts/setup.sh run           build the programs and make a disc (scripts/run.sh)
#   scripts/setup.sh test          also GoogleTest and the independent readers the tests
#                                  check our output with (scripts/test.sh; the default)
#   scripts/setup.sh package       also the Debian packaging and checking tools
#   scripts/setup.sh screenshots   also an X server (scripts/screenshots.sh)
#   scripts/setup.sh fuzz          also clang and its sanitizer runtime (scripts/fuzz.sh)
#   scripts/setup.sh bench         also the reference tools the benchmarks compare against
#   scripts/setup.sh translations  also Qt's translation tools (scripts/translations.sh)
#   scripts/setup.sh all           everything above
# Several may be given; --fuzz and --bench mean "test" plus that group, as they always have.
set -euo pipefail

# What building and running the programs needs: the toolchain, the libraries the
# programs link, the font of the disc menus, Python for the sample's menu tune.
run=(
  g++ cmake ninja-build pkg-config make
  libjpeg62-turbo-dev libtiff-dev libmjpegtools-dev libtwolame-dev libid3-3.8.3-dev
  libresample1-dev libmpg123-dev qt6-base-dev qt6-multimedia-dev qt6-svg-dev fonts-liberation
  python3
  # today's picture formats and colour profiles: HEIC/HEIF (libheif with libde265 for
  # HEVC), PNG, WebP, Little CMS
  libheif-dev libde265-0 libpng-dev libwebp-dev liblcms2-dev
)
# The tests: GoogleTest, and independent readers of what we produce.
test=(googletest libgtest-dev ffmpeg python3-pycdlib python3-pil)
# The package: Debian's packaging tools and policy checker, desktop and MIME database
# checks, Qt's platform plug-ins the package depends on.
package=(dpkg-dev fakeroot lintian desktop-file-utils shared-mime-info qt6-qpa-plugins)
# The screenshots: an X server and Qt's X11 platform.
screenshots=(xvfb xauth qt6-qpa-plugins)
fuzz=(clang libclang-rt-14-dev)
bench=(libjpeg-turbo-progs mjpegtools imagemagick time)
# The translators' file of the desktop program (scripts/translations.sh).
translations=(qt6-l10n-tools)

packages=()
[ $# -gt 0 ] || set -- test
for arg in "$@"; do
  case "$arg" in
    run) packages+=("${run[@]}") ;;
    test) packages+=("${run[@]}" "${test[@]}") ;;
    package) packages+=("${run[@]}" "${package[@]}") ;;
    screenshots) packages+=("${run[@]}" "${screenshots[@]}") ;;
    fuzz | --fuzz) packages+=("${run[@]}" "${test[@]}" "${fuzz[@]}") ;;
    bench | --bench) packages+=("${run[@]}" "${test[@]}" "${bench[@]}") ;;
    translations) packages+=("${run[@]}" "${translations[@]}") ;;
    all) packages+=("${run[@]}" "${test[@]}" "${package[@]}" "${screenshots[@]}" "${fuzz[@]}" "${bench[@]}"
              "${translations[@]}") ;;
    *) echo "setup.sh: unknown group $arg (run, test, package, screenshots, fuzz, bench, translations, all)" >&2; exit 2 ;;
  esac
done

missing=()
for pkg in $(printf '%s\n' "${packages[@]}" | sort -u); do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$pkg" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$pkg")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "setup: installing ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
