"""A small anti-aliased rasteriser over signed distance fields.

Images hold premultiplied RGBA floats in 0..1. A pixel nobody painted is
(0, 0, 0, 0), which is exactly the black the client treats as transparent,
so writing a picture without its alpha gives the right background for free.

A shape is a pair (distance function, bounding box): the function returns
the signed distance in pixels from a point to the shape's edge (negative
inside). Coverage is taken from that distance, one sample per pixel, which
is plenty for pictures this small and keeps the generator quick.
"""
import math


class Image:
    __slots__ = ("w", "h", "px")

    def __init__(self, w, h):
        self.w = w
        self.h = h
        self.px = [0.0] * (w * h * 4)


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def rgb(r, g, b):
    return (r / 255.0, g / 255.0, b / 255.0)


def smoothstep(e0, e1, x):
    t = clamp01((x - e0) / (e1 - e0))
    return t * t * (3.0 - 2.0 * t)


def ramp(stops, t):
    """Colour at t along stops [(t0, colour0), (t1, colour1), ...], sorted by t."""
    if t <= stops[0][0]:
        return stops[0][1]
    for (t0, c0), (t1, c1) in zip(stops, stops[1:]):
        if t <= t1:
            return mix(c0, c1, (t - t0) / (t1 - t0))
    return stops[-1][1]


# --- painting ---------------------------------------------------------------

def _box(img, bbox, margin):
    x0 = max(0, int(math.floor(bbox[0] - margin)))
    y0 = max(0, int(math.floor(bbox[1] - margin)))
    x1 = min(img.w, int(math.ceil(bbox[2] + margin)) + 1)
    y1 = min(img.h, int(math.ceil(bbox[3] + margin)) + 1)
    return x0, y0, x1, y1


def paint(img, shape, color, alpha=1.0, aa=1.0):
    """Composite a shape over img. color is an (r, g, b) or f(x, y) -> (r, g, b)."""
    fn, bbox = shape
    x0, y0, x1, y1 = _box(img, bbox, aa + 1.0)
    px = img.px
    w = img.w
    dynamic = callable(color)
    r = g = b = 0.0
    if not dynamic:
        r, g, b = color
    for y in range(y0, y1):
        fy = y + 0.5
        row = y * w
        for x in range(x0, x1):
            fx = x + 0.5
            cov = 0.5 - fn(fx, fy) / aa
            if cov <= 0.0:
                continue
            a = alpha if cov >= 1.0 else alpha * cov
            if dynamic:
                r, g, b = color(fx, fy)
            i = (row + x) * 4
            k = 1.0 - a
            px[i] = r * a + px[i] * k
            px[i + 1] = g * a + px[i + 1] * k
            px[i + 2] = b * a + px[i + 2] * k
            px[i + 3] = a + px[i + 3] * k


def fill(img, color):
    """Opaque fill; color is an (r, g, b) or f(x, y) -> (r, g, b)."""
    px = img.px
    for y in range(img.h):
        for x in range(img.w):
            c = color(x + 0.5, y + 0.5) if callable(color) else color
            i = (y * img.w + x) * 4
            px[i], px[i + 1], px[i + 2], px[i + 3] = c[0], c[1], c[2], 1.0


def glow(img, cx, cy, radius, color, strength):
    """Soft Gaussian spot, added over what is there (light, not paint)."""
    x0, y0, x1, y1 = _box(img, (cx - 2.5 * radius, cy - 2.5 * radius,
                                cx + 2.5 * radius, cy + 2.5 * radius), 0)
    px = img.px
    inv = 1.0 / (radius * radius)
    for y in range(y0, y1):
        dy = y + 0.5 - cy
        for x in range(x0, x1):
            dx = x + 0.5 - cx
            a = strength * math.exp(-(dx * dx + dy * dy) * inv)
            if a < 0.002:
                continue
            i = (y * img.w + x) * 4
            px[i] = min(1.0, px[i] + color[0] * a)
            px[i + 1] = min(1.0, px[i + 1] + color[1] * a)
            px[i + 2] = min(1.0, px[i + 2] + color[2] * a)
            px[i + 3] = min(1.0, px[i + 3] + a)


def composite(dst, src, ox=0, oy=0):
    """src over dst, src's top-left at (ox, oy) in dst."""
    for y in range(src.h):
        ty = y + oy
        if ty < 0 or ty >= dst.h:
            continue
        for x in range(src.w):
            tx = x + ox
            if tx < 0 or tx >= dst.w:
                continue
            i = (y * src.w + x) * 4
            a = src.px[i + 3]
            if a <= 0.0:
                continue
            j = (ty * dst.w + tx) * 4
            k = 1.0 - a
            for c in range(4):
                dst.px[j + c] = src.px[i + c] + dst.px[j + c] * k


def crop(img, x0, y0, w, h):
    out = Image(w, h)
    for y in range(h):
        s = ((y + y0) * img.w + x0) * 4
        out.px[y * w * 4:(y + 1) * w * 4] = img.px[s:s + w * 4]
    return out


def to_bytes_rgb(img):
    """Rows top to bottom of 8-bit (r, g, b), alpha dropped (over black)."""
    out = bytearray(img.w * img.h * 3)
    px = img.px
    for i in range(img.w * img.h):
        for c in range(3):
            out[i * 3 + c] = int(clamp01(px[i * 4 + c]) * 255.0 + 0.5)
    return out


def to_bytes_rgba(img):
    """Rows top to bottom of 8-bit straight (not premultiplied) (r, g, b, a)."""
    out = bytearray(img.w * img.h * 4)
    px = img.px
    for i in range(img.w * img.h):
        a = clamp01(px[i * 4 + 3])
        a8 = int(a * 255.0 + 0.5)
        out[i * 4 + 3] = a8
        if a8 == 0:
            continue
        for c in range(3):
            out[i * 4 + c] = int(clamp01(px[i * 4 + c] / a) * 255.0 + 0.5)
    return out


# --- shapes -----------------------------------------------------------------

def circle(cx, cy, r):
    return (lambda x, y: math.hypot(x - cx, y - cy) - r,
            (cx - r, cy - r, cx + r, cy + r))


def ring(cx, cy, r, width):
    h = width / 2.0
    return (lambda x, y: abs(math.hypot(x - cx, y - cy) - r) - h,
            (cx - r - h, cy - r - h, cx + r + h, cy + r + h))


def ellipse(cx, cy, rx, ry, angle=0.0):
    """Filled ellipse rotated by angle degrees (approximate distance, fine for AA)."""
    ca, sa = math.cos(math.radians(angle)), math.sin(math.radians(angle))
    m = max(rx, ry)

    def fn(x, y):
        dx, dy = x - cx, y - cy
        u = dx * ca + dy * sa
        v = -dx * sa + dy * ca
        k0 = math.hypot(u / rx, v / ry)
        if k0 == 0.0:
            return -min(rx, ry)
        k1 = math.hypot(u / (rx * rx), v / (ry * ry))
        return k0 * (k0 - 1.0) / k1
    return fn, (cx - m, cy - m, cx + m, cy + m)


def segment_distance(x, y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    ll = dx * dx + dy * dy
    t = 0.0 if ll == 0.0 else max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / ll))
    return math.hypot(x - ax - dx * t, y - ay - dy * t)


def capsule(ax, ay, bx, by, width):
    h = width / 2.0
    return (lambda x, y: segment_distance(x, y, ax, ay, bx, by) - h,
            (min(ax, bx) - h, min(ay, by) - h, max(ax, bx) + h, max(ay, by) + h))


def arc_distance(x, y, cx, cy, r, a0, a1):
    """Distance to the arc of centre (cx, cy) from a0 to a1 degrees, clockwise on
    screen (y down, 0 = right, 90 = down); a1 > a0, may pass 360."""
    dx, dy = x - cx, y - cy
    t = (math.degrees(math.atan2(dy, dx)) - a0) % 360.0
    if t <= a1 - a0:
        return abs(math.hypot(dx, dy) - r)
    e0 = math.radians(a0)
    e1 = math.radians(a1)
    return min(math.hypot(x - cx - r * math.cos(e0), y - cy - r * math.sin(e0)),
               math.hypot(x - cx - r * math.cos(e1), y - cy - r * math.sin(e1)))


def arc(cx, cy, r, a0, a1, width):
    h = width / 2.0
    return (lambda x, y: arc_distance(x, y, cx, cy, r, a0, a1) - h,
            (cx - r - h, cy - r - h, cx + r + h, cy + r + h))


def rounded_rect(x0, y0, x1, y1, radius):
    cx, cy = (x0 + x1) / 2.0, (y0 + y1) / 2.0
    hx, hy = (x1 - x0) / 2.0 - radius, (y1 - y0) / 2.0 - radius

    def fn(x, y):
        qx = abs(x - cx) - hx
        qy = abs(y - cy) - hy
        outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
        return outside + min(max(qx, qy), 0.0) - radius
    return fn, (x0, y0, x1, y1)


def polygon(points):
    n = len(points)

    def fn(x, y):
        d = float("inf")
        inside = False
        for i in range(n):
            ax, ay = points[i]
            bx, by = points[(i + 1) % n]
            d = min(d, segment_distance(x, y, ax, ay, bx, by))
            if (ay > y) != (by > y) and x < ax + (bx - ax) * (y - ay) / (by - ay):
                inside = not inside
        return -d if inside else d
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    return fn, (min(xs), min(ys), max(xs), max(ys))


def union(*shapes):
    fns = [s[0] for s in shapes]
    boxes = [s[1] for s in shapes]
    box = (min(b[0] for b in boxes), min(b[1] for b in boxes),
           max(b[2] for b in boxes), max(b[3] for b in boxes))
    if len(fns) == 1:
        return fns[0], box
    return (lambda x, y: min(f(x, y) for f in fns)), box


def intersect(a, b):
    fa, fb = a[0], b[0]
    ba, bb = a[1], b[1]
    box = (max(ba[0], bb[0]), max(ba[1], bb[1]), min(ba[2], bb[2]), min(ba[3], bb[3]))
    return (lambda x, y: max(fa(x, y), fb(x, y))), box


def subtract(a, b):
    fa, fb = a[0], b[0]
    return (lambda x, y: max(fa(x, y), -fb(x, y))), a[1]


def offset(shape, d):
    """Grow (d > 0) or shrink a shape by d pixels."""
    fn, b = shape
    return (lambda x, y: fn(x, y) - d), (b[0] - d, b[1] - d, b[2] + d, b[3] + d)


def translate(shape, dx, dy):
    fn, b = shape
    return (lambda x, y: fn(x - dx, y - dy)), (b[0] + dx, b[1] + dy, b[2] + dx, b[3] + dy)


def slant(shape, k, y_base):
    """Italic shear: points above y_base lean right by k pixels per pixel."""
    fn, b = shape
    spread = max(abs(b[1] - y_base), abs(b[3] - y_base)) * abs(k)
    return ((lambda x, y: fn(x + (y - y_base) * k, y)),
            (b[0] - spread, b[1], b[2] + spread, b[3]))


# --- stroke font ------------------------------------------------------------
# Glyphs are centre lines in a box one unit high (y down), drawn with round
# caps: ("l", x0, y0, x1, y1) a line, ("a", cx, cy, r, a0, a1) an arc,
# ("c", cx, cy, r) a circle, ("d", x, y) a dot. Geometric, like a DIN face,
# so the same strokes read at 6 pixels on a meter scale and at 44 on the
# channel numerals.

GLYPHS = {
    "0": (0.58, [("a", 0.29, 0.29, 0.29, 180, 360), ("a", 0.29, 0.71, 0.29, 0, 180),
                 ("l", 0.0, 0.29, 0.0, 0.71), ("l", 0.58, 0.29, 0.58, 0.71)]),
    "1": (0.40, [("l", 0.30, 0.0, 0.30, 1.0), ("l", 0.30, 0.0, 0.02, 0.22)]),
    "2": (0.58, [("a", 0.29, 0.29, 0.29, 185, 385), ("l", 0.5528, 0.4126, 0.0, 1.0),
                 ("l", 0.0, 1.0, 0.58, 1.0)]),
    "3": (0.58, [("a", 0.28, 0.245, 0.245, 200, 450), ("a", 0.29, 0.745, 0.255, 270, 515)]),
    "4": (0.60, [("l", 0.44, 1.0, 0.44, 0.0), ("l", 0.44, 0.0, 0.0, 0.70),
                 ("l", 0.0, 0.70, 0.60, 0.70)]),
    "5": (0.58, [("l", 0.56, 0.0, 0.075, 0.0), ("l", 0.075, 0.0, 0.078, 0.488),
                 ("a", 0.29, 0.70, 0.30, 225, 515)]),
    "6": (0.58, [("c", 0.29, 0.71, 0.29), ("l", 0.025, 0.60, 0.40, 0.0)]),
    "7": (0.58, [("l", 0.0, 0.0, 0.58, 0.0), ("l", 0.58, 0.0, 0.16, 1.0)]),
    "8": (0.58, [("c", 0.29, 0.235, 0.235), ("c", 0.29, 0.725, 0.275)]),
    "9": (0.58, [("c", 0.29, 0.29, 0.29), ("l", 0.555, 0.40, 0.18, 1.0)]),
    "+": (0.52, [("l", 0.26, 0.24, 0.26, 0.76), ("l", 0.0, 0.50, 0.52, 0.50)]),
    "-": (0.36, [("l", 0.0, 0.50, 0.36, 0.50)]),
    "V": (0.64, [("l", 0.0, 0.0, 0.32, 1.0), ("l", 0.32, 1.0, 0.64, 0.0)]),
    "U": (0.58, [("l", 0.0, 0.0, 0.0, 0.71), ("l", 0.58, 0.0, 0.58, 0.71),
                 ("a", 0.29, 0.71, 0.29, 0, 180)]),
    "?": (0.52, [("a", 0.26, 0.26, 0.26, 190, 400), ("l", 0.459, 0.427, 0.26, 0.56),
                 ("l", 0.26, 0.56, 0.26, 0.68), ("d", 0.26, 0.96)]),
    "%": (0.70, [("c", 0.14, 0.18, 0.14), ("c", 0.56, 0.82, 0.14), ("l", 0.60, 0.0, 0.10, 1.0)]),
    " ": (0.30, []),
}


def text_width(text, size, weight, tracking=0.0):
    """Ink width of text: glyph boxes, strokes' half widths at both ends, tracking between."""
    if not text:
        return 0.0
    w = sum(GLYPHS[ch][0] * size for ch in text)
    return w + weight + (len(text) - 1) * (weight + tracking)


def text(s, x, y, size, weight, tracking=0.0):
    """Shape of s whose ink box starts at (x, y): size is the glyph height
    between stroke centres, weight the stroke width."""
    prims = []
    pen = x + weight / 2.0
    top = y + weight / 2.0
    for ch in s:
        gw, strokes = GLYPHS[ch]
        for st in strokes:
            if st[0] == "l":
                prims.append(("l", pen + st[1] * size, top + st[2] * size,
                              pen + st[3] * size, top + st[4] * size))
            elif st[0] == "a":
                prims.append(("a", pen + st[1] * size, top + st[2] * size, st[3] * size,
                              st[4], st[5]))
            elif st[0] == "c":
                prims.append(("c", pen + st[1] * size, top + st[2] * size, st[3] * size))
            else:
                prims.append(("l", pen + st[1] * size, top + st[2] * size,
                              pen + st[1] * size, top + st[2] * size))
        pen += gw * size + weight + tracking
    h = weight / 2.0

    def fn(px, py):
        d = float("inf")
        for p in prims:
            if p[0] == "l":
                e = segment_distance(px, py, p[1], p[2], p[3], p[4])
            elif p[0] == "a":
                e = arc_distance(px, py, p[1], p[2], p[3], p[4], p[5])
            else:
                e = abs(math.hypot(px - p[1], py - p[2]) - p[3])
            if e < d:
                d = e
        return d - h
    return fn, (x, y, x + text_width(s, size, weight, tracking), y + size + weight)
