#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Every tracked source file names its licence in its first lines, in the comment syntax of
# its language: C and C++ (//), CMake, shell, Python and sanitizer suppression files (#),
# XML, SVG and Qt resource files (<!-- -->, after an XML declaration).
#   scripts/spdx.sh           adds the line to every file that lacks it (running it again
#                             changes nothing)
#   scripts/spdx.sh --check   lists the files that lack it; exit status 1 when any does
set -euo pipefail
cd "$(dirname "$0")/.."
tag="SPDX-License-Identifier: GPL-2.0-or-later"
check=0
case "${1:-}" in
  --check) check=1 ;;
  "") ;;
  *) echo "spdx.sh: unknown option $1 (--check)" >&2; exit 2 ;;
esac

# The comment line for a file, empty for files that are not source (pictures, sounds,
# test data, documents).
comment_for() {
  case "$1" in
    data/* | samples/* | tests/data/* | fuzz/corpus/* | *.md | COPYING) ;;
    *.cpp | *.cc | *.c | *.h | *.hpp) echo "// $tag" ;;
    *CMakeLists.txt | *.cmake | *.sh | *.py | *.supp | .ci/run) echo "# $tag" ;;
    *.svg | *.xml | *.qrc) echo "<!-- $tag -->" ;;
  esac
}

missing=0
while IFS= read -r -d '' file; do
  [ -f "$file" ] || continue
  line=$(comment_for "$file")
  [ -n "$line" ] || continue
  head -n 5 "$file" | grep -q "SPDX-License-Identifier:" && continue
  missing=$((missing + 1))
  if [ "$check" = 1 ]; then
    echo "$file"
    continue
  fi
  # After a first line that must stay first (#! or <?xml ...?>), else on top.
  first=$(head -n 1 "$file")
  tmp="$file.spdx-tmp"
  case "$first" in
    '#!'* | '<?xml'*) { printf '%s\n%s\n' "$first" "$line"; tail -n +2 "$file"; } > "$tmp" ;;
    *) { printf '%s\n' "$line"; cat "$file"; } > "$tmp" ;;
  esac
  chmod --reference="$file" "$tmp"
  mv "$tmp" "$file"
done < <(git ls-files -z)

if [ "$check" = 1 ]; then
  [ "$missing" = 0 ] || { echo "spdx.sh: $missing files lack \"$tag\"" >&2; exit 1; }
  exit 0
fi
echo "spdx.sh: added the licence line to $missing files"
