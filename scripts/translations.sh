#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Extracts every text of the desktop program that goes through Qt's translation machinery,
# the core's fixed texts (marked QT_TRANSLATE_NOOP("lumivox::core", ...)) among them,
# into a Qt Linguist file for translators.
#   scripts/translations.sh [TS_FILE]     (default build/translations/lumivox.ts)
# A translation made from it is compiled with lrelease into lumivox_<locale>.qm and
# installed in the program's "translations" folder, where the program looks at start.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh translations
ts=$(realpath -m "${1:-build/translations/lumivox.ts}")
lupdate=$(command -v lupdate || true)
[ -n "$lupdate" ] || lupdate=/usr/lib/qt6/bin/lupdate
if [ ! -x "$lupdate" ]; then
  echo "lupdate not found: package qt6-l10n-tools (scripts/setup.sh translations)" >&2
  exit 1
fi
mkdir -p "$(dirname "$ts")"
"$lupdate" -silent -locations relative -extensions cpp,h src -ts "$ts"
echo "translations: $ts"
