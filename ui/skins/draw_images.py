#!/usr/bin/env python3
"""Draws the installer's skin images (PNG resources 153-178, 183-191) and the application icon (app.ico).

Usage: ui/skins/draw_images.py [OUTPUT_FOLDER]   (default: the folder of this script)
       ui/skins/draw_images.py --measure
       ui/skins/draw_images.py --sheet SHEET.png [OUTPUT_FOLDER]
Draws every image for 96 DPI and for the levels 120, 144 and 192 (scales 1.25, 1.5, 2), measures how close the
runtime would come by scaling other levels instead, and by the rule at PSNR_GOAL chooses the level images that
ship. Writes OUTPUT_FOLDER/images/<id>.png (96 DPI), OUTPUT_FOLDER/images/<level>/<id>.png (the shipped level
images), OUTPUT_FOLDER/images.rc and OUTPUT_FOLDER/app.ico, and prints the measurements; --measure only prints
them. With --sheet it only builds a contact sheet of the 96-DPI images found there (each enlarged three times on
the window's blue, the background at its own size).

Python 3 standard library only, except that text inside images (the two link images and the question mark) is
rasterised by ImageMagick's `convert` with the WenQuanYi Micro Hei font (fonts-wqy-microhei), and that the PNG
images are recompressed by `zopflipng` (package zopfli) when it is installed, as the committed ones were.

Shapes are described by signed distance functions in logical (96-DPI) pixel units (negative inside); the coverage
of a device pixel is clamp(0.5 - distance * scale), which gives one-pixel anti-aliasing without supersampling at
any scale. Colours are straight RGBA in 0..1 and are composited "over" in premultiplied form.
"""

import math
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

FONT_CJK = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc"
FONT_LATIN_BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"

ACCENT = (0x55 / 255, 0x6D / 255, 0xEA / 255)


def hexcolor(text, alpha=1.0):
    text = text.lstrip("#")
    return (int(text[0:2], 16) / 255, int(text[2:4], 16) / 255, int(text[4:6], 16) / 255, alpha)


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def mix(a, b, t):
    return tuple(x + (y - x) * t for x, y in zip(a, b))


# ---------------------------------------------------------------- canvas


class Canvas:
    """An image described in logical pixels (the 96-DPI layout) and rendered at `scale` device pixels per logical
    one into round(width * scale) x round(height * scale) pixels (halves up), the drawing stretched to fill them
    as the window stretches an image into its rounded rectangle. Shapes, boxes and paints take logical coordinates;
    distances are multiplied by the scale, so that edges stay one device pixel soft. At scale 1 the pixels are the
    ones the images have always had."""
    scale = 1.0  # for canvases made without one: the scale the images are being drawn at

    def __init__(self, width, height, scale=None):
        self.s = Canvas.scale if scale is None else scale
        self.w = int(width * self.s + 0.5)
        self.h = int(height * self.s + 0.5)
        self.sx = self.w / width  # device pixels per logical one along each axis, close to the scale
        self.sy = self.h / height
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(self.w * self.h)]  # premultiplied

    def blend(self, x, y, color, coverage):
        r, g, b, a = color
        a *= coverage
        if a <= 0.0:
            return
        p = self.px[y * self.w + x]
        k = 1.0 - a
        p[0] = r * a + p[0] * k
        p[1] = g * a + p[1] * k
        p[2] = b * a + p[2] * k
        p[3] = a + p[3] * k

    def fill(self, sdf, paint, box=None):
        """Paints `paint(x, y)` (a colour or a function of the pixel centre) where `sdf` says the shape is; `box`
        (logical x0, y0, x1, y1) bounds the pixels looked at."""
        s, sx, sy = self.s, self.sx, self.sy
        x0, y0, x1, y1 = (box[0] * sx, box[1] * sy, box[2] * sx, box[3] * sy) if box else (0, 0, self.w, self.h)
        x0 = max(0, int(math.floor(x0)))
        y0 = max(0, int(math.floor(y0)))
        x1 = min(self.w, int(math.ceil(x1)))
        y1 = min(self.h, int(math.ceil(y1)))
        const = None if callable(paint) else paint
        for y in range(y0, y1):
            cy = (y + 0.5) / sy
            for x in range(x0, x1):
                cx = (x + 0.5) / sx
                cov = clamp01(0.5 - sdf(cx, cy) * s)
                if cov > 0.0:
                    self.blend(x, y, const if const else paint(cx, cy), cov)

    def mask(self, alpha, mw, mh, ox, oy, color):
        """Paints `color` through an 8-bit coverage mask placed at device pixel (ox, oy)."""
        for my in range(mh):
            y = oy + my
            if y < 0 or y >= self.h:
                continue
            for mx in range(mw):
                x = ox + mx
                if 0 <= x < self.w:
                    cov = alpha[my * mw + mx] / 255.0
                    if cov > 0.0:
                        self.blend(x, y, color, cov)

    def rgba_bytes(self):
        out = bytearray()
        for p in self.px:
            a = p[3]
            if a <= 0.0:
                out += b"\0\0\0\0"
                continue
            out += bytes((round(clamp01(p[0] / a) * 255), round(clamp01(p[1] / a) * 255),
                          round(clamp01(p[2] / a) * 255), round(clamp01(a) * 255)))
        return bytes(out)


def png_filter(kind, line, prior, bpp):
    """One scanline filtered with PNG filter `kind` (0 none, 1 sub, 2 up, 3 average, 4 Paeth)."""
    if kind == 0:
        return bytes(line)
    out = bytearray(len(line))
    for i, x in enumerate(line):
        a = line[i - bpp] if i >= bpp else 0
        b = prior[i]
        if kind == 1:
            p = a
        elif kind == 2:
            p = b
        elif kind == 3:
            p = (a + b) >> 1
        else:
            c = prior[i - bpp] if i >= bpp else 0
            pa, pb, pc = abs(b - c), abs(a - c), abs(a + b - 2 * c)
            p = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
        out[i] = (x - p) & 0xFF
    return bytes(out)


def png_encodings(width, height, rgba, rgba_only):
    """Every lossless form of the image: (colour type, bit depth, scanlines, bytes per pixel, extra chunks)."""
    pixels = [rgba[i:i + 4] for i in range(0, len(rgba), 4)]
    opaque = all(p[3] == 255 for p in pixels)
    grey = all(p[0] == p[1] == p[2] for p in pixels)

    def rows(pixel_bytes):
        stride = len(pixel_bytes) // height
        return [pixel_bytes[y * stride:(y + 1) * stride] for y in range(height)]

    forms = [(6, 8, rows(rgba), 4, b"")]
    if rgba_only:
        return forms
    if opaque:
        forms.append((2, 8, rows(b"".join(p[:3] for p in pixels)), 3, b""))
    if grey:
        if opaque:
            forms.append((0, 8, rows(bytes(p[0] for p in pixels)), 1, b""))
        else:
            forms.append((4, 8, rows(b"".join(bytes((p[0], p[3])) for p in pixels)), 2, b""))
    colours = sorted(set(pixels), key=lambda p: (p[3], p))  # translucent entries first: a shorter tRNS chunk
    if len(colours) <= 256:
        index = {c: i for i, c in enumerate(colours)}
        depth = next(d for d in (1, 2, 4, 8) if len(colours) <= 1 << d)
        packed = []
        for y in range(height):
            row = bytearray((width * depth + 7) // 8)
            for x in range(width):
                bit = x * depth
                row[bit >> 3] |= index[pixels[y * width + x]] << (8 - depth - (bit & 7))
            packed.append(bytes(row))
        palette = b"".join(c[:3] for c in colours)
        alphas = bytes(c[3] for c in colours).rstrip(b"\xff")
        extra = png_chunk(b"PLTE", palette) + (png_chunk(b"tRNS", alphas) if alphas else b"")
        forms.append((3, depth, packed, 1, extra))
    return forms


def png_chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png_bytes(width, height, rgba, rgba_only=False):
    """The smallest PNG that decodes to exactly these pixels: each colour type that holds them (palette, grey,
    RGB, with or without alpha), each row filter and the per-row adaptive choice, two deflate strategies.
    rgba_only keeps 8-bit RGBA, the form icon images must have."""
    best = None
    for colour_type, depth, lines, bpp, extra in png_encodings(width, height, rgba, rgba_only):
        prior = bytes(len(lines[0]))
        filtered = {k: [] for k in range(5)}
        for line in lines:
            for k in range(5):
                filtered[k].append(png_filter(k, line, prior, bpp))
            prior = line
        choices = [[k] * len(lines) for k in range(5)]
        # Adaptive: per row the filter with the smallest sum of absolute values (bytes read as signed).
        choices.append([min(range(5), key=lambda k: sum(v if v < 128 else 256 - v for v in filtered[k][y]))
                        for y in range(len(lines))])
        for choice in choices:
            raw = b"".join(bytes((k,)) + filtered[k][y] for y, k in enumerate(choice))
            for strategy in (zlib.Z_DEFAULT_STRATEGY, zlib.Z_FILTERED):
                packer = zlib.compressobj(9, zlib.DEFLATED, 15, 9, strategy)
                data = packer.compress(raw) + packer.flush()
                header = struct.pack(">IIBBBBB", width, height, depth, colour_type, 0, 0, 0)
                png = (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + extra + png_chunk(b"IDAT", data) +
                       png_chunk(b"IEND", b""))
                if best is None or len(png) < len(best):
                    best = png
    if shutil.which("zopflipng"):
        packed = zopfli_png(best)
        # Icon images must stay 8-bit RGBA (IHDR bit depth 8, colour type 6).
        if len(packed) < len(best) and (not rgba_only or packed[24:26] == b"\x08\x06"):
            best = packed
    return best


def zopfli_png(png):
    """The same pixels deflated by zopflipng (Debian package zopfli), which packs about a sixth tighter than zlib
    (it may choose another colour type)."""
    with tempfile.TemporaryDirectory() as tmp:
        source, packed = os.path.join(tmp, "in.png"), os.path.join(tmp, "out.png")
        with open(source, "wb") as f:
            f.write(png)
        subprocess.run(["zopflipng", "-y", "--iterations=15", "--filters=01234mepb", source, packed], check=True,
                       stdout=subprocess.DEVNULL)
        with open(packed, "rb") as f:
            return f.read()


# ---------------------------------------------------------------- shapes (signed distances in pixels)


def rrect(x0, y0, x1, y1, r):
    cx = (x0 + x1) / 2
    cy = (y0 + y1) / 2
    hx = (x1 - x0) / 2 - r
    hy = (y1 - y0) / 2 - r

    def d(x, y):
        qx = abs(x - cx) - hx
        qy = abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - r
    return d


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) - r


def segment(ax, ay, bx, by, half_width):
    dx = bx - ax
    dy = by - ay
    len2 = dx * dx + dy * dy

    def d(x, y):
        t = clamp01(((x - ax) * dx + (y - ay) * dy) / len2) if len2 else 0.0
        return math.hypot(x - ax - dx * t, y - ay - dy * t) - half_width
    return d


def polyline(points, half_width):
    parts = [segment(*points[i], *points[i + 1], half_width) for i in range(len(points) - 1)]
    return lambda x, y: min(p(x, y) for p in parts)


def outline(sdf, width):
    """A stroke of `width` pixels lying just inside the shape's edge."""
    return lambda x, y: abs(sdf(x, y) + width / 2) - width / 2


def union(*shapes):
    return lambda x, y: min(s(x, y) for s in shapes)


def subtract(a, b):
    return lambda x, y: max(a(x, y), -b(x, y))


def vgradient(top, bottom, y0, y1):
    return lambda x, y: mix(top, bottom, clamp01((y - y0) / (y1 - y0)))


# ---------------------------------------------------------------- text through ImageMagick


def text_mask(text, font, size, kerning=0):
    """Returns (alpha bytes, width, height) of `text` trimmed to its ink, rendered by ImageMagick."""
    cmd = ["convert", "-background", "black", "-fill", "white", "-font", font, "-pointsize", "%g" % size,
           "-kerning", "%g" % kerning, "label:" + text, "-trim", "+repage", "-depth", "8", "pgm:-"]
    data = subprocess.run(cmd, check=True, stdout=subprocess.PIPE).stdout
    # P5 header: magic, width, height, maxval, each followed by white space.
    fields = []
    pos = 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    pos += 1
    width = int(fields[1])
    height = int(fields[2])
    return data[pos:pos + width * height], width, height


def draw_text(canvas, text, font, size, color, x, center_y):
    """Text of `size` points (logical pixels) from logical x, its ink centred on center_y; returns the logical
    width of the ink."""
    alpha, mw, mh = text_mask(text, font, size * canvas.s)
    oy = int(round(center_y * canvas.sy - mh / 2))
    canvas.mask(alpha, mw, mh, int(round(x * canvas.sx)), oy, color)
    return mw / canvas.sx


# ---------------------------------------------------------------- the images


def background():
    """169: the main window, deep blue with a soft light and a band of sound waves across the lower half."""
    w, h = 600, 400
    c = Canvas(w, h)
    top_left = hexcolor("5E8DF8")
    bottom_right = hexcolor("3B4FD6")

    def base(x, y):
        t = clamp01((x * 0.35 + y) / (w * 0.35 + h))
        return mix(top_left, bottom_right, t)
    c.fill(lambda x, y: -1.0, base)
    # A soft light at the top left and a weaker one at the bottom right.
    for cx, cy, radius, strength in ((110, 40, 330, 0.16), (560, 420, 260, 0.10)):
        c.fill(lambda x, y: -1.0,
               lambda x, y, cx=cx, cy=cy, radius=radius, strength=strength:
               (1, 1, 1, strength * (1 - clamp01(math.hypot(x - cx, y - cy) / radius)) ** 2))
    # Large faint discs.
    for cx, cy, r, a in ((520, 70, 90, 0.05), (575, 150, 50, 0.05), (40, 330, 70, 0.04)):
        c.fill(circle(cx, cy, r), (1, 1, 1, a), (cx - r - 1, cy - r - 1, cx + r + 1, cy + r + 1))

    # Equaliser bars, mirrored about the centre line of the wave band, fading towards the sides.
    mid = 305
    for i in range(0, 60):
        x = 5 + i * 10
        env = math.exp(-((x - 300) / 170) ** 2)
        height = 6 + 46 * env * (0.55 + 0.45 * math.sin(i * 1.7) * math.sin(i * 0.53 + 1.0))
        c.fill(rrect(x, mid - height, x + 4, mid + height, 2), (1, 1, 1, 0.06),
               (x - 1, mid - height - 1, x + 6, mid + height + 1))

    # Sound waves: sine strokes whose amplitude swells in the middle, like an audio signal.
    waves = (  # amplitude, wavelength, phase, stroke width, alpha
        (34, 150, 0.0, 2.0, 0.30),
        (26, 110, 1.3, 1.5, 0.22),
        (42, 200, 2.4, 1.2, 0.16),
        (18, 80, 0.7, 1.0, 0.18),
    )
    for amp, wavelength, phase, width, alpha in waves:
        k = 2 * math.pi / wavelength

        def dist(x, y, amp=amp, k=k, phase=phase, width=width):
            env = 0.25 + 0.75 * math.exp(-((x - 300) / 190) ** 2)
            fy = mid + amp * env * math.sin(k * x + phase)
            slope = amp * env * k * math.cos(k * x + phase)
            return abs(y - fy) / math.sqrt(1 + slope * slope) - width / 2
        c.fill(dist, (1, 1, 1, alpha), (0, mid - 60, w, mid + 60))
    return c


def white_button():
    """153: white pill face with a faint top-to-bottom shade and a hairline edge."""
    c = Canvas(140, 40)
    shape = rrect(0, 0, 140, 40, 20)
    c.fill(shape, vgradient(hexcolor("FFFFFF"), hexcolor("EEF2FE"), 0, 40))
    c.fill(outline(shape, 1), hexcolor("D5DEFA", 0.8))
    return c


def accent_button(state):
    """159 normal, 160 hot: accent-coloured pill for white text."""
    c = Canvas(140, 40)
    shape = rrect(0, 0, 140, 40, 4)
    if state == "normal":
        top, bottom = hexcolor("6680F0"), hexcolor("4D63E0")
    else:
        top, bottom = hexcolor("7A92F6"), hexcolor("5C72EA")
    c.fill(shape, vgradient(top, bottom, 0, 40))
    c.fill(rrect(1, 1, 139, 20, 3), (1, 1, 1, 0.06))
    return c


def secondary_button(state):
    """162 normal, 163 hot, 164 pushed: white with an accent border, for accent text."""
    c = Canvas(140, 40)
    shape = rrect(0, 0, 140, 40, 4)
    fill = {"normal": hexcolor("FFFFFF"), "hot": hexcolor("F0F3FE"), "pushed": hexcolor("E0E6FC")}[state]
    c.fill(shape, fill)
    c.fill(outline(shape, 1), (*ACCENT, 1.0))
    return c


def close_button(state):
    """154 normal, 155 hot: a white cross; hot adds a translucent disc behind it."""
    c = Canvas(30, 30)
    if state != "normal":
        c.fill(rrect(3, 3, 27, 27, 4), (1, 1, 1, 0.22))
    c.fill(union(segment(10, 10, 20, 20, 0.75), segment(20, 10, 10, 20, 0.75)), (1, 1, 1, 1.0))
    return c


def min_button(state):
    """156 normal, 157 hot, 158 pushed: a white bar."""
    c = Canvas(30, 30)
    if state == "hot":
        c.fill(rrect(3, 3, 27, 27, 4), (1, 1, 1, 0.22))
    elif state == "pushed":
        c.fill(rrect(3, 3, 27, 27, 4), (0, 0.05, 0.3, 0.22))
    c.fill(segment(9.5, 15, 20.5, 15, 0.75), (1, 1, 1, 1.0))
    return c


def question_icon():
    """161: blue disc with a white question mark."""
    c = Canvas(40, 40)
    alpha, mw, mh = text_mask("?", FONT_LATIN_BOLD, 28 * c.s)
    c.fill(circle(20, 20, 19.5), vgradient(hexcolor("6F96FA"), hexcolor("4A63E4"), 0, 40))
    c.fill(circle(20, 20, 19.5), lambda x, y: (1, 1, 1, 0.10 * clamp01((22 - y) / 22)))
    c.mask(alpha, mw, mh, (c.w - mw) // 2, (c.h - mh) // 2, (1, 1, 1, 1))
    return c


LINK_COLOURS = {  # text and chevron colour per state of the links on the blue background
    "normal": hexcolor("66BDF5"),
    "hot": hexcolor("BBE4FF"),
    "pushed": hexcolor("4FA3E0"),
    "disabled": hexcolor("CCCCCC"),
}
BACK_COLOURS = {
    "normal": hexcolor("FFFFFF", 0.92),
    "hot": hexcolor("BBE4FF"),
    "pushed": hexcolor("8FC8F2"),
    "disabled": hexcolor("CCCCCC", 0.8),
}


def back_link(state):
    """165-168: left chevron and 返回, 50x15."""
    c = Canvas(50, 15)
    colour = BACK_COLOURS[state]
    c.fill(polyline([(7.5, 3.5), (3.5, 7.5), (7.5, 11.5)], 0.7), colour)
    draw_text(c, "返回", FONT_CJK, 12, colour, 13, center_y=7.5)
    return c


def custom_link(state):
    """174-177: 自定义安装 and a right chevron, 87x16."""
    c = Canvas(87, 16)
    colour = LINK_COLOURS[state]
    width = draw_text(c, "自定义安装", FONT_CJK, 12, colour, 6, center_y=8)
    cx = 6 + width + 6
    c.fill(polyline([(cx, 4), (cx + 4, 8), (cx, 12)], 0.7), colour)
    return c


def check_mark(c, colour, x0=0.0, y0=0.0, scale=1.0):
    pts = [(x0 + 4.6 * scale, y0 + 9.2 * scale), (x0 + 7.6 * scale, y0 + 12.2 * scale),
           (x0 + 13.4 * scale, y0 + 6.0 * scale)]
    c.fill(polyline(pts, 0.95 * scale), colour)


def option_checkbox(state):
    """170 normal, 171 selected, 172 hot (spare), 173 disabled: rounded squares for the white-on-blue options."""
    c = Canvas(18, 18)
    box = rrect(1, 1, 17, 17, 3)
    if state == "normal":
        c.fill(box, (1, 1, 1, 0.12))
        c.fill(outline(box, 1.2), (1, 1, 1, 0.95))
    elif state == "hot":
        c.fill(box, (1, 1, 1, 0.28))
        c.fill(outline(box, 1.2), (1, 1, 1, 1))
    elif state == "selected":
        c.fill(box, (1, 1, 1, 1))
        check_mark(c, (*ACCENT, 1))
    else:
        c.fill(box, hexcolor("CCCCCC", 0.35))
        c.fill(outline(box, 1.2), hexcolor("CCCCCC", 0.9))
    return c


def agreement_checkbox(state):
    """188 normal, 189 selected, 190 disabled, 191 hot (spare): round boxes beside the licence link."""
    c = Canvas(18, 18)
    disc = circle(9, 9, 7.6)
    tone = hexcolor("66BDF5")
    if state == "normal":
        c.fill(outline(disc, 1.2), tone)
    elif state == "hot":
        c.fill(disc, hexcolor("BBE4FF", 0.25))
        c.fill(outline(disc, 1.2), hexcolor("BBE4FF"))
    elif state == "selected":
        c.fill(disc, tone)
        check_mark(c, (1, 1, 1, 1), 0.6, 0.6, 0.92)
    else:
        c.fill(disc, hexcolor("CCCCCC", 0.3))
        c.fill(outline(disc, 1.2), hexcolor("CCCCCC"))
    return c


def edit_frame():
    """178: white field with a light border and a faint inner top shade, 344x40."""
    c = Canvas(344, 40)
    shape = rrect(0, 0, 344, 40, 4)
    c.fill(shape, hexcolor("FFFFFF"))
    c.fill(rrect(1, 1, 343, 8, 3), vgradient((0.2, 0.3, 0.6, 0.05), (0.2, 0.3, 0.6, 0.0), 1, 8))
    c.fill(outline(shape, 1), hexcolor("DCE3F5"))
    return c


def progress(kind):
    """183 track, 184 fill, 185 the finished look; pills with 5-pixel ends for nine-slice drawing."""
    c = Canvas(400, 10)
    shape = rrect(0, 0, 400, 10, 5)
    if kind == "track":
        c.fill(shape, (1, 1, 1, 0.22))
        c.fill(outline(shape, 1), (1, 1, 1, 0.10))
    elif kind == "fill":
        c.fill(shape, lambda x, y: mix(hexcolor("8EE3FF"), hexcolor("FFFFFF"), clamp01(x / 400)))
        c.fill(rrect(2, 1, 398, 4.5, 1.75), (1, 1, 1, 0.35))
    else:
        c.fill(shape, lambda x, y: mix(hexcolor("5BE3B4"), hexcolor("B8F7DC"), clamp01(x / 400)))
        c.fill(rrect(2, 1, 398, 4.5, 1.75), (1, 1, 1, 0.35))
    return c


def hint_bubble():
    """187: white bubble, 124x40, with a tail at the lower left pointing at the licence checkbox below it."""
    c = Canvas(124, 40)
    body = rrect(0.5, 0.5, 123.5, 34, 5)
    tail = lambda x, y: max(y - 39.5, (abs(x - 18) - (39.5 - y) * 0.9) / 1.35, 30 - y)
    shape = union(body, tail)
    c.fill(shape, hexcolor("FFFFFF"))
    c.fill(outline(shape, 1), hexcolor("C9D4FA"))
    return c


def logo_shape(size, light):
    """The product mark: a rounded square holding a bold waveform of five bars.
    light=True: white tile with accent bars (the logo on the blue window); False: blue tile, white bars (icon)."""
    s = size / 48.0
    c = Canvas(size, size, scale=1)
    inset = 1.0 * s if size >= 32 else 0.5
    tile = rrect(inset, inset, size - inset, size - inset, 11 * s)
    if light:
        c.fill(tile, vgradient(hexcolor("FFFFFF"), hexcolor("E6ECFF"), 0, size))
        bar_colour = vgradient(hexcolor("6F96FA"), hexcolor("3F55DA"), 0, size)
    else:
        c.fill(tile, lambda x, y: mix(hexcolor("6F9BFA"), hexcolor("3B4FD6"), clamp01((x * 0.4 + y) / (size * 1.4))))
        c.fill(tile, lambda x, y: (1, 1, 1, 0.12 * clamp01(1 - y / (size * 0.6))))
        bar_colour = (1, 1, 1, 1)
    heights = (12, 22, 30, 22, 12)
    half = 2.6 * s if size >= 24 else max(0.9, 2.6 * s)
    for i, hgt in enumerate(heights):
        x = size / 2 + (i - 2) * 8 * s
        top = size / 2 - hgt * s / 2 + half
        bottom = size / 2 + hgt * s / 2 - half
        c.fill(segment(x, top, x, bottom, half), bar_colour)
    return c


# ---------------------------------------------------------------- icon file


def adaptive_palette(pixels, count):
    """Up to `count` colours: the most frequent 5-bit-per-channel buckets of the opaque pixels, averaged."""
    buckets = {}
    for r, g, b, a in pixels:
        if a >= 128:
            key = (r >> 3, g >> 3, b >> 3)
            e = buckets.setdefault(key, [0, 0, 0, 0])
            e[0] += r
            e[1] += g
            e[2] += b
            e[3] += 1
    ranked = sorted(buckets.values(), key=lambda e: -e[3])[:count - 1]
    palette = [(0, 0, 0)] + [(e[0] // e[3], e[1] // e[3], e[2] // e[3]) for e in ranked]
    return palette + [(0, 0, 0)] * (count - len(palette))


def nearest(palette, r, g, b, cache):
    key = (r, g, b)
    if key not in cache:
        cache[key] = min(range(len(palette)),
                         key=lambda i: (palette[i][0] - r) ** 2 * 3 + (palette[i][1] - g) ** 2 * 4 +
                         (palette[i][2] - b) ** 2 * 2)
    return cache[key]


def and_mask(size, pixels):
    stride = ((size + 31) // 32) * 4
    out = bytearray()
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            if pixels[y * size + x][3] < 128:
                row[x >> 3] |= 0x80 >> (x & 7)
        out += row
    return bytes(out)


def bmp_entry(size, rgba, bpp):
    pixels = [tuple(rgba[i:i + 4]) for i in range(0, len(rgba), 4)]
    if bpp == 32:
        palette = []
        body = bytearray()
        for y in reversed(range(size)):
            for x in range(size):
                r, g, b, a = pixels[y * size + x]
                body += bytes((b, g, r, a))
    else:
        palette = adaptive_palette(pixels, 1 << bpp)
        cache = {}
        stride = ((size * bpp + 31) // 32) * 4
        body = bytearray()
        for y in reversed(range(size)):
            row = bytearray(stride)
            for x in range(size):
                r, g, b, a = pixels[y * size + x]
                index = nearest(palette, r, g, b, cache) if a >= 128 else 0
                if bpp == 8:
                    row[x] = index
                else:
                    row[x >> 1] |= index << (4 if x % 2 == 0 else 0)
            body += row
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, len(body) + len(and_mask(size, pixels)),
                         0, 0, len(palette), 0)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    return header + pal + bytes(body) + and_mask(size, pixels)


ICON_ENTRIES = [(s, 4) for s in (16, 24, 32, 48)] + [(s, 8) for s in (16, 24, 32, 48)] + \
    [(s, 32) for s in (16, 20, 24, 32, 40, 48, 64, 72, 80, 96, 128, 256)]


def icon_file():
    images = []
    rendered = {}
    for size, bpp in ICON_ENTRIES:
        if size not in rendered:
            rendered[size] = logo_shape(size, light=False).rgba_bytes()
        rgba = rendered[size]
        # 32-bit images are stored PNG-compressed (read by every Windows since Vista): uncompressed they would add
        # about 160 KiB to the installer. Windows XP reads only the 4- and 8-bit bitmaps; there the installer only
        # says that it needs a newer Windows.
        if bpp == 32:
            data = png_bytes(size, size, rgba, rgba_only=True)
        else:
            data = bmp_entry(size, rgba, bpp)
        images.append((size, bpp, data))
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, bpp, data in images:
        colours = 16 if bpp == 4 else 0
        out += struct.pack("<BBBBHHII", size % 256, size % 256, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    return bytes(out)


# ---------------------------------------------------------------- inventory


IMAGES = {
    153: white_button,
    154: lambda: close_button("normal"),
    155: lambda: close_button("hot"),
    156: lambda: min_button("normal"),
    157: lambda: min_button("hot"),
    158: lambda: min_button("pushed"),
    159: lambda: accent_button("normal"),
    160: lambda: accent_button("hot"),
    161: question_icon,
    162: lambda: secondary_button("normal"),
    163: lambda: secondary_button("hot"),
    164: lambda: secondary_button("pushed"),
    165: lambda: back_link("normal"),
    166: lambda: back_link("hot"),
    167: lambda: back_link("pushed"),
    168: lambda: back_link("disabled"),
    169: background,
    170: lambda: option_checkbox("normal"),
    171: lambda: option_checkbox("selected"),
    172: lambda: option_checkbox("hot"),
    173: lambda: option_checkbox("disabled"),
    174: lambda: custom_link("normal"),
    175: lambda: custom_link("hot"),
    176: lambda: custom_link("pushed"),
    177: lambda: custom_link("disabled"),
    178: edit_frame,
    183: lambda: progress("track"),
    184: lambda: progress("fill"),
    185: lambda: progress("done"),
    186: lambda: logo_shape(int(48 * Canvas.scale + 0.5), light=True),
    187: hint_bubble,
    188: lambda: agreement_checkbox("normal"),
    189: lambda: agreement_checkbox("selected"),
    190: lambda: agreement_checkbox("disabled"),
    191: lambda: agreement_checkbox("hot"),
}


def contact_sheet(out_dir, sheet):
    image_dir = os.path.join(out_dir, "images")
    with tempfile.TemporaryDirectory() as tmp:
        tiles = []
        for name in sorted(os.listdir(image_dir)):
            if not name.endswith(".png"):
                continue
            tile = os.path.join(tmp, name)
            scale = ["-resize", "300%"] if name != "169.png" else []
            subprocess.run(["convert", os.path.join(image_dir, name), "-background", "#4F72EC", "-flatten",
                            "-filter", "point"] + scale + [tile], check=True)
            tiles.append(tile)
        icon = os.path.join(tmp, "icon.png")
        largest = "[%d]" % (len(ICON_ENTRIES) - 1)
        subprocess.run(["convert", os.path.join(out_dir, "app.ico") + largest, "-resize", "128x128", icon], check=True)
        tiles.append(icon)
        subprocess.run(["montage", "-label", "%t", *tiles, "-tile", "5x", "-geometry", "+8+8",
                        "-background", "#2A2D33", "-fill", "white", sheet], check=True)


LEVELS = {120: 1.25, 144: 1.5, 192: 2.0}  # the DPI levels above 96 the window takes images from, and their scales

GROUPS = {  # images that look alike and ship (or not) together at a level
    "background": (169,),
    "pill buttons": (153, 159, 160, 162, 163, 164),
    "caption buttons": (154, 155, 156, 157, 158),
    "question mark": (161,),
    "text links": (165, 166, 167, 168, 174, 175, 176, 177),
    "checkboxes": (170, 171, 172, 173, 188, 189, 190, 191),
    "edit frame": (178,),
    "progress bars": (183, 184, 185),
    "logo": (186,),
    "hint bubble": (187,),
}

# Which levels ship: a group gets its own images at a level when the way the runtime would otherwise get them
# there (GDI+ HighQualityBicubic, modelled by ImageMagick's Catmull-Rom filter: up from 96 DPI, or down from 192
# when that level ships) leaves its worst image below PSNR_GOAL dB against the drawn one; the worst groups first,
# 192 before 120 and 144, as long as all level images together stay within BUDGET bytes.
PSNR_GOAL = 32.0
BUDGET = 40 * 1024
FILTER = "Catrom"
MATTE = "#4F72EC"  # the window's blue, under the images when they are compared


def draw(rid, scale):
    Canvas.scale = scale
    try:
        c = IMAGES[rid]()
    finally:
        Canvas.scale = 1.0
    return png_bytes(c.w, c.h, c.rgba_bytes())


def psnr(drawn, source, tmp):
    """PSNR (dB) of `source` resized with FILTER to the size of `drawn`, both laid on MATTE (inf: identical)."""
    paths = [os.path.join(tmp, name) for name in ("drawn.png", "source.png", "a.png", "b.png")]
    for path, data in zip(paths, (drawn, source)):
        with open(path, "wb") as f:
            f.write(data)
    width, height = struct.unpack(">II", drawn[16:24])
    flat = ["-background", MATTE, "-flatten", "-alpha", "off"]
    subprocess.run(["convert", paths[0]] + flat + [paths[2]], check=True)
    subprocess.run(["convert", paths[1], "-filter", FILTER, "-resize", "%dx%d!" % (width, height)] + flat +
                   [paths[3]], check=True)
    result = subprocess.run(["compare", "-metric", "PSNR", paths[2], paths[3], "null:"], stderr=subprocess.PIPE,
                            stdout=subprocess.DEVNULL, text=True)
    value = result.stderr.split()[0]
    return math.inf if value == "inf" else float(value)


def measure_one(task):
    rid, pngs = task
    with tempfile.TemporaryDirectory() as tmp:
        up = {level: psnr(pngs[level], pngs[96], tmp) for level in LEVELS}
        down = {level: psnr(pngs[level], pngs[192], tmp) for level in LEVELS if level != 192}
    return rid, up, down


def plan():
    """Draws every image at every level, measures what runtime scaling would give instead and applies the rule.
    Returns ({(rid, level): png}, {rid: {level: PSNR up from 96}}, {rid: {level: PSNR down from 192}},
    {level: set of shipped groups})."""
    import multiprocessing
    jobs = [(rid, level) for rid in IMAGES for level in [96, *LEVELS]]
    jobs.sort(key=lambda job: job[0] != 169)  # the slow ones first
    with multiprocessing.Pool() as pool:
        pngs = dict(zip(jobs, pool.starmap(draw, [(rid, LEVELS.get(level, 1.0)) for rid, level in jobs], 1)))
        measured = pool.map(measure_one, [(rid, {level: pngs[rid, level] for level in [96, *LEVELS]})
                                          for rid in IMAGES], 1)
    up = {rid: u for rid, u, _ in measured}
    down = {rid: d for rid, _, d in measured}
    shipped = {level: set() for level in LEVELS}
    spent = 0
    for levels in ((192,), (120, 144)):
        candidates = []
        for level in levels:
            for group, rids in GROUPS.items():
                source = down if level != 192 and group in shipped[192] else up
                worst = min(source[rid][level] for rid in rids)
                if worst < PSNR_GOAL:
                    candidates.append((worst, level, group))
        for worst, level, group in sorted(candidates):
            cost = sum(len(pngs[rid, level]) for rid in GROUPS[group])
            if spent + cost <= BUDGET:
                shipped[level].add(group)
                spent += cost
    return pngs, up, down, shipped


def print_measure(pngs, up, down, shipped):
    def db(v):
        return "  inf" if v == math.inf else "%5.1f" % v
    print("PSNR (dB) against the drawn image of the 96-DPI image scaled up, and of the 192-DPI image scaled down")
    print("(ImageMagick -filter %s -resize WxH!, on %s); PNG bytes of the drawn images per level." % (FILTER, MATTE))
    print("%-16s %4s | %-15s | %-11s | %s" % ("group", "id", "up 120 144 192", "down 120 144",
                                             "bytes 96 120 144 192"))
    totals = {level: 0 for level in [96, *LEVELS]}
    for group, rids in GROUPS.items():
        for rid in rids:
            for level in totals:
                totals[level] += len(pngs[rid, level])
            print("%-16s %4d | %s %s %s | %s %s | %6d %6d %6d %6d" % (
                group, rid, *(db(up[rid][level]) for level in LEVELS), db(down[rid][120]), db(down[rid][144]),
                *(len(pngs[rid, level]) for level in [96, *LEVELS])))
    print("%-16s %4s | %15s | %11s | %6d %6d %6d %6d" % ("total", "", "", "", *totals.values()))
    print("Rule: a group ships a level when its worst runtime-scaled image is below %.1f dB, worst first, 192 first,"
          % PSNR_GOAL)
    print("within %d bytes for all levels together." % BUDGET)
    spent = 0
    for level in LEVELS:
        cost = sum(len(pngs[rid, level]) for group in shipped[level] for rid in GROUPS[group])
        spent += cost
        print("ship %d: %d bytes: %s" % (level, cost, ", ".join(g for g in GROUPS if g in shipped[level]) or "none"))
    print("level images: %d bytes in all" % spent)


RC_HEAD = """// PNG images of the skins (drawn by draw_images.py), referenced by the layouts as res='N' restype='png'.
// Types PNG120, PNG144 and PNG192 hold the same images drawn for those DPI levels, where they ship.
#pragma code_page(65001)
LANGUAGE 0x04, 0x02
"""


def write_images(out_dir, pngs, shipped):
    image_dir = os.path.join(out_dir, "images")
    os.makedirs(image_dir, exist_ok=True)
    rc = [RC_HEAD]
    for rid in IMAGES:
        with open(os.path.join(image_dir, "%d.png" % rid), "wb") as f:
            f.write(pngs[rid, 96])
        rc.append('%d PNG "images/%d.png"\n' % (rid, rid))
    for level in LEVELS:
        level_dir = os.path.join(image_dir, str(level))
        if os.path.isdir(level_dir):
            for name in os.listdir(level_dir):
                if name.endswith(".png"):
                    os.remove(os.path.join(level_dir, name))
        rids = sorted(rid for group in shipped[level] for rid in GROUPS[group])
        if not rids:
            if os.path.isdir(level_dir):
                os.rmdir(level_dir)
            continue
        os.makedirs(level_dir, exist_ok=True)
        for rid in rids:
            with open(os.path.join(level_dir, "%d.png" % rid), "wb") as f:
                f.write(pngs[rid, level])
            rc.append('%d PNG%d "images/%d/%d.png"\n' % (rid, level, level, rid))
    with open(os.path.join(out_dir, "images.rc"), "w", encoding="utf-8") as f:
        f.write("".join(rc))


def main():
    args = sys.argv[1:]
    if args[:1] == ["--sheet"]:
        out_dir = args[2] if len(args) > 2 else os.path.dirname(os.path.abspath(__file__))
        contact_sheet(out_dir, args[1])
        return
    pngs, up, down, shipped = plan()
    if args[:1] == ["--measure"]:
        print_measure(pngs, up, down, shipped)
        return
    out_dir = args[0] if args else os.path.dirname(os.path.abspath(__file__))
    write_images(out_dir, pngs, shipped)
    print_measure(pngs, up, down, shipped)
    with open(os.path.join(out_dir, "app.ico"), "wb") as f:
        f.write(icon_file())


if __name__ == "__main__":
    main()
