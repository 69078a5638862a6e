#!/usr/bin/env python3
"""CPU that one Orva-Lin client under Wine costs while it mostly waits: the
client process and its wineserver, over a window with nobody talking and
over a window while it listens to a member speaking, both with orva-relay
on loopback. The talker is a scripted member (polls and voice datagrams
from Python), so only one Wine client runs.

Not a test: it prints figures and exits 0. The machine's load average is
printed with each figure, since other work on the machine shows in them.
  ORVA_BUILD=build/native ORVA_DIST=dist/Orva-Lin python3 bench/idle_cpu.py
  python3 bench/idle_cpu.py --dist /tmp/before/Orva-Lin    # another build
"""

import argparse
import array
import math
import os
import socket
import struct
import sys
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "wine"))
import harness  # noqa: E402
import voice_peer as vp  # noqa: E402

RELAY_BIN = harness.BUILD / "servers" / "relay" / "orva-relay"
TICKS = os.sysconf("SC_CLK_TCK")
TALKER_ACCOUNT = 777
CLIENT_ACCOUNT = 778


def ticks(pid, task=None):
    path = f"/proc/{pid}/task/{task}/stat" if task else f"/proc/{pid}/stat"
    with open(path) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def thread_ticks(pid):
    out = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        try:
            out[int(tid)] = ticks(pid, tid)
        except OSError:
            pass
    return out


def wineserver_pid(bed):
    """The wineserver of the bed's prefix: it works in a folder named after
    the prefix's device and inode."""
    st = os.stat(bed.prefix)
    folder = f"server-{st.st_dev:x}-{st.st_ino:x}"
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/comm") as f:
                if not f.read().startswith("wineserver"):
                    continue
            if os.readlink(f"/proc/{pid}/cwd").endswith(folder):
                return int(pid)
        except OSError:
            pass
    return None


def load_average():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def voice_datagram(seq, account, pcm):
    head = struct.pack("<BBBHBB", ord("A"), seq, 2, account, 0, ord("N")) + b"WIN-APP-Radio" + bytes(4)
    return head + pcm


def poll_datagram(account):
    return b"R." + struct.pack("<BH", 0, account) + bytes(4) + b"NWIN.PSEUDO.WIN." + b"\0"


class Talker:
    """A member on channel 0 that polls every 20 ms and, while speaking,
    sends one voice block of a 700 Hz tone every 31.25 ms."""

    def __init__(self, relay_addr):
        self.to = (relay_addr, vp.VOICE_PORT)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind((relay_addr, 0))
        self.sock.setblocking(False)
        self.speaking = False
        self._stop = False
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        start = time.monotonic()
        seq, block, next_poll, next_block = 1, 0, start, start
        while not self._stop:
            now = time.monotonic()
            if now >= next_poll:
                self.sock.sendto(poll_datagram(TALKER_ACCOUNT), self.to)
                next_poll += 0.020
            if self.speaking and now >= next_block:
                self.sock.sendto(voice_datagram(seq, TALKER_ACCOUNT, vp.tone_block(700, block)), self.to)
                seq, block = seq % 255 + 1, block + 1
                next_block += vp.BLOCK_SECONDS
            elif not self.speaking:
                next_block = now
            try:
                while self.sock.recv(2048):
                    pass
            except BlockingIOError:
                pass
            time.sleep(0.002)

    def close(self):
        self._stop = True
        self._thread.join()
        self.sock.close()


def measure(client_pid, server_pid, seconds):
    c0, s0 = ticks(client_pid), ticks(server_pid) if server_pid else 0
    th0, t0, la0 = thread_ticks(client_pid), time.monotonic(), load_average()
    time.sleep(seconds)
    dt = time.monotonic() - t0
    c1, s1 = ticks(client_pid), ticks(server_pid) if server_pid else 0
    th1 = thread_ticks(client_pid)
    per_thread = sorted(((th1[t] - th0.get(t, 0), t) for t in th1), reverse=True)
    return {
        "client": 100 * (c1 - c0) / TICKS / dt, "client_ticks": c1 - c0,
        "server": 100 * (s1 - s0) / TICKS / dt, "server_ticks": s1 - s0,
        "seconds": dt, "load": f"{la0} -> {load_average()}",
        "threads": [(t, n) for n, t in per_thread if n > 0][:8],
    }


def report(name, m):
    print(f"{name}: client {m['client']:.1f}% of a core ({m['client_ticks']} ticks), "
          f"wineserver {m['server']:.1f}% ({m['server_ticks']} ticks) over {m['seconds']:.0f} s; "
          f"load average {m['load']}")
    print("  busiest client threads (tid: ticks): " + ", ".join(f"{t}: {n}" for t, n in m["threads"]))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--seconds", type=float, default=60, help="length of each window (default 60)")
    ap.add_argument("--dist", default=None, help="program folder to run (default ORVA_DIST or dist/Orva-Lin)")
    ap.add_argument("--settle", type=float, default=15, help="seconds after start-up before measuring")
    args = ap.parse_args()
    if not RELAY_BIN.is_file():
        sys.exit(f"{RELAY_BIN} missing: build the native tree first")

    relay_addr = vp.private_loopback()
    with harness.Bed("bench_idle_cpu") as bed:
        with open(bed.root / "relay.log", "wb") as log_f:
            relay = harness.spawn([str(RELAY_BIN), "--bind", relay_addr, "--ctl", str(bed.root / "relay.ctl")],
                                  env=dict(os.environ), stdout=log_f, stderr=log_f)
        talker = None
        try:
            folder = bed.program_folder(dist=args.dist)
            client = bed.launch(folder / harness.CLIENT_EXE, folder, name="Orva-Lin",
                                extra_env={"ORVALIN_RELAY": relay_addr, "ORVALIN_ACCOUNT": str(CLIENT_ACCOUNT)})
            bed.wait_window("ORVA-LIN", timeout=120)
            talker = Talker(relay_addr)
            time.sleep(args.settle)
            server = wineserver_pid(bed)
            print(f"program folder {args.dist or harness.DIST}; client pid {client.pid}, wineserver pid {server}")
            report("idle, nobody talking", measure(client.pid, server, args.seconds))
            talker.speaking = True
            time.sleep(1)
            report("listening to speech", measure(client.pid, server, args.seconds))
            talker.speaking = False
        finally:
            if talker:
                talker.close()
            harness.stop_child(relay)


if __name__ == "__main__":
    main()
