#!/usr/bin/python3
"""Draws the update dialogs' artwork into ui/res/, at every display scale.

    /usr/bin/python3 tools/draw_artwork.py            redraw every file
    /usr/bin/python3 tools/draw_artwork.py --out DIR  redraw into another directory
    /usr/bin/python3 tools/draw_artwork.py --check    verify the committed files' sizes

Each image is drawn at 100 % into ui/res/ and at 125, 150, 175 and 200 % into
ui/res/125/ ... ui/res/200/, each from its own geometry (rules stay whole
pixels, text is rasterised at its own size), never resampled from another
scale. ui/res/scaled.rc names the scaled variants for the resource compiler:
a variant's id is its 100 % id plus 100 for each step of 25 %.

Needs Debian's python3-pil and fonts-wqy-zenhei. The output depends only on
this script, Pillow and the font, so a redraw reproduces the committed files.
"""

import argparse
import math
import os
import sys

from PIL import Image, ImageDraw, ImageFont

# Shapes are drawn at this multiple of their size and box-filtered down, which
# anti-aliases every edge without depending on Pillow's own edge handling.
SS = 4

HERE = os.path.dirname(os.path.abspath(__file__))
RES_DIR = os.path.join(os.path.dirname(HERE), "ui", "res")

FONT_PATHS = [
    "/usr/share/fonts/truetype/wqy/wqy-zenhei.ttc",
]

# Palette shared by the faces, the buttons and the progress bar.
BAND_TOP = (52, 148, 226)
BAND_BOTTOM = (30, 118, 204)
BAND_SHADE = (24, 100, 178)
BODY = (246, 249, 252)
FOOT = (236, 240, 244)
FOOT_RULE = (216, 223, 230)
FRAME = (28, 98, 168)
HEADING_INK = (13, 61, 102)
TRACK_FILL = (226, 231, 236)
TRACK_EDGE = (190, 198, 207)
FILL_TOP = (118, 206, 96)
FILL_BOTTOM = (56, 160, 52)

BAND_HEIGHT = 30
FOOT_HEIGHT = 50

# Display scales in percent; 100 % is 96 DPI. ui/res/ holds 100 %, ui/res/<n>/ the others.
SCALES = (100, 125, 150, 175, 200)
# A variant's resource id: the 100 % id + ID_STEP for each 25 % above 100 %.
ID_STEP = 100


def px(n, pct):
    """n design pixels (or supersampled units) at pct percent, rounded half up,
    as the program rounds its layout."""
    return (n * pct + 50) // 100


def lerp(a, b, t):
    return tuple(int(round(x + (y - x) * t)) for x, y in zip(a, b))


def rgba(colour, alpha=255):
    return tuple(colour[:3]) + (alpha,)


def vgradient(width, height, top, bottom):
    """An RGBA image whose rows run from colour top to colour bottom."""
    column = Image.new("RGBA", (1, height))
    for y in range(height):
        t = y / (height - 1) if height > 1 else 0.0
        column.putpixel((0, y), rgba(lerp(top, bottom, t)))
    return column.resize((width, height), Image.NEAREST)


def big(width, height):
    return Image.new("RGBA", (width * SS, height * SS), (0, 0, 0, 0))


def shrink(image):
    return image.resize((image.width // SS, image.height // SS), Image.BOX)


def paint(target, mask, fill):
    """Composites fill (a colour or an image of target's size) through mask."""
    if isinstance(fill, tuple):
        fill = Image.new("RGBA", target.size, rgba(fill, fill[3] if len(fill) > 3 else 255))
    layer = Image.new("RGBA", target.size, (0, 0, 0, 0))
    layer.paste(fill, (0, 0), mask)
    target.alpha_composite(layer)


def rounded_mask(size, box, radius):
    mask = Image.new("L", size, 0)
    ImageDraw.Draw(mask).rounded_rectangle(box, radius=radius, fill=255)
    return mask


def scaled(values):
    return [v * SS for v in values]


# ---------------------------------------------------------------- globe icon

def sphere_layer(diameter):
    """A shaded blue sphere with a latitude/longitude grid, at SS times diameter."""
    size = diameter * SS
    layer = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    pixels = layer.load()
    radius = size / 2.0
    light = (-0.45, -0.6, 0.66)
    norm = math.sqrt(sum(c * c for c in light))
    light = tuple(c / norm for c in light)
    tilt = math.radians(18)
    deep = (16, 86, 170)
    bright = (104, 190, 246)
    grid = (226, 244, 255)
    grid_width = 0.022 * size  # surface distance, so lines thin towards the limb
    for py in range(size):
        ny = (py + 0.5 - radius) / radius
        for px_ in range(size):
            nx = (px_ + 0.5 - radius) / radius
            rr = nx * nx + ny * ny
            if rr > 1.0:
                continue
            nz = math.sqrt(1.0 - rr)
            diffuse = max(0.0, nx * light[0] + ny * light[1] + nz * light[2])
            shade = min(1.0, 0.18 + 0.9 * diffuse)
            colour = lerp(deep, bright, shade)
            # Tilt the axis towards the viewer so the parallels curve.
            y_t = ny * math.cos(tilt) - nz * math.sin(tilt)
            z_t = ny * math.sin(tilt) + nz * math.cos(tilt)
            lat = math.asin(max(-1.0, min(1.0, -y_t)))
            lon = math.atan2(nx, z_t)
            step = math.radians(30)
            d_lat = abs(lat - round(lat / step) * step) * radius
            lon_step = math.radians(36)
            d_lon = abs(lon - round(lon / lon_step) * lon_step) * math.cos(lat) * radius
            if min(d_lat, d_lon) < grid_width / 2:
                colour = lerp(colour, grid, 0.55 + 0.35 * shade)
            pixels[px_, py] = rgba(colour)
    # A soft rim keeps the sphere from melting into light backgrounds.
    ImageDraw.Draw(layer).ellipse((0, 0, size - 1, size - 1), outline=(12, 70, 140, 255),
                                  width=max(1, int(0.018 * size)))
    return layer


def arc_arrow_polygon(cx, cy, ring, width, head, start, end, tip):
    """Outline of a clockwise arc arrow from angle start to end (degrees), head at end."""
    steps = 48
    outer, inner = [], []
    for i in range(steps + 1):
        t = i / steps
        angle = math.radians(start + (end - start) * t)
        # The tail tapers so the two arrows read as one circling motion.
        w = width * (0.35 + 0.65 * min(1.0, t / 0.45))
        outer.append((cx + (ring + w / 2) * math.cos(angle), cy + (ring + w / 2) * math.sin(angle)))
        inner.append((cx + (ring - w / 2) * math.cos(angle), cy + (ring - w / 2) * math.sin(angle)))
    a = math.radians(end)
    a_tip = a + tip / ring
    head_points = [
        (cx + (ring + head) * math.cos(a), cy + (ring + head) * math.sin(a)),
        (cx + ring * math.cos(a_tip), cy + ring * math.sin(a_tip)),
        (cx + (ring - head) * math.cos(a), cy + (ring - head) * math.sin(a)),
    ]
    return outer + head_points + list(reversed(inner))


def globe_icon(size):
    """Globe in two circling green arrows on a transparent background; every
    measure follows size (84 is the design)."""
    image = big(size, size)
    s = size / 84.0
    globe_d = int(round(54 * s))
    offset = (size - globe_d) * SS // 2
    sphere = sphere_layer(globe_d)
    image.alpha_composite(sphere, (offset, offset))

    c = size * SS / 2.0
    ring = 34.5 * s * SS
    width = 6.0 * s * SS
    head = 6.5 * s * SS
    tip = 9.0 * s * SS
    arrows = [(200, 318), (20, 138)]

    shadow = Image.new("L", image.size, 0)
    body = Image.new("L", image.size, 0)
    for start, end in arrows:
        poly = arc_arrow_polygon(c, c, ring, width, head, start, end, tip)
        ImageDraw.Draw(body).polygon(poly, fill=255)
        ImageDraw.Draw(shadow).polygon([(x, y + 1.2 * s * SS) for x, y in poly], fill=255)
    paint(image, shadow, (0, 60, 20, 70))
    paint(image, body, (40, 128, 44))
    inset = Image.new("L", image.size, 0)
    for start, end in arrows:
        poly = arc_arrow_polygon(c, c, ring, width - 2.2 * s * SS, head - 1.6 * s * SS,
                                 start + 1.5, end, tip - 2.4 * s * SS)
        ImageDraw.Draw(inset).polygon(poly, fill=255)
    paint(image, inset, vgradient(image.width, image.height, FILL_TOP, (64, 170, 58)))
    return shrink(image)


# ------------------------------------------------------------ warning icon

def radial_disc(size, inset, light, deep):
    """A disc lit from the upper left: light near the lit point, deep at the far rim."""
    image = Image.new("RGBA", (size, size), (0, 0, 0, 0))
    pixels = image.load()
    centre = size / 2.0
    radius = centre - inset
    lit_x, lit_y = centre - 0.45 * radius, centre - 0.55 * radius
    for py in range(size):
        for px_ in range(size):
            x, y = px_ + 0.5, py + 0.5
            if (x - centre) ** 2 + (y - centre) ** 2 > radius * radius:
                continue
            t = min(1.0, math.hypot(x - lit_x, y - lit_y) / (1.75 * radius))
            pixels[px_, py] = rgba(lerp(light, deep, t * t * (3 - 2 * t)))
    return image


def warning_icon(pct):
    """Yellow disc with a white exclamation mark on a transparent background."""
    size = px(80, pct)
    image = big(size, size)
    n = size * SS
    margin = px(4 * SS, pct)
    rim = Image.new("L", image.size, 0)
    ImageDraw.Draw(rim).ellipse((margin, margin, n - margin, n - margin), fill=255)
    paint(image, rim, (214, 144, 0))
    disc = radial_disc(n, margin + px(6, pct), (255, 238, 140), (246, 178, 0))
    image.alpha_composite(disc)

    mark = Image.new("L", image.size, 0)
    d = ImageDraw.Draw(mark)
    cx = n / 2
    top, bottom = 0.22 * n, 0.61 * n
    half_top, half_bottom = 0.072 * n, 0.048 * n
    d.polygon([(cx - half_top, top), (cx + half_top, top),
               (cx + half_bottom, bottom), (cx - half_bottom, bottom)], fill=255)
    d.ellipse((cx - half_top, top - half_top, cx + half_top, top + half_top), fill=255)
    d.ellipse((cx - half_bottom, bottom - half_bottom, cx + half_bottom, bottom + half_bottom),
              fill=255)
    dot_r, dot_y = 0.075 * n, 0.755 * n
    d.ellipse((cx - dot_r, dot_y - dot_r, cx + dot_r, dot_y + dot_r), fill=255)
    # A warm shadow under the mark keeps white on yellow legible.
    shadow = Image.new("L", image.size, 0)
    shadow.paste(mark, (0, px(6, pct)))
    paint(image, shadow, (160, 90, 0, 130))
    paint(image, mark, (255, 255, 255))
    return shrink(image)


# ---------------------------------------------------------------- headings

def load_font(size):
    for path in FONT_PATHS:
        if os.path.exists(path):
            return ImageFont.truetype(path, size)
    sys.exit("draw_artwork: no CJK font found; install fonts-wqy-zenhei")


HEADINGS = {
    "19533.png": (132, "发现可用更新！"),
    "19534.png": (132, "没有可用更新！"),
    "19532.png": (214, "正在下载更新，请稍等..."),
    "19535.png": (214, "正在安装更新，请稍等..."),
}
HEADING_HEIGHT = 20
HEADING_SIZE = 17


def heading_baseline(font, height):
    """One baseline for all headings, centring their joint ink, so a swap of
    heading in the dialog does not make the text jump."""
    top = min(font.getbbox(text, anchor="ls")[1] for _, text in HEADINGS.values())
    bottom = max(font.getbbox(text, anchor="ls")[3] for _, text in HEADINGS.values())
    if bottom - top > height:
        sys.exit("draw_artwork: headings are %d pixels high" % (bottom - top))
    return (height - (bottom - top)) // 2 - top


def heading(name, pct):
    """Dark-blue heading text, left-aligned and vertically centred."""
    design_width, text = HEADINGS[name]
    width, height = px(design_width, pct), px(HEADING_HEIGHT, pct)
    font = load_font(px(HEADING_SIZE, pct))
    baseline = heading_baseline(font, height)
    ink = font.getbbox(text, anchor="ls")
    # The second pass below widens every stroke by a design pixel.
    weight = 1 if pct == 100 else pct / 100.0
    x = 1 - ink[0]
    if x + ink[2] + weight > width:
        sys.exit("draw_artwork: heading %r does not fit %d pixels" % (text, width))
    mask = Image.new("L", (width, height), 0)
    d = ImageDraw.Draw(mask)
    # Two passes a design pixel apart give the strokes weight without blurring them.
    d.text((x, baseline), text, font=font, fill=255, anchor="ls")
    d.text((x + weight, baseline), text, font=font, fill=255, anchor="ls")
    image = Image.new("RGBA", mask.size, (0, 0, 0, 0))
    paint(image, mask, HEADING_INK)
    return image


# ------------------------------------------------------------------ buttons

def button_face(pct, top, bottom, edge, highlight, sunken=False):
    width, height = px(73, pct), px(28, pct)
    rule = px(1, pct) * SS  # the edge: whole pixels at every scale
    image = big(width, height)
    box = scaled((0, 0, width, height))
    box = [box[0], box[1], box[2] - 1, box[3] - 1]
    radius = px(4 * SS, pct)
    paint(image, rounded_mask(image.size, box, radius), edge)
    inner = [box[0] + rule, box[1] + rule, box[2] - rule, box[3] - rule]
    paint(image, rounded_mask(image.size, inner, radius - rule),
          vgradient(image.width, image.height, top, bottom))
    if highlight:
        line = Image.new("L", image.size, 0)
        ImageDraw.Draw(line).rectangle((inner[0] + 2 * rule, inner[1], inner[2] - 2 * rule, inner[1] + rule - 1),
                                       fill=255)
        paint(image, line, (255, 255, 255, highlight))
    if sunken:
        # Pressed: a shadow along the inner top edge instead of a highlight.
        drop = px(2 * SS, pct)
        shade = Image.new("L", image.size, 0)
        ImageDraw.Draw(shade).rounded_rectangle(inner, radius=radius - rule, fill=255)
        ImageDraw.Draw(shade).rounded_rectangle((inner[0], inner[1] + drop, inner[2], inner[3] + drop),
                                                radius=radius - rule, fill=0)
        paint(image, shade, (0, 30, 70, 90))
    return shrink(image)


# -------------------------------------------------------------- close mark

def close_mark(pct, background):
    width, height = px(39, pct), px(22, pct)
    image = big(width, height)
    if background is not None:
        box = [0, 0, width * SS - 1, height * SS - 1]
        paint(image, rounded_mask(image.size, box, px(3 * SS, pct)), background)
    mark = Image.new("L", image.size, 0)
    d = ImageDraw.Draw(mark)
    # Centred on a pixel so the two strokes cross in one pixel, not a 2x2 blur.
    cx, cy = (width // 2 + 0.5) * SS, (height // 2 + 0.5) * SS
    half = px(5 * SS, pct)
    pen = px(2 * SS, pct)
    for sx in (-1, 1):
        d.line((cx - half, cy - sx * half, cx + half, cy + sx * half), fill=255, width=pen)
    for px_, py in ((cx - half, cy - half), (cx + half, cy - half), (cx - half, cy + half), (cx + half, cy + half)):
        d.ellipse((px_ - pen / 2, py - pen / 2, px_ + pen / 2, py + pen / 2), fill=255)
    paint(image, mark, (255, 255, 255))
    return shrink(image)


# ------------------------------------------------------------ window faces

def window_face(pct, design_width, design_height):
    width, height = px(design_width, pct), px(design_height, pct)
    rule = px(1, pct)
    band = px(BAND_HEIGHT, pct)
    image = Image.new("RGBA", (width, height), rgba(BODY))
    image.paste(vgradient(width, band, BAND_TOP, BAND_BOTTOM), (0, 0))
    d = ImageDraw.Draw(image)
    d.rectangle((0, band - rule, width - 1, band - 1), fill=rgba(BAND_SHADE))
    foot = height - px(FOOT_HEIGHT, pct)
    d.rectangle((0, foot, width - 1, height - 1), fill=rgba(FOOT))
    d.rectangle((0, foot, width - 1, foot + rule - 1), fill=rgba(FOOT_RULE))
    d.rectangle((0, 0, width - 1, height - 1), outline=rgba(FRAME), width=rule)
    return image


def notify_face(pct):
    image = window_face(pct, 350, 230)
    image.alpha_composite(globe_icon(px(80, pct)), (px(15, pct), px(60, pct)))
    return image


# ------------------------------------------------------------ progress bar

def progress_track(pct):
    """The empty track, corners in the body colour it sits on."""
    width, height = px(300, pct), px(12, pct)
    rule = px(1, pct) * SS
    image = Image.new("RGBA", (width * SS, height * SS), rgba(BODY))
    box = [0, 0, width * SS - 1, height * SS - 1]
    paint(image, rounded_mask(image.size, box, height * SS // 2), TRACK_EDGE)
    inner = [rule, rule, width * SS - 1 - rule, height * SS - 1 - rule]
    paint(image, rounded_mask(image.size, inner, (height * SS - 2 * rule) // 2),
          vgradient(image.width, image.height, (214, 220, 226), TRACK_FILL))
    return shrink(image)


def progress_fill_strip(pct, width):
    """A green pill one rule inside the track's edge, on transparency."""
    height = px(12, pct)
    rule = px(1, pct) * SS
    image = big(width, height)
    box = [0, rule, width * SS - 1, height * SS - rule - 1]
    edge = Image.new("L", image.size, 0)
    ImageDraw.Draw(edge).rounded_rectangle(box, radius=(height * SS - 2 * rule) // 2, fill=255)
    paint(image, edge, (44, 140, 42))
    inner = [box[0] + rule, box[1] + rule, box[2] - rule, box[3] - rule]
    paint(image, rounded_mask(image.size, inner, (height * SS - 4 * rule) // 2),
          vgradient(image.width, image.height, FILL_TOP, FILL_BOTTOM))
    return shrink(image)


def progress_pieces(pct, track):
    """Left end, middle and right end of the fill, each over the track it covers.

    The left end is drawn at the track's left end, so it carries that end's
    rounded edge; the middle and the right end sit anywhere along the track, so
    they carry its straight stretch.
    """
    height = track.height
    rule = px(1, pct)
    end, tile, along = px(10, pct), px(5, pct), px(150, pct)
    strip = progress_fill_strip(pct, px(40, pct))
    left = track.crop((0, 0, end, height))
    left.alpha_composite(strip.crop((0, 0, end - rule, height)), (rule, 0))
    middle = track.crop((along, 0, along + tile, height))
    middle.alpha_composite(strip.crop((px(17, pct), 0, px(17, pct) + tile, height)), (0, 0))
    right = track.crop((along, 0, along + end, height))
    right.alpha_composite(strip.crop((strip.width - end + rule, 0, strip.width, height)), (0, 0))
    return left, middle, right


# ------------------------------------------------------------------ catalogue

# Every file with its size at 100 %; kind 'png' keeps alpha, 'bmp' is 24-bit.
DESIGN = {
    "19536.png": (430, 230), "19523.png": (350, 230),
    "19531.png": (84, 84), "19530.png": (80, 80),
    "19533.png": (132, 20), "19534.png": (132, 20),
    "19532.png": (214, 20), "19535.png": (214, 20),
    "19525.png": (73, 28), "19526.png": (73, 28), "19524.png": (73, 28),
    "19527.png": (39, 22), "19529.png": (39, 22), "19528.png": (39, 22),
    "19500.bmp": (300, 12), "19502.bmp": (10, 12),
    "19501.bmp": (5, 12), "19503.bmp": (10, 12),
}


def build(pct):
    """Every file at pct percent, as (name, image, kind)."""
    track = progress_track(pct)
    left, middle, right = progress_pieces(pct, track)
    return [
        ("19536.png", window_face(pct, 430, 230), "png"),
        ("19523.png", notify_face(pct), "png"),
        ("19531.png", globe_icon(px(84, pct)), "png"),
        ("19530.png", warning_icon(pct), "png"),
        ("19533.png", heading("19533.png", pct), "png"),
        ("19534.png", heading("19534.png", pct), "png"),
        ("19532.png", heading("19532.png", pct), "png"),
        ("19535.png", heading("19535.png", pct), "png"),
        ("19525.png", button_face(pct, (255, 255, 255), (232, 235, 239), (176, 184, 194), 0), "png"),
        ("19526.png", button_face(pct, (72, 160, 234), (36, 124, 208), (26, 102, 180), 70), "png"),
        ("19524.png", button_face(pct, (26, 96, 166), (30, 106, 180), (16, 68, 124), 0, sunken=True), "png"),
        ("19527.png", close_mark(pct, None), "png"),
        ("19529.png", close_mark(pct, (229, 72, 77)), "png"),
        ("19528.png", close_mark(pct, (186, 46, 52)), "png"),
        ("19500.bmp", track, "bmp"),
        ("19502.bmp", left, "bmp"),
        ("19501.bmp", middle, "bmp"),
        ("19503.bmp", right, "bmp"),
    ]


def expected_size(name, pct):
    width, height = DESIGN[name]
    return px(width, pct), px(height, pct)


def scale_dir(directory, pct):
    return directory if pct == 100 else os.path.join(directory, str(pct))


def scaled_rc():
    """The resource script of the scaled variants (ui/res/scaled.rc)."""
    lines = [
        "// Generated by tools/draw_artwork.py: the dialogs' images at 125, 150, 175",
        "// and 200 %%. A variant's id is its 100 %% id + %d for each 25 %% step." % ID_STEP,
    ]
    for step, pct in enumerate(SCALES[1:], start=1):
        lines.append("")
        lines.append("// %d %%" % pct)
        for name in sorted(DESIGN):
            base, ext = name.split(".")
            kind = "PNG" if ext == "png" else "BITMAP"
            lines.append('%d %s "ui/res/%d/%s"' % (int(base) + step * ID_STEP, kind, pct, name))
    return "\n".join(lines) + "\n"


def save(image, path, kind):
    if kind == "bmp":
        image.convert("RGB").save(path, "BMP")
    else:
        image.save(path, "PNG", optimize=True)


def check(directory):
    """Reports every missing file or file of the wrong size or pixel format,
    and a scaled.rc that does not name the variants as drawn."""
    faults = 0
    total = 0
    for pct in SCALES:
        for name in sorted(DESIGN):
            total += 1
            size = expected_size(name, pct)
            path = os.path.join(scale_dir(directory, pct), name)
            try:
                with Image.open(path) as image:
                    mode = "RGBA" if name.endswith(".png") else "RGB"
                    if image.size != size or image.mode != mode:
                        print("%s: %dx%d %s, expected %dx%d %s" % (
                            path, image.size[0], image.size[1], image.mode, size[0], size[1], mode))
                        faults += 1
            except OSError as error:
                print("%s: %s" % (path, error))
                faults += 1
    total += 1
    rc_path = os.path.join(directory, "scaled.rc")
    try:
        with open(rc_path, encoding="utf-8") as rc:
            if rc.read() != scaled_rc():
                print("%s: does not name the scaled variants as drawn" % rc_path)
                faults += 1
    except OSError as error:
        print("%s: %s" % (rc_path, error))
        faults += 1
    if faults:
        print("%d of %d artwork files are wrong" % (faults, total))
    return 1 if faults else 0


def main():
    parser = argparse.ArgumentParser(description="Draw the update dialogs' artwork.")
    parser.add_argument("--out", default=RES_DIR, help="output directory (default ui/res)")
    parser.add_argument("--check", action="store_true",
                        help="only verify the files' sizes and formats")
    args = parser.parse_args()
    if args.check:
        return check(args.out)
    for pct in SCALES:
        directory = scale_dir(args.out, pct)
        os.makedirs(directory, exist_ok=True)
        for name, image, kind in build(pct):
            if image.size != expected_size(name, pct):
                sys.exit("draw_artwork: %s at %d %% came out %dx%d" % ((name, pct) + image.size))
            save(image, os.path.join(directory, name), kind)
    with open(os.path.join(args.out, "scaled.rc"), "w", encoding="utf-8", newline="\n") as rc:
        rc.write(scaled_rc())
    return check(args.out)


if __name__ == "__main__":
    sys.exit(main())
