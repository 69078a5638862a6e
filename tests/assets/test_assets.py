"""The picture files: reproducible, and readable the way the programs read them.

Every format is parsed here by code of its own (headers, the LED container,
the GIF block by block with an independent LZW decoder, the ICO directory),
so a fault in the writers does not hide behind the same fault in a reader.
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
ASSETS = os.path.join(ROOT, "assets")
sys.path.insert(0, ASSETS)

import formats  # noqa: E402
import make_assets  # noqa: E402

CLIENT_FILES = (["btn-fleche.bmp", "doc_img.bmp", "synthe_1.bmp", "vu_meter_150.bmp"]
                + ["%d.bmp" % n for n in range(11)]
                + ["mini_leds.bmf", "electron-animation.gif"])
LED_NAMES = ["LedRed.bmp", "LedDarkRed.bmp", "LedGreen.bmp", "LedYellow.bmp",
             "LedBlue.bmp", "LedDarkBlue.bmp"]
ICONS = ["orva-lin.ico", "talvo.ico"]


def read(*parts):
    with open(os.path.join(ASSETS, *parts), "rb") as f:
        return f.read()


# --- BMP ---------------------------------------------------------------------

class Bmp:
    def __init__(self, w, h, data, offset, stride):
        self.w, self.h, self.data, self.offset, self.stride = w, h, data, offset, stride

    def pixel(self, x, y):
        """(r, g, b) at (x, y), y from the top."""
        i = self.offset + (self.h - 1 - y) * self.stride + x * 3
        return self.data[i + 2], self.data[i + 1], self.data[i]


def parse_bmp(test, data, what):
    test.assertGreaterEqual(len(data), 54, what)
    magic, size, r1, r2, offset = struct.unpack_from("<2sIHHI", data, 0)
    test.assertEqual(magic, b"BM", what)
    test.assertEqual(size, len(data), what + ": file size field")
    test.assertEqual((r1, r2), (0, 0), what)
    hsize, w, h, planes, bpp, comp, isize = struct.unpack_from("<IiiHHII", data, 14)
    test.assertEqual(hsize, 40, what + ": info header size")
    test.assertGreater(w, 0, what)
    test.assertGreater(h, 0, what + ": bottom-up rows")
    test.assertEqual(planes, 1, what)
    test.assertEqual(bpp, 24, what)
    test.assertEqual(comp, 0, what + ": uncompressed")
    stride = (w * 3 + 3) & ~3
    test.assertGreaterEqual(offset, 54, what + ": pixels after the headers")
    test.assertLessEqual(offset + stride * h, len(data), what + ": pixels within the file")
    if isize:
        test.assertEqual(isize, stride * h, what + ": image size field")
    return Bmp(w, h, data, offset, stride)


def luma(c):
    return 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2]


# --- GIF -----------------------------------------------------------------------

def lzw_decode(data, min_size):
    clear = 1 << min_size
    end = clear + 1
    size = min_size + 1
    table = [bytes((i,)) for i in range(clear)] + [b"", b""]
    out = bytearray()
    prev = None
    acc = nbits = pos = 0
    while True:
        while nbits < size:
            if pos >= len(data):
                raise ValueError("LZW data ends without an end code")
            acc |= data[pos] << nbits
            pos += 1
            nbits += 8
        code = acc & ((1 << size) - 1)
        acc >>= size
        nbits -= size
        if code == clear:
            del table[end + 1:]
            size = min_size + 1
            prev = None
            continue
        if code == end:
            return bytes(out)
        if prev is None:
            if code >= clear:
                raise ValueError("first code after a clear is not a literal")
            entry = table[code]
        else:
            if code < len(table):
                entry = table[code]
            elif code == len(table):
                entry = prev + prev[:1]
            else:
                raise ValueError("code %d beyond the table (%d)" % (code, len(table)))
            if len(table) < 4096:
                table.append(prev + entry[:1])
        out += entry
        prev = entry
        if len(table) == (1 << size) and size < 12:
            size += 1


def read_sub_blocks(test, data, pos):
    out = bytearray()
    while True:
        test.assertLess(pos, len(data), "sub-blocks run past the end")
        n = data[pos]
        pos += 1
        if n == 0:
            return bytes(out), pos
        test.assertLessEqual(pos + n, len(data))
        out += data[pos:pos + n]
        pos += n


def parse_gif(test, data):
    """Returns (width, height, palette, app blocks, [(delay, indices)])."""
    test.assertEqual(data[:6], b"GIF89a")
    w, h, packed, _bg, _aspect = struct.unpack_from("<HHBBB", data, 6)
    pos = 13
    pal = []
    if packed & 0x80:
        n = 2 << (packed & 7)
        pal = [tuple(data[pos + 3 * i:pos + 3 * i + 3]) for i in range(n)]
        pos += 3 * n
    apps = []
    frames = []
    delay = None
    while True:
        test.assertLess(pos, len(data), "no trailer")
        kind = data[pos]
        pos += 1
        if kind == 0x3B:
            test.assertEqual(pos, len(data), "bytes after the trailer")
            break
        if kind == 0x21:
            label = data[pos]
            pos += 1
            body, pos = read_sub_blocks(test, data, pos)
            if label == 0xF9:
                test.assertEqual(len(body), 4, "graphic control extension size")
                test.assertIsNone(delay, "two control extensions before one image")
                delay = struct.unpack_from("<H", body, 1)[0]
            elif label == 0xFF:
                apps.append(body)
            else:
                test.fail("unexpected extension 0x%02X" % label)
            continue
        test.assertEqual(kind, 0x2C, "unknown block 0x%02X at %d" % (kind, pos - 1))
        x, y, fw, fh, fpacked = struct.unpack_from("<HHHHB", data, pos)
        pos += 9
        test.assertEqual((x, y, fw, fh), (0, 0, w, h), "each frame covers the screen")
        test.assertEqual(fpacked & 0x80, 0, "no local colour table")
        min_size = data[pos]
        pos += 1
        raw, pos = read_sub_blocks(test, data, pos)
        indices = lzw_decode(raw, min_size)
        test.assertEqual(len(indices), fw * fh, "decoded pixel count")
        frames.append((delay, indices))
        delay = None
    return w, h, pal, apps, frames


def gif_key(rgb, i):
    return ((rgb[i] >> 2) << 12) | ((rgb[i + 1] >> 2) << 6) | (rgb[i + 2] >> 2)


# --- tests -------------------------------------------------------------------

class Reproducible(unittest.TestCase):
    def test_regenerated_files_equal_committed_ones(self):
        out = tempfile.mkdtemp(prefix="orva-assets-")
        try:
            env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
            subprocess.run([sys.executable, os.path.join(ASSETS, "make_assets.py"), out],
                           check=True, env=env)
            for sub in ("files", "icons"):
                made = sorted(os.listdir(os.path.join(out, sub)))
                committed = sorted(os.listdir(os.path.join(ASSETS, sub)))
                self.assertEqual(made, committed, sub)
                for name in made:
                    with open(os.path.join(out, sub, name), "rb") as f:
                        self.assertEqual(f.read(), read(sub, name),
                                         "%s/%s differs from a fresh run" % (sub, name))
        finally:
            shutil.rmtree(out)

    def test_every_file_the_client_reads_is_there(self):
        self.assertEqual(sorted(os.listdir(os.path.join(ASSETS, "files"))), sorted(CLIENT_FILES))
        self.assertEqual(sorted(os.listdir(os.path.join(ASSETS, "icons"))), sorted(ICONS))


class Bitmaps(unittest.TestCase):
    def test_headers_and_sizes(self):
        # name -> (exact size) or (max width, max height) for the numerals
        cases = {"btn-fleche.bmp": (48, 48), "doc_img.bmp": (30, 30), "synthe_1.bmp": (32, 32),
                 "vu_meter_150.bmp": (150, 84), "0.bmp": (180, 110)}
        for name, size in cases.items():
            with self.subTest(name=name):
                b = parse_bmp(self, read("files", name), name)
                self.assertEqual((b.w, b.h), size)
        for n in range(1, 11):
            with self.subTest(n=n):
                b = parse_bmp(self, read("files", "%d.bmp" % n), "%d.bmp" % n)
                self.assertLessEqual(b.w, 100)
                self.assertLessEqual(b.h, 60)

    def test_knob_points_up_on_a_transparent_background(self):
        b = parse_bmp(self, read("files", "btn-fleche.bmp"), "knob")
        c = b.w / 2.0
        for x, y in ((0, 0), (b.w - 1, 0), (0, b.h - 1), (b.w - 1, b.h - 1)):
            self.assertEqual(b.pixel(x, y), (0, 0, 0), "corner (%d, %d) transparent" % (x, y))
        # Nothing inside the body may be the transparent colour.
        for y in range(b.h):
            for x in range(b.w):
                if (x + 0.5 - c) ** 2 + (y + 0.5 - c) ** 2 <= 20.0 ** 2:
                    self.assertNotEqual(b.pixel(x, y), (0, 0, 0), "hole at (%d, %d)" % (x, y))
        # The body fits inside the ring of ticks drawn 30 pixels out.
        for y in range(b.h):
            for x in range(b.w):
                if (x + 0.5 - c) ** 2 + (y + 0.5 - c) ** 2 >= 24.0 ** 2:
                    self.assertEqual(b.pixel(x, y), (0, 0, 0), "ink at (%d, %d)" % (x, y))

        def warm(p):
            return p[0] > 180 and p[0] - p[2] > 100
        up = [warm(b.pixel(int(c), y)) for y in range(4, 18)]
        down = [warm(b.pixel(int(c), b.h - 1 - y)) for y in range(4, 18)]
        left = [warm(b.pixel(x, int(c))) for x in range(4, 18)]
        self.assertTrue(all(up), "pointer straight up")
        self.assertFalse(any(down) or any(left), "pointer only up")

    def test_meter_scale_spans_the_needle_sweep(self):
        import math
        b = parse_bmp(self, read("files", "vu_meter_150.bmp"), "meter")
        px, py = b.w // 2, b.h

        def at(deg, r):
            return b.pixel(int(px + r * math.cos(math.radians(deg))),
                           int(py + r * math.sin(math.radians(deg))))
        # Needle tips stay on the face; the scale arc is ink from the low end,
        # red at the top end, and pale face between the marks.
        for deg in (218, 240, 270, 300, 320):
            self.assertGreater(luma(at(deg, 66)), 120, "face under the needle at %d" % deg)
        self.assertLess(luma(at(222, 58)), 90, "scale line at the low end")
        red = at(312, 56.4)
        self.assertTrue(red[0] > 150 and red[1] < 80, "red zone at the top end: %r" % (red,))
        self.assertGreater(luma(at(262, 52)), 150, "plain face inside the arc")

    def test_channel_frame_keeps_text_areas_plain(self):
        b = parse_bmp(self, read("files", "0.bmp"), "frame")
        # name strip (yellow text), count and "CHANNEL" (white text on the panel colour)
        for (x0, y0, x1, y1), limit in (((12, 8, 168, 24), 80), ((150, 88, 178, 108), 12),
                                        ((8, 100, 100, 110), 12)):
            for y in range(y0, y1):
                for x in range(x0, x1):
                    self.assertLess(luma(b.pixel(x, y)), limit, "busy at (%d, %d)" % (x, y))

    def test_numerals_blend_into_the_frame(self):
        frame = parse_bmp(self, read("files", "0.bmp"), "frame")
        ox, oy = make_assets.NUMERAL_AT
        for n in range(1, 11):
            with self.subTest(n=n):
                b = parse_bmp(self, read("files", "%d.bmp" % n), "%d.bmp" % n)
                self.assertLessEqual(ox + b.w, frame.w)
                self.assertLessEqual(oy + b.h, 88, "above the member count")
                ink = 0
                for y in range(b.h):
                    for x in range(b.w):
                        p = b.pixel(x, y)
                        if p == (0, 0, 0):
                            continue
                        under = frame.pixel(ox + x, oy + y)
                        if sum(abs(p[k] - under[k]) for k in range(3)) < 60:
                            continue  # soft glow or blended edge
                        ink += 1
                        self.assertGreaterEqual(oy + y, 26, "crowds the name at (%d, %d)" % (x, y))
                        # edges meet the frame's own colour (no dark halo)
                        if x in (0, b.w - 1) or y in (0, b.h - 1):
                            self.assertEqual(p, frame.pixel(ox + x, oy + y))
                self.assertGreater(ink, 600, "a big numeral")
                for x, y in ((0, 0), (b.w - 1, 0), (0, b.h - 1), (b.w - 1, b.h - 1)):
                    self.assertEqual(b.pixel(x, y), (0, 0, 0), "transparent corner")


class LedContainer(unittest.TestCase):
    def test_container_layout(self):
        data = read("files", "mini_leds.bmf")
        count = struct.unpack_from("<I", data, 0)[0]
        self.assertLessEqual(count, 20)
        self.assertGreaterEqual(len(data), 4 + 40 * count)
        names = []
        spans = []
        leds = {}
        for i in range(count):
            entry = data[4 + 40 * i:4 + 40 * (i + 1)]
            raw = entry[:32]
            self.assertIn(0, raw, "name is zero-terminated")
            name = raw[:raw.index(0)].decode("ascii")
            self.assertEqual(raw[raw.index(0):], bytes(32 - raw.index(0)), "zero padding")
            off, size = struct.unpack_from("<II", entry, 32)
            self.assertGreaterEqual(off, 4 + 40 * count, name)
            self.assertLessEqual(off + size, len(data), name)
            names.append(name)
            spans.append((off, off + size))
            leds[name] = parse_bmp(self, data[off:off + size], name)
        self.assertEqual(sorted(names), sorted(LED_NAMES))
        spans.sort()
        for a, b in zip(spans, spans[1:]):
            self.assertLessEqual(a[1], b[0], "pictures overlap")

        def mean_luma(b):
            return sum(luma(b.pixel(x, y)) for y in range(b.h) for x in range(b.w)) / (b.w * b.h)
        for name, b in leds.items():
            with self.subTest(name=name):
                self.assertTrue(10 <= b.w <= 18 and b.w == b.h, "lamp size %dx%d" % (b.w, b.h))
                self.assertEqual(b.pixel(0, 0), (0, 0, 0), "transparent corner")
                c = b.pixel(b.w // 2, b.h // 2)
                self.assertNotEqual(c, (0, 0, 0), "lens is not see-through")
        # Hue: the centre of each lamp is dominated by its colour.
        hue = {"LedRed.bmp": 0, "LedDarkRed.bmp": 0, "LedGreen.bmp": 1, "LedBlue.bmp": 2,
               "LedDarkBlue.bmp": 2}
        for name, ch in hue.items():
            b = leds[name]
            p = b.pixel(b.w // 2 + 1, b.h // 2 + 1)
            self.assertEqual(max(range(3), key=lambda k: p[k]), ch, "%s centre %r" % (name, p))
        y = leds["LedYellow.bmp"].pixel(8, 8)
        self.assertTrue(y[0] > 150 and y[1] > 120 and y[2] < y[1] / 2, "yellow %r" % (y,))
        for lit, dark in (("LedRed.bmp", "LedDarkRed.bmp"), ("LedBlue.bmp", "LedDarkBlue.bmp")):
            self.assertGreater(mean_luma(leds[lit]), 1.5 * mean_luma(leds[dark]),
                               "%s reads as unlit beside %s" % (dark, lit))


class Animation(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.data = read("files", "electron-animation.gif")

    def test_blocks_delays_and_pixels(self):
        w, h, pal, apps, frames = parse_gif(self, self.data)
        self.assertEqual((w, h), (make_assets.ANIM_SIZE, make_assets.ANIM_SIZE))
        self.assertEqual((w, h), (150, 150))
        self.assertEqual(len(pal), 256)
        self.assertEqual(apps, [b"NETSCAPE2.0\x01\x00\x00"],
                         "one application block: NETSCAPE2.0, looping for ever")
        self.assertEqual(len(frames), make_assets.ANIM_FRAMES)
        self.assertTrue(20 <= len(frames) <= 40)
        for i, (delay, _) in enumerate(frames):
            self.assertEqual(delay, make_assets.ANIM_DELAY, "delay of frame %d" % i)

        # The decoded indices are the drawn frames through the palette, and the
        # palette keeps them close to what was drawn.
        drawn = make_assets.animation_frames()
        _, lookup = formats.palette(drawn)
        for i, (rgb, (_, idx)) in enumerate(zip(drawn, frames)):
            expect = bytes(lookup[gif_key(rgb, p * 3)] for p in range(w * h))
            self.assertEqual(idx, expect, "frame %d decodes to what was drawn" % i)
            err = sum(abs(pal[idx[p]][c] - rgb[p * 3 + c]) for p in range(w * h) for c in range(3))
            self.assertLess(err / (w * h * 3), 4.0, "frame %d colour error" % i)
        self.assertNotEqual(frames[0][1], frames[1][1], "the frames move")

    def test_an_independent_reader_agrees(self):
        convert = shutil.which("convert")
        if not convert:
            self.skipTest("ImageMagick not installed")
        _, _, pal, _, frames = parse_gif(self, self.data)
        for i in (0, len(frames) // 2, len(frames) - 1):
            raw = subprocess.run([convert, "electron-animation.gif[%d]" % i, "-depth", "8", "rgb:-"],
                                 cwd=os.path.join(ASSETS, "files"), check=True,
                                 capture_output=True).stdout
            ours = bytes(v for p in frames[i][1] for v in pal[p])
            self.assertEqual(raw, ours, "frame %d as ImageMagick reads it" % i)

    def test_lzw_round_trip(self):
        seed = 7
        noise = bytearray()
        for _ in range(30000):  # fills the 4096-entry table several times
            seed = (seed * 1103515245 + 12345) & 0x7FFFFFFF
            noise.append((seed >> 16) & 0xFF)
        cases = {
            "one pixel": b"\x05",
            "two pixels": b"\x00\xff",
            "a long run": b"\x07" * 50000,
            "noise": bytes(noise),
            "slow ramp": bytes((i // 37) & 0xFF for i in range(40000)),
            "repeating pairs": bytes((1, 2)) * 9000,
        }
        for name, data in cases.items():
            with self.subTest(name):
                self.assertEqual(lzw_decode(formats.lzw(data, 8), 8), data)


class Icons(unittest.TestCase):
    def test_directory_and_images(self):
        for icon in ICONS:
            with self.subTest(icon=icon):
                data = read("icons", icon)
                reserved, kind, count = struct.unpack_from("<HHH", data, 0)
                self.assertEqual((reserved, kind), (0, 1))
                sizes = []
                for i in range(count):
                    w, h, colours, res, planes, bpp, size, off = struct.unpack_from(
                        "<BBBBHHII", data, 6 + 16 * i)
                    self.assertEqual((w, colours, res, planes, bpp), (h, 0, 0, 1, 32))
                    self.assertGreaterEqual(off, 6 + 16 * count)
                    self.assertLessEqual(off + size, len(data))
                    hs, iw, ih, ip, ibpp, comp, isz = struct.unpack_from("<IiiHHII", data, off)
                    self.assertEqual((hs, iw, ih, ip, ibpp, comp), (40, w, 2 * w, 1, 32, 0))
                    mask_stride = ((w + 31) // 32) * 4
                    self.assertEqual(size, 40 + w * w * 4 + mask_stride * w)
                    xor = data[off + 40:off + 40 + w * w * 4]
                    mask = data[off + 40 + w * w * 4:off + size]
                    transparent = 0
                    for y in range(w):
                        for x in range(w):
                            a = xor[(y * w + x) * 4 + 3]
                            bit = (mask[y * mask_stride + (x >> 3)] >> (7 - (x & 7))) & 1
                            self.assertEqual(bit, 1 if a == 0 else 0, "mask at (%d, %d)" % (x, y))
                            transparent += a == 0
                    self.assertGreater(transparent, 0, "rounded corners")
                    self.assertEqual(xor[(w // 2 * w + w // 2) * 4 + 3], 255, "opaque centre")
                    sizes.append(w)
                self.assertEqual(sorted(sizes), [16, 32, 48])


if __name__ == "__main__":
    unittest.main(verbosity=2)
