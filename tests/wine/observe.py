"""What the Wine tests observe from outside the programs: screenshots and
their pixels, the sound recorded from the null sink, UDP on loopback, and
the polling and timeouts everything waits with (Python 3 standard library)."""

import array
import math
import os
import socket
import subprocess
import sys
import time
import wave
from pathlib import Path

TIMEOUT_SCALE = float(os.environ.get("ORVA_WINE_TIMEOUT_SCALE") or "1")
RECORD_RATE = 48000
RECORD_CHANNELS = 2


def scaled(seconds):
    return seconds * TIMEOUT_SCALE


def log(msg):
    print(f"[bed {time.strftime('%H:%M:%S')}] {msg}", file=sys.stderr, flush=True)


def poll(predicate, timeout, interval=0.2, what="condition"):
    """Returns the first truthy value of predicate() or raises AssertionError."""
    deadline = time.monotonic() + scaled(timeout)
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError(f"timed out after {scaled(timeout):.0f} s waiting for {what}")
        time.sleep(interval)


# ---- screenshots --------------------------------------------------------------

class Image:
    """An RGB picture read from a PNG through ImageMagick's PPM output."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    @classmethod
    def load(cls, path):
        r = subprocess.run(["convert", str(path), "-depth", "8", "ppm:-"],
                           capture_output=True, timeout=120)
        if r.returncode != 0:
            raise AssertionError(f"convert {path} failed: {r.stderr.decode(errors='replace')}")
        return cls.from_ppm(r.stdout)

    @classmethod
    def from_ppm(cls, blob):
        fields, pos = [], 0
        while len(fields) < 4:
            while blob[pos:pos + 1].isspace():
                pos += 1
            if blob[pos:pos + 1] == b"#":
                pos = blob.index(b"\n", pos) + 1
                continue
            end = pos
            while not blob[end:end + 1].isspace():
                end += 1
            fields.append(blob[pos:end])
            pos = end
        if fields[0] != b"P6" or int(fields[3]) != 255:
            raise AssertionError("not an 8-bit P6 picture")
        w, h = int(fields[1]), int(fields[2])
        pos += 1
        return cls(w, h, blob[pos:pos + 3 * w * h])

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.data[i:i + 3])

    def region(self, x0, y0, x1, y1):
        """Pixels of the rectangle [x0, x1) x [y0, y1), clipped to the picture."""
        x0, y0 = max(0, x0), max(0, y0)
        x1, y1 = min(self.width, x1), min(self.height, y1)
        return [self.pixel(x, y) for y in range(y0, y1) for x in range(x0, x1)]

    def count(self, rect, predicate):
        return sum(1 for p in self.region(*rect) if predicate(p))


def near(colour, target, tol=40):
    return all(abs(a - b) <= tol for a, b in zip(colour, target))


# ---- sound ----------------------------------------------------------------------

class Recorder:
    """What parec records from the null sink's monitor: s16le, 48 kHz, stereo."""

    def __init__(self, path, rate=RECORD_RATE, channels=RECORD_CHANNELS):
        self.path, self.rate, self.channels = Path(path), rate, channels
        self.frame_bytes = 2 * channels

    def mark(self):
        """Current end of the recording, in frames (use as a start point)."""
        try:
            return self.path.stat().st_size // self.frame_bytes
        except OSError:
            return 0

    def seconds(self):
        return self.mark() / self.rate

    def samples(self, start=0, end=None, channel=0):
        """One channel's samples between two marks (frames)."""
        with open(self.path, "rb") as f:
            f.seek(start * self.frame_bytes)
            n = None if end is None else max(0, end - start) * self.frame_bytes
            blob = f.read() if n is None else f.read(n)
        blob = blob[:len(blob) - len(blob) % self.frame_bytes]
        pcm = array.array("h")
        pcm.frombytes(blob)
        if sys.byteorder != "little":
            pcm.byteswap()
        return pcm[channel::self.channels]

    def wait_sound(self, since, timeout=20, threshold=300, window_ms=20):
        """Frame mark where the recording first gets louder than threshold (RMS)
        after since; AssertionError when it stays quiet."""
        step = self.rate * window_ms // 1000
        pos = since
        deadline = time.monotonic() + scaled(timeout)
        while True:
            end = self.mark()
            while pos + step <= end:
                if rms(self.samples(pos, pos + step)) >= threshold:
                    return pos
                pos += step
            if time.monotonic() >= deadline:
                loud = peak_rms(self.samples(since, end), step)
                raise AssertionError(f"no sound above RMS {threshold} in "
                                     f"{(end - since) / self.rate:.1f} s recorded "
                                     f"(loudest {window_ms} ms: RMS {loud:.0f})")
            time.sleep(0.1)


def write_wav(path, pcm, channels, rate):
    """Writes 16-bit little-endian PCM (an array of 'h', interleaved) as a WAV."""
    if sys.byteorder != "little":
        pcm = array.array("h", pcm)
        pcm.byteswap()
    with wave.open(str(path), "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(pcm.tobytes())
    return path


def rms(samples):
    if not samples:
        return 0.0
    return math.sqrt(sum(s * s for s in samples) / len(samples))


def peak_rms(samples, step):
    return max((rms(samples[i:i + step]) for i in range(0, max(1, len(samples) - step + 1), step)),
               default=0.0)


def zero_crossing_frequency(samples, rate):
    """Frequency of a clean tone from its rising zero crossings."""
    rising = [i for i in range(1, len(samples)) if samples[i - 1] < 0 <= samples[i]]
    if len(rising) < 3:
        return 0.0
    return (len(rising) - 1) * rate / (rising[-1] - rising[0])


def dft_peak(samples, rate, fmin=50.0, fmax=4000.0, step=5.0):
    """Strongest frequency between fmin and fmax (Goertzel scan, step Hz)."""
    n = len(samples)
    best, best_power = 0.0, -1.0
    f = fmin
    while f <= fmax:
        coeff = 2 * math.cos(2 * math.pi * f / rate)
        s1 = s2 = 0.0
        for x in samples:
            s1, s2 = x + coeff * s1 - s2, s1
        power = s1 * s1 + s2 * s2 - coeff * s1 * s2
        if power > best_power:
            best, best_power = f, power
        f += step
    return best if n else 0.0


# ---- UDP on loopback -------------------------------------------------------------

class UdpListener:
    """A bound UDP socket that collects datagrams (data, (host, port))."""

    def __init__(self, port, host="127.0.0.1", wait=180):
        """Binds host:port, waiting while another test run holds it (the
        companion port is fixed, so two runs side by side take turns)."""
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        deadline = time.monotonic() + scaled(wait)
        told = False
        while True:
            try:
                self.sock.bind((host, port))
                break
            except OSError as e:
                if not told and port:
                    log(f"UDP {host}:{port} is busy; waiting up to {scaled(wait):.0f} s")
                    told = True
                if time.monotonic() >= deadline:
                    self.sock.close()
                    raise AssertionError(f"cannot bind UDP {host}:{port} ({e}); "
                                         "another program holds it") from None
                time.sleep(0.5)
        self.address = self.sock.getsockname()
        self.received = []

    def recv(self, timeout=5):
        self.sock.settimeout(max(0.01, scaled(timeout)))
        try:
            data, addr = self.sock.recvfrom(65536)
        except socket.timeout:
            return None
        self.received.append((data, addr))
        return data, addr

    def next_from(self, sender, timeout=30):
        """The next datagram from sender (host, port); others are skipped:
        on a shared machine other clients may talk to the same port."""
        deadline = time.monotonic() + scaled(timeout)
        while time.monotonic() < deadline:
            got = self.recv(max(0.05, (deadline - time.monotonic()) / TIMEOUT_SCALE))
            if got and (sender is None or got[1] == tuple(sender)):
                return got
        return None

    def expect(self, data, timeout=30, sender=None, accept=None):
        """Waits for a datagram equal to data, from sender when given and
        passing accept(addr) when given; returns (data, addr)."""
        deadline = time.monotonic() + scaled(timeout)
        seen = []
        while time.monotonic() < deadline:
            got = self.next_from(sender, (deadline - time.monotonic()) / TIMEOUT_SCALE)
            if got is None:
                continue
            if got[0] == data and (accept is None or accept(got[1])):
                return got
            seen.append(got)
        raise AssertionError(f"no datagram {data!r} ({len(data)} bytes) on "
                             f"{self.address[0]}:{self.address[1]}"
                             f"{f' from {sender}' if sender else ''}; got {seen!r}")

    def send(self, data, addr):
        """Answers from this socket, as the program it stands in for would."""
        self.sock.sendto(data, addr)

    def drain(self):
        out = []
        while True:
            got = self.recv(0.05)
            if got is None:
                return out
            out.append(got)

    def close(self):
        self.sock.close()


def send_udp(data, port, host="127.0.0.1", source="127.0.0.1", source_port=0):
    """Sends one datagram from source (any 127.x.y.z address works on Linux);
    returns the (address, port) it came from."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind((source, source_port))
        s.sendto(data, (host, port))
        return s.getsockname()


def udp_local_addresses(port):
    """Local IPv4 addresses that UDP sockets on this machine have bound to port."""
    found = []
    with open("/proc/net/udp") as f:
        next(f)
        for line in f:
            hexaddr, hexport = line.split()[1].split(":")
            if int(hexport, 16) == port:
                found.append(socket.inet_ntoa(bytes.fromhex(hexaddr)[::-1]))
    return found


def udp_ports_of(pid):
    """Local UDP (address, port) pairs of sockets that process pid holds."""
    return list(udp_receive_queues(pid))


def udp_receive_queues(pid):
    """{(address, port): bytes waiting to be read} for the UDP sockets that
    process pid holds. The kernel counts each queued datagram at its buffer
    cost (see udp_datagram_cost), not at its payload size."""
    inodes = set()
    try:
        for fd in os.listdir(f"/proc/{pid}/fd"):
            try:
                target = os.readlink(f"/proc/{pid}/fd/{fd}")
            except OSError:
                continue
            if target.startswith("socket:["):
                inodes.add(target[8:-1])
    except OSError:
        return {}
    found = {}
    with open("/proc/net/udp") as f:
        next(f)
        for line in f:
            cols = line.split()
            if cols[9] in inodes:
                hexaddr, hexport = cols[1].split(":")
                addr = socket.inet_ntoa(bytes.fromhex(hexaddr)[::-1])
                found[(addr, int(hexport, 16))] = int(cols[4].split(":")[1], 16)
    return found


def udp_datagram_cost(payload=35):
    """What one small datagram queued on a loopback UDP socket counts for
    in /proc/net/udp on this kernel."""
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as r, \
            socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        r.bind(("127.0.0.1", 0))
        s.sendto(bytes(payload), r.getsockname())
        key = r.getsockname()
        for _ in range(50):
            with open("/proc/net/udp") as f:
                for line in f.readlines()[1:]:
                    cols = line.split()
                    hexaddr, hexport = cols[1].split(":")
                    if int(hexport, 16) == key[1] and int(cols[4].split(":")[1], 16):
                        return int(cols[4].split(":")[1], 16)
            time.sleep(0.01)
    raise AssertionError("a datagram sent to a loopback socket never showed in /proc/net/udp")


def solid_png(path, width, height, rgb):
    """A PNG of one colour (8-bit RGB), written with zlib only."""
    import struct
    import zlib

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    row = b"\x00" + bytes(rgb) * width
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(row * height)) + chunk(b"IEND", b""))
    Path(path).write_bytes(png)
    return Path(path)


class DelayProxy:
    """A TCP relay on 127.0.0.1 in front of `upstream` (host, port) that holds
    back the first answer bytes of every connection for `delay` seconds: a
    slow web host, one request per connection, TLS passed through untouched."""

    def __init__(self, upstream, delay=0.0):
        import threading
        self.upstream, self.delay = upstream, delay
        self.listener = socket.socket()
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self._closed = False
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        import threading
        while not self._closed:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(client,), daemon=True).start()

    def _serve(self, client):
        import select
        try:
            server = socket.create_connection(self.upstream, timeout=10)
        except OSError:
            client.close()
            return
        held = self.delay
        try:
            while True:
                ready, _, _ = select.select([client, server], [], [], 30)
                if not ready:
                    return
                for s in ready:
                    data = s.recv(65536)
                    if not data:
                        return
                    if s is server and held:
                        time.sleep(held)
                        held = 0
                    (server if s is client else client).sendall(data)
        except OSError:
            return
        finally:
            client.close()
            server.close()

    def close(self):
        self._closed = True
        self.listener.close()
