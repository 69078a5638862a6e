"""./orva demo: the local relay and web host (when built) and Orva-Lin.exe under Wine.

On a desktop ($DISPLAY reachable) the client opens there with the desktop's
sound and runs until it is closed or Ctrl-C is pressed. Without a display it
runs on a private virtual screen with a null sound sink, and after a few
seconds a screenshot is saved (out/demo.png by default) and everything ends.
"""

import argparse
import os
import ssl
import struct
import urllib.request
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import harness  # noqa: E402

RELAY = harness.BUILD / "servers" / "relay" / "orva-relay"
WEBHOST = harness.BUILD / "servers" / "webhost" / "orva-webhost"
TLS = harness.REPO / "build" / "tls"
DEMO_ACCOUNT = 1

# Demo members: number, first name, town, phrase, panel colour (red first).
# Their portraits are the host's generated ones, each on the member's colour.
MEMBERS = [
    (1, "Camille", "Lyon", "Bienvenue sur Orva-Lin !", "1E3A5F"),
    (2, "Léa", "Besançon", "Je passe le bonjour à tout le monde", "5F1E3A"),
    (3, "Mathéo", "Nîmes", "Il fait beau dans le Gard", "2E5F1E"),
    (4, "Chloé", "Rennes", "Une crêpe et au lit", "5F4A1E"),
    (5, "Hugo", "Saint-Étienne", "Allez les Verts !", "1E5F4F"),
    (6, "Inès", "Grenoble", "Qui monte au refuge ce week-end ?", "3A1E5F"),
    (7, "Théo", "Montpellier", "Café de la gare, 18 h", "5F2E1E"),
    (8, "Zoé", "Orléans", "Bonne soirée à tous", "1E1E5F"),
]
TITLE = "ORVA-LIN"


def display_reachable(display):
    if not display:
        return False
    try:
        r = subprocess.run(["xdotool", "getdisplaygeometry"], env=dict(os.environ, DISPLAY=display),
                           capture_output=True, timeout=10)
    except (OSError, subprocess.TimeoutExpired):
        return False
    return r.returncode == 0


def start_relay(workdir, log_path):
    """The relay on 127.0.0.1, or None when it has not been built."""
    if not RELAY.is_file():
        print(f"relay: {RELAY} not built; the client runs without a relay")
        return None
    log_path.parent.mkdir(parents=True, exist_ok=True)
    with open(log_path, "wb") as log_f:
        relay = harness.spawn([str(RELAY), "--bind", "127.0.0.1", "--ctl", str(workdir / "relay.ctl")],
                               env=dict(os.environ), stdout=log_f, stderr=log_f)
    time.sleep(0.5)
    if relay.poll() is not None:
        print(f"relay: ended at once (code {relay.returncode}); see {log_path}")
        return None
    print(f"relay: running on 127.0.0.1 (pid {relay.pid}, log {log_path})")
    return relay


def upload_record(content, name, channel):
    """The client's upload record: the file, its name, its size, the name's
    length and the channel, 10,000,268 bytes in all."""
    record = bytearray(10_000_268)
    record[:len(content)] = content
    record[10_000_000:10_000_000 + len(name)] = name
    record[10_000_256:] = struct.pack("<iii", len(content), len(name), channel)
    return bytes(record)


def start_webhost(workdir, log_path):
    """The web host on 127.0.0.1 with the demo members, or (None, None) when
    it has not been built; returns the process and its "localhost:PORT"."""
    if not WEBHOST.is_file() or not (TLS / "localhost.pem").is_file():
        print(f"web host: {WEBHOST} or {TLS} missing; the client runs without a web host")
        return None, None
    data = workdir / "webhost-data"
    for number, prenom, ville, phrase, colour in MEMBERS:
        subprocess.run([str(WEBHOST), "--data", str(data), "member", "add", str(number), "--prenom", prenom,
                        "--ville", ville, "--phrase", phrase, "--background", colour,
                        "--email", f"{prenom.lower()}@exemple.fr", "--password", f"demo{number}"],
                       check=True, stdout=subprocess.DEVNULL)
    if (harness.DIST / "Orva-Lin.exe").is_file():
        shutil.make_archive(str(data / "Orva-Lin"), "zip", harness.DIST.parent, harness.DIST.name)
    log_path.parent.mkdir(parents=True, exist_ok=True)
    with open(log_path, "wb") as log_f:
        host = harness.spawn([str(WEBHOST), "--data", str(data), "--bind", "127.0.0.1", "--port", "0",
                              "--cert", str(TLS / "localhost.pem"), "--key", str(TLS / "localhost.key")],
                             env=dict(os.environ), stdout=subprocess.PIPE, stderr=log_f)
    line = host.stdout.readline().decode()
    if not line.startswith("listening on"):
        print(f"web host: did not start; see {log_path}")
        harness.stop_child(host)
        return None, None
    address = "localhost:" + line.rsplit(":", 1)[1].strip()
    # A picture on the board of channel 1, sent the way the client sends one.
    panel = harness.REPO / "docs" / "panel.png"
    if panel.is_file():
        tls = ssl.create_default_context(cafile=str(TLS / "ca.pem"))
        request = urllib.request.Request(f"https://{address}/echange/pc_img_share_post.php",
                                         data=upload_record(panel.read_bytes(), b"panel.png", 1),
                                         headers={"Content-Type": "multipart/form-data"})
        urllib.request.urlopen(request, context=tls).read()
    print(f"web host: https://{address}/ (pid {host.pid}, log {log_path}); "
          f"members 1..{len(MEMBERS)}, member page password demoN; the client is member {DEMO_ACCOUNT}")
    return host, address


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--seconds", type=float, default=6,
                        help="wait before the screenshot when there is no display (default 6)")
    parser.add_argument("--screenshot", default=str(harness.REPO / "out" / "demo.png"),
                        help="where the screenshot goes (default out/demo.png)")
    parser.add_argument("--headless", action="store_true",
                        help="use a private virtual display even when $DISPLAY is set")
    args = parser.parse_args()

    display = os.environ.get("DISPLAY")
    desktop = not args.headless and display_reachable(display)
    if display and not desktop and not args.headless:
        print(f"display {display} not reachable: using a private virtual display")

    workdir = Path(tempfile.mkdtemp(prefix="orva-demo-"))
    relay = None
    webhost = None
    bed = harness.Bed("demo", audio="host" if desktop else True,
                      display=display if desktop else None)
    try:
        with bed:
            relay = start_relay(workdir, harness.REPO / "out" / "demo-relay.log")
            webhost, webhost_address = start_webhost(workdir, harness.REPO / "out" / "demo-webhost.log")
            client_env = {"ORVALIN_ACCOUNT": str(DEMO_ACCOUNT)}
            if webhost_address:
                client_env["ORVALIN_WEBHOST"] = webhost_address
            if desktop:
                bed.set_managed(True)      # the desktop's window manager takes it
            folder = bed.program_folder()
            client = bed.start_client(folder, extra_env=client_env)
            print(f"client: started under Wine on {bed.display}")
            wid = bed.wait_window(TITLE, timeout=120)
            if desktop:
                print("client: running; close its window (Escape or the cross) or press Ctrl-C")
                while client.alive():
                    time.sleep(0.5)
                print(f"client: ended with code {client.popen.returncode}")
            else:
                time.sleep(harness.scaled(args.seconds))
                shot = Path(args.screenshot).resolve()
                bed.screenshot(shot)
                x, y, w, h = bed.geometry(wid)
                print(f"screenshot: {shot} (client window {w}x{h} at {x},{y})")
    except KeyboardInterrupt:
        print("\ninterrupted: ending the demo")
    except AssertionError as e:
        print(f"demo failed: {e}", file=sys.stderr)
        return 1
    finally:
        harness.stop_child(relay)
        harness.stop_child(webhost)
        shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
