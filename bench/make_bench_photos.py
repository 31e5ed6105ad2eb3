#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Writes COUNT large photo-like JPEG files for the production benchmark: smooth colour
fields (sky, land, water), soft shapes with hard edges, and sensor-like grain, so that
each file decodes like a real camera picture of that size.

    make_bench_photos.py FOLDER [--count 60] [--width 4032] [--height 3024]
    make_bench_photos.py FOLDER --mixed

--mixed writes 16 camera photos of mixed sizes instead, from 1 to 18 megapixels, in both
orientations, every other one progressive (photo_001.jpg ... photo_016.jpg).

Needs PIL (python3-pil), hence /usr/bin/python3. Files already there with the right size
are kept, so running it again is cheap.
"""

import argparse
import os
import random
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter


def photo(width, height, seed):
    rng = random.Random(seed)
    # Colour fields: a few random colours, enlarged smoothly to the whole frame.
    coarse = Image.new("RGB", (6, 5))
    horizon = rng.randint(2, 3)
    for y in range(5):
        for x in range(6):
            if y < horizon:  # sky: light and bluish
                c = (rng.randint(90, 190), rng.randint(140, 210), rng.randint(190, 255))
            else:  # land or water
                c = (rng.randint(30, 160), rng.randint(60, 170), rng.randint(20, 140))
            coarse.putpixel((x, y), c)
    picture = coarse.resize((width, height), Image.BICUBIC)
    # Shapes with hard edges: hills, trees, rocks, a sun.
    draw = ImageDraw.Draw(picture)
    for _ in range(rng.randint(12, 24)):
        x, y = rng.randint(0, width), rng.randint(height // 3, height)
        w, h = rng.randint(width // 40, width // 6), rng.randint(height // 40, height // 4)
        colour = (rng.randint(10, 120), rng.randint(40, 140), rng.randint(10, 90))
        if rng.random() < 0.5:
            draw.ellipse((x - w, y - h, x + w, y + h), fill=colour)
        else:
            draw.polygon([(x - w, y + h), (x, y - h), (x + w, y + h)], fill=colour)
    sx, sy, r = rng.randint(0, width), rng.randint(0, height // 4), rng.randint(width // 60, width // 25)
    draw.ellipse((sx - r, sy - r, sx + r, sy + r), fill=(255, 244, 214))
    # A little softness, as a lens gives, then grain.
    picture = picture.filter(ImageFilter.GaussianBlur(1.2))
    grain = Image.effect_noise((width, height), 10).convert("RGB")
    return ImageChops.add(picture, grain, scale=1.0, offset=-128)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder")
    parser.add_argument("--count", type=int, default=60)
    parser.add_argument("--width", type=int, default=4032)
    parser.add_argument("--height", type=int, default=3024)
    parser.add_argument("--mixed", action="store_true")
    args = parser.parse_args()
    os.makedirs(args.folder, exist_ok=True)
    if args.mixed:
        # Camera sizes from 1 to 18 megapixels; every fourth upright; odd ones progressive.
        sizes = [(1152, 864), (1600, 1200), (2048, 1536), (2592, 1944), (3264, 2448), (4032, 3024),
                 (4608, 3456), (5184, 3888), (1280, 960), (2304, 1728), (3000, 2000), (3648, 2736),
                 (4000, 3000), (4896, 3672), (2816, 2112), (1920, 1440)]
        specs = []
        for i, (w, h) in enumerate(sizes, start=1):
            if i % 4 == 0:
                w, h = h, w
            specs.append((i, w, h, i % 2 == 1))
        args.count = len(specs)
    else:
        specs = [(i, args.width, args.height, False) for i in range(1, args.count + 1)]
    made = 0
    for i, width, height, progressive in specs:
        path = os.path.join(args.folder, "photo_%03d.jpg" % i)
        if os.path.exists(path):
            try:
                with Image.open(path) as existing:
                    if existing.size == (width, height) and bool(existing.info.get("progressive")) == progressive:
                        continue
            except OSError:
                pass
        photo(width, height, i).save(path, "JPEG", quality=92, progressive=progressive)
        made += 1
        sys.stdout.write("\rphotos: %d of %d" % (i, args.count))
        sys.stdout.flush()
    if made:
        sys.stdout.write("\n")
    if args.mixed:
        print("%d photos of mixed sizes in %s (%d new)" % (args.count, args.folder, made))
    else:
        print("%d photos of %d x %d in %s (%d new)" % (args.count, args.width, args.height, args.folder, made))


if __name__ == "__main__":
    main()
