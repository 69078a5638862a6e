#!/usr/bin/env python3
"""Longest stall of Orva-Lin's message loop while the group list fills its
160 cells (16 members on each of channels 1 to 10) from orva-webhost, with a
web host that answers at once and one that takes 200 ms per picture (a
delaying TCP relay in front of it), before and after the picture worker and
its cache.

"Before" is the test build (ORVA_TEST_HOOKS) with ORVA_TEST_PICTURES_ON_UI=1:
every picture is fetched, uncached, by the thread that draws it, one request
after another. "After" is the same build without that switch. The stall is
measured from outside by tests/wine/tools/uiprobe.c (a WM_NULL every 5 ms,
the longest wait for its answer) for --probe seconds after the click; the
idle figure is the same probe before the window opens, i.e. what the
machine's own scheduling adds. The last column checks that all 160 faces
were drawn in the end.

Not a test: it prints figures and exits 0. Run it after building:
  ORVA_BUILD=build/native ORVA_DIST=dist/Orva-Lin python3 bench/group_list_stall.py
"""

import argparse
import os
import shutil
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "wine"))
import harness  # noqa: E402
import test_panel  # noqa: E402  (the test build of the client)
import voice_peer as vp  # noqa: E402
import webhost as wh  # noqa: E402

RELAY_BIN = harness.BUILD / "servers" / "relay" / "orva-relay"
TITLE = "ORVA-LIN"
GROUP_TITLE = "Orva-Lin Group List"
CHANNEL_FRAME = (100, 130)
FACE = (150, 60, 20)
MEMBERS = {1000 + 16 * (ch - 1) + i: ch for ch in range(1, 11) for i in range(16)}


def client_origin(bed, win, background=(0, 0, 255)):
    """Where the client area starts, past the frame and caption Wine draws;
    None while the window is not painted (a message loop busy fetching)."""
    x, y, w, h = bed.geometry(win)
    img = bed.screen()
    left = next((dx for dx in range(12) if harness.near(img.pixel(x + dx, y + h - 6), background, 10)), None)
    if left is None:
        return None
    top = next((dy for dy in range(60) if harness.near(img.pixel(x + left + 2, y + dy), background, 10)), None)
    return None if top is None else (x + left, y + top)


def faces(img, origin):
    x0, y0 = origin
    return sum(harness.near(img.pixel(x0 + 20 + 38 * k + 16, y0 + 51 * row - 41 + 20), FACE)
               for row in range(1, 11) for k in range(16))


def run(bed, folder, relay_addr, proxy, delay, before, probe_seconds):
    proxy.delay = delay
    env = {"ORVALIN_RELAY": relay_addr, "ORVALIN_ACCOUNT": "1", "ORVALIN_WEBHOST": f"localhost:{proxy.port}"}
    if before:
        env["ORVA_TEST_PICTURES_ON_UI"] = "1"
    client = bed.launch(folder / harness.CLIENT_EXE, folder, name="Orva-Lin", extra_env=env)
    try:
        wid = bed.wait_window(TITLE, timeout=90)
        time.sleep(25)   # every channel's list reply has come round
        idle = bed.longest_stall(TITLE, 5)
        bed.click(wid, *CHANNEL_FRAME)
        win = bed.wait_window(GROUP_TITLE, timeout=120)
        loading = bed.longest_stall(TITLE, probe_seconds)
        # Above the panel, which it unfolds over, to count its faces.
        harness.poll(lambda: bed.geometry(win)[2] == 666, 120, what="the grown group list")
        bed.click(win, 60, 6)
        time.sleep(1)
        origin = harness.poll(lambda: client_origin(bed, win), 120, interval=1.0, what="the painted group list")
        try:
            harness.poll(lambda: faces(bed.screen(), origin) == 160, 120, interval=1.0, what="160 faces")
            filled = True
        except AssertionError:
            filled = False
        return idle, loading, filled
    finally:
        client.stop()
        time.sleep(2)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--probe", type=float, default=40.0, help="seconds probed after the click")
    args = ap.parse_args()
    exe = test_panel.test_hooks_exe()
    with harness.Bed("bench_group_list", audio=False) as bed:
        folder = bed.program_folder()
        shutil.copy2(exe, folder / harness.CLIENT_EXE)
        relay_addr = vp.private_loopback()
        with open(bed.root / "relay.log", "wb") as log_f:
            relay = harness.spawn([str(RELAY_BIN), "--bind", relay_addr, "--ctl", str(bed.root / "relay.ctl")],
                                  env=dict(os.environ), stdout=log_f, stderr=log_f)
        face = harness.solid_png(bed.root / "face.png", 66, 83, FACE)
        data = bed.root / "webhost-data"
        for m in [1, *MEMBERS]:
            wh.member(data, "add", m, "--prenom", f"M{m}", "--ville", "Lyon", "--phrase", "Bonjour", "--picture", face)
        host = wh.start(data, (), bed.root / "webhost.log")
        proxy = harness.DelayProxy(("127.0.0.1", host.port))
        members = vp.Members(relay_addr, MEMBERS)
        rows = []
        try:
            for before in (True, False):
                for delay in (0.0, 0.2):
                    idle, loading, filled = run(bed, folder, relay_addr, proxy, delay, before, args.probe)
                    rows.append((before, delay, idle, loading, filled))
                    harness.log(f"{'before' if before else 'after '} {delay * 1000:.0f} ms: "
                                f"idle {idle:.0f} ms, loading {loading:.0f} ms, filled {filled}")
        finally:
            members.close()
            proxy.close()
            host.stop()
            harness.stop_child(relay)
    print("\nLongest message-loop stall while the group list fills 160 cells")
    print(f"{'':8}{'host delay':>12}{'idle':>10}{'loading':>12}{'160 faces shown':>18}")
    for before, delay, idle, loading, filled in rows:
        print(f"{'before' if before else 'after':8}{delay * 1000:>9.0f} ms{idle:>7.0f} ms{loading:>9.0f} ms"
              f"{'yes' if filled else 'no':>18}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
