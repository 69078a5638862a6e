#!/usr/bin/python3
"""The web host in its production form, checked from outside as a stranger
would: `./orva webhost` (nginx in front of orva-webhost) on loopback, the
hostile traffic from a second address, 127.0.0.2.

    front_test.py WEBHOST_BIN TLS_DIR [SECONDS]

SECONDS is how long the slow-connection siege lasts (default 10).
"""
import os
import shutil
import signal
import socket
import ssl
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request
import zlib
from pathlib import Path

BIN, TLS = sys.argv[1], Path(sys.argv[2])
SIEGE = float(sys.argv[3]) if len(sys.argv) > 3 else 10.0
ORVA = Path(__file__).resolve().parents[2] / "orva"
STRANGER = "127.0.0.2"
UPLOAD_RECORD_SIZE = 10_000_268
failures = []


def check(condition, what):
    print(("ok: " if condition else "FAIL: ") + what, flush=True)
    if not condition:
        failures.append(what)


class Stack:
    def __init__(self, data, new_session=False):
        self.proc = subprocess.Popen([str(ORVA), "webhost", "--port", "0", "--data", data,
                                      "--cert", str(TLS / "localhost.pem"), "--key", str(TLS / "localhost.key"),
                                      "--binary", BIN], stdout=subprocess.PIPE, text=True,
                                     start_new_session=new_session)
        line = self.proc.stdout.readline()
        if not line.startswith("listening on 127.0.0.1:"):
            raise SystemExit("FAIL: ./orva webhost did not start")
        self.port = int(line.rsplit(":", 1)[1])
        self.tls = ssl.create_default_context(cafile=str(TLS / "ca.pem"))

    def request(self, path, body=None, headers=None, source="127.0.0.1", timeout=30):
        """(status, headers, body) over a new TLS connection from SOURCE."""
        raw = socket.create_connection(("127.0.0.1", self.port), timeout, (source, 0))
        s = self.tls.wrap_socket(raw, server_hostname="localhost")
        head = f"{'POST' if body is not None else 'GET'} {path} HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n"
        for k, v in (headers or {}).items():
            head += f"{k}: {v}\r\n"
        if body is not None:
            head += f"Content-Type: multipart/form-data\r\nContent-Length: {len(body)}\r\n"
        s.sendall(head.encode() + b"\r\n" + (body or b""))
        reply = b""
        while chunk := s.recv(65536):
            reply += chunk
        s.close()
        head, _, content = reply.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        fields = [tuple(x.strip() for x in line.split(":", 1)) for line in lines[1:]]
        return int(lines[0].split()[1]), fields, content

    def pids(self):
        """The processes of this stack: its own and its descendants'."""
        children = {}
        for stat in Path("/proc").glob("[0-9]*/stat"):
            try:
                fields = stat.read_text().rsplit(")", 1)[1].split()
            except OSError:
                continue
            children.setdefault(int(fields[1]), []).append(int(stat.parent.name))
        found, todo = [], [self.proc.pid]
        while todo:
            pid = todo.pop()
            found.append(pid)
            todo += children.get(pid, [])
        return found


def alive(pid):
    try:
        state = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0]
        return state != "Z"
    except OSError:
        return False


def rss_kib(pids):
    total = 0
    for pid in pids:
        try:
            for line in Path(f"/proc/{pid}/status").read_text().splitlines():
                if line.startswith("VmRSS:"):
                    total += int(line.split()[1])
        except OSError:
            pass
    return total


def png(width, height, extra=b"", idat=None):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    ihdr = chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0))
    return b"\x89PNG\r\n\x1a\n" + ihdr + extra + (chunk(b"IDAT", idat) if idat is not None else b"") + chunk(b"IEND", b"")


def picture(fmt, width=48, height=32):
    return subprocess.run(["convert", "-size", f"{width}x{height}", "gradient:red-blue", f"{fmt}:-"],
                          check=True, capture_output=True).stdout


def with_size(jpeg, width, height):
    """The JPEG with its frame header claiming WIDTH x HEIGHT."""
    at = jpeg.index(b"\xff\xc0")
    return jpeg[:at + 5] + struct.pack(">HH", height, width) + jpeg[at + 9:]


def upload(content, name=b"x.png", channel=4):
    record = bytearray(UPLOAD_RECORD_SIZE)
    record[:len(content)] = content
    record[10_000_000:10_000_000 + len(name)] = name
    record[10_000_256:] = struct.pack("<iii", len(content), len(name), channel)
    return bytes(record)


def siege(stack):
    """400 slow TLS connections and 100 idle TCP ones from the stranger's
    address while the member fetches from 127.0.0.1."""
    stop = threading.Event()
    held = [0]
    lock = threading.Lock()

    def slow():
        while not stop.is_set():
            try:
                raw = socket.create_connection(("127.0.0.1", stack.port), 10, (STRANGER, 0))
                s = stack.tls.wrap_socket(raw, server_hostname="localhost")
                s.sendall(b"GET /users/1/client.xml HTTP/1.1\r\nHost: local")
            except OSError:
                time.sleep(0.2)
                continue
            with lock:
                held[0] += 1
            try:
                while not stop.wait(3):
                    s.sendall(b"X-Slow: 1\r\n")
            except OSError:
                pass
            with lock:
                held[0] -= 1

    def idle():
        while not stop.is_set():
            try:
                s = socket.create_connection(("127.0.0.1", stack.port), 10, (STRANGER, 0))
                while not stop.is_set() and s.recv(1):
                    pass
            except OSError:
                pass
            stop.wait(0.2)

    threads = [threading.Thread(target=slow, daemon=True) for _ in range(400)]
    threads += [threading.Thread(target=idle, daemon=True) for _ in range(100)]
    for t in threads:
        t.start()
    time.sleep(3)   # the siege in place
    worst, answered, most, end = 0.0, 0, 0, time.monotonic() + SIEGE
    while time.monotonic() < end:
        most = max(most, held[0])
        start = time.monotonic()
        try:
            status = stack.request("/users/1/client.xml", timeout=5)[0]
        except OSError:
            status = 0
        worst = max(worst, time.monotonic() - start)
        answered += status == 200
        time.sleep(0.2)
    stop.set()
    # nginx drops each slow one after 10 s; the stranger comes straight back.
    check(most >= 390 and answered > 0 and worst < 2.0,
          f"under 400 slow TLS (up to {most} held at once) + 100 idle connections from {STRANGER}: "
          f"{answered} ordinary requests, slowest {worst:.2f} s (< 2 s) over {SIEGE:.0f} s")


def main():
    data = tempfile.mkdtemp(prefix="webhost-front-")
    r = subprocess.run([BIN, "--data", data, "member", "add", "1", "--prenom", "Zoé", "--ville", "Lyon",
                        "--phrase", "Bonjour"], capture_output=True)
    if r.returncode:
        raise SystemExit("FAIL: member add: " + r.stderr.decode())
    stack = Stack(data)
    try:
        # Ranges: one, or the whole body; never a multiple of it.
        whole = stack.request("/users/1/images.php?N=2")[2]
        overlapping = "bytes=" + ",".join(["0-"] * 2000)
        for what, header, most in (("2,000 overlapping ranges", overlapping, 2 * len(whole)),
                                   ("one range", "bytes=0-99", 100)):
            status, _, body = stack.request("/users/1/images.php?N=2", headers={"Range": header})
            check(status in (200, 206) and 0 < len(body) <= most,
                  f"{what}: {status}, {len(body)} bytes for a {len(whole)}-byte picture (at most {most})")

        # Headers: once each, on the member pages and on what the client fetches.
        for path in ("/membre", "/users/1/client.xml"):
            _, fields, _ = stack.request(path)
            names = [k.lower() for k, _ in fields]
            csp = dict((k.lower(), v) for k, v in fields).get("content-security-policy", "")
            check(all(names.count(h) == 1 for h in ("strict-transport-security", "x-content-type-options",
                                                    "content-security-policy")) and
                  all(d in csp for d in ("frame-ancestors 'none'", "form-action 'self'", "base-uri 'none'")),
                  f"{path}: HSTS, nosniff and the CSP once each ({csp})")

        # TLS: what an eavesdropper could exploit is refused.
        for what, args, accepted in (
                ("TLS 1.0", ["-tls1", "-cipher", "DEFAULT:@SECLEVEL=0"], False),
                ("TLS 1.1", ["-tls1_1", "-cipher", "DEFAULT:@SECLEVEL=0"], False),
                ("static RSA, AEAD", ["-tls1_2", "-cipher", "AES128-GCM-SHA256"], False),
                ("ECDHE, CBC", ["-tls1_2", "-cipher", "ECDHE-RSA-AES128-SHA:ECDHE-RSA-AES256-SHA384"], False),
                ("TLS 1.2 ECDHE + GCM", ["-tls1_2", "-cipher", "ECDHE-RSA-AES128-GCM-SHA256"], True),
                ("TLS 1.3", ["-tls1_3"], True)):
            r = subprocess.run(["openssl", "s_client", "-connect", f"127.0.0.1:{stack.port}",
                                "-servername", "localhost", *args], input=b"", capture_output=True, timeout=20)
            done = b"Cipher is (NONE)" not in r.stdout and r.returncode == 0
            check(done == accepted, f"{what}: {'accepted' if done else 'refused'}")

        # Limits the front puts on a stranger's address.
        for what, path, body, count, expect in (
                ("sign-in bursts", "/membre/connexion", b"numero=1&motdepasse=x", 12, 429),
                ("a sign-in body over 4 KiB", "/membre/connexion", b"x" * 8192, 1, 413),
                ("a colour post over 1 KiB", "/users/1/params.php", b"x" * 2048, 1, 413)):
            statuses = [stack.request(path, body, source=STRANGER)[0] for _ in range(count)]
            check(expect in statuses, f"{what} from {STRANGER}: {sorted(set(statuses))} (expect {expect})")

        # Hostile pictures, twelve at once: each refused, the host stays small.
        jpeg, gif, bmp = picture("jpg"), picture("gif"), picture("bmp3")
        small = png(4, 4, idat=zlib.compress(b"\0" * 20))
        hostile = {
            "PNG declaring a 2 GiB chunk": png(4, 4, struct.pack(">I", 0x7FFFFF00) + b"iCCP" + b"\0" * 120),
            "PNG bomb, 12000 x 12000": png(12000, 12000, idat=zlib.compress(b"\0" * 12001 * 12000, 9)),
            "PNG cut short": small[:-30],
            "PNG 100000 x 100000": png(100000, 100000),
            "PNG 0 x 4": png(0, 4),
            "JPEG cut short": jpeg[:len(jpeg) // 2],
            "JPEG 65000 x 65000": with_size(jpeg, 65000, 65000),
            "GIF cut short": gif[:len(gif) // 2],
            "GIF 65535 x 65535": gif[:6] + struct.pack("<HH", 65535, 65535) + gif[10:],
            "BMP cut short": bmp[:len(bmp) // 2],
            "BMP 60000 x 60000": bmp[:18] + struct.pack("<ii", 60000, 60000) + bmp[26:],
            "not a picture": b"<svg xmlns='http://www.w3.org/2000/svg'/>",
        }
        results, peak = {}, [0]

        def send(name, content):
            # The host takes four uploads at a time and asks the rest to come
            # back (503, Retry-After): they do, until the picture is judged.
            for _ in range(20):
                results[name] = stack.request("/echange/pc_img_share_post.php", upload(content), timeout=60)[0]
                if results[name] != 503:
                    break
                time.sleep(0.5)

        senders = [threading.Thread(target=send, args=item) for item in hostile.items()]
        for t in senders:
            t.start()
        while any(t.is_alive() for t in senders):
            peak[0] = max(peak[0], rss_kib(stack.pids()[1:]))
            time.sleep(0.02)
        for name, status in results.items():
            check(400 <= status < 500, f"{name}: {status}")
        check(stack.request("/echange/pc_img_share_get.php?F=4&N=1")[0] == 404, "no hostile picture stored")
        check(0 < peak[0] < 512 * 1024, f"nginx + host + decoders under 512 MiB: peak {peak[0] // 1024} MiB")
        for name, content in (("a good PNG", picture("png")), ("a good JPEG", jpeg), ("a good GIF", gif),
                              ("a good BMP", bmp)):
            check(stack.request("/echange/pc_img_share_post.php", upload(content))[0] == 200, f"{name}: stored")

        siege(stack)
    finally:
        stack.proc.send_signal(signal.SIGTERM)
        stack.proc.wait(20)

    # Ending: SIGKILL to the process group or to ./orva webhost alone, or
    # SIGTERM, leaves no process and no listener; the folders of the killed
    # ones go at the next start.
    runs = []
    for what, end in (("SIGKILL of the process group", lambda s: os.killpg(s.proc.pid, signal.SIGKILL)),
                      ("SIGKILL of ./orva webhost alone", lambda s: s.proc.kill()),
                      ("SIGTERM", lambda s: s.proc.send_signal(signal.SIGTERM))):
        stack = Stack(data, new_session=True)
        stack.request("/users/1/client.xml")
        pids = stack.pids()
        for pid in pids:
            argv = Path(f"/proc/{pid}/cmdline").read_bytes().replace(b"\0", b" ").split()
            if b"master" in argv and b"-p" in argv:
                runs.append(Path(argv[argv.index(b"-p") + 1].decode()))
        end(stack)
        stack.proc.wait(20)
        deadline = time.monotonic() + 10
        while any(alive(p) for p in pids) and time.monotonic() < deadline:
            time.sleep(0.1)
        with socket.socket() as s:
            refused = s.connect_ex(("127.0.0.1", stack.port)) != 0
        check(len(pids) >= 4 and not any(alive(p) for p in pids) and refused,
              f"{what}: all {len(pids)} processes ended, port closed")
    check(len(runs) == 3 and not any(r.exists() for r in runs), f"no run folder left ({[str(r) for r in runs if r.exists()]})")

    shutil.rmtree(data, ignore_errors=True)
    if failures:
        raise SystemExit(f"{len(failures)} failed: " + "; ".join(failures))


if __name__ == "__main__":
    main()
