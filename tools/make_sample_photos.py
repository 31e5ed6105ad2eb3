#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Makes the photos of the bundled sample project (samples/*.jpg).

Procedural landscapes drawn with PIL: sky gradients, a sun or moon, layered mountain
ridges, lakes with blurred reflections, conifer trees, snow and a little film grain.
Three albums of three or four pictures, 1280 x 960 (one portrait picture), JPEG
quality 80, small enough to keep the repository light.

Run with Debian's Python, which has PIL:  /usr/bin/python3 tools/make_sample_photos.py
"""

import os
import random
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "samples")
WIDTH, HEIGHT = 1280, 960


def mix(a, b, t):
    return tuple(int(a[i] + (b[i] - a[i]) * t) for i in range(3))


def vertical_gradient(size, stops):
    """A vertical gradient through (position 0..1, colour) stops."""
    w, h = size
    column = Image.new("RGB", (1, 256))
    px = column.load()
    for y in range(256):
        t = y / 255
        for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
            if p0 <= t <= p1:
                px[0, y] = mix(c0, c1, (t - p0) / max(p1 - p0, 1e-6))
                break
    return column.resize((w, h), Image.BICUBIC)


def ridge(rng, width, base, roughness, height_range, points=9):
    """Midpoint-displacement ridge line: list of (x, y)."""
    ys = [base + rng.uniform(-height_range, height_range) for _ in range(2)]
    spread = height_range
    for _ in range(points):
        new = []
        for a, b in zip(ys, ys[1:]):
            new += [a, (a + b) / 2 + rng.uniform(-spread, spread)]
        ys = new + [ys[-1]]
        spread *= roughness
    step = width / (len(ys) - 1)
    return [(i * step, y) for i, y in enumerate(ys)]


def draw_mountains(img, rng, horizon, layers, far, near, snow=False):
    w, h = img.size
    for i in range(layers):
        t = i / max(layers - 1, 1)
        colour = mix(far, near, t)
        base = horizon - (layers - i) * h * 0.06
        line = ridge(rng, w, base, 0.55, h * (0.14 - 0.05 * t))
        layer = Image.new("L", img.size, 0)
        ImageDraw.Draw(layer).polygon(line + [(w, horizon), (0, horizon)], fill=255)
        shade = vertical_gradient(img.size, [(0, mix(colour, (255, 255, 255), 0.15)),
                                             (1, mix(colour, (0, 0, 0), 0.25))])
        img.paste(shade, (0, 0), layer)
        if snow and i < 2:
            caps = Image.new("L", img.size, 0)
            d = ImageDraw.Draw(caps)
            top = min(y for _, y in line)
            limit = top + (base - top) * 0.45
            d.polygon(line + [(w, limit), (0, limit)], fill=230)
            caps = ImageChops.multiply(caps, layer).filter(ImageFilter.GaussianBlur(2))
            img.paste((242, 244, 250), (0, 0), caps)


def draw_sun(img, centre, radius, colour, glow):
    w, h = img.size
    halo = Image.new("L", img.size, 0)
    ImageDraw.Draw(halo).ellipse([centre[0] - radius * 3, centre[1] - radius * 3,
                                  centre[0] + radius * 3, centre[1] + radius * 3], fill=glow)
    img.paste(colour, (0, 0), halo.filter(ImageFilter.GaussianBlur(radius * 1.5)))
    disc = Image.new("L", img.size, 0)
    ImageDraw.Draw(disc).ellipse([centre[0] - radius, centre[1] - radius,
                                  centre[0] + radius, centre[1] + radius], fill=255)
    img.paste(colour, (0, 0), disc.filter(ImageFilter.GaussianBlur(1.5)))


def draw_lake(img, horizon, tint, strength=0.35):
    w, h = img.size
    top = img.crop((0, max(0, 2 * horizon - h), w, horizon)).transpose(Image.FLIP_TOP_BOTTOM)
    top = top.filter(ImageFilter.GaussianBlur(3))
    water = Image.blend(top, Image.new("RGB", top.size, tint), strength)
    # Ripples: thin lighter streaks.
    ripples = Image.new("L", water.size, 0)
    d = ImageDraw.Draw(ripples)
    rng = random.Random(horizon)
    for _ in range(90):
        y = rng.randrange(water.size[1])
        x = rng.randrange(w)
        d.line([(x, y), (x + rng.randrange(30, 160), y)], fill=rng.randrange(20, 70), width=2)
    water.paste((255, 255, 255), (0, 0), ripples.filter(ImageFilter.GaussianBlur(1)))
    img.paste(water, (0, horizon))


def draw_trees(img, rng, count, ground, height, colour, spread=(0, 1)):
    w, h = img.size
    d = ImageDraw.Draw(img)
    for _ in range(count):
        x = rng.uniform(spread[0], spread[1]) * w
        base = ground + rng.uniform(-0.01, 0.03) * h
        th = height * rng.uniform(0.6, 1.2)
        tw = th * 0.32
        c = mix(colour, (0, 0, 0), rng.uniform(0, 0.35))
        for tier in range(4):
            t0 = base - th * tier * 0.22
            d.polygon([(x - tw * (1 - tier * 0.2) / 2, t0), (x + tw * (1 - tier * 0.2) / 2, t0),
                       (x, t0 - th * 0.45)], fill=c)
        d.rectangle([x - tw * 0.05, base, x + tw * 0.05, base + th * 0.06], fill=(60, 42, 30))


def grain(img, amount):
    """Soft film grain and lens softness: a photo never has razor-sharp edges, and soft
    pictures keep the sample files small."""
    noise = Image.effect_noise((img.size[0] // 4, img.size[1] // 4), 40).resize(img.size, Image.BICUBIC)
    noisy = Image.merge("RGB", (noise, noise, noise))
    img = Image.blend(img, ImageChops.overlay(img, noisy), amount)
    return img.filter(ImageFilter.GaussianBlur(0.9))


def lake_morning(seed, size=(WIDTH, HEIGHT)):
    rng = random.Random(seed)
    w, h = size
    horizon = int(h * rng.uniform(0.58, 0.66))
    img = vertical_gradient(size, [(0, (92, 140, 206)), (0.45, (170, 200, 232)), (0.62, (246, 222, 190)), (1, (246, 222, 190))])
    draw_sun(img, (w * rng.uniform(0.25, 0.75), horizon - h * rng.uniform(0.18, 0.32)), h * 0.035, (255, 246, 214), 150)
    draw_mountains(img, rng, horizon, 3, (150, 166, 196), (58, 82, 74), snow=True)
    draw_trees(img, rng, 60, horizon, h * 0.09, (34, 70, 44))
    draw_lake(img, horizon, (40, 80, 110))
    return grain(img, 0.025)


def sunset_coast(seed, size=(WIDTH, HEIGHT)):
    rng = random.Random(seed)
    w, h = size
    horizon = int(h * rng.uniform(0.55, 0.62))
    img = vertical_gradient(size, [(0, (44, 52, 110)), (0.3, (150, 86, 140)), (0.52, (250, 146, 82)), (0.6, (255, 206, 120)), (1, (255, 206, 120))])
    draw_sun(img, (w * rng.uniform(0.3, 0.7), horizon - h * rng.uniform(0.02, 0.08)), h * 0.05, (255, 228, 150), 190)
    draw_mountains(img, rng, horizon, 2, (120, 70, 100), (54, 36, 62))
    draw_lake(img, horizon, (60, 40, 80), 0.3)
    # A dark headland in front, sloping down into the water towards its tip, with a faint
    # warm rim where the low sun catches its crest.
    line = ridge(rng, w * 0.55, h * 0.8, 0.5, h * 0.06)
    water = h * 1.0
    tapered = []
    for x, y in line:
        t = min(max((x - w * 0.22) / (w * 0.33), 0.0), 1.0)
        t = t * t * (3 - 2 * t)
        tapered.append((x, y + (water - y) * t))
    shape = Image.new("L", size, 0)
    ImageDraw.Draw(shape).polygon(tapered + [(w * 0.55, h), (0, h)], fill=255)
    shape = shape.filter(ImageFilter.GaussianBlur(1.2))
    rim = ImageChops.subtract(shape, shape.filter(ImageFilter.MinFilter(5))).point(lambda v: v * 70 // 255)
    img.paste((30, 24, 36), (0, 0), shape)
    img.paste((250, 160, 96), (0, 0), rim)
    return grain(img, 0.025)


def winter_forest(seed, size=(WIDTH, HEIGHT)):
    rng = random.Random(seed)
    w, h = size
    ground = int(h * rng.uniform(0.62, 0.7))
    img = vertical_gradient(size, [(0, (120, 150, 190)), (0.6, (214, 224, 236)), (1, (214, 224, 236))])
    draw_sun(img, (w * rng.uniform(0.2, 0.8), h * rng.uniform(0.15, 0.3)), h * 0.03, (250, 250, 244), 110)
    draw_mountains(img, rng, ground, 2, (176, 190, 214), (120, 138, 160), snow=True)
    snow = vertical_gradient((w, h - ground), [(0, (226, 232, 242)), (1, (250, 252, 255))])
    img.paste(snow, (0, ground))
    draw_trees(img, rng, 24, ground, h * 0.18, (30, 60, 46))
    draw_trees(img, rng, 10, ground + h * 0.12, h * 0.3, (22, 48, 36), spread=(-0.05, 1.05))
    # Snowfall.
    flakes = Image.new("L", size, 0)
    d = ImageDraw.Draw(flakes)
    for _ in range(220):
        x, y, r = rng.uniform(0, w), rng.uniform(0, h), rng.uniform(1, 3.5)
        d.ellipse([x - r, y - r, x + r, y + r], fill=rng.randrange(120, 255))
    img.paste((255, 255, 255), (0, 0), flakes.filter(ImageFilter.GaussianBlur(0.7)))
    return grain(img, 0.02)


ALBUMS = [
    ("mountain_lakes", lake_morning, [11, 12, 13]),
    ("sunset_coast", sunset_coast, [21, 22, 23]),
    ("winter_forest", winter_forest, [31, 32, 33]),
]


def main():
    os.makedirs(OUT, exist_ok=True)
    total = 0
    for album, painter, seeds in ALBUMS:
        for number, seed in enumerate(seeds, 1):
            img = painter(seed)
            path = os.path.join(OUT, "%s_%02d.jpg" % (album, number))
            img.save(path, "JPEG", quality=80, optimize=True)
            total += os.path.getsize(path)
    # One portrait picture, turned the way a camera held upright stores it.
    portrait = winter_forest(34, size=(HEIGHT, WIDTH))
    path = os.path.join(OUT, "winter_forest_04_portrait.jpg")
    portrait.save(path, "JPEG", quality=80, optimize=True)
    total += os.path.getsize(path)
    print("sample photos: %d KB in %s" % (total // 1024, os.path.normpath(OUT)), file=sys.stderr)


if __name__ == "__main__":
    main()
