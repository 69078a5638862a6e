#!/usr/bin/env python3
"""Draws every picture file the Orva-Lin client and Talvo read or embed.

    python3 assets/make_assets.py [OUT]

writes OUT/files/* (the pictures installed beside the programs) and
OUT/icons/* (the icons compiled into the programs); OUT defaults to assets/.
Pure standard library and no randomness: two runs give identical bytes.

Drawing constraints that come from how the client uses these files:
- The knob arrow is rotated by 180 + 300 x level degrees and blitted with
  black transparent, so in the file the pointer points straight up and the
  body never uses pure black. Ticks sit 30 pixels from its centre.
- LEDs and channel numerals are blitted with black transparent too. The
  numerals always land at (40, 20) on "0.bmp", so their soft edges are
  blended against that background here rather than against black.
- The meter's needle pivots at (w/2, h) and sweeps 218..320 degrees with
  y downwards; its angle is linear in the smoothed peak amplitude, so the
  scale marks sit where each level's amplitude puts the needle.
"""
import math
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import formats  # noqa: E402
from raster import (Image, arc, capsule, circle, clamp01, composite, crop, ellipse, fill,  # noqa: E402
                    glow, intersect, mix, offset, paint, polygon, rgb, ring, rounded_rect,
                    slant, smoothstep, subtract, text, text_width, to_bytes_rgb,
                    to_bytes_rgba, translate, union)

WHITE = (1.0, 1.0, 1.0)


def lit_from_top_left(x, y, cx, cy, r):
    """0 (bottom right) .. 1 (top left) for a point of a round body."""
    return clamp01(0.5 - ((x - cx) + (y - cy)) / (2.0 * 1.4142 * r))


# --- knob --------------------------------------------------------------------

KNOB_SIZE = 48


def knob():
    img = Image(KNOB_SIZE, KNOB_SIZE)
    c = KNOB_SIZE / 2.0

    def skirt(x, y):
        dx, dy = x - c, y - c
        light = lit_from_top_left(x, y, c, c, 21.0)
        ridge = 0.5 + 0.5 * math.cos(math.atan2(dy, dx) * 40.0)
        v = 0.16 + 0.20 * light + 0.08 * ridge * (0.4 + light)
        return (v, v, v * 1.06)
    paint(img, circle(c, c, 21.5), skirt)
    paint(img, ring(c, c, 21.0, 1.0), lambda x, y: mix(rgb(40, 40, 46), rgb(150, 150, 160),
                                                        lit_from_top_left(x, y, c, c, 21.0)))
    # Shadow the cap casts on the skirt, then the cap's bevel.
    paint(img, circle(c + 0.8, c + 1.2, 16.0), rgb(20, 20, 24), alpha=0.7, aa=2.5)
    paint(img, circle(c, c, 15.5), lambda x, y: mix(rgb(70, 72, 80), rgb(235, 236, 240),
                                                    lit_from_top_left(x, y, c, c, 15.5)))

    def cap(x, y):
        dx, dy = x - c, y - c
        a = math.atan2(dy, dx)
        r = math.hypot(dx, dy)
        sheen = 0.5 + 0.5 * math.cos(2.0 * (a + math.radians(45.0)))
        v = 0.50 + 0.30 * sheen ** 3 + 0.10 * (1.0 - (y - c + 14.0) / 28.0)
        v += 0.025 * math.sin(r * 3.1)
        return (v * 0.97, v * 0.98, v * 1.02)
    paint(img, circle(c, c, 14.2), cap)
    # The pointer: a recessed groove on the cap that runs on across the skirt.
    paint(img, capsule(c, c - 6.0, c, c - 20.5, 4.2), rgb(60, 20, 0), alpha=0.6)
    paint(img, capsule(c, c - 6.0, c, c - 20.5, 3.0),
          lambda x, y: mix(rgb(255, 200, 90), rgb(255, 110, 10), (c - 6.0 - y) / 14.5))
    paint(img, capsule(c - 0.5, c - 7.0, c - 0.5, c - 19.0, 0.9), rgb(255, 240, 200), alpha=0.7)
    return img


# --- LEDs --------------------------------------------------------------------

LED_SIZE = 14
LEDS = [  # name, lens colour, lit
    ("LedRed.bmp", rgb(255, 40, 30), True),
    ("LedDarkRed.bmp", rgb(120, 14, 10), False),
    ("LedGreen.bmp", rgb(40, 235, 60), True),
    ("LedYellow.bmp", rgb(255, 215, 30), True),
    ("LedBlue.bmp", rgb(40, 120, 255), True),
    ("LedDarkBlue.bmp", rgb(14, 36, 120), False),
]


def led(colour, lit):
    img = Image(LED_SIZE, LED_SIZE)
    c = LED_SIZE / 2.0
    paint(img, circle(c, c, 6.8), lambda x, y: mix(rgb(38, 38, 44), rgb(200, 200, 210),
                                                   lit_from_top_left(x, y, c, c, 6.8)))
    paint(img, circle(c, c, 5.6), rgb(24, 24, 28))

    def lens(x, y):
        r = math.hypot(x - c + 0.4, y - c + 0.6) / 5.2
        if lit:
            hot = mix(colour, WHITE, 0.55)
            edge = tuple(v * 0.55 for v in colour)
            return mix(mix(hot, colour, smoothstep(0.0, 0.6, r)), edge, smoothstep(0.55, 1.1, r))
        core = tuple(v * 0.75 for v in colour)
        edge = tuple(v * 0.35 for v in colour)
        return mix(core, edge, smoothstep(0.1, 1.0, r))
    paint(img, circle(c, c, 5.0), lens)
    # A little light caught at the bottom of the lens, and the specular spot.
    paint(img, arc(c, c, 3.8, 40, 140, 1.0), mix(colour, WHITE, 0.3 if lit else 0.1),
          alpha=0.45 if lit else 0.25)
    paint(img, ellipse(c - 1.6, c - 2.0, 1.9, 1.2, -35.0), WHITE, alpha=0.9 if lit else 0.35)
    return img


# --- meter face --------------------------------------------------------------

VU_W, VU_H = 150, 84
VU_SWEEP = (218.0, 320.0)
VU_MARKS = [(-20, True), (-15, False), (-10, True), (-7, True), (-5, True), (-3, True),
            (-2, False), (-1, False), (0, True), (1, False), (2, False), (3, True)]


def vu_angle(db):
    """Needle angle for a level in VU (+3 is full scale): linear in amplitude."""
    return VU_SWEEP[0] + (VU_SWEEP[1] - VU_SWEEP[0]) * 10.0 ** ((db - 3) / 20.0)


def polar(cx, cy, r, deg):
    return cx + r * math.cos(math.radians(deg)), cy + r * math.sin(math.radians(deg))


def vu_meter():
    img = Image(VU_W, VU_H)
    px, py = VU_W // 2, VU_H
    fill(img, lambda x, y: mix(rgb(78, 80, 88), rgb(30, 31, 36), y / VU_H))
    face = rounded_rect(4, 4, VU_W - 4, VU_H + 8, 6)
    paint(img, offset(face, 1.0), rgb(14, 14, 16))

    def face_colour(x, y):
        d = math.hypot(x - px, (y - py) * 1.25) / 95.0
        return mix(rgb(255, 246, 212), rgb(222, 200, 150), smoothstep(0.2, 1.0, d))
    paint(img, face, face_colour)
    # Inner shadow under the bezel's top edge.
    for i in range(5):
        paint(img, intersect(face, rounded_rect(4, 4 + i, VU_W - 4, 5 + i, 0)),
              rgb(60, 40, 10), alpha=0.22 * (1.0 - i / 5.0))

    ink = rgb(34, 30, 28)
    red = rgb(214, 28, 22)
    r_arc = 58.0
    zero = vu_angle(0)
    paint(img, arc(px, py, r_arc, VU_SWEEP[0], zero, 1.2), ink)
    paint(img, arc(px, py, r_arc - 1.6, zero, VU_SWEEP[1], 3.4), red)
    # Percent scale inside the main arc, as on studio meters.
    paint(img, arc(px, py, 45.0, VU_SWEEP[0], VU_SWEEP[1], 0.8), ink, alpha=0.7)
    for p in range(0, 101, 10):
        a = VU_SWEEP[0] + (VU_SWEEP[1] - VU_SWEEP[0]) * p / 100.0
        x0, y0 = polar(px, py, 45.0, a)
        x1, y1 = polar(px, py, 42.0 if p % 50 else 40.5, a)
        paint(img, capsule(x0, y0, x1, y1, 0.8), ink, alpha=0.7)

    for db, major in VU_MARKS:
        a = vu_angle(db)
        x0, y0 = polar(px, py, r_arc - 0.5, a)
        x1, y1 = polar(px, py, r_arc + (6.5 if major else 4.0), a)
        paint(img, capsule(x0, y0, x1, y1, 1.3 if major else 1.0), red if db > 0 else ink)
        if not major:
            continue
        label = ("+%d" % db) if db > 0 else str(db)
        size, weight = 5.0, 1.15
        w = text_width(label, size, weight, 0.5)
        if db < 0:  # centre the digits on the mark, the sign hangs to the left
            w_digits = text_width(label[1:], size, weight, 0.5)
            shift = w - w_digits / 2.0
        else:
            shift = w / 2.0
        cx, cy = polar(px, py, r_arc + 13.0, a)
        paint(img, text(label, cx - shift, cy - (size + weight) / 2.0, size, weight, 0.5),
              red if db > 0 else ink)

    legend = "VU"
    lw = text_width(legend, 10.0, 1.9, 1.0)
    paint(img, text(legend, px - lw / 2.0, 50.0, 10.0, 1.9, 1.0), ink)
    # Hood over the pivot.
    paint(img, circle(px, py + 2.0, 15.0), rgb(40, 40, 44), alpha=0.35, aa=3.0)
    paint(img, circle(px, py + 2.0, 13.0), lambda x, y: mix(rgb(96, 98, 108), rgb(36, 37, 42),
                                                           clamp01((y - 70.0) / 14.0)))
    paint(img, arc(px, py + 2.0, 12.6, 200, 340, 0.8), rgb(170, 172, 182), alpha=0.8)
    return img


# --- channel frame and numerals ----------------------------------------------

FRAME_W, FRAME_H = 180, 110
NUMERAL_AT = (40, 20)
NUMERAL_W, NUMERAL_H = 100, 60


def channel_frame():
    img = Image(FRAME_W, FRAME_H)

    def body(x, y):
        d = math.hypot((x - 90.0) / 95.0, (y - 52.0) / 50.0)
        c = mix(rgb(30, 40, 70), rgb(7, 9, 16), smoothstep(0.0, 1.0, d))
        return mix(c, (0.0, 0.0, 0.0), smoothstep(76.0, 90.0, y))
    fill(img, body)
    # Plate under the channel name.
    plate = rounded_rect(5, 4, FRAME_W - 5, 27, 5)
    paint(img, plate, lambda x, y: mix(rgb(44, 50, 70), rgb(16, 18, 28), (y - 4.0) / 23.0))
    paint(img, subtract(plate, translate(plate, 0, 1.2)), rgb(110, 120, 150), alpha=0.6)
    paint(img, subtract(plate, translate(plate, 0, -1.0)), rgb(0, 0, 0), alpha=0.6)
    # A rule above the footer, fading out at both ends.
    paint(img, capsule(10, 84.5, FRAME_W - 10, 84.5, 1.0),
          lambda x, y: mix(rgb(0, 0, 0), rgb(200, 150, 40), 1.0 - abs(x - 90.0) / 80.0))
    return img


def numeral(n, frame):
    layer = Image(NUMERAL_W, NUMERAL_H)
    label = str(n)
    size, weight, track = 40.0, 8.0, 3.0
    w = text_width(label, size, weight, track)
    x0 = (NUMERAL_W - w) / 2.0
    y0 = 7.0
    shape = slant(text(label, x0, y0, size, weight, track), 0.14, y0 + (size + weight) / 2.0)
    top, bottom = y0, y0 + size + weight
    glow_c = rgb(255, 150, 30)
    cx = NUMERAL_W / 2.0
    for i in range(-2, 3):
        glow(layer, cx + i * w / 5.0, NUMERAL_H / 2.0, 14.0, glow_c, 0.05)
    paint(layer, translate(shape, 1.5, 2.5), (0.0, 0.0, 0.0), alpha=0.75, aa=2.5)
    paint(layer, offset(shape, 1.0), rgb(110, 50, 0))

    def gold(x, y):
        t = (y - top) / (bottom - top)
        return mix(mix(rgb(255, 240, 170), rgb(255, 190, 50), smoothstep(0.0, 0.5, t)),
                   rgb(215, 110, 10), smoothstep(0.5, 1.0, t))
    paint(layer, shape, gold)
    paint(layer, subtract(shape, translate(shape, -0.6, 1.4)), rgb(255, 252, 230), alpha=0.8)
    paint(layer, subtract(shape, translate(shape, 0.6, -1.4)), rgb(120, 50, 0), alpha=0.5)

    out = crop(frame, NUMERAL_AT[0], NUMERAL_AT[1], NUMERAL_W, NUMERAL_H)
    composite(out, layer)
    for i in range(NUMERAL_W * NUMERAL_H):
        if layer.px[i * 4 + 3] < 0.5 / 255.0:
            out.px[i * 4:i * 4 + 4] = [0.0, 0.0, 0.0, 0.0]
    return out


# --- small icons ---------------------------------------------------------------

def doc_icon():
    img = Image(30, 30)
    page = polygon([(5.5, 1.5), (17.5, 1.5), (23.5, 7.5), (23.5, 28.5), (5.5, 28.5)])
    paint(img, page, lambda x, y: mix(rgb(252, 252, 255), rgb(206, 214, 232), y / 30.0))
    paint(img, (lambda x, y: abs(page[0](x, y)) - 0.5, page[1]), rgb(120, 130, 156))
    fold = polygon([(17.5, 1.5), (17.5, 7.5), (23.5, 7.5)])
    paint(img, fold, rgb(176, 188, 214))
    paint(img, (lambda x, y: abs(fold[0](x, y)) - 0.5, fold[1]), rgb(120, 130, 156))
    for y, x1 in ((10.5, 20.5), (14.0, 18.0), (17.5, 20.5), (21.0, 13.5)):
        paint(img, capsule(9.0, y, x1, y, 1.4), rgb(110, 128, 168))
    cx, cy, r = 21.0, 21.5, 7.0
    paint(img, circle(cx, cy, r + 1.0), rgb(255, 255, 255))
    paint(img, circle(cx, cy, r), lambda x, y: mix(rgb(90, 170, 255), rgb(16, 72, 196),
                                                   clamp01((y - cy + r) / (2 * r))))
    w = text_width("?", 7.0, 1.7)
    paint(img, text("?", cx - w / 2.0, cy - 4.3, 7.0, 1.7), WHITE)
    return img


def speech_icon(size, backdrop=False):
    """A speech bubble holding a voice waveform, drawn on a 32-unit grid."""
    img = Image(size, size)
    s = size / 32.0
    min_w = 1.1
    if backdrop:
        paint(img, rounded_rect(0.5, 0.5, size - 0.5, size - 0.5, 6.5 * s),
              lambda x, y: mix(rgb(255, 170, 60), rgb(220, 80, 20), (x + y) / (2.0 * size)))
    pad = 2.5 if backdrop else 1.0
    bubble = union(rounded_rect((pad + 0.5) * s, (pad + 2.5) * s, (31.5 - pad) * s,
                                (24.0 - pad * 0.4) * s, 6.5 * s),
                   polygon([(8.0 * s, 19.0 * s), (15.0 * s, 19.0 * s), (6.5 * s, 29.5 * s)]))
    paint(img, translate(bubble, 0.0, 0.8 * s), (0.0, 0.0, 0.0), alpha=0.35, aa=1.5)
    paint(img, bubble, lambda x, y: mix(rgb(176, 140, 255), rgb(84, 48, 206), y / size))
    paint(img, subtract(bubble, translate(bubble, 0.0, 1.0 * s)), rgb(236, 226, 255), alpha=0.7)
    mid = (pad + 2.5 + 24.0 - pad * 0.4) / 2.0 * s
    bars = (5.0, 10.0, 14.0, 8.0, 11.0, 5.0) if size >= 24 else (4.0, 11.0, 7.0, 3.0)
    step = (19.0 / (len(bars) - 1)) * s
    for i, h in enumerate(bars):
        x = 6.5 * s + i * step + 0.5 * s
        paint(img, capsule(x, mid - h * s / 2.0, x, mid + h * s / 2.0, max(min_w, 2.4 * s)),
              WHITE)
    return img


def app_icon(size):
    """Orva-Lin: a microphone on the air, on a deep blue tile."""
    img = Image(size, size)
    s = size / 32.0
    paint(img, rounded_rect(0.5, 0.5, size - 0.5, size - 0.5, 6.5 * s),
          lambda x, y: mix(rgb(20, 50, 150), rgb(0, 170, 210), (x + size - y) / (2.0 * size)))
    paint(img, subtract(rounded_rect(0.5, 0.5, size - 0.5, size - 0.5, 6.5 * s),
                        translate(rounded_rect(0.5, 0.5, size - 0.5, size - 0.5, 6.5 * s),
                                  0.0, max(1.0, 1.2 * s))),
          rgb(140, 220, 255), alpha=0.6)
    c = size / 2.0
    lw = max(1.2, 1.9 * s)
    paint(img, capsule(c, 8.5 * s, c, 15.5 * s, 7.0 * s), WHITE)
    paint(img, arc(c, 14.0 * s, 6.8 * s, 0, 180, lw), WHITE)
    paint(img, capsule(c, 20.8 * s, c, 25.0 * s, lw), WHITE)
    paint(img, capsule(c - 4.5 * s, 25.5 * s, c + 4.5 * s, 25.5 * s, lw), WHITE)
    if size >= 32:
        wave = rgb(255, 230, 60)
        for r, width in ((10.5, 1.5), (14.0, 1.5)):
            paint(img, arc(c, 12.5 * s, r * s, -35, 35, width * s), wave)
            paint(img, arc(c, 12.5 * s, r * s, 145, 215, width * s), wave)
    return img


# --- animation -----------------------------------------------------------------

ANIM_SIZE = 150
ANIM_FRAMES = 30
ANIM_DELAY = 6  # hundredths of a second
ORBITS = (-30.0, 30.0, 90.0)  # tilt of each orbit, degrees
ORBIT_A, ORBIT_B = 62.0, 19.0
NUCLEONS = [  # x, y, z offsets of the nucleus' spheres, proton or neutron
    (0.0, 0.0, 5.0, True), (5.0, -2.0, 2.0, False), (-5.0, -1.5, 2.0, True),
    (1.0, 5.0, 1.5, False), (-2.0, -5.5, 0.5, False), (4.0, 3.5, -2.5, True),
    (-4.5, 4.0, -2.0, False), (4.5, -5.0, -2.5, True), (-0.5, 0.0, -5.0, True),
]


def orbit_point(tilt, t):
    """Screen position and depth (> 0 towards the viewer) of an orbit at parameter t."""
    u, v = ORBIT_A * math.cos(t), ORBIT_B * math.sin(t)
    ca, sa = math.cos(math.radians(tilt)), math.sin(math.radians(tilt))
    c = ANIM_SIZE / 2.0
    return c + u * ca - v * sa, c + u * sa + v * ca, math.sin(t)


def orbit_line(tilt, front_only):
    c = ANIM_SIZE / 2.0
    shape = ellipse(c, c, ORBIT_A, ORBIT_B, tilt)
    ca, sa = math.cos(math.radians(tilt)), math.sin(math.radians(tilt))
    fn = shape[0]

    def outline(x, y):
        d = abs(fn(x, y)) - 0.55
        if front_only:
            v = -(x - c) * sa + (y - c) * ca
            d = max(d, -v + 0.5)
        return d
    return outline, shape[1]


def sphere(img, cx, cy, r, base):
    def shade(x, y):
        nx, ny = (x - cx) / r, (y - cy) / r
        nz = math.sqrt(max(0.0, 1.0 - nx * nx - ny * ny))
        lam = clamp01(-0.45 * nx - 0.55 * ny + 0.70 * nz)
        spec = clamp01(-0.3 * nx - 0.4 * ny + 0.87 * nz) ** 24
        c = tuple(v * (0.25 + 0.85 * lam) for v in base)
        return mix(c, WHITE, spec * 0.8)
    paint(img, circle(cx, cy, r), shade)


def animation_layers():
    c = ANIM_SIZE / 2.0
    back = Image(ANIM_SIZE, ANIM_SIZE)

    def space(x, y):
        d = math.hypot(x - c, y - c) / (ANIM_SIZE * 0.72)
        return mix(rgb(24, 36, 78), rgb(2, 3, 12), smoothstep(0.0, 1.0, d))
    fill(back, space)
    seed = 12345
    for _ in range(40):  # a fixed sprinkle of faint stars
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        sx = (seed >> 8) % ANIM_SIZE
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        sy = (seed >> 8) % ANIM_SIZE
        seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
        bright = 0.25 + ((seed >> 8) % 100) / 200.0
        paint(back, circle(sx + 0.5, sy + 0.5, 0.6), rgb(200, 220, 255), alpha=bright)
    for tilt in ORBITS:
        paint(back, orbit_line(tilt, False), rgb(90, 170, 255), alpha=0.35)

    front = Image(ANIM_SIZE, ANIM_SIZE)
    glow(front, c, c, 16.0, rgb(255, 140, 60), 0.35)
    for x, y, z, proton in sorted(NUCLEONS, key=lambda n: n[2]):
        sphere(front, c + 1.25 * x, c + 1.25 * y, 5.6, rgb(235, 60, 50) if proton else rgb(120, 140, 190))
    for tilt in ORBITS:
        paint(front, orbit_line(tilt, True), rgb(120, 200, 255), alpha=0.55)
    return back, front


def electron(img, tilt, t):
    step = 2.0 * math.pi / ANIM_FRAMES
    for j in range(12, 0, -1):
        x, y, z = orbit_point(tilt, t - j * step / 6.0)
        k = 1.0 - j / 13.0
        paint(img, circle(x, y, (1.2 + 1.2 * k) * (1.0 + 0.15 * z)), rgb(120, 200, 255),
              alpha=0.35 * k)
    x, y, z = orbit_point(tilt, t)
    r = 3.0 * (1.0 + 0.18 * z)
    glow(img, x, y, 7.0 * (1.0 + 0.15 * z), rgb(80, 170, 255), 0.6)
    paint(img, circle(x, y, r), lambda px, py: mix(WHITE, rgb(120, 210, 255),
                                                    clamp01(math.hypot(px - x + 0.6, py - y + 0.6) / r)))


def animation_frames():
    back, front = animation_layers()
    frames = []
    for f in range(ANIM_FRAMES):
        img = Image(ANIM_SIZE, ANIM_SIZE)
        img.px = list(back.px)
        electrons = []
        for i, tilt in enumerate(ORBITS):
            t = 2.0 * math.pi * (f / ANIM_FRAMES + i / len(ORBITS))
            electrons.append((orbit_point(tilt, t)[2], tilt, t))
        for z, tilt, t in electrons:
            if z <= 0.0:
                electron(img, tilt, t)
        pulse = 0.5 + 0.5 * math.sin(2.0 * math.pi * f / ANIM_FRAMES * 2.0)
        glow(img, ANIM_SIZE / 2.0, ANIM_SIZE / 2.0, 18.0, rgb(255, 120, 40), 0.10 + 0.08 * pulse)
        composite(img, front)
        for z, tilt, t in electrons:
            if z > 0.0:
                electron(img, tilt, t)
        frames.append(to_bytes_rgb(img))
    return frames


# --- output --------------------------------------------------------------------

def bmp(img):
    return formats.bmp24(img.w, img.h, to_bytes_rgb(img))


def build():
    """Every output file as {relative path: bytes}."""
    out = {}
    files = "files/"
    out[files + "btn-fleche.bmp"] = bmp(knob())
    out[files + "doc_img.bmp"] = bmp(doc_icon())
    out[files + "synthe_1.bmp"] = bmp(speech_icon(32))
    out[files + "vu_meter_150.bmp"] = bmp(vu_meter())
    frame = channel_frame()
    out[files + "0.bmp"] = bmp(frame)
    for n in range(1, 11):
        out[files + "%d.bmp" % n] = bmp(numeral(n, frame))
    out[files + "mini_leds.bmf"] = formats.bmf([(name, bmp(led(colour, lit)))
                                                for name, colour, lit in LEDS])
    out[files + "electron-animation.gif"] = formats.gif(ANIM_SIZE, ANIM_SIZE,
                                                        animation_frames(), ANIM_DELAY)
    out["icons/orva-lin.ico"] = formats.ico([(s, to_bytes_rgba(app_icon(s))) for s in (16, 32, 48)])
    out["icons/talvo.ico"] = formats.ico([(s, to_bytes_rgba(speech_icon(s, True)))
                                          for s in (16, 32, 48)])
    return out


def main(argv):
    root = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    for rel, data in sorted(build().items()):
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
