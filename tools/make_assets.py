#!/usr/bin/env python3
"""Generate Wendle's image assets (icon, backgrounds, state and caption-button bitmaps).

Usage: python3 tools/make_assets.py OUTDIR

Writes wendle.ico, wendle_warning.ico, main_bg.bmp, log_bg.bmp, state_ok.bmp and state_alarm.bmp into
OUTDIR (compiled in by windres) and the caption-button bitmaps into OUTDIR/image
(loaded from disk at run time with LoadImage(LR_LOADFROMFILE)).

Standard library only.  Shapes are drawn as signed-distance fields: a pixel's
coverage is how far its centre lies inside the shape edge, clamped to one
pixel, which gives cheap anti-aliasing without supersampling.
"""

import math
import os
import struct
import sys

WHITE = (255, 255, 255)
GREY_BG = (230, 229, 229)      # the window face colour every background fades to
TOP_WHITE = (254, 254, 254)
BOTTOM_WARM = (250, 249, 239)


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def lerp_color(a, b, t):
    return tuple(int(round(a[i] + (b[i] - a[i]) * t)) for i in range(3))


class Canvas:
    """RGB image, row 0 at the top; alpha is implicit (always opaque)."""

    def __init__(self, width, height, color=WHITE):
        self.width = width
        self.height = height
        self.data = bytearray(bytes(color) * (width * height))

    def get(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def set(self, x, y, color):
        i = (y * self.width + x) * 3
        self.data[i:i + 3] = bytes(color)

    def blend(self, x, y, color, cover):
        if cover <= 0.0:
            return
        if cover >= 1.0:
            self.set(x, y, color)
        else:
            self.set(x, y, lerp_color(self.get(x, y), color, cover))

    def fill_row(self, y, color):
        i = y * self.width * 3
        self.data[i:i + self.width * 3] = bytes(color) * self.width

    def shade(self, dist, bbox, color, min_cover=0.0):
        """Paint colour wherever dist(px, py) < 0, dist being the signed distance
        (pixels) from the pixel centre to the shape edge.  bbox limits the scan."""
        x0, y0, x1, y1 = bbox
        x0 = max(0, int(math.floor(x0)) - 1)
        y0 = max(0, int(math.floor(y0)) - 1)
        x1 = min(self.width, int(math.ceil(x1)) + 1)
        y1 = min(self.height, int(math.ceil(y1)) + 1)
        for y in range(y0, y1):
            py = y + 0.5
            for x in range(x0, x1):
                cover = clamp01(0.5 - dist(x + 0.5, py))
                if cover > min_cover:
                    self.blend(x, y, color, cover)

    # --- primitives -------------------------------------------------------

    def disc(self, cx, cy, r, color, **kw):
        self.shade(lambda x, y: math.hypot(x - cx, y - cy) - r,
                   (cx - r, cy - r, cx + r, cy + r), color, **kw)

    def line(self, x0, y0, x1, y1, width, color, **kw):
        """Thick segment with round caps (a capsule)."""
        hw = width / 2.0
        dx, dy = x1 - x0, y1 - y0
        len2 = dx * dx + dy * dy or 1e-9

        def dist(x, y):
            t = clamp01(((x - x0) * dx + (y - y0) * dy) / len2)
            return math.hypot(x - (x0 + t * dx), y - (y0 + t * dy)) - hw

        self.shade(dist, (min(x0, x1) - hw, min(y0, y1) - hw,
                          max(x0, x1) + hw, max(y0, y1) + hw), color, **kw)

    def polyline(self, points, width, color, **kw):
        for a, b in zip(points, points[1:]):
            self.line(a[0], a[1], b[0], b[1], width, color, **kw)

    def arc(self, cx, cy, r, width, a0, a1, color, **kw):
        """Stroke of a circle between angles a0..a1 (degrees, y axis pointing
        down so -90 is straight up) with round caps."""
        hw = width / 2.0
        ends = [(cx + r * math.cos(math.radians(a)), cy + r * math.sin(math.radians(a)))
                for a in (a0, a1)]
        mid = math.radians((a0 + a1) / 2.0)
        half_span = math.radians(abs(a1 - a0) / 2.0)

        def dist(x, y):
            ang = math.atan2(y - cy, x - cx)
            off = abs((ang - mid + math.pi) % (2 * math.pi) - math.pi)
            if off <= half_span:
                return abs(math.hypot(x - cx, y - cy) - r) - hw
            return min(math.hypot(x - ex, y - ey) for ex, ey in ends) - hw

        self.shade(dist, (cx - r - hw, cy - r - hw, cx + r + hw, cy + r + hw), color, **kw)

    def round_rect(self, x0, y0, x1, y1, radius, color, **kw):
        """Filled rectangle [x0,x1] x [y0,y1] in pixel-edge coordinates; radius 0
        gives crisp edges when the bounds are integers."""
        cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
        hx, hy = (x1 - x0) / 2.0 - radius, (y1 - y0) / 2.0 - radius

        def dist(x, y):
            qx, qy = abs(x - cx) - hx, abs(y - cy) - hy
            outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
            return outside + min(max(qx, qy), 0.0) - radius

        self.shade(dist, (x0, y0, x1, y1), color, **kw)

    def polygon(self, points, color, **kw):
        """Filled simple polygon (even-odd rule)."""
        edges = list(zip(points, points[1:] + points[:1]))

        def dist(x, y):
            best = float("inf")
            inside = False
            for (ax, ay), (bx, by) in edges:
                dx, dy = bx - ax, by - ay
                t = clamp01(((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy or 1e-9))
                best = min(best, math.hypot(x - ax - t * dx, y - ay - t * dy))
                if (ay > y) != (by > y) and x < ax + (y - ay) * dx / dy:
                    inside = not inside
            return -best if inside else best

        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self.shade(dist, (min(xs), min(ys), max(xs), max(ys)), color, **kw)

    def shifted(self, dx, dy):
        """Copy moved by (dx, dy); uncovered pixels keep the original ones,
        which suits a 1-pixel 'pressed' nudge on a uniform background."""
        out = Canvas(self.width, self.height)
        out.data[:] = self.data
        for y in range(self.height):
            for x in range(self.width):
                sx, sy = x - dx, y - dy
                if 0 <= sx < self.width and 0 <= sy < self.height:
                    out.set(x, y, self.get(sx, sy))
        return out


# --- file writers -------------------------------------------------------------

def _bgr_rows_bottom_up(canvas, pad_to):
    """Pixel rows, bottom row first, as BGR bytes padded to pad_to bytes."""
    w = canvas.width
    row_len = w * 3
    pad = b"\0" * ((-row_len) % pad_to)
    out = bytearray()
    for y in range(canvas.height - 1, -1, -1):
        rgb = canvas.data[y * row_len:(y + 1) * row_len]
        bgr = bytearray(row_len)
        bgr[0::3] = rgb[2::3]
        bgr[1::3] = rgb[1::3]
        bgr[2::3] = rgb[0::3]
        out += bgr + pad
    return bytes(out)


def bmp24_bytes(canvas):
    pixels = _bgr_rows_bottom_up(canvas, 4)
    offset = 14 + 40
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    # 2835 px/m = 72 dpi, the customary value; Windows ignores it.
    info = struct.pack("<IiiHHIIiiII", 40, canvas.width, canvas.height, 1, 24, 0,
                       len(pixels), 2835, 2835, 0, 0)
    return file_header + info + pixels


def ico32_bytes(canvases):
    """Icon with one image per canvas, each a classic DIB entry (not PNG) so every Windows
    version and windres accept it.  Alpha is 255 everywhere and the AND masks all zero: the
    icon is fully opaque."""
    images = []
    for canvas in canvases:
        w, h = canvas.width, canvas.height
        xor = bytearray()
        for y in range(h - 1, -1, -1):
            for x in range(w):
                r, g, b = canvas.get(x, y)
                xor += bytes((b, g, r, 255))
        and_row = ((w + 31) // 32) * 4
        mask = bytes(and_row * h)
        # biHeight counts XOR and AND halves together, hence 2 * h.
        info = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, 32, 0,
                           len(xor) + len(mask), 0, 0, 0, 0)
        images.append((w, h, info + bytes(xor) + mask))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for w, h, image in images:
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    return out + b"".join(image for _, _, image in images)


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


# --- artwork -----------------------------------------------------------------

ORANGE = (247, 143, 30)
ORANGE_DARK = (226, 112, 10)
BULB_GLOSS = (255, 214, 160)
METAL = (112, 114, 124)
SIGNAL_BLUE = (28, 110, 205)
WARNING_RED = (214, 32, 32)


def draw_icon(size, warning=False):
    """The bulb and signal at size x size pixels: the 128-pixel drawing scaled, so each
    small image is the same picture pre-scaled rather than left for Windows to shrink.
    The warning variant puts a warning sign where the signal is, large enough to read at 16."""
    k = size / 128.0
    c = Canvas(size, size, WHITE)
    gx, gy, gr = 54 * k, 52 * k, 32 * k   # the bulb's glass globe

    # Rays fan over the top half only, leaving the lower right for the signal.
    for ang in (-180, -135, -90, -45, 0):
        a = math.radians(ang)
        c.line(gx + 40 * k * math.cos(a), gy + 40 * k * math.sin(a),
               gx + 50 * k * math.cos(a), gy + 50 * k * math.sin(a), 9 * k, ORANGE)

    c.disc(gx, gy, gr, ORANGE)
    # The neck tapers from the globe into the screw base.
    c.polygon([(gx - 24 * k, gy + 20 * k), (gx + 24 * k, gy + 20 * k),
               (gx + 14 * k, gy + 44 * k), (gx - 14 * k, gy + 44 * k)], ORANGE)
    c.arc(gx, gy, 21 * k, 6 * k, 195, 250, BULB_GLOSS)
    # Filament hint keeps the shape reading as a bulb, not a balloon.
    c.line(gx - 7 * k, gy + 34 * k, gx - 7 * k, gy + 16 * k, 4 * k, ORANGE_DARK)
    c.line(gx + 7 * k, gy + 34 * k, gx + 7 * k, gy + 16 * k, 4 * k, ORANGE_DARK)
    c.arc(gx, gy + 16 * k, 7 * k, 4 * k, -180, 0, ORANGE_DARK)

    c.round_rect(gx - 16 * k, gy + 46 * k, gx + 16 * k, gy + 53 * k, 3 * k, METAL)
    c.round_rect(gx - 14 * k, gy + 55 * k, gx + 14 * k, gy + 62 * k, 3 * k, METAL)
    c.round_rect(gx - 7 * k, gy + 63 * k, gx + 7 * k, gy + 69 * k, 3 * k, METAL)

    if warning:
        draw_warning_sign(c, k)
        return c
    # Wireless signal: a white halo first so it cuts cleanly across the bulb.
    sx, sy = 99 * k, 118 * k
    radii = (15 * k, 27 * k, 39 * k)
    for r in radii:
        c.arc(sx, sy, r, (9 + 6) * k, -130, -50, WHITE)
    c.disc(sx, sy, (7 + 3) * k, WHITE)
    for r in radii:
        c.arc(sx, sy, r, 9 * k, -130, -50, SIGNAL_BLUE)
    c.disc(sx, sy, 7 * k, SIGNAL_BLUE)
    return c


def draw_warning_sign(c, k):
    """A red triangle with a white exclamation mark over the lower right, white-haloed."""
    top, left, right, bottom = (90 * k, 22 * k), (54 * k, 124 * k), (126 * k, 124 * k), 124 * k
    halo = 7 * k
    c.polygon([(top[0], top[1] - halo * 1.6), (left[0] - halo * 1.2, bottom + halo * 0.5),
               (right[0] + halo * 1.2, bottom + halo * 0.5)], WHITE)
    c.polygon([top, left, right], WARNING_RED)
    c.round_rect(85 * k, 54 * k, 95 * k, 98 * k, 4 * k, WHITE)
    c.disc(90 * k, 111 * k, 6.5 * k, WHITE)


# The small sizes are those Windows asks for at 100% to 300% scaling (the small icon of the tray
# and title bar, the large icon of Alt+Tab and Explorer); 128 stays the picture's own size.
ICON_SIZES = (16, 20, 24, 32, 48, 128)


def draw_main_bg():
    c = Canvas(1280, 768, GREY_BG)
    for y in range(0, 63):
        c.fill_row(y, lerp_color(TOP_WHITE, GREY_BG, y / 62.0))
    for y in range(717, 768):
        c.fill_row(y, lerp_color(GREY_BG, BOTTOM_WARM, (y - 717) / 50.0))
    return c


def draw_state(kind):
    # White is the transparency key: the fringe threshold stops faint edge
    # pixels that would round to pure white and punch holes in the disc.
    c = Canvas(24, 16, WHITE)
    cx, cy = 16.0, 8.0
    if kind == "ok":
        c.disc(cx, cy, 7.5, ORANGE, min_cover=0.08)
        c.polyline([(12.3, 8.2), (15.0, 10.9), (19.8, 5.6)], 2.0, WHITE)
    else:
        c.disc(cx, cy, 7.5, (218, 38, 38), min_cover=0.08)
        c.line(13.0, 5.0, 19.0, 11.0, 2.0, WHITE)
        c.line(19.0, 5.0, 13.0, 11.0, 2.0, WHITE)
    return c


BUTTON = 30
BTN_NORMAL_BG = (245, 245, 245)
GLYPH = (90, 90, 90)
GLYPH_DISABLED = (170, 170, 170)
PLATES = {
    # kind: (hover plate, pressed plate, glyph colour on the plate)
    "hide": ((200, 220, 245), (164, 194, 232), GLYPH),
    "min": ((200, 220, 245), (164, 194, 232), GLYPH),
    "close": ((232, 17, 35), (176, 12, 26), WHITE),
}


def draw_glyph(c, kind, color):
    """Glyphs use 2 px strokes on integer coordinates so straight parts land
    exactly on two pixel rows/columns."""
    if kind == "min":
        c.round_rect(10, 19, 20, 21, 0, color)
    elif kind == "close":
        c.line(10.5, 10.5, 19.5, 19.5, 2.2, color)
        c.line(19.5, 10.5, 10.5, 19.5, 2.2, color)
    elif kind == "hide":
        # Down arrow dropping into an open tray.
        c.round_rect(14, 7, 16, 16, 0, color)
        c.polyline([(11, 12.5), (15, 16.5), (19, 12.5)], 2.0, color)
        c.round_rect(8, 20, 22, 22, 0, color)
        c.round_rect(8, 16, 10, 22, 0, color)
        c.round_rect(20, 16, 22, 22, 0, color)


def draw_button(kind, state):
    c = Canvas(BUTTON, BUTTON, BTN_NORMAL_BG)
    if state in ("normal", "disabled"):
        draw_glyph(c, kind, GLYPH_DISABLED if state == "disabled" else GLYPH)
        return c
    hover, pressed, glyph = PLATES[kind]
    c.round_rect(1, 1, BUTTON - 1, BUTTON - 1, 3, pressed if state == "pressed" else hover)
    if state == "pressed":
        # Draw on a plate-only canvas, then nudge so the glyph moves but the plate does not.
        g = Canvas(BUTTON, BUTTON, BTN_NORMAL_BG)
        g.data[:] = c.data
        draw_glyph(g, kind, glyph)
        g = g.shifted(1, 1)
        for y in range(2, BUTTON - 2):
            for x in range(2, BUTTON - 2):
                c.set(x, y, g.get(x, y))
        return c
    draw_glyph(c, kind, glyph)
    return c


# File name suffixes the dialog code expects for each button state.
BUTTON_FILES = {
    "normal": "{}_1.bmp",
    "hover": "{}.bmp",
    "pressed": "{}_2.bmp",
}


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_assets.py OUTDIR\n")
        return 2
    out = argv[1]
    image_dir = os.path.join(out, "image")
    os.makedirs(image_dir, exist_ok=True)

    write(os.path.join(out, "wendle.ico"), ico32_bytes([draw_icon(size) for size in ICON_SIZES]))
    write(os.path.join(out, "wendle_warning.ico"),
          ico32_bytes([draw_icon(size, warning=True) for size in ICON_SIZES]))
    write(os.path.join(out, "main_bg.bmp"), bmp24_bytes(draw_main_bg()))
    write(os.path.join(out, "log_bg.bmp"), bmp24_bytes(Canvas(1183, 544, GREY_BG)))
    write(os.path.join(out, "state_ok.bmp"), bmp24_bytes(draw_state("ok")))
    write(os.path.join(out, "state_alarm.bmp"), bmp24_bytes(draw_state("alarm")))

    for kind in ("hide", "min", "close"):
        for state, pattern in BUTTON_FILES.items():
            write(os.path.join(image_dir, pattern.format(kind)),
                  bmp24_bytes(draw_button(kind, state)))
    write(os.path.join(image_dir, "min3.bmp"), bmp24_bytes(draw_button("min", "disabled")))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
