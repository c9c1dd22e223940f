#!/usr/bin/env python3
"""Draws the console's pictures (pic/*.png, pic/cctvIcon.ico) with the standard library only.

Each picture is a stack of flat-coloured shapes; a shape is a predicate over the plane, and
4x4 supersampling per pixel gives the edges their antialiasing. Run from any directory:
    python3 resources/make_icons.py
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "pic")
SS = 4  # samples per pixel along each axis

BLUE = (36, 118, 196)
GREEN = (38, 150, 76)
RED = (206, 48, 48)
YELLOW = (242, 186, 32)
GOLD = (245, 178, 20)
WHITE = (255, 255, 255)
DARK = (40, 40, 40)
SLATE = (70, 90, 110)


# ---- shapes ---------------------------------------------------------------------------------

def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_in, r_out, a_from=None, a_to=None):
    """Annulus, optionally only the sector from a_from to a_to (degrees, counter-clockwise,
    0 pointing right, y growing down)."""
    def inside(x, y):
        d2 = (x - cx) ** 2 + (y - cy) ** 2
        if not (r_in * r_in <= d2 <= r_out * r_out):
            return False
        if a_from is None:
            return True
        a = math.degrees(math.atan2(cy - y, x - cx)) % 360
        span = (a_to - a_from) % 360
        return (a - a_from) % 360 <= span
    return inside


def polygon(points):
    def inside(x, y):
        hit = False
        n = len(points)
        for i in range(n):
            x1, y1 = points[i]
            x2, y2 = points[(i + 1) % n]
            if (y1 > y) != (y2 > y):
                xc = x1 + (y - y1) * (x2 - x1) / (y2 - y1)
                if x < xc:
                    hit = not hit
        return hit
    return inside


def capsule(x1, y1, x2, y2, width):
    """A thick line with round ends."""
    r2 = (width / 2.0) ** 2
    dx, dy = x2 - x1, y2 - y1
    length2 = dx * dx + dy * dy or 1e-9

    def inside(x, y):
        t = max(0.0, min(1.0, ((x - x1) * dx + (y - y1) * dy) / length2))
        px, py = x1 + t * dx, y1 + t * dy
        return (x - px) ** 2 + (y - py) ** 2 <= r2
    return inside


def rounded_rect(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


def minus(shape, hole):
    return lambda x, y: shape(x, y) and not hole(x, y)


def union(*shapes):
    return lambda x, y: any(s(x, y) for s in shapes)


def star(cx, cy, r_out, r_in, points=5):
    pts = []
    for i in range(points * 2):
        r = r_out if i % 2 == 0 else r_in
        a = math.radians(90 + i * 180.0 / points)
        pts.append((cx + r * math.cos(a), cy - r * math.sin(a)))
    return polygon(pts)


def gear(cx, cy, r_body, r_tip, r_hole, teeth=8, tooth_deg=22):
    def inside(x, y):
        d = math.hypot(x - cx, y - cy)
        if d < r_hole or d > r_tip:
            return False
        if d <= r_body:
            return True
        a = math.degrees(math.atan2(cy - y, x - cx)) % (360.0 / teeth)
        return a <= tooth_deg  # one tooth per step, starting at 0 degrees
    return inside


# ---- canvas ---------------------------------------------------------------------------------

class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(w * h)]  # premultiplied RGBA, 0..1

    def fill(self, shape, rgb, alpha=1.0):
        r, g, b = (c / 255.0 for c in rgb)
        n = SS * SS
        for j in range(self.h):
            for i in range(self.w):
                hits = 0
                for sy in range(SS):
                    y = j + (sy + 0.5) / SS
                    for sx in range(SS):
                        if shape(i + (sx + 0.5) / SS, y):
                            hits += 1
                if hits:
                    a = alpha * hits / n
                    p = self.px[j * self.w + i]
                    keep = 1.0 - a
                    p[0] = r * a + p[0] * keep
                    p[1] = g * a + p[1] * keep
                    p[2] = b * a + p[2] * keep
                    p[3] = a + p[3] * keep
        return self

    def rgba_rows(self):
        """Straight (not premultiplied) 8-bit RGBA rows, top to bottom."""
        rows = []
        for j in range(self.h):
            row = bytearray()
            for i in range(self.w):
                r, g, b, a = self.px[j * self.w + i]
                if a > 0:
                    r, g, b = r / a, g / a, b / a
                row += bytes(min(255, int(round(v * 255))) for v in (r, g, b, a))
            rows.append(bytes(row))
        return rows


def write_png(path, canvas):
    def chunk(tag, data):
        body = tag + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\x00" + row for row in canvas.rgba_rows())
    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", canvas.w, canvas.h, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def write_ico(path, canvas):
    """One 32-bit BMP image: BGRA rows bottom-up, then an all-clear AND mask."""
    w, h = canvas.w, canvas.h
    xor = b"".join(bytes(row[i + k] for i in range(0, len(row), 4) for k in (2, 1, 0, 3))
                   for row in reversed(canvas.rgba_rows()))
    mask_row = ((w + 31) // 32) * 4
    mask = bytes(mask_row * h)
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    ico = struct.pack("<HHH", 0, 1, 1)
    ico += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, "wb") as f:
        f.write(ico + image)


# ---- pictures -------------------------------------------------------------------------------

def arrow(w, h, up):
    """A broad arrow for the step buttons, pointing up or down."""
    c = Canvas(w, h)
    cx = w / 2.0
    top, bottom = 3.0, h - 3.0
    head = top + (bottom - top) * 0.55
    pts = [(cx, top), (cx + 14, head), (cx + 6, head), (cx + 6, bottom),
           (cx - 6, bottom), (cx - 6, head), (cx - 14, head)]
    if not up:
        pts = [(x, h - y) for x, y in pts]
    return c.fill(polygon(pts), BLUE)


def refresh(w, h):
    """A ring open at the top right, its end carrying an arrowhead that points along the turn."""
    c = Canvas(w, h)
    cx, cy, r = w / 2.0, h / 2.0, min(w, h) / 2.0 - 3
    end = 50  # degrees; the ring runs counter-clockwise from 110 round to here
    c.fill(ring(cx, cy, r - 4, r, a_from=110, a_to=end), GREEN)
    a = math.radians(end)
    radial = (math.cos(a), -math.sin(a))
    along = (math.sin(a), math.cos(a))  # counter-clockwise tangent on screen, at the end
    mid = r - 2
    ex, ey = cx + mid * radial[0], cy + mid * radial[1]
    c.fill(polygon([(ex + 6 * radial[0], ey + 6 * radial[1]),
                    (ex - 6 * radial[0], ey - 6 * radial[1]),
                    (ex - 7 * along[0], ey - 7 * along[1])]), GREEN)
    return c


def information(s):
    c = Canvas(s, s)
    k = s / 64.0
    c.fill(circle(32 * k, 32 * k, 30 * k), BLUE)
    c.fill(circle(32 * k, 17 * k, 5 * k), WHITE)
    c.fill(rounded_rect(27 * k, 26 * k, 37 * k, 51 * k, 3 * k), WHITE)
    return c


def question(s):
    c = Canvas(s, s)
    k = s / 64.0
    c.fill(circle(32 * k, 32 * k, 30 * k), BLUE)
    c.fill(ring(32 * k, 24 * k, 6 * k, 13 * k, a_from=-60, a_to=180), WHITE)
    c.fill(capsule(38 * k, 31 * k, 32 * k, 38 * k, 7 * k), WHITE)
    c.fill(circle(32 * k, 49 * k, 4.5 * k), WHITE)
    return c


def warning(s):
    c = Canvas(s, s)
    k = s / 64.0
    tri = [(32 * k, 5 * k), (61 * k, 57 * k), (3 * k, 57 * k)]
    c.fill(polygon(tri), YELLOW)
    c.fill(capsule(32 * k, 22 * k, 32 * k, 39 * k, 7 * k), DARK)
    c.fill(circle(32 * k, 48 * k, 4 * k), DARK)
    return c


def critical(s):
    c = Canvas(s, s)
    k = s / 64.0
    c.fill(circle(32 * k, 32 * k, 30 * k), RED)
    c.fill(capsule(21 * k, 21 * k, 43 * k, 43 * k, 7 * k), WHITE)
    c.fill(capsule(43 * k, 21 * k, 21 * k, 43 * k, 7 * k), WHITE)
    return c


def favorite(s):
    c = Canvas(s, s)
    return c.fill(star(s / 2.0, s / 2.0 + 1, s / 2.0 - 1, s / 4.6), GOLD)


def cctv_all(s):
    """Four screens of a video wall."""
    c = Canvas(s, s)
    half = s / 2.0
    for gx in (0, 1):
        for gy in (0, 1):
            x0, y0 = 2 + gx * half, 2 + gy * half
            c.fill(rounded_rect(x0, y0, x0 + half - 4, y0 + half - 4, 2), SLATE)
            c.fill(circle(x0 + (half - 4) / 2, y0 + (half - 4) / 2, 3), WHITE)
    return c


def settings(s):
    c = Canvas(s, s)
    k = s / 32.0
    c.fill(gear(16 * k, 16 * k, 10 * k, 14.5 * k, 4.5 * k, teeth=8, tooth_deg=22), SLATE)
    return c


def camera(s):
    """A dome-less box camera on its bracket, for the window icon."""
    c = Canvas(s, s)
    k = s / 32.0
    body = polygon([(3 * k, 9 * k), (24 * k, 4 * k), (27 * k, 14 * k), (6 * k, 19 * k)])
    c.fill(body, SLATE)
    c.fill(polygon([(24 * k, 6 * k), (30 * k, 5 * k), (31 * k, 13 * k), (26 * k, 13 * k)]), BLUE)
    c.fill(capsule(12 * k, 18 * k, 12 * k, 26 * k, 3 * k), SLATE)
    c.fill(rounded_rect(6 * k, 25 * k, 18 * k, 29 * k, 1.5 * k), SLATE)
    return c


PICTURES = [
    ("cctvUp.png", lambda: arrow(38, 34, True)),
    ("cctvDown.png", lambda: arrow(38, 34, False)),
    ("refresh.png", lambda: refresh(38, 32)),
    ("information.png", lambda: information(64)),
    ("Question.png", lambda: question(64)),
    ("warning.png", lambda: warning(64)),
    ("critical.png", lambda: critical(64)),
    ("favorite.png", lambda: favorite(32)),
    ("CCTVall.png", lambda: cctv_all(32)),
    ("settings.png", lambda: settings(32)),
]


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, draw in PICTURES:
        write_png(os.path.join(OUT, name), draw())
    write_ico(os.path.join(OUT, "cctvIcon.ico"), camera(32))


if __name__ == "__main__":
    main()
