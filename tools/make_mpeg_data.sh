#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Makes the four MPEG files installed beside the program, from one neutral Lumivox card:
#   data/temp_x.ntsc, data/temp_x.npal   normal-resolution Video CD stills (352 x 240 /
#                                        352 x 288), MPEG-1 video elementary streams: the
#                                        companion still of every segment
#   data/avseq01.ntsc, data/avseq01.npal two-second MPEG-1 Video CD program streams in
#                                        2,324-byte packs (352 x 240 at 29.97 Hz /
#                                        352 x 288 at 25 Hz, MPEG-1 Layer II silence):
#                                        the disc's one MPEG track
# Needs ImageMagick (convert), mjpegtools (ppmtoy4m, mpeg2enc, mplex) and ffmpeg
# (scripts/setup.sh --bench installs them). The results are committed; run this again
# only to change the card.
#   tools/make_mpeg_data.sh [OUTPUT_FOLDER]     (default: data/ of the repository)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$repo/data}
for tool in convert ppmtoy4m mpeg2enc mplex ffmpeg; do
  command -v "$tool" >/dev/null || { echo "make_mpeg_data: $tool is missing (scripts/setup.sh --bench)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

font=/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf
[ -f "$font" ] || font=DejaVu-Sans

# card W H FILE — the card drawn in square pixels at 4:3 (W x H), dark slate with a soft
# light falling from the top, the wordmark in quiet grey and a thin rule under it.
card() {
  local w=$1 h=$2 file=$3
  local size=$((h / 9)) rule_y=$((h / 2 + h / 14)) rule_half=$((w / 10))
  convert -size "${w}x${h}" gradient:'#34404d-#11161c' \
    \( -size "${w}x${h}" radial-gradient:'#ffffff18-#00000000' \) -compose screen -composite \
    -font "$font" -pointsize "$size" -kerning $((size / 12)) \
    -fill '#c9d2db' -gravity center -annotate +0-$((h / 40)) 'Lumivox' \
    -stroke '#7f8c99' -strokewidth 1 \
    -draw "line $((w / 2 - rule_half)),$rule_y $((w / 2 + rule_half)),$rule_y" \
    -alpha off -depth 8 "$file"
}

# Square-pixel cards, then scaled to the Video CD picture sizes (non-square pixels).
card 640 480 "$work/card_ntsc.png"
card 768 576 "$work/card_pal.png"
convert "$work/card_ntsc.png" -resize '352x240!' -depth 8 "$work/ntsc.ppm"
convert "$work/card_pal.png" -resize '352x288!' -depth 8 "$work/pal.ppm"

# still NORM_LETTER RATE PPM OUTPUT — one normal-resolution VCD still.
still() {
  ppmtoy4m -v 0 -F "$2" -S 420mpeg2 "$3" |
    mpeg2enc -v 0 -f 6 -a 2 -n "$1" -o "$4"
}
still n 30000:1001 "$work/ntsc.ppm" "$out/temp_x.ntsc"
still p 25:1 "$work/pal.ppm" "$out/temp_x.npal"

# sequence NORM_LETTER RATE FRAMES PPM OUTPUT — two seconds of the card with silence.
sequence() {
  ppmtoy4m -v 0 -F "$2" -S 420mpeg2 -n "$3" -r "$4" |
    mpeg2enc -v 0 -f 1 -a 2 -n "$1" -o "$work/track.m1v"
  ffmpeg -v error -y -f lavfi -i anullsrc=r=44100:cl=stereo -t 2 \
    -c:a mp2 -b:a 224k "$work/track.mp2"
  mplex -v 0 -f 1 -o "$5" "$work/track.m1v" "$work/track.mp2"
}
sequence n 30000:1001 60 "$work/ntsc.ppm" "$out/avseq01.ntsc"
sequence p 25:1 50 "$work/pal.ppm" "$out/avseq01.npal"

ls -l "$out"/temp_x.ntsc "$out"/temp_x.npal "$out"/avseq01.ntsc "$out"/avseq01.npal
