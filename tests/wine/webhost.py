"""The local orva-webhost for the Wine bed and the demo: members added with
the operator command line, the host started in its production form (nginx in
front, `./orva webhost`) on a free loopback port over HTTPS with the
localhost certificate of build/tls, and the records the client posts, built
byte for byte.

    host = webhost.start(workdir / "webhost-data", members=webhost.DEMO_MEMBERS)
    env = {"ORVALIN_WEBHOST": host.address}       # "localhost:PORT"
    ...
    host.stop()
"""

import os
import signal
import ssl
import struct
import subprocess
import urllib.error
import urllib.request
from pathlib import Path

import harness
from wineprefix import BUILD, REPO

BINARY = BUILD / "servers" / "webhost" / "orva-webhost"
ORVA = REPO / "orva"
TLS = REPO / "build" / "tls"
CA = TLS / "ca.pem"

UPLOAD_RECORD_SIZE = 10_000_268

# number, first name, town, phrase, panel colour (red first). Portraits are
# the host's generated ones, each on the member's colour.
DEMO_MEMBERS = [
    (1, "Camille", "Lyon", "Bienvenue sur Orva-Lin !", "1E3A5F"),
    (2, "Léa", "Besançon", "Je passe le bonjour à tout le monde", "5F1E3A"),
    (3, "Mathéo", "Nîmes", "Il fait beau dans le Gard", "2E5F1E"),
    (4, "Chloé", "Rennes", "Une crêpe et au lit", "5F4A1E"),
    (5, "Hugo", "Saint-Étienne", "Allez les Verts !", "1E5F4F"),
    (6, "Inès", "Grenoble", "Qui monte au refuge ce week-end ?", "3A1E5F"),
    (7, "Théo", "Montpellier", "Café de la gare, 18 h", "5F2E1E"),
    (8, "Zoé", "Orléans", "Bonne soirée à tous", "1E1E5F"),
]


def colour_record(red, green, blue, account):
    """The 20-byte colour update: 1, red, green, blue, account."""
    return struct.pack("<5i", 1, red, green, blue, account)


def upload_record(content, name, channel):
    """The 10,000,268-byte upload: the file, its name (bytes, zero-padded to
    256), fileSize, fileNameLength, channel."""
    record = bytearray(UPLOAD_RECORD_SIZE)
    record[:len(content)] = content
    record[10_000_000:10_000_000 + len(name)] = name
    record[10_000_256:] = struct.pack("<iii", len(content), len(name), channel)
    return bytes(record)


def member(data, *args, stdin=None):
    """orva-webhost --data DATA member ARGS... with STDIN as its input (a
    password is never an argument); returns the completed process."""
    return subprocess.run([str(BINARY), "--data", str(data), "member", *map(str, args)],
                          input=stdin, capture_output=True, text=True)


class Host:
    def __init__(self, proc, port, data):
        self.proc, self.port, self.data = proc, port, Path(data)
        self.address = f"localhost:{port}"
        self.tls = ssl.create_default_context(cafile=str(CA))

    def request(self, path, body=None):
        """(status, body) of a GET, or of a POST of a raw record declared the
        way the client declares it."""
        headers = {"Content-Type": "multipart/form-data"} if body is not None else {}
        req = urllib.request.Request(f"https://{self.address}{path}", data=body, headers=headers)
        try:
            with urllib.request.urlopen(req, context=self.tls, timeout=60) as r:
                return r.status, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.read()

    def stop(self):
        """SIGTERM to ./orva webhost, which ends nginx and the host."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def start(data, members=(), log_path=None, passwords=True):
    """Adds the members to the data folder DATA, starts the host behind nginx
    on 127.0.0.1 and returns a Host once the front answers. Raises AssertionError when
    it cannot (not built, no certificate: run ./orva build)."""
    if not BINARY.is_file() or not (TLS / "localhost.pem").is_file():
        raise AssertionError(f"{BINARY} or {TLS} missing: run ./orva build")
    data = Path(data)
    for number, prenom, ville, phrase, colour in members:
        args = ["add", number, "--prenom", prenom, "--ville", ville, "--phrase", phrase,
                "--background", colour, "--email", f"{prenom.lower()}@exemple.fr"]
        stdin = None
        if passwords:
            args.append("--password")
            stdin = f"demo{number}\n"
        r = member(data, *args, stdin=stdin)
        if r.returncode != 0:
            raise AssertionError(f"member add {number}: {r.stderr.strip()}")
    log = open(log_path, "wb") if log_path else subprocess.DEVNULL
    try:
        proc = harness.spawn([str(ORVA), "webhost", "--port", "0", "--data", str(data),
                              "--cert", str(TLS / "localhost.pem"), "--key", str(TLS / "localhost.key"),
                              "--binary", str(BINARY)],
                             env=dict(os.environ), stdout=subprocess.PIPE, stderr=log)
    finally:
        if log_path:
            log.close()
    line = proc.stdout.readline().decode()
    if not line.startswith("listening on 127.0.0.1:"):
        proc.kill()
        proc.wait()
        raise AssertionError(f"./orva webhost did not start (log: {log_path})")
    return Host(proc, int(line.rsplit(":", 1)[1]), data)
