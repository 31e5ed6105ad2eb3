#!/usr/bin/env bash
# Installs the Debian packages Lumivox needs to build, test and run — only those that
# are missing, so running it again is cheap. Works as root on a fresh Debian 12 machine
# (uses sudo when not root).
#   scripts/setup.sh           build, run and test dependencies
#   scripts/setup.sh --fuzz    also clang and its sanitizer runtime (fuzz targets)
#   scripts/setup.sh --bench   also the reference tools the benchmarks compare against
set -euo pipefail

packages=(
  # toolchain
  g++ cmake ninja-build pkg-config make
  # libraries the program links
  libjpeg62-turbo-dev libtiff-dev libmjpegtools-dev libtwolame-dev libid3-3.8.3-dev
  libresample1-dev libmpg123-dev qt6-base-dev qt6-multimedia-dev qt6-svg-dev fonts-liberation
  # today's picture formats and colour profiles: HEIC/HEIF (libheif with libde265 for
  # HEVC), PNG, WebP, Little CMS
  libheif-dev libde265-0 libpng-dev libwebp-dev liblcms2-dev
  # tests: GoogleTest, and independent readers of what we produce
  googletest libgtest-dev ffmpeg python3 python3-pycdlib python3-pil
  # the desktop program's screenshots and package: X server for screenshots, Qt's X11
  # platform, Debian packaging tools, desktop and MIME database checks
  xvfb xauth qt6-qpa-plugins dpkg-dev fakeroot desktop-file-utils shared-mime-info
  # the translators' file of the desktop program (scripts/translations.sh)
  qt6-l10n-tools
)
for arg in "$@"; do
  case "$arg" in
    --fuzz) packages+=(clang libclang-rt-14-dev) ;;
    --bench) packages+=(libjpeg-turbo-progs mjpegtools imagemagick time) ;;
    *) echo "setup.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

missing=()
for pkg in "${packages[@]}"; do
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
