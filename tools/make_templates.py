#!/usr/bin/python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Generates the bundled disc-menu templates under data/template/.

Each template is an INI file plus a picture folder with a background (JPEG), a frame
bitmap and the next/previous page buttons (24-bit Windows bitmaps whose pure red pixels
are transparent). Run with Debian's Python, which has PIL:

    /usr/bin/python3 tools/make_templates.py [OUTPUT_FOLDER]

The canvas is 768 x 576 (square pixels, 4:3); the menu page is stretched to the TV frame
(704 x 480 or 704 x 576), which a television shows at 4:3 again. Before it writes
anything the script checks that every entry, title and button lies inside the title-safe
area (the central 80 % of width and height), that no two elements overlap, and that a
20-character album name (and every name of the bundled sample project) fits its title
box at the 24-pixel title font.

A user may put any picture of their own behind the menu, light, dark or busy. Frame and
button bitmaps have one-bit transparency (pure red), so they carry no shadow and no edge
blended against the template's own background: every pixel is either opaque artwork or
pure red. Titles get a one-pixel outline ("Text_outline_color") that keeps them legible
over any background, and the part of an image box that a cover of another shape leaves
free takes "Thumb_fill_color".
"""

import math
import os
import random
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFilter

W, H = 768, 576
SAFE = (math.ceil(W * 0.1), math.ceil(H * 0.1), math.floor(W * 0.9), math.floor(H * 0.9))
RED = (255, 0, 0)
SS = 4  # supersampling factor for smooth edges


# ---------------------------------------------------------------------------------------
# Drawing helpers

def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def vertical_gradient(size, stops):
    """stops: list of (position 0..1, colour)."""
    w, h = size
    img = Image.new("RGB", size)
    draw = ImageDraw.Draw(img)
    for y in range(h):
        t = y / max(h - 1, 1)
        for (p0, c0), (p1, c1) in zip(stops, stops[1:]):
            if p0 <= t <= p1:
                colour = lerp(c0, c1, (t - p0) / max(p1 - p0, 1e-9))
                break
        draw.line([(0, y), (w, y)], fill=colour)
    return img


def radial_mask(size, centre, radius, power=1.0, inner=0.0):
    """L mask: 255 at the centre fading to 0 at radius (elliptic radius (rx, ry))."""
    w, h = size
    rx, ry = radius
    grad = Image.radial_gradient("L")  # 256 x 256, 0 centre .. 255 edge (r = 128)
    grad = grad.resize((int(rx * 2 * 256 / 256 * 2), int(ry * 2 * 2)), Image.BICUBIC)
    # radial_gradient reaches 255 at radius 128 of 256: scale so that radius maps to edge.
    lut = []
    for v in range(256):
        d = min(v / 255.0 * 2.0, 1.0) if v < 128 else 1.0
        d = v / 127.5
        t = max(0.0, 1.0 - d)
        if t > 0 and inner > 0:
            t = min(1.0, t / (1.0 - inner))
        lut.append(int(round(255 * (t ** power))))
    grad = grad.point(lut)
    mask = Image.new("L", size, 0)
    mask.paste(grad, (int(centre[0] - grad.width / 2), int(centre[1] - grad.height / 2)))
    return mask


def blend_colour(img, colour, mask):
    layer = Image.new("RGB", img.size, colour)
    return Image.composite(layer, img, mask)


def vignette(img, strength=0.55, power=2.2):
    w, h = img.size
    inside = radial_mask(img.size, (w / 2, h / 2), (w * 0.78, h * 0.82), power=1.0)
    edge = ImageChops.invert(inside).point(lambda v: int((v / 255.0) ** power * 255 * strength))
    return blend_colour(img, (0, 0, 0), edge)


def grain(img, amount=3, seed=1):
    random.seed(seed)
    noise = Image.effect_noise(img.size, 32).point(lambda v: 128 + int((v - 128) * amount / 32))
    noise_rgb = Image.merge("RGB", (noise, noise, noise))
    return ImageChops.add(ImageChops.subtract(img, Image.new("RGB", img.size, (128,) * 3)), noise_rgb) \
        if False else Image.blend(img, ImageChops.add(img, noise_rgb, 1.0, -128), 1.0)


def bokeh(img, rng, count, colours, rmin, rmax, alpha, area=None, blur=2.0):
    w, h = img.size
    layer = Image.new("RGBA", (w, h), (0, 0, 0, 0))
    draw = ImageDraw.Draw(layer)
    x0, y0, x1, y1 = area or (0, 0, w, h)
    for _ in range(count):
        r = rng.uniform(rmin, rmax)
        x = rng.uniform(x0, x1)
        y = rng.uniform(y0, y1)
        c = rng.choice(colours)
        a = int(rng.uniform(alpha[0], alpha[1]))
        draw.ellipse([x - r, y - r, x + r, y + r], fill=c + (a,), outline=c + (min(255, a + 25),))
    layer = layer.filter(ImageFilter.GaussianBlur(blur))
    base = img.convert("RGBA")
    base.alpha_composite(layer)
    return base.convert("RGB")


def rounded_mask(size, box, radius, blur=0):
    """L mask of a rounded rectangle, supersampled for a smooth edge."""
    w, h = size
    big = Image.new("L", (w * SS, h * SS), 0)
    ImageDraw.Draw(big).rounded_rectangle([c * SS for c in box], radius=radius * SS, fill=255)
    mask = big.resize(size, Image.LANCZOS)
    if blur:
        mask = mask.filter(ImageFilter.GaussianBlur(blur))
    return mask


def card(img, box, fill, radius, shadow=(0, 6, 14, 150), border=None, border_width=1):
    """A flat card with a soft shadow; returns the new image. The card's fill stays flat."""
    dx, dy, blur, opacity = shadow
    sbox = (box[0] + dx, box[1] + dy, box[2] + dx, box[3] + dy)
    smask = rounded_mask(img.size, sbox, radius, blur=blur).point(lambda v: v * opacity // 255)
    img = blend_colour(img, (0, 0, 0), smask)
    img = blend_colour(img, fill, rounded_mask(img.size, box, radius))
    if border:
        outer = rounded_mask(img.size, box, radius)
        ib = (box[0] + border_width, box[1] + border_width, box[2] - border_width, box[3] - border_width)
        inner = rounded_mask(img.size, ib, max(radius - border_width, 0))
        ring = ImageChops.subtract(outer, inner)
        img = blend_colour(img, border, ring)
    return img


def keyed_bitmap(layer, threshold=128):
    """Turns an RGBA layer into a red-keyed bitmap: where the layer is at least half
    covered the pixel is the artwork's own colour, fully opaque; elsewhere it is pure red,
    the transparent colour of templates. Nothing is blended against a backdrop, so the
    artwork looks the same over any background."""
    w, h = layer.size
    out = layer.convert("RGB")
    alpha = layer.getchannel("A")
    px = out.load()
    ap = alpha.load()
    for y in range(h):
        for x in range(w):
            if ap[x, y] < threshold:
                px[x, y] = RED
            elif px[x, y] == RED:
                px[x, y] = (254, 0, 0)
    return out


def frame_bitmap(spec):
    """Frame around a thumbnail: border with a lit bevel and a thin inner line. The hole
    (the thumbnail) and everything outside the border are pure red."""
    fw, fh = spec["frame"]
    ox, oy = spec["frame_off"]
    iw, ih = spec["image"]
    layer = Image.new("RGBA", (fw, fh), (0, 0, 0, 0))
    # The border itself: a gradient ring, lit from the top left.
    big = Image.new("RGBA", (fw * SS, fh * SS), (0, 0, 0, 0))
    top, bottom = spec["frame_colours"]
    grad = vertical_gradient((fw * SS, fh * SS), [(0.0, top), (1.0, bottom)]).convert("RGBA")
    ring = Image.new("L", (fw * SS, fh * SS), 0)
    d = ImageDraw.Draw(ring)
    d.rounded_rectangle([0, 0, fw * SS - 1, fh * SS - 1], radius=spec.get("frame_radius", 0) * SS, fill=255)
    d.rectangle([ox * SS, oy * SS, (ox + iw) * SS - 1, (oy + ih) * SS - 1], fill=0)
    big.paste(grad, (0, 0), ring)
    bd = ImageDraw.Draw(big)
    # Bevel: a light line along the outer top/left, a darker one along the inside.
    hl = spec["frame_highlight"]
    bd.line([(SS, SS), (fw * SS - SS, SS)], fill=hl + (200,), width=SS)
    bd.line([(SS, SS), (SS, fh * SS - SS)], fill=hl + (140,), width=SS)
    inner = spec["frame_inner"]
    e = spec.get("inner_line", 1) * SS
    bd.rectangle([ox * SS - e, oy * SS - e, (ox + iw) * SS + e - 1, (oy + ih) * SS + e - 1], outline=inner + (255,),
                 width=e)
    frame = big.resize((fw, fh), Image.LANCZOS)
    layer.alpha_composite(frame, (0, 0))
    out = keyed_bitmap(layer)
    # The thumbnail's hole is exactly the image rectangle.
    ImageDraw.Draw(out).rectangle([ox, oy, ox + iw - 1, oy + ih - 1], fill=RED)
    return out


def button_bitmap(spec, direction):
    """A rounded page button with a chevron, lit from the top."""
    vw, vh = spec["button"]
    r = vh // 2
    layer = Image.new("RGBA", (vw, vh), (0, 0, 0, 0))
    big = Image.new("RGBA", (vw * SS, vh * SS), (0, 0, 0, 0))
    top, bottom = spec["button_colours"]
    grad = vertical_gradient((vw * SS, vh * SS), [(0.0, top), (1.0, bottom)]).convert("RGBA")
    mask = Image.new("L", (vw * SS, vh * SS), 0)
    ImageDraw.Draw(mask).rounded_rectangle([0, 0, vw * SS - 1, vh * SS - 1], radius=r * SS, fill=255)
    big.paste(grad, (0, 0), mask)
    d = ImageDraw.Draw(big)
    d.rounded_rectangle([SS, SS, vw * SS - SS - 1, vh * SS - SS - 1], radius=(r - 1) * SS,
                        outline=spec["button_rim"] + (170,), width=SS)
    # Gloss on the upper half.
    gloss = Image.new("L", (vw * SS, vh * SS), 0)
    ImageDraw.Draw(gloss).rounded_rectangle([3 * SS, 2 * SS, vw * SS - 3 * SS, vh * SS // 2], radius=(r - 3) * SS,
                                            fill=46)
    big.alpha_composite(Image.merge("RGBA", (Image.new("L", gloss.size, 255),) * 3 + (ImageChops.multiply(gloss, mask),)))
    # Chevrons (two, pointing the way the button pages).
    cx, cy = vw * SS / 2, vh * SS / 2
    s = vh * SS * 0.2
    sign = 1 if direction == "next" else -1
    for k in (-0.55, 0.55):
        x = cx + k * s * 1.6
        pts = [(x - sign * s * 0.55, cy - s), (x + sign * s * 0.55, cy), (x - sign * s * 0.55, cy + s)]
        d.line(pts, fill=spec["button_glyph"] + (255,), width=int(SS * vh * 0.09), joint="curve")
    layer.alpha_composite(big.resize((vw, vh), Image.LANCZOS), (0, 0))
    return keyed_bitmap(layer)


def ornament(img, centre_x, y, width, colour, alpha=200):
    """A thin rule with a small diamond in the middle."""
    layer = Image.new("RGBA", (img.width * SS, img.height * SS), (0, 0, 0, 0))
    d = ImageDraw.Draw(layer)
    half = width / 2
    gap = 14
    d.line([((centre_x - half) * SS, y * SS), ((centre_x - gap) * SS, y * SS)], fill=colour + (alpha,), width=SS)
    d.line([((centre_x + gap) * SS, y * SS), ((centre_x + half) * SS, y * SS)], fill=colour + (alpha,), width=SS)
    r = 6
    d.polygon([(centre_x * SS, (y - r) * SS), ((centre_x + r) * SS, y * SS), (centre_x * SS, (y + r) * SS),
               ((centre_x - r) * SS, y * SS)], fill=colour + (alpha,))
    for sx in (-1, 1):
        d.ellipse([((centre_x + sx * (gap + 0) - 2) * SS, (y - 2) * SS), ((centre_x + sx * gap + 2) * SS, (y + 2) * SS)],
                  fill=colour + (alpha,))
    layer = layer.resize(img.size, Image.LANCZOS)
    base = img.convert("RGBA")
    base.alpha_composite(layer)
    return base.convert("RGB")


# ---------------------------------------------------------------------------------------
# Layout checks

TITLE_FONT = "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf"  # Arial, as fontconfig maps it
TITLE_PIXELS = 24
# Album names of 20 characters as users write them, and the names of the sample project.
TWENTY_CHARACTER_NAMES = ["Summer Holiday Italy", "Hiking the Dolomites", "Christmas at Home 23",
                          "Birthday Party Lucas", "Our Wedding Day 2024"]
SAMPLE_NAMES = ["Mountain Lakes", "Sunset Coast", "Winter Forest"]
# Rendering without antialiasing rounds each glyph's advance to whole pixels.
HINTING_SLACK = 6


def rects_of(t):
    """Every drawn element of a template as (name, x0, y0, x1, y1)."""
    out = []
    fw, fh = t["frame"]
    tw, th = t["text"]
    for n, ((x, y), (tx, ty)) in enumerate(zip(t["items"], t["texts"]), 1):
        out.append(("frame %02d" % n, x, y, x + fw, y + fh))
        out.append(("title %02d" % n, tx, ty, tx + tw, ty + th))
    vw, vh = t["button"]
    out.append(("next button", t["next_pos"][0], t["next_pos"][1], t["next_pos"][0] + vw, t["next_pos"][1] + vh))
    out.append(("prev button", t["prev_pos"][0], t["prev_pos"][1], t["prev_pos"][0] + vw, t["prev_pos"][1] + vh))
    return out


def title_width(text):
    from PIL import ImageFont
    return ImageFont.truetype(TITLE_FONT, TITLE_PIXELS).getlength(text)


def check_layout(t):
    problems = []
    rects = rects_of(t)
    for name, x0, y0, x1, y1 in rects:
        if x0 < SAFE[0] or y0 < SAFE[1] or x1 > SAFE[2] or y1 > SAFE[3]:
            problems.append("%s: %s %s outside the title-safe area %s" % (t["file"], name, (x0, y0, x1, y1), SAFE))
    for i, a in enumerate(rects):
        for b in rects[i + 1:]:
            if a[1] < b[3] and b[1] < a[3] and a[2] < b[4] and b[2] < a[4]:
                problems.append("%s: %s overlaps %s" % (t["file"], a[0], b[0]))
    if not 4 <= len(t["items"]) <= 9:
        problems.append("%s: %d entries per page" % (t["file"], len(t["items"])))
    # A 20-character name fits: the title is "%02d %s", and the outline takes a pixel on
    # each side of the box.
    room = t["text"][0] - 2 - HINTING_SLACK
    for name in TWENTY_CHARACTER_NAMES + SAMPLE_NAMES:
        width = title_width("99 " + name)
        if width > room:
            problems.append("%s: \"99 %s\" is %.0f pixels wide; its title box holds %d" % (t["file"], name, width, room))
    if t["text"][1] < 28:
        problems.append("%s: title boxes of %d pixels cut the 24-pixel font's descenders" % (t["file"], t["text"][1]))
    w, h = t["image"]
    if w * 3 != h * 4:
        problems.append("%s: image box %d x %d is not 4:3" % (t["file"], w, h))
    return problems


def colour_value(rgb):
    r, g, b = rgb
    return r | (g << 8) | (b << 16)


def write_ini(t, folder):
    fw, fh = t["frame"]
    bw, bh = t["button"]
    lines = ["; Lumivox disc-menu template \"%s\", made by tools/make_templates.py" % t["name"],
             "[General]",
             "NAME=%s" % t["name"],
             "Folder_name=%s" % t["folder"],
             "Bkground_image=background.jpg",
             "Bkground_image_cx=%d" % W,
             "Bkground_image_cy=%d" % H,
             "Frame_image=frame.bmp",
             "frame_cx=%d" % fw,
             "frame_cy=%d" % fh,
             "Frame_off_x=%d" % t["frame_off"][0],
             "Frame_off_y=%d" % t["frame_off"][1],
             "image_cx=%d" % t["image"][0],
             "image_cy=%d" % t["image"][1],
             "Text_cx=%d" % t["text"][0],
             "Text_cy=%d" % t["text"][1],
             "Items_count=%d" % len(t["items"]),
             "Next_button=next.bmp",
             "next_cx=%d" % bw,
             "next_cy=%d" % bh,
             "Prev_button=prev.bmp",
             "prev_cx=%d" % bw,
             "prev_cy=%d" % bh,
             "",
             "[POSITIONS]"]
    for n, ((x, y), (tx, ty)) in enumerate(zip(t["items"], t["texts"]), 1):
        lines += ["Item_%02d_x=%d" % (n, x), "Item_%02d_y=%d" % (n, y),
                  "Text_%02d_x=%d" % (n, tx), "Text_%02d_y=%d" % (n, ty)]
    lines += ["Next_button_x=%d" % t["next_pos"][0], "Next_button_y=%d" % t["next_pos"][1],
              "Prev_button_x=%d" % t["prev_pos"][0], "Prev_button_y=%d" % t["prev_pos"][1],
              "", "[COLOR]", "Text_color=%d" % colour_value(t["title_colour"]),
              "Text_outline_color=%d" % colour_value(t["outline_colour"]),
              "Thumb_fill_color=%d" % colour_value(t["thumb_fill"]), ""]
    with open(os.path.join(folder, t["file"]), "w", newline="\r\n") as f:
        f.write("\n".join(lines))


# ---------------------------------------------------------------------------------------
# The templates

def grid(cols, rows, x0, y0, dx, dy):
    return [(x0 + c * dx, y0 + r * dy) for r in range(rows) for c in range(cols)]


def classic():
    """Deep navy with warm golden light; ivory-and-gold frames on a midnight card, two
    columns of three with the titles under the pictures."""
    items = grid(2, 3, 86, 62, 306, 130)
    t = {
        "file": "classic.ini", "name": "Classic", "folder": "classic",
        "items": items,
        "texts": [(x, y + 98) for x, y in items],
        "frame": (124, 94), "frame_off": (6, 5), "image": (112, 84),
        "frame_colours": ((246, 228, 178), (196, 158, 92)), "frame_highlight": (255, 250, 228),
        "frame_inner": (120, 88, 40), "frame_radius": 2,
        "text": (296, 28), "title_colour": (250, 238, 206), "outline_colour": (8, 14, 34),
        "thumb_fill": (10, 18, 42),
        "button": (88, 36),
        "button_colours": ((240, 214, 150), (190, 146, 70)), "button_rim": (255, 244, 210),
        "button_glyph": (60, 36, 12),
        "next_pos": (600, 472), "prev_pos": (86, 472),
        "card": (17, 34, 74),
    }
    return t


def classic_background(t):
    rng = random.Random(7)
    img = vertical_gradient((W, H), [(0.0, (8, 18, 46)), (0.45, (20, 44, 98)), (1.0, (6, 14, 36))])
    img = blend_colour(img, (70, 110, 190), radial_mask((W, H), (W * 0.5, H * 0.18), (W * 0.75, H * 0.55), power=2.0)
                       .point(lambda v: v * 110 // 255))
    img = blend_colour(img, (230, 170, 80), radial_mask((W, H), (W * 0.85, H * 0.05), (W * 0.45, H * 0.35), power=2.2)
                       .point(lambda v: v * 90 // 255))
    img = bokeh(img, rng, 70, [(255, 214, 140), (160, 200, 255), (255, 240, 210)], 4, 22, (18, 60), blur=2.2)
    img = bokeh(img, rng, 25, [(255, 220, 150), (200, 220, 255)], 18, 46, (10, 28), blur=6)
    img = vignette(img, strength=0.75)
    img = grain(img, amount=3)
    img = card(img, (70, 50, 698, 526), t["card"], 14, shadow=(0, 8, 16, 170), border=(196, 160, 96),
               border_width=2)
    img = ornament(img, W / 2, 30, 300, (232, 200, 130))
    return img


def slate():
    """Modern graphite with a cool teal glow; crisp white frames, two by two."""
    items = grid(2, 2, 86, 70, 306, 200)
    t = {
        "file": "slate.ini", "name": "Slate", "folder": "slate",
        "items": items,
        "texts": [(x, y + 150) for x, y in items],
        "frame": (188, 144), "frame_off": (6, 6), "image": (176, 132),
        "frame_colours": ((250, 251, 252), (214, 220, 226)), "frame_highlight": (255, 255, 255),
        "frame_inner": (70, 80, 90), "frame_radius": 0, "inner_line": 1,
        "text": (296, 28), "title_colour": (236, 242, 246), "outline_colour": (12, 16, 22),
        "thumb_fill": (22, 26, 32),
        "button": (80, 34),
        "button_colours": ((70, 196, 184), (28, 128, 122)), "button_rim": (170, 240, 232),
        "button_glyph": (255, 255, 255),
        "next_pos": (604, 474), "prev_pos": (86, 474),
        "card": (30, 36, 44),
    }
    return t


def slate_background(t):
    rng = random.Random(11)
    img = vertical_gradient((W, H), [(0.0, (40, 46, 54)), (0.5, (26, 30, 36)), (1.0, (14, 16, 20))])
    img = blend_colour(img, (40, 170, 160), radial_mask((W, H), (W * 0.15, H * 0.05), (W * 0.7, H * 0.6), power=2.4)
                       .point(lambda v: v * 120 // 255))
    img = blend_colour(img, (90, 110, 200), radial_mask((W, H), (W * 0.95, H * 0.95), (W * 0.6, H * 0.5), power=2.4)
                       .point(lambda v: v * 90 // 255))
    # Soft diagonal light bands.
    bands = Image.new("L", (W, H), 0)
    d = ImageDraw.Draw(bands)
    for k, width in ((-200, 90), (60, 40), (300, 130)):
        d.polygon([(k, H), (k + width, H), (k + width + 560, 0), (k + 560, 0)], fill=26)
    img = blend_colour(img, (200, 240, 240), bands.filter(ImageFilter.GaussianBlur(18)))
    img = bokeh(img, rng, 40, [(120, 230, 220), (200, 220, 255)], 3, 14, (14, 48), blur=1.8)
    img = vignette(img, strength=0.7)
    img = grain(img, amount=3, seed=2)
    img = card(img, (70, 54, 698, 526), t["card"], 10, shadow=(0, 8, 18, 180), border=(64, 176, 166),
               border_width=1)
    # A thin teal accent under the top edge of the card.
    d = ImageDraw.Draw(img)
    d.line([(110, 54), (658, 54)], fill=(64, 196, 184), width=2)
    return img


def sunset():
    """Warm golden-hour light; white photo frames on a cream card, a list of four with
    the titles beside the pictures, room for long names."""
    items = grid(1, 4, 86, 62, 0, 100)
    t = {
        "file": "sunset.ini", "name": "Golden Hour", "folder": "sunset",
        "items": items,
        "texts": [(x + 132, y + 30) for x, y in items],
        "frame": (114, 88), "frame_off": (5, 5), "image": (104, 78),
        "frame_colours": ((255, 255, 255), (236, 230, 222)), "frame_highlight": (255, 255, 255),
        "frame_inner": (196, 150, 96), "frame_radius": 0,
        "text": (470, 28), "title_colour": (86, 44, 24), "outline_colour": (255, 248, 236),
        "thumb_fill": (244, 234, 220),
        "button": (84, 34),
        "button_colours": ((238, 150, 90), (204, 92, 60)), "button_rim": (255, 214, 170),
        "button_glyph": (255, 250, 240),
        "next_pos": (604, 474), "prev_pos": (86, 474),
        "card": (252, 244, 232),
    }
    return t


def sunset_background(t):
    rng = random.Random(5)
    img = vertical_gradient((W, H), [(0.0, (252, 196, 128)), (0.4, (240, 142, 110)), (0.75, (176, 88, 112)),
                                     (1.0, (92, 52, 96))])
    img = blend_colour(img, (255, 236, 180), radial_mask((W, H), (W * 0.72, H * 0.22), (W * 0.5, H * 0.45),
                                                         power=1.8).point(lambda v: v * 170 // 255))
    img = bokeh(img, rng, 60, [(255, 240, 200), (255, 210, 170), (255, 190, 200)], 5, 26, (20, 70), blur=2.5)
    img = vignette(img, strength=0.55)
    img = grain(img, amount=2, seed=3)
    img = card(img, (70, 50, 698, 526), t["card"], 16, shadow=(0, 8, 18, 120), border=(232, 190, 140),
               border_width=2)
    img = ornament(img, W / 2, 30, 280, (255, 248, 232), alpha=230)
    return img


TEMPLATES = [(classic, classic_background), (slate, slate_background), (sunset, sunset_background)]


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                                               "..", "data", "template")
    problems = []
    specs = [(make(), draw) for make, draw in TEMPLATES]
    for t, _ in specs:
        problems += check_layout(t)
    if problems:
        sys.exit("\n".join(problems))
    for t, draw in specs:
        folder = os.path.join(root, t["folder"])
        os.makedirs(folder, exist_ok=True)
        draw(t).save(os.path.join(folder, "background.jpg"), quality=92, subsampling=0, optimize=True)
        frame_bitmap(t).save(os.path.join(folder, "frame.bmp"))
        button_bitmap(t, "next").save(os.path.join(folder, "next.bmp"))
        button_bitmap(t, "prev").save(os.path.join(folder, "prev.bmp"))
        write_ini(t, root)
        print("wrote", os.path.join(root, t["file"]))


if __name__ == "__main__":
    main()
