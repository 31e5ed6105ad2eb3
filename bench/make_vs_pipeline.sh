#!/usr/bin/env bash
# Making a whole Video CD with `lumivox-cli make` against the per-photo pipeline a user
# would script with the usual tools, side by side in one run, on a project of 60 large
# JPEG photos (12 megapixels, 4032 x 3024):
#
#   lumivox-cli make PROJECT.lvx -o DISC.cue      render, encode and multiplex every slide
#                                                 and the menu page, and author the image
#   for each photo:                               the same slides, without the menu page
#     convert PHOTO -resize 704x480 -background black -gravity center -extent 704x480 ppm:- |
#       ppmtoy4m | mpeg2enc -f 6 -T 200          (a high-resolution NTSC still)
#     mplex -f 6 -o SEGMENT STILL temp_x.ntsc     (the still segment with its companion)
#   and no disc authoring at all.
#
# Prints both times, the ratio (target: make at most a third of the pipeline's time) and
# the peak memory of make (target: under 400 MB) — both the largest single process as
# /usr/bin/time -v reports it and the sampled sum over make's whole process tree.
#
#   bench/make_vs_pipeline.sh [--count N] [--keep]
#
# Needs a built lumivox-cli (scripts/build.sh), /usr/bin/python3 with PIL for the photos,
# and the reference tools: scripts/setup.sh --bench.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

count=60
keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --count) count=$2; shift ;;
    --keep) keep=1 ;;
    *) echo "make_vs_pipeline.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

cli=${LUMIVOX_CLI:-$root/build/bin/lumivox-cli}
companion=$(dirname "$cli")/temp_x.ntsc
# The real ImageMagick, not a stand-in that some environments put first on PATH.
convert_tool=/usr/bin/convert
[ -x "$convert_tool" ] || convert_tool=$(command -v convert || true)
for tool in "$cli" "$convert_tool" "$(command -v ppmtoy4m || true)" "$(command -v mpeg2enc || true)" \
            "$(command -v mplex || true)" /usr/bin/time /usr/bin/python3; do
  if [ -z "$tool" ] || [ ! -x "$tool" ]; then
    echo "make_vs_pipeline.sh: missing ${tool:-a reference tool}; run scripts/build.sh and scripts/setup.sh --bench" >&2
    exit 1
  fi
done
[ -f "$companion" ] || { echo "make_vs_pipeline.sh: $companion is missing" >&2; exit 1; }

# The photos are kept between runs (they take a minute to make); the rest is per run.
photos=${TMPDIR:-/tmp}/lumivox-bench-photos
/usr/bin/python3 bench/make_bench_photos.py "$photos" --count "$count"
work=$(mktemp -d "${TMPDIR:-/tmp}/lumivox-bench-XXXXXX")
cleanup() { [ "$keep" = 1 ] && echo "kept $work" || rm -rf "$work"; }
trap cleanup EXIT

# Six albums of ten (the last one takes what is left).
project=$work/bench.lvx
albums=$(( (count + 9) / 10 ))
{
  printf '[GENERAL]\nDescription=Lumivox Project\nVersion=1.0\nAlbum_Count=%d\n' "$albums"
  for ((a = 1; a <= albums; a++)); do
    first=$(( (a - 1) * 10 + 1 )); last=$(( a * 10 < count ? a * 10 : count ))
    printf '[Album_%02d]\nName=Album %d\ninterval=5\nImage_Count=%d\n' "$a" "$a" $((last - first + 1))
    for ((p = first; p <= last; p++)); do
      printf 'Image_%02d=%s/photo_%03d.jpg\n' $((p - first + 1)) "$photos" "$p"
    done
  done
} > "$project"

# Reads the photos once so that both sides start from the page cache.
cat "$photos"/photo_*.jpg > /dev/null

now() { date +%s.%N; }

# Sums the resident memory of every process in the session that process $1 leads (it
# calls setsid), every 50 ms while it lives; prints the largest sum in kB.
sample_session_peak() {
  local leader=$1 peak=0 sum
  while kill -0 "$leader" 2>/dev/null; do
    sum=$(ps -o rss= --sid "$leader" 2>/dev/null | awk '{s += $1} END {print s + 0}')
    [ "$sum" -gt "$peak" ] && peak=$sum
    sleep 0.05
  done
  echo "$peak"
}

echo "== lumivox-cli make: $count photos of 12 MP, menu page, whole disc image"
mkdir -p "$work/make-temp"
start=$(now)
QT_QPA_PLATFORM=offscreen setsid /usr/bin/time -v -o "$work/make.time" \
  "$cli" make "$project" -o "$work/bench.cue" --quiet --label BENCH --ntsc --temp "$work/make-temp" \
  > "$work/make.out" 2>&1 &
make_pid=$!
tree_peak=$(sample_session_peak "$make_pid")
status=0
wait "$make_pid" || status=$?
make_seconds=$(echo "$(now) - $start" | bc)
if [ "$status" -ne 0 ]; then
  echo "lumivox-cli make failed (status $status):" >&2
  cat "$work/make.out" >&2
  exit 1
fi
sed 's/^/  /' "$work/make.out"
make_rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/make.time")

echo "== scripted pipeline: convert | ppmtoy4m | mpeg2enc, then mplex, per photo"
mkdir -p "$work/pipeline"
start=$(now)
for ((i = 1; i <= count; i++)); do
  photo=$(printf '%s/photo_%03d.jpg' "$photos" "$i")
  still=$work/pipeline/still.m1v
  "$convert_tool" "$photo" -resize 704x480 -background black -gravity center -extent 704x480 ppm:- |
    ppmtoy4m -v 0 -F 30000:1001 -A 10:11 -S 420mpeg2 |
    mpeg2enc -v 0 -f 6 -T 200 -n n -o "$still"
  # mplex reports buffer under-runs of such a hand-made segment on standard error and
  # still writes it; a scripted user gets the same file.
  mplex -v 0 -f 6 -o "$(printf '%s/pipeline/slide_%03d.mpg' "$work" "$i")" "$still" "$companion" \
    > /dev/null 2>&1 || true
done
pipeline_seconds=$(echo "$(now) - $start" | bc)
made=$(ls "$work"/pipeline/slide_*.mpg 2>/dev/null | wc -l)

ratio=$(echo "scale=3; $make_seconds / $pipeline_seconds" | bc)
echo
printf '%-58s %8.2f s\n' "lumivox-cli make ($count photos + menu, image authored)" "$make_seconds"
printf '%-58s %8.2f s  (%d segments)\n' "convert | ppmtoy4m | mpeg2enc + mplex (no authoring)" "$pipeline_seconds" "$made"
printf '%-58s %8s   (target: at most 0.333)\n' "ratio make / pipeline" "$ratio"
printf '%-58s %8d MB\n' "peak memory of make, largest process (time -v)" $((make_rss / 1024))
printf '%-58s %8d MB  (target: under 400 MB)\n' "peak memory of make, whole process tree (sampled)" $((tree_peak / 1024))
printf '%-58s %8s\n' "processors" "$(nproc)"
