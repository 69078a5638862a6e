"""Byte writers for the picture formats the programs read: BMP, the LED
container, ICO and animated GIF (with its LZW coder and a palette maker).

Everything is written field by field with fixed values (resolution, reserved
words) so two runs give the same bytes.
"""
import struct

PIXELS_PER_METRE = 2835  # 72 dpi


def bmp24(w, h, rgb):
    """A 24-bit bottom-up BMP file from rows of (r, g, b) top to bottom."""
    stride = (w * 3 + 3) & ~3
    body = bytearray()
    for y in range(h - 1, -1, -1):
        row = rgb[y * w * 3:(y + 1) * w * 3]
        for x in range(w):
            body += bytes((row[x * 3 + 2], row[x * 3 + 1], row[x * 3]))
        body += bytes(stride - w * 3)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(body), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(body),
                       PIXELS_PER_METRE, PIXELS_PER_METRE, 0, 0)
    return header + info + bytes(body)


def bmf(pictures):
    """The LED container: uint32 count, 40-byte entries (32-byte zero-terminated
    name, uint32 offset, uint32 size), then each picture's bytes in order."""
    out = bytearray(struct.pack("<I", len(pictures)))
    at = 4 + 40 * len(pictures)
    for name, data in pictures:
        raw = name.encode("ascii")
        assert len(raw) < 32
        out += raw + bytes(32 - len(raw)) + struct.pack("<II", at, len(data))
        at += len(data)
    for _, data in pictures:
        out += data
    return bytes(out)


def ico(images):
    """An ICO of 32-bit BMP entries (XOR colour with alpha, then the AND mask);
    images are (size, rows of straight (r, g, b, a) top to bottom)."""
    entries = []
    for size, rgba in images:
        xor = bytearray()
        mask = bytearray()
        mask_stride = ((size + 31) // 32) * 4
        for y in range(size - 1, -1, -1):
            bits = bytearray(mask_stride)
            for x in range(size):
                r, g, b, a = rgba[(y * size + x) * 4:(y * size + x) * 4 + 4]
                xor += bytes((b, g, r, a))
                if a == 0:
                    bits[x >> 3] |= 0x80 >> (x & 7)
            mask += bits
        info = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                           len(xor) + len(mask), 0, 0, 0, 0)
        entries.append((size, info + bytes(xor) + bytes(mask)))
    out = bytearray(struct.pack("<HHH", 0, 1, len(entries)))
    at = 6 + 16 * len(entries)
    for size, data in entries:
        out += struct.pack("<BBBBHHII", size & 0xFF, size & 0xFF, 0, 0, 1, 32, len(data), at)
        at += len(data)
    for _, data in entries:
        out += data
    return bytes(out)


# --- GIF --------------------------------------------------------------------

def palette(frames, colours=256):
    """Median cut over every frame's pixels at 6 bits a channel; returns the
    palette [(r, g, b)] and a map from 18-bit colour key to palette index."""
    hist = {}
    for rgb in frames:
        for i in range(0, len(rgb), 3):
            k = ((rgb[i] >> 2) << 12) | ((rgb[i + 1] >> 2) << 6) | (rgb[i + 2] >> 2)
            hist[k] = hist.get(k, 0) + 1
    boxes = [sorted(hist.items())]
    while len(boxes) < colours:
        best = None
        for n, box in enumerate(boxes):
            if len(box) < 2:
                continue
            spans = []
            for shift in (12, 6, 0):
                vals = [(k >> shift) & 63 for k, _ in box]
                spans.append((max(vals) - min(vals), shift))
            span, shift = max(spans)
            score = span * sum(c for _, c in box) ** 0.5
            if span > 0 and (best is None or score > best[0]):
                best = (score, n, shift)
        if best is None:
            break
        _, n, shift = best
        box = sorted(boxes[n], key=lambda kc: (((kc[0] >> shift) & 63), kc[0]))
        total = sum(c for _, c in box)
        run = 0
        cut = 1
        for j, (_, c) in enumerate(box[:-1]):
            run += c
            if run * 2 >= total:
                cut = j + 1
                break
        boxes[n:n + 1] = [box[:cut], box[cut:]]
    pal = []
    for box in boxes:
        total = sum(c for _, c in box)
        avg = []
        for shift in (12, 6, 0):
            s = sum((((k >> shift) & 63) * 4 + 2) * c for k, c in box)
            avg.append(min(255, (s + total // 2) // total))
        pal.append(tuple(avg))
    lookup = {}
    for k in hist:
        r, g, b = ((k >> 12) & 63) * 4 + 2, ((k >> 6) & 63) * 4 + 2, (k & 63) * 4 + 2
        lookup[k] = min(range(len(pal)), key=lambda j: ((pal[j][0] - r) ** 2 + (pal[j][1] - g) ** 2
                                                        + (pal[j][2] - b) ** 2, j))
    while len(pal) < colours:
        pal.append((0, 0, 0))
    return pal, lookup


def lzw(indices, min_size=8):
    """GIF LZW: variable-width codes packed LSB first, a clear code first and
    whenever the 4096-entry table fills."""
    clear = 1 << min_size
    end = clear + 1
    out = bytearray()
    acc = 0
    nbits = 0
    size = min_size + 1

    def emit(code, width):
        nonlocal acc, nbits
        acc |= code << nbits
        nbits += width
        while nbits >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            nbits -= 8

    emit(clear, size)
    table = {}
    nxt = end + 1
    prefix = indices[0]
    for k in indices[1:]:
        key = (prefix << 8) | k
        code = table.get(key)
        if code is not None:
            prefix = code
            continue
        emit(prefix, size)
        if nxt < 4096:
            table[key] = nxt
            nxt += 1
            if nxt > (1 << size) and size < 12:
                size += 1
        else:
            emit(clear, size)
            table.clear()
            nxt = end + 1
            size = min_size + 1
        prefix = k
    emit(prefix, size)
    emit(end, size)
    if nbits:
        out.append(acc & 0xFF)
    return bytes(out)


def sub_blocks(data):
    out = bytearray()
    for i in range(0, len(data), 255):
        chunk = data[i:i + 255]
        out.append(len(chunk))
        out += chunk
    out.append(0)
    return bytes(out)


def gif(w, h, frames, delay):
    """A looping GIF89a of full frames (rows of (r, g, b)), one global palette,
    each frame with a Graphic Control Extension of `delay` hundredths. The
    only application block is NETSCAPE2.0: GDI+ misreads the frame delays of
    files that carry others (such as ImageMagick's gamma block)."""
    pal, lookup = palette(frames)
    out = bytearray(b"GIF89a")
    out += struct.pack("<HHBBB", w, h, 0xF7, 0, 0)
    for c in pal:
        out += bytes(c)
    out += b"\x21\xFF\x0BNETSCAPE2.0\x03\x01" + struct.pack("<H", 0) + b"\x00"
    for rgb in frames:
        idx = bytearray(w * h)
        for p in range(w * h):
            i = p * 3
            idx[p] = lookup[((rgb[i] >> 2) << 12) | ((rgb[i + 1] >> 2) << 6) | (rgb[i + 2] >> 2)]
        # Disposal 1 (leave in place): each frame covers the whole screen anyway.
        out += b"\x21\xF9\x04" + struct.pack("<BHB", 1 << 2, delay, 0) + b"\x00"
        out += b"\x2C" + struct.pack("<HHHHB", 0, 0, w, h, 0)
        out.append(8)
        out += sub_blocks(lzw(idx, 8))
    out.append(0x3B)
    return bytes(out)
